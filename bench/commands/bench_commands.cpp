// Commands on a whole /16: the command line's --wake of every computer by name, without a window and
// through a running one, and deleting every computer in the window with one command.
//
//   bench_commands [count] [runs]     (default 65,535 computers, 3 runs; root, in a network namespace
//                                      with only loopback up: the wake-ups go to 127.255.255.255)
//   bench_commands --burst [requests] [computers]
//                                      that many --list requests at once (default 1,000) on the window's
//                                      socket, over a list of 1,000 computers: the longest stall of the
//                                      window (target <= 100 ms) and its resident memory before, at the
//                                      peak and a second after the last answer
//
// Prints, for each round, every run's time and min / median / max, and for the hand-over the longest
// stall of the window's thread while the command ran (the longest gap between two ticks of a 1 ms timer).
// Targets: --wake without a window <= 2 s, through the window <= 3 s with no stall over 50 ms, deleting
// all <= 0.3 s. Exit code 0 when every run met them.
#include "app/frmMain.h"
#include "app/instanceServer.h"
#include "app/treeView.h"
#include "app/utilsGeneral.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
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

// Runs the program with --wake and every name; waits in the event loop, so a window here keeps running.
double WakeAll(const QString& file, const QStringList& names, bool& failed)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../../sablewick"),
                QStringList{QStringLiteral("--database"), file, QStringLiteral("--wake")} + names);
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
        std::fprintf(stderr, "--wake: exit %d, %lld lines; %s\n", child.exitCode(),
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

int Burst(const QString& folder, int requests, int computers)
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
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--burst-clients"), server.SocketPath(), QString::number(requests)});
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const qint64 longest = stalls.Longest();
    QTest::qWait(1000);
    const long long after = ResidentKiB();
    std::printf("%d --list requests at once on %d computers: %s answered in %.2f s; longest stall %lld ms "
                "(target <= 100); resident memory %lld MiB before, %lld MiB at the peak, %lld MiB a second "
                "after\n",
                requests, computers, child.readAllStandardOutput().trimmed().constData(), seconds,
                static_cast<long long>(longest), before >> 10, peak >> 10, after >> 10);
    return child.exitCode() == 0 && longest <= 100 ? 0 : 1;
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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sablewick"));
    if (argc > 1 && std::strcmp(argv[1], "--burst") == 0) {
        QTemporaryDir burst;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(burst.path()));
        return Burst(burst.path(), argc > 2 ? std::atoi(argv[2]) : 1000,
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
        alone.Times.push_back(WakeAll(file, names, alone.Failed));

    TRound handed{"--wake of all by name, through the window", 3.0};
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
        stalls.Reset();
        handed.Times.push_back(WakeAll(copy, names, handed.Failed));
        handed.Stalls.push_back(stalls.Longest());
        handed.Failed = handed.Failed || stalls.Longest() > StallTarget;

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
    for (TRound* round : {&alone, &handed, &removal}) {
        for (double t : round->Times)
            round->Failed = round->Failed || t > round->Target;
    }
    Print(alone, StallTarget);
    Print(handed, StallTarget);
    Print(removal, StallTarget);
    return alone.Failed || handed.Failed || removal.Failed ? 1 : 0;
}
