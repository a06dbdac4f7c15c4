// Checks computers of which half drop echo requests and answer only on a TCP port, as an office of
// firewalled desktops does, and runs nmap's TCP host discovery on the same addresses in the same run.
//
//   bench_tcpProbe [COUNT]     (default 10000, at most 60000; run as root)
//
// The benchmark makes a network namespace of its own and a peer namespace behind one next hop: the peer
// holds every address on its loopback interface, so the neighbour table (shared by all namespaces) holds
// a single entry. Addresses 10.90.x.y answer echo requests; addresses 10.91.x.y drop ICMP and every TCP
// port but 3389, where the peer accepts (a listener that accepts and closes at once). Our checks run with
// the default port list (22, 80, 135, 139, 443, 445, 3389, 5900).
//
// Three runs each, min / median / max: our checks (one TPingThread per address, started at once) timed
// from the first echo request to the last result, the wall time from the process's start, the peak of
// descriptors and threads of the process, the most probe connections open at once; then
// `nmap -sn -PS22,3389 -n` on the same addresses, timed from its start to its end.
// Exits non-zero when a status is wrong or arrives more than 1.5 s after the first echo request.
#include "net/checkSettings.h"
#include "net/icmpListener.h"
#include "net/tcpProbe.h"
#include "net/threadPing.h"
#include "support/procStatus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

const char* ChildArgument = "--checks";
const char* TailTag = "tail ";
constexpr int Runs = 3;
constexpr double Limit = 1.5;

qint64 MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool Firewalled(int i)
{
    return i % 2 == 1;
}

QString Address(int i)
{
    const int n = i / 2 + 1;
    return QStringLiteral("10.%1.%2.%3").arg(Firewalled(i) ? 91 : 90).arg(n / 250).arg(n % 250 + 1);
}

bool Shell(const QString& command)
{
    if (std::system(command.toLocal8Bit().constData()) == 0)
        return true;
    std::fprintf(stderr, "failed: %s\n", qPrintable(command));
    return false;
}

const QString Peer = QStringLiteral("swtcp%1").arg(getpid());

