// The main window on a large database: start-up, reachability checks and saving under load.
//
//   bench_mainwin [count]                 three runs of the measurement, each in a process of its own on a
//                                         fresh copy of one database (default 1,000 computers on
//                                         loopback), each followed by fping on the same addresses; prints
//                                         min / median / max of every figure, typing into the list's
//                                         filter field included
//   bench_mainwin --once FILE             one run on FILE, figures as "name value" lines
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
#include "net/icmpListener.h"
#include "support/procStatus.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

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

// A loopback address of its own for each index up to well past 65,535: 127.b.c.d, d from 1 to 254.
QString LoopbackAddress(int index)
{
    const int block = index / 254;
    return QStringLiteral("127.%1.%2.%3").arg(block / 256).arg(block % 256).arg(index % 254 + 1);
}

bool MakeDatabase(const QString& dir, int count, bool samples)
{
    TOstrelDatabase db;
    db.FileName = dir + QStringLiteral("/network.ccn");
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (int i = 0; i < count; ++i) {
        TComputer* computer = group.Computers()->Add();
        computer->IPAddress = LoopbackAddress(i);
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

// The inode that the name leads to now; 0 when there is none.
ino_t FileInode(const QString& file)
{
    struct stat info;
    return ::stat(QFile::encodeName(file).constData(), &info) == 0 ? info.st_ino : 0;
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
    // Each save puts a new file under the name; the window's saved signal would miss those during which
    // a re-check came in.
    ino_t lastInode = FileInode(file);
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (const ino_t inode = FileInode(file); inode != 0 && inode != lastInode) {
            lastInode = inode;
            ++saves;
        }
    });
    watch.start();
    // The load's checks bring every computer online: those results are saved first.
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (checks >= count && db->SaveState() == TOpenDatabase::ssSaved && !db->Saving())
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

// Milliseconds since this process was started (the kernel's start time, in its clock ticks).
double SinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which may hold blanks, closed by the last ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double started = fields[19].toDouble() * 1000.0 / double(sysconf(_SC_CLK_TCK));
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6 - started;
}

// Milliseconds since the file's inode last changed (a rename over the name changes it).
double SinceChange(const QString& file)
{
    struct stat info;
    if (::stat(QFile::encodeName(file).constData(), &info) != 0)
        return 0;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return std::max(0.0, double(now.tv_sec - info.st_ctim.tv_sec) * 1000.0 +
                             double(now.tv_nsec - info.st_ctim.tv_nsec) / 1e6);
}

