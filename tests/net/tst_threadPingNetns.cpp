// Reachability checks against hosts in network namespaces, run in a child process (tst_pingProbe) inside
// the client namespace: silent hosts, routers that report unreachable networks or expired TTLs, stray
// packets during the wait, both kinds of ICMP socket, a process without privileges, and TCP probes of
// hosts that drop echo requests.
//
//   client 10.201.1.2 --- 10.201.1.1 router 10.201.2.1 --- 10.201.2.2 peer (ignores echo requests)
//   the router forwards, and knows 10.201.9.0/24 as unreachable.
#include "support/netns.h"

#include <memory>
#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString RangeNone = QStringLiteral("1 0");
const QString RangeAll = QStringLiteral("0 2147483647");
const QStringList AsNobody{"setpriv",        "--reuid=nobody",  "--regid=nogroup",
                           "--clear-groups", "--inh-caps=-all", "--bounding-set=-all"};

struct TProbeResult
{
    bool Ok = false;
    QString Kind;
    int Outcome = -1;
    QString From;
    int Bytes = 0;
    int TTL = 0;
    int RoundTrip = 0;
    int Elapsed = 0;
    QString Text;
    QString Raw;
};

QList<TProbeResult> ParseProbe(const QString& output)
{
    static const QRegularExpression line(QStringLiteral(
        "^kind=(\\S+) outcome=(\\d+) from=(\\S*) bytes=(\\d+) ttl=(\\d+) rtt=(\\d+) elapsed=(\\d+) "
        "text=(.*)$"));
    QList<TProbeResult> results;
    for (const QString& text : output.split(QLatin1Char('\n'))) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        TProbeResult r;
        r.Ok = true;
        r.Kind = match.captured(1);
        r.Outcome = match.captured(2).toInt();
        r.From = match.captured(3);
        r.Bytes = match.captured(4).toInt();
        r.TTL = match.captured(5).toInt();
        r.RoundTrip = match.captured(6).toInt();
        r.Elapsed = match.captured(7).toInt();
        r.Text = match.captured(8);
        r.Raw = text;
        results << r;
    }
    return results;
}

} // namespace

class TestThreadPingNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void outcomes_data();
    void outcomes();
    void errorsReachOnlyTheirCheck_data();
    void errorsReachOnlyTheirCheck();
    void laterWaitGetsItsWholeTime_data();
    void laterWaitGetsItsWholeTime();
    void strayPacketsDuringTheWait_data();
    void strayPacketsDuringTheWait();
    void withoutPrivilege_data();
    void withoutPrivilege();
    void identifierOnTheWire_data();
    void identifierOnTheWire();
    void tcpProbes_data();
    void tcpProbes();

private:
    // Runs the probe in the client namespace with that ping_group_range; one result per host.
    QList<TProbeResult> ProbeAll(const QString& range, const QStringList& args, int hosts,
                                 const QStringList& prefix = {});
    TProbeResult Probe(const QString& range, const QStringList& args)
    {
        return ProbeAll(range, args, 1).value(0);
    }

    std::unique_ptr<TTestNamespace> FClient, FRouter, FPeer;
    std::unique_ptr<QProcess> FListener;
    QString FProbe;
};

void TestThreadPingNetns::initTestCase()
{
    QString reason;
    if (!TTestNamespace::Available(&reason))
        QSKIP(qPrintable(reason));
    FProbe = QCoreApplication::applicationDirPath() + QStringLiteral("/tst_pingProbe");
    QVERIFY2(QFile::exists(FProbe), qPrintable(FProbe));
    FClient = std::make_unique<TTestNamespace>(QStringLiteral("pcl"));
    FRouter = std::make_unique<TTestNamespace>(QStringLiteral("prt"));
    FPeer = std::make_unique<TTestNamespace>(QStringLiteral("ppe"));
    QVERIFY(FClient->Ok() && FRouter->Ok() && FPeer->Ok());
    QString error;
    QVERIFY2(ConnectVeth(FClient.get(), "10.201.1.2/24", FRouter.get(), "10.201.1.1/24", &error),
             qPrintable(error));
    QVERIFY2(ConnectVeth(FRouter.get(), "10.201.2.1/24", FPeer.get(), "10.201.2.2/24", &error),
             qPrintable(error));
    QCOMPARE(FClient->Exec({"ip", "route", "add", "default", "via", "10.201.1.1"}), 0);
    QCOMPARE(FPeer->Exec({"ip", "route", "add", "default", "via", "10.201.2.1"}), 0);
    QCOMPARE(FPeer->Exec({"sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1"}), 0);
    QCOMPARE(FRouter->Exec({"sysctl", "-qw", "net.ipv4.ip_forward=1"}), 0);
    // Every check gets its error message, however many come at once. (Errors of unreachable routes have a
    // limit of their own, 5 at once and then one a second, that no namespace setting lifts.)
    QCOMPARE(FRouter->Exec({"sysctl", "-qw", "net.ipv4.icmp_ratelimit=0"}), 0);
    QCOMPARE(FRouter->Exec({"sysctl", "-qw", "net.ipv4.icmp_ratemask=0"}), 0);
    QCOMPARE(FRouter->Exec({"ip", "route", "add", "unreachable", "10.201.9.0/24"}), 0);
}

