// Computers behind relays: 10 relays (Debian's sshd in namespaces), each serving 1,000 addresses that a
// router namespace behind it answers for (a local route on its loopback, so the shared neighbour table
// holds one entry per relay). Measures the time until every status is known, the time until every magic
// packet has arrived, and the ssh connections each server saw.
//
//   this namespace 10.240.R.1 --- 10.240.R.2 relay R 10.241.R.1 --- 10.241.R.2 router R
//                                                    router R: 10.(100+R).0.0/22 local (on its loopback)
#include "model/computers.h"
#include "net/relayHub.h"
#include "support/netns.h"
#include "support/sshServer.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <vector>

namespace {

struct TSite
{
    std::unique_ptr<TTestNamespace> Relay, Router;
    std::unique_ptr<TSshServer> Server;
    std::unique_ptr<QProcess> Counter;
};

// Logins a server accepted since it started (its log's "Accepted" lines): every connection, also those
// already closed.
int Logins(const QString& log)
{
    QFile file(log);
    int logins = 0;
    if (file.open(QIODevice::ReadOnly))
        while (!file.atEnd())
            logins += file.readLine().startsWith("Accepted ");
    return logins;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "bench_relay: %s\n", what);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int relays = argc > 1 ? std::atoi(argv[1]) : 10;
    const int perRelay = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (relays < 1 || relays > 50 || perRelay < 1 || perRelay > 1000)
        return Fail("usage: bench_relay [relays<=50] [computers per relay<=1000]");
    QTemporaryDir dir(QStringLiteral("/tmp/swbench-XXXXXX"));
    TSshClientSetup client(dir.path() + "/client");
    if (!client.Ok())
        return Fail("cannot set up the ssh client");
    std::vector<TSite> sites(static_cast<size_t>(relays));
    QString conf;
    for (int r = 0; r < relays; ++r) {
        TSite& site = sites[static_cast<size_t>(r)];
        site.Relay = std::make_unique<TTestNamespace>(QStringLiteral("brel"));
        site.Router = std::make_unique<TTestNamespace>(QStringLiteral("brou"));
        const QString wan = QStringLiteral("10.240.%1.").arg(r), lan = QStringLiteral("10.241.%1.").arg(r);
        const QString targets = QStringLiteral("10.%1.0.0/22").arg(100 + r);
        if (!site.Relay->Ok() || !site.Router->Ok() ||
            !ConnectVeth(nullptr, wan + "1/24", site.Relay.get(), wan + "2/24") ||
            !ConnectVeth(site.Relay.get(), lan + "1/24", site.Router.get(), lan + "2/24"))
            return Fail("cannot build the namespaces");
        site.Relay->Exec({"sysctl", "-q", "-w", "net.ipv4.ip_forward=1"});
        site.Relay->Exec({"ip", "route", "add", targets, "via", lan + "2"});
        site.Router->Exec({"ip", "route", "add", "local", targets, "dev", "lo"});
        site.Router->Exec({"ip", "route", "add", "default", "via", lan + "1"});
        site.Server = std::make_unique<TSshServer>(*site.Relay, dir.path() + QStringLiteral("/sshd%1").arg(r),
                                                   wan + "2", 22, client.ClientPublicKey());
        QString error;
        if (!site.Server->Start(&error))
            return Fail(qPrintable(error));
        client.TrustHost(wan + "2", site.Server->HostPublicKey());
        // Counts the distinct magic packets of this site's MACs that reach the router's networks, and
        // when the last new one came; ends 3 s after the last packet (60 s when none comes).
        site.Counter = std::make_unique<QProcess>();
        site.Counter->start(
            "ip",
            {"netns", "exec", site.Router->Name(), "/usr/bin/python3", "-c",
             QStringLiteral(
                 "import socket,time\ns=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                 "s.setsockopt(socket.SOL_SOCKET,33,1<<24)\ns.bind(('0.0.0.0',9))\ns.settimeout(60)\n"
                 "seen=set()\nlast=0\nprint('ready',flush=True)\n"
                 "try:\n  while True:\n    d=s.recv(200)\n    s.settimeout(3)\n"
                 "    m=d[6:12]\n"
                 "    if d[:6]==b'\\xff'*6 and d[6:]==m*16 and m[:4]==bytes([2,0,0,%1]) and m not in seen:\n"
                 "      seen.add(m)\n      last=time.time()\n"
                 "except socket.timeout: pass\nprint(len(seen),last,flush=True)")
                 .arg(r)});
        site.Counter->waitForReadyRead(10000);
        conf += QStringLiteral("[site%1]\ndestination=%2\nnetworks=%3\n").arg(r).arg(wan + "2", targets);
    }
    client.WriteRelays(conf);
    client.WriteSettings("[checks]\ntcpPorts=\n");
    ReloadRelays();

