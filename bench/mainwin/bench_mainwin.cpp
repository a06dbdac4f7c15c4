// The main window on a large database: start-up, reachability checks and saving under load.
//
//   bench_mainwin [count]                 runs the measurement (default 1,000 computers on loopback)
//   bench_mainwin --make-db DIR [count]   only writes DIR/network.ccn (a few sample computers by default)
//   bench_mainwin --make-status-db DIR    writes DIR/network.ccn for scripts/screenshot-status.sh
//   bench_mainwin --idle [count] [scale]  bytes written while every computer is re-checked each minute and
//                                         nothing changes (default 10,000 computers); scale divides the
//                                         re-check interval and the longest wait of unchanged dates alike,
//                                         so the run takes 10 / scale minutes and still covers what
//                                         10 real minutes would write
#include "app/frmMain.h"
#include "app/tableModel.h"
#include "app/treeView.h"
#include "core/worker.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "support/procStatus.h"

#include <cstdio>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

namespace {

struct TSample
{
    const char* Name;
    const char* MAC;
    const char* Comments;
    bool Addressed = true;
};

const TSample Samples[] = {
    {"Workshop NAS", "00-11-32-4A-7C-01", "Backups at night"},
    {"Media centre", "B8-27-EB-12-34-56", ""},
    {"", "", ""},
    {"build-server", "3C-97-0E-AA-BB-CC", "Rack 2, lower shelf"},
    {"Reception PC", "00-1E-68-5D-22-10", ""},
    {"lab-printer", "", "Address to be assigned", false},
};

bool MakeDatabase(const QString& dir, int count, bool samples)
{
    TOstrelDatabase db;
    db.FileName = dir + QStringLiteral("/network.ccn");
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (int i = 0; i < count; ++i) {
        TComputer* computer = group.Computers()->Add();
        // Loopback addresses only: 127.0.x.y with y from 1 to 250.
        computer->IPAddress = QStringLiteral("127.0.%1.%2").arg(i / 250).arg(i % 250 + 1);
        QString mac;
        if (samples) {
            const TSample& sample = Samples[i % std::size(Samples)];
            computer->SetName(QString::fromUtf8(sample.Name));
            computer->Comments = QString::fromUtf8(sample.Comments);
            if (!sample.Addressed)
                computer->IPAddress.clear();
            mac = QString::fromLatin1(sample.MAC);
        } else {
            computer->SetName(QStringLiteral("Computer %1").arg(count - i, 4, 10, QLatin1Char('0')));
            mac = QStringLiteral("00-16-3E-%1-%2-%3")
                      .arg(i >> 16 & 0xFF, 2, 16, QLatin1Char('0'))
                      .arg(i >> 8 & 0xFF, 2, 16, QLatin1Char('0'))
                      .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                      .toUpper();
        }
        if (!mac.isEmpty()) {
            TMACAddress* adapter = computer->MACAddresses()->Add();
            adapter->Address = mac;
            adapter->UseForWake = true;
        }
    }
    QString error;
    if (!SaveGroup(group, &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(db.FileName), qPrintable(error));
        return false;
    }
    return true;
}

// Computers whose status the screenshots show: one on loopback, one nobody answers for, one whose address
// a machine with another MAC answers, one on a network that no interface of this machine holds.
bool MakeStatusDatabase(const QString& dir)
{
    TOstrelDatabase db;
    db.FileName = dir + QStringLiteral("/network.ccn");
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    const struct
    {
        const char* Name;
        const char* IP;
        const char* MAC;
    } computers[] = {{"Workshop NAS", "127.0.0.1", "00-11-32-4A-7C-01"},
                     {"Media centre", "10.44.0.9", "B8-27-EB-12-34-56"},
                     {"build-server", "10.44.0.5", "3C-97-0E-AA-BB-CC"},
                     {"branch-office PC", "10.99.1.5", "00-1E-68-5D-22-10"}};
    for (const auto& entry : computers) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(QString::fromLatin1(entry.Name));
        computer->IPAddress = QString::fromLatin1(entry.IP);
        computer->SubNet = QStringLiteral("255.255.255.0");
        computer->MACAddresses()->Add()->Address = QString::fromLatin1(entry.MAC);
    }
    QString error;
    return SaveGroup(group, &error);
}

