// Checks many computers at once, as the main window does after loading a database, and runs fping on
// the same addresses in the same run; prints both tools' figures side by side.
//
//   bench_ping [COUNT] [--no-i1]   (default 10000, at most 65535; addresses 127.0.1.1, 127.0.1.2, ...,
//                                   250 per third octet, then 127.1.x.y)
//
// Two rounds: every address answering, then one address in ten silent. Each round runs three times:
// our checks, `fping -c1 -t5000 -i0` (fping's fastest honest setting, the headline), `fping -i1` (its
// default pacing, a second row; --no-i1 leaves it out) and a minimal loop on a raw socket (each echo
// request sent as soon as the previous one left, answers read between them, the same 5 s wait): what
// this machine's kernel allows at all, so a target below it shows as such. The benchmark makes a network
// namespace of its own (so it must run as root): loopback up, and the silent addresses (10.77.x.y) routed
// through a veth pair to a neighbour that does not exist, so their requests vanish without an error. Each
// tool runs as a child process; the parent reads its results as they come and samples its thread count and
// resident memory. Our checks wait 0.5 s before their echo requests, so they are timed from their first echo
// request sent to their last result; fping from its start to its last result. The wall time from the child's
// start (our pause included) is printed beside it, and so is our send rate (echo requests from the first to
// the last sent, per second; beside it the rate at which the checks were made and started, which bounds
// it, since each is sent its own pause after its start), and each tool's CPU time (user and system, all its
// threads, start to exit).
//
// Prints min/median/max of each figure. Exits non-zero when a result is wrong or a target is missed
// (medians): all answering, ours <= 0.8 x fping -i0 (<= 0.6 from 30,000 addresses on); one in ten
// silent, wall time <= 1.05 x fping -i0's; peak threads <= 64 and peak RSS <= 100 MB (200 MB above
// 20,000 addresses).
#include "net/icmpListener.h"
#include "net/icmpPacket.h"
#include "net/threadPing.h"
#include "support/procStatus.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/filter.h>
#include <netinet/in.h>
#include <poll.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

const char* ChildArgument = "--checks";
const char* LoopArgument = "--raw-loop";
const char* SendsTag = "sends ";
constexpr qint64 MaxThreads = 64;
constexpr int Runs = 3;

qint64 MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Address i, 250 per octet (no .0 or .255 anywhere); with silentTenth every tenth one is routed into the
// void.
QString Address(int i, bool silentTenth)
{
    const int block = i / 250;
    if (silentTenth && i % 10 == 9)
        return QStringLiteral("10.%1.%2.%3").arg(77 + block / 250).arg(block % 250 + 1).arg(i % 250 + 1);
    return QStringLiteral("127.%1.%2.%3").arg(block / 250).arg(block % 250 + 1).arg(i % 250 + 1);
}

bool Shell(const char* command)
{
    if (std::system(command) == 0)
        return true;
    std::fprintf(stderr, "failed: %s\n", command);
    return false;
}

bool MakeNamespace()
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare(CLONE_NEWNET) (run as root)");
        return false;
    }
    return Shell("ip link set lo up") && Shell("ip link add swb0 type veth peer name swb1") &&
           Shell("ip link set swb0 up") && Shell("ip link set swb1 up") &&
           Shell("ip addr add 10.76.0.1/24 dev swb0") &&
           Shell("ip neigh add 10.76.0.2 lladdr 02:00:00:00:00:01 dev swb0 nud permanent") &&
           Shell("ip route add 10.77.0.0/16 via 10.76.0.2 dev swb0") &&
           Shell("ip route add 10.78.0.0/16 via 10.76.0.2 dev swb0");
}

// The child: one check per address, one line per result as it completes ("<outcome> <address>: <text>";
// buffered as fping's are, the last one flushed at once), then when its first and last echo requests left
// and how many did.
int RunChecks(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList addresses = app.arguments().mid(2);
    int pending = int(addresses.size());
    const qint64 madeFrom = MonotonicNs();
    for (int i = 0; i < addresses.size(); ++i) {
        auto* check = new TPingThread(addresses[i], 5000, -1);
        check->SetSequence(static_cast<quint16>(i + 1));
        check->SetOnTerminate([&, i](TWorkerThread* sender) {
            auto* done = static_cast<TPingThread*>(sender);
            std::printf("%d %s: %s\n", done->Outcome(), qPrintable(addresses[i]),
                        qPrintable(done->ReplyText()));
            if (--pending == 0) {
                std::fflush(stdout);
                app.quit();
            }
        });
        check->Start();
    }
    const qint64 madeUntil = MonotonicNs();
    if (pending > 0)
        app.exec();
    std::printf("%s%lld %lld %lld %lld\n", SendsTag, static_cast<long long>(TIcmpListener::FirstSendTime()),
                static_cast<long long>(TIcmpListener::LastSendTime()),
                static_cast<long long>(TIcmpListener::SentRequests()),
                static_cast<long long>(madeUntil - madeFrom));
    return 0;
}

