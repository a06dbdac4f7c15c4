// Checks many computers at once, as the main window does after loading a database, and compares with
// fping on the same addresses. Every check must end online, all within 7 seconds.
//
//   bench_ping [COUNT]     (default 1000; addresses 127.0.1.1, 127.0.1.2, ... 250 per third octet)
//
// Prints wall time, peak thread count and peak resident memory of both, and exits non-zero when a check
// fails or the target is missed. Run as root (raw socket) or where net.ipv4.ping_group_range allows ICMP
// datagram sockets.
#include "net/icmpListener.h"
#include "net/threadPing.h"

#include <atomic>
#include <cstdio>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 TargetMs = 7000;

qint64 StatusField(const char* name, const QString& pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    return -1;
}

QStringList Addresses(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("127.0.%1.%2").arg(i / 250 + 1).arg(i % 250 + 1);
    return list;
}

struct TFpingRun
{
    bool Ran = false;
    int Alive = 0;
    qint64 Ms = 0;
    qint64 MaxRssKb = 0;
    qint64 MaxThreads = 0;
};

// fping with one probe per host and a 5-second timeout, like one round of checks.
TFpingRun RunFping(const QStringList& addresses)
{
    TFpingRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    QElapsedTimer clock;
    clock.start();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<QByteArray> storage{"fping", "-a", "-q", "-r", "0", "-t", "5000", "-i", "1"};
        for (const QString& a : addresses)
            storage.push_back(a.toLatin1());
        std::vector<char*> argv;
        for (auto& s : storage)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        execvp("fping", argv.data());
        _exit(127);
    }
    close(out[1]);
    if (child < 0) {
        close(out[0]);
        return run;
    }
    // The kernel's own figure (ru_maxrss) would count the pages the child shared with this process
    // before it started fping; sample fping's own high-water mark while it runs instead.
    const QString pid = QString::number(child);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "fping") {
            run.MaxRssKb = qMax(run.MaxRssKb, StatusField("VmHWM", pid));
            run.MaxThreads = qMax(run.MaxThreads, StatusField("Threads", pid));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.Ms = clock.elapsed();
    QByteArray output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof(buffer))) > 0)
        output.append(buffer, int(n));
    close(out[0]);
    run.Ran = WIFEXITED(status) && WEXITSTATUS(status) != 127;
    run.Alive = int(output.count('\n'));
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000;
    if (count <= 0 || count > 250 * 250) {
        std::fprintf(stderr, "usage: bench_ping [COUNT (1..62500)]\n");
        return 2;
    }
    const QStringList addresses = Addresses(count);

    // Threads and memory sampled from the side, so the figures include the busiest moment.
    std::atomic<bool> sampling{true};
    std::atomic<qint64> peakThreads{0};
    std::thread sampler([&] {
        while (sampling.load()) {
            const qint64 threads = StatusField("Threads");
            if (threads > peakThreads.load())
                peakThreads.store(threads);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    int pending = count;
    int online = 0;
    qint64 lastEnd = 0;
    QStringList failures;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        auto* check = new TPingThread(addresses[i], 5000, -1);
        check->SetSequence(static_cast<quint16>(i + 1));
        check->SetOnTerminate([&, i](TWorkerThread* sender) {
            auto* done = static_cast<TPingThread*>(sender);
            if (done->Outcome() == 0)
                ++online;
            else if (failures.size() < 5)
                failures << addresses[i] + QStringLiteral(": ") + done->ReplyText();
            lastEnd = clock.elapsed();
            if (--pending == 0)
                app.quit();
        });
        check->Start();
    }
    const qint64 startedMs = clock.elapsed();
    app.exec();
    sampling.store(false);
    sampler.join();
    const qint64 peakRssKb = StatusField("VmHWM");

    const TIcmpListener* listener = TIcmpListener::Acquire();
    const char* kind = !listener                                        ? "none"
                       : listener->SocketKind() == TIcmpListener::skRaw ? "raw"
                                                                        : "datagram";
    std::printf("%d checks of %s .. %s, ICMP socket: %s\n", count, qPrintable(addresses.first()),
                qPrintable(addresses.last()), kind);
    std::printf("sablewick: %d/%d online, all ended after %.2f s (started in %.2f s), peak threads %lld, "
                "peak RSS %.1f MB\n",
                online, count, lastEnd / 1000.0, startedMs / 1000.0,
                static_cast<long long>(peakThreads.load()), peakRssKb / 1024.0);
    for (const QString& failure : failures)
        std::printf("  failed: %s\n", qPrintable(failure));

    const TFpingRun fping = RunFping(addresses);
    if (fping.Ran)
        std::printf("fping:     %d/%d alive after %.2f s, peak threads %lld, peak RSS %.1f MB\n", fping.Alive,
                    count, fping.Ms / 1000.0, static_cast<long long>(fping.MaxThreads),
                    fping.MaxRssKb / 1024.0);
    else
        std::printf("fping:     not run (is it installed?)\n");

    const bool ok = online == count && lastEnd <= TargetMs;
    std::printf("%s: every check online within %lld s\n", ok ? "PASS" : "FAIL",
                static_cast<long long>(TargetMs / 1000));
    return ok ? 0 : 1;
}
