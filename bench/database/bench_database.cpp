// Saves and loads root groups of 1,000, 10,000 and 65,535 computers through the database file and prints,
// beside each figure, what plain file calls take for the same number of bytes on the same disk:
//   save:  SaveGroup (record rendered anew from the group and written to the new file as it is
//          rendered, whole compound file replaced and flushed)
//          vs a plain replace: write, fsync, rename, fsync of the folder
//          and the snapshot of the group that the window's thread takes for its writer thread
//   load:  LoadDatabase (open, lock, parse, read the record, make the backup copy)  vs  read
// and the speed of rendering and parsing the record alone. Every figure is min / median / max of the runs.
// Usage: bench_database [directory]   (default: the current directory; use the disk the program runs on)
#include "core/dateTime.h"
#include "model/componentStream.h"
#include "model/computers.h"
#include "model/database.h"
#include "support/procStatus.h"

#include <algorithm>
#include <fcntl.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

QTextStream out(stdout);

void Fill(TGroup& group, int count)
{
    for (int i = 0; i < count; ++i) {
        TComputer* c = group.Computers()->Add();
        c->SetName(QStringLiteral("WORKSTATION-%1").arg(i, 5, 10, QLatin1Char('0')));
        c->IPAddress = QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
        c->Comments = QStringLiteral("Floor %1, room %2").arg(i % 7).arg(i % 50);
        c->Online = i % 3 == 0;
        c->LastPingDate = 46000.5 + i / 86400.0;
        c->LastPingReply = QStringLiteral("Reply from %1: bytes=32 time<1ms TTL=128").arg(c->IPAddress);
        TMACAddress* adapter = c->MACAddresses()->Add();
        adapter->Address = QStringLiteral("00-1A-2B-%1-%2-%3")
                               .arg(i / 65536 % 256, 2, 16, QLatin1Char('0'))
                               .arg(i / 256 % 256, 2, 16, QLatin1Char('0'))
                               .arg(i % 256, 2, 16, QLatin1Char('0'))
                               .toUpper();
    }
}

// This thread's processor time in seconds: on a shared machine, what the work itself costs.
double ThreadSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// "min / median / max" of the values, with the unit.
QString Spread(std::vector<double> values, const char* unit = "ms")
{
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 / %2 / %3 %4")
        .arg(values.front(), 0, 'f', 2)
        .arg(values[values.size() / 2], 0, 'f', 2)
        .arg(values.back(), 0, 'f', 2)
        .arg(QLatin1String(unit));
}

// What a save must do at least: the same bytes into a new file, flushed, renamed over the old one, and
// the rename flushed.
double PlainReplace(const QString& dir, const QByteArray& bytes)
{
    const QByteArray temp = QFile::encodeName(dir + QStringLiteral("/plain.tmp"));
    const QByteArray target = QFile::encodeName(dir + QStringLiteral("/plain.bin"));
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size() ||
        ::fsync(fd) != 0)
        qFatal("plain write failed");
    ::close(fd);
    if (::rename(temp.constData(), target.constData()) != 0)
        qFatal("plain rename failed");
    const int dirFd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 || ::fsync(dirFd) != 0)
        qFatal("plain folder flush failed");
    ::close(dirFd);
    return timer.nsecsElapsed() / 1e6;
}

double PlainRead(const QString& path, qsizetype size)
{
    QByteArray buffer(size, Qt::Uninitialized);
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, buffer.data(), static_cast<size_t>(size)) != size)
        qFatal("plain read failed");
    ::close(fd);
    return timer.nsecsElapsed() / 1e6;
}