void TestThreadPingNetns::tcpProbes_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QStringList>("prefix");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    // The peer ignores echo requests on all its addresses. 10.201.2.3 drops ICMP and every port but
    // 3389, where it listens; 10.201.2.2 has only closed ports (its kernel resets); 10.201.2.5 drops
    // everything; the router refuses connections to 10.201.2.7 with ICMP errors of its own, while
    // 10.201.2.8 refuses them itself with ICMP errors. 10.201.2.17-19 accept only on 3389, 10.201.2.20
    // only on 5900, and the peer counts the SYNs sent to them.
    const QStringList hosts{"10.201.2.3", "10.201.2.2", "10.201.2.5",
                            "10.201.1.1", "10.201.2.7", "10.201.2.8"};
    QTest::newRow("ICMP socket") << RangeAll << QStringList() << QStringList{"--tcp", "default"} + hosts
                                 << QStringList{"Response from 10.201.2.3 on TCP port 3389.",
                                                "Response from 10.201.2.2 on TCP port \\d+ \\(refused\\).",
                                                "Timed out",
                                                "Response from 10.201.1.1 in \\d+ millisec.",
                                                "Timed out",
                                                "Response from 10.201.2.8 on TCP port \\d+ \\(refused\\)."};
    // Probes alone still show a host up, and a silent one times out.
    QTest::newRow("no ICMP socket") << RangeNone << AsNobody
                                    << QStringList{"--timeout", "2000",       "--tcp",
                                                   "default",   "10.201.2.3", "10.201.2.5"}
                                    << QStringList{"Response from 10.201.2.3 on TCP port 3389.", "Timed out"};
    // One after another, so the first one's answer is known when the next starts.
    QTest::newRow("learnt port") << RangeAll << QStringList()
                                 << QStringList{"--stagger",   "100",         "--tcp",       "22 3389 5900",
                                                "10.201.2.17", "10.201.2.18", "10.201.2.19", "10.201.2.20"}
                                 << QStringList{"Response from 10.201.2.17 on TCP port 3389.",
                                                "Response from 10.201.2.18 on TCP port 3389.",
                                                "Response from 10.201.2.19 on TCP port 3389.",
                                                "Response from 10.201.2.20 on TCP port 5900."};
}

