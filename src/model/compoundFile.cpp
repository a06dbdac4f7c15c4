#include "model/compoundFile.h"

#include "model/compoundFormat.h"
#include "model/newFile.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace FileIo;

namespace {

constexpr unsigned char Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// What a name that is no regular file holds instead; Ok for a regular file.
quint32 KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return StgResult::Ok;
    if (S_ISDIR(mode))
        return StgResult::IsDirectory;
    if (S_ISFIFO(mode))
        return StgResult::IsFifo;
    if (S_ISSOCK(mode))
        return StgResult::IsSocket;
    return StgResult::IsDevice;
}

// Opens a regular file (following links) and nothing else. A FIFO or a device could block open() for
// ever, so the name is looked at first, opened without blocking, and the opened file looked at again
// (the name may have changed in between).
quint32 OpenRegular(const QByteArray& local, int flags, TFd& fd)
{
    fd.Reset(-1);
    struct stat info;
    if (::stat(local.constData(), &info) != 0) {
        const int error = errno;
        struct stat link;
        if (error == ENOENT && ::lstat(local.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            return StgResult::DanglingLink;
        return StgResult::FromErrno(error);
    }
    quint32 kind = KindOf(info.st_mode);
    if (kind != StgResult::Ok)
        return kind;
    fd.Reset(::open(local.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0)
        return LastError();
    if (::fstat(fd.Get(), &info) != 0)
        return LastError();
    kind = KindOf(info.st_mode);
    if (kind != StgResult::Ok) {
        fd.Reset(-1);
        return kind;
    }
    const int status = ::fcntl(fd.Get(), F_GETFL);
    if (status >= 0)
        (void)::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK);
    return StgResult::Ok;
}

// The file that path names: the target of a symbolic link (resolved once, so that every later write
// goes to the same file), else path itself, whether it exists or not.
quint32 ResolvePath(const QString& path, QString& resolved)
{
    resolved = path;
    const QByteArray local = LocalPath(path);
    struct stat link;
    if (::lstat(local.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
        return StgResult::Ok;
    char* real = ::realpath(local.constData(), nullptr);
    if (!real)
        return errno == ENOENT ? StgResult::DanglingLink : LastError();
    resolved = QFile::decodeName(QByteArray(real));
    std::free(real);
    return StgResult::Ok;
}

// A whole file read into memory that is mapped and filled in one call: faulted in a page at a time, the
// 50 MB of a large list cost as much again as reading them. Bytes() is a view, valid while this lives.
class TFileImage
{
public:
    TFileImage() = default;
    ~TFileImage()
    {
        if (FData)
            ::munmap(FData, FMapped);
    }
    TFileImage(const TFileImage&) = delete;
    TFileImage& operator=(const TFileImage&) = delete;

    bool Read(int fd)
    {
        struct stat info;
        if (::fstat(fd, &info) != 0)
            return false;
        if (info.st_size < 0 || info.st_size > (qint64(1) << 31)) {
            errno = EFBIG;
            return false;
        }
        if (info.st_size == 0)
            return true;
        FMapped = static_cast<size_t>(info.st_size);
        void* data = ::mmap(nullptr, FMapped, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (data == MAP_FAILED)
            return false;
        FData = static_cast<char*>(data);
        while (FRead < FMapped) {
            const ssize_t got = ::pread(fd, FData + FRead, FMapped - FRead, static_cast<off_t>(FRead));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (got == 0)
                break;
            FRead += static_cast<size_t>(got);
        }
        return true;
    }

    QByteArray Bytes() const { return QByteArray::fromRawData(FData, static_cast<qsizetype>(FRead)); }

private:
    char* FData = nullptr;
    size_t FMapped = 0;
    size_t FRead = 0;
};

} // namespace

// New files of saves that a crash interrupted. Only the holder of the lock writes them, so when we hold
// it, none of them is in use.
void TStorage::RemoveLeftovers(const QString& path)
{
    const QFileInfo info(path);
    const QString prefix = QLatin1Char('.') + info.fileName() + QLatin1Char('.');
    QDir dir(DirectoryOf(path));
    const QStringList names =
        dir.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        // A new file that is locked is being written (a first creation does not wait for our lock).
        TFd fd(::open(LocalPath(dir.filePath(name)).constData(),
                      O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
        if (fd.Get() >= 0 && ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        dir.remove(name);
    }
}

// ---------------------------------------------------------------------------------------------------

class TCompoundFile
{
public:
    TCompoundFile(QString path, int fd, bool durable) : Path(std::move(path)), LockFd(fd), Durable(durable) {}
    ~TCompoundFile()
    {
        if (LockFd >= 0)
            ::close(LockFd); // releases the lock
    }
    TCompoundFile(const TCompoundFile&) = delete;
    TCompoundFile& operator=(const TCompoundFile&) = delete;

    quint32 Commit(const QString& scratch = QString())
    {
        quint32 refused = Refused(nullptr);
        if (refused == StgResult::Ok)
            refused = FlushPending();
        if (refused != StgResult::Ok)
            return refused;
        std::vector<QByteArray> pieces;
        if (!Serialize(Root, pieces))
            return StgResult::FromErrno(EFBIG);
        auto file = std::make_unique<TNewFile>();
        quint32 result = file->Open(Path, Durable || FinishLater, Exclusive && scratch.isEmpty(), scratch);
        if (result != StgResult::Ok)
            return result;
        if (!WritePieces(*file, 0, pieces))
            return LastError();
        if (FinishLater) {
            // Flush takes it from here; until then the old file keeps the name.
            Pending = std::move(file);
            return StgResult::Ok;
        }
        return Finish(*file);
    }

    // Commit with node's new bytes made by make, which hands each piece to its sink as soon as that piece
    // and every one before it are made. The pieces go to the new file as they come, the node's stream
    // first in it, and the disk starts on them at once: the file is written while the stream is made.
    quint32 CommitStream(TStorageNode& node, const TStorage::TStreamMaker& make)
    {
        quint32 result = Refused(&node);
        if (result == StgResult::Ok)
            result = FlushPending();
        TNewFile file;
        if (result == StgResult::Ok)
            result = file.Open(Path, Durable, Exclusive, QString());
        // Bytes that would fit the mini stream are held back: only a large stream is written first.
        std::vector<QByteArray> held;
        qsizetype heldSize = 0;
        qint64 written = 0;
        qint64 flushedTo = 0;
        int writeError = 0;
        const auto sink = [&](const QByteArray& piece) {
            if (result != StgResult::Ok || writeError != 0 || piece.isEmpty())
                return;
            if (written == 0 && heldSize + piece.size() < Cfb::MiniCutoff) {
                held.push_back(piece);
                heldSize += piece.size();
                return;
            }
            held.push_back(piece);
            for (const QByteArray& bytes : held) {
                if (!file.Write(Cfb::Sector + written, bytes)) {
                    writeError = errno != 0 ? errno : EIO;
                    return;
                }
                written += bytes.size();
            }
            held.clear();
            // Writeback in steps of 1 MiB: each start of it is a call that costs about a tenth of a
            // millisecond.
            constexpr qint64 Step = qint64(1) << 20;
            if (written - flushedTo >= Step) {
                file.StartWriteback(Cfb::Sector + flushedTo, Cfb::Sector + written);
                flushedTo = written;
            }
        };
        node.Data = make(sink);
        node.Released = false;
        if (result != StgResult::Ok)
            return result;
        if (writeError != 0)
            return StgResult::FromErrno(writeError);
        std::vector<QByteArray> pieces;
        if (written == 0) {
            // Small: laid out as any other commit.
            if (!Serialize(Root, pieces))
                return StgResult::FromErrno(EFBIG);
            if (!WritePieces(file, 0, pieces))
                return LastError();
            return Finish(file);
        }
        // Every byte the sink took must be the stream's, in its order, or the file would not hold it.
        if (written != node.Size() || !Serialize(Root, pieces, &node, true))
            return StgResult::FromErrno(EIO);
        if (!WritePieces(file, Cfb::Sector + written, {pieces.begin() + 1, pieces.end()}) ||
            !file.Write(0, pieces.front()))
            return LastError();
        return Finish(file);
    }

    // The file and its name on the disk as the last write left them.
    quint32 Flush()
    {
        if (Pending) {
            const int before = LockFd;
            const quint32 result = Finish(*Pending);
            // Renamed, even when the folder's flush failed: the new file has the name and the lock.
            if (result == StgResult::Ok || LockFd != before)
                Pending.reset();
            return result;
        }
        if (LockFd < 0)
            return StgResult::FromErrno(EBADF);
        if (::fsync(LockFd) != 0)
            return LastError();
        return FlushDirectoryOf(Path);
    }

    quint32 FlushPending()
    {
        // A file let go meanwhile is left to the system: its holder wants it no more.
        const std::shared_ptr<TCompoundFile> other = FlushBefore.lock();
        const quint32 result = other ? other->Flush() : StgResult::Ok;
        if (result == StgResult::Ok)
            FlushBefore.reset();
        return result;
    }

private:
    // Why the file may not be written now (Ok when it may); except, a stream that gets new bytes.
    quint32 Refused(const TStorageNode* except) const
    {
        if (ReadOnly)
            return StgResult::FromErrno(EBADF);
        if (!BeyondFile.isEmpty())
            return StgResult::StreamBeyondFile;
        // A stream whose bytes were let go would be written empty.
        if (Root.AnyReleased(except))
            return StgResult::FromErrno(EBADF);
        return StgResult::Ok;
    }

    quint32 Finish(TNewFile& file)
    {
        int fd = -1;
        const quint32 result = file.Finish(fd);
        if (fd >= 0) {
            Exclusive = false;
            // The new file is in place and locked: the old one (now unlinked) can go. Its blocks are
            // freed as its last descriptor closes, which for a large file takes as long as the rename;
            // nothing can reach the unlinked file, so the save does not wait for that.
            if (LockFd >= 0)
                CloseAside(LockFd);
            LockFd = fd;
        }
        return result;
    }

public:
    QString Path;
    int LockFd;
    bool Durable;
    // The file is new and its name not yet taken: the first write must not replace anything.
    bool Exclusive = false;
    // A file to flush before this one is next replaced; not kept open for it.
    std::weak_ptr<TCompoundFile> FlushBefore;
    bool ReadOnly = false;
    // A write's new file waits, complete but unflushed, under its hidden name for Flush, which flushes it
    // and renames it over the old one.
    bool FinishLater = false;
    std::unique_ptr<TNewFile> Pending;
    TStorageNode Root;
    // Streams of the file on disk that state more bytes than it holds (case folded): the file is never
    // written again, as that would replace with nothing what a repair could still find of them.
    QStringList BeyondFile;
};

TStorage::TStorage(std::shared_ptr<TCompoundFile> file, TStorageNode* node)
    : FFile(std::move(file)), FNode(node)
{
}

TStorage::~TStorage() = default;

quint32 TStorage::IsCompoundFile(const QString& path)
{
    TFd fd;
    const quint32 opened = OpenRegular(LocalPath(path), O_RDONLY, fd);
    if (opened != StgResult::Ok)
        return opened;
    unsigned char head[sizeof Signature];
    size_t done = 0;
    while (done < sizeof head) {
        const ssize_t got = ::read(fd.Get(), head + done, sizeof head - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return LastError();
        if (got == 0)
            return StgResult::NotCompoundFile;
        done += static_cast<size_t>(got);
    }
    return std::memcmp(head, Signature, sizeof Signature) == 0 ? StgResult::Ok : StgResult::NotCompoundFile;
}

quint32 TStorage::Open(const QString& path, std::shared_ptr<TStorage>& root, bool readOnly)
{
    root.reset();
    QString resolved;
    const quint32 resolvedCode = ResolvePath(path, resolved);
    if (resolvedCode != StgResult::Ok)
        return resolvedCode;
    const QByteArray local = LocalPath(resolved);
    // A save of another holder may rename a new file over the name while we wait for the lock on the
    // old one: then the lock is of no use and the name is opened again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        TFd fd;
        const quint32 openCode = OpenRegular(local, readOnly ? O_RDONLY : O_RDWR, fd);
        if (openCode != StgResult::Ok)
            return openCode;
        if (::flock(fd.Get(), (readOnly ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? StgResult::SharingViolation : LastError();
        struct stat opened, named;
        if (::fstat(fd.Get(), &opened) != 0)
            return LastError();
        if (::stat(local.constData(), &named) != 0 || opened.st_ino != named.st_ino ||
            opened.st_dev != named.st_dev)
            continue;
        // Parse copies every stream out of the image, which goes at the end of this round.
        TFileImage image;
        if (!image.Read(fd.Get()))
            return LastError();
        const QByteArray bytes = image.Bytes();
        // We hold the lock: what interrupted saves left is of no use, even when the file is damaged.
        // A reader leaves that to the next writer.
        if (!readOnly)
            RemoveLeftovers(resolved);
        auto file = std::make_shared<TCompoundFile>(resolved, fd.Release(), true);
        file->ReadOnly = readOnly;
        const quint32 result = Parse(bytes, file->Root, file->BeyondFile);
        if (result != StgResult::Ok)
            return result;
        root = std::make_shared<TStorage>(file, &file->Root);
        return StgResult::Ok;
    }
    return StgResult::SharingViolation;
}

quint32 TStorage::Create(const QString& path, std::shared_ptr<TStorage>& root, bool durable)
{
    root.reset();
    QString resolved;
    const quint32 resolvedCode = ResolvePath(path, resolved);
    if (resolvedCode != StgResult::Ok)
        return resolvedCode;
    // A file held open by someone else is not taken from under them, and what is no file is not replaced.
    TFd existing;
    const quint32 opened = OpenRegular(LocalPath(resolved), O_RDONLY, existing);
    if (opened >= StgResult::IsDirectory && opened <= StgResult::DanglingLink)
        return opened;
    if (existing.Get() >= 0 && ::flock(existing.Get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? StgResult::SharingViolation : LastError();
    auto file = std::make_shared<TCompoundFile>(resolved, -1, durable);
    const quint32 result = file->Commit();
    if (result != StgResult::Ok)
        return result;
    root = std::make_shared<TStorage>(file, &file->Root);
    return StgResult::Ok;
}

quint32 TStorage::CreateInMemory(const QString& path, std::shared_ptr<TStorage>& root, bool exclusive)
{
    root.reset();
    auto file = std::make_shared<TCompoundFile>(path, -1, true);
    file->Exclusive = exclusive;
    root = std::make_shared<TStorage>(file, &file->Root);
    return StgResult::Ok;
}

QString TStorage::Name() const
{
    return FNode->Name;
}

QString TStorage::FileName() const
{
    return FFile->Path;
}

quint32 TStorage::OpenStorage(const QString& name, std::shared_ptr<TStorage>& storage)
{
    storage.reset();
    TStorageNode* node = FNode->Child(name, true);
    if (!node)
        return StgResult::FromErrno(ENOENT);
    storage = std::make_shared<TStorage>(FFile, node);
    return StgResult::Ok;
}

quint32 TStorage::CreateStorage(const QString& name, std::shared_ptr<TStorage>& storage)
{
    storage.reset();
    if (name.isEmpty() || name.size() > 31)
        return StgResult::FromErrno(EINVAL); // element names hold at most 31 characters
    if (FNode->Child(name, true) || FNode->Child(name, false))
        return StgResult::FromErrno(EEXIST);
    storage = std::make_shared<TStorage>(FFile, FNode->Add(name, true));
    return StgResult::Ok;
}

bool TStorage::HasStream(const QString& name) const
{
    return FNode->Child(name, false) != nullptr;
}

quint32 TStorage::ReadStream(const QString& name, QByteArray& data) const
{
    const TStorageNode* node = FNode->Child(name, false);
    if (!node)
        return FFile->BeyondFile.contains(name.toCaseFolded()) ? StgResult::StreamBeyondFile
                                                               : StgResult::FromErrno(ENOENT);
    if (node->Released)
        return StgResult::FromErrno(EBADF);
    if (node->Data.size() == 1) {
        data = node->Data.front();
    } else {
        data.clear();
        data.reserve(node->Size());
        for (const QByteArray& piece : node->Data)
            data.append(piece);
    }
    return StgResult::Ok;
}

quint32 TStorage::WriteStream(const QString& name, const QByteArray& data)
{
    return WriteStream(name, std::vector<QByteArray>{data});
}

quint32 TStorage::WriteStream(const QString& name, std::vector<QByteArray> pieces)
{
    TStorageNode* node = FNode->Child(name, false);
    if (!node) {
        if (name.isEmpty() || name.size() > 31 || FNode->Child(name, true))
            return StgResult::FromErrno(EINVAL);
        node = FNode->Add(name, false);
    }
    node->Data = std::move(pieces);
    node->Released = false;
    return FFile->Commit();
}

quint32 TStorage::WriteStream(const QString& name, const TStreamMaker& make)
{
    TStorageNode* node = FNode->Child(name, false);
    if (!node) {
        if (name.isEmpty() || name.size() > 31 || FNode->Child(name, true))
            return StgResult::FromErrno(EINVAL);
        node = FNode->Add(name, false);
        node->Released = true; // no bytes until make has made them
        try {
            return FFile->CommitStream(*node, make);
        } catch (...) {
            FNode->Children.pop_back();
            throw;
        }
    }
    return FFile->CommitStream(*node, make);
}

void TStorage::ReleaseStream(const QString& name)
{
    if (TStorageNode* node = FNode->Child(name, false)) {
        node->Data.clear();
        node->Released = true;
    }
}

std::vector<QByteArray> TStorage::TakeStream(const QString& name)
{
    std::vector<QByteArray> pieces;
    if (TStorageNode* node = FNode->Child(name, false)) {
        pieces = std::move(node->Data);
        node->Data.clear();
        node->Released = true;
    }
    return pieces;
}

void TStorage::ReleaseStreams()
{
    FNode->ReleaseAll();
}

quint32 TStorage::CopyTo(TStorage& target) const
{
    // A copy without the streams that could not be read is no copy of the file.
    if (!FFile->BeyondFile.isEmpty())
        return StgResult::StreamBeyondFile;
    target.FNode->CopyFrom(*FNode);
    return target.FFile->Commit();
}

quint32 TStorage::LinkTo(const QString& path, std::shared_ptr<TStorage>& copy) const
{
    copy.reset();
    // As CopyTo: a copy without the streams that could not be read is no copy of the file.
    if (!FFile->BeyondFile.isEmpty())
        return StgResult::StreamBeyondFile;
    if (FFile->ReadOnly || FFile->LockFd < 0)
        return StgResult::FromErrno(EBADF);
    const QByteArray local = LocalPath(path);
    // What has the name gives way only to the new name, unless it is a directory.
    const quint32 linked = LinkOver(FFile->Path, path);
    if (linked != StgResult::Ok)
        return linked;
    struct stat named;
    // The handle shares the file's open description, and with it the lock, which stays with these bytes
    // when a save moves the file's own lock to its new file.
    TFd fd(::fcntl(FFile->LockFd, F_DUPFD_CLOEXEC, 0));
    struct stat held;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &held) != 0 || ::lstat(local.constData(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
        // Not the file we hold (its name was taken from under the lock): no copy of it.
        const quint32 result = fd.Get() < 0 ? LastError() : StgResult::FromErrno(ESTALE);
        ::unlink(local.constData());
        return result;
    }
    auto file = std::make_shared<TCompoundFile>(path, fd.Release(), false);
    file->ReadOnly = true;
    copy = std::make_shared<TStorage>(file, &file->Root);
    return StgResult::Ok;
}

quint32 TStorage::Commit()
{
    return FFile->Commit();
}

void TStorage::FinishLater()
{
    FFile->FinishLater = true;
}

quint32 TStorage::Flush()
{
    return FFile->Flush();
}

void TStorage::FlushFirst(std::shared_ptr<TStorage> other)
{
    FFile->FlushBefore = other ? std::weak_ptr<TCompoundFile>(other->FFile) : std::weak_ptr<TCompoundFile>();
}

quint32 TStorage::FlushPending()
{
    return FFile->FlushPending();
}

quint32 TStorage::CommitThrough(const QString& scratchPath)
{
    return FFile->Commit(scratchPath);
}
