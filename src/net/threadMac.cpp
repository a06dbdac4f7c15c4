#include "net/threadMac.h"

#include "net/hostResolve.h"
#include "net/interfaces.h"
#include "net/neighbours.h"
#include "net/netbiosPacket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <mutex>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <QRandomGenerator>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// One wait for an answer, and how often a question is asked: a node on the local network answers in
// milliseconds, so an adapter without an answer costs at most a few seconds.
constexpr int ReplyWaitMs = 750;
constexpr int Attempts = 2;

std::mutex sourcesLock;
TMacDetectionSources sources;

TMacDetectionSources CurrentSources()
{
    std::lock_guard<std::mutex> guard(sourcesLock);
    TMacDetectionSources current = sources;
    if (!current.EnumerateAdapters)
        current.EnumerateAdapters = EnumerateLanAdapters;
    if (!current.LocalInterfaces)
        current.LocalInterfaces = ReadLocalEthernetAddresses;
    return current;
}

class TSocket
{
public:
    TSocket() : FHandle(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~TSocket()
    {
        if (FHandle >= 0)
            close(FHandle);
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    int Handle() const { return FHandle; }

private:
    int FHandle;
};

sockaddr_in SocketAddress(quint32 addressHostOrder, quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(addressHostOrder);
    return address;
}

// Asks one question through one adapter and waits for an answer that accept takes (it checks the
// transaction). The socket is bound to the adapter's address, so a broadcast leaves through it and
// the answer comes back to it.
bool Exchange(const TLanAdapter& adapter, quint32 destination, bool broadcast,
              const std::function<QByteArray(quint16 id)>& request,
              const std::function<bool(const QByteArray& reply, quint16 id)>& accept)
{
    TSocket socket;
    if (socket.Handle() < 0)
        return false;
    const int on = 1;
    if (broadcast && setsockopt(socket.Handle(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return false;
    const sockaddr_in local = SocketAddress(adapter.Address, 0);
    if (bind(socket.Handle(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return false;
    const sockaddr_in target = SocketAddress(destination, NetBios::NameServicePort);
    // A node status answer of a node with many names is larger than an Ethernet frame: room for any datagram.
    QByteArray reply(65536, '\0');
    std::vector<quint16> asked;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const auto id = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 0x10000));
        asked.push_back(id);
        const QByteArray datagram = request(id);
        if (sendto(socket.Handle(), datagram.constData(), static_cast<size_t>(datagram.size()), 0,
                   reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReplyWaitMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd waiter{socket.Handle(), POLLIN, 0};
            const int ready = poll(&waiter, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = recvfrom(socket.Handle(), reply.data(), static_cast<size_t>(reply.size()), 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0)
                continue;
            // A question to one node is answered by that node's name service: anyone else who guesses the
            // transaction number is not believed. A broadcast question may be answered by anyone.
            if (!broadcast &&
                (fromLength < sizeof from || from.sin_family != AF_INET ||
                 from.sin_addr.s_addr != target.sin_addr.s_addr || from.sin_port != target.sin_port))
                continue;
            // A late answer to the first question is as good as one to the repeated question.
            const QByteArray answer = reply.left(got);
            for (const quint16 id : asked) {
                if (accept(answer, id))
                    return true;
            }
        }
    }
    return false;
}

bool ParseDottedAddress(const QString& text, quint32* addressHostOrder)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &address) != 1)
        return false;
    *addressHostOrder = ntohl(address.s_addr);
    return true;
}

// The adapter status of the computer through one adapter: its unit ID, or false when no usable answer
// came.
class TStatusQuery
{
public:
    explicit TStatusQuery(const QString& name) : FName(name)
    {
        // A computer given by its address is asked for the status of whatever name it holds there.
        FByAddress = !name.isEmpty() && ParseDottedAddress(name, &FAddress);
        FNetBiosName = NetBios::NameOf(FByAddress ? QString() : name);
    }

    bool Ask(const TLanAdapter& adapter, NetBios::TUnitId* unitId)
    {
        quint32 destination = 0;
        if (FByAddress)
            destination = FAddress;
        else if (!Locate(adapter, &destination))
            return false;
        const QByteArray name = FNetBiosName;
        return Exchange(
            adapter, destination, false, [&name](quint16 id) { return NetBios::NodeStatusRequest(id, name); },
            [unitId](const QByteArray& reply, quint16 id) {
                return NetBios::ParseNodeStatusResponse(reply, id, unitId);
            });
    }

private:
    // The name's address as seen from the adapter's network: a broadcast name query there, else the
    // host name resolution (asked once).
    bool Locate(const TLanAdapter& adapter, quint32* destination)
    {
        const QByteArray name = FNetBiosName;
        if (Exchange(
                adapter, adapter.Broadcast, true,
                [&name](quint16 id) { return NetBios::NameQueryRequest(id, name, true); },
                [destination](const QByteArray& reply, quint16 id) {
                    return NetBios::ParseNameQueryResponse(reply, id, destination);
                }))
            return true;
        if (!FResolved) {
            FResolved = true;
            FHostFound = ResolveIPv4(FName, &FHostAddress);
        }
        if (!FHostFound)
            return false;
        *destination = FHostAddress;
        return true;
    }

    QString FName;
    QByteArray FNetBiosName;
    bool FByAddress = false;
    quint32 FAddress = 0;
    bool FResolved = false;
    bool FHostFound = false;
    quint32 FHostAddress = 0;
};

} // namespace

void SetMacDetectionSources(TMacDetectionSources newSources)
{
    std::lock_guard<std::mutex> guard(sourcesLock);
    sources = std::move(newSources);
}

bool EnumerateLanAdapters(std::vector<TLanAdapter>& adapters)
{
    adapters.clear();
    bool ok = false;
    for (const TNetInterface& entry : UpIPv4Interfaces(&ok))
        if (entry.CanBroadcast() && !(entry.Flags & IFF_LOOPBACK))
            adapters.push_back({entry.Name, entry.Address, entry.Broadcast, entry.Hardware});
    return ok;
}

bool ReadAdapterHardwareAddress(const TLanAdapter& adapter, NetBios::TUnitId* address)
{
    if (adapter.Hardware.size() != static_cast<qsizetype>(address->size()))
        return false; // not Ethernet-like
    std::memcpy(address->data(), adapter.Hardware.constData(), address->size());
    return NetBios::IsUnicastUnitId(*address);
}

int ReadLocalEthernetAddresses(QStringList& list)
{
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return -1;
    int count = 0;
    for (const ifaddrs* item = interfaces; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_PACKET)
            continue;
        ++count;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(item->ifa_addr);
        if (link->sll_hatype != ARPHRD_ETHER || link->sll_halen != 6)
            continue;
        NetBios::TUnitId address;
        std::memcpy(address.data(), link->sll_addr, address.size());
        if (NetBios::IsUnicastUnitId(address))
            list << NetBios::UnitIdText(address);
    }
    freeifaddrs(interfaces);
    return count;
}

bool IsThisComputer(const QString& name, bool resolve)
{
    quint32 address = 0;
    if (!ParseIPv4Literal(name, &address)) {
        char own[256] = {};
        if (gethostname(own, sizeof own - 1) == 0) {
            const QString host = QString::fromLocal8Bit(own);
            if (name.compare(host, Qt::CaseInsensitive) == 0 ||
                name.compare(host.section(QLatin1Char('.'), 0, 0), Qt::CaseInsensitive) == 0)
                return true;
        }
        if (!resolve || !ResolveIPv4(name, &address))
            return false;
    }
    // The loopback address, and the one Debian's /etc/hosts gives this computer's own name. Other loopback
    // addresses stand for services of their own, not for this computer's adapters.
    if (address == 0x7F000001u || address == 0x7F000101u)
        return true;
    bool ok = false;
    for (const TNetInterface& entry : UpIPv4Interfaces(&ok))
        if (entry.Address == address)
            return true;
    return false;
}

bool ResolveNetBiosName(const QString& name, quint32* addressHostOrder)
{
    // Only a name a node can register: no dots, at most 15 characters.
    if (name.isEmpty() || name.size() > 15 || name.contains(QLatin1Char('.')))
        return false;
    std::vector<TLanAdapter> adapters;
    if (!CurrentSources().EnumerateAdapters(adapters))
        return false;
    const QByteArray name16 = NetBios::NameOf(name);
    for (const TLanAdapter& adapter : adapters) {
        if (Exchange(
                adapter, adapter.Broadcast, true,
                [&name16](quint16 id) { return NetBios::NameQueryRequest(id, name16, true); },
                [addressHostOrder](const QByteArray& reply, quint16 id) {
                    return NetBios::ParseNameQueryResponse(reply, id, addressHostOrder);
                }))
            return true;
    }
    return false;
}

int DetectMACAddresses(const QString& name, QStringList& list)
{
    list.clear();
    int count = -1;
    const TMacDetectionSources current = CurrentSources();
    std::vector<TLanAdapter> adapters;
    if (current.EnumerateAdapters(adapters)) {
        count = static_cast<int>(adapters.size());
        // This computer by one of its own names or addresses: its name service (if it runs one at all)
        // would answer for its adapters with zeros, and the neighbour table has no entry for itself.
        const bool own = name.isEmpty() || IsThisComputer(name, false);
        if (own) {
            // This computer's own name service (if it runs one at all) does not know its adapters'
            // addresses; the kernel does.
            for (const TLanAdapter& adapter : adapters) {
                NetBios::TUnitId address{};
                if (ReadAdapterHardwareAddress(adapter, &address))
                    list << NetBios::UnitIdText(address);
            }
        } else {
            TStatusQuery query(name);
            for (const TLanAdapter& adapter : adapters) {
                NetBios::TUnitId unitId{};
                if (query.Ask(adapter, &unitId))
                    list << NetBios::UnitIdText(unitId);
            }
            // A name of this computer that only the system's resolver knows.
            if (list.isEmpty() && IsThisComputer(name, true)) {
                for (const TLanAdapter& adapter : adapters) {
                    NetBios::TUnitId address{};
                    if (ReadAdapterHardwareAddress(adapter, &address))
                        list << NetBios::UnitIdText(address);
                }
            }
        }
    }
    // Only this computer has local interfaces to fall back on, and only when NetBIOS could not even
    // say which adapters there are.
    if (count == -1 && name.isEmpty()) {
        QStringList local;
        count = current.LocalInterfaces(local);
        list << local;
    }
    return count;
}

TMACThread::TMACThread(const QString& computerName, const QString& fallbackAddress)
    : FComputerName(computerName), FFallbackAddress(fallbackAddress)
{
}

void TMACThread::Execute()
{
    if (StopRequested())
        return;
    DetectMACAddresses(FComputerName, FResult);
    if (!FResult.isEmpty() || FComputerName.isEmpty() || StopRequested())
        return;
    // Hosts without NetBIOS (Linux machines, printers, NAS boxes) still have an entry in the kernel's
    // neighbour table once they are asked for; a host behind a router gets no guess.
    quint32 address = 0;
    QString ip;
    if (ParseDottedAddress(FComputerName, &address) || ResolveIPv4(FComputerName, &address))
        ip = IPv4ToText(address);
    if (!ip.isEmpty() && !StopRequested())
        if (const QString mac = ProbeNeighbourMac(ip); !mac.isEmpty()) {
            FResult << mac;
            return;
        }
    // A name no one resolves (or that leads elsewhere) may still come with the address the user knows.
    if (quint32 fallback = 0;
        ParseDottedAddress(FFallbackAddress, &fallback) && IPv4ToText(fallback) != ip && !StopRequested())
        if (const QString mac = ProbeNeighbourMac(IPv4ToText(fallback)); !mac.isEmpty())
            FResult << mac;
}
