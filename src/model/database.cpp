#include "model/database.h"

#include "core/exceptions.h"
#include "core/texts.h"
#include "model/componentStream.h"
#include "model/compoundFile.h"
#include "model/computers.h"

#include <cstring>
#include <QFile>
#include <QFileInfo>

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

} // namespace

TOstrelDatabase::~TOstrelDatabase()
{
    try {
        if (RootStorage) {
            DataStorage.reset();
            RootStorage.reset();
            Compact();
        }
        if (TempStorage) {
            TempStorage.reset();
            if (QFileInfo::exists(TempFileName))
                QFile::remove(TempFileName);
        }
    } catch (...) {
        // Closing is silent: the file on disk is complete whatever happened here.
    }
}

bool TOstrelDatabase::Open(bool Silent)
{
    std::shared_ptr<TStorage> root;
    std::shared_ptr<TStorage> data;
    quint32 code = TStorage::IsCompoundFile(FileName);
    if (code == StgResult::Ok)
        code = TStorage::Open(FileName, root);
    if (code == StgResult::Ok)
        code = root->OpenStorage(RootStorageName, data);
    if (code != StgResult::Ok) {
        data.reset();
        root.reset();
        if (Silent)
            return false;
        throw EOstrelException(Res::Str(Res::DbOpenError).arg(FileName, StorageErrorText(code)));
    }
    RootStorage = std::move(root);
    DataStorage = std::move(data);
    MakeTempCopy();
    return true;
}

void TOstrelDatabase::CreateNew()
{
    std::shared_ptr<TStorage> root;
    std::shared_ptr<TStorage> data;
    // The new file replaces any file of that name (one that another instance holds is refused).
    quint32 code = TStorage::Create(FileName, root);
    if (code == StgResult::Ok)
        code = root->CreateStorage(RootStorageName, data);
    if (code == StgResult::Ok) {
        TGroup group;
        group.Name = RootStorageName;
        // This write also puts DBROOT on the disk.
        code = data->WriteStream(DataStreamName, WriteComponent(group));
    }
    if (code != StgResult::Ok)
        throw EOstrelException(Res::Str(Res::DbCreateError).arg(FileName, StorageErrorText(code)));
    RootStorage = std::move(root);
    DataStorage = std::move(data);
    MakeTempCopy();
}

void TOstrelDatabase::MakeTempCopy()
{
    TempFileName = ChangeFileExt(FileName, QStringLiteral(".~ccn"));
    TempStorage.reset();
    if (QFileInfo::exists(TempFileName))
        QFile::remove(TempFileName);
    std::shared_ptr<TStorage> temp;
    quint32 code = RootStorage ? StgResult::Ok : StgResult::FromErrno(EBADF);
    // The copy is never read back, so it is not worth a flush to disk.
    if (code == StgResult::Ok)
        code = TStorage::Create(TempFileName, temp, false);
    if (code == StgResult::Ok)
        code = RootStorage->CopyTo(*temp);
    if (code != StgResult::Ok) {
        temp.reset();
        throw EOstrelException(Res::Str(Res::DbTempError).arg(StorageErrorText(code)));
    }
    TempStorage = std::move(temp);
}

void TOstrelDatabase::Compact()
{
    std::shared_ptr<TStorage> root;
    if (TStorage::Open(FileName, root) != StgResult::Ok)
        return; // still held, or unreadable: it stays as it is
    // The fresh copy replaces the file only once it is complete on disk; a failure leaves the file.
    root->CommitThrough(ChangeFileExt(FileName, QStringLiteral("$$$")));
}

QString TOstrelDatabase::StorageErrorText(quint32 code)
{
    QString text;
    if (code == StgResult::NotCompoundFile)
        text = Res::Str(Res::StgNotCompoundFile);
    else if (code == StgResult::SharingViolation)
        text = Res::Str(Res::StgSharingViolation);
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

std::unique_ptr<TGroup> LoadDatabase(TOstrelDatabase& db)
{
    db.Open(false);
    QByteArray data;
    if (db.DataStorage->ReadStream(DataStreamName, data) != StgResult::Ok)
        return nullptr;
    std::unique_ptr<TGroup> group = ReadGroup(data);
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
    static qsizetype lastSize = 0;
    QByteArray record;
    record.reserve(lastSize + lastSize / 8 + 4096);
    try {
        WriteComponent(group, record);
    } catch (const Exception& e) {
        if (error)
            *error = e.Message();
        return false;
    }
    lastSize = record.size();
    const quint32 code = group.Storage->WriteStream(DataStreamName, record);
    if (code != StgResult::Ok) {
        if (error)
            *error = TOstrelDatabase::StorageErrorText(code);
        return false;
    }
    return true;
}
