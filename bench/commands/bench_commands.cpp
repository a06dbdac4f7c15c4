// Commands on a whole /16: the command line's --wake of every computer by name, without a window and
// through a running one, --status of every computer through the running window, and deleting every
// computer in the window with one command.
//
//   bench_commands [count] [runs]     (default 65,535 computers, 3 runs; root, in a network namespace
//                                      with only loopback up: the wake-ups go to 127.255.255.255)
//   bench_commands --burst [requests] [computers]
//                                      that many --list requests at once (default 1,000) on the window's
//                                      socket, over a list of 1,000 computers: the longest stall of the
//                                      window (target <= 100 ms) until the window has closed the last
//                                      connection, its resident memory before, at the peak and a second
//                                      after that, and the window's longest event deliveries (wall and
//                                      thread CPU time: a stall without a long delivery, or a delivery
//                                      whose CPU time is far below its wall time, is the machine's load)
//
// Prints, for each round, every run's time and min / median / max, and for the hand-over the longest
// stall of the window's thread while the command ran (the longest gap between two ticks of a 1 ms timer).
// Targets: --wake without a window <= 2 s, --wake and --status through the window <= 3 s with no stall
// over 50 ms, deleting all <= 0.3 s. Exit code 0 when every run met them.
#include "app/frmMain.h"
#include "app/instanceServer.h"
#include "app/treeView.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "ui/messageBoxes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <sys/resource.h>
#include <vector>

namespace {

QString Name(int i)
{
    return QStringLiteral("pc-%1").arg(i, 5, 10, QLatin1Char('0'));
}

bool MakeDatabase(const QString& file, int count)
{
    TOstrelDatabase db;
    db.FileName = file;
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (int i = 0; i < count; ++i) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(Name(i));
        // Valid loopback addresses for any count up to 65,535: 127.1.0.1 onwards, 250 to a third octet.
        computer->IPAddress =
            QStringLiteral("127.%1.%2.%3").arg(1 + i / 62500).arg(i % 62500 / 250).arg(i % 250 + 1);
        computer->SubNet = QStringLiteral("255.0.0.0");
        computer->MACAddresses()->Add()->Address = QStringLiteral("02-00-00-%1-%2-%3")
                                                       .arg(i >> 16 & 0xFF, 2, 16, QLatin1Char('0'))
                                                       .arg(i >> 8 & 0xFF, 2, 16, QLatin1Char('0'))
                                                       .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                                                       .toUpper();
    }
    return SaveGroup(group);
}

// The longest gap between two ticks of a 1 ms timer on this thread, from Reset on.
class TStallMeter : public QObject
{
public:
    TStallMeter()
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        connect(&FTimer, &QTimer::timeout, this, [this] { FLongest = std::max(FLongest, FClock.restart()); });
        FTimer.start(1);
        FClock.start();
    }
    void Reset()
    {
        FLongest = 0;
        FClock.restart();
    }
    qint64 Longest() const { return FLongest; }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLongest = 0;
};

struct TRound
{
    const char* Title;
    double Target; // seconds
    std::vector<double> Times;
    std::vector<qint64> Stalls;
    bool Failed = false;
};

void Print(const TRound& round, qint64 stallTarget)
{
    std::vector<double> sorted = round.Times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-44s", round.Title);
    for (double t : round.Times)
        std::printf(" %.3f", t);
    if (!sorted.empty())
        std::printf("  min/median/max %.3f / %.3f / %.3f s (target <= %.1f s)", sorted.front(),
                    sorted[sorted.size() / 2], sorted.back(), round.Target);
    if (!round.Stalls.empty()) {
        std::printf("; longest stall");
        for (qint64 stall : round.Stalls)
            std::printf(" %lld", static_cast<long long>(stall));
        std::printf(" ms (target <= %lld)", static_cast<long long>(stallTarget));
    }
    std::printf("%s\n", round.Failed ? "  FAILED" : "");
}