void TestThreadPingNetns::tcpProbes()
{
    QFETCH(QString, range);
    QFETCH(QStringList, prefix);
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    if (!prefix.isEmpty() && RunCommand(QStringLiteral("setpriv"), {"--version"}) != 0)
        QSKIP("setpriv is not installed");
    if (!FListener) {
        if (RunCommand(QStringLiteral("nft"), {"--version"}) != 0)
            QSKIP("nftables is not installed");
        for (const char* address : {"10.201.2.3/32", "10.201.2.5/32", "10.201.2.7/32", "10.201.2.8/32",
                                    "10.201.2.17/32", "10.201.2.18/32", "10.201.2.19/32", "10.201.2.20/32"})
            QCOMPARE(FPeer->Exec({"ip", "addr", "add", address, "dev", "lo"}), 0);
        QCOMPARE(
            FPeer->Exec({"nft",
                         "add table inet sw; add chain inet sw in { type filter hook input priority 0; }; "
                         "add rule inet sw in ip daddr 10.201.2.3 ip protocol icmp drop; "
                         "add rule inet sw in ip daddr 10.201.2.3 tcp dport != 3389 drop; "
                         "add rule inet sw in ip daddr 10.201.2.5 drop; "
                         "add rule inet sw in ip daddr 10.201.2.8 meta l4proto tcp reject"}),
            0);
        QCOMPARE(FPeer->Exec({"nft",
                              "add rule inet sw in ip daddr 10.201.2.16/29 tcp flags syn / syn,ack counter; "
                              "add rule inet sw in ip daddr 10.201.2.16/30 tcp dport != 3389 drop; "
                              "add rule inet sw in ip daddr 10.201.2.20 tcp dport != 5900 drop"}),
                 0);
        QCOMPARE(
            FRouter->Exec(
                {"nft", "add table inet sw; add chain inet sw fw { type filter hook forward priority 0; }; "
                        "add rule inet sw fw ip daddr 10.201.2.7 meta l4proto tcp reject"}),
            0);
        // The service on 3389 accepts connections and is never read: the handshake alone proves the host.
        FListener = std::make_unique<QProcess>();
        FListener->start(QStringLiteral("ip"),
                         {"netns", "exec", FPeer->Name(), "/usr/bin/python3", "-c",
                          "import socket, sys, time\n"
                          "s = socket.socket(); s.bind(('10.201.2.3', 3389)); s.listen(64)\n"
                          "k = [socket.create_server(('10.201.2.%d' % a, p))\n"
                          "     for a, p in ((17, 3389), (18, 3389), (19, 3389), (20, 5900))]\n"
                          "print('ready', flush=True); time.sleep(600)"});
        QVERIFY(FListener->waitForReadyRead(10000));
    }
    const auto results = ProbeAll(range, args, int(expected.size()), prefix);
    QVERIFY2(results.size() == expected.size(), qPrintable(results.value(0).Raw));
    for (int i = 0; i < results.size(); ++i) {
        const TProbeResult& r = results[i];
        QVERIFY2(QRegularExpression(QStringLiteral("^%1$").arg(expected[i])).match(r.Text).hasMatch(),
                 qPrintable(r.Raw));
        QCOMPARE(r.Outcome, r.Text == QLatin1String("Timed out") ? 2 : 0);
        // A probe starts 300 ms after the echo request, or at once without an ICMP socket.
        if (r.Text.contains(QLatin1String("TCP")))
            QVERIFY2(r.Elapsed < 1500 && r.Elapsed >= (range == RangeAll ? 790 : 490), qPrintable(r.Raw));
    }
    // All 3 ports for the first host, 3389 (which proved it up) for the next two, 3389 and then the rest for
    // the last: 8 SYNs, not 12 (up to 10 if a busy machine reads an answer late).
    QString rules;
    if (args.contains(QLatin1String("--stagger"))) {
        QCOMPARE(FPeer->Exec({"nft", "list", "ruleset"}, &rules), 0);
        const int n = QRegularExpression(QStringLiteral("packets (\\d+)")).match(rules).captured(1).toInt();
        QVERIFY2(n >= 8 && n <= 10, qPrintable(rules));
    }
}

void TestThreadPingNetns::cleanupTestCase()
{
    if (FListener) {
        FListener->kill();
        FListener->waitForFinished();
    }
    FPeer.reset();
    FRouter.reset();
    FClient.reset();
}

QList<TProbeResult> TestThreadPingNetns::ProbeAll(const QString& range, const QStringList& args, int hosts,
                                                  const QStringList& prefix)
{
    TProbeResult failed;
    if (FClient->Exec({"sysctl", "-qw", QStringLiteral("net.ipv4.ping_group_range=%1").arg(range)}) != 0) {
        failed.Raw = QStringLiteral("cannot set ping_group_range");
        return {failed};
    }
    QString output;
    FClient->Exec(prefix + QStringList{FProbe} + args, &output, 20000);
    const auto results = ParseProbe(output);
    if (results.size() != hosts) {
        failed.Raw = output;
        return {failed};
    }
    return results;
}

void TestThreadPingNetns::outcomes_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minElapsed");

    const struct
    {
        QString Range, Kind;
    } paths[] = {{RangeNone, QStringLiteral("raw")}, {RangeAll, QStringLiteral("datagram")}};
    for (const auto& path : paths) {
        auto row = [&](const char* name) -> QTestData& {
            return QTest::addRow("%s %s", qPrintable(path.Kind), name);
        };
        row("loopback") << path.Range << path.Kind << QStringList{"127.0.0.1"} << 0
                        << QStringLiteral("Response from 127.0.0.1 in %1 millisec.") << 500;
        row("router answers") << path.Range << path.Kind << QStringList{"10.201.1.1"} << 0
                              << QStringLiteral("Response from 10.201.1.1 in %1 millisec.") << 500;
        row("silent host") << path.Range << path.Kind << QStringList{"10.201.2.2"} << 2
                           << QStringLiteral("Timed out") << 5500;
        row("unreachable network") << path.Range << path.Kind << QStringList{"10.201.9.9"} << 3
                                   << QStringLiteral("10.201.1.1 reports destination network unreachable")
                                   << 500;
        row("TTL expired") << path.Range << path.Kind << QStringList{"--ttl", "1", "10.201.2.2"} << 4
                           << QStringLiteral("10.201.1.1 TTL expired") << 500;
        row("short timeout") << path.Range << path.Kind << QStringList{"--timeout", "1000", "10.201.2.2"} << 2
                             << QStringLiteral("Timed out") << 1500;
    }
}