bool MakeNetwork(int count)
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare(CLONE_NEWNET) (run as root)");
        return false;
    }
    const QString in = QStringLiteral("ip netns exec %1 ").arg(Peer);
    if (!Shell("ip link set lo up") || !Shell("ip netns add " + Peer) ||
        !Shell("ip link add swt0 type veth peer name swt1 netns " + Peer) ||
        !Shell("ip addr add 10.89.0.1/24 dev swt0") || !Shell("ip link set swt0 up") ||
        !Shell(in + "ip addr add 10.89.0.2/24 dev swt1") || !Shell(in + "ip link set swt1 up") ||
        !Shell(in + "ip link set lo up") || !Shell("ip route add 10.90.0.0/15 via 10.89.0.2") ||
        !Shell(in + "sysctl -qw net.core.somaxconn=65535") ||
        !Shell(in + "sysctl -qw net.ipv4.tcp_max_syn_backlog=65535"))
        return false;
    // Every address on the peer's loopback (this kernel may lack the dummy driver; either way only the
    // next hop enters the neighbour table), added in one batch.
    QFile batch(QStringLiteral("/tmp/%1.batch").arg(Peer));
    if (!batch.open(QIODevice::WriteOnly))
        return false;
    for (int i = 0; i < count; ++i)
        batch.write(QStringLiteral("addr add %1/32 dev lo\n").arg(Address(i)).toLatin1());
    batch.close();
    const bool added = Shell(in + "ip -batch " + batch.fileName());
    batch.remove();
    return added &&
           Shell(in + "nft 'add table inet sw; add chain inet sw in { type filter hook input priority 0; }; "
                      "add rule inet sw in ip daddr 10.91.0.0/16 ip protocol icmp drop; "
                      "add rule inet sw in ip daddr 10.91.0.0/16 tcp dport != 3389 drop'") &&
           Shell(in + "/usr/bin/python3 -c 'import socket, os\n"
                      "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                      "s.bind((\"0.0.0.0\", 3389)); s.listen(65535)\n"
                      "if os.fork(): os._exit(0)\n"
                      "while True:\n"
                      "    c, a = s.accept(); c.close()'");
}

// The child: one check per address; one line per result, then "tail" with its own figures.
int RunChecks(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList addresses = app.arguments().mid(2);
    int pending = int(addresses.size());
    const std::vector<quint16> ports = DefaultTcpProbePorts();
    for (int i = 0; i < addresses.size(); ++i) {
        auto* check = new TPingThread(addresses[i], 5000, -1);
        check->SetSequence(static_cast<quint16>(i + 1));
        check->SetTcpPorts(ports);
        check->SetOnTerminate([&, i](TWorkerThread* sender) {
            auto* done = static_cast<TPingThread*>(sender);
            std::printf("%s: %s\n", qPrintable(addresses[i]), qPrintable(done->ReplyText()));
            if (--pending == 0)
                app.quit();
        });
        check->Start();
    }
    if (pending > 0)
        app.exec();
    int peak = 0;
    TWorkerEngine::Instance().Post([&peak] { peak = TTcpProbe::PeakOpenConnections(); });
    QThread::msleep(50);
    std::printf("%s%lld %d %d\n", TailTag, static_cast<long long>(TIcmpListener::FirstSendTime()), peak,
                TTcpProbe::MaxOpenConnections());
    std::fflush(stdout);
    return 0;
}

int OpenDescriptors(pid_t pid)
{
    DIR* dir = opendir(QStringLiteral("/proc/%1/fd").arg(pid).toLatin1().constData());
    if (!dir)
        return 0;
    int count = 0;
    while (dirent* entry = readdir(dir))
        count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
}

struct TRun
{
    int Right = 0;
    int Wrong = 0;
    QString FirstWrong;
    qint64 StartNs = 0;
    qint64 FirstSendNs = 0;
    qint64 LastResultNs = 0;
    qint64 EndNs = 0;
    int PeakFds = 0;
    qint64 PeakThreads = 0;
    int PeakProbes = 0;
    int ProbeBound = 0;
    QString Summary;
};

// Runs the command, reading its output as it comes and sampling the child's descriptors and threads.
TRun Measure(const std::vector<QByteArray>& command, const QByteArray& program,
             const std::function<void(const QByteArray&, TRun&)>& onLine)
{
    TRun run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
    run.StartNs = MonotonicNs();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        std::vector<char*> argv;
        for (const QByteArray& a : command)
            argv.push_back(const_cast<char*>(a.constData()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    QByteArray pending;
    qint64 lastLook = 0;
    for (bool open = true; open;) {
        pollfd entry{out[0], POLLIN, 0};
        if (poll(&entry, 1, 2) > 0) {
            char buffer[65536];
            const ssize_t n = read(out[0], buffer, sizeof(buffer));
            open = n > 0;
            if (open)
                pending.append(buffer, int(n));
            const qint64 now = MonotonicNs();
            for (qsizetype at; (at = pending.indexOf('\n')) >= 0;) {
                const QByteArray line = pending.left(at);
                pending.remove(0, at + 1);
                if (line.startsWith(TailTag)) {
                    const QList<QByteArray> f = line.mid(int(std::strlen(TailTag))).split(' ');
                    run.FirstSendNs = f.value(0).toLongLong();
                    run.PeakProbes = f.value(1).toInt();
                    run.ProbeBound = f.value(2).toInt();
                    continue;
                }
                onLine(line, run);
                run.LastResultNs = now;
            }
        }
        // Reading hundreds of descriptors costs time of its own: a look every 10 ms.
        if (MonotonicNs() - lastLook < 10000000)
            continue;
        lastLook = MonotonicNs();
        QFile comm(QStringLiteral("/proc/%1/comm").arg(child));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == program) {
            run.PeakFds = std::max(run.PeakFds, OpenDescriptors(child));
            run.PeakThreads = std::max(run.PeakThreads, ProcStatusField("Threads", QString::number(child)));
        }
    }
    close(out[0]);
    waitpid(child, nullptr, 0);
    run.EndNs = MonotonicNs();
    return run;
}

std::vector<double> Sorted(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values;
}

QString Spread(const std::vector<double>& v)
{
    const auto s = Sorted(v);
    return QStringLiteral("%1 / %2 / %3")
        .arg(s.front(), 0, 'f', 2)
        .arg(s[s.size() / 2], 0, 'f', 2)
        .arg(s.back(), 0, 'f', 2);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], ChildArgument) == 0)
        return RunChecks(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count <= 0 || count > 60000) {
        std::fprintf(stderr, "usage: bench_tcpProbe [COUNT (1..60000)]\n");
        return 2;
    }
    if (!MakeNetwork(count))
        return 2;
    const QByteArray self = QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    std::vector<QByteArray> checks{self, ChildArgument};
    QByteArray targets;
    for (int i = 0; i < count; ++i) {
        checks.push_back(Address(i).toLatin1());
        targets += checks.back() + '\n';
    }
    const QString list = QStringLiteral("/tmp/%1.targets").arg(Peer);
    QFile file(list);
    if (!file.open(QIODevice::WriteOnly) || file.write(targets) != targets.size())
        return 2;
    file.close();
    const std::vector<QByteArray> nmap{"nmap", "-sn", "-PS22,3389", "-n", "-iL", list.toLatin1()};

    const QByteArray name = QFileInfo(QString::fromLocal8Bit(self)).fileName().left(15).toLatin1();
    static const QRegularExpression echoText(
        QStringLiteral("^10\\.90\\.\\S+: Response from 10\\.90\\.\\S+ in \\d+ millisec\\.$"));
    static const QRegularExpression tcpText(
        QStringLiteral("^(10\\.91\\.\\S+): Response from (\\S+) on TCP port 3389\\.$"));
    std::vector<TRun> ours, theirs;
    bool ok = true;
    for (int r = 0; r < Runs; ++r) {
        ours.push_back(Measure(checks, name, [](const QByteArray& line, TRun& run) {
            const QString text = QString::fromLatin1(line);
            const auto tcp = tcpText.match(text);
            if (echoText.match(text).hasMatch() || (tcp.hasMatch() && tcp.captured(1) == tcp.captured(2))) {
                ++run.Right;
            } else if (++run.Wrong == 1) {
                run.FirstWrong = text;
            }
        }));
        theirs.push_back(Measure(nmap, "nmap", [](const QByteArray& line, TRun& run) {
            if (line.startsWith("Nmap done"))
                run.Summary = QString::fromLatin1(line);
        }));
    }
    file.remove();

    std::vector<double> work, wall, nmapTimes;
    int peakFds = 0, peakProbes = 0, bound = 0;
    qint64 peakThreads = 0, nmapThreads = 0;
    int nmapFds = 0;
    for (const TRun& run : ours) {
        work.push_back(double(run.LastResultNs - run.FirstSendNs) / 1e9);
        wall.push_back(double(run.LastResultNs - run.StartNs) / 1e9);
        peakFds = std::max(peakFds, run.PeakFds);
        peakThreads = std::max(peakThreads, run.PeakThreads);
        peakProbes = std::max(peakProbes, run.PeakProbes);
        bound = run.ProbeBound;
        ok = ok && run.Right == count && run.Wrong == 0 && run.FirstSendNs > 0 && work.back() <= Limit;
        if (run.Wrong)
            std::printf("wrong: %d, e.g. %s\n", run.Wrong, qPrintable(run.FirstWrong));
    }
    for (const TRun& run : theirs) {
        nmapTimes.push_back(double(run.EndNs - run.StartNs) / 1e9);
        nmapThreads = std::max(nmapThreads, run.PeakThreads);
        nmapFds = std::max(nmapFds, run.PeakFds);
    }
    std::printf("\n%d computers, half answering echo, half only TCP 3389 (min / median / max of %d runs; "
                "figures measured under load)\n",
                count, Runs);
    std::printf("sablewick: right %d of %d; first request..last result %s s (limit %.1f); wall %s s; "
                "peak descriptors %d, threads %lld, probe connections %d (bound %d)\n",
                ours.back().Right, count, qPrintable(Spread(work)), Limit, qPrintable(Spread(wall)), peakFds,
                static_cast<long long>(peakThreads), peakProbes, bound);
    std::printf("nmap -sn -PS22,3389 -n: %s s; peak descriptors %d, threads %lld\n  %s\n",
                qPrintable(Spread(nmapTimes)), nmapFds, static_cast<long long>(nmapThreads),
                qPrintable(theirs.back().Summary));
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    Shell("ip netns pids " + Peer + " | xargs -r kill");
    Shell("ip netns del " + Peer);
    return ok ? 0 : 1;
}