// Every computer of the file has a result of a check of this run: a reply text and a date.
bool FileHoldsEveryResult(const QString& file, int count)
{
    QTemporaryDir dir;
    TOstrelDatabase copy;
    copy.FileName = dir.path() + QStringLiteral("/copy.ccn");
    // The file is held by the running window: its bytes are read through a copy.
    if (!QFile::copy(file, copy.FileName))
        return false;
    try {
        auto group = LoadDatabase(copy);
        if (group->Computers()->Count() != count)
            return false;
        for (int i = 0; i < count; ++i) {
            const TComputer* computer = group->Computers()->Items(i);
            if (computer->LastPingDate == 0 || computer->LastPingReply.isEmpty())
                return false;
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The same look, taken by a process of its own: loading the file here would count its memory as the
// window's.
bool HoldsEveryResultElsewhere(const QString& file, int count)
{
    QProcess look;
    look.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--holds-results"), file, QString::number(count)});
    return look.waitForFinished(120000) && look.exitStatus() == QProcess::NormalExit && look.exitCode() == 0;
}

// The CPU time of the calling thread, in milliseconds: a key's own cost on a machine busy with other work.
double ThreadCpuMs()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void Figure(const char* name, double value)
{
    std::printf("%s %.1f\n", name, value);
}

// One run: a window opens FILE, every computer gets checked, and the run ends when the file on disk
// holds the result of every computer (verified by loading it), then the window closes.
int MeasureOnce(const QString& file)
{
    const double started = SinceProcessStart();
    QElapsedTimer clock;
    clock.start();
    auto sinceStart = [&] { return started + clock.nsecsElapsed() / 1e6; };
    const long long writtenBefore = ProcIo("write_bytes");

    // The window's thread: its longest time between two ticks of a 1 ms timer. The first gap runs
    // from the process's start through the load until the event loop first runs.
    double longestFromStart = 0;
    double longestAfterShown = 0;
    double longestWhileTyping = 0;
    bool shown = false;
    bool typing = false;
    double lastTick = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = sinceStart();
        longestFromStart = std::max(longestFromStart, now - lastTick);
        if (shown && !typing)
            longestAfterShown = std::max(longestAfterShown, now - lastTick);
        if (typing)
            longestWhileTyping = std::max(longestWhileTyping, now - lastTick);
        lastTick = now;
    });
    probe.start();

    auto window = std::make_unique<TfrmMain>(file);
    TOpenDatabase* db = window->OpenDatabase();
    if (!window->Root()) {
        std::fprintf(stderr, "the database could not be loaded\n");
        return 1;
    }
    const int count = window->Root()->Computers()->Count();

    std::unordered_set<const TComputer*> reported;
    reported.reserve(size_t(count)); // its growth would run on the window's thread, amid the results
    double allReportedAt = -1;
    qint64 lastRequestNs = 0;
    double rssCheckedMb = -1;
    double storedAt = -1;
    int saves = 0;
    long long benchWritten = 0;
    QEventLoop loop;
    QObject::connect(db, &TOpenDatabase::ComputerUpdated, [&](TComputer* computer) {
        // Re-checks report a computer again: only the first report of each counts.
        if (reported.insert(computer).second && int(reported.size()) == count) {
            allReportedAt = sinceStart();
            lastRequestNs = TIcmpListener::LastSendTime();
            rssCheckedMb = ProcStatusField("VmHWM") / 1024.0;
        }
    });
    // Each save puts a new file (a new inode) under the name. The file itself is watched, not a signal of
    // the window's: "saved" there means nothing is left unsaved, which re-checks arriving during a save
    // of 10,000 computers make false every time.
    ino_t lastInode = FileInode(file);
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const ino_t inode = FileInode(file);
        if (inode == 0 || inode == lastInode)
            return;
        lastInode = inode;
        ++saves;
        if (allReportedAt < 0 || storedAt >= 0)
            return;
        // When the rename put it there (the inode's change time), on this run's clock.
        const double at = sinceStart() - SinceChange(file);
        // The look at the file is the benchmark's, not the window's: neither its time, nor its writes,
        // nor its memory.
        const long long before = ProcIo("write_bytes");
        if (HoldsEveryResultElsewhere(file, count)) {
            storedAt = at;
            loop.quit();
        }
        benchWritten += ProcIo("write_bytes") - before;
        lastTick = sinceStart();
    });
    watch.start();

    window->show();
    QApplication::processEvents();
    window->VST->repaint();
    const double rowsShownAt = sinceStart();
    const int rows = window->VSTModel->rowCount();
    const double rssShownMb = ProcStatusField("VmHWM") / 1024.0;
    shown = true;
    lastTick = sinceStart();

    long long peakThreads = ProcStatusField("Threads");
    QTimer threads;
    threads.setInterval(10);
    QObject::connect(&threads, &QTimer::timeout,
                     [&] { peakThreads = std::max(peakThreads, ProcStatusField("Threads")); });
    threads.start();
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    threads.stop();
    watch.stop();
    const long long written = ProcIo("write_bytes") - writtenBefore - benchWritten;
    const long long fileSize = QFileInfo(file).size();

    // Typing into the filter field, a key every 30 ms: each key's time until the list is painted anew, and
    // the longest stall of the window's thread meanwhile. A MAC address written with colons, erased, a
    // name, erased.
    std::vector<double> keyMs;
    double keyCpuMs = 0;
    int shownByMac = -1;
    {
        const QString mac = QStringLiteral("00:16:3e:00:1");
        const QString name = QStringLiteral("Computer 42");
        QList<std::pair<int, QString>> keys;
        for (QChar ch : mac)
            keys.append({ch == u':' ? int(Qt::Key_Colon) : int(ch.toUpper().unicode()), QString(ch)});
        keys.append({-1, QString()});
        for (int i = 0; i < mac.size(); ++i)
            keys.append({Qt::Key_Backspace, QString()});
        for (QChar ch : name)
            keys.append({ch == u' ' ? int(Qt::Key_Space) : int(ch.toUpper().unicode()), QString(ch)});
        for (int i = 0; i < name.size(); ++i)
            keys.append({Qt::Key_Backspace, QString()});
        window->edFilter->setFocus();
        lastTick = sinceStart();
        typing = true;
        probe.start();
        for (const auto& [key, text] : keys) {
            if (key < 0) {
                shownByMac = window->VSTModel->rowCount();
                continue;
            }
            QElapsedTimer keyClock;
            keyClock.start();
            const double cpuBefore = ThreadCpuMs();
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
            QApplication::sendEvent(window->edFilter, &press);
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
            QApplication::sendEvent(window->edFilter, &release);
            window->VST->viewport()->repaint();
            QApplication::processEvents();
            keyMs.push_back(keyClock.nsecsElapsed() / 1e6);
            keyCpuMs = std::max(keyCpuMs, ThreadCpuMs() - cpuBefore);
            QTimer::singleShot(30, &loop, &QEventLoop::quit);
            loop.exec();
        }
        typing = false;
        probe.stop();
    }
    std::vector<double> sortedKeyMs = keyMs;
    std::sort(sortedKeyMs.begin(), sortedKeyMs.end());

    // A change of the user's: what the window's thread spends on it before the writer takes over. A save
    // still being written would only mark it for later.
    while (db->Saving())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The change's own call, then each turn of the event loop until the save has been handed over: the
    // copy of the computers is taken a slice at a time between the window's events.
    QElapsedTimer change;
    change.start();
    window->Root()->Computers()->Items(0)->NotifyUpdate();
    double changeMs = change.nsecsElapsed() / 1e6;
    while (db->Saving()) {
        change.restart();
        QCoreApplication::processEvents();
        changeMs = std::max(changeMs, change.nsecsElapsed() / 1e6);
    }
    // The exit then has a change of its own to write.
    window->Root()->Computers()->Items(0)->NotifyUpdate();

    QElapsedTimer close;
    close.start();
    const long long writtenBeforeExit = ProcIo("write_bytes");
    window.reset();
    const double closeMs = close.nsecsElapsed() / 1e6;
    const long long exitWritten = ProcIo("write_bytes") - writtenBeforeExit;

    Figure("computers", count);
    Figure("rows", rows);
    // Where the time to the file goes: the echo requests' span (up to the last result) on this run's clock.
    timespec monotonic;
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    const double monotonicMs = double(monotonic.tv_sec) * 1e3 + double(monotonic.tv_nsec) / 1e6;
    auto onRunClock = [&](qint64 ns) { return ns ? sinceStart() - (monotonicMs - double(ns) / 1e6) : -1.0; };
    Figure("rows_shown_ms", rowsShownAt);
    Figure("first_request_ms", onRunClock(TIcmpListener::FirstSendTime()));
    Figure("last_request_ms", onRunClock(lastRequestNs));
    Figure("all_checked_ms", allReportedAt);
    Figure("in_file_ms", storedAt);
    Figure("saves", saves);
    Figure("stall_from_start_ms", longestFromStart);
    Figure("stall_after_shown_ms", longestAfterShown);
    Figure("file_mb", fileSize / 1e6);
    Figure("written_mb", written / 1e6);
    Figure("written_x_file", fileSize > 0 ? double(written) / double(fileSize) : 0.0);
    Figure("peak_threads", peakThreads);
    Figure("peak_rss_shown_mb", rssShownMb);
    Figure("peak_rss_checked_mb", rssCheckedMb);
    Figure("peak_rss_mb", ProcStatusField("VmHWM") / 1024.0);
    Figure("change_on_window_ms", changeMs);
    Figure("filter_keys", double(keyMs.size()));
    Figure("filter_key_median_ms", sortedKeyMs.empty() ? -1 : sortedKeyMs[sortedKeyMs.size() / 2]);
    Figure("filter_key_max_ms", sortedKeyMs.empty() ? -1 : sortedKeyMs.back());
    Figure("filter_key_cpu_max_ms", keyCpuMs);
    Figure("filter_stall_ms", longestWhileTyping);
    Figure("filter_mac_rows", shownByMac);
    Figure("exit_ms", closeMs);
    Figure("exit_written_mb", exitWritten / 1e6);
    std::fflush(stdout);

    // Let the checks still running end, waiting in the event loop rather than spinning.
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (TWorkerThread::LiveCount() == 0)
            loop.quit();
    });
    poll.start();
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (TWorkerThread::LiveCount() > 0)
        loop.exec();
    return storedAt >= 0 && rows == count ? 0 : 2;
}

