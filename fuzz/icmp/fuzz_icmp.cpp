// Feeds arbitrary packets, as a raw socket delivers them, to the ICMP packet reader, straight from the
// fuzzer's own exactly sized buffer so that AddressSanitizer sees every read past the packet. Also
// checks the echo request builder with the input as payload: its checksum must verify.
#include "net/icmpPacket.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int length = static_cast<int>(size);
    const TIcmpAnswer answer = ParseRawPacket(data, length);
    if (answer.Length != length)
        std::abort();
    if (answer.Kind == TIcmpAnswer::Answer && OutcomeOfType(answer.Type) != answer.Outcome)
        std::abort();
    // Nothing is taken as an answer unless its ICMP checksum holds.
    if (answer.Kind == TIcmpAnswer::Answer &&
        InternetChecksum(data + (data[0] & 0x0F) * 4, length - (data[0] & 0x0F) * 4) != 0)
        std::abort();
    if (answer.Kind == TIcmpAnswer::TooShort && length > 68 && length >= (data[0] & 0x0F) * 4 + 8)
        std::abort(); // long enough for any IP header and an ICMP header

    InternetChecksum(data, length);
    const QByteArray payload =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const quint16 id = size >= 2 ? static_cast<quint16>(data[0] | (data[1] << 8)) : 0;
    const QByteArray request = BuildEchoRequest(id, quint16(~id), quint32(size), payload);
    if (request.size() != EchoRequestSize ||
        InternetChecksum(reinterpret_cast<const uchar*>(request.constData()), EchoRequestSize) != 0)
        std::abort();
    return 0;
}