// The reference child: a minimal loop on a raw socket whose filter passes only echo replies. It sends one
// echo request to each address as fast as the socket takes them, reads what has arrived after every 64,
// then waits for the rest until 5 s after the last request; one line per address as fping prints them.
int RunRawLoop(int argc, char** argv)
{
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("raw socket");
        return 127;
    }
    int size = 8 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size));
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program));

    const int count = argc - 2;
    std::vector<bool> answered(count, false);
    int left = count;
    auto drain = [&](int waitMs) {
        pollfd entry{fd, POLLIN, 0};
        if (waitMs > 0 && poll(&entry, 1, waitMs) <= 0)
            return;
        uchar packet[1024];
        for (ssize_t n; (n = recv(fd, packet, sizeof(packet), MSG_DONTWAIT)) > 0;) {
            const int header = (packet[0] & 0x0F) * 4;
            if (n < header + IcmpHeaderSize)
                continue;
            const int index = ReadLE16(packet + header + 6) - 1;
            if (index >= 0 && index < count && !answered[index]) {
                answered[index] = true;
                --left;
                std::printf("0 %s\n", argv[index + 2]);
            }
        }
    };
    qint64 lastSend = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray request = BuildEchoRequest(0x5357, static_cast<quint16>(i + 1), 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        inet_pton(AF_INET, argv[i + 2], &to.sin_addr);
        sendto(fd, request.constData(), size_t(request.size()), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof(to));
        lastSend = MonotonicNs();
        if (i % 64 == 63)
            drain(0);
    }
    for (qint64 now; left > 0 && (now = MonotonicNs()) < lastSend + 5000000000LL;)
        drain(int((lastSend + 5000000000LL - now) / 1000000) + 1);
    for (int i = 0; i < count; ++i)
        if (!answered[i])
            std::printf("2 %s: Timed out\n", argv[i + 2]);
    return 0;
}

struct TRun
{
    bool Ran = false;
    int Answered = 0;
    int TimedOut = 0;
    int Other = 0;
    QString FirstOther;
    qint64 StartNs = 0;
    qint64 FirstSendNs = 0;
    qint64 LastSendNs = 0;
    qint64 Sent = 0;
    qint64 LastResultNs = 0;
    qint64 PeakThreads = 0;
    qint64 PeakRssKb = 0;
    double CpuS = 0;   // user + system time of the whole child
    qint64 MakeNs = 0; // ours: making and starting every check

    // Ours from the first echo request, fping from its start.
    double WorkS() const { return double(LastResultNs - (FirstSendNs ? FirstSendNs : StartNs)) / 1e9; }
    double WallS() const { return double(LastResultNs - StartNs) / 1e9; }
    double Cpu() const { return CpuS; }
    // Checks made and started per second: each is sent its own pause after its start, so sending can go
    // no faster than this.
    double MakeRate() const { return MakeNs > 0 ? double(Sent) * 1e9 / double(MakeNs) : 0; }
    // Echo requests per second, first to last.
    double SendRate() const
    {
        return LastSendNs > FirstSendNs ? double(Sent - 1) * 1e9 / double(LastSendNs - FirstSendNs) : 0;
    }
};

