#include "core/dateTime.h"
#include "core/exceptions.h"
#include "core/texts.h"
#include "model/componentStream.h"
#include "model/compoundFile.h"
#include "model/computers.h"
#include "model/database.h"
#include "streamBytes.h"

#include <csignal>
#include <cstring>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

// Debian's own interpreter, which has python3-olefile, whatever python3 comes first on the PATH.
const QString Python = QStringLiteral("/usr/bin/python3");

const char* const OleReport = R"(
import json, sys, olefile
ole = olefile.OleFileIO(sys.argv[1])
report = {
    "entries": ["/".join(e) for e in ole.listdir(streams=True, storages=True)],
    "sectorSize": ole.sector_size,
    "major": ole.dll_version,
    "clsids": [ole.root.clsid] + [ole.getclsid(e) for e in ole.listdir(streams=False, storages=True)],
}
if ole.exists("DBROOT/DATA"):
    report["data"] = ole.openstream("DBROOT/DATA").read().hex()
print(json.dumps(report))
)";

// The compound file as an independent reader sees it.
QJsonObject OleFileReport(const QString& path)
{
    QProcess python;
    python.start(Python, {QStringLiteral("-c"), QString::fromLatin1(OleReport), path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return QJsonObject{{"error", QString::fromLocal8Bit(python.readAllStandardError())}};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

bool OleFileAvailable()
{
    QProcess python;
    python.start(Python, {QStringLiteral("-c"), QStringLiteral("import olefile")});
    return python.waitForFinished(30000) && python.exitStatus() == QProcess::NormalExit &&
           python.exitCode() == 0;
}

QString OpenMessage(const QString& path, const QString& reason)
{
    return Res::Str(Res::DbOpenError).arg(path, reason);
}

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

ino_t Inode(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A compound file made by our own layer with the given storages (and a DATA stream in DBROOT if given).
void MakeCompoundFile(const QString& path, const QString& storageName, const QByteArray* data)
{
    std::shared_ptr<TStorage> root;
    QCOMPARE(TStorage::Create(path, root), StgResult::Ok);
    std::shared_ptr<TStorage> storage;
    QCOMPARE(root->CreateStorage(storageName, storage), StgResult::Ok);
    if (data)
        QCOMPARE(storage->WriteStream(QStringLiteral("DATA"), *data), StgResult::Ok);
    else
        QCOMPARE(root->Commit(), StgResult::Ok);
}

// DATA of DBROOT in the compound file at path, as our own reader reads it.
void ReadRecord(const QString& path, QByteArray& data)
{
    std::shared_ptr<TStorage> root, dbroot;
    QCOMPARE(TStorage::Open(path, root), StgResult::Ok);
    QCOMPARE(root->OpenStorage(QStringLiteral("DBROOT"), dbroot), StgResult::Ok);
    QCOMPARE(dbroot->ReadStream(QStringLiteral("DATA"), data), StgResult::Ok);
}

// The records the save-loop child writes: k computers named "k-i", so a torn or mixed record shows.
void FillGroup(TGroup& group, int k)
{
    group.Computers()->Clear();
    for (int i = 0; i < k; ++i) {
        TComputer* c = group.Computers()->Add();
        c->SetName(QStringLiteral("%1-%2").arg(k).arg(i));
        c->Comments = QString(i * 7 % 300, QLatin1Char('x'));
        c->MACAddresses()->Add()->Address =
            QStringLiteral("00-11-22-33-44-%1").arg(i % 100, 2, 10, QLatin1Char('0'));
    }
}

// A record as the loaded group writes it again: the load marks the group as the root.
QByteArray AsLoaded(QByteArray record)
{
    return record.replace(QByteArray("\x06IsRoot\x08"), QByteArray("\x06IsRoot\x09"));
}

bool RecordIsWhole(const TGroup& group)
{
    const int k = group.Computers()->Count();
    for (int i = 0; i < k; ++i)
        if (group.Computers()->Items(i)->Name() != QStringLiteral("%1-%2").arg(k).arg(i))
            return false;
    return true;
}

// Child: tries to open the database and prints what happened.
int ChildOpen(const QString& path)
{
    TOstrelDatabase db;
    db.FileName = path;
    try {
        auto group = LoadDatabase(db);
        QTextStream(stdout) << "opened";
    } catch (const Exception& e) {
        QTextStream(stdout) << e.Message();
        return 2;
    }
    return 0;
}

// Child: saves records of changing size as fast as it can until it is killed.
int ChildSaveLoop(const QString& path)
{
    TOstrelDatabase db;
    db.FileName = path;
    std::unique_ptr<TGroup> group;
    try {
        group = LoadDatabase(db);
    } catch (const Exception& e) {
        QTextStream(stderr) << e.Message();
        return 2;
    }
    if (!group)
        return 3;
    QTextStream(stdout) << "ready" << Qt::endl;
    for (int round = 0;; ++round) {
        FillGroup(*group, (round * 37) % 120);
        if (!SaveGroup(*group))
            return 4;
    }
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { SetNowSource({}); }
    void init();

    void createNewMakesTheFile();
    void orderlyCloseLeavesOnlyTheFile();
    void otherNamesKeepTheirBackupApart_data();
    void otherNamesKeepTheirBackupApart();
    void createFailures();
    void openFailures_data();
    void openFailures();
    void loadAgainAfterRefusal();
    void missingDataIsLeftUntouched();
    void saveAndLoad();
    void saveRewritesTheWholeRecord();
    void largeRecordIsReadByEveryReader();
    void earlierLayoutsLoad_data();
    void earlierLayoutsLoad();
    void saveFailureIsReported();
    void saveKeepsTheFileMode();
    void groupWithoutStorageIsNotSaved();
    void backupCopyFailureRaises();
    void staleBackupIsReplaced();
    void backupIsFlushedBeforeTheFileIsReplaced();
    void compactionThatCannotRunLeavesTheFile();
    void secondInstanceIsRefused();
    void killedDuringSavesAlwaysLoads();

private:
    QString FilePath() const { return FDir->filePath(QStringLiteral("network.ccn")); }
    QStringList DirEntries() const
    {
        return QDir(FDir->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    std::unique_ptr<QTemporaryDir> FDir;
    bool FOleFile = false;
};

void TestDatabase::initTestCase()
{
    SetNowSource([] { return FixedNow; });
    FOleFile = OleFileAvailable();
}

void TestDatabase::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestDatabase::createNewMakesTheFile()
{
    TOstrelDatabase db;
    db.FileName = FilePath();
    db.CreateNew();
    QVERIFY(db.RootStorage && db.DataStorage && db.BackupStorage);
    QCOMPARE(db.BackupFileName, FDir->filePath(QStringLiteral("network.~ccn")));
    QCOMPARE(DirEntries(), QStringList({"network.ccn", "network.~ccn"}));

    if (!FOleFile)
        QSKIP("python3-olefile is not installed for /usr/bin/python3");
    for (const QString& path : {db.FileName, db.BackupFileName}) {
        const QJsonObject report = OleFileReport(path);
        QVERIFY2(!report.contains("error"), qPrintable(report.value("error").toString()));
        QCOMPARE(report.value("entries").toArray(), QJsonArray({"DBROOT", "DBROOT/DATA"}));
        QCOMPARE(report.value("sectorSize").toInt(), 512);
        QCOMPARE(report.value("major").toInt(), 3);
        for (const auto& clsid : report.value("clsids").toArray())
            QCOMPARE(clsid.toString(), QString()); // no class identifiers anywhere
        QCOMPARE(QByteArray::fromHex(report.value("data").toString().toLatin1()).toHex(' '),
                 NewDatabaseRecord().toHex(' '));
    }
}

void TestDatabase::orderlyCloseLeavesOnlyTheFile()
{
    QByteArray written;
    ino_t before = 0;
    {
        auto db = std::make_unique<TOstrelDatabase>();
        db->FileName = FilePath();
        db->CreateNew();
        auto group = std::make_unique<TGroup>();
        group->Storage = db->DataStorage;
        FillGroup(*group, 3);
        QVERIFY(SaveGroup(*group));
        written = WriteComponent(*group);
        before = Inode(FilePath());
        // Shutdown order: the group first (it holds the storage), then the database.
        group.reset();
        db.reset();
    }
    QCOMPARE(DirEntries(), QStringList({"network.ccn"}));
    QVERIFY(Inode(FilePath()) != before); // compacted: a fresh file took the name

    TOstrelDatabase db;
    db.FileName = FilePath();
    auto group = LoadDatabase(db);
    QVERIFY(group);
    QCOMPARE(WriteComponent(*group), AsLoaded(written));
    QVERIFY(group->IsRoot);
    QCOMPARE(group->Storage, db.DataStorage);
}

void TestDatabase::otherNamesKeepTheirBackupApart_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("backup");
    // A database opened under its backup's name must not take itself for its backup.
    QTest::newRow("a backup opened as the database") << "network.~ccn"
                                                     << "network.~ccn.~ccn";
    QTest::newRow("another extension") << "home.db"
                                       << "home.db.~ccn";
    QTest::newRow("no extension") << "lab"
                                  << "lab.~ccn";
}

void TestDatabase::otherNamesKeepTheirBackupApart()
{
    QFETCH(QString, name);
    QFETCH(QString, backup);
    const QString path = FDir->filePath(name);
    {
        TOstrelDatabase db;
        db.FileName = path;
        db.CreateNew();
        auto group = std::make_unique<TGroup>();
        group->Storage = db.DataStorage;
        FillGroup(*group, 2);
        QVERIFY(SaveGroup(*group));
        QCOMPARE(db.BackupFileName, FDir->filePath(backup));
        QVERIFY(QFileInfo::exists(db.BackupFileName));
    }
    QCOMPARE(DirEntries(), QStringList({name}));
    TOstrelDatabase db;
    db.FileName = path;
    auto group = LoadDatabase(db);
    QVERIFY(group);
    QCOMPARE(group->Computers()->Count(), 2);
}

void TestDatabase::createFailures()
{
    TOstrelDatabase nowhere;
    nowhere.FileName = FDir->filePath(QStringLiteral("missing/network.ccn"));
    try {
        nowhere.CreateNew();
        QFAIL("created in a directory that does not exist");
    } catch (const EOstrelException& e) {
        QCOMPARE(e.Message(), Res::Str(Res::DbCreateError).arg(nowhere.FileName, ErrnoText(ENOENT)));
    }

    // The file of a database that is open is not replaced from under it: it is in use.
    TOstrelDatabase first;
    first.FileName = FilePath();
    first.CreateNew();
    const ino_t before = Inode(FilePath());
    TOstrelDatabase second;
    second.FileName = FilePath();
    try {
        second.CreateNew();
        QFAIL("replaced a database that is open");
    } catch (const EOstrelException& e) {
        QCOMPARE(e.Message(), OpenMessage(FilePath(), Res::Str(Res::StgSharingViolation)));
    }
    QCOMPARE(Inode(FilePath()), before);
    QVERIFY(!second.RootStorage && !second.BackupStorage);
}

void TestDatabase::openFailures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");
    QTest::newRow("text file") << "text" << Res::Str(Res::StgNotCompoundFile);
    QTest::newRow("empty file") << "empty" << Res::Str(Res::StgNotCompoundFile);
    QTest::newRow("signature only") << "signature" << Res::Str(Res::StgNotCompoundFile);
    QTest::newRow("cut compound file") << "cut" << Res::Str(Res::StgNotCompoundFile);
    QTest::newRow("missing file") << "missing" << ErrnoText(ENOENT);
    QTest::newRow("directory") << "directory" << Res::Str(Res::StgIsDirectory);
    QTest::newRow("no DBROOT") << "noDbroot" << Res::Str(Res::DbNoRootStorage);
}

void TestDatabase::openFailures()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    const QString path = FilePath();
    if (setup == "text") {
        WriteFile(path, "This is not a database.\r\n");
    } else if (setup == "empty") {
        WriteFile(path, QByteArray());
    } else if (setup == "signature") {
        WriteFile(path, QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(600, '\0'));
    } else if (setup == "cut") {
        const QByteArray data = NewDatabaseRecord();
        MakeCompoundFile(path, QStringLiteral("DBROOT"), &data);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(1024));
    } else if (setup == "directory") {
        QVERIFY(QDir(FDir->path()).mkdir(QStringLiteral("network.ccn")));
    } else if (setup == "noDbroot") {
        MakeCompoundFile(path, QStringLiteral("OTHER"), nullptr);
    }
    TOstrelDatabase db;
    db.FileName = path;
    try {
        LoadDatabase(db);
        QFAIL("the database opened");
    } catch (const EOstrelException& e) {
        QCOMPARE(e.Message(), OpenMessage(path, reason));
    }
    QVERIFY(!db.RootStorage && !db.DataStorage && !db.BackupStorage);
    QVERIFY(!QFileInfo::exists(FDir->filePath(QStringLiteral("network.~ccn"))));
}

void TestDatabase::loadAgainAfterRefusal()
{
    // A refused file leaves nothing open, so the same object loads the file once it is a database.
    WriteFile(FilePath(), "plain text");
    TOstrelDatabase db;
    db.FileName = FilePath();
    QVERIFY_THROWS_EXCEPTION(EOstrelException, LoadDatabase(db));
    QVERIFY(!db.RootStorage);

    const QByteArray data = NewDatabaseRecord();
    MakeCompoundFile(FilePath(), QStringLiteral("DBROOT"), &data);
    QVERIFY(LoadDatabase(db));
    QVERIFY(db.RootStorage && db.DataStorage && db.BackupStorage);
}

void TestDatabase::missingDataIsLeftUntouched()
{
    MakeCompoundFile(FilePath(), QStringLiteral("DBROOT"), nullptr);
    const ino_t before = Inode(FilePath());
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        try {
            LoadDatabase(db);
            QFAIL("a file without DATA loaded");
        } catch (const EOstrelException& e) {
            QCOMPARE(e.Message(), Res::Str(Res::DbUnreadable).arg(FilePath(), Res::Str(Res::DbNoDataStream)));
        }
        QVERIFY(db.LeftUntouched() && !db.DataStorage && !db.BackupStorage);
    }
    // Not compacted at close.
    QCOMPARE(Inode(FilePath()), before);
}

void TestDatabase::saveAndLoad()
{
    QByteArray written;
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        db.CreateNew();
        // The start-up's new root group: defaults, and the database's DBROOT storage.
        TGroup group;
        group.Storage = db.DataStorage;
        FillGroup(group, 2);
        group.Computers()->Items(1)->SetName(QStringLiteral("\u6587\u4EF6\u670D\u52A1\u5668"));
        group.Computers()->Items(0)->Comments = QString(300, QLatin1Char('a'));
        QString error;
        QVERIFY(SaveGroup(group, &error));
        QCOMPARE(error, QString());
        written = WriteComponent(group);

        if (FOleFile) {
            const QJsonObject report = OleFileReport(FilePath());
            QCOMPARE(report.value("entries").toArray(), QJsonArray({"DBROOT", "DBROOT/DATA"}));
            QCOMPARE(QByteArray::fromHex(report.value("data").toString().toLatin1()), written);
        }
        group.Storage.reset();
    }
    TOstrelDatabase db;
    db.FileName = FilePath();
    auto group = LoadDatabase(db);
    QVERIFY(group);
    QCOMPARE(group->Computers()->Count(), 2);
    QCOMPARE(group->Computers()->Items(1)->Name(), QStringLiteral("\u6587\u4EF6\u670D\u52A1\u5668"));
    QVERIFY(group->IsRoot);
    QCOMPARE(WriteComponent(*group), AsLoaded(written));
    // The loaded tree let go of the record: writing the tree as it is would empty the file's record, so
    // it is refused, and only a save (which renders the record anew) writes the file.
    QByteArray data;
    QCOMPARE(db.DataStorage->ReadStream(QStringLiteral("DATA"), data), StgResult::FromErrno(EBADF));
    QCOMPARE(db.RootStorage->Commit(), StgResult::FromErrno(EBADF));
    group->Computers()->Items(0)->Comments = QStringLiteral("after");
    QVERIFY(SaveGroup(*group));
    QCOMPARE(db.DataStorage->ReadStream(QStringLiteral("DATA"), data), StgResult::Ok);
    QCOMPARE(data, WriteComponent(*group));
}

