#include "net/neighbours.h"

#include "core/worker.h"
#include "net/interfaces.h"
#include "net/netbiosPacket.h"
#include "net/utilsNetwork.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int UsableStates = NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT;
constexpr quint16 DiscardPort = 9;

class TFd
{
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

// Hands each IPv4 entry of one netlink datagram of the dump to visit. Every length comes from the
// kernel, but is still checked against what was received before it is used.
enum class TParse
{
    More,
    Done,
    Failed
};
TParse ScanDatagram(const char* data, qsizetype length, quint32 sequence,
                    const std::function<void(const TNeighbourEntry&)>& visit)
{
    auto remaining = static_cast<int>(length);
    for (auto* header = reinterpret_cast<const nlmsghdr*>(data); NLMSG_OK(header, remaining);
         header = NLMSG_NEXT(header, remaining)) {
        if (header->nlmsg_seq != sequence)
            continue;
        if (header->nlmsg_type == NLMSG_DONE)
            return TParse::Done;
        if (header->nlmsg_type == NLMSG_ERROR)
            return TParse::Failed;
        if (header->nlmsg_type != RTM_NEWNEIGH || header->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
            continue;
        const auto* entry = static_cast<const ndmsg*>(NLMSG_DATA(header));
        if (entry->ndm_family != AF_INET)
            continue;
        int attributesLength = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
        TNeighbourEntry found;
        found.State = entry->ndm_state;
        found.InterfaceIndex = entry->ndm_ifindex;
        bool hasAddress = false;
        QByteArray hardware;
        for (auto* attribute = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(entry) +
                                                               NLMSG_ALIGN(sizeof(ndmsg)));
             RTA_OK(attribute, attributesLength); attribute = RTA_NEXT(attribute, attributesLength)) {
            const auto payload = static_cast<int>(RTA_PAYLOAD(attribute));
            if (attribute->rta_type == NDA_DST && payload == sizeof(in_addr_t)) {
                in_addr_t address = 0;
                std::memcpy(&address, RTA_DATA(attribute), sizeof(address));
                found.Address = ntohl(address);
                hasAddress = true;
            } else if (attribute->rta_type == NDA_LLADDR) {
                hardware = QByteArray(static_cast<const char*>(RTA_DATA(attribute)), payload);
            }
        }
        if (!hasAddress)
            continue;
        NetBios::TUnitId address{};
        if ((found.State & UsableStates) && hardware.size() == static_cast<qsizetype>(address.size())) {
            std::memcpy(address.data(), hardware.constData(), address.size());
            if (address != NetBios::TUnitId{})
                found.Mac = NetBios::UnitIdText(address);
        }
        visit(found);
    }
    return TParse::More;
}

// Dumps the table once, handing every IPv4 entry to visit; false when it cannot be read.
bool DumpTable(const std::function<void(const TNeighbourEntry&)>& visit)
{
    TFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (socket.Get() < 0)
        return false;
    timeval limit{1, 0}; // the kernel answers at once; this only guards against a wedged socket
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));

    static std::atomic<quint32> nextSequence{1};
    struct
    {
        nlmsghdr Header;
        ndmsg Entry;
    } request{};
    request.Header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.Header.nlmsg_type = RTM_GETNEIGH;
    request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.Header.nlmsg_seq = nextSequence++;
    request.Entry.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(socket.Get(), &request, request.Header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof(kernel)) < 0)
        return false;

    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t received = ::recv(socket.Get(), buffer.data(), buffer.size(), 0);
        if (received <= 0)
            return false;
        const TParse state = ScanDatagram(buffer.constData(), received, request.Header.nlmsg_seq, visit);
        if (state == TParse::Done)
            return true;
        if (state == TParse::Failed)
            return false;
    }
}

} // namespace

QString NeighbourMac(quint32 address)
{
    QString mac;
    const bool read = DumpTable([&](const TNeighbourEntry& entry) {
        if (mac.isEmpty() && entry.Address == address)
            mac = entry.Mac;
    });
    return read ? mac : QString();
}

bool ReadNeighbourTable(std::vector<TNeighbourEntry>& entries)
{
    entries.clear();
    return DumpTable([&](const TNeighbourEntry& entry) { entries.push_back(entry); });
}

namespace {

// Engine thread only: the lookups waiting for the next reading of the table, and whether one is under way.
struct TLookUps
{
    std::vector<std::pair<quint32, std::function<void(const QString&)>>> Waiting;
    bool Reading = false;
};

TLookUps& LookUps()
{
    // Never destroyed: the engine may still answer a lookup while the program ends.
    static auto* lookUps = new TLookUps;
    return *lookUps;
}

void ReadForWaiting()
{
    TLookUps& lookUps = LookUps();
    lookUps.Reading = true;
    RunBlocking([asked = std::move(lookUps.Waiting)]() mutable {
        QHash<quint32, QString> macs;
        const bool read = DumpTable([&](const TNeighbourEntry& entry) {
            if (!entry.Mac.isEmpty() && !macs.contains(entry.Address))
                macs.insert(entry.Address, entry.Mac);
        });
        TWorkerEngine::Instance().Post([asked = std::move(asked), macs = std::move(macs), read] {
            for (const auto& [address, onMac] : asked)
                onMac(read ? macs.value(address) : QString());
            TLookUps& lookUps = LookUps();
            lookUps.Reading = false;
            // What was asked during this reading may concern entries it already missed: read again.
            if (!lookUps.Waiting.empty())
                ReadForWaiting();
        });
    });
    lookUps.Waiting.clear();
}

} // namespace

void LookUpNeighbourMac(quint32 address, std::function<void(const QString& mac)> onMac)
{
    TLookUps& lookUps = LookUps();
    lookUps.Waiting.emplace_back(address, std::move(onMac));
    if (!lookUps.Reading)
        ReadForWaiting();
}

QString NeighbourMac(const QString& ipAddress)
{
    quint32 address = 0;
    return ParseIPv4(ipAddress, &address) ? NeighbourMac(address) : QString();
}

QString ProbeNeighbourMac(const QString& ipAddress, int timeoutMs)
{
    quint32 address = 0;
    if (!ParseIPv4(ipAddress, &address) || !InterfaceHolding(address, UpIPv4Interfaces()))
        return {};
    QString mac = NeighbourMac(address);
    if (!mac.isEmpty())
        return mac;

    TFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0)
        return {};
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(DiscardPort);
    target.sin_addr.s_addr = htonl(address);
    if (::sendto(socket.Get(), "", 0, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&target), sizeof(target)) < 0)
        return {};

    QElapsedTimer clock;
    clock.start();
    while (mac.isEmpty() && clock.elapsed() < timeoutMs) {
        QThread::msleep(20);
        mac = NeighbourMac(address);
    }
    return mac;
}