// Runs the program with the command (--wake, --status) and every name; waits in the event loop, so a
// window here keeps running. Every computer answers, so anything but exit 0 and a line each is a failure.
double RunAll(const QString& file, const QString& command, const QStringList& names, bool& failed)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../../sablewick"),
                QStringList{QStringLiteral("--database"), file, command} + names);
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&child, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const QByteArray out = child.readAllStandardOutput();
    const QByteArray err = child.readAllStandardError();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 ||
        out.count('\n') != names.size()) {
        std::fprintf(stderr, "%s: exit %d, %lld lines; %s\n", qPrintable(command), child.exitCode(),
                     static_cast<long long>(out.count('\n')), err.left(300).constData());
        failed = true;
    }
    return seconds;
}

long long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

double ThreadCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Times every event delivered on the window's thread and keeps the longest, with what received it.
class TTimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    struct TDelivery
    {
        double WallMs = 0, CpuMs = 0;
        QByteArray What;
    };
    bool Timing = false;
    std::vector<TDelivery> Longest;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!Timing || QThread::currentThread() != thread() || FDepth > 0)
            return QApplication::notify(receiver, event);
        ++FDepth;
        const QByteArray what = QByteArray(receiver->metaObject()->className()) + " event " +
                                QByteArray::number(int(event->type()));
        QElapsedTimer clock;
        clock.start();
        const double cpu = ThreadCpuMs();
        const bool result = QApplication::notify(receiver, event);
        --FDepth;
        const TDelivery delivery{clock.nsecsElapsed() / 1e6, ThreadCpuMs() - cpu, what};
        if (Longest.size() < 5 || delivery.WallMs > Longest.back().WallMs) {
            Longest.push_back(delivery);
            std::sort(Longest.begin(), Longest.end(),
                      [](const TDelivery& a, const TDelivery& b) { return a.WallMs > b.WallMs; });
            if (Longest.size() > 5)
                Longest.pop_back();
        }
        return result;
    }

private:
    int FDepth = 0;
};