void TestDatabase::saveRewritesTheWholeRecord()
{
    TOstrelDatabase db;
    db.FileName = FilePath();
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    FillGroup(group, 50);
    QVERIFY(SaveGroup(group));
    // A record rendered in two halves at once, then one written into the memory of the last.
    FillGroup(group, SplitItemsFrom + 1);
    QVERIFY(SaveGroup(group));
    group.Computers()->Items(SplitItemsFrom)->Comments = QStringLiteral("last");
    QVERIFY(SaveGroup(group));
    const QString copy = FDir->filePath(QStringLiteral("copy.ccn"));
    QVERIFY(QFile::copy(FilePath(), copy));
    QByteArray big;
    ReadRecord(copy, big);
    QCOMPARE(big, WriteComponent(group));
    FillGroup(group, 1);
    QVERIFY(SaveGroup(group));
    // The file holds exactly the new, shorter record.
    std::shared_ptr<TStorage> dbroot = db.DataStorage;
    db.DataStorage.reset();
    db.RootStorage.reset();
    group.Storage.reset();
    dbroot.reset();
    QByteArray data;
    ReadRecord(FilePath(), data);
    QCOMPARE(data, WriteComponent(group));
}

void TestDatabase::largeRecordIsReadByEveryReader()
{
    TOstrelDatabase db;
    db.FileName = FilePath();
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    // Rendered in runs while it is written, and large enough for the FAT to need DIFAT sectors.
    FillGroup(group, SplitItemsFrom + 1);
    group.Computers()->Items(7)->Comments = QString(7'500'000, QLatin1Char('y'));
    QVERIFY(SaveGroup(group));
    const QByteArray written = WriteComponent(group);
    QFile file(FilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    // The record starts right after the header.
    QCOMPARE(file.read(512 + 4).mid(512), QByteArray("TPF0"));
    file.close();
    if (FOleFile) {
        const QJsonObject report = OleFileReport(FilePath());
        QVERIFY2(!report.contains("error"), qPrintable(report.value("error").toString()));
        QVERIFY(QByteArray::fromHex(report.value("data").toString().toLatin1()) == written);
    }
    db.DataStorage.reset();
    db.RootStorage.reset();
    group.Storage.reset();
    QByteArray data;
    ReadRecord(FilePath(), data);
    QVERIFY(data == written);
}

void TestDatabase::earlierLayoutsLoad_data()
{
    // Files of 40 computers as earlier versions wrote them: tables before the record, and libgsf's.
    QTest::addColumn<QString>("name");
    QTest::newRow("tables first") << "earlier-tables-first.ccn";
    QTest::newRow("libgsf") << "earlier-libgsf.ccn";
}

void TestDatabase::earlierLayoutsLoad()
{
    QFETCH(QString, name);
    QVERIFY(QFile::copy(QFINDTESTDATA("data/" + name), FilePath()));
    QVERIFY(QFile::setPermissions(FilePath(), QFile::ReadOwner | QFile::WriteOwner));
    TOstrelDatabase db;
    db.FileName = FilePath();
    auto group = LoadDatabase(db);
    QVERIFY(group);
    QCOMPARE(group->Computers()->Count(), 40);
    QCOMPARE(group->Computers()->Items(39)->Name(), QStringLiteral("pc-39"));
    QVERIFY(SaveGroup(*group));
}

void TestDatabase::saveFailureIsReported()
{
    auto db = std::make_unique<TOstrelDatabase>();
    db->FileName = FilePath();
    db->CreateNew();
    TGroup group;
    group.Storage = db->DataStorage;
    // The directory goes away under the open database: there is nowhere to write.
    QVERIFY(FDir->remove());
    FillGroup(group, 1);
    QString error;
    QVERIFY(!SaveGroup(group, &error));
    QCOMPARE(error, ErrnoText(ENOENT));
    group.Storage.reset();
    db.reset(); // closing a database whose file is gone is silent
}

void TestDatabase::saveKeepsTheFileMode()
{
    const mode_t oldMask = ::umask(022);
    TOstrelDatabase db;
    db.FileName = FilePath();
    db.CreateNew();
    ::umask(oldMask);
    // A new file follows the umask; a replaced one keeps what its owner gave it.
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(FilePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0644));
    QCOMPARE(::chmod(QFile::encodeName(FilePath()).constData(), 0600), 0);
    TGroup group;
    group.Storage = db.DataStorage;
    QVERIFY(SaveGroup(group));
    QCOMPARE(::stat(QFile::encodeName(FilePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));
}

void TestDatabase::groupWithoutStorageIsNotSaved()
{
    TGroup group;
    QString error = QStringLiteral("old");
    QVERIFY(!SaveGroup(group, &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(DirEntries(), QStringList());
}

void TestDatabase::backupCopyFailureRaises()
{
    const QByteArray data = NewDatabaseRecord();
    MakeCompoundFile(FilePath(), QStringLiteral("DBROOT"), &data);
    // A non-empty directory where the backup copy belongs can neither be deleted nor replaced.
    QVERIFY(QDir(FDir->path()).mkpath(QStringLiteral("network.~ccn/inside")));
    TOstrelDatabase db;
    db.FileName = FilePath();
    try {
        LoadDatabase(db);
        QFAIL("the database opened");
    } catch (const EOstrelException& e) {
        QCOMPARE(e.Message(), Res::Str(Res::DbTempError).arg(ErrnoText(EISDIR)));
    }
}

void TestDatabase::staleBackupIsReplaced()
{
    const QByteArray data = NewDatabaseRecord();
    MakeCompoundFile(FilePath(), QStringLiteral("DBROOT"), &data);
    const QString backup = FDir->filePath(QStringLiteral("network.~ccn"));
    WriteFile(backup, "left behind by a crash");
    TOstrelDatabase db;
    db.FileName = FilePath();
    auto group = LoadDatabase(db);
    QVERIFY(group);
    // A save replaces the file; the copy keeps it as it was read, and its lock.
    group->Computers()->Add()->SetName(QStringLiteral("added"));
    QVERIFY(SaveGroup(*group));
    std::shared_ptr<TStorage> other;
    QCOMPARE(TStorage::Open(backup, other), StgResult::SharingViolation);
    // Let go of the copy's lock to read it; the save closes the file's old handle a moment later.
    db.BackupStorage.reset();
    QTRY_COMPARE(TStorage::Open(backup, other), StgResult::Ok);
    other.reset();
    QByteArray copy;
    ReadRecord(backup, copy);
    QCOMPARE(copy, data);
}

void TestDatabase::backupIsFlushedBeforeTheFileIsReplaced()
{
    // The file is replaced only once the file it must flush first is on the disk: a flush that fails
    // fails the save, and the next save tries it again.
    const QByteArray data = NewDatabaseRecord();
    MakeCompoundFile(FilePath(), QStringLiteral("DBROOT"), &data);
    std::shared_ptr<TStorage> root, dbroot, copy;
    QCOMPARE(TStorage::Open(FilePath(), root), StgResult::Ok);
    QCOMPARE(root->OpenStorage(QStringLiteral("DBROOT"), dbroot), StgResult::Ok);
    QCOMPARE(TStorage::CreateInMemory(FDir->filePath(QStringLiteral("copy.ccn")), copy, false),
             StgResult::Ok);
    copy->FinishLater();
    root->FlushFirst(copy);
    // Not written yet, the copy has nothing to flush: the save fails and the file stays as it was.
    struct stat before, after;
    QCOMPARE(::stat(QFile::encodeName(FilePath()).constData(), &before), 0);
    QCOMPARE(dbroot->WriteStream(QStringLiteral("DATA"), QByteArray("new")), StgResult::FromErrno(EBADF));
    QCOMPARE(::stat(QFile::encodeName(FilePath()).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    // Written, the copy waits under a hidden name: an old file of its name stays until the flush.
    WriteFile(FDir->filePath(QStringLiteral("copy.ccn")), "old copy");
    QCOMPARE(root->CopyTo(*copy), StgResult::Ok);
    QCOMPARE(TStorage::IsCompoundFile(FDir->filePath(QStringLiteral("copy.ccn"))),
             StgResult::NotCompoundFile);
    QCOMPARE(dbroot->WriteStream(QStringLiteral("DATA"), QByteArray("new")), StgResult::Ok);
    QCOMPARE(TStorage::IsCompoundFile(FDir->filePath(QStringLiteral("copy.ccn"))), StgResult::Ok);
    QCOMPARE(root->FlushPending(), StgResult::Ok);
    // A copy let go is flushed no more: nothing holds its file open for it.
    root->FlushFirst(copy);
    copy.reset();
    QCOMPARE(dbroot->WriteStream(QStringLiteral("DATA"), data), StgResult::Ok);
}

void TestDatabase::compactionThatCannotRunLeavesTheFile()
{
    QByteArray written;
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        db.CreateNew();
        TGroup group;
        group.Storage = db.DataStorage;
        FillGroup(group, 4);
        QVERIFY(SaveGroup(group));
        written = WriteComponent(group);
        group.Storage.reset();
        // The compaction file's name is taken by a directory that cannot be removed.
        QVERIFY(QDir(FDir->path()).mkpath(QStringLiteral("network$$$/inside")));
    }
    QVERIFY(QDir(FDir->path()).rmdir(QStringLiteral("network$$$/inside")));
    QVERIFY(QDir(FDir->path()).rmdir(QStringLiteral("network$$$")));
    QCOMPARE(DirEntries(), QStringList({"network.ccn"}));
    {
        // A group that outlives the database keeps the file held: no compaction, the file as saved.
        auto db = std::make_unique<TOstrelDatabase>();
        db->FileName = FilePath();
        auto group = LoadDatabase(*db);
        QVERIFY(group);
        const ino_t before = Inode(FilePath());
        db.reset();
        QCOMPARE(Inode(FilePath()), before);
    }
    TOstrelDatabase db;
    db.FileName = FilePath();
    auto group = LoadDatabase(db);
    QVERIFY(group);
    QCOMPARE(group->Computers()->Count(), 4);
    QVERIFY(RecordIsWhole(*group));
}

void TestDatabase::secondInstanceIsRefused()
{
    const QString sharing = OpenMessage(FilePath(), Res::Str(Res::StgSharingViolation));
    auto runChild = [this](QString& output) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), FilePath()});
        if (!child.waitForFinished(30000))
            return -1;
        output = QString::fromLocal8Bit(child.readAllStandardOutput());
        return child.exitCode();
    };
    QString output;
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        db.CreateNew();
        QCOMPARE(runChild(output), 2);
        QCOMPARE(output, sharing);

        // Still held after a save has replaced the file.
        TGroup group;
        group.Storage = db.DataStorage;
        FillGroup(group, 3);
        QVERIFY(SaveGroup(group));
        QCOMPARE(runChild(output), 2);
        QCOMPARE(output, sharing);

        // A second database object of this same process is refused too.
        TOstrelDatabase other;
        other.FileName = FilePath();
        try {
            LoadDatabase(other);
            QFAIL("opened twice");
        } catch (const EOstrelException& e) {
            QCOMPARE(e.Message(), sharing);
        }
        QVERIFY(!other.RootStorage);
        group.Storage.reset();
    }
    // Closed, the file is free again.
    QCOMPARE(runChild(output), 0);
    QCOMPARE(output, QStringLiteral("opened"));
}

