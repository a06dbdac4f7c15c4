// Waking and checking computers through an ssh relay: Debian's sshd in a relay namespace with a WAN side
// (towards this test's own namespace) and two LANs that this namespace has no route to.
//
//   test 10.231.0.1 --- 10.231.0.2 relay 10.232.0.1 --- 10.232.0.11 lan1 (answers echo, catches packets)
//                                        10.232.1.1 --- 10.232.1.12 lan2 (ignores echo, listens on TCP 3389)
//   sshd on 10.231.0.2:22 (root, the test's key), 10.231.0.2:2200 (the same, but its sessions find only the
//   tools the test puts on their PATH), 10.231.0.2:2201 (the same, its sessions running the test's hook
//   file as a login shell's start-up file would)
#include "model/computers.h"
#include "model/openDatabase.h"
#include "net/relayHub.h"
#include "net/threadRelay.h"
#include "support/netns.h"
#include "support/sshServer.h"

#include <memory>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestRelay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void checksThroughRelay();
    void magicPacketOnTheRelaysLan_data();
    void magicPacketOnTheRelaysLan();
    void failuresInPlainWords();
    void storedFieldsRunNothing();
    void commandLine();
    void hostileRelay();
    void boundedSsh();

private:
    TComputer* AddComputer(const QString& name, const QString& ip, const QString& mac,
                           const QString& mask = {});
    // Runs a check of the computer and waits for its end.
    void Check(TComputer* computer);
    // Wakes the computer; the relay's reason when it could not, "" when the packet left.
    QString Wake(TComputer* computer);
    // The next packet caught on the first LAN: "U <destination> <hex>" or "E <frame hex>".
    QByteArray Caught();
    void SetHook(const QString& script)
    {
        QCOMPARE(RunCommand("sh", {"-c", "echo \"$0\" >\"$1\"", script, FHook}), 0);
    }

    QTemporaryDir FDir{QStringLiteral("/tmp/swrelay-XXXXXX")};
    std::unique_ptr<TTestNamespace> FRelay, FLan1, FLan2;
    std::unique_ptr<TSshClientSetup> FClient;
    std::unique_ptr<TSshServer> FServer, FBareServer, FHookServer;
    std::unique_ptr<QProcess> FCatcher;
    QString FToolPath; // the file that holds the PATH of the second server's sessions
    QString FHook;     // the third server's hook file
    TGroup FGroup;
};

