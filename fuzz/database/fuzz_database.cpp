// Feeds arbitrary bytes to the database as a whole file: written as network.ccn, then opened, locked and
// read the way the start-up does. A file that does not load must come out of it byte for byte as it went
// in, with nothing beside it; one that loads must save, close (compaction, no file left beside it) and
// load again, and after one round to the same record.
#include "core/dateTime.h"
#include "core/exceptions.h"
#include "model/componentStream.h"
#include "model/computers.h"
#include "model/database.h"

#include <cstdint>
#include <cstdlib>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

QString Dir;

QString FilePath()
{
    return Dir + QStringLiteral("/network.ccn");
}

void Clear()
{
    QDir dir(Dir);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        dir.remove(name);
}

QByteArray ReadBytes()
{
    QFile file(FilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each read drops a name's text up to its first double backslash, so such names never settle.
bool NamesSettle(const TGroup& group)
{
    for (int i = 0; i < group.Computers()->Count(); ++i)
        if (group.Computers()->Items(i)->Name().contains(QLatin1String("\\\\")))
            return false;
    return true;
}

// Opens, locks and reads the file, saves the group it holds and closes (compaction). The record of the
// group as loaded, empty when it did not load.
QByteArray LoadSaveClose(bool& settles)
{
    TOstrelDatabase db;
    db.FileName = FilePath();
    std::unique_ptr<TGroup> group;
    try {
        group = LoadDatabase(db);
    } catch (const EOstrelException&) {
        return QByteArray();
    }
    const QByteArray record = WriteComponent(*group);
    settles = NamesSettle(*group);
    QString error;
    if (!SaveGroup(*group, &error))
        qFatal("a loaded database does not save: %s", qPrintable(error));
    return record;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Clear();
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(FilePath());
        if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
            qFatal("cannot write the input file");
    }
    bool settles = false;
    if (LoadSaveClose(settles).isEmpty()) {
        if (ReadBytes() != input)
            qFatal("a file that did not load was changed");
        if (QDir(Dir)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .size() != 1)
            qFatal("a file that did not load got files beside it");
        return 0;
    }
    // The first round fills in the defaults of what the input left out; from then on it is stable.
    const QByteArray second = LoadSaveClose(settles);
    if (second.isEmpty())
        qFatal("a saved database does not load again");
    const QByteArray third = LoadSaveClose(settles);
    if (third.isEmpty())
        qFatal("a saved database does not load again");
    if (settles && second != third)
        qFatal("a saved database loads another record");
    if (QDir(Dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size() !=
        1)
        qFatal("an orderly close left files beside the database");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    SetNowSource([] { return 46000.5; });
    // Every run saves and flushes: a memory file system keeps that cheap.
    const QByteArray base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QByteArray("/dev/shm") : QDir::tempPath().toLocal8Bit();
    QByteArray templ = base + "/fuzz_database.XXXXXX";
    if (!::mkdtemp(templ.data()))
        qFatal("no scratch directory");
    Dir = QString::fromLocal8Bit(templ);
    std::atexit([] {
        Clear();
        QDir().rmdir(Dir);
    });
    return 0;
}
