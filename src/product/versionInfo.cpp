#include "product/versionInfo.h"

#include <cstring>
#include <QBuffer>
#include <QFile>
#include <QtEndian>

namespace {

// Limits that keep a hostile file from making us read or allocate much.
constexpr quint64 MaxSections = 65535;
constexpr quint64 MaxNameTable = 1 << 20;
constexpr quint64 MaxVersionSection = 64 * 1024;

// Reads fixed-size fields of an ELF image of either class and byte order, refusing anything outside the
// image.
class TElfReader
{
public:
    explicit TElfReader(QIODevice& file) : FFile(file), FSize(quint64(file.size())) {}

    bool ReadAt(quint64 offset, void* buffer, quint64 length)
    {
        if (offset > FSize || length > FSize - offset)
            return false;
        if (!FFile.seek(qint64(offset)))
            return false;
        return FFile.read(static_cast<char*>(buffer), qint64(length)) == qint64(length);
    }

    QByteArray ReadBlock(quint64 offset, quint64 length)
    {
        if (offset > FSize || length > FSize - offset)
            return {};
        QByteArray block(qsizetype(length), Qt::Uninitialized);
        if (!ReadAt(offset, block.data(), length))
            return {};
        return block;
    }

    bool Is64 = false;
    bool BigEndian = false;

    quint64 Field(const uchar* p, int size) const
    {
        switch (size) {
        case 2:
            return BigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
        case 4:
            return BigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
        default:
            return BigEndian ? qFromBigEndian<quint64>(p) : qFromLittleEndian<quint64>(p);
        }
    }
    // An address-sized field: 8 bytes in 64-bit files, 4 in 32-bit ones.
    quint64 Word(const uchar* p) const { return Field(p, Is64 ? 8 : 4); }

private:
    QIODevice& FFile;
    quint64 FSize;
};

struct TSectionHeader
{
    quint32 Name = 0;
    quint32 Type = 0;
    quint64 Offset = 0;
    quint64 Size = 0;
    quint32 Link = 0;
};

constexpr quint32 SHT_NOBITS = 8;

bool ReadSectionHeader(TElfReader& elf, quint64 offset, quint64 entrySize, TSectionHeader* header)
{
    uchar raw[64] = {};
    const quint64 needed = elf.Is64 ? 64 : 40;
    if (entrySize < needed || !elf.ReadAt(offset, raw, needed))
        return false;
    header->Name = quint32(elf.Field(raw + 0, 4));
    header->Type = quint32(elf.Field(raw + 4, 4));
    if (elf.Is64) {
        header->Offset = elf.Field(raw + 24, 8);
        header->Size = elf.Field(raw + 32, 8);
        header->Link = quint32(elf.Field(raw + 40, 4));
    } else {
        header->Offset = elf.Field(raw + 16, 4);
        header->Size = elf.Field(raw + 20, 4);
        header->Link = quint32(elf.Field(raw + 24, 4));
    }
    return true;
}

QByteArray ReadVersionSection(QIODevice& file)
{
    TElfReader elf(file);

    uchar ident[64] = {};
    static const uchar magic[4] = {0x7f, 'E', 'L', 'F'};
    if (!elf.ReadAt(0, ident, 16) || std::memcmp(ident, magic, sizeof magic) != 0)
        return {};
    if (ident[4] != 1 && ident[4] != 2)
        return {};
    if (ident[5] != 1 && ident[5] != 2)
        return {};
    elf.Is64 = ident[4] == 2;
    elf.BigEndian = ident[5] == 2;

    const quint64 headerSize = elf.Is64 ? 64 : 52;
    if (!elf.ReadAt(0, ident, headerSize))
        return {};
    const quint64 shoff = elf.Is64 ? elf.Field(ident + 40, 8) : elf.Field(ident + 32, 4);
    const int tail = elf.Is64 ? 58 : 46; // e_shentsize, e_shnum, e_shstrndx
    const quint64 shentsize = elf.Field(ident + tail, 2);
    quint64 shnum = elf.Field(ident + tail + 2, 2);
    quint64 shstrndx = elf.Field(ident + tail + 4, 2);
    if (shoff == 0 || shoff >= quint64(file.size()))
        return {};

    // Extended numbering: the real counts sit in the first section header.
    TSectionHeader first;
    if (!ReadSectionHeader(elf, shoff, shentsize, &first))
        return {};
    if (shnum == 0)
        shnum = first.Size;
    if (shstrndx == 0xffff)
        shstrndx = first.Link;
    if (shnum == 0 || shnum > MaxSections || shstrndx >= shnum)
        return {};
    // The whole table must lie inside the file, or the header is lying about it.
    if (shnum * shentsize > quint64(file.size()) - shoff)
        return {};

    auto headerAt = [&](quint64 index, TSectionHeader* header) {
        return ReadSectionHeader(elf, shoff + index * shentsize, shentsize, header);
    };
    TSectionHeader names;
    if (!headerAt(shstrndx, &names) || names.Type == SHT_NOBITS || names.Size > MaxNameTable)
        return {};
    const QByteArray nameTable = elf.ReadBlock(names.Offset, names.Size);
    if (nameTable.isEmpty())
        return {};

    const QByteArray wanted(VersionSectionName);
    for (quint64 index = 1; index < shnum; ++index) {
        TSectionHeader header;
        if (!headerAt(index, &header))
            return {};
        if (header.Name >= quint64(nameTable.size()))
            continue;
        const char* name = nameTable.constData() + header.Name;
        const qsizetype room = nameTable.size() - qsizetype(header.Name);
        if (qstrnlen(name, size_t(room)) != size_t(wanted.size()) ||
            wanted != QByteArrayView(name, wanted.size()))
            continue;
        if (header.Type == SHT_NOBITS || header.Size > MaxVersionSection)
            return {};
        return elf.ReadBlock(header.Offset, header.Size);
    }
    return {};
}

} // namespace

QByteArray ReadVersionSection(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ReadVersionSection(file);
}

QByteArray VersionSectionOf(const QByteArray& image)
{
    QBuffer buffer;
    buffer.setData(image);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    return ReadVersionSection(buffer);
}

QString VersionValue(const QByteArray& section, const QString& key)
{
    const QString text = QString::fromUtf8(section);
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed().toString();
    }
    return {};
}

QString GetFileVersionString(const QString& fileName)
{
    const QString version = VersionValue(ReadVersionSection(fileName), QStringLiteral("FileVersion"));
    return version.isEmpty() ? QStringLiteral("0.0.0.0") : version;
}

QString GetFileComments(const QString& fileName)
{
    return VersionValue(ReadVersionSection(fileName), QStringLiteral("Comments"));
}