void Run(const QString& base, int count, int repeats)
{
    // A folder of its own per size: the database is created afresh and must not find the last one.
    const QString dir = base + QStringLiteral("/%1").arg(count);
    if (!QDir().mkpath(dir))
        qFatal("cannot make %s", qPrintable(dir));
    const QString path = dir + QStringLiteral("/network.ccn");
    std::vector<double> save, plainReplace, load, parse, plainRead, render, ratio, renderCpu, parseCpu,
        snapshot, renderSave;
    qint64 fileSize = 0;
    qsizetype dataSize = 0;
    {
        TOstrelDatabase db;
        db.FileName = path;
        db.CreateNew();
        TGroup group;
        group.Storage = db.DataStorage;
        Fill(group, count);
        for (int r = 0; r < repeats; ++r) {
            group.Computers()->Items(r % count)->Online = !group.Computers()->Items(r % count)->Online;
            QElapsedTimer timer;
            timer.start();
            if (!SaveGroup(group))
                qFatal("save failed");
            save.push_back(timer.nsecsElapsed() / 1e6);
            // The replaced file is closed (its blocks freed) on a thread of the save's own: let that end
            // before the plain replace is timed, so that it does not slow the plain replace down.
            QThread::msleep(200);
            fileSize = QFileInfo(path).size();
            plainReplace.push_back(PlainReplace(dir, QByteArray(fileSize, 'x')));
            ratio.push_back(save.back() / plainReplace.back());
        }
        // What the window's thread spends on a save; the writer thread does the rest.
        for (int r = 0; r < repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            auto copy = group.Snapshot();
            snapshot.push_back(timer.nsecsElapsed() / 1e6);
        }
        QByteArray data;
        for (int r = 0; r < repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            const double cpu = ThreadSeconds();
            data = WriteComponent(group);
            renderCpu.push_back(data.size() / 1e6 / (ThreadSeconds() - cpu));
            render.push_back(data.size() / 1e6 / (timer.nsecsElapsed() / 1e9));
        }
        dataSize = data.size();
        // As a save renders: a large list by two threads at once, into the memory of the last record.
        std::vector<QByteArray> pieces;
        for (int r = 0; r < repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            pieces = WriteComponentPieces(group, dataSize, SplitItemsFrom, std::move(pieces));
            renderSave.push_back(dataSize / 1e6 / (timer.nsecsElapsed() / 1e9));
            QByteArray joined;
            for (const QByteArray& piece : pieces)
                joined += piece;
            if (joined != data)
                qFatal("the pieces differ from the record");
        }
        for (int r = 0; r < repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            const double cpu = ThreadSeconds();
            auto back = ReadGroup(data);
            parseCpu.push_back(data.size() / 1e6 / (ThreadSeconds() - cpu));
            parse.push_back(data.size() / 1e6 / (timer.nsecsElapsed() / 1e9));
        }
        group.Storage.reset();
    }
    for (int r = 0; r < repeats; ++r) {
        TOstrelDatabase db;
        db.FileName = path;
        QElapsedTimer timer;
        timer.start();
        auto group = LoadDatabase(db);
        load.push_back(timer.nsecsElapsed() / 1e6);
        if (!group || group->Computers()->Count() != count)
            qFatal("load failed");
        plainRead.push_back(PlainRead(path, fileSize));
    }
    QFile::remove(dir + QStringLiteral("/plain.bin"));

    out << QStringLiteral("%1 computers: file %2 bytes, DATA %3 bytes (min / median / max of %4 runs; load "
                          "average %5)\n")
               .arg(count)
               .arg(fileSize)
               .arg(dataSize)
               .arg(repeats)
               .arg(LoadAverage());
    out << "  save                 " << Spread(save) << "\n";
    out << "  plain replace        " << Spread(plainReplace) << "\n";
    out << "  save / plain replace " << Spread(ratio, "") << "(target <= 1.5)\n";
    out << "  snapshot of a save   " << Spread(snapshot)
        << " (in all; the window's thread takes it about 5 ms at a time)\n";
    out << "  rendering the record " << Spread(render, "MB/s") << " (target >= 300)\n";
    out << "    by processor time  " << Spread(renderCpu, "MB/s") << "\n";
    out << "    as a save renders  " << Spread(renderSave, "MB/s") << " (two threads, memory reused)\n";
    out << "  load                 " << Spread(load) << "\n";
    out << "  plain read           " << Spread(plainRead) << "\n";
    out << "  parsing the record   " << Spread(parse, "MB/s") << " (target >= 200)\n";
    out << "    by processor time  " << Spread(parseCpu, "MB/s") << "\n";
    out.flush();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QTemporaryDir dir(base + QStringLiteral("/bench_database-XXXXXX"));
    if (!dir.isValid())
        qFatal("cannot make a directory in %s", qPrintable(base));
    out << "directory: " << dir.path() << "\n";
    Run(dir.path(), 1000, 3);
    Run(dir.path(), 10000, 3);
    Run(dir.path(), 65535, 3);
    return 0;
}