    TGroup group;
    std::vector<TComputer*> computers;
    // The relays' computers interleaved, as a list sorted by name would have them.
    for (int i = 0; i < perRelay; ++i)
        for (int r = 0; r < relays; ++r) {
            TComputer* computer = group.Computers()->Add();
            const int host = i + 1;
            computer->IPAddress = QStringLiteral("10.%1.%2.%3").arg(100 + r).arg(host / 256).arg(host % 256);
            computer->SubNet = QStringLiteral("255.255.252.0");
            computer->Port = 9;
            computer->MACAddresses()->Add()->Address = QStringLiteral("02-00-00-%1-%2-%3")
                                                           .arg(r, 2, 16, QLatin1Char('0'))
                                                           .arg(host / 256, 2, 16, QLatin1Char('0'))
                                                           .arg(host % 256, 2, 16, QLatin1Char('0'));
            computer->PingSequence = static_cast<quint16>(computers.size() + 1);
            computers.push_back(computer);
        }

    // Every status, from the first check started to the last result.
    QElapsedTimer clock;
    clock.start();
    for (TComputer* computer : computers)
        computer->CheckOnline();
    qint64 statusMs = -1;
    while (clock.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (std::all_of(computers.begin(), computers.end(),
                        [](const TComputer* computer) { return computer->RunningCheck() == nullptr; })) {
            statusMs = clock.elapsed();
            break;
        }
    }
    // Known means answered, through its own relay, from its own address.
    size_t online = 0;
    for (size_t i = 0; i < computers.size(); ++i) {
        const TComputer* computer = computers[i];
        online += computer->Online && computer->RelayName == QStringLiteral("site%1").arg(i % relays) &&
                  computer->LastPingReply.startsWith("Response from " + computer->IPAddress + " in ");
    }

    // Every wake-up, from the first asked for to the last packet's arrival.
    const double wakeStart = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    clock.restart();
    size_t ended = 0, sent = 0;
    for (TComputer* computer : computers)
        group.WakeComputerByID(computer->ItemID(), 0, [&ended, &sent](bool ok, const QString&) {
            ++ended;
            sent += ok;
        });

    while (ended < computers.size() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 wakeSentMs = clock.elapsed();
    TRelayHub::Instance().CloseConnections();
    long arrived = 0;
    double lastArrival = 0;
    for (TSite& site : sites) {
        site.Counter->waitForFinished(70000);
        const QList<QByteArray> fields =
            site.Counter->readAllStandardOutput().split('\n').value(1).split(' ');
        arrived += fields.value(0).toLong();
        lastArrival = std::max(lastArrival, fields.value(1).toDouble());
    }
    // Every ssh connection a server accepted during the run, not only those open at the end.
    QStringList connections;
    for (int r = 0; r < relays; ++r)
        connections << QString::number(Logins(dir.path() + QStringLiteral("/sshd%1/sshd.log").arg(r)));
    std::printf("relays %d, computers %zu\n", relays, computers.size());
    std::printf("every status known: %.2f s (%zu online through their relay)\n", statusMs / 1000.0, online);
    std::printf("every wake-up sent by its relay: %.2f s (%zu of %zu)\n", wakeSentMs / 1000.0, sent,
                computers.size());
    std::printf("every magic packet arrived: %.2f s (%ld distinct of %zu)\n", lastArrival - wakeStart,
                arrived, computers.size());
    std::printf("ssh connections per server: %s\n", qPrintable(connections.join(QLatin1Char(' '))));
    const bool oneEach = connections.count(QStringLiteral("1")) == relays;
    const bool met = statusMs >= 0 && statusMs <= 5000 && online == computers.size() &&
                     arrived == long(computers.size()) && lastArrival - wakeStart <= 3.0 && oneEach;
    return met ? 0 : 1;
}
