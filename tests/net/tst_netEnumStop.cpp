#include "net/smbClient.h"
#include "net/threadNetEnum.h"
#include "support/netns.h"
#include "support/sambaBrowseTree.h"
#include "support/sambaPeer.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QScopeGuard>
#include <QtTest>

// Stopping a neighbourhood walk while it waits for the network. A process of its own: the client
// library keeps what it learnt about names for the whole process.
//   own namespace 10.232.6.1/24 -- slow namespace 10.232.6.2/24: smbd with a browse list written by the
//   test, and the test's own name server, which answers every question late (nmbd cannot be told to).
class TestNetEnumStop : public QObject
{
    Q_OBJECT

private slots:
    void stopWhileWaitingAddsNothing();
};

void TestNetEnumStop::stopWhileWaitingAddsNothing()
{
    QString reason;
    if (!TTestNamespace::Available(&reason) || !TSambaPeer::Available(&reason))
        QSKIP(qPrintable(reason));
    TTestNamespace client(QStringLiteral("stopc"));
    TNamespaceEntry entry(client);
    if (!client.Ok() || !entry.Ok())
        QSKIP("cannot enter a network namespace of the test's own");
    TTestNamespace slow(QStringLiteral("enums"));
    QString error;
    QVERIFY2(ConnectVeth(nullptr, "10.232.6.1/24", &slow, "10.232.6.2/24", &error), qPrintable(error));
    TSambaPeer::TOptions options;
    options.NetbiosName = QStringLiteral("SLOWPEER");
    options.Workgroup = QStringLiteral("SLOWWG");
    options.Address = QStringLiteral("10.232.6.2/24");
    options.ServerString = QStringLiteral("slow peer");
    options.Nmbd = false;
    options.Smbd = true;
    TSambaPeer peer(slow, options);
    // smbd serves its browse list from this file, which nmbd would otherwise write.
    QDir().mkpath(peer.Directory() + "/cache");
    QFile list(peer.Directory() + "/cache/browse.dat");
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("\"SLOWWG\" c0001000 \"SLOWPEER\" \"SLOWWG\"\n"
               "\"SLOWPEER\" 40819a03 \"slow peer\" \"SLOWWG\"\n");
    list.close();
    QVERIFY2(peer.Start(&error), qPrintable(error));

    TNbnsResponder responder(slow);
    const QByteArray peerName = QByteArray("SLOWPEER") + QByteArray(8, ' ');
    responder.SetNameAnswer([](const QByteArray&, quint32) { return 0x0AE80602u; }); // 10.232.6.2
    responder.SetStatusAnswer([peerName](quint16 id, const QByteArray& name16) {
        QByteArray wg = QByteArray("SLOWWG") + QByteArray(9, ' ');
        return TNbnsResponder::NodeStatusReply(
            id, name16, {peerName, QByteArray("SLOWPEER") + QByteArray(7, ' ') + '\0', wg + '\x1d'},
            QByteArray("\x02\x32\x00\x00\x00\x06", 6));
    });
    responder.SetDelayMs(1500);
    QVERIFY2(responder.Start(&error), qPrintable(error));

    const QString conf = TSambaPeer::WriteClientConfiguration(peer.Directory(), "SLOWWG", "10.232.6.1/24");
    TSmbClient::SetConfiguration(conf);
    auto restore = qScopeGuard([] { TSmbClient::SetConfiguration(QString()); });
    // smbd needs a moment before it takes connections.
    QTest::qWait(1000);

    // Left alone, the late answers lead the walk on to the peer's workgroup.
    {
        TRecordingTree tree;
        QVERIFY(Walk(tree, 60000));
        QVERIFY2(tree.Find(QStringLiteral("SLOWWG")), qPrintable(tree.Dump()));
    }
    // Asked to stop while it waits for them, it adds nothing more.
    TRecordingTree tree;
    const int asked = responder.NameQueries();
    QPointer<TNetEnumThread> worker = new TNetEnumThread(&tree);
    QTRY_VERIFY_WITH_TIMEOUT(responder.NameQueries() > asked, 10000);
    QCOMPARE(tree.Nodes.size(), size_t(1)); // the network, added before the first call
    worker->AskToStop();
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 60000);
    QCOMPARE(tree.Nodes.size(), size_t(1));
}

QTEST_GUILESS_MAIN(TestNetEnumStop)
#include "tst_netEnumStop.moc"