// Runs the command as a child, reading its output while it runs (a pipe holds far less than ten
// thousand results) and sampling its threads and memory every few milliseconds.
TRun Measure(const std::vector<QByteArray>& command, const QByteArray& program,
             const std::function<void(const QByteArray& line, TRun& run)>& onLine)
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
    if (child < 0) {
        close(out[0]);
        return run;
    }
    const QString pid = QString::number(child);
    QByteArray pending;
    bool open = true;
    while (open) {
        pollfd entry{out[0], POLLIN, 0};
        if (poll(&entry, 1, 2) > 0) {
            char buffer[65536];
            const ssize_t n = read(out[0], buffer, sizeof(buffer));
            if (n <= 0) {
                open = false;
            } else {
                pending.append(buffer, int(n));
                const qint64 now = MonotonicNs();
                for (qsizetype at; (at = pending.indexOf('\n')) >= 0;) {
                    const QByteArray line = pending.left(at);
                    pending.remove(0, at + 1);
                    if (line.startsWith(SendsTag)) {
                        const QList<QByteArray> f = line.mid(int(std::strlen(SendsTag))).split(' ');
                        run.FirstSendNs = f.value(0).toLongLong();
                        run.LastSendNs = f.value(1).toLongLong();
                        run.Sent = f.value(2).toLongLong();
                        run.MakeNs = f.value(3).toLongLong();
                        continue;
                    }
                    run.LastResultNs = now;
                    onLine(line, run);
                }
            }
        }
        // The child's own figures, once it runs the program (not the copy of this one before exec).
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == program) {
            run.PeakRssKb = qMax(run.PeakRssKb, ProcStatusField("VmHWM", pid));
            run.PeakThreads = qMax(run.PeakThreads, ProcStatusField("Threads", pid));
        }
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.CpuS = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.Ran = WIFEXITED(status) && WEXITSTATUS(status) != 127;
    return run;
}

void Count(TRun& run, bool answered, bool timedOut, const QByteArray& line)
{
    if (answered)
        ++run.Answered;
    else if (timedOut)
        ++run.TimedOut;
    else if (++run.Other == 1)
        run.FirstOther = QString::fromLocal8Bit(line);
}

// "min / median / max" of a figure over the runs.
std::vector<double> Sorted(const std::vector<TRun>& runs, double (TRun::*figure)() const)
{
    std::vector<double> values;
    for (const TRun& r : runs)
        values.push_back((r.*figure)());
    std::sort(values.begin(), values.end());
    return values;
}

QByteArray Spread(const std::vector<double>& v, int decimals = 2)
{
    return QStringLiteral("%1 / %2 / %3")
        .arg(v.front(), 0, 'f', decimals)
        .arg(v[v.size() / 2], 0, 'f', decimals)
        .arg(v.back(), 0, 'f', decimals)
        .toLatin1();
}

