// Saves and loads root groups of 1,000 and 10,000 computers through the database file and prints, beside
// each figure, what plain file calls take for the same number of bytes on the same disk:
//   save:  SaveGroup (record written, whole compound file replaced and flushed)  vs  write + fsync
//   load:  LoadDatabase (open, lock, parse, read the record, make the backup copy)  vs  read
// Usage: bench_database [directory]   (default: the current directory; use the disk the program runs on)
#include "core/dateTime.h"
#include "model/componentStream.h"
#include "model/computers.h"
#include "model/database.h"

#include <algorithm>
#include <fcntl.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double PlainWrite(const QString& path, const QByteArray& bytes)
{
    QElapsedTimer timer;
    timer.start();
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size() ||
        ::fsync(fd) != 0)
        qFatal("plain write failed");
    ::close(fd);
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

void Run(const QString& dir, int count, int repeats)
{
    const QString path = dir + QStringLiteral("/network.ccn");
    const QString plainPath = dir + QStringLiteral("/plain.bin");
    std::vector<double> save, plainWrite, load, parse, plainRead, record;
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
            fileSize = QFileInfo(path).size();
            plainWrite.push_back(PlainWrite(plainPath, QByteArray(fileSize, 'x')));
        }
        QByteArray data;
        for (int r = 0; r < repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            data = WriteComponent(group);
            record.push_back(timer.nsecsElapsed() / 1e6);
        }
        dataSize = data.size();
        for (int r = 0; r < repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            auto back = ReadGroup(data);
            parse.push_back(timer.nsecsElapsed() / 1e6);
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
    QFile::remove(plainPath);

    const double mb = dataSize / 1e6;
    out << QStringLiteral("%1 computers: file %2 bytes, DATA %3 bytes\n")
               .arg(count)
               .arg(fileSize)
               .arg(dataSize);
    out << QStringLiteral("  save %1 ms   plain write+fsync %2 ms   ratio %3 (target <= 2)\n")
               .arg(Median(save), 0, 'f', 2)
               .arg(Median(plainWrite), 0, 'f', 2)
               .arg(Median(save) / Median(plainWrite), 0, 'f', 2);
    out << QStringLiteral("  of which writing the record %1 ms\n").arg(Median(record), 0, 'f', 2);
    out << QStringLiteral("  load %1 ms = %2 MB/s of DATA (target >= 50)   plain read %3 ms\n")
               .arg(Median(load), 0, 'f', 2)
               .arg(mb / (Median(load) / 1000), 0, 'f', 1)
               .arg(Median(plainRead), 0, 'f', 2);
    out << QStringLiteral("  of which reading the record %1 ms = %2 MB/s\n")
               .arg(Median(parse), 0, 'f', 2)
               .arg(mb / (Median(parse) / 1000), 0, 'f', 1);
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
    Run(dir.path(), 1000, 15);
    Run(dir.path(), 10000, 7);
    return 0;
}
