#include "core/mainThread.h"
#include "core/texts.h"
#include "net/smbClient.h"
#include "net/threadNetEnum.h"
#include "net/threadNetEnumEx.h"
#include "support/netns.h"
#include "support/sambaBrowseTree.h"
#include "support/sambaPeer.h"

#include <libsmbclient.h>
#include <memory>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>
#include <sched.h>
#include <thread>
#include <unistd.h>

// Browsing against Samba in network namespaces. The test process first moves into a namespace of its
// own, so that name queries are broadcast only on the test's veths:
//   own namespace 10.232.5.1/24 -- browse namespace 10.232.5.2/24: nmbd (master browser) and smbd
class TestNetEnum : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void isLocalComputer_data();
    void isLocalComputer();
    void isLocalComputerLongHostName_data();
    void isLocalComputerLongHostName();
    void walkBuildsTree();
    void serverList_data();
    void serverList();
    void serverListUnknownDomain();
    void serverListStoppedBeforeRun();

private:
    QString FSkip;      // no namespaces at all
    QString FSambaSkip; // no browse master
    QString FHostName;
    QTemporaryDir FDir;
    QString FClientConf;
    std::unique_ptr<TTestNamespace> FClient;
    std::unique_ptr<TNamespaceEntry> FEntry;
    std::unique_ptr<TTestNamespace> FBrowse;
    std::unique_ptr<TSambaPeer> FPeer;
};

namespace {

QString ShortHostName()
{
    char buffer[256] = {};
    gethostname(buffer, sizeof buffer - 1);
    return QString::fromLocal8Bit(buffer).section(QLatin1Char('.'), 0, 0);
}

// The names that an smb:// address lists, with no worker in between.
QStringList RawList(const QString& url)
{
    TSmbClient client(TSmbClient::suBrowse);
    TSmbClient::TDir dir(client, url);
    QStringList names;
    TSmbClient::TDirEntry entry;
    while (dir.Next(entry) == TSmbClient::TDir::rdEntry)
        names << entry.Name;
    return names;
}

struct TExResult
{
    bool Done = false;
    QStringList Servers;
};

// Runs a server-list worker to its completion handler.
std::unique_ptr<TNetEnumThreadEx> RunEx(const QString& domain, TExResult& result, bool stopFirst = false)
{
    auto worker = std::make_unique<TNetEnumThreadEx>(domain);
    worker->SetOnTerminate([&result](TWorkerThread* sender) {
        result.Servers = static_cast<TNetEnumThreadEx*>(sender)->Servers();
        result.Done = true;
    });
    if (stopFirst)
        worker->AskToStop();
    worker->Start();
    return worker;
}

} // namespace

