#include "model/compoundFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>
#include <mutex>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtEndian>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

struct TStorageNode
{
    QString Name;
    bool IsStorage = true;
    // A stream's bytes: the pieces one after the other (a record rendered in parts is never joined).
    std::vector<QByteArray> Data;
    // The stream's bytes were let go (Data is empty): the tree no longer describes the file.
    bool Released = false;
    std::vector<std::unique_ptr<TStorageNode>> Children;

    qsizetype Size() const
    {
        qsizetype size = 0;
        for (const QByteArray& piece : Data)
            size += piece.size();
        return size;
    }

    bool AnyReleased(const TStorageNode* except = nullptr) const
    {
        if (Released && this != except)
            return true;
        for (const auto& child : Children)
            if (child->AnyReleased(except))
                return true;
        return false;
    }

    void ReleaseAll()
    {
        for (const auto& child : Children) {
            if (child->IsStorage) {
                child->ReleaseAll();
            } else {
                child->Data.clear();
                child->Released = true;
            }
        }
    }

    TStorageNode* Child(const QString& name, bool storage) const
    {
        // Element names of a compound file compare without regard to case.
        for (const auto& child : Children)
            if (child->IsStorage == storage && child->Name.compare(name, Qt::CaseInsensitive) == 0)
                return child.get();
        return nullptr;
    }

    TStorageNode* Add(const QString& name, bool storage)
    {
        auto child = std::make_unique<TStorageNode>();
        child->Name = name;
        child->IsStorage = storage;
        Children.push_back(std::move(child));
        return Children.back().get();
    }

    void CopyFrom(const TStorageNode& source)
    {
        for (const auto& child : source.Children) {
            TStorageNode* target = Child(child->Name, child->IsStorage);
            if (!target)
                target = Add(child->Name, child->IsStorage);
            if (child->IsStorage) {
                target->CopyFrom(*child);
            } else {
                target->Data = child->Data;
                target->Released = child->Released;
            }
        }
    }
};

