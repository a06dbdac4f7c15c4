#pragma once

#include <optional>
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

// This machine's IPv4 interfaces as the kernel reports them. Addresses in host byte order.
struct TNetInterface
{
    QString Name;
    int Index = 0;
    quint32 Address = 0;
    quint32 Netmask = 0;
    quint32 Broadcast = 0; // 0 when the interface has none (loopback, point-to-point)
    QByteArray Hardware;   // link-layer address; empty when the kernel reports none
    unsigned Flags = 0;    // IFF_* flags

    bool CanBroadcast() const;
    // True when the address lies inside this interface's subnet.
    bool Holds(quint32 address) const;
};

// The IPv4 interfaces that are up, in the kernel's order; empty, with ok false, when they cannot be read.
std::vector<TNetInterface> UpIPv4Interfaces(bool* ok = nullptr);

// The up interface that can broadcast and whose subnet holds the address (the longest mask wins when
// subnets overlap); none when the address is off every local network.
std::optional<TNetInterface> InterfaceHolding(quint32 address, const std::vector<TNetInterface>& interfaces);

// Where a local-network wake-up goes.
struct TWakeRoute
{
    QString Destination;    // dotted text
    int InterfaceIndex = 0; // the interface to send out of; 0 lets the routing table choose
    quint32 SourceAddress = 0;
    // The destination is not a broadcast address of any local network (nor the limited broadcast), so
    // the packet leaves through a router and a sleeping computer behind it is only reached when that
    // network forwards directed broadcasts.
    bool OffLink = false;
};

// The destination of a local-network wake-up: the broadcast address of the interface whose subnet holds
// the computer's address, sent out of that interface; otherwise the stored mask's subnet broadcast, and
// the limited broadcast when the address or mask is not a dotted address.
TWakeRoute LanWakeRoute(const QString& ipAddress, const QString& subnetMask,
                        const std::vector<TNetInterface>& interfaces);
// The same against this machine's interfaces, read again only when the kernel has announced a change of
// them since the last reading, so a wake of thousands of computers does not read them once per packet.
// Any thread.
TWakeRoute LanWakeRoute(const QString& ipAddress, const QString& subnetMask);

// Sends one datagram from the socket to the route's destination and port, out of the route's interface
// when it names one (no privilege needed). Returns what sendmsg returns; errno tells a failure.
qint64 SendAlongRoute(int socket, const TWakeRoute& route, quint16 port, const QByteArray& payload);
