// Feeds arbitrary datagrams to the NetBIOS name service reply readers. The transaction number is taken
// from the datagram itself, so that every input gets past the first check. The bytes are not copied: a
// read past the datagram's end is a read past the input's allocation, which AddressSanitizer reports.
#include "net/netbiosPacket.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray datagram =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const quint16 id = size >= 2 ? static_cast<quint16>((data[0] << 8) | data[1]) : 0;

    quint32 address = 0;
    if (NetBios::ParseNameQueryResponse(datagram, id, &address) && (address == 0 || address == 0xFFFFFFFF))
        std::abort(); // no usable address is ever handed on
    NetBios::TUnitId unit{};
    if (NetBios::ParseNodeStatusResponse(datagram, id, &unit) && !NetBios::IsUnicastUnitId(unit))
        std::abort(); // a group or unknown address is never taken for an adapter's
    // Another transaction's answer is never taken.
    if (size >= 2 && (NetBios::ParseNameQueryResponse(datagram, quint16(id + 1), &address) ||
                      NetBios::ParseNodeStatusResponse(datagram, quint16(id + 1), &unit)))
        std::abort();
    return 0;
}
