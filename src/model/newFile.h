// TNewFile, the new file of a write that takes its target's name only when complete, and the small file
// helpers that it shares with the compound file.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <unistd.h>
#include <vector>

namespace FileIo {

QByteArray LocalPath(const QString& path);
// The result code of the compound-file layer for errno (EIO when it is not set).
quint32 LastError();
QString DirectoryOf(const QString& path);
// The directory entries of path's folder (a new name, a rename) on the disk.
quint32 FlushDirectoryOf(const QString& path);
// Closes a descriptor on a short thread of its own: the blocks of an unlinked large file are freed then.
void CloseAside(int fd);

// Closes a descriptor on every way out unless released.
class TFd
{
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    void Reset(int fd)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }
    int Get() const { return FFd; }
    int Release()
    {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }

private:
    int FFd;
};

// A new file beside target that takes target's name only once it is complete and flushed: opened and
// locked by Open, filled by Write, flushed (when durable), renamed over target (or, when exclusive, to
// target only if nothing holds that name) and the directory flushed by Finish. Unless Finish renamed it,
// it is removed when this goes.
class TNewFile
{
public:
    TNewFile() = default;
    ~TNewFile();
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    // scratch: the new file's name; empty for a hidden name of its own beside target.
    quint32 Open(const QString& target, bool durable, bool exclusive, const QString& scratch);
    bool Write(qint64 at, const QByteArray& bytes);
    // Lets the disk start on bytes already written, so that the flush at the end finds little left.
    void StartWriteback(qint64 from, qint64 to);
    // lockedFd: the new file's descriptor, holding its lock, once the file has the name.
    quint32 Finish(int& lockedFd);

private:
    QString FTarget;
    QByteArray FLocalTemp;
    TFd FFd;
    bool FDurable = true;
    bool FExclusive = false;
};

// Gives the file at existing a second name, target, in one step: a hard link under a hidden name beside
// target is renamed over it, so whatever target held stays until the new name replaces it.
quint32 LinkOver(const QString& existing, const QString& target);

// Writes pieces one after the other from offset at; false with errno set when a write fails.
bool WritePieces(TNewFile& file, qint64 at, const std::vector<QByteArray>& pieces);

} // namespace FileIo
