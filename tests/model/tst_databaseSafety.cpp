#include "app/signalHandler.h"
#include "core/exceptions.h"
#include "core/texts.h"
#include "model/compoundFile.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"

#include <csignal>
#include <cstring>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The database never loses or destroys a file: damaged files, names that are no file, links and owners,
// a full disk, two instances at once, and an end by signal.

namespace {

QString OpenMessage(const QString& path, int reason)
{
    return Res::Str(Res::DbOpenError).arg(path, Res::Str(reason));
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList Entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

// A closed database at path holding count computers named "pc-i" (local addresses only).
bool MakeDatabase(const QString& path, int count)
{
    TOstrelDatabase db;
    db.FileName = path;
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (int i = 0; i < count; ++i) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(QStringLiteral("pc-%1").arg(i));
        computer->IPAddress = QStringLiteral("127.0.0.1");
        computer->Comments = QString(100, QLatin1Char('c'));
        computer->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
    }
    const bool saved = SaveGroup(group);
    group.Storage.reset();
    return saved;
}

// The computers the file at path loads with, or -1 when it does not load. Read only, nothing is written
// beside the file.
int LoadedCount(const QString& path, bool readOnly = false)
{
    TOstrelDatabase db;
    db.FileName = path;
    db.ReadOnly = readOnly;
    try {
        auto group = LoadDatabase(db);
        return group ? group->Computers()->Count() : -1;
    } catch (const Exception&) {
        return -1;
    }
}

// The offset of the directory entry of a compound file that has the given name.
qsizetype DirectoryEntry(const QByteArray& file, const QString& name)
{
    QByteArray field(64, '\0');
    std::memcpy(field.data(), name.utf16(), static_cast<size_t>(name.size()) * 2);
    for (qsizetype at = 512; at + 128 <= file.size(); at += 128)
        if (file.mid(at, 64) == field && quint8(file[at + 0x40]) == (name.size() + 1) * 2)
            return at;
    return -1;
}

void Poke32(QByteArray& file, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        file[at + i] = static_cast<char>(value >> (8 * i));
}

QString SafetyMessage(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return QString();
}

bool IsRoot()
{
    return ::geteuid() == 0;
}

// Child: creates the database at a given moment, shared with a twin, and holds it a while.
int ChildCreate(const QString& path, qint64 startAt)
{
    while (QDateTime::currentMSecsSinceEpoch() < startAt) {
    }
    TOstrelDatabase db;
    db.FileName = path;
    try {
        db.CreateNew();
    } catch (const Exception& e) {
        QTextStream(stdout) << e.Message();
        return 2;
    }
    TGroup group;
    group.Storage = db.DataStorage;
    group.Computers()->Add()->SetName(QStringLiteral("winner-%1").arg(QCoreApplication::applicationPid()));
    if (!SaveGroup(group))
        return 3;
    group.Storage.reset();
    QThread::msleep(1500);
    QTextStream(stdout) << "created";
    return 0;
}

// Child in a mount namespace of its own: a database on a tiny tmpfs that fills up.
int ChildDiskFull(const QString& dir)
{
    auto fail = [](const QString& what) {
        QTextStream(stdout) << what;
        return 1;
    };
    if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=256k") != 0)
        return fail(QStringLiteral("mount: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    const QString path = dir + QStringLiteral("/network.ccn");
    const QString backup = dir + QStringLiteral("/network.~ccn");
    if (!MakeDatabase(path, 60))
        return fail(QStringLiteral("no database"));
    const QByteArray file = ReadBytes(path);
    if (file.isEmpty() || !WriteBytes(backup, "the backup of an earlier run"))
        return fail(QStringLiteral("setup"));
    // A save closes the file it replaced on a thread of its own, freeing its blocks a moment later: fill
    // again once that has surely happened.
    for (int round = 0; round < 2; ++round) {
        QFile filler(dir + QStringLiteral("/filler"));
        filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        filler.close();
        QThread::msleep(200);
    }
    {
        // The backup copy is a second name of the file: it needs no room.
        TOstrelDatabase db;
        db.FileName = path;
        const QString message = SafetyMessage([&db] { LoadDatabase(db); });
        if (!message.isEmpty())
            return fail(QStringLiteral("load on a full disk: %1").arg(message));
        if (ReadBytes(backup) != file)
            return fail(QStringLiteral("the backup is not the file"));
        const QStringList entries = Entries(dir);
        if (entries != QStringList({"filler", "network.ccn", "network.~ccn"}))
            return fail(QStringLiteral("left: %1").arg(entries.join(' ')));
    } // the compaction cannot run either
    if (ReadBytes(path) != file)
        return fail(QStringLiteral("the file changed"));
    QFile::remove(dir + QStringLiteral("/filler"));
    if (LoadedCount(path) != 60)
        return fail(QStringLiteral("the file does not load with its computers"));
    {
        // A record that outgrows the disk while it is being written: the file stays, and so does the
        // retry's chance once the record fits again.
        TOstrelDatabase db;
        db.FileName = path;
        auto group = LoadDatabase(db);
        const QByteArray before = ReadBytes(path);
        for (int i = 0; i < 2500; ++i)
            group->Computers()->Add()->Comments = QString(100, QLatin1Char('c'));
        QString error;
        if (SaveGroup(*group, &error) || !error.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))))
            return fail(QStringLiteral("a save beyond the disk: %1").arg(error));
        if (ReadBytes(path) != before || Entries(dir) != QStringList({"network.ccn", "network.~ccn"}))
            return fail(QStringLiteral("the failed save left %1").arg(Entries(dir).join(' ')));
        while (group->Computers()->Count() > 61)
            group->Computers()->Delete(group->Computers()->Count() - 1);
        if (!SaveGroup(*group, &error))
            return fail(QStringLiteral("the retry: %1").arg(error));
    }
    if (LoadedCount(path) != 61)
        return fail(QStringLiteral("the retry's file does not load with its computers"));
    QTextStream(stdout) << "ok";
    return 0;
}