void TestRelay::initTestCase()
{
    QString reason;
    if (!TTestNamespace::Available(&reason))
        QSKIP(qPrintable(reason));
    if (!QFile::exists(QStringLiteral("/usr/sbin/sshd")))
        QSKIP("Debian's openssh-server is not installed (scripts/deps.sh --tests)");
    const QString dir = FDir.path();
    FRelay = std::make_unique<TTestNamespace>(QStringLiteral("relay"));
    FLan1 = std::make_unique<TTestNamespace>(QStringLiteral("lanone"));
    FLan2 = std::make_unique<TTestNamespace>(QStringLiteral("lantwo"));
    QVERIFY(FRelay->Ok() && FLan1->Ok() && FLan2->Ok());
    QVERIFY(ConnectVeth(nullptr, "10.231.0.1/24", FRelay.get(), "10.231.0.2/24"));
    QVERIFY(ConnectVeth(FRelay.get(), "10.232.0.1/24", FLan1.get(), "10.232.0.11/24"));
    QVERIFY(ConnectVeth(FRelay.get(), "10.232.1.1/24", FLan2.get(), "10.232.1.12/24"));
    QCOMPARE(FLan2->Exec({"sysctl", "-q", "-w", "net.ipv4.icmp_echo_ignore_all=1"}), 0);
    const QString python = QStringLiteral("/usr/bin/python3");
    QVERIFY(QProcess::startDetached("ip", {"netns", "exec", FLan2->Name(), python, "-c",
                                           "import socket,time\ns=socket.create_server(('0.0.0.0',3389))\n"
                                           "while True: s.accept()[0].close()"}));
    // The packet catcher: each datagram to port 4343, with the address it was sent to (IP_PKTINFO), and
    // each Ethernet frame of the wake-up type 0x0842 (a packet socket).
    FCatcher = std::make_unique<QProcess>();
    FCatcher->start("ip", {"netns", "exec", FLan1->Name(), python, "-c",
                           "import socket,select\nu=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                           "u.setsockopt(socket.IPPROTO_IP,8,1)\nu.bind(('0.0.0.0',4343))\n"
                           "e=socket.socket(socket.AF_PACKET,socket.SOCK_RAW,socket.htons(0x0842))\n"
                           "print('ready',flush=True)\nwhile True:\n"
                           "  for s in select.select([u,e],[],[])[0]:\n"
                           "    if s is u:\n      d,a,_,_=u.recvmsg(200,100)\n"
                           "      print('U',socket.inet_ntoa(a[0][2][8:12]),d.hex(),flush=True)\n"
                           "    else: print('E',e.recv(2000).hex(),flush=True)"});
    QVERIFY(FCatcher->waitForReadyRead(5000));
    QCOMPARE(FCatcher->readLine().trimmed(), QByteArray("ready"));

    FClient = std::make_unique<TSshClientSetup>(dir + "/client");
    QVERIFY(FClient->Ok());
    FServer =
        std::make_unique<TSshServer>(*FRelay, dir + "/sshd", "10.231.0.2", 22, FClient->ClientPublicKey());
    QVERIFY2(FServer->Start(&reason), qPrintable(reason));
    // The same relay, whose sessions find the shell's basics and whatever tools the test adds.
    const QString bare = dir + "/bare";
    QDir().mkpath(bare);
    for (const char* tool : {"sh", "ip", "awk", "grep", "sed", "tail", "cat"})
        QFile::link(QStandardPaths::findExecutable(tool), bare + '/' + tool);
    FToolPath = dir + "/toolpath";
    QCOMPARE(RunCommand("sh", {"-c", "echo \"$0\" >\"$1\"", bare, FToolPath}), 0);
    FBareServer = std::make_unique<TSshServer>(*FRelay, dir + "/sshd-bare", "10.231.0.2", 2200,
                                               FClient->ClientPublicKey(),
                                               "ForceCommand exec /usr/bin/env -i PATH=\"$(cat " + FToolPath +
                                                   ")\" sh -c \"$SSH_ORIGINAL_COMMAND\"");
    QVERIFY2(FBareServer->Start(&reason), qPrintable(reason));
    FHook = dir + "/hook";
    SetHook("eval \"$SSH_ORIGINAL_COMMAND\"");
    FHookServer = std::make_unique<TSshServer>(*FRelay, dir + "/sshd-hook", "10.231.0.2", 2201,
                                               FClient->ClientPublicKey(), "ForceCommand . " + FHook);
    QVERIFY2(FHookServer->Start(&reason), qPrintable(reason));
    FClient->TrustHost("10.231.0.2", FServer->HostPublicKey());
    FClient->TrustHost("[10.231.0.2]:2200", FBareServer->HostPublicKey());
    FClient->TrustHost("[10.231.0.2]:2201", FHookServer->HostPublicKey());
    // An alias whose known hosts do not hold the relay's key.
    FClient->AddConfig("Host stranger\n  HostName 10.231.0.2\n  UserKnownHostsFile " + dir +
                       "/client/nobody\n");
    FClient->WriteSettings("[checks]\ntcpPorts=3389\n[relays]\nparallel=2\nconnections=3\n");
    // lab serves both LANs; cmd serves the second with a longer prefix and its own command; stranger's /8
    // holds everything but loses to the longer prefixes.
    FClient->WriteRelays(
        "[lab]\ndestination=root@10.231.0.2\nnetworks=10.232.0.0/16\n"
        "[cmd]\ndestination=10.231.0.2\nnetworks=10.232.1.0/24, 10.239.0.0/16\n"
        "command=printf '%s|%s|%s|%s\\\\n' {mac} {broadcast} {port} {interface} >>" +
        dir +
        "/cmd.log\n"
        "[stranger]\ndestination=stranger\nnetworks=10.0.0.0/8\n"
        "[stopped]\ndestination=ssh://root@10.231.0.2:2222\nnetworks=10.234.0.0/24\n"
        "[bare]\ndestination=ssh://root@10.231.0.2:2200\nnetworks=10.232.0.77\n"
        "[hook]\ndestination=ssh://root@10.231.0.2:2201\nnetworks=10.232.0.1, 10.232.0.200/29\n");
    QStringList problems;
    ReloadRelays(&problems);
    QCOMPARE(problems, QStringList());
    QCOMPARE(CurrentRelays()->size(), size_t(6));
}

void TestRelay::cleanupTestCase()
{
    TRelayHub::Instance().CloseConnections();
    if (FCatcher)
        FCatcher->kill();
}

