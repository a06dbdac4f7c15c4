#include "net/icmpPacket.h"

#include <cstring>
#include <ctime>

namespace {

void WriteLE16(uchar* p, quint16 value)
{
    p[0] = static_cast<uchar>(value & 0xFF);
    p[1] = static_cast<uchar>(value >> 8);
}

void WriteLE32(uchar* p, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uchar>((value >> (8 * i)) & 0xFF);
}

quint32 ReadBE32(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

} // namespace

quint32 TickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const quint64 ms = quint64(now.tv_sec) * 1000u + quint64(now.tv_nsec) / 1000000u;
    return static_cast<quint32>(ms);
}

qint64 PacketClockNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

quint16 InternetChecksum(const uchar* data, int length)
{
    quint32 sum = 0;
    int i = 0;
    for (; i + 1 < length; i += 2)
        sum += ReadLE16(data + i);
    if (i < length)
        sum += data[i];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum & 0xFFFF);
}

QByteArray BuildEchoRequest(quint16 identifier, quint16 sequence, quint32 tick, const QByteArray& payload)
{
    QByteArray packet(EchoRequestSize, '\0');
    auto* p = reinterpret_cast<uchar*>(packet.data());
    p[0] = 8;
    p[1] = 0;
    WriteLE16(p + 4, identifier);
    WriteLE16(p + 6, sequence);
    WriteLE32(p + 8, tick);
    // Bytes 12..19 stay zero.
    const int take = qMin<int>(payload.size(), EchoPayloadSize);
    std::memcpy(p + 20, payload.constData(), take);
    std::memset(p + 20 + take, 'E', EchoPayloadSize - take);
    WriteLE16(p + 2, InternetChecksum(p, EchoRequestSize));
    return packet;
}

int OutcomeOfType(quint8 type)
{
    switch (type) {
    case 0:
    case 8:
        return 0;
    case 3:
        return 3;
    case 11:
        return 4;
    default:
        return -1;
    }
}

TIcmpAnswer ParseRawPacket(const uchar* data, int length)
{
    TIcmpAnswer answer;
    answer.Length = length;
    const int headerLength = length > 0 ? (data[0] & 0x0F) * 4 : 0;
    if (length < headerLength + IcmpHeaderSize || length <= 0) {
        answer.Kind = TIcmpAnswer::TooShort;
        return answer;
    }
    answer.Type = data[headerLength];
    // The kernel hands raw sockets a real IP header; a malformed length field must still not read past
    // the packet.
    answer.TTL = length > 8 ? data[8] : 0;
    answer.From = length >= 16 ? ReadBE32(data + 12) : 0;
    const int outcome = OutcomeOfType(answer.Type);
    if (outcome < 0)
        return answer; // unrelated: another kind of ICMP traffic
    answer.Outcome = static_cast<quint8>(outcome);
    // A damaged (or forged) message says nothing about anyone's request.
    if (InternetChecksum(data + headerLength, length - headerLength) != 0)
        return answer;
    const uchar* echo = data + headerLength;
    if (outcome != 0) {
        // The quoted IP header, then the start of the echo request it carried.
        const int quotedAt = headerLength + IcmpHeaderSize;
        if (quotedAt + 20 > length)
            return answer;
        const int quotedLength = (data[quotedAt] & 0x0F) * 4;
        if (quotedLength < 20 || quotedAt + quotedLength + IcmpHeaderSize > length)
            return answer; // too short to say which request it is about
        if (data[quotedAt + 9] != 1 || data[quotedAt + quotedLength] != 8)
            return answer; // quotes something other than an echo request
        answer.QuotedDestination = ReadBE32(data + quotedAt + 16);
        echo = data + quotedAt + quotedLength;
    }
    answer.Identifier = ReadLE16(echo + 4);
    answer.Sequence = ReadLE16(echo + 6);
    answer.Kind = TIcmpAnswer::Answer;
    return answer;
}
