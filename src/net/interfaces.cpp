#include "net/interfaces.h"

#include "net/hostResolve.h"
#include "net/utilsNetwork.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

quint32 HostOrder(const sockaddr* address)
{
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

// An address label such as "eth0:1" belongs to the device "eth0".
QByteArray DeviceName(const char* label)
{
    QByteArray name(label);
    const qsizetype colon = name.indexOf(':');
    return colon < 0 ? name : name.left(colon);
}

// The broadcast address of a subnet; the limited broadcast on /31 and /32, whose other address (or only
// one) is a host.
quint32 PrefixBroadcast(quint32 address, quint32 netmask)
{
    return netmask >= 0xFFFFFFFEu ? quint32(INADDR_BROADCAST) : (address | ~netmask);
}

} // namespace

bool TNetInterface::CanBroadcast() const
{
    return (Flags & IFF_BROADCAST) && Broadcast != 0;
}

bool TNetInterface::Holds(quint32 address) const
{
    return Netmask != 0 && (address & Netmask) == (Address & Netmask);
}

std::vector<TNetInterface> UpIPv4Interfaces(bool* ok)
{
    std::vector<TNetInterface> result;
    ifaddrs* list = nullptr;
    const bool read = getifaddrs(&list) == 0;
    if (ok)
        *ok = read;
    if (!read)
        return result;
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET || !(item->ifa_flags & IFF_UP))
            continue;
        TNetInterface entry;
        const QByteArray device = DeviceName(item->ifa_name);
        entry.Name = QString::fromLocal8Bit(item->ifa_name);
        entry.Index = static_cast<int>(if_nametoindex(device.constData()));
        entry.Address = HostOrder(item->ifa_addr);
        entry.Netmask = item->ifa_netmask ? HostOrder(item->ifa_netmask) : 0;
        entry.Flags = item->ifa_flags;
        // ifa_broadaddr shares its slot with the point-to-point peer; only IFF_BROADCAST makes it one.
        if ((item->ifa_flags & IFF_BROADCAST) && item->ifa_broadaddr &&
            item->ifa_broadaddr->sa_family == AF_INET)
            entry.Broadcast = HostOrder(item->ifa_broadaddr);
        // An address added without a broadcast address ("ip addr add 10.77.0.1/24 dev X") has none in the
        // kernel, and the list then holds the interface's own address in its place: a wake-up sent there
        // would never leave the machine.
        if ((item->ifa_flags & IFF_BROADCAST) && (entry.Broadcast == 0 || entry.Broadcast == entry.Address))
            entry.Broadcast = PrefixBroadcast(entry.Address, entry.Netmask);
        for (const ifaddrs* link = list; link; link = link->ifa_next) {
            if (link->ifa_addr && link->ifa_addr->sa_family == AF_PACKET && device == link->ifa_name) {
                const auto* hardware = reinterpret_cast<const sockaddr_ll*>(link->ifa_addr);
                const int length = qMin<int>(hardware->sll_halen, sizeof(hardware->sll_addr));
                entry.Hardware = QByteArray(reinterpret_cast<const char*>(hardware->sll_addr), length);
                break;
            }
        }
        result.push_back(entry);
    }
    freeifaddrs(list);
    return result;
}

std::optional<TNetInterface> InterfaceHolding(quint32 address, const std::vector<TNetInterface>& interfaces)
{
    std::optional<TNetInterface> best;
    for (const TNetInterface& entry : interfaces) {
        if (!entry.CanBroadcast() || (entry.Flags & IFF_LOOPBACK) || !entry.Holds(address))
            continue;
        if (!best || entry.Netmask > best->Netmask)
            best = entry;
    }
    return best;
}

TWakeRoute LanWakeRoute(const QString& ipAddress, const QString& subnetMask,
                        const std::vector<TNetInterface>& interfaces)
{
    TWakeRoute route;
    quint32 address = 0;
    if (ParseIPv4(ipAddress, &address)) {
        if (const auto holder = InterfaceHolding(address, interfaces)) {
            route.Destination = IPv4ToText(holder->Broadcast);
            route.InterfaceIndex = holder->Index;
            route.SourceAddress = holder->Address;
            return route;
        }
    }
    route.Destination = SubnetBroadcast(ipAddress, subnetMask);
    if (route.Destination.isEmpty())
        route.Destination = QStringLiteral("255.255.255.255");
    quint32 destination = 0;
    if (!ParseIPv4(route.Destination, &destination))
        return route;
    // A subnet broadcast worked out from a stored address and mask can be one of this machine's own
    // addresses (a /32 mask, say); a wake-up sent there never leaves the machine.
    for (const TNetInterface& entry : interfaces) {
        if (entry.Address == destination) {
            route.Destination = IPv4ToText(INADDR_BROADCAST);
            return route;
        }
    }
    if (destination != INADDR_BROADCAST) {
        route.OffLink = true;
        for (const TNetInterface& entry : interfaces)
            if ((entry.CanBroadcast() && entry.Broadcast == destination) || entry.Holds(destination))
                route.OffLink = false;
    }
    return route;
}

TWakeRoute LanWakeRoute(const QString& ipAddress, const QString& subnetMask)
{
    return LanWakeRoute(ipAddress, subnetMask, UpIPv4Interfaces());
}

qint64 SendAlongRoute(int socket, const TWakeRoute& route, quint16 port, const QByteArray& payload)
{
    quint32 destination = 0;
    if (!ParseIPv4(route.Destination, &destination)) {
        errno = EINVAL;
        return -1;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(destination);

    iovec data{const_cast<char*>(payload.constData()), static_cast<size_t>(payload.size())};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof(target);
    message.msg_iov = &data;
    message.msg_iovlen = 1;

    // IP_PKTINFO on a send picks the outgoing interface and source address for this one datagram, with no
    // privilege and without binding the socket (SO_BINDTODEVICE would need CAP_NET_RAW).
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (route.InterfaceIndex > 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = route.InterfaceIndex;
        info.ipi_spec_dst.s_addr = htonl(route.SourceAddress);
        std::memcpy(CMSG_DATA(header), &info, sizeof(info));
    }
    return ::sendmsg(socket, &message, MSG_NOSIGNAL);
}