// An exFAT file system (no hard links, no exclusive rename) in a file, mounted through FUSE on a loop
// device; Reason() says why there is none.
class TStick
{
public:
    explicit TStick(const QString& dir) : FMount(dir + QStringLiteral("/stick"))
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/fuse")))
            FReason = QStringLiteral("no /dev/fuse: no FUSE file system can be mounted here");
        else if (!IsRoot())
            FReason = QStringLiteral("needs root to attach a loop device");
        else if (Shell("command -v mount.exfat-fuse && command -v mkfs.exfat") != 0)
            FReason = QStringLiteral("needs exfat-fuse and exfatprogs");
        else if (Shell("truncate -s 64M $0.img && mkfs.exfat $0.img && mkdir $0 && "
                       "mount.exfat-fuse $(losetup -f --show $0.img) $0") != 0)
            FReason = QStringLiteral("cannot mount an exFAT image on a loop device");
    }
    ~TStick() { Shell("umount $0; losetup -j $0.img | cut -d: -f1 | xargs -r -n1 losetup -d"); }
    const QString& Reason() const { return FReason; }
    QString Path(const QString& name) const { return FMount + QLatin1Char('/') + name; }

private:
    int Shell(const char* script) const
    {
        QProcess shell;
        shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromLatin1(script), FMount});
        return shell.waitForFinished(30000) && shell.exitStatus() == QProcess::NormalExit ? shell.exitCode()
                                                                                          : -1;
    }

    QString FMount;
    QString FReason;
};

// Child: opens the database as the window does (backup copy, background saves), says so once the backup
// is written, and waits to be killed.
int ChildOpen(const QString& path)
{
    TOpenDatabase db(path);
    db.SetBackgroundSaves(true);
    db.Open();
    db.SaveNow(); // waits for the writer, which flushes the backup copy
    QTextStream(stdout) << "open" << Qt::flush;
    QThread::sleep(60);
    return 0;
}

// Child: a signal arrives, and another one while the first is being handled.
int ChildSignalTwice()
{
    InstallSignalHandler([] {
        QTextStream(stdout) << "closing" << Qt::flush;
        ::kill(::getpid(), SIGTERM);
        QThread::msleep(3000);
        QTextStream(stdout) << " survived";
    });
    QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
    return QCoreApplication::exec();
}

} // namespace

class TestDatabaseSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // damaged files
    void damagedFileIsLeftUntouched_data();
    void damagedFileIsLeftUntouched();
    // names that are no regular file
    void notARegularFile_data();
    void notARegularFile();
    // leftovers of killed writes
    void leftoversAreClearedAtStart();
    // links and ownership
    void linkIsFollowedToItsTarget();
    void danglingLinkIsNeverReplaced();
    void ownerAndGroupAreKept();
    // disk faults
    void fullDiskKeepsBackupAndFile();
    // two processes
    void firstRunCreatedByOneInstanceOnly();
    // a file system without hard links
    void databaseOnAStick();
    // signals
    void signalClosesTheOrderlyWay_data();
    void signalClosesTheOrderlyWay();
    void secondSignalEndsAtOnce();

private:
    QString FilePath() const { return FDir->filePath(QStringLiteral("network.ccn")); }
    QString BackupPath() const { return FDir->filePath(QStringLiteral("network.~ccn")); }

    std::unique_ptr<QTemporaryDir> FDir;
};

void TestDatabaseSafety::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestDatabaseSafety::damagedFileIsLeftUntouched_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("DATA size all ones") << "sizeOnes";
    QTest::newRow("DATA a byte beyond the file") << "sizeBeyond";
    QTest::newRow("DATA type 0") << "type0";
    QTest::newRow("DATA size 0") << "size0";
    QTest::newRow("DATA size cut short") << "sizeShort";
    QTest::newRow("DBROOT child is itself") << "selfChild";
    QTest::newRow("malformed record") << "record";
}

void TestDatabaseSafety::damagedFileIsLeftUntouched()
{
    QFETCH(QString, damage);
    QVERIFY(MakeDatabase(FilePath(), 200));
    QByteArray file = ReadBytes(FilePath());
    const qsizetype data = DirectoryEntry(file, QStringLiteral("DATA"));
    const qsizetype dbroot = DirectoryEntry(file, QStringLiteral("DBROOT"));
    QVERIFY(data > 0 && dbroot > 0);
    const qsizetype directoryStart = (qsizetype(quint8(file[0x30])) + 1) * 512;
    if (damage == "sizeOnes")
        Poke32(file, data + 0x78, 0xFFFFFFFF);
    else if (damage == "type0")
        file[data + 0x42] = 0;
    else if (damage == "size0")
        Poke32(file, data + 0x78, 0);
    else if (damage == "sizeBeyond")
        Poke32(file, data + 0x78, static_cast<quint32>(file.size() + 1));
    else if (damage == "sizeShort")
        Poke32(file, data + 0x78, 5000);
    else if (damage == "selfChild")
        Poke32(file, dbroot + 0x4C, static_cast<quint32>((dbroot - directoryStart) / 128));
    else if (damage == "record")
        file.replace(QByteArray("Computers"), QByteArray("Komputers"));
    QVERIFY(WriteBytes(FilePath(), file));
    // The backup of an earlier run may be the last good copy.
    const QByteArray oldBackup("the backup of an earlier run");
    QVERIFY(WriteBytes(BackupPath(), oldBackup));

    QString message;
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        std::unique_ptr<TGroup> group;
        message = SafetyMessage([&] { group = LoadDatabase(db); });
        QVERIFY(!group);
        QVERIFY(!db.RootStorage && !db.DataStorage && !db.BackupStorage);
        db.Compact(); // asked for or not, nothing is written
    }
    // Told that the file could not be read and was left untouched, with the reason.
    const QString unreadable = Res::Str(Res::DbUnreadable).arg(FilePath(), QString());
    QVERIFY2(message.startsWith(unreadable) && message.size() > unreadable.size(), qPrintable(message));
    if (damage == "sizeOnes" || damage == "sizeBeyond")
        QCOMPARE(message.mid(unreadable.size()), Res::Str(Res::DbDataBeyondFile));
    QCOMPARE(ReadBytes(FilePath()), file);
    QCOMPARE(ReadBytes(BackupPath()), oldBackup);
    QCOMPARE(Entries(FDir->path()), QStringList({"network.ccn", "network.~ccn"}));
}

void TestDatabaseSafety::notARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("reason");
    QTest::newRow("FIFO") << "fifo" << int(Res::StgIsFifo);
    QTest::newRow("link to a FIFO") << "fifoLink" << int(Res::StgIsFifo);
    QTest::newRow("socket") << "socket" << int(Res::StgIsSocket);
    QTest::newRow("link to a device") << "device" << int(Res::StgIsDevice);
    QTest::newRow("directory") << "directory" << int(Res::StgIsDirectory);
    QTest::newRow("dangling link") << "dangling" << int(Res::StgDanglingLink);
}