void TestThreadPingNetns::outcomes()
{
    QFETCH(QString, range);
    QFETCH(QString, kind);
    QFETCH(QStringList, args);
    QFETCH(int, outcome);
    QFETCH(QString, text);
    QFETCH(int, minElapsed);
    const TProbeResult r = Probe(range, args);
    QVERIFY2(r.Ok, qPrintable(r.Raw));
    QCOMPARE(r.Kind, kind);
    QCOMPARE(r.Outcome, outcome);
    QCOMPARE(r.Text, text.contains(QLatin1String("%1")) ? text.arg(r.RoundTrip) : text);
    QVERIFY2(r.Elapsed >= minElapsed - 10 && r.Elapsed < minElapsed + 1500, qPrintable(r.Raw));
    if (outcome == 2) {
        QCOMPARE(r.From, QStringLiteral("0.0.0.0"));
        QCOMPARE(r.Bytes, 0);
        QCOMPARE(r.TTL, 0);
    } else {
        QVERIFY2(r.Bytes >= 28 && r.TTL > 0, qPrintable(r.Raw));
    }
}

void TestThreadPingNetns::errorsReachOnlyTheirCheck_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("kind");
    QTest::newRow("raw") << RangeNone << "raw";
    QTest::newRow("datagram") << RangeAll << "datagram";
}

void TestThreadPingNetns::errorsReachOnlyTheirCheck()
{
    // A datagram socket also flags every error message it queues as a pending error of the socket, which
    // fails the next send or read of whichever check meets it. Error messages must still reach only their
    // own check: expired TTLs, silent and answering hosts in turn, the errors arriving while the other
    // checks are still sending.
    QFETCH(QString, range);
    QFETCH(QString, kind);
    QStringList hosts;
    QStringList expected;
    for (int i = 1; i <= 10; ++i) {
        hosts << QStringLiteral("10.201.2.2@1") << QStringLiteral("10.201.2.2")
              << QStringLiteral("10.201.1.1");
        expected << QStringLiteral("10.201.1.1 TTL expired") << QStringLiteral("Timed out")
                 << QStringLiteral("Response from 10.201.1.1 in %1 millisec.");
    }
    const auto results = ProbeAll(range, hosts, int(hosts.size()));
    QVERIFY2(results.size() == hosts.size(), qPrintable(results.value(0).Raw));
    for (int i = 0; i < results.size(); ++i) {
        QCOMPARE(results[i].Kind, kind);
        QCOMPARE(results[i].Text, expected[i].contains(QLatin1String("%1"))
                                      ? expected[i].arg(results[i].RoundTrip)
                                      : expected[i]);
    }
}

void TestThreadPingNetns::laterWaitGetsItsWholeTime_data()
{
    errorsReachOnlyTheirCheck_data();
}

void TestThreadPingNetns::laterWaitGetsItsWholeTime()
{
    // An answered check leaves its deadline behind; the silent check that takes over its place later
    // must still wait its whole time from its own request.
    QFETCH(QString, range);
    const auto results =
        ProbeAll(range, {"--timeout", "2000", "--stagger", "700", "127.0.0.1", "10.201.2.2"}, 2);
    QVERIFY2(results.size() == 2, qPrintable(results.value(0).Raw));
    QCOMPARE(results[0].Outcome, 0);
    QCOMPARE(results[1].Text, QStringLiteral("Timed out"));
    QVERIFY2(results[1].RoundTrip >= 1990 && results[1].Elapsed >= 3190, qPrintable(results[1].Raw));
}

