#include "net/netbiosPacket.h"

namespace NetBios {

namespace {

constexpr int NameLength = 16;
constexpr quint16 TypeNB = 0x0020;
constexpr quint16 TypeNBSTAT = 0x0021;
constexpr quint16 ClassIN = 0x0001;
constexpr quint16 FlagResponse = 0x8000;
constexpr quint16 FlagRecursionDesired = 0x0100;
constexpr quint16 FlagBroadcast = 0x0010;
constexpr int NameEntryLength = 18; // 15 name bytes, suffix, two flag bytes

void PutWord(QByteArray& out, quint16 value)
{
    out.append(static_cast<char>(value >> 8));
    out.append(static_cast<char>(value & 0xFF));
}

// First-level encoding: each byte as two letters 'A' + nibble, in a label of 32, then the root label.
void PutName(QByteArray& out, const QByteArray& name16)
{
    out.append(static_cast<char>(2 * NameLength));
    for (int i = 0; i < NameLength; ++i) {
        const auto byte = static_cast<quint8>(i < name16.size() ? name16[i] : ' ');
        out.append(static_cast<char>('A' + (byte >> 4)));
        out.append(static_cast<char>('A' + (byte & 0x0F)));
    }
    out.append('\0');
}

QByteArray Request(quint16 transactionId, quint16 flags, const QByteArray& name16, quint16 type)
{
    QByteArray out;
    PutWord(out, transactionId);
    PutWord(out, flags);
    PutWord(out, 1); // one question
    PutWord(out, 0);
    PutWord(out, 0);
    PutWord(out, 0);
    PutName(out, name16);
    PutWord(out, type);
    PutWord(out, ClassIN);
    return out;
}

// A cursor over a datagram that refuses every read past its end.
class TReader
{
public:
    explicit TReader(const QByteArray& data) : FData(data) {}