void TestDatabaseSafety::notARegularFile()
{
    QFETCH(QString, kind);
    QFETCH(int, reason);
    const QByteArray local = QFile::encodeName(FilePath());
    const QByteArray fifo = QFile::encodeName(FDir->filePath(QStringLiteral("fifo")));
    int listener = -1;
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(local.constData(), 0600), 0);
    } else if (kind == "fifoLink") {
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QCOMPARE(::symlink("fifo", local.constData()), 0);
    } else if (kind == "socket") {
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        QVERIFY(size_t(local.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, local.constData(), size_t(local.size()));
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    } else if (kind == "device") {
        QCOMPARE(::symlink("/dev/null", local.constData()), 0);
    } else if (kind == "directory") {
        QVERIFY(QDir(FDir->path()).mkdir(QStringLiteral("network.ccn")));
    } else if (kind == "dangling") {
        QCOMPARE(::symlink("missing.ccn", local.constData()), 0);
    }
    const QStringList before = Entries(FDir->path());
    QElapsedTimer elapsed;
    elapsed.start();
    TOstrelDatabase db;
    db.FileName = FilePath();
    // A blocked open() would hang here for ever.
    QCOMPARE(SafetyMessage([&db] { LoadDatabase(db); }), OpenMessage(FilePath(), reason));
    // The start-up takes what is not a file for a first run: it is refused the same way.
    QCOMPARE(SafetyMessage([&db] { db.CreateNew(); }), OpenMessage(FilePath(), reason));
    QVERIFY(elapsed.elapsed() < 10000);
    QCOMPARE(Entries(FDir->path()), before);
    if (listener >= 0)
        ::close(listener);
}

void TestDatabaseSafety::leftoversAreClearedAtStart()
{
    QVERIFY(MakeDatabase(FilePath(), 3));
    const QStringList leftovers = {".network.ccn.k1ll3d", ".network.~ccn.k1ll3d"};
    for (const QString& name : leftovers)
        QVERIFY(WriteBytes(FDir->filePath(name), "half written"));
    QVERIFY(WriteBytes(BackupPath(), QByteArray())); // a kill before anything was written
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        QVERIFY(LoadDatabase(db));
        QCOMPARE(Entries(FDir->path()), QStringList({"network.ccn", "network.~ccn"}));
        // The new backup is complete.
        QCOMPARE(TStorage::IsCompoundFile(BackupPath()), StgResult::Ok);
        QVERIFY(ReadBytes(BackupPath()).size() >= 1536);
    }

    // A file that cannot be read keeps a backup with content, but not an empty one nor leftovers.
    QVERIFY(WriteBytes(FilePath(), ReadBytes(FilePath()).replace("TPF0", "XXXX")));
    for (const QString& name : leftovers)
        QVERIFY(WriteBytes(FDir->filePath(name), "half written"));
    QVERIFY(WriteBytes(BackupPath(), QByteArray()));
    TOstrelDatabase db;
    db.FileName = FilePath();
    QVERIFY(!SafetyMessage([&db] { LoadDatabase(db); }).isEmpty());
    QCOMPARE(Entries(FDir->path()), QStringList({"network.ccn"}));
}

void TestDatabaseSafety::linkIsFollowedToItsTarget()
{
    const QString realDir = FDir->filePath(QStringLiteral("real"));
    QVERIFY(QDir().mkpath(realDir));
    const QString target = realDir + QStringLiteral("/data.ccn");
    QVERIFY(MakeDatabase(target, 2));
    QCOMPARE(::symlink("real/data.ccn", QFile::encodeName(FilePath()).constData()), 0);
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        auto group = LoadDatabase(db);
        QVERIFY(group);
        QCOMPARE(db.BackupFileName, realDir + QStringLiteral("/data.~ccn"));
        group->Computers()->Add()->SetName(QStringLiteral("through the link"));
        QVERIFY(SaveGroup(*group));
        QCOMPARE(Entries(realDir), QStringList({"data.ccn", "data.~ccn"}));
        QCOMPARE(Entries(FDir->path()), QStringList({"network.ccn", "real"}));
    }
    QVERIFY(QFileInfo(FilePath()).isSymLink());
    QCOMPARE(QFileInfo(FilePath()).symLinkTarget(), target);
    QCOMPARE(Entries(realDir), QStringList({"data.ccn"}));
    QCOMPARE(LoadedCount(target), 3);
}

