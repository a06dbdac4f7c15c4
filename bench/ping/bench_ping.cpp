// Checks many computers at once, as the main window does after loading a database, and runs fping on
// the same addresses in the same run; prints both tools' figures side by side.
//
//   bench_ping [COUNT]     (default 10000; addresses 127.0.1.1, 127.0.1.2, ... 250 per third octet)
//
// Two rounds: every address answering, then one address in ten silent. The benchmark makes a network
// namespace of its own (so it must run as root): loopback up, and the silent addresses (10.77.x.y) routed
// through a veth pair to a neighbour that does not exist, so their requests vanish without an error.
// Each tool runs as a child process; the parent reads its results as they come and samples its thread
// count and resident memory. Time to the last result counts from the start of the child.
//
// Exits non-zero when a result is wrong or a target is missed: with every address answering, the last
// result in at most 1/5 of fping's time; with one in ten silent, at most 1/2; peak threads <= 64 and
// peak RSS <= 100 MB in both.
#include "net/icmpListener.h"
#include "net/threadPing.h"
#include "support/procStatus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char* ChildArgument = "--checks";
constexpr qint64 MaxThreads = 64;
constexpr qint64 MaxRssKb = 100 * 1024;

// Address i; with silentTenth every tenth one is routed into the void.
QString Address(int i, bool silentTenth)
{
    if (silentTenth && i % 10 == 9)
        return QStringLiteral("10.77.%1.%2").arg(i / 250).arg(i % 250 + 1);
    return QStringLiteral("127.0.%1.%2").arg(i / 250 + 1).arg(i % 250 + 1);
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
           Shell("ip route add 10.77.0.0/16 via 10.76.0.2 dev swb0");
}

// The child: one check per address, one line per result as it completes ("<outcome> <address>: <text>").
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
    return 0;
}

struct TRun
{
    bool Ran = false;
    int Answered = 0;
    int TimedOut = 0;
    int Other = 0;
    QString FirstOther;
    qint64 LastResultMs = 0;
    qint64 EndMs = 0;
    qint64 PeakThreads = 0;
    qint64 PeakRssKb = 0;
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
    QElapsedTimer clock;
    clock.start();
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
                const qint64 now = clock.elapsed();
                for (qsizetype at; (at = pending.indexOf('\n')) >= 0;) {
                    run.LastResultMs = now;
                    onLine(pending.left(at), run);
                    pending.remove(0, at + 1);
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
    run.EndMs = clock.elapsed();
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

bool Round(const QByteArray& self, int count, bool silentTenth)
{
    std::vector<QByteArray> checks{self, ChildArgument};
    std::vector<QByteArray> fping{"fping", "-c1", "-t5000", "-i1"};
    for (int i = 0; i < count; ++i) {
        checks.push_back(Address(i, silentTenth).toLatin1());
        fping.push_back(checks.back());
    }
    const int silent = silentTenth ? count / 10 : 0;
    std::printf("\n%d addresses, %s\n", count,
                silentTenth ? qPrintable(QStringLiteral("%1 of them silent").arg(silent)) : "all answering");

    const TRun ours = Measure(checks, QFileInfo(QString::fromLocal8Bit(self)).fileName().left(15).toLatin1(),
                              [](const QByteArray& line, TRun& run) {
                                  Count(run, line.startsWith("0 "), line.endsWith("Timed out"), line);
                              });
    const TRun theirs = Measure(fping, "fping", [](const QByteArray& line, TRun& run) {
        if (line.contains(" : [0]"))
            Count(run, line.contains(" bytes"), line.contains("timed out"), line);
    });

    std::printf("%-12s %10s %10s %12s %14s %10s %12s\n", "", "answered", "timed out", "other", "last result",
                "ended", "threads/RSS");
    auto print = [&](const char* name, const TRun& r) {
        std::printf("%-12s %10d %10d %12d %12.2f s %8.2f s %5lld / %.1f MB\n", name, r.Answered, r.TimedOut,
                    r.Other, r.LastResultMs / 1000.0, r.EndMs / 1000.0, static_cast<long long>(r.PeakThreads),
                    r.PeakRssKb / 1024.0);
    };
    print("sablewick", ours);
    if (!ours.FirstOther.isEmpty())
        std::printf("  e.g. %s\n", qPrintable(ours.FirstOther));
    if (theirs.Ran)
        print("fping", theirs);
    else
        std::printf("fping        not run (is it installed?)\n");
    const double ratio =
        theirs.LastResultMs > 0 ? double(ours.LastResultMs) / double(theirs.LastResultMs) : 0;
    const double allowed = silentTenth ? 0.5 : 0.2;
    std::printf("last result: sablewick / fping = %.3f (target <= %.1f)\n", ratio, allowed);

    const bool ok = ours.Ran && ours.Answered == count - silent && ours.TimedOut == silent &&
                    ours.Other == 0 && theirs.Ran && ratio <= allowed && ours.PeakThreads <= MaxThreads &&
                    ours.PeakRssKb <= MaxRssKb;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], ChildArgument) == 0)
        return RunChecks(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count <= 0 || count > 250 * 250) {
        std::fprintf(stderr, "usage: bench_ping [COUNT (1..62500)]\n");
        return 2;
    }
    if (!MakeNamespace())
        return 2;
    const QByteArray self = QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    const bool answering = Round(self, count, false);
    const bool silent = Round(self, count, true);
    return answering && silent ? 0 : 1;
}