// One figure of /proc/self/io (bytes), or -1.
long long ProcIo(const char* key)
{
    QFile file(QStringLiteral("/proc/self/io"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().toLongLong();
    return -1;
}

// Ten minutes of an open list whose computers all keep answering as before: what reaches the disk.
int IdleRechecks(int count, int scale)
{
    // On the disk of the working folder, not /tmp, which may be memory.
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-idle-XXXXXX"));
    if (!dir.isValid() || !MakeDatabase(dir.path(), count, false))
        return 1;
    const QString file = dir.path() + QStringLiteral("/network.ccn");
    auto window = std::make_unique<TfrmMain>(file);
    TOpenDatabase* db = window->OpenDatabase();
    if (!window->Root())
        return 1;
    const int interval = TRecheckSchedule::DefaultIntervalMs / scale;
    const int period = TOpenDatabase::StaleSaveInterval / scale;
    db->SetStaleSaveInterval(period);
    db->StartRechecks(interval);

    int checks = 0;
    int saves = 0;
    int onlineChanges = 0;
    QObject::connect(db, &TOpenDatabase::ComputerUpdated, [&](TComputer* computer) {
        ++checks;
        onlineChanges += computer->Online ? 0 : 1;
    });
    QObject::connect(db, &TOpenDatabase::Saved, [&] { ++saves; });
    // The load's checks bring every computer online: those results are saved first.
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (checks >= count && db->SaveState() == TOpenDatabase::ssSaved)
            loop.quit();
    });
    poll.start();
    loop.exec();
    poll.stop();

    const long long writtenBefore = ProcIo("write_bytes");
    const long long charsBefore = ProcIo("wchar");
    const int checksBefore = checks;
    const int savesBefore = saves;
    onlineChanges = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(period, &loop, &QEventLoop::quit);
    loop.exec();
    const long long written = ProcIo("write_bytes") - writtenBefore;
    const long long chars = ProcIo("wchar") - charsBefore;
    const long long fileSize = QFileInfo(file).size();
    std::printf("computers                          %d\n", count);
    std::printf("re-check interval                  %d ms (scale %d)\n", interval, scale);
    std::printf("measured                           %lld ms (10 minutes / scale)\n",
                static_cast<long long>(clock.elapsed()));
    std::printf("checks completed                   %d (%d went offline)\n", checks - checksBefore,
                onlineChanges);
    std::printf("saves                              %d\n", saves - savesBefore);
    std::printf("database file                      %lld bytes\n", fileSize);
    std::printf("bytes written (write_bytes)        %lld (%.2f x the file)\n", written,
                fileSize > 0 ? double(written) / double(fileSize) : 0.0);
    std::printf("bytes written (wchar)              %lld (%.2f x the file)\n", chars,
                fileSize > 0 ? double(chars) / double(fileSize) : 0.0);
    std::fflush(stdout);
    window.reset();
    QTimer wait;
    wait.setInterval(50);
    QObject::connect(&wait, &QTimer::timeout, [&] {
        if (TWorkerThread::LiveCount() == 0)
            loop.quit();
    });
    wait.start();
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 3 && args[1] == QStringLiteral("--make-db")) {
        const bool samples = args.size() < 4;
        const int count = samples ? int(std::size(Samples)) : args[3].toInt();
        return MakeDatabase(args[2], count, samples) ? 0 : 1;
    }

    if (args.size() >= 3 && args[1] == QStringLiteral("--make-status-db"))
        return MakeStatusDatabase(args[2]) ? 0 : 1;
    if (args.size() >= 2 && args[1] == QStringLiteral("--idle"))
        return IdleRechecks(args.size() >= 3 ? args[2].toInt() : 10000,
                            std::max(1, args.size() >= 4 ? args[3].toInt() : 1));

    const int count = args.size() >= 2 ? args[1].toInt() : 1000;
    QTemporaryDir dir;
    if (!dir.isValid() || !MakeDatabase(dir.path(), count, false))
        return 1;

    const long long writtenBefore = ProcIo("write_bytes");
    const long long charsBefore = ProcIo("wchar");
    const QString file = dir.path() + QStringLiteral("/network.ccn");

    QElapsedTimer clock;
    clock.start();
    auto window = std::make_unique<TfrmMain>(file);
    TOpenDatabase* db = window->OpenDatabase();
    if (!window->Root()) {
        std::fprintf(stderr, "the database could not be loaded\n");
        return 1;
    }

    int checks = 0;
    int saves = 0;
    qint64 checkedAt = -1;
    qint64 storedAt = -1;
    QEventLoop loop;
    QObject::connect(db, &TOpenDatabase::ComputerUpdated, [&] {
        if (++checks == count)
            checkedAt = clock.elapsed();
    });
    // The file holds every result once a save follows the last check.
    QObject::connect(db, &TOpenDatabase::Saved, [&] {
        ++saves;
        if (checks == count && storedAt < 0) {
            storedAt = clock.elapsed();
            loop.quit();
        }
    });

    window->show();
    QApplication::processEvents();
    window->VST->repaint();
    const qint64 shown = clock.elapsed();
    const int rows = window->VSTModel->rowCount();
    std::printf("computers                          %d\n", count);
    std::printf("rows shown                         %d after %lld ms\n", rows, static_cast<long long>(shown));
    std::fflush(stdout);

    // The main thread's longest gap between two ticks of a 1 ms timer while checks complete.
    qint64 longestBlock = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestBlock = std::max(longestBlock, gap.nsecsElapsed() / 1000);
        gap.restart();
    });
    long long peakThreads = ProcStatusField("Threads");
    QTimer threads;
    threads.setInterval(10);
    QObject::connect(&threads, &QTimer::timeout,
                     [&] { peakThreads = std::max(peakThreads, ProcStatusField("Threads")); });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    probe.start();
    threads.start();
    deadline.start(600000);
    if (storedAt < 0)
        loop.exec();
    probe.stop();
    threads.stop();
    const long long written = ProcIo("write_bytes") - writtenBefore;
    const long long chars = ProcIo("wchar") - charsBefore;
    const long long fileSize = QFileInfo(file).size();

    std::printf("checks completed                   %d after %lld ms\n", checks,
                static_cast<long long>(checkedAt));
    std::printf("file holds every result            after %lld ms (%d saves)\n",
                static_cast<long long>(storedAt), saves);
    std::printf("database file                      %lld bytes\n", fileSize);
    std::printf("bytes written (write_bytes)        %lld (%.1f x the file)\n", written,
                fileSize > 0 ? double(written) / double(fileSize) : 0.0);
    std::printf("bytes written (wchar)              %lld (%.1f x the file)\n", chars,
                fileSize > 0 ? double(chars) / double(fileSize) : 0.0);
    std::printf("peak threads                       %lld\n", peakThreads);
    std::printf("peak RSS                           %.1f MB\n", ProcStatusField("VmHWM") / 1024.0);
    // Completions queued while the main thread saves are all run before it looks at anything else, so
    // this is also how long the window would not answer the user.
    std::printf("longest event-loop stall           %.1f ms\n", longestBlock / 1000.0);

    // What one change of the user's costs: it is written at once, on the main thread.
    QElapsedTimer save;
    save.start();
    window->Root()->Computers()->Items(0)->NotifyUpdate();
    std::printf("one save of the whole file         %.1f ms\n", save.nsecsElapsed() / 1e6);
    std::fflush(stdout);

    QElapsedTimer close;
    close.start();
    window.reset();
    std::printf("shutdown (save, free, compact)     %lld ms\n", static_cast<long long>(close.elapsed()));

    // Let the checks still running end, waiting in the event loop rather than spinning.
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (TWorkerThread::LiveCount() == 0)
            loop.quit();
    });
    poll.start();
    deadline.start(10000);
    if (TWorkerThread::LiveCount() > 0)
        loop.exec();
    return checks == count && storedAt >= 0 ? 0 : 2;
}