void TestDatabaseSafety::danglingLinkIsNeverReplaced()
{
    // One that appears between the start-up's look and the creation: still never replaced.
    QCOMPARE(::symlink("missing.ccn", QFile::encodeName(FilePath()).constData()), 0);
    TOstrelDatabase db;
    db.FileName = FilePath();
    QCOMPARE(SafetyMessage([&db] { db.CreateNew(); }), OpenMessage(FilePath(), Res::StgDanglingLink));
    QVERIFY(QFileInfo(FilePath()).isSymLink());
    QCOMPARE(Entries(FDir->path()), QStringList({"network.ccn"}));
}

void TestDatabaseSafety::ownerAndGroupAreKept()
{
    if (!IsRoot())
        QSKIP("needs root to create a user and give it a file");
    const QString user = QStringLiteral("sbwsafe%1").arg(QCoreApplication::applicationPid());
    QProcess add;
    add.start(QStringLiteral("useradd"), {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                                          QStringLiteral("--user-group"), user});
    if (!add.waitForFinished(30000) || add.exitCode() != 0)
        QSKIP("useradd is not available");
    auto removeUser = qScopeGuard([&user] { QProcess::execute(QStringLiteral("userdel"), {user}); });
    QProcess id;
    id.start(QStringLiteral("id"), {QStringLiteral("-u"), user});
    QVERIFY(id.waitForFinished(10000));
    const uid_t uid = id.readAllStandardOutput().trimmed().toUInt();
    id.start(QStringLiteral("id"), {QStringLiteral("-g"), user});
    QVERIFY(id.waitForFinished(10000));
    const gid_t gid = id.readAllStandardOutput().trimmed().toUInt();
    QVERIFY(uid != 0 && gid != 0);

    QVERIFY(MakeDatabase(FilePath(), 1));
    const QByteArray local = QFile::encodeName(FilePath());
    QCOMPARE(::chown(local.constData(), uid, gid), 0);
    QCOMPARE(::chmod(local.constData(), 0640), 0);
    auto check = [&](const char* when) {
        struct stat info;
        QCOMPARE(::stat(local.constData(), &info), 0);
        QVERIFY2(info.st_uid == uid && info.st_gid == gid, when);
        QVERIFY2((info.st_mode & 07777) == 0640, when);
    };
    {
        TOstrelDatabase db;
        db.FileName = FilePath();
        auto group = LoadDatabase(db);
        QVERIFY(group);
        group->Computers()->Add()->SetName(QStringLiteral("added by root"));
        QVERIFY(SaveGroup(*group));
        check("after a save");
    }
    check("after the compaction");
    QCOMPARE(LoadedCount(FilePath()), 2);
}

void TestDatabaseSafety::fullDiskKeepsBackupAndFile()
{
    if (!IsRoot())
        QSKIP("needs root to mount a small tmpfs in a mount namespace");
    const QString dir = FDir->filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(dir));
    QProcess child;
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                 QCoreApplication::applicationFilePath(), QStringLiteral("--disk-full"), dir});
    QVERIFY(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
    QVERIFY2(child.exitCode() == 0, qPrintable(output + child.readAllStandardError()));
    QCOMPARE(output, QStringLiteral("ok"));
}

void TestDatabaseSafety::firstRunCreatedByOneInstanceOnly()
{
    const QString sharing = OpenMessage(FilePath(), Res::StgSharingViolation);
    for (int round = 0; round < 4; ++round) {
        QFile::remove(FilePath());
        const qint64 startAt = QDateTime::currentMSecsSinceEpoch() + 700;
        QProcess twins[2];
        qint64 pids[2] = {};
        for (int i = 0; i < 2; ++i) {
            twins[i].start(QCoreApplication::applicationFilePath(),
                           {QStringLiteral("--create"), FilePath(), QString::number(startAt)});
            QVERIFY(twins[i].waitForStarted(10000));
            pids[i] = twins[i].processId();
        }
        QStringList outputs;
        qint64 winner = 0;
        for (int i = 0; i < 2; ++i) {
            QVERIFY(twins[i].waitForFinished(30000));
            outputs.append(QString::fromLocal8Bit(twins[i].readAllStandardOutput()));
            if (twins[i].exitCode() == 0)
                winner = pids[i];
        }
        outputs.sort();
        QCOMPARE(outputs, QStringList({sharing, QStringLiteral("created")}));
        // The winner's addition is in the file.
        TOstrelDatabase db;
        db.FileName = FilePath();
        auto group = LoadDatabase(db);
        QVERIFY(group);
        QCOMPARE(group->Computers()->Count(), 1);
        QCOMPARE(group->Computers()->Items(0)->Name(), QStringLiteral("winner-%1").arg(winner));
    }
}