TComputer* TestRelay::AddComputer(const QString& name, const QString& ip, const QString& mac,
                                  const QString& mask)
{
    TComputer* computer = FGroup.Computers()->Add();
    computer->SetName(name);
    computer->IPAddress = ip;
    computer->SubNet = mask.isEmpty() ? QStringLiteral("255.255.255.0") : mask;
    computer->Port = 4343;
    computer->MACAddresses()->Add()->Address = mac;
    return computer;
}

void TestRelay::Check(TComputer* computer)
{
    computer->CheckOnline();
    QTRY_VERIFY_WITH_TIMEOUT(computer->RunningCheck() == nullptr, 30000);
}

QString TestRelay::Wake(TComputer* computer)
{
    bool ended = false;
    QString failure;
    FGroup.WakeComputerByID(
        computer->ItemID(), 0, [&ended](bool, const QString&) { ended = true; }, nullptr,
        [&failure](const QString& reason) { failure = reason; });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(ended, 30000); }();
    return failure;
}

void TestRelay::checksThroughRelay()
{
    // No route leads from here to the LANs: only the relay reaches them.
    QVERIFY(RunCommand("ping", {"-c1", "-W1", "10.232.0.11"}) != 0);
    TComputer* up = AddComputer("up", "10.232.0.11", "00-11-22-33-44-55");
    TComputer* port = AddComputer("port", "10.232.1.12", "00-11-22-33-44-56");
    TComputer* silent = AddComputer("silent", "10.232.0.99", "00-11-22-33-44-57");
    // Started together, they share one exchange with the relays that serve them.
    up->CheckOnline();
    port->CheckOnline();
    silent->CheckOnline();
    QTRY_VERIFY_WITH_TIMEOUT(!up->RunningCheck() && !port->RunningCheck() && !silent->RunningCheck(), 30000);
    QVERIFY2(up->Online, qPrintable(up->LastPingReply));
    QVERIFY2(QRegularExpression("^Response from 10\\.232\\.0\\.11 in \\d+ millisec\\. \\(relay lab\\)$")
                 .match(up->LastPingReply)
                 .hasMatch(),
             qPrintable(up->LastPingReply));
    QCOMPARE(up->RelayName, QStringLiteral("lab"));
    // The longer prefix wins: cmd serves the second LAN; its computer ignores echo but takes a connection.
    QVERIFY(port->Online);
    QCOMPARE(port->LastPingReply, QStringLiteral("Response from 10.232.1.12 on TCP port 3389. (relay cmd)"));
    QVERIFY(!silent->Online);
    QCOMPARE(silent->LastPingReply, QStringLiteral("Timed out (relay lab)"));
    QVERIFY(!silent->RelayFailed);
    // Every exchange so far shared one connection per relay: lab and cmd reach the same server.
    Check(up);
    QVERIFY(up->Online);
    QCOMPARE(FServer->Connections(), 2);
}

QByteArray TestRelay::Caught()
{
    QByteArray line;
    while (line.isEmpty() && QTest::qWaitFor([this] { return FCatcher->canReadLine(); }, 10000))
        line = FCatcher->readLine().trimmed();
    return line;
}

void TestRelay::magicPacketOnTheRelaysLan_data()
{
    QTest::addColumn<QString>("tool"); // the one wake tool the relay finds; empty: none
    QTest::newRow("wakeonlan") << "wakeonlan";
    QTest::newRow("python3") << "python3";
    QTest::newRow("etherwake") << "etherwake";
    QTest::newRow("none") << "";
}

void TestRelay::magicPacketOnTheRelaysLan()
{
    QFETCH(QString, tool);
    const QString tools = FDir.path() + "/tools";
    QDir(tools).removeRecursively();
    QDir().mkpath(tools);
    if (!tool.isEmpty()) {
        const QString found =
            QStandardPaths::findExecutable(tool, {"/usr/sbin", "/usr/bin", "/sbin", "/bin"});
        if (found.isEmpty())
            QSKIP("the wake tools are not installed (scripts/deps.sh --tests)");
        QVERIFY(QFile::link(found, tools + '/' + tool));
    }
    QCOMPARE(RunCommand("sh", {"-c", "echo \"$0\" >\"$1\"", FDir.path() + "/bare:" + tools, FToolPath}), 0);
    // The stored mask says /16, the relay's own interface /24: the interface decides the broadcast.
    TComputer* computer = AddComputer(tool, "10.232.0.77", "0a-1b-2c-3d-4e-5f", "255.255.0.0");
    const QString failure = Wake(computer);
    if (tool.isEmpty()) {
        QCOMPARE(failure,
                 QStringLiteral("Relay bare has no tool to send a wake-up: install wakeonlan or python3 "
                                "there, or give the relay a command."));
        return;
    }
    QCOMPARE(failure, QString());
    const QByteArray magic = QByteArray("ffffffffffff") + QByteArray("0a1b2c3d4e5f").repeated(16);
    const QByteArray caught = Caught();
    if (tool == "etherwake") {
        // A frame to every station of the LAN: destination, source, type 0x0842, the magic packet.
        QCOMPARE(caught.left(14), QByteArray("E ffffffffffff"));
        QCOMPARE(caught.mid(26, 4), QByteArray("0842"));
        QCOMPARE(caught.mid(30), magic);
    } else {
        QCOMPARE(caught, "U 10.232.0.255 " + magic);
    }
}

