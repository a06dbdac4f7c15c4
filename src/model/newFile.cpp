#include "model/newFile.h"

#include "model/compoundFile.h"

#include <cerrno>
#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace FileIo {

namespace {

// The error of a file system that lacks a way of naming files (FAT and exFAT have neither the exclusive
// rename nor hard links), as opposed to a refusal of this name.
bool Unsupported(int error)
{
    return error == EINVAL || error == EPERM || error == ENOSYS || error == EOPNOTSUPP;
}

// Gives newPath the file at oldPath only when nothing holds newPath yet (EEXIST otherwise).
int RenameNoReplace(const char* oldPath, const char* newPath)
{
    if (::renameat2(AT_FDCWD, oldPath, AT_FDCWD, newPath, RENAME_NOREPLACE) == 0)
        return 0;
    if (!Unsupported(errno))
        return -1;
    // A file system without the exclusive rename: a hard link is just as exclusive.
    if (::link(oldPath, newPath) == 0) {
        ::unlink(oldPath);
        return 0;
    }
    if (!Unsupported(errno))
        return -1;
    // Nor hard links: the name is claimed by an exclusive create, which fails when anything holds it, and
    // the complete file is renamed over that claim of ours at once. The claim is locked at once, so that
    // meanwhile others find the name held, not an empty file free for the taking.
    TFd claim(::open(newPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (claim.Get() < 0)
        return -1;
    ::flock(claim.Get(), LOCK_EX | LOCK_NB); // at worst the claim stays unlocked, as before
    if (::rename(oldPath, newPath) == 0)
        return 0;
    const int error = errno;
    ::unlink(newPath);
    errno = error;
    return -1;
}

// A name beside target that no file of ours uses for long: hidden, and cleared away by RemoveLeftovers.
QString HiddenName(const QString& target)
{
    return DirectoryOf(target) + QLatin1String("/.") + QFileInfo(target).fileName() + QLatin1Char('.') +
           QString::number(QRandomGenerator::global()->generate(), 36);
}

} // namespace

QByteArray LocalPath(const QString& path)
{
    return QFile::encodeName(path);
}

quint32 LastError()
{
    return StgResult::FromErrno(errno != 0 ? errno : EIO);
}

void CloseAside(int fd)
{
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error&) {
        ::close(fd); // no thread to spare
    }
}

QString DirectoryOf(const QString& path)
{
    const QString dir = QFileInfo(path).path();
    return dir.isEmpty() ? QStringLiteral(".") : dir;
}

quint32 FlushDirectoryOf(const QString& path)
{
    TFd dirFd(::open(LocalPath(DirectoryOf(path)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0 || ::fsync(dirFd.Get()) != 0)
        return LastError();
    return StgResult::Ok;
}

TNewFile::~TNewFile()
{
    if (FFd.Get() >= 0)
        ::unlink(FLocalTemp.constData());
}

quint32 TNewFile::Open(const QString& target, bool durable, bool exclusive, const QString& scratch)
{
    FTarget = target;
    FDurable = durable;
    FExclusive = exclusive;
    QString tempPath = scratch;
    mode_t mode = 0666;
    struct stat existing;
    // A directory would refuse the rename at the end, which may come later (FinishLater): said at once.
    // An exclusive write finds any name taken at its end.
    if (!exclusive && ::lstat(LocalPath(target).constData(), &existing) == 0 && S_ISDIR(existing.st_mode))
        return StgResult::FromErrno(EISDIR);
    // Only a regular file hands on its mode and owner; a link at target is replaced, never followed.
    const bool replacing =
        !exclusive && ::lstat(LocalPath(target).constData(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (replacing)
        mode = existing.st_mode & 07777;
    TFd fd;
    if (!tempPath.isEmpty()) {
        ::unlink(LocalPath(tempPath).constData());
        fd.Reset(::open(LocalPath(tempPath).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd.Get() < 0)
            return LastError();
    } else {
        for (int attempt = 0; attempt < 100 && fd.Get() < 0; ++attempt) {
            tempPath = HiddenName(target);
            const int opened =
                ::open(LocalPath(tempPath).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (opened < 0 && errno != EEXIST)
                return LastError();
            fd.Reset(opened);
        }
        if (fd.Get() < 0)
            return StgResult::FromErrno(EEXIST);
    }
    FLocalTemp = LocalPath(tempPath);
    FFd.Reset(fd.Release());
    // Locked from the start, the new file is in use for whoever clears away leftovers of killed
    // writes, and it is locked before it takes the name.
    if (::flock(FFd.Get(), LOCK_EX | LOCK_NB) != 0)
        return LastError();
    // A replaced file keeps its owner and group (as far as this process may give them: root may, the
    // owner may keep a group of its own) and the mode it had, which the umask may have narrowed.
    if (replacing) {
        if (::fchown(FFd.Get(), existing.st_uid, existing.st_gid) != 0 &&
            ::fchown(FFd.Get(), static_cast<uid_t>(-1), existing.st_gid) != 0) {
            // Neither is allowed: the file keeps this process's owner and group.
        }
        (void)::fchmod(FFd.Get(), mode);
    }
    return StgResult::Ok;
}

bool TNewFile::Write(qint64 at, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype size = bytes.size();
    while (size > 0) {
        const ssize_t written = ::pwrite(FFd.Get(), data, static_cast<size_t>(size), at);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
        at += written;
    }
    return true;
}

void TNewFile::StartWriteback(qint64 from, qint64 to)
{
    if (FDurable && to > from)
        (void)::sync_file_range(FFd.Get(), from, to - from, SYNC_FILE_RANGE_WRITE);
}

quint32 TNewFile::Finish(int& lockedFd)
{
    if (FDurable && ::fsync(FFd.Get()) != 0)
        return LastError();
    const QByteArray localTarget = LocalPath(FTarget);
    const int renamed = FExclusive ? RenameNoReplace(FLocalTemp.constData(), localTarget.constData())
                                   : ::rename(FLocalTemp.constData(), localTarget.constData());
    if (renamed != 0) {
        // Our new file was cleared away in the instant before it was locked: by the holder of the name.
        struct stat named;
        if (FExclusive && errno == ENOENT && ::lstat(localTarget.constData(), &named) == 0)
            errno = EEXIST;
        return LastError();
    }
    // The new file holds the name now: its lock is the one to keep, whatever follows.
    lockedFd = FFd.Release();
    // Renamed, but without this the rename may not survive a power failure.
    return FDurable ? FlushDirectoryOf(FTarget) : StgResult::Ok;
}

// Writes pieces one after the other from offset at; false with errno set when a write fails.
bool WritePieces(TNewFile& file, qint64 at, const std::vector<QByteArray>& pieces)
{
    for (const QByteArray& piece : pieces) {
        if (!file.Write(at, piece))
            return false;
        at += piece.size();
    }
    return true;
}

quint32 LinkOver(const QString& existing, const QString& target)
{
    const QByteArray from = LocalPath(existing);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temp = LocalPath(HiddenName(target));
        if (::link(from.constData(), temp.constData()) != 0) {
            if (errno == EEXIST)
                continue;
            return LastError();
        }
        const int renamed = ::rename(temp.constData(), LocalPath(target).constData());
        const quint32 result = renamed == 0 ? StgResult::Ok : LastError();
        // Also after a rename that did nothing: target was a name of the same file already.
        ::unlink(temp.constData());
        return result;
    }
    return StgResult::FromErrno(EEXIST);
}

} // namespace FileIo