void TestNetEnum::initTestCase()
{
    FHostName = ShortHostName();
    if (!TTestNamespace::Available(&FSkip))
        return;
    FClient = std::make_unique<TTestNamespace>(QStringLiteral("enumc"));
    FEntry = std::make_unique<TNamespaceEntry>(*FClient);
    if (!FClient->Ok() || !FEntry->Ok()) {
        FSkip = QStringLiteral("cannot enter a network namespace of the test's own");
        return;
    }
    if (!TSambaPeer::Available(&FSambaSkip))
        return;
    FBrowse = std::make_unique<TTestNamespace>(QStringLiteral("enumb"));
    QString error;
    if (!ConnectVeth(nullptr, "10.232.5.1/24", FBrowse.get(), "10.232.5.2/24", &error)) {
        FSambaSkip = error;
        return;
    }
    FClientConf = TSambaPeer::WriteClientConfiguration(FDir.path(), "SWBROWSE", "10.232.5.1/24");
    TSmbClient::SetConfiguration(FClientConf);

    // The peer also carries this computer's name, in another letter case, so that the server list
    // has this computer in it to leave out.
    TSambaPeer::TOptions options;
    options.NetbiosName = QStringLiteral("SWPEER");
    options.Workgroup = QStringLiteral("SWBROWSE");
    options.Address = QStringLiteral("10.232.5.2/24");
    options.Aliases = FHostName.left(15).toUpper() == FHostName.left(15) ? FHostName.left(15).toLower()
                                                                         : FHostName.left(15).toUpper();
    options.ServerString = QStringLiteral("Peer = one");
    options.Smbd = true;
    options.MasterBrowser = true;
    options.Shares =
        QStringLiteral("[pub]\n  path = %DIR%\n  guest ok = yes\n  comment = public share\n"
                       "[hidden$]\n  path = %DIR%\n  guest ok = yes\n  comment = hidden share\n");
    FPeer = std::make_unique<TSambaPeer>(*FBrowse, options);
    if (!FPeer->Start(&error)) {
        FSambaSkip = error;
        return;
    }
    // nmbd takes a while to win the election and to put the servers into its browse list.
    QDeadlineTimer deadline(90000);
    bool listed = false;
    while (!(listed = RawList(QStringLiteral("smb://")).contains(QStringLiteral("SWBROWSE")) &&
                      RawList(QStringLiteral("smb://SWBROWSE")).contains(QStringLiteral("SWPEER"))) &&
           !deadline.hasExpired())
        QTest::qWait(500);
    if (!listed)
        FSambaSkip = QStringLiteral("nmbd did not become the master browser of the test namespace in time");
}

void TestNetEnum::cleanupTestCase()
{
    TSmbClient::SetConfiguration(QString());
    FPeer.reset();
    FBrowse.reset();
    FEntry.reset();
    FClient.reset();
}

void TestNetEnum::isLocalComputer_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("local");
    const QString host = FHostName.left(15);
    QTest::newRow("as the host calls itself") << host << true;
    QTest::newRow("upper case") << host.toUpper() << true;
    QTest::newRow("lower case") << host.toLower() << true;
    QTest::newRow("with a domain") << host + QStringLiteral(".example") << false;
    QTest::newRow("longer") << host + QStringLiteral("X") << false;
    QTest::newRow("shorter") << host.left(host.size() - 1) << false;
    QTest::newRow("empty") << QString() << false;
}

void TestNetEnum::isLocalComputer()
{
    QFETCH(QString, name);
    QFETCH(bool, local);
    QCOMPARE(IsLocalComputer(name), local);
}

void TestNetEnum::isLocalComputerLongHostName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("local");
    // A server list shows a computer under its NetBIOS name: the host name up to the first dot, cut to
    // 15 characters.
    QTest::newRow("NetBIOS name") << "WORKSTATION-004" << true;
    QTest::newRow("NetBIOS name, lower case") << "workstation-004" << true;
    QTest::newRow("whole short name") << "workstation-0042" << false;
    QTest::newRow("whole host name") << "workstation-0042.lan.example" << false;
}

void TestNetEnum::isLocalComputerLongHostName()
{
    QFETCH(QString, name);
    QFETCH(bool, local);
    // A host name of the test's choosing, in a UTS namespace of one thread of its own.
    int answer = -1;
    std::thread probe([&] {
        if (unshare(CLONE_NEWUTS) != 0)
            return;
        const char host[] = "workstation-0042.lan.example";
        if (sethostname(host, sizeof host - 1) != 0)
            return;
        answer = IsLocalComputer(name) ? 1 : 0;
    });
    probe.join();
    if (answer < 0)
        QSKIP("cannot set a host name in a UTS namespace (needs root)");
    QCOMPARE(answer == 1, local);
}

