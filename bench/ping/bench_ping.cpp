// Checks many computers at once, as the main window does after loading a database, and runs fping on
// the same addresses in the same run; prints both tools' figures side by side.
//
//   bench_ping [COUNT] [--no-i1]   (default 10000, at most 65535; addresses 127.0.1.1, 127.0.1.2, ...,
//                                   250 per third octet, then 127.1.x.y)
//
// Two rounds: every address answering, then one address in ten silent. Each round runs three times:
// our checks, `fping -c1 -t5000 -i0` (fping's fastest honest setting, the headline) and `fping -i1` (its
// default pacing, a second row; --no-i1 leaves it out). The benchmark makes a network namespace of its own
// (so it must run as root): loopback up, and the silent addresses (10.77.x.y) routed through a veth pair
// to a neighbour that does not exist, so their requests vanish without an error.
// Each tool runs as a child process; the parent reads its results as they come and samples its thread
// count and resident memory. Our checks wait 0.5 s before their echo requests, so they are timed from
// their first echo request sent to their last result; fping from its start to its last result. The wall
// time from the child's start (our pause included) is printed beside it.
//
// Prints min/median/max of each figure. Exits non-zero when a result is wrong or a target is missed
// (medians): all answering, ours <= 0.8 x fping -i0 (<= 0.6 from 30,000 addresses on); one in ten
// silent, wall time <= 1.05 x fping -i0's; peak threads <= 64 and peak RSS <= 100 MB (200 MB above
// 20,000 addresses).
#include "net/icmpListener.h"
#include "net/threadPing.h"
#include "support/procStatus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

const char* ChildArgument = "--checks";
const char* FirstSendTag = "first-send ";
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

// The child: one check per address, one line per result as it completes ("<outcome> <address>: <text>"),
// then the moment its first echo request left.
int RunChecks(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList addresses = app.arguments().mid(2);
    int pending = int(addresses.size());
    for (int i = 0; i < addresses.size(); ++i) {
        auto* check = new TPingThread(addresses[i], 5000, -1);
        check->SetSequence(static_cast<quint16>(i + 1));
        check->SetOnTerminate([&, i](TWorkerThread* sender) {
            auto* done = static_cast<TPingThread*>(sender);
            std::printf("%d %s: %s\n", done->Outcome(), qPrintable(addresses[i]),
                        qPrintable(done->ReplyText()));
            std::fflush(stdout);
            if (--pending == 0)
                app.quit();
        });
        check->Start();
    }
    if (pending > 0)
        app.exec();
    std::printf("%s%lld\n", FirstSendTag, static_cast<long long>(TIcmpListener::FirstSendTime()));
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
    qint64 LastResultNs = 0;
    qint64 PeakThreads = 0;
    qint64 PeakRssKb = 0;

    // Ours from the first echo request, fping from its start.
    double WorkS() const { return double(LastResultNs - (FirstSendNs ? FirstSendNs : StartNs)) / 1e9; }
    double WallS() const { return double(LastResultNs - StartNs) / 1e9; }
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
                    if (line.startsWith(FirstSendTag)) {
                        run.FirstSendNs = line.mid(int(std::strlen(FirstSendTag))).toLongLong();
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
    waitpid(child, &status, 0);
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

QByteArray Spread(const std::vector<double>& v)
{
    return QStringLiteral("%1 / %2 / %3")
        .arg(v.front(), 0, 'f', 2)
        .arg(v[v.size() / 2], 0, 'f', 2)
        .arg(v.back(), 0, 'f', 2)
        .toLatin1();
}

bool Round(const QByteArray& self, int count, bool silentTenth, bool withI1)
{
    std::vector<QByteArray> checks{self, ChildArgument};
    std::vector<QByteArray> fping0{"fping", "-c1", "-t5000", "-i0"};
    std::vector<QByteArray> fping1{"fping", "-c1", "-t5000", "-i1"};
    for (int i = 0; i < count; ++i) {
        checks.push_back(Address(i, silentTenth).toLatin1());
        fping0.push_back(checks.back());
        fping1.push_back(checks.back());
    }
    const int silent = silentTenth ? count / 10 : 0;
    std::printf("\n%d addresses, %s (min / median / max of %d runs; figures measured under load)\n", count,
                silentTenth ? qPrintable(QStringLiteral("%1 of them silent").arg(silent)) : "all answering",
                Runs);

    const QByteArray ourName = QFileInfo(QString::fromLocal8Bit(self)).fileName().left(15).toLatin1();
    auto fpingLine = [](const QByteArray& line, TRun& run) {
        if (line.contains(" : [0]"))
            Count(run, line.contains(" bytes"), line.contains("timed out"), line);
    };
    std::vector<TRun> ours, i0, i1;
    for (int run = 0; run < Runs; ++run) {
        ours.push_back(Measure(checks, ourName, [](const QByteArray& line, TRun& r) {
            Count(r, line.startsWith("0 "), line.endsWith("Timed out"), line);
        }));
        i0.push_back(Measure(fping0, "fping", fpingLine));
        if (withI1)
            i1.push_back(Measure(fping1, "fping", fpingLine));
    }

    std::printf("%-16s %9s %9s %6s %24s %24s %8s %10s\n", "", "answered", "timed out", "other",
                "first request..last (s)", "wall, start..last (s)", "threads", "RSS MB");
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
        std::printf("%-16s %9d %9d %6d %24s %24s %8lld %10.1f\n", name, last.Answered, last.TimedOut,
                    last.Other, isOurs ? Spread(Sorted(runs, &TRun::WorkS)).constData() : "",
                    Spread(Sorted(runs, &TRun::WallS)).constData(), static_cast<long long>(threads),
                    rss / 1024.0);
        if (!last.FirstOther.isEmpty())
            std::printf("  e.g. %s\n", qPrintable(last.FirstOther));
    };
    print("sablewick", ours, true);
    print("fping -i0", i0, false);
    print("fping -i1", i1, false);

    const double oursWork = Sorted(ours, &TRun::WorkS)[Runs / 2];
    const double oursWall = Sorted(ours, &TRun::WallS)[Runs / 2];
    const double theirs = Sorted(i0, &TRun::WallS)[Runs / 2];
    const double work = theirs > 0 ? oursWork / theirs : 0;
    const double wall = theirs > 0 ? oursWall / theirs : 0;
    const double allowedWork = count >= 30000 ? 0.6 : 0.8;
    bool ok = resultsRight;
    if (silentTenth) {
        std::printf("medians: wall time sablewick / fping -i0 = %.3f (target <= 1.05); "
                    "first request..last / fping = %.3f\n",
                    wall, work);
        ok = ok && wall <= 1.05;
    } else {
        std::printf("medians: first request..last, sablewick / fping -i0 = %.3f (target <= %.1f); "
                    "wall time ratio %.3f\n",
                    work, allowedWork, wall);
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
