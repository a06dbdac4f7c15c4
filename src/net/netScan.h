// Network scans: TNetScan and the networks and hosts it works on.
#pragma once

#include "core/worker.h"

#include <functional>
#include <memory>
#include <QString>
#include <QtGlobal>
#include <vector>

// An IPv4 network, as "10.1.2.0/24". Addresses in host byte order.
struct TScanNetwork
{
    quint32 Address = 0; // the network's own address: no host bits set
    int Prefix = 24;

    quint32 Mask() const { return Prefix == 0 ? 0 : ~quint32(0) << (32 - Prefix); }
    // The addresses a sweep visits: all of the network but its network and broadcast addresses (a /31
    // or /32 has none of those).
    quint32 FirstHost() const { return Prefix >= 31 ? Address : Address + 1; }
    quint32 LastHost() const { return Prefix >= 31 ? (Address | ~Mask()) : (Address | ~Mask()) - 1; }
    int HostCount() const { return int(LastHost() - FirstHost() + 1); }
    bool Holds(quint32 address) const { return (address & Mask()) == Address; }
    QString Text() const;
};

// The widest network a scan takes: 65,534 hosts.
constexpr int WidestScanPrefix = 16;

// Reads "10.1.2.0/24"; an address with host bits ("10.1.2.7/24") stands for its network. False, with
// the reason, for anything else and for networks wider than a /16.
bool ParseScanNetwork(const QString& text, TScanNetwork* network, QString* error = nullptr);

// The networks of this machine's up interfaces that can broadcast (not loopback), narrowed to the /16
// around the interface's address where wider, without repeats, in the kernel's order.
std::vector<TScanNetwork> LocalScanNetworks();

// One host that answered.
struct TScanHost
{
    quint32 Address = 0;
    QString Mac; // six lower-case hexadecimal pairs joined by hyphens; empty when none was learnt
    // NetBIOS name, else mDNS name, else reverse DNS name, without control characters and backslashes;
    // empty when none
    QString Name;
    QString Vendor; // of the MAC's first three bytes; empty when unknown
    // How many hosts of the scan answered with this host's MAC, when SharedMacHosts or more: a router
    // answering ARP for addresses it forwards to (proxy ARP), not hosts of their own; else 0.
    int SharedMac = 0;
};

// Hosts with one MAC from which a scan takes them for one device answering for others.
constexpr int SharedMacHosts = 5;

struct TScanOptions
{
    static constexpr int DefaultRate = 500; // probes a second
    static constexpr int MaxRate = 10000;

    int Rate = DefaultRate;
    // Ask Avahi for mDNS names when its daemon runs.
    bool Mdns = true;
    // May sweep a network this machine is on with its own ARP requests (when a packet socket can be
    // opened at all); false leaves the resolution to the kernel.
    bool PacketSocket = true;
};

// The options from the user's settings ("scan/rate", "scan/mdns" in sablewick.conf under
// $XDG_CONFIG_HOME/sablewick); the rate clamped to 1..MaxRate.
TScanOptions ReadScanSettings();

// How a scan finds the hosts of its network.
enum TScanMethod
{
    smArpPacket, // on-link: ARP requests of its own through a packet socket
    smArpKernel, // on-link: the kernel resolves each address, paced under its neighbour table's limit
    smEcho,      // off-link: echo requests through the router
};

// Sweeps one network on the worker engine and learns what it can of every host that answers: MAC
// (ARP reply or neighbour table; off-link only from a NetBIOS unit ID), name and vendor. Every packet
// goes to an address of the network, never more of them a second than the rate (sweep probes and
// NetBIOS questions share one pace); only reverse lookups go to the system's resolvers.
//
// Created idle; the creator sets the completion (and progress) handler and calls Start. AskToStop
// ends the sweep at once; the completion still comes, with what was found until then.
class TNetScan : public TWorkerThread
{
    Q_OBJECT

public:
    // Main thread, in order of the sweep: probes sent so far, of how many, and hosts found.
    using TProgress = std::function<void(int sent, int total, int found)>;

    TNetScan(const TScanNetwork& network, const TScanOptions& options);
    ~TNetScan() override;

    void SetOnProgress(TProgress handler);
    const TScanNetwork& Network() const { return FNetwork; }

    // Known once started (main thread).
    TScanMethod Method() const;
    // The mask of the network the hosts are on: the local interface's when on-link, else the scanned
    // network's.
    quint32 HostMask() const;

    // In the completion handler: the hosts found, by address; and why nothing could be sent, if so (no
    // socket, or no route to the network).
    std::vector<TScanHost> Hosts() const;
    QString Error() const;

protected:
    void Launch() override;

private:
    struct TState;
    TScanNetwork FNetwork;
    TProgress FProgress;
    std::shared_ptr<TState> FState;
};
