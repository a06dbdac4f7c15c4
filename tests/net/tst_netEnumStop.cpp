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

// A neighbourhood walk without a browse service, and stopping a walk while it waits for the network. A
// process of its own: the client library keeps what it learnt about names for the whole process.
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
    // Late, but inside the time the client library waits for a node status answer (about a second).
    responder.SetStatusDelayMs(700);

    const QString conf = TSambaPeer::WriteClientConfiguration(peer.Directory(), "SLOWWG", "10.232.6.1/24");
    TSmbClient::SetConfiguration(conf);
    auto restore = qScopeGuard([] { TSmbClient::SetConfiguration(QString()); });

    // While no name server answers there is no browse service: the walk adds the network and ends.
    {
        TRecordingTree tree;
        QVERIFY(Walk(tree, 60000));
        QCOMPARE(tree.Nodes.size(), size_t(1));
        QCOMPARE(tree.Nodes.front()->Entry.EntryKind, nekNetwork);
    }

    QVERIFY2(responder.Start(&error), qPrintable(error));

    // Asked to stop while it waits for a late answer, the walk adds nothing more.
    {
        TRecordingTree tree;
        QPointer<TNetEnumThread> worker = new TNetEnumThread(&tree);
        QTRY_VERIFY_WITH_TIMEOUT(responder.StatusRequests() > 0, 10000);
        QCOMPARE(tree.Nodes.size(), size_t(1)); // the network, added before the first call
        worker->AskToStop();
        QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 60000);
        QCOMPARE(tree.Nodes.size(), size_t(1));
    }
    // Left alone, the same answers lead a walk on to the peer's workgroup. (The client library now
    // remembers them: that the stopped walk's late answer was taken shows that it came in time.)
    TRecordingTree tree;
    QVERIFY(Walk(tree, 60000));
    QVERIFY2(tree.Find(QStringLiteral("SLOWWG")), qPrintable(tree.Dump()));
}

QTEST_GUILESS_MAIN(TestNetEnumStop)
#include "tst_netEnumStop.moc"