namespace {

constexpr unsigned char Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

void InitGsf()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // libgsf describes the damage it meets in a file on stderr; the caller gets its own error and
        // says what is wrong, so these lines would only clutter the user's terminal.
        for (const char* domain : {"libgsf", "libgsf:msole", "libgsf:utils"})
            g_log_set_handler(
                domain, GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

QByteArray LocalPath(const QString& path)
{
    return QFile::encodeName(path);
}

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

quint32 LastError()
{
    return StgResult::FromErrno(errno != 0 ? errno : EIO);
}

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

// Gives newPath the file at oldPath only when nothing holds newPath yet (EEXIST otherwise).
int RenameNoReplace(const char* oldPath, const char* newPath)
{
    if (::renameat2(AT_FDCWD, oldPath, AT_FDCWD, newPath, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without the exclusive rename: a hard link is just as exclusive.
    if (::link(oldPath, newPath) != 0)
        return -1;
    ::unlink(oldPath);
    return 0;
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

// Writing a compound file: version 3, 512-byte sectors, no class identifiers, streams under 4096 bytes
// in the mini stream. The sectors are laid out as each large stream whole (the lead stream first), then
// FAT, DIFAT, directory, mini FAT and mini stream, so a large stream's bytes go to the file as they are,
// never copied, and the lead stream's bytes start right after the header whatever their length: they
// can be written while they are still being made, the tables and header after them.
namespace Cfb {
constexpr quint32 FreeSect = 0xFFFFFFFF;
constexpr quint32 EndOfChain = 0xFFFFFFFE;
constexpr quint32 FatSect = 0xFFFFFFFD;
constexpr quint32 DifSect = 0xFFFFFFFC;
constexpr quint32 NoStream = 0xFFFFFFFF;
constexpr qsizetype Sector = 512;
constexpr qsizetype MiniSector = 64;
constexpr qsizetype MiniCutoff = 4096;
constexpr qsizetype HeaderDifat = 109;
constexpr qsizetype PerSector = Sector / 4;

struct TEntry
{
    const TStorageNode* Node = nullptr; // null for the root
    quint32 Left = NoStream;
    quint32 Right = NoStream;
    quint32 Child = NoStream;
    bool Black = true;
    quint32 Start = 0;
    quint64 Size = 0;
};

qsizetype SectorsFor(qsizetype bytes, qsizetype unit = Sector)
{
    return (bytes + unit - 1) / unit;
}

// Sibling order of a directory: shorter names first, then by the upper-case letters.
bool NameBefore(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    return a.toUpper() < b.toUpper();
}

// Adds the children of node below entry parent as a balanced tree, red on its deepest level only
// (a valid red-black tree, which strict readers ask for), then their own children.
void AddChildren(std::vector<TEntry>& entries, quint32 parent, const TStorageNode& node)
{
    std::vector<const TStorageNode*> sorted;
    for (const auto& child : node.Children)
        sorted.push_back(child.get());
    std::sort(sorted.begin(), sorted.end(),
              [](const TStorageNode* a, const TStorageNode* b) { return NameBefore(a->Name, b->Name); });
    const quint32 first = static_cast<quint32>(entries.size());
    for (const TStorageNode* child : sorted) {
        TEntry entry;
        entry.Node = child;
        entries.push_back(entry);
    }
    int deepest = 0;
    while ((qsizetype(2) << deepest) - 1 < qsizetype(sorted.size()))
        ++deepest;
    auto build = [&](auto& self, qsizetype low, qsizetype high, int depth) -> quint32 {
        if (low > high)
            return NoStream;
        const qsizetype middle = (low + high + 1) / 2;
        TEntry& entry = entries[first + middle];
        entry.Black = depth < deepest || depth == 0;
        const quint32 left = self(self, low, middle - 1, depth + 1);
        const quint32 right = self(self, middle + 1, high, depth + 1);
        entries[first + middle].Left = left;
        entries[first + middle].Right = right;
        return first + static_cast<quint32>(middle);
    };
    entries[parent].Child = build(build, 0, qsizetype(sorted.size()) - 1, 0);
    for (size_t i = 0; i < sorted.size(); ++i)
        if (sorted[i]->IsStorage)
            AddChildren(entries, first + static_cast<quint32>(i), *sorted[i]);
}

void Put16(QByteArray& bytes, qsizetype at, quint16 value)
{
    qToLittleEndian<quint16>(value, bytes.data() + at);
}

void Put32(QByteArray& bytes, qsizetype at, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + at);
}

} // namespace Cfb

// The file's bytes as pieces in their order: the 512-byte header, then each large stream's data (shared
// with the tree) and its padding, the lead's first, then the tables built here (FAT, DIFAT, directory,
// mini FAT, mini stream). Without its data when leadWritten (it is on disk already): the piece after the
// header is then the lead's padding.
bool Serialize(const TStorageNode& root, std::vector<QByteArray>& pieces, const TStorageNode* lead = nullptr,
               bool leadWritten = false)
{
    using namespace Cfb;
    std::vector<TEntry> entries(1);
    AddChildren(entries, 0, root);

    // Where each stream goes: small ones into mini sectors, large ones into sectors of their own, the
    // lead's from sector 0.
    std::vector<TEntry*> big;
    qsizetype miniSectors = 0;
    for (TEntry& entry : entries) {
        if (!entry.Node || entry.Node->IsStorage)
            continue;
        const qsizetype size = entry.Node->Size();
        entry.Size = static_cast<quint64>(size);
        if (size >= MiniCutoff) {
            big.push_back(&entry);
        } else if (size > 0) {
            entry.Start = static_cast<quint32>(miniSectors);
            miniSectors += SectorsFor(size, MiniSector);
        } else {
            entry.Start = EndOfChain;
        }
    }
    std::stable_partition(big.begin(), big.end(),
                          [lead](const TEntry* entry) { return entry->Node == lead; });
    if (leadWritten && (big.empty() || big.front()->Node != lead))
        return false; // the lead is in the mini stream: its bytes on disk are of no use
    qsizetype bigSectors = 0;
    for (TEntry* entry : big) {
        entry->Start = static_cast<quint32>(bigSectors);
        bigSectors += SectorsFor(qsizetype(entry->Size));
    }
    const qsizetype dirSectors = SectorsFor(qsizetype(entries.size()) * 128);
    const qsizetype miniFatSectors = SectorsFor(miniSectors * 4);
    const qsizetype miniStreamSectors = SectorsFor(miniSectors * MiniSector);
    const qsizetype rest = bigSectors + dirSectors + miniFatSectors + miniStreamSectors;
    qsizetype fatSectors = 0;
    qsizetype difatSectors = 0;
    for (;;) {
        const qsizetype total = fatSectors + difatSectors + rest;
        const qsizetype fat = SectorsFor(total, PerSector);
        const qsizetype difat = fat > HeaderDifat ? SectorsFor(fat - HeaderDifat, PerSector - 1) : 0;
        if (fat == fatSectors && difat == difatSectors)
            break;
        fatSectors = fat;
        difatSectors = difat;
    }
    const qsizetype total = fatSectors + difatSectors + rest;
    if (total >= qsizetype(DifSect))
        return false;
    const quint32 fatStart = static_cast<quint32>(bigSectors);
    const quint32 difatStart = static_cast<quint32>(fatStart + fatSectors);
    const quint32 dirStart = static_cast<quint32>(difatStart + difatSectors);
    const quint32 miniFatStart = static_cast<quint32>(dirStart + dirSectors);
    const quint32 miniStreamStart = static_cast<quint32>(miniFatStart + miniFatSectors);

    QByteArray header(Sector, '\0');
    QByteArray tables((total - bigSectors) * Sector, '\0');
    // Where a sector of the tables is in tables.
    auto sector = [fatStart](quint32 number) { return qsizetype(number - fatStart) * Sector; };

    // The FAT: one chain per stream and table, then its own sectors and the DIFAT's.
    std::vector<quint32> fat(static_cast<size_t>(fatSectors * PerSector), FreeSect);
    auto chain = [&fat](quint32 start, qsizetype count) {
        for (qsizetype i = 0; i < count; ++i)
            fat[size_t(start + i)] = i + 1 < count ? static_cast<quint32>(start + i + 1) : EndOfChain;
    };
    for (const TEntry* entry : big)
        chain(entry->Start, SectorsFor(qsizetype(entry->Size)));
    for (qsizetype i = 0; i < fatSectors; ++i)
        fat[size_t(fatStart + i)] = FatSect;
    for (qsizetype i = 0; i < difatSectors; ++i)
        fat[size_t(difatStart + i)] = DifSect;
    chain(dirStart, dirSectors);
    chain(miniFatStart, miniFatSectors);
    chain(miniStreamStart, miniStreamSectors);
    std::vector<quint32> miniFat(static_cast<size_t>(miniFatSectors * PerSector), FreeSect);
    for (const TEntry& entry : entries) {
        if (!entry.Node || entry.Node->IsStorage || entry.Size == 0 || qsizetype(entry.Size) >= MiniCutoff)
            continue;
        const qsizetype count = SectorsFor(qsizetype(entry.Size), MiniSector);
        for (qsizetype i = 0; i < count; ++i)
            miniFat[size_t(entry.Start + i)] =
                i + 1 < count ? static_cast<quint32>(entry.Start + i + 1) : EndOfChain;
        char* at = tables.data() + sector(miniStreamStart) + qsizetype(entry.Start) * MiniSector;
        for (const QByteArray& piece : entry.Node->Data) {
            std::memcpy(at, piece.constData(), size_t(piece.size()));
            at += piece.size();
        }
    }
    for (size_t i = 0; i < fat.size(); ++i)
        Put32(tables, sector(fatStart) + qsizetype(i) * 4, fat[i]);
    for (size_t i = 0; i < miniFat.size(); ++i)
        Put32(tables, sector(miniFatStart) + qsizetype(i) * 4, miniFat[i]);

    // The header, and the FAT's sectors beyond the header's 109 in DIFAT sectors.
    std::memcpy(header.data(), Signature, sizeof Signature);
    Put16(header, 0x18, 0x003E);
    Put16(header, 0x1A, 0x0003);
    Put16(header, 0x1C, 0xFFFE);
    Put16(header, 0x1E, 9);
    Put16(header, 0x20, 6);
    Put32(header, 0x2C, static_cast<quint32>(fatSectors));
    Put32(header, 0x30, dirStart);
    Put32(header, 0x38, static_cast<quint32>(MiniCutoff));
    Put32(header, 0x3C, miniFatSectors > 0 ? miniFatStart : EndOfChain);
    Put32(header, 0x40, static_cast<quint32>(miniFatSectors));
    Put32(header, 0x44, difatSectors > 0 ? difatStart : EndOfChain);
    Put32(header, 0x48, static_cast<quint32>(difatSectors));
    for (qsizetype i = 0; i < HeaderDifat; ++i)
        Put32(header, 0x4C + i * 4, i < fatSectors ? static_cast<quint32>(fatStart + i) : FreeSect);
    for (qsizetype d = 0; d < difatSectors; ++d) {
        const qsizetype at = sector(static_cast<quint32>(difatStart + d));
        for (qsizetype i = 0; i < PerSector - 1; ++i) {
            const qsizetype fatIndex = HeaderDifat + d * (PerSector - 1) + i;
            Put32(tables, at + i * 4,
                  fatIndex < fatSectors ? static_cast<quint32>(fatStart + fatIndex) : FreeSect);
        }
        Put32(tables, at + (PerSector - 1) * 4,
              d + 1 < difatSectors ? static_cast<quint32>(difatStart + d + 1) : EndOfChain);
    }

    // The directory; entries past the last are empty.
    const qsizetype dirAt = sector(dirStart);
    for (qsizetype i = 0; i < dirSectors * 4; ++i) {
        const qsizetype at = dirAt + i * 128;
        if (i >= qsizetype(entries.size())) {
            Put32(tables, at + 0x44, NoStream);
            Put32(tables, at + 0x48, NoStream);
            Put32(tables, at + 0x4C, NoStream);
            continue;
        }
        const TEntry& entry = entries[size_t(i)];
        const QString name = entry.Node ? entry.Node->Name.left(31) : QStringLiteral("Root Entry");
        qToLittleEndian<char16_t>(name.utf16(), name.size(), tables.data() + at);
        Put16(tables, at + 0x40, static_cast<quint16>((name.size() + 1) * 2));
        tables[at + 0x42] = static_cast<char>(!entry.Node ? 5 : entry.Node->IsStorage ? 1 : 2);
        tables[at + 0x43] = entry.Black ? 1 : 0;
        Put32(tables, at + 0x44, entry.Left);
        Put32(tables, at + 0x48, entry.Right);
        Put32(tables, at + 0x4C, entry.Child);
        if (!entry.Node) {
            Put32(tables, at + 0x74, miniStreamSectors > 0 ? miniStreamStart : EndOfChain);
            Put32(tables, at + 0x78, static_cast<quint32>(miniSectors * MiniSector));
        } else if (!entry.Node->IsStorage) {
            Put32(tables, at + 0x74, entry.Start);
            Put32(tables, at + 0x78, static_cast<quint32>(entry.Size));
        }
    }

    pieces.clear();
    pieces.push_back(header);
    for (const TEntry* entry : big) {
        if (!(leadWritten && entry->Node == lead))
            for (const QByteArray& piece : entry->Node->Data)
                pieces.push_back(piece);
        const qsizetype pad = SectorsFor(qsizetype(entry->Size)) * Sector - qsizetype(entry->Size);
        if (pad > 0)
            pieces.push_back(QByteArray(pad, '\0'));
    }
    pieces.push_back(tables);
    return true;
}

// The names (case folded) of the streams whose directory entries state more bytes than the whole file
// holds. libgsf leaves such an entry out without a word, and a stream that is merely missing is another
// fault; so the directory is walked here, through the sector allocation table, every offset checked.
QStringList StreamsBeyondFile(const QByteArray& bytes)
{
    constexpr quint32 LastSector = 0xFFFFFFFA; // higher numbers mark free sectors and chain ends
    // A little-endian number of width bytes at an offset; all ones past the end.
    auto number = [&bytes](qsizetype at, int width) {
        if (at < 0 || at + width > bytes.size())
            return ~quint64(0);
        quint64 value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = value << 8 | quint8(bytes.at(at + i));
        return value;
    };
    auto u32 = [&number](qsizetype at) { return quint32(number(at, 4)); };
    const quint64 shift = number(0x1E, 2);
    if (shift != 9 && shift != 12)
        return {};
    const qsizetype sectorSize = qsizetype(1) << shift;
    const qsizetype sectors = bytes.size() / sectorSize;
    auto sectorAt = [sectorSize](quint32 sector) { return (qsizetype(sector) + 1) * sectorSize; };
    // The table's own sectors: 109 named in the header, the rest in a chain of further sectors.
    std::vector<quint32> table;
    for (int i = 0; i < 109; ++i)
        table.push_back(u32(0x4C + 4 * i));
    quint32 more = u32(0x44);
    for (qsizetype guard = 0; more < LastSector && guard < sectors; ++guard) {
        for (qsizetype i = 0; i + 1 < sectorSize / 4; ++i)
            table.push_back(u32(sectorAt(more) + 4 * i));
        more = u32(sectorAt(more) + sectorSize - 4);
    }
    QStringList names;
    const qsizetype perSector = sectorSize / 4;
    quint32 sector = u32(0x30);
    for (qsizetype guard = 0; sector < LastSector && guard < sectors; ++guard) {
        const qsizetype at = sectorAt(sector);
        for (qsizetype entry = at; entry < at + sectorSize; entry += 128) {
            const quint64 nameBytes = number(entry + 0x40, 2);
            const quint64 size = shift == 12 ? number(entry + 0x78, 8) : number(entry + 0x78, 4);
            if (number(entry + 0x42, 1) != 2 || nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0 ||
                size <= quint64(bytes.size()))
                continue;
            QString name;
            for (quint64 c = 0; c + 1 < nameBytes / 2; ++c)
                name.append(QChar(char16_t(number(entry + 2 * qsizetype(c), 2))));
            names.append(name.toCaseFolded());
        }
        const size_t index = sector / perSector;
        const quint32 tableSector = index < table.size() ? table[index] : 0xFFFFFFFFu;
        sector =
            tableSector < LastSector ? u32(sectorAt(tableSector) + 4 * (sector % perSector)) : 0xFFFFFFFFu;
    }
    return names;
}

bool LoadTree(GsfInfile* dir, TStorageNode& node, gsf_off_t limit)
{
    const int count = gsf_infile_num_children(dir);
    for (int i = 0; i < count; ++i) {
        const char* name = gsf_infile_name_by_index(dir, i);
        GsfInput* child = gsf_infile_child_by_index(dir, i);
        if (!child || !name) {
            if (child)
                g_object_unref(child);
            return false;
        }
        bool ok = true;
        const bool storage = GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0;
        const gsf_off_t size = storage ? 0 : gsf_input_size(child);
        // A stream cannot hold more than the file does: it is left out, as libgsf leaves out most of
        // them, and StreamsBeyondFile names it.
        if (size > limit) {
            g_object_unref(child);
            continue;
        }
        TStorageNode* target = node.Add(QString::fromUtf8(name), storage);
        if (storage) {
            ok = LoadTree(GSF_INFILE(child), *target, limit);
        } else {
            if (size < 0) {
                ok = false;
            } else if (size > 0) {
                QByteArray& data = target->Data.emplace_back(static_cast<qsizetype>(size), Qt::Uninitialized);
                ok = gsf_input_read(child, static_cast<size_t>(size),
                                    reinterpret_cast<guint8*>(data.data())) != nullptr;
            }
        }
        g_object_unref(child);
        if (!ok)
            return false;
    }
    return true;
}

quint32 Parse(const QByteArray& bytes, TStorageNode& root, QStringList& beyondFile)
{
    if (bytes.size() < 512 || std::memcmp(bytes.constData(), Signature, sizeof Signature) != 0)
        return StgResult::NotCompoundFile;
    InitGsf();
    GsfInput* input =
        gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.constData()), bytes.size(), FALSE);
    if (!input)
        return StgResult::FromErrno(ENOMEM);
    GError* error = nullptr;
    GsfInfile* ole = gsf_infile_msole_new(input, &error);
    g_object_unref(input);
    if (error)
        g_error_free(error);
    if (!ole)
        return StgResult::NotCompoundFile;
    const bool ok = LoadTree(ole, root, bytes.size());
    g_object_unref(ole);
    if (ok)
        beyondFile = StreamsBeyondFile(bytes);
    return ok ? StgResult::Ok : StgResult::NotCompoundFile;
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

// The directory entries of path's folder (a new name, a rename) on the disk.
quint32 FlushDirectoryOf(const QString& path)
{
    TFd dirFd(::open(LocalPath(DirectoryOf(path)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0 || ::fsync(dirFd.Get()) != 0)
        return LastError();
    return StgResult::Ok;
}

// A new file beside target that takes target's name only once it is complete and flushed: opened and
// locked by Open, filled by Write, flushed (when durable), renamed over target (or, when exclusive, to
// target only if nothing holds that name) and the directory flushed by Finish. Unless Finish renamed it,
// it is removed when this goes.
class TNewFile
{
public:
    TNewFile() = default;
    ~TNewFile()
    {
        if (FFd.Get() >= 0)
            ::unlink(FLocalTemp.constData());
    }
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    quint32 Open(const QString& target, bool durable, bool exclusive, const QString& scratch)
    {
        FTarget = target;
        FDurable = durable;
        FExclusive = exclusive;
        QString tempPath = scratch;
        mode_t mode = 0666;
        struct stat existing;
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
            const QString base =
                DirectoryOf(target) + QLatin1String("/.") + QFileInfo(target).fileName() + QLatin1Char('.');
            for (int attempt = 0; attempt < 100 && fd.Get() < 0; ++attempt) {
                tempPath = base + QString::number(QRandomGenerator::global()->generate(), 36);
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

    bool Write(qint64 at, const QByteArray& bytes)
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

    // Lets the disk start on bytes already written, so that the flush at the end finds little left.
    void StartWriteback(qint64 from, qint64 to)
    {
        if (FDurable && to > from)
            (void)::sync_file_range(FFd.Get(), from, to - from, SYNC_FILE_RANGE_WRITE);
    }

    quint32 Finish(int& lockedFd)
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

private:
    QString FTarget;
    QByteArray FLocalTemp;
    TFd FFd;
    bool FDurable = true;
    bool FExclusive = false;
};

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
        TNewFile file;
        quint32 result = file.Open(Path, Durable, Exclusive && scratch.isEmpty(), scratch);
        if (result != StgResult::Ok)
            return result;
        if (!WritePieces(file, 0, pieces))
            return LastError();
        return Finish(file);
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
    quint32 Flush() const
    {
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
    struct stat named;
    // What has the name gives way, unless it is a directory: then the link fails with EEXIST.
    if (::lstat(local.constData(), &named) == 0 && !S_ISDIR(named.st_mode) &&
        ::unlink(local.constData()) != 0)
        return LastError();
    if (::link(LocalPath(FFile->Path).constData(), local.constData()) != 0)
        return LastError();
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

void TStorage::FlushLater()
{
    FFile->Durable = false;
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