void TestRelay::failuresInPlainWords()
{
    struct TCase
    {
        QString Address;
        QString Expected;
    };
    const TCase cases[] = {
        {"10.233.0.5",
         "Relay stranger: the host key of stranger is not known or has changed. Connect once by hand "
         "(ssh stranger) to check and accept it."},
        {"10.234.0.5",
         "Relay stopped: ssh://root@10.231.0.2:2222 refused the connection; no SSH server answers "
         "there."},
    };
    for (const TCase& c : cases) {
        TComputer* computer = AddComputer(c.Address, c.Address, "00-11-22-33-44-58");
        Check(computer);
        QVERIFY(!computer->Online);
        QVERIFY(computer->RelayFailed);
        QCOMPARE(computer->LastPingReply, c.Expected);
        QCOMPARE(Wake(computer), c.Expected);
    }
}

void TestRelay::storedFieldsRunNothing()
{
    const QString marker = FDir.path() + "/ran";
    const QString evil = QStringLiteral("$(touch %1)`touch %1`;touch %1;'\"").arg(marker);
    // Every stored text holds shell syntax; only the checked MAC, addresses and port reach the relay.
    TComputer* computer = AddComputer(evil, "10.239.0.7", "00-11-22-33-44-5a", "255.255.255.0;" + evil);
    computer->Comments = evil;
    computer->Descr = evil;
    computer->MACAddresses()->Items(0)->Name = evil;
    computer->Port = 9;
    QCOMPARE(Wake(computer), QString());
    TComputer* byName = AddComputer("n", evil, "00-11-22-33-44-5b");
    QVERIFY(Wake(byName).isEmpty());
    TComputer* badMac = AddComputer("m", "10.239.0.8", "00-11-22-33-44-5';touch " + marker + "'");
    QVERIFY(Wake(badMac).isEmpty());
    Check(byName);
    QVERIFY(!QFile::exists(marker));
    QFile log(FDir.path() + "/cmd.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    // The relay has no interface on 10.239.0.0/16 and the stored mask is no mask: the limited broadcast.
    QCOMPARE(log.readAll(), QByteArray("00:11:22:33:44:5a|255.255.255.255|9|-\n"));
}

void TestRelay::commandLine()
{
    const QString file = FDir.path() + "/cli.ccn";
    {
        TOpenDatabase database(file);
        database.Open();
        for (const auto& [name, ip] :
             {std::pair{"lan-pc", "10.232.0.11"}, std::pair{"far-pc", "10.234.0.5"}}) {
            TComputer* computer = database.AddComputer();
            computer->SetName(QString::fromLatin1(name));
            computer->IPAddress = QString::fromLatin1(ip);
            computer->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
            computer->NotifyUpdate();
        }
        QVERIFY(database.Close());
    }
    auto run = [&](const QStringList& arguments, QString* out, QString* err) {
        QProcess process;
        process.start(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + "/sablewick",
                      QStringList{"--database", file} + arguments);
        process.waitForFinished(60000);
        *out = QString::fromUtf8(process.readAllStandardOutput());
        *err = QString::fromUtf8(process.readAllStandardError());
        return process.exitCode();
    };
    QString out, err;
    QCOMPARE(run({"--status", "lan-pc"}, &out, &err), 0);
    QVERIFY2(out.startsWith("lan-pc\tonline\tResponse from 10.232.0.11 in ") && out.contains("(relay lab)"),
             qPrintable(out + err));
    const QString stopped = "Relay stopped: ssh://root@10.231.0.2:2222 refused the connection; no SSH server "
                            "answers there.";
    QCOMPARE(run({"--status", "far-pc"}, &out, &err), 1);
    QCOMPARE(err, "sablewick: \"far-pc\" could not be checked: " + stopped + "\n");
    QCOMPARE(run({"--wake", "far-pc", "lan-pc"}, &out, &err), 1);
    QCOMPARE(err, "sablewick: the wake-up for \"far-pc\" failed: " + stopped + "\n");
    QCOMPARE(out, QStringLiteral("Wake-up sent to lan-pc (00-11-22-33-44-55)\n"));
    QCOMPARE(run({"--relays", "--json"}, &out, &err), 1);
    const QJsonArray relays = QJsonDocument::fromJson(out.toUtf8()).array();
    QCOMPARE(relays.size(), 6);
    QStringList verdicts;
    for (const QJsonValue& relay : relays)
        verdicts << relay["name"].toString() + '=' + relay["wakeTool"].toString() + '/' +
                        QString::number(relay["ok"].toBool());
    QCOMPARE(verdicts.join(' '),
             "bare=/0 cmd=command/1 hook=wakeonlan/1 lab=wakeonlan/1 stopped=/0 stranger=/0");
}

void TestRelay::hostileRelay()
{
    // A banner line that looks like an answer, then answers whose times are no time: neither counts.
    const QString mark = "=sablewick-output=";
    SetHook(
        "echo 'R 10.232.0.201 3'; cat >/dev/null; echo " + mark +
        "; echo 'R 10.232.0.1 2.4'; i=1; for v in "
        "nan inf 1e300 -5 99999999999999999999999 60001; do i=$((i+1)); echo \"R 10.232.0.20$i $v\"; done");
    std::vector<TComputer*> silent;
    for (int i = 1; i <= 7; ++i)
        silent.push_back(AddComputer("h", "10.232.0.20" + QString::number(i), "00-11-22-33-44-60"));
    TComputer* up = AddComputer("h", "10.232.0.1", "00-11-22-33-44-61");
    for (TComputer* computer : silent)
        computer->CheckOnline();
    Check(up);
    QCOMPARE(up->LastPingReply, QStringLiteral("Response from 10.232.0.1 in 2 millisec. (relay hook)"));
    for (TComputer* computer : silent) {
        QTRY_VERIFY(!computer->RunningCheck());
        QCOMPARE(computer->LastPingReply, QStringLiteral("Timed out (relay hook)"));
    }
    // A login shell that prints without end is cut off; a session killed mid-exchange says so.
    const std::pair<QString, QString> cases[] = {
        {"yes", "Relay hook sent more output than expected."},
        {"cat >/dev/null; sleep 0.3; kill -9 $PPID; sleep 5",
         "The connection to relay hook was closed during the exchange (ssh exit status 255)."},
        {"cat >/dev/null; echo " + mark + "; sleep 0.3; kill -9 $PPID; sleep 5",
         "The connection to relay hook was closed during the exchange (ssh exit status 255)."}};
    for (const auto& [hook, expected] : cases) {
        SetHook(hook);
        Check(up);
        QVERIFY(up->RelayFailed);
        QCOMPARE(up->LastPingReply, expected);
    }
}

void TestRelay::boundedSsh()
{
    // Four relays, each session noting its start and end: two at most run at once (parallel=2), three
    // connections at most are kept (connections=3), and a command-line run ends those it opened.
    const QString log = FDir.path() + "/sessions";
    SetHook("echo + >>" + log + "; sleep 0.6; echo - >>" + log + "; eval \"$SSH_ORIGINAL_COMMAND\"");
    QString relays;
    for (int i = 1; i <= 4; ++i)
        relays +=
            QString("[many%1]\ndestination=ssh://root@10.231.0.2:2201\nnetworks=10.240.%1.0/24\n").arg(i);
    FClient->WriteRelays(relays);
    ReloadRelays();
    auto mostAtOnce = [&log] {
        QFile file(log);
        file.open(QIODevice::ReadOnly);
        int running = 0, most = 0;
        for (const char c : file.readAll())
            most = std::max(most, running += c == '+' ? 1 : c == '-' ? -1 : 0);
        file.remove();
        return most;
    };
    auto masters = [] {
        int count = 0;
        for (const TRelay& relay : *CurrentRelays())
            count += RunCommand("pgrep", {"-f", TRelayClient(relay).ControlPath()}) == 0;
        return count;
    };
    QProcess cli;
    cli.start(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + "/sablewick", {"--relays"});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(mostAtOnce(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(masters(), 0, 2000);
    int answered = 0;
    for (const TRelay& relay : *CurrentRelays())
        TRelayHub::Instance().Test(relay.Name,
                                   [&answered](const TRelayTestResult& result) { answered += result.Ok; });
    QTRY_COMPARE_WITH_TIMEOUT(answered, 4, 30000);
    QCOMPARE(mostAtOnce(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(masters() <= 3, 2000);
}

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
