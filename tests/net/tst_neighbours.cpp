#include "model/statusWatch.h"
#include "net/neighbours.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

// The MAC of a namespace's veth end, from `ip -o link`, in the detected form.
QString VethMac(const TTestNamespace& ns, QString* device = nullptr)
{
    QString links;
    ns.Exec({"ip", "-o", "link", "show", "type", "veth"}, &links);
    if (device)
        *device = links.section(QLatin1Char(':'), 1, 1).trimmed().section(QLatin1Char('@'), 0, 0);
    const auto match = QRegularExpression(QStringLiteral("link/ether ([0-9a-f:]{17})")).match(links);
    return match.captured(1).replace(QLatin1Char(':'), QLatin1Char('-'));
}

} // namespace

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
    }

    // A Linux peer without NetBIOS is found through the neighbour table; when another machine takes its
    // address over (a DHCP change), the table names the newcomer and the identity hint tells it apart.
    void peerAndTakeover()
    {
        const QString ip = QStringLiteral("10.22.5.7");
        TTestNamespace first(QStringLiteral("nbr1")), second(QStringLiteral("nbr2"));
        QString error, device;
        QVERIFY2(ConnectVeth(nullptr, "10.22.0.1/16", &first, ip + "/16", &error), qPrintable(error));
        const QString firstMac = VethMac(first, &device);
        QCOMPARE(firstMac.size(), 17);
        QVERIFY(NeighbourMac(ip).isEmpty()); // nothing sent yet, nothing known
        QCOMPARE(ProbeNeighbourMac(ip), firstMac);

        QCOMPARE(first.Exec({"ip", "link", "del", "dev", device}), 0);
        QVERIFY2(ConnectVeth(nullptr, "10.22.0.1/16", &second, ip + "/16", &error), qPrintable(error));
        const QString secondMac = ProbeNeighbourMac(ip);
        QCOMPARE(secondMac, VethMac(second));
        QVERIFY(secondMac != firstMac);
        QCOMPARE(IdentityHint({firstMac.toUpper()}, secondMac),
                 QStringLiteral("Answers from a different MAC address (%1) than the stored one")
                     .arg(secondMac.toUpper()));

        // No guesses: off-link gets nothing at once, a silent address on the LAN nothing after the wait.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ProbeNeighbourMac(QStringLiteral("192.0.2.1"), 500), QString());
        QVERIFY(clock.elapsed() < 200);
        QCOMPARE(ProbeNeighbourMac(QStringLiteral("10.22.9.9"), 500), QString());
        QVERIFY(clock.elapsed() < 3000);
    }
};

QTEST_GUILESS_MAIN(TestNeighbours)
#include "tst_neighbours.moc"
