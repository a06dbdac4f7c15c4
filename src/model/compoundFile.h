// TStorage, the compound-file layer under the database file (libgsf), named for the format it handles.
#pragma once

#include <cerrno>
#include <functional>
#include <memory>
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

// Result codes of the compound-file layer. 0 is success; 1 is the plain "no" of IsCompoundFile (the file
// is not a compound file, or not a readable one); platform errors carry their errno in the low 16 bits.
namespace StgResult {
constexpr quint32 Ok = 0;
constexpr quint32 NotCompoundFile = 1;
constexpr quint32 FromErrno(int error)
{
    return 0x80030000u | static_cast<quint16>(error);
}
// The file is held by another open database (ours or another process's).
constexpr quint32 SharingViolation = FromErrno(EWOULDBLOCK);
// The name is not a regular file (or a link to one), so it is never opened for reading or replaced.
constexpr quint32 IsDirectory = 2;
constexpr quint32 IsFifo = 3;
constexpr quint32 IsSocket = 4;
constexpr quint32 IsDevice = 5;
constexpr quint32 DanglingLink = 6;
// A stream states a size larger than the whole file: reading it, every write of that file and every copy
// of it fail with this.
constexpr quint32 StreamBeyondFile = 7;
} // namespace StgResult

class TCompoundFile;
struct TStorageNode;

// A storage inside an open compound file: a shared handle that keeps the file open (and locked).
//
// The file is read whole when it is opened and written whole at every change: the complete new file is
// written beside the old one, flushed to disk and renamed over it, so the file on disk always holds a
// complete record, old or new. A symbolic link is resolved when the file is opened or created: saves
// replace its target, in the target's own directory, and keep the target's mode, owner and group. While
// any handle of a file lives, the process holds an exclusive advisory
// lock (flock) on it; another open of the same file, from this process or another, is refused with
// StgResult::SharingViolation. The lock moves to the new file before the new file replaces the old one.
class TStorage
{
public:
    TStorage(std::shared_ptr<TCompoundFile> file, TStorageNode* node);
    ~TStorage();
    TStorage(const TStorage&) = delete;
    TStorage& operator=(const TStorage&) = delete;

    // Ok when the file starts with the compound-file signature, NotCompoundFile when it does not, else
    // the error of reading it.
    static quint32 IsCompoundFile(const QString& path);
    // Opens and locks an existing compound file; its root storage. Read only, the file is opened for
    // reading under a shared lock (so other readers may open it, a writer may not), nothing beside it is
    // cleared away, and every write of it fails with EBADF.
    static quint32 Open(const QString& path, std::shared_ptr<TStorage>& root, bool readOnly = false);
    // Creates an empty compound file at path (replacing any file there) and locks it. A file that is
    // not durable (a scratch copy) is not flushed to disk.
    static quint32 Create(const QString& path, std::shared_ptr<TStorage>& root, bool durable = true);
    // A new, empty compound file that reaches the disk only with its first write, whole, at path as it is
    // (a link there is not followed). When exclusive, that write fails with EEXIST if anything holds the
    // name by then, and the file is locked before its name appears; otherwise it replaces what is there.
    static quint32 CreateInMemory(const QString& path, std::shared_ptr<TStorage>& root, bool exclusive);
    // Removes the hidden new files of writes to path that a crash interrupted. Only for the holder of the
    // lock that guards path.
    static void RemoveLeftovers(const QString& path);

    QString Name() const;
    // The path of the file itself (a symbolic link resolved).
    QString FileName() const;

    quint32 OpenStorage(const QString& name, std::shared_ptr<TStorage>& storage);
    // Adds a child storage; it reaches the disk with the next Commit.
    quint32 CreateStorage(const QString& name, std::shared_ptr<TStorage>& storage);
    bool HasStream(const QString& name) const;
    // ENOENT for a stream the file does not hold; StreamBeyondFile for one it holds with a stated size
    // larger than the whole file.
    quint32 ReadStream(const QString& name, QByteArray& data) const;
    // Sets the stream's whole content (creating it if needed) and writes the file; Ok when the file on
    // disk holds the new content.
    quint32 WriteStream(const QString& name, const QByteArray& data);
    // The same with the content given as pieces stored one after the other.
    quint32 WriteStream(const QString& name, std::vector<QByteArray> pieces);
    // Takes each piece of a stream, in order, as soon as it is made.
    using TPieceSink = std::function<void(const QByteArray&)>;
    // Makes a stream's pieces, hands each to the sink as soon as it and every one before it are made,
    // and returns them all.
    using TStreamMaker = std::function<std::vector<QByteArray>(const TPieceSink&)>;
    // The same with the content made by make while the file is written: the pieces reach the new file
    // as they come. An exception of make leaves the file as it was and the stream as it was.
    quint32 WriteStream(const QString& name, const TStreamMaker& make);
    // Lets go of the bytes of a stream that is read no more (the file keeps them): until WriteStream gives
    // it new ones, reading it and writing the file fail with EBADF, so the file never loses them.
    void ReleaseStream(const QString& name);
    // Lets go of them as ReleaseStream does, handing them to the caller (to be filled anew).
    std::vector<QByteArray> TakeStream(const QString& name);
    // The same for every stream below this storage, recursively.
    void ReleaseStreams();
    // Copies every storage and stream below this one into target, recursively, and writes target's file.
    quint32 CopyTo(TStorage& target) const;
    // The same without writing a byte: gives the file a second name at path (replacing a file there) and
    // returns a handle of it that holds its lock. The file is only ever replaced, never written in place,
    // so the name keeps the bytes as they are now. The handle writes nothing; its Flush makes the bytes
    // and the name durable. Fails where the file system has no hard links.
    quint32 LinkTo(const QString& path, std::shared_ptr<TStorage>& copy) const;
    // Writes the whole file to disk.
    quint32 Commit();
    // From now on a write leaves its new file complete but unflushed under a hidden name, and the old file
    // keeps the name: Flush flushes the new file, renames it over the old one and flushes the folder, when
    // a thread that may wait on the disk can. A handle that goes first removes the new file.
    void FinishLater();
    quint32 Flush();
    // Before this file is next replaced, other's file is flushed (once; a failure fails that write and is
    // tried again by the next). FlushPending does it now.
    void FlushFirst(std::shared_ptr<TStorage> other);
    quint32 FlushPending();
    // Writes the whole file under another name and moves it over this file's name: the compaction.
    quint32 CommitThrough(const QString& scratchPath);

private:
    std::shared_ptr<TCompoundFile> FFile;
    TStorageNode* FNode;
};