    bool Word(quint16& value)
    {
        if (Remaining() < 2)
            return false;
        value = static_cast<quint16>((Byte(FPos) << 8) | Byte(FPos + 1));
        FPos += 2;
        return true;
    }
    bool Skip(qsizetype count)
    {
        if (count < 0 || Remaining() < count)
            return false;
        FPos += count;
        return true;
    }
    // A domain-style name: labels up to the root label, or ending in a compression pointer.
    bool SkipName()
    {
        for (int labels = 0; labels < 64; ++labels) {
            if (Remaining() < 1)
                return false;
            const quint8 length = Byte(FPos);
            if ((length & 0xC0) == 0xC0)
                return Skip(2);
            if ((length & 0xC0) != 0)
                return false;
            if (!Skip(1 + length))
                return false;
            if (length == 0)
                return true;
        }
        return false;
    }
    qsizetype Remaining() const { return FData.size() - FPos; }
    qsizetype Pos() const { return FPos; }
    quint8 Byte(qsizetype at) const { return static_cast<quint8>(FData[at]); }

private:
    const QByteArray& FData;
    qsizetype FPos = 0;
};

// Checks the header of a positive answer to our transaction, steps over the questions and the answer's
// name, and leaves the reader at the start of the answer's data with its length checked.
bool AnswerData(TReader& reader, quint16 transactionId, quint16 expectedType, quint16* dataLength)
{
    quint16 id = 0, flags = 0, questions = 0, answers = 0, authority = 0, additional = 0;
    if (!reader.Word(id) || !reader.Word(flags) || !reader.Word(questions) || !reader.Word(answers) ||
        !reader.Word(authority) || !reader.Word(additional))
        return false;
    if (id != transactionId || !(flags & FlagResponse) || ((flags >> 11) & 0x0F) != 0 || (flags & 0x0F) != 0)
        return false;
    if (answers < 1)
        return false;
    for (quint16 i = 0; i < questions; ++i) {
        if (!reader.SkipName() || !reader.Skip(4))
            return false;
    }
    quint16 type = 0, rrClass = 0;
    if (!reader.SkipName() || !reader.Word(type) || !reader.Word(rrClass) || !reader.Skip(4) ||
        !reader.Word(*dataLength))
        return false;
    if (type != expectedType || *dataLength > reader.Remaining())
        return false;
    return true;
}

} // namespace

QByteArray NameOf(const QString& computerName)
{
    if (computerName.isEmpty()) {
        QByteArray wildcard(NameLength, '\0');
        wildcard[0] = '*';
        return wildcard;
    }
    QByteArray name = computerName.toUpper().toLocal8Bit().left(NameLength);
    name.append(QByteArray(NameLength - name.size(), ' '));
    return name;
}

QByteArray NameQueryRequest(quint16 transactionId, const QByteArray& name16, bool broadcast)
{
    return Request(transactionId, FlagRecursionDesired | (broadcast ? FlagBroadcast : 0), name16, TypeNB);
}

QByteArray NodeStatusRequest(quint16 transactionId, const QByteArray& name16)
{
    return Request(transactionId, 0, name16, TypeNBSTAT);
}

bool ParseNameQueryResponse(const QByteArray& datagram, quint16 transactionId, quint32* addressHostOrder)
{
    TReader reader(datagram);
    quint16 length = 0;
    if (!AnswerData(reader, transactionId, TypeNB, &length))
        return false;
    // Entries of two flag bytes and an address; the first one counts.
    if (length < 6)
        return false;
    const qsizetype at = reader.Pos() + 2;
    const quint32 address = (quint32(reader.Byte(at)) << 24) | (quint32(reader.Byte(at + 1)) << 16) |
                            (quint32(reader.Byte(at + 2)) << 8) | quint32(reader.Byte(at + 3));
    if (address == 0 || address == 0xFFFFFFFF)
        return false;
    *addressHostOrder = address;
    return true;
}

bool ParseNodeStatusResponse(const QByteArray& datagram, quint16 transactionId, TUnitId* unitId)
{
    TNodeStatus status;
    // Samba answers with zeros (it does not know the adapter's address); a group address names no adapter.
    if (!ParseNodeStatus(datagram, transactionId, &status) || !IsUnicastUnitId(status.UnitId))
        return false;
    *unitId = status.UnitId;
    return true;
}

bool ParseNodeStatus(const QByteArray& datagram, quint16 transactionId, TNodeStatus* status)
{
    TReader reader(datagram);
    quint16 length = 0;
    if (!AnswerData(reader, transactionId, TypeNBSTAT, &length))
        return false;
    if (length < 1)
        return false;
    const qsizetype start = reader.Pos();
    const int names = reader.Byte(start);
    const qsizetype unitAt = 1 + qsizetype(names) * NameEntryLength;
    if (unitAt + qsizetype(status->UnitId.size()) > length)
        return false;
    status->Name.clear();
    for (int i = 0; i < names && status->Name.isEmpty(); ++i) {
        const qsizetype at = start + 1 + qsizetype(i) * NameEntryLength;
        const quint8 suffix = reader.Byte(at + NameLength - 1);
        const bool group = reader.Byte(at + NameLength) & 0x80;
        if (group || suffix != 0x00)
            continue;
        QByteArray name;
        for (int c = 0; c < NameLength - 1; ++c) {
            const quint8 byte = reader.Byte(at + c);
            // Only printable ASCII: the name is shown and may become a computer's name.
            if (byte < 0x20 || byte > 0x7E)
                break;
            name.append(static_cast<char>(byte));
        }
        status->Name = QString::fromLatin1(name.trimmed());
    }
    for (size_t i = 0; i < status->UnitId.size(); ++i)
        status->UnitId[i] = reader.Byte(start + unitAt + qsizetype(i));
    return true;
}

bool IsUnicastUnitId(const TUnitId& unitId)
{
    return unitId != TUnitId{} && (unitId[0] & 0x01) == 0;
}

QString UnitIdText(const TUnitId& unitId)
{
    QString text;
    for (size_t i = 0; i < unitId.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('-');
        text += QStringLiteral("%1").arg(unitId[i], 2, 16, QLatin1Char('0'));
    }
    return text;
}

} // namespace NetBios
