#include "model/database.h"

#include "core/exceptions.h"
#include "core/texts.h"
#include "model/componentStream.h"
#include "model/compoundFile.h"
#include "model/computers.h"

#include <atomic>
#include <cstring>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

const QString RootStorageName = QStringLiteral("DBROOT");
const QString DataStreamName = QStringLiteral("DATA");

// The path with the extension of its file name (from its last dot on) replaced by extension, which
// brings its own dot if it wants one.
QString ChangeFileExt(const QString& path, const QString& extension)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot > slash)
        return path.left(dot) + extension;
    return path + extension;
}

// The name of a file that lives beside the database: its backup (".~ccn") or the compaction's scratch
// file ("$$$"). network.ccn keeps the customary names (network.~ccn, network$$$); a database named
// otherwise keeps its whole name and gets the extension added, so the file beside it can never be the
// database itself (a database opened as "x.~ccn") or another database's (home.ccn beside home.db).
QString SiblingName(const QString& path, const QString& extension)
{
    if (path.endsWith(QLatin1String(".ccn")))
        return ChangeFileExt(path, extension);
    return path + (extension.startsWith(QLatin1Char('.')) ? extension : QLatin1Char('.') + extension);
}

} // namespace

TOstrelDatabase::~TOstrelDatabase()
{
    try {
        // The backup's handle goes first: as a second name of a file not saved since, it holds the
        // file's lock, which the compaction needs.
        const bool removeBackup = static_cast<bool>(BackupStorage);
        BackupStorage.reset();
        if (RootStorage) {
            DataStorage.reset();
            RootStorage.reset();
            if (!ReadOnly && WithBackup && CompactAtClose)
                Compact();
        }
        if (removeBackup && QFileInfo::exists(BackupFileName))
            QFile::remove(BackupFileName);
    } catch (...) {
        // Closing is silent: the file on disk is complete whatever happened here.
    }
}

void TOstrelDatabase::OpenFile()
{
    std::shared_ptr<TStorage> root;
    std::shared_ptr<TStorage> data;
    quint32 code = TStorage::IsCompoundFile(FileName);
    if (code == StgResult::Ok)
        code = TStorage::Open(FileName, root, ReadOnly);
    if (ReadOnlyIfRefused && !ReadOnly &&
        (code == StgResult::FromErrno(EACCES) || code == StgResult::FromErrno(EROFS) ||
         code == StgResult::FromErrno(EPERM))) {
        const quint32 refused = code;
        code = TStorage::Open(FileName, root, true);
        if (code == StgResult::Ok) {
            ReadOnly = true;
            WriteRefused = refused;
        }
    }
    bool noRoot = false;
    if (code == StgResult::Ok) {
        code = root->OpenStorage(RootStorageName, data);
        noRoot = code == StgResult::FromErrno(ENOENT);
    }
    if (code != StgResult::Ok) {
        data.reset();
        root.reset();
        // A compound file without our storage is not "missing": say what it lacks.
        const QString reason = noRoot ? Res::Str(Res::DbNoRootStorage) : StorageErrorText(code);
        throw EOstrelException(Res::Str(Res::DbOpenError).arg(FileName, reason));
    }
    FPath = root->FileName();
    RootStorage = std::move(root);
    DataStorage = std::move(data);
}