void TestNetEnum::walkBuildsTree()
{
    if (!FSkip.isEmpty() || !FSambaSkip.isEmpty())
        QSKIP(qPrintable(FSkip + FSambaSkip));
    TRecordingTree tree;
    QVERIFY(Walk(tree, 60000));
    QCOMPARE(tree.OffMainThread, 0);

    const auto* network = tree.Find(Res::Str(Res::SmbNetworkProvider));
    QVERIFY(network);
    QCOMPARE(network->Parent, nullptr);
    QCOMPARE(network->Entry.EntryKind, nekNetwork);

    const auto* workgroup = tree.Find(QStringLiteral("SWBROWSE"));
    QVERIFY2(workgroup, qPrintable(tree.Dump()));
    QCOMPARE(workgroup->Parent, network);
    QCOMPARE(workgroup->Entry.EntryKind, nekDomain);

    const auto* server = tree.Find(QStringLiteral("\\\\SWPEER"));
    QVERIFY(server);
    QCOMPARE(server->Parent, workgroup);
    QCOMPARE(server->Entry.EntryKind, nekServer);
    QCOMPARE(server->Entry.Comment, QStringLiteral("Peer = one"));
    QCOMPARE(server->Entry.Provider, network->Entry.RemoteName);

    // Administrative shares are shown, ordinary ones are not.
    for (const char* name : {"\\\\SWPEER\\IPC$", "\\\\SWPEER\\hidden$"}) {
        const auto* share = tree.Find(QString::fromLatin1(name));
        QVERIFY2(share, name);
        QCOMPARE(share->Parent, server);
        QCOMPARE(share->Entry.EntryKind, nekShareAdmin);
    }
    for (const auto& node : tree.Nodes) {
        QVERIFY2(!node->Entry.RemoteName.contains(QStringLiteral("pub")), qPrintable(node->Entry.RemoteName));
        QVERIFY(node->Entry.EntryKind != nekShare && node->Entry.EntryKind != nekDirectory);
    }
}

void TestNetEnum::serverList_data()
{
    QTest::addColumn<QString>("domain");
    QTest::newRow("named workgroup") << "SWBROWSE";
    QTest::newRow("workgroup in another case") << "swbrowse";
    QTest::newRow("this computer's workgroup") << "";
}

void TestNetEnum::serverList()
{
    if (!FSkip.isEmpty() || !FSambaSkip.isEmpty())
        QSKIP(qPrintable(FSkip + FSambaSkip));
    QFETCH(QString, domain);
    // What the test stands on: the network lists this computer (in upper case) beside the peer.
    const QStringList raw = RawList(QStringLiteral("smb://SWBROWSE"));
    const QString local = FHostName.left(15).toUpper();
    QVERIFY2(raw.contains(local), qPrintable(raw.join(',')));

    TExResult result;
    auto worker = RunEx(domain, result);
    QTRY_VERIFY_WITH_TIMEOUT(result.Done, 30000);
    QVERIFY(worker->Finished());
    QVERIFY(worker->StopRequested());
    QVERIFY2(result.Servers.contains(QStringLiteral("SWPEER=Peer = one")),
             qPrintable(result.Servers.join('|')));
    for (const QString& line : result.Servers)
        QVERIFY2(!IsLocalComputer(line.section(QLatin1Char('='), 0, 0)), qPrintable(line));
    QCOMPARE(result.Servers.size(), raw.size() - 1);
}

void TestNetEnum::serverListUnknownDomain()
{
    if (!FSkip.isEmpty() || !FSambaSkip.isEmpty())
        QSKIP(qPrintable(FSkip + FSambaSkip));
    TExResult result;
    auto worker = RunEx(QStringLiteral("NOSUCHWG"), result);
    QTRY_VERIFY_WITH_TIMEOUT(result.Done, 30000);
    QVERIFY(result.Servers.isEmpty());
}

void TestNetEnum::serverListStoppedBeforeRun()
{
    TExResult result;
    result.Servers = QStringList{QStringLiteral("unset")};
    auto worker = RunEx(QStringLiteral("SWBROWSE"), result, true);
    QTRY_VERIFY_WITH_TIMEOUT(result.Done, 10000);
    QVERIFY(result.Servers.isEmpty());
    // Its creator owns it: still there after the handler ran.
    QTest::qWait(50);
    QVERIFY(worker->Finished());
}

QTEST_GUILESS_MAIN(TestNetEnum)
#include "tst_netEnum.moc"
