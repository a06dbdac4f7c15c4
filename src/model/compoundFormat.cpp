#include "model/compoundFormat.h"

#include "model/compoundFile.h"

#include <algorithm>
#include <cstring>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>
#include <mutex>
#include <QtEndian>

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
constexpr qsizetype MiniSector = 64;
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

} // namespace

bool Serialize(const TStorageNode& root, std::vector<QByteArray>& pieces, const TStorageNode* lead,
               bool leadWritten)
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