void TOstrelDatabase::LeaveUntouched()
{
    // We still hold the lock: clear what killed writes of the backup left, and an empty backup, which
    // holds nothing; a backup with content may be the last good copy and stays.
    const QString backup = SiblingName(FPath.isEmpty() ? FileName : FPath, QStringLiteral(".~ccn"));
    struct stat info;
    if (!ReadOnly) {
        TStorage::RemoveLeftovers(backup);
        if (::lstat(QFile::encodeName(backup).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_size == 0)
            QFile::remove(backup);
    }
    DataStorage.reset();
    RootStorage.reset();
    BackupStorage.reset();
    FLeftUntouched = true;
}

void TOstrelDatabase::ReleaseKeepingBackup()
{
    DataStorage.reset();
    RootStorage.reset();
    BackupStorage.reset();
}

void TOstrelDatabase::CreateNew()
{
    std::shared_ptr<TStorage> root;
    std::shared_ptr<TStorage> data;
    // Created whole and locked under a hidden name, the file takes its name only if nothing holds it:
    // of two instances started at once exactly one gets it, and a file or link that appeared meanwhile
    // is never replaced.
    quint32 code = TStorage::CreateInMemory(FileName, root, true);
    if (code == StgResult::Ok)
        code = root->CreateStorage(RootStorageName, data);
    if (code == StgResult::Ok) {
        TGroup group;
        group.Name = RootStorageName;
        // This write also puts DBROOT on the disk.
        code = data->WriteStream(DataStreamName, WriteComponent(group));
    }
    if (code == StgResult::FromErrno(EEXIST)) {
        // Say why the name is taken: it is in use, a dangling link, no regular file, ...
        std::shared_ptr<TStorage> holder;
        quint32 reason = TStorage::Open(FileName, holder);
        if (reason == StgResult::Ok || reason == StgResult::NotCompoundFile)
            reason = code;
        throw EOstrelException(Res::Str(Res::DbOpenError).arg(FileName, StorageErrorText(reason)));
    }
    if (code != StgResult::Ok)
        throw EOstrelException(Res::Str(Res::DbCreateError).arg(FileName, StorageErrorText(code)));
    FPath = root->FileName();
    TStorage::RemoveLeftovers(FPath);
    RootStorage = std::move(root);
    DataStorage = std::move(data);
    if (WithBackup)
        MakeBackupCopy();
}

void TOstrelDatabase::MakeBackupCopy()
{
    BackupFileName = SiblingName(FPath.isEmpty() ? FileName : FPath, QStringLiteral(".~ccn"));
    BackupStorage.reset();
    std::shared_ptr<TStorage> temp;
    quint32 code = RootStorage ? StgResult::Ok : StgResult::FromErrno(EBADF);
    if (code == StgResult::Ok)
        TStorage::RemoveLeftovers(BackupFileName);
    // A second name of the file itself, which saves never write in place, costs no byte: a copy of
    // 50 MB into the page cache held the window's thread for 10 to 500 ms. The name replaces the old
    // copy in one step, so a kill leaves one or the other.
    if (code == StgResult::Ok && RootStorage->LinkTo(BackupFileName, temp) != StgResult::Ok) {
        // No hard links on this file system: a copy, written under a hidden name, flushed and renamed
        // over the old one, so that a kill leaves either copy whole (and maybe a hidden new file, which
        // the next start clears away with the others). Its flush and rename wait for the thread that
        // saves, before the first save replaces the file: the flush of a large copy waited on the disk
        // for up to half a second, on the window's thread. Until then the file itself holds the same.
        code = TStorage::CreateInMemory(BackupFileName, temp, false);
        if (code == StgResult::Ok)
            temp->FinishLater();
        if (code == StgResult::Ok)
            code = RootStorage->CopyTo(*temp);
        // The copy is written and never written again: its tree need not keep the bytes.
        if (code == StgResult::Ok)
            temp->ReleaseStreams();
    }
    if (code != StgResult::Ok) {
        temp.reset();
        throw EOstrelException(Res::Str(Res::DbTempError).arg(StorageErrorText(code)));
    }
    BackupStorage = std::move(temp);
    RootStorage->FlushFirst(BackupStorage);
}

void TOstrelDatabase::Compact()
{
    if (FLeftUntouched)
        return;
    const QString path = FPath.isEmpty() ? FileName : FPath;
    std::shared_ptr<TStorage> root;
    if (TStorage::Open(path, root) != StgResult::Ok)
        return; // still held, or unreadable: it stays as it is
    // The fresh copy replaces the file only once it is complete on disk; a failure leaves the file.
    root->CommitThrough(SiblingName(root->FileName(), QStringLiteral("$$$")));
}

QString TOstrelDatabase::StorageErrorText(quint32 code)
{
    QString text;
    if (code == StgResult::NotCompoundFile)
        text = Res::Str(Res::StgNotCompoundFile);
    else if (code == StgResult::SharingViolation)
        text = Res::Str(Res::StgSharingViolation);
    else if (code == StgResult::IsDirectory)
        text = Res::Str(Res::StgIsDirectory);
    else if (code == StgResult::IsFifo)
        text = Res::Str(Res::StgIsFifo);
    else if (code == StgResult::IsSocket)
        text = Res::Str(Res::StgIsSocket);
    else if (code == StgResult::IsDevice)
        text = Res::Str(Res::StgIsDevice);
    else if (code == StgResult::DanglingLink)
        text = Res::Str(Res::StgDanglingLink);
    else if (code == StgResult::StreamBeyondFile)
        text = Res::Str(Res::StgStreamBeyondFile);
    else if ((code & 0xFFFF) != 0)
        text = QString::fromLocal8Bit(std::strerror(static_cast<int>(code & 0xFFFF)));
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

void TOstrelDatabase::FinishLoad()
{
    if (!ReadOnly && WithBackup)
        MakeBackupCopy();
    // The record is read; every save renders it anew. Kept, its bytes would stay in memory for the whole
    // run (as much again as the computers themselves take, for a large list).
    if (DataStorage)
        DataStorage->ReleaseStream(DataStreamName);
}

std::unique_ptr<TGroup> LoadDatabase(TOstrelDatabase& db, bool finishLater, const TItemRead& itemRead)
{
    db.OpenFile();
    // The backup copy waits for the record to be read: a damaged file must not replace a good backup.
    std::unique_ptr<TGroup> group;
    QString reason;
    QByteArray data;
    const quint32 code = db.DataStorage->ReadStream(DataStreamName, data);
    if (code == StgResult::FromErrno(ENOENT)) {
        reason = Res::Str(Res::DbNoDataStream);
    } else if (code == StgResult::StreamBeyondFile) {
        reason = Res::Str(Res::DbDataBeyondFile);
    } else if (code != StgResult::Ok) {
        reason = TOstrelDatabase::StorageErrorText(code);
    } else {
        try {
            group = ReadGroup(data, itemRead);
        } catch (const std::exception& e) {
            reason = ExceptionMessage(e);
        }
    }
    if (!group) {
        // Whatever a later save or the compaction wrote would replace the computers that a repair
        // could still get back from it.
        db.LeaveUntouched();
        throw EOstrelException(Res::Str(Res::DbUnreadable).arg(db.FileName, reason));
    }
    if (!finishLater)
        db.FinishLoad();
    group->IsRoot = true;
    group->Storage = db.DataStorage;
    return group;
}

bool SaveGroup(TGroup& group, QString* error)
{
    if (error)
        error->clear();
    if (!group.Storage)
        return false;
    // Records of one database keep their size from save to save: start with room for the last one.
    static std::atomic<qsizetype> lastSize = 0;
    quint32 code = StgResult::Ok;
    try {
        // The last record's memory takes the new one: the file keeps the old bytes, and until this
        // record is written no other write of the file can happen (it would fail, not lose them). Each
        // piece goes to the new file as soon as it is rendered.
        std::vector<QByteArray> spare = group.Storage->TakeStream(DataStreamName);
        code = group.Storage->WriteStream(DataStreamName, [&](const TStorage::TPieceSink& sink) {
            std::vector<QByteArray> record =
                WriteComponentPieces(group, lastSize + lastSize / 8, SplitItemsFrom, std::move(spare), sink);
            qsizetype size = 0;
            for (const QByteArray& piece : record)
                size += piece.size();
            lastSize = size;
            return record;
        });
    } catch (const Exception& e) {
        if (error)
            *error = e.Message();
        return false;
    }
    if (code != StgResult::Ok) {
        if (error)
            *error = TOstrelDatabase::StorageErrorText(code);
        return false;
    }
    return true;
}