void TestDatabase::killedDuringSavesAlwaysLoads()
{
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        db.CreateNew();
    }
    QElapsedTimer elapsed;
    elapsed.start();
    int rounds = 0;
    QSet<int> sizesSeen;
    while (rounds < 40 && elapsed.elapsed() < 40000) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--save-loop"), FilePath()});
        QVERIFY(child.waitForStarted(10000));
        QVERIFY2(child.waitForReadyRead(20000),
                 qPrintable(QString::fromLocal8Bit(child.readAllStandardError())));
        // Somewhere in the middle of the saves.
        QThread::msleep(20 + QRandomGenerator::global()->bounded(200));
        QCOMPARE(child.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        ++rounds;

        TOstrelDatabase db;
        db.FileName = FilePath();
        std::unique_ptr<TGroup> group;
        try {
            group = LoadDatabase(db);
        } catch (const Exception& e) {
            QFAIL(qPrintable(QStringLiteral("after kill %1: %2").arg(rounds).arg(e.Message())));
        }
        QVERIFY(group);
        QVERIFY2(RecordIsWhole(*group), qPrintable(QStringLiteral("after kill %1").arg(rounds)));
        sizesSeen.insert(group->Computers()->Count());
        group.reset();
    }
    // The new files of interrupted saves are cleared away by the next holder.
    QCOMPARE(DirEntries(), QStringList({"network.ccn"}));
    QVERIFY(rounds >= 10);
    QVERIFY2(sizesSeen.size() > 1, "the kills never fell between different saves");
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--open") == 0)
        return ChildOpen(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--save-loop") == 0)
        return ChildSaveLoop(QString::fromLocal8Bit(argv[2]));
    TestDatabase test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_database.moc"