// Three runs in processes of their own, each on a fresh copy of one database and followed by fping on
// the same addresses (one echo request each, 500 ms timeout, no pacing).
int Measure(int count)
{
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-mainwin-XXXXXX"));
    if (!dir.isValid() || !MakeDatabase(dir.path(), count, false))
        return 1;
    const QString original = dir.path() + QStringLiteral("/network.ccn");
    const QString list = dir.path() + QStringLiteral("/addresses");
    {
        QFile addresses(list);
        if (!addresses.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < count; ++i)
            addresses.write(LoopbackAddress(i).toLatin1() + '\n');
    }
    QStringList order;
    std::map<QString, std::vector<double>> figures;
    const QString loadBefore = LoadAverage();
    for (int run = 0; run < 3; ++run) {
        const QString file = dir.path() + QStringLiteral("/run%1.ccn").arg(run);
        if (!QFile::copy(original, file))
            return 1;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--once"), file});
        if (!child.waitForFinished(700000) || child.exitCode() != 0) {
            std::fprintf(stderr, "run %d failed (exit code %d)\n", run + 1, child.exitCode());
            return 2;
        }
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 2)
                continue;
            const QString name = QString::fromLatin1(parts[0]);
            if (!figures.count(name))
                order.append(name);
            figures[name].push_back(parts[1].toDouble());
        }
        QProcess fping;
        fping.setStandardOutputFile(QProcess::nullDevice());
        fping.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        fping.start(QStringLiteral("fping"), {"-c1", "-t500", "-i0", "-q", "-f", list});
        if (!fping.waitForFinished(600000)) {
            std::fprintf(stderr, "fping did not finish\n");
            return 2;
        }
        const double fpingMs = timer.nsecsElapsed() / 1e6;
        if (!figures.count(QStringLiteral("fping_ms")))
            order.append(QStringLiteral("fping_ms"));
        figures[QStringLiteral("fping_ms")].push_back(fpingMs);
        figures[QStringLiteral("in_file_vs_fping")].push_back(figures[QStringLiteral("in_file_ms")].back() /
                                                              fpingMs);
        QFile::remove(file);
    }
    order.append(QStringLiteral("in_file_vs_fping"));
    std::printf("%d computers, 3 runs (min / median / max; load average %s before, %s after)\n", count,
                qPrintable(loadBefore), qPrintable(LoadAverage()));
    for (const QString& name : std::as_const(order)) {
        std::vector<double> values = figures[name];
        std::sort(values.begin(), values.end());
        std::printf("  %-24s %10.2f %10.2f %10.2f\n", qPrintable(name), values.front(),
                    values[values.size() / 2], values.back());
    }
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

    if (args.size() >= 4 && args[1] == QStringLiteral("--holds-results"))
        return FileHoldsEveryResult(args[2], args[3].toInt()) ? 0 : 1;
    if (args.size() >= 3 && args[1] == QStringLiteral("--once"))
        return MeasureOnce(args[2]);
    return Measure(args.size() >= 2 ? args[1].toInt() : 1000);
}
