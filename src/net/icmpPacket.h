#pragma once

#include <QByteArray>
#include <QtGlobal>

// The echo request of the reachability check and the reading of what comes back.
// Every multi-byte field of the request is little-endian, as the product has always sent it; answers
// echo those bytes back, so their sequence numbers are read the same way.

// The sequence number used when a check is given 0.
constexpr quint16 DefaultPingSequence = 3489;
constexpr int EchoRequestSize = 52;
constexpr int EchoPayloadSize = 32;
constexpr int IcmpHeaderSize = 8;

// Milliseconds of a monotonic clock, wrapping at 32 bits.
quint32 TickCount();
// Nanoseconds of the clock the kernel stamps received packets with (CLOCK_REALTIME).
qint64 PacketClockNs();

// RFC 1071 checksum of data, ready to be stored little-endian (the one's complement sum does not depend
// on the byte order the words are read in, as long as the result is stored the same way).
quint16 InternetChecksum(const uchar* data, int length);

// The 52-byte echo request: type 8, code 0, checksum, identifier, sequence, tick, 8 zero bytes, then the
// payload's bytes padded with "E" to 32 bytes.
QByteArray BuildEchoRequest(quint16 identifier, quint16 sequence, quint32 tick,
                            const QByteArray& payload = {});

// What one received ICMP packet means to a waiting check.
struct TIcmpAnswer
{
    enum Kind
    {
        Answer,    // an echo answer or an error quoting an echo request; Sequence tells whose
        TooShort,  // shorter than its IP header plus an ICMP header: ends every waiting check
        Unrelated, // another ICMP type, or an error too short to quote a sequence number: nobody's
    };
    Kind Kind = Unrelated;
    quint8 Outcome = 0; // 0 echo, 3 destination unreachable, 4 TTL expired
    quint8 Type = 0;
    quint16 Sequence = 0;
    quint16 Identifier = 0;        // of the echo, or of the echo request an error quotes
    quint32 From = 0;              // host byte order
    quint32 QuotedDestination = 0; // of an error: where the request it quotes was going
    quint8 TTL = 0;
    int Length = 0;        // bytes received, IP header included
    qint64 ReceivedNs = 0; // when the kernel took the packet in (CLOCK_REALTIME); 0 when it did not say
};

// Outcome of an ICMP type: 0 for echo reply and echo request, 3 for destination unreachable, 4 for time
// exceeded, -1 for every other type.
int OutcomeOfType(quint8 type);

// Reads a packet as a raw socket delivers it: IP header, then the ICMP message. Each IP header, the
// outer one and the one an error quotes, says its own length (low four bits of its first byte times 4).
// A message whose ICMP checksum does not hold, or an error that quotes anything but an echo request,
// is nobody's.
TIcmpAnswer ParseRawPacket(const uchar* data, int length);

// Little-endian 16-bit field.
inline quint16 ReadLE16(const uchar* p)
{
    return static_cast<quint16>(p[0] | (p[1] << 8));
}