// The client side of --burst, in a child process: every request sent at once, then every answer read.
int BurstClients(const QString& socketPath, int requests)
{
    std::vector<std::unique_ptr<QLocalSocket>> sockets;
    int answered = 0;
    for (int i = 0; i < requests; ++i) {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(socketPath);
        if (!socket->waitForConnected(10000))
            break;
        socket->write("{\"command\":\"list\"}\n");
        QObject::connect(socket.get(), &QLocalSocket::disconnected, [&answered, s = socket.get()] {
            if (s->readAll().endsWith("}\n"))
                ++answered;
        });
        sockets.push_back(std::move(socket));
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 120000) {
        int open = 0;
        for (auto& socket : sockets)
            open += socket->state() != QLocalSocket::UnconnectedState;
        if (open == 0)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    std::printf("%d\n", answered);
    return answered == requests ? 0 : 1;
}

int Burst(TTimedApplication& app, const QString& folder, int requests, int computers)
{
    const QString file = folder + QStringLiteral("/burst.ccn");
    if (!MakeDatabase(file, computers))
        return 1;
    TMessageRecorder boxes;
    auto window = std::make_unique<TfrmMain>(file);
    TInstanceServer server([&window] { return window->OpenDatabase(); }, nullptr);
    if (!server.Listen(file))
        return 1;
    window->show();
    QTest::qWait(3000);
    TStallMeter stalls;
    const long long before = ResidentKiB();
    long long peak = before;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&peak] { peak = std::max(peak, ResidentKiB()); });
    sampler.start(10);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    stalls.Reset();
    app.Timing = true;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--burst-clients"), server.SocketPath(), QString::number(requests)});
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = clock.elapsed() / 1000.0;
    // The clients have all they asked for; the window is done once it has let go of every connection.
    QElapsedTimer done;
    done.start();
    while (server.Connections() > 0 && done.elapsed() < 30000)
        QTest::qWait(10);
    const double cleanup = done.elapsed() / 1000.0;
    const qint64 longest = stalls.Longest();
    app.Timing = false;
    QTest::qWait(1000);
    const long long after = ResidentKiB();
    std::printf("%d --list requests at once on %d computers: %s answered in %.2f s, connections closed "
                "%.2f s later; longest stall %lld ms (target <= 100); resident memory %lld MiB before, %lld "
                "MiB at the peak, %lld MiB a second after\n",
                requests, computers, child.readAllStandardOutput().trimmed().constData(), seconds, cleanup,
                static_cast<long long>(longest), before >> 10, peak >> 10, after >> 10);
    std::printf("longest event deliveries on the window's thread (wall / thread CPU ms):");
    for (const auto& delivery : app.Longest)
        std::printf(" %.1f / %.1f %s;", delivery.WallMs, delivery.CpuMs, delivery.What.constData());
    std::printf("\n");
    return child.exitCode() == 0 && server.Connections() == 0 && longest <= 100 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    // A thousand connections at once need more descriptors than the usual soft limit of 1,024.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    if (argc == 4 && std::strcmp(argv[1], "--burst-clients") == 0) {
        QCoreApplication app(argc, argv);
        return BurstClients(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TTimedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sablewick"));
    if (argc > 1 && std::strcmp(argv[1], "--burst") == 0) {
        QTemporaryDir burst;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(burst.path()));
        return Burst(app, burst.path(), argc > 2 ? std::atoi(argv[2]) : 1000,
                     argc > 3 ? std::atoi(argv[3]) : 1000);
    }
    const int count = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 65535) : 65535;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("network.ccn"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    if (!dir.isValid() || !MakeDatabase(file, count)) {
        std::fprintf(stderr, "cannot write the database\n");
        return 1;
    }
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(Name(i));
    std::printf("%d computers, %d runs\n", count, runs);

    TRound alone{"--wake of all by name, no window", 2.0};
    for (int run = 0; run < runs; ++run)
        alone.Times.push_back(RunAll(file, QStringLiteral("--wake"), names, alone.Failed));

    TRound handed{"--wake of all by name, through the window", 3.0};
    TRound status{"--status of all by name, through the window", 3.0};
    TRound removal{"deleting all in the window (one command)", 0.3};
    constexpr qint64 StallTarget = 50;
    TStallMeter stalls;
    for (int run = 0; run < runs; ++run) {
        // A fresh copy each run: the last round deletes every computer.
        const QString copy = dir.filePath(QStringLiteral("window-%1.ccn").arg(run));
        if (!MakeDatabase(copy, count))
            return 1;
        TMessageRecorder boxes;
        auto window = std::make_unique<TfrmMain>(copy);
        TInstanceServer server([&window] { return window->OpenDatabase(); }, nullptr);
        if (!server.Listen(copy)) {
            std::fprintf(stderr, "cannot listen\n");
            return 1;
        }
        window->show();
        // The load's own checks and saves are done before the command comes.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 60000 && window->OpenDatabase()->SaveState() != TOpenDatabase::ssSaved)
            QTest::qWait(100);
        QTest::qWait(6000);
        for (auto [round, command] : {std::pair{&handed, "--wake"}, std::pair{&status, "--status"}}) {
            stalls.Reset();
            app.Longest.clear();
            app.Timing = true;
            round->Times.push_back(RunAll(copy, QString::fromLatin1(command), names, round->Failed));
            app.Timing = false;
            round->Stalls.push_back(stalls.Longest());
            // Whether a stall is the program's work or the machine's: a long delivery with little CPU
            // time is a thread the machine did not run.
            std::printf("run %d, %s through the window, longest deliveries (wall / thread CPU ms):", run + 1,
                        command);
            for (const auto& delivery : app.Longest)
                std::printf(" %.1f / %.1f %s;", delivery.WallMs, delivery.CpuMs, delivery.What.constData());
            std::printf("\n");
            round->Failed = round->Failed || stalls.Longest() > StallTarget;
        }

        window->VST->selectAll();
        boxes.SetNextAnswer(QMessageBox::Yes);
        QElapsedTimer clock;
        clock.start();
        window->acEditDelete->trigger();
        removal.Times.push_back(clock.elapsed() / 1000.0);
        if (window->OpenDatabase()->Root()->Computers()->Count() != 0) {
            std::fprintf(stderr, "delete left %d computers\n",
                         window->OpenDatabase()->Root()->Computers()->Count());
            removal.Failed = true;
        }
    }
    for (TRound* round : {&alone, &handed, &status, &removal}) {
        for (double t : round->Times)
            round->Failed = round->Failed || t > round->Target;
    }
    Print(alone, StallTarget);
    Print(handed, StallTarget);
    Print(status, StallTarget);
    Print(removal, StallTarget);
    return alone.Failed || handed.Failed || status.Failed || removal.Failed ? 1 : 0;
}