void TestThreadPingNetns::strayPacketsDuringTheWait_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<QString>("inject");
    QTest::addColumn<QString>("text");
    // The client waits for the silent peer 10.201.2.2 while a packet reaches it over loopback a second
    // in. An answer counts only from the host asked; an error only when it quotes a request to it.
    QTest::newRow("reply with the own number") << "700"
                                               << "0,700,1000,from=10.201.2.2"
                                               << "Response from 10.201.2.2 in %1 millisec.";
    QTest::newRow("reply with the own number from another host") << "700"
                                                                 << "0,700,1000"
                                                                 << "Timed out";
    QTest::newRow("reply with a wrong checksum") << "700"
                                                 << "0,700,1000,from=10.201.2.2,badsum"
                                                 << "Timed out";
    QTest::newRow("reply with another number") << "700"
                                               << "0,701,1000,from=10.201.2.2"
                                               << "Timed out";
    QTest::newRow("unreachable quoting the own number")
        << "700"
        << "3,700,1000,quoted=10.201.2.2"
        << "127.0.0.1 reports destination network unreachable";
    QTest::newRow("unreachable quoting a request to another host") << "700"
                                                                   << "3,700,1000,quoted=10.201.9.9"
                                                                   << "Timed out";
    QTest::newRow("TTL expired with options in the outer header") << "700"
                                                                  << "11,700,1000,quoted=10.201.2.2,options"
                                                                  << "127.0.0.1 TTL expired";
    QTest::newRow("TTL expired with options in the quoted header") << "700"
                                                                   << "11,700,1000,quoted=10.201.2.2,qoptions"
                                                                   << "127.0.0.1 TTL expired";
    QTest::newRow("timestamp with the own number") << "700"
                                                   << "13,700,1000,from=10.201.2.2"
                                                   << "Timed out";
    QTest::newRow("redirect with the own number") << "700"
                                                  << "5,700,1000,from=10.201.2.2"
                                                  << "Timed out";
    QTest::newRow("type 40 with the own number") << "700"
                                                 << "40,700,1000,from=10.201.2.2"
                                                 << "Timed out";
    QTest::newRow("number 0 accepts 3489") << "0"
                                           << "0,3489,1000,from=10.201.2.2"
                                           << "Response from 10.201.2.2 in %1 millisec.";
    QTest::newRow("number 0 ignores 0") << "0"
                                        << "0,0,1000,from=10.201.2.2"
                                        << "Timed out";
}

void TestThreadPingNetns::strayPacketsDuringTheWait()
{
    QFETCH(QString, sequence);
    QFETCH(QString, inject);
    QFETCH(QString, text);
    // Only a raw socket sees packets that answer nobody's request.
    const TProbeResult r = Probe(RangeNone, {"--seq", sequence, "--inject", inject, "10.201.2.2"});
    QVERIFY2(r.Ok, qPrintable(r.Raw));
    QCOMPARE(r.Kind, QStringLiteral("raw"));
    QCOMPARE(r.Text, text.contains(QLatin1String("%1")) ? text.arg(r.RoundTrip) : text);
}

void TestThreadPingNetns::withoutPrivilege_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("no ICMP socket allowed") << RangeNone << "none"
                                            << "Exception: Cannot allocate socket.";
    QTest::newRow("ping sockets allowed") << RangeAll << "datagram"
                                          << "Response from %2 in %1 millisec.";
}

void TestThreadPingNetns::withoutPrivilege()
{
    QFETCH(QString, range);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    if (RunCommand(QStringLiteral("setpriv"), {"--version"}) != 0)
        QSKIP("setpriv is not installed");
    const QStringList& asNobody = AsNobody;
    // Every check of the process ends the same way.
    const QStringList hosts{"127.0.0.1", "127.0.0.2"};
    const auto results = ProbeAll(range, hosts, int(hosts.size()), asNobody);
    for (int i = 0; i < results.size(); ++i) {
        const TProbeResult& r = results[i];
        QVERIFY2(r.Ok, qPrintable(r.Raw));
        QCOMPARE(r.Kind, kind);
        QCOMPARE(r.Text, text.contains(QLatin1String("%1")) ? text.arg(QString::number(r.RoundTrip), hosts[i])
                                                            : text);
        QCOMPARE(r.Outcome, text.startsWith(QLatin1String("Exception")) ? 1 : 0);
    }
}

void TestThreadPingNetns::identifierOnTheWire_data()
{
    QTest::addColumn<QString>("range");
    QTest::newRow("raw") << RangeNone;
    QTest::newRow("datagram") << RangeAll;
}

void TestThreadPingNetns::identifierOnTheWire()
{
    // Both kinds of socket put the low 16 bits of the process id into the request, least significant
    // byte first (the datagram socket's kernel writes its port there).
    QFETCH(QString, range);
    QCOMPARE(FClient->Exec({"sysctl", "-qw", QStringLiteral("net.ipv4.ping_group_range=%1").arg(range)}), 0);
    QString output;
    FClient->Exec({FProbe, "--wire", "127.0.0.1"}, &output, 20000);
    static const QRegularExpression form(QStringLiteral("wire=(-?\\d+) pid=(\\d+)"));
    const auto match = form.match(output);
    QVERIFY2(match.hasMatch(), qPrintable(output));
    QCOMPARE(match.captured(1), match.captured(2));
    QVERIFY2(ParseProbe(output).value(0).Text.startsWith(QLatin1String("Response from")), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestThreadPingNetns)
#include "tst_threadPingNetns.moc"