// FAT and exFAT have neither the exclusive rename nor hard links: a new database is made there all the
// same, never over a file that holds its name, and a kill while the backup copy is written leaves one
// whole copy, the old or the new.
void TestDatabaseSafety::databaseOnAStick()
{
    TStick stick(FDir->path());
    if (!stick.Reason().isEmpty())
        QSKIP(qPrintable(stick.Reason()));
    const QString path = stick.Path(QStringLiteral("network.ccn"));
    const QString backup = stick.Path(QStringLiteral("network.~ccn"));
    {
        TOpenDatabase db(path);
        db.Open();
        db.ChangeTogether([&db] { db.AddComputer()->SetName(QStringLiteral("pc-0")); });
        QVERIFY(QFileInfo::exists(backup));
        QVERIFY(db.Close());
    }
    QCOMPARE(LoadedCount(path), 1);
    const QString taken = stick.Path(QStringLiteral("taken.ccn"));
    QVERIFY(WriteBytes(taken, "not a database"));
    TOstrelDatabase other;
    other.FileName = taken;
    QVERIFY(!SafetyMessage([&other] { other.CreateNew(); }).isEmpty());
    QCOMPARE(ReadBytes(taken), QByteArray("not a database"));

    QVERIFY(QFile::remove(path));
    QVERIFY(MakeDatabase(path, 10000));
    QVERIFY(QFile::copy(path, backup));
    QElapsedTimer opening;
    opening.start();
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), path});
    QVERIFY(child.waitForReadyRead(60000));
    const int openMs = int(opening.elapsed());
    child.kill();
    child.waitForFinished(10000);
    // The copy is written at the end of the start-up: most kills fall late in it.
    for (int round = 0; round < 16; ++round) {
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), path});
        QVERIFY(child.waitForStarted(10000));
        QThread::msleep(openMs / 3 + QRandomGenerator::global()->bounded(openMs * 2 / 3 + 1));
        child.kill();
        child.waitForFinished(10000);
        QVERIFY2(LoadedCount(backup, true) == 10000, qPrintable(QStringLiteral("round %1").arg(round)));
    }
    QCOMPARE(LoadedCount(path, true), 10000);
}

void TestDatabaseSafety::signalClosesTheOrderlyWay_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestDatabaseSafety::signalClosesTheOrderlyWay()
{
    QFETCH(int, signal);
    const QString program = qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick");
    if (!QFileInfo(program).isExecutable())
        QSKIP("the program is not built");
    // A copy of the program keeps its database beside it.
    const QString copy = FDir->filePath(QStringLiteral("sablewick"));
    QVERIFY(QFile::copy(program, copy));
    QVERIFY(WriteBytes(FDir->filePath(QStringLiteral("sablewick.portable")), QByteArray()));
    QVERIFY(MakeDatabase(FilePath(), 3));

    QProcess run;
    run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    run.start(copy, {});
    QVERIFY(run.waitForStarted(10000));
    // Running once the backup copy is there.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(BackupPath()), 30000);
    QThread::msleep(300);
    QCOMPARE(run.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(run.processId()), signal);
    QVERIFY(run.waitForFinished(30000));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(BackupPath()));
    QCOMPARE(LoadedCount(FilePath()), 3);
}

void TestDatabaseSafety::secondSignalEndsAtOnce()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--signal-twice")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QString::fromLocal8Bit(child.readAllStandardOutput()), QStringLiteral("closing"));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--signal-twice") == 0)
        return ChildSignalTwice();
    if (argc == 4 && std::strcmp(argv[1], "--create") == 0)
        return ChildCreate(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong());
    if (argc == 3 && std::strcmp(argv[1], "--open") == 0)
        return ChildOpen(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--disk-full") == 0)
        return ChildDiskFull(QString::fromLocal8Bit(argv[2]));
    TestDatabaseSafety test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_databaseSafety.moc"
