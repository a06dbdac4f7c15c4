#include "model/statusWatch.h"
#include "net/neighbours.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

class TestNeighbours : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString reason;
        if (!TTestNamespace::Available(&reason))
            QSKIP(qPrintable(reason));
        QVERIFY2(IsolateNetwork(&reason), qPrintable(reason));
        FPeer = std::make_unique<TTestNamespace>(QStringLiteral("nbr"));
        QVERIFY(FPeer->Ok());
        QString error;
        QVERIFY2(ConnectVeth(nullptr, QStringLiteral("10.20.0.1/16"), FPeer.get(),
                             QStringLiteral("10.20.5.7/16"), &error),
                 qPrintable(error));
    }

    // A Linux peer that speaks no NetBIOS: its hardware address comes from the neighbour table, in the
    // form NetBIOS detection gives.
    void peerFoundThroughNeighbourTable()
    {
        QString links;
        QCOMPARE(FPeer->Exec({"ip", "-o", "link", "show", "type", "veth"}, &links), 0);
        const auto match = QRegularExpression(QStringLiteral("link/ether ([0-9a-f:]{17})")).match(links);
        QVERIFY2(match.hasMatch(), qPrintable(links));
        const QString expected = match.captured(1).replace(QLatin1Char(':'), QLatin1Char('-'));

        QVERIFY(NeighbourMac(QStringLiteral("10.20.5.7")).isEmpty()); // nothing sent yet, nothing known
        QCOMPARE(ProbeNeighbourMac(QStringLiteral("10.20.5.7")), expected);
        QCOMPARE(NeighbourMac(QStringLiteral("10.20.5.7")), expected);
    }

    // Another machine takes the address over (a DHCP change): the table then names the newcomer, and the
    // identity hint tells it from the stored adapter.
    void addressTakenOver()
    {
        const QString first = NeighbourMac(QStringLiteral("10.20.5.7"));
        QVERIFY(!first.isEmpty());
        QCOMPARE(FPeer->Exec({"ip", "link", "del", "dev", PeerDevice()}), 0);
        TTestNamespace other(QStringLiteral("nbr2"));
        QVERIFY(other.Ok());
        QString error;
        QVERIFY2(ConnectVeth(nullptr, QStringLiteral("10.20.0.1/16"), &other, QStringLiteral("10.20.5.7/16"),
                             &error),
                 qPrintable(error));
        const QString second = ProbeNeighbourMac(QStringLiteral("10.20.5.7"));
        QVERIFY(!second.isEmpty());
        QVERIFY(second != first);
        QCOMPARE(IdentityHint({first.toUpper()}, second),
                 QStringLiteral("Answers from a different MAC address (%1) than the stored one")
                     .arg(second.toUpper()));
        QCOMPARE(IdentityHint({first.toUpper()}, first), QString());
    }

    void noGuess_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("off-link") << "192.0.2.1" << 200;
        QTest::newRow("loopback") << "127.0.0.1" << 200;
        QTest::newRow("host name") << "peer" << 200;
        QTest::newRow("silent address on the LAN") << "10.20.9.9" << 3000;
    }
    void noGuess()
    {
        QFETCH(QString, ip);
        QFETCH(int, maxMs);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ProbeNeighbourMac(ip, 500), QString());
        QVERIFY2(clock.elapsed() < maxMs, qPrintable(QString::number(clock.elapsed())));
    }

    void cleanupTestCase() { FPeer.reset(); }

private:
    QString PeerDevice() const
    {
        QString links;
        FPeer->Exec({"ip", "-o", "link", "show", "type", "veth"}, &links);
        return links.section(QLatin1Char(':'), 1, 1).trimmed().section(QLatin1Char('@'), 0, 0);
    }

    std::unique_ptr<TTestNamespace> FPeer;
};

QTEST_GUILESS_MAIN(TestNeighbours)
#include "tst_neighbours.moc"