bool Round(const QByteArray& self, int count, bool silentTenth, bool withI1)
{
    std::vector<QByteArray> checks{self, ChildArgument};
    std::vector<QByteArray> fping0{"fping", "-c1", "-t5000", "-i0"};
    std::vector<QByteArray> fping1{"fping", "-c1", "-t5000", "-i1"};
    std::vector<QByteArray> loop{self, LoopArgument};
    for (int i = 0; i < count; ++i) {
        checks.push_back(Address(i, silentTenth).toLatin1());
        fping0.push_back(checks.back());
        fping1.push_back(checks.back());
        loop.push_back(checks.back());
    }
    const int silent = silentTenth ? count / 10 : 0;
    std::printf("\n%d addresses, %s (min / median / max of %d runs; load average %s)\n", count,
                silentTenth ? qPrintable(QStringLiteral("%1 of them silent").arg(silent)) : "all answering",
                Runs, qPrintable(LoadAverage()));

    const QByteArray ourName = QFileInfo(QString::fromLocal8Bit(self)).fileName().left(15).toLatin1();
    auto fpingLine = [](const QByteArray& line, TRun& run) {
        if (line.contains(" : [0]"))
            Count(run, line.contains(" bytes"), line.contains("timed out"), line);
    };
    auto ourLine = [](const QByteArray& line, TRun& r) {
        Count(r, line.startsWith("0 "), line.endsWith("Timed out"), line);
    };
    std::vector<TRun> ours, i0, i1, raw;
    for (int run = 0; run < Runs; ++run) {
        ours.push_back(Measure(checks, ourName, ourLine));
        i0.push_back(Measure(fping0, "fping", fpingLine));
        if (withI1)
            i1.push_back(Measure(fping1, "fping", fpingLine));
        raw.push_back(Measure(loop, ourName, ourLine));
    }

    std::printf("%-16s %9s %9s %6s %24s %24s %20s %8s %10s\n", "", "answered", "timed out", "other",
                "first request..last (s)", "wall, start..last (s)", "CPU, whole run (s)", "threads",
                "RSS MB");
    bool resultsRight = true;
    auto print = [&](const char* name, const std::vector<TRun>& runs, bool isOurs) {
        if (runs.empty())
            return;
        const TRun& last = runs.back();
        qint64 threads = 0;
        qint64 rss = 0;
        for (const TRun& r : runs) {
            threads = qMax(threads, r.PeakThreads);
            rss = qMax(rss, r.PeakRssKb);
            if (!r.Ran || r.Answered != count - silent || r.TimedOut != silent || r.Other != 0) {
                if (isOurs)
                    resultsRight = false;
                std::printf("  %s: wrong results (answered %d, timed out %d, other %d)\n", name, r.Answered,
                            r.TimedOut, r.Other);
            }
        }
        std::printf("%-16s %9d %9d %6d %24s %24s %20s %8lld %10.1f\n", name, last.Answered, last.TimedOut,
                    last.Other, isOurs ? Spread(Sorted(runs, &TRun::WorkS)).constData() : "",
                    Spread(Sorted(runs, &TRun::WallS)).constData(),
                    Spread(Sorted(runs, &TRun::Cpu)).constData(), static_cast<long long>(threads),
                    rss / 1024.0);
        if (!last.FirstOther.isEmpty())
            std::printf("  e.g. %s\n", qPrintable(last.FirstOther));
    };
    print("sablewick", ours, true);
    print("fping -i0", i0, false);
    print("fping -i1", i1, false);
    print("raw loop", raw, false);
    std::printf("sablewick sends %s echo requests per second (target >= 60000); the checks were made and "
                "started at %s per second\n",
                Spread(Sorted(ours, &TRun::SendRate), 0).constData(),
                Spread(Sorted(ours, &TRun::MakeRate), 0).constData());

    const double oursWork = Sorted(ours, &TRun::WorkS)[Runs / 2];
    const double oursWall = Sorted(ours, &TRun::WallS)[Runs / 2];
    const double theirs = Sorted(i0, &TRun::WallS)[Runs / 2];
    const double work = theirs > 0 ? oursWork / theirs : 0;
    const double wall = theirs > 0 ? oursWall / theirs : 0;
    const double allowedWork = count >= 30000 ? 0.6 : 0.8;
    bool ok = resultsRight;
    const double loopRatio = theirs > 0 ? Sorted(raw, &TRun::WallS)[Runs / 2] / theirs : 0;
    if (silentTenth) {
        // Each check waits 0.5 s before its request and then 5 s from it (a silent address is among the
        // last ten): no run ends much before its last request left plus 5 s, and that request left after the
        // pause and the time it took to send all before it.
        std::vector<TRun> floor = ours;
        for (TRun& r : floor)
            r.LastResultNs = r.LastSendNs + qint64(5000) * 1000000;
        std::printf("medians: wall time sablewick / fping -i0 = %.3f (target <= 1.05); "
                    "first request..last / fping = %.3f; raw loop / fping = %.3f\n"
                    "our floor, last request sent + 5 s: %s s (wall), %.3f x fping -i0\n"
                    "raw loop + the checks' pause: %.3f x fping -i0\n",
                    wall, work, loopRatio, Spread(Sorted(floor, &TRun::WallS)).constData(),
                    theirs > 0 ? Sorted(floor, &TRun::WallS)[Runs / 2] / theirs : 0,
                    theirs > 0
                        ? (Sorted(raw, &TRun::WallS)[Runs / 2] + TPingThread::StartPause / 1000.0) / theirs
                        : 0);
        ok = ok && wall <= 1.05;
    } else {
        std::printf("medians: first request..last, sablewick / fping -i0 = %.3f (target <= %.1f); "
                    "wall time ratio %.3f; raw loop / fping = %.3f\n",
                    work, allowedWork, wall, loopRatio);
        ok = ok && work <= allowedWork;
    }
    const qint64 maxRssKb = (count > 20000 ? 200 : 100) * 1024;
    for (const TRun& r : ours)
        ok = ok && r.PeakThreads <= MaxThreads && r.PeakRssKb <= maxRssKb;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], ChildArgument) == 0)
        return RunChecks(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], LoopArgument) == 0)
        return RunRawLoop(argc, argv);
    int count = 10000;
    bool withI1 = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-i1") == 0)
            withI1 = false;
        else
            count = std::atoi(argv[i]);
    }
    if (count <= 0 || count > 65535) {
        std::fprintf(stderr, "usage: bench_ping [COUNT (1..65535)] [--no-i1]\n");
        return 2;
    }
    if (!MakeNamespace())
        return 2;
    const QByteArray self = QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    const bool answering = Round(self, count, false, withI1);
    const bool silent = Round(self, count, true, withI1);
    return answering && silent ? 0 : 1;
}
