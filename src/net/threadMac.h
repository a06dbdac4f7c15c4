// MAC detection, TMACThread; worker units are named thread*, their classes T*Thread.
#pragma once

#include "core/worker.h"
#include "net/netbiosPacket.h"

#include <functional>
#include <QString>
#include <QStringList>
#include <vector>

// Collects the MAC addresses of the named computer from its NetBIOS adapter status, one entry per LAN
// adapter that gets an answer, in adapter order, duplicates kept; for this computer (empty name) the
// LAN adapters' own hardware addresses. Each entry is six lower-case hexadecimal pairs joined by
// hyphens; only unicast addresses are listed. Returns the number of LAN adapters enumerated; when
// the adapters cannot be enumerated and the name is empty, the hardware addresses of the local
// Ethernet-like interfaces are listed instead and the count is the number of interfaces read; -1 when
// neither could be read. Blocks for the time of the queries; never throws.
int DetectMACAddresses(const QString& name, QStringList& list);

// Whether the name or address is this computer's own: its host name, a loopback address or an address
// of one of its interfaces; resolve also looks the name up with the system's resolver (blocks).
bool IsThisComputer(const QString& name, bool resolve);

// The address of a NetBIOS name, asked by broadcast on each LAN adapter in turn (the first answer
// counts): for computers that only their own name service knows. False for a name no node can
// register (empty, over 15 characters, with a dot). Blocks for up to a few seconds.
bool ResolveNetBiosName(const QString& name, quint32* addressHostOrder);

// An IPv4 interface that NetBIOS queries go out through: up, not loopback, with a broadcast address.
// Addresses in host byte order.
struct TLanAdapter
{
    QString Name;
    quint32 Address = 0;
    quint32 Broadcast = 0;
    QByteArray Hardware; // link-layer address; empty when the kernel reports none
};

// Where DetectMACAddresses takes its adapters and its local fall-back from. Tests replace them (an
// enumeration that fails, a fall-back that records being called); an empty member means the real one.
struct TMacDetectionSources
{
    // False when the adapters cannot be enumerated.
    std::function<bool(std::vector<TLanAdapter>& adapters)> EnumerateAdapters;
    // Appends the local Ethernet addresses; returns the number of interfaces read, -1 when unreadable.
    std::function<int(QStringList& list)> LocalInterfaces;
};
void SetMacDetectionSources(TMacDetectionSources sources);

// The real sources.
bool EnumerateLanAdapters(std::vector<TLanAdapter>& adapters);
int ReadLocalEthernetAddresses(QStringList& list);
// The hardware address of one of this computer's adapters; false when it has no unicast Ethernet one.
bool ReadAdapterHardwareAddress(const TLanAdapter& adapter, NetBios::TUnitId* address);

// Runs DetectMACAddresses for one computer name on a worker thread. Created without running: the creator
// sets the completion handler and starts it; the handler reads Result(); the worker then frees itself.
class TMACThread : public TWorkerThread
{
    Q_OBJECT

public:
    // fallbackAddress: an IPv4 address to try in the neighbour table when the name yields nothing.
    explicit TMACThread(const QString& computerName, const QString& fallbackAddress = {});

    // Read on the main thread in the completion handler, after the run.
    const QStringList& Result() const { return FResult; }

protected:
    void Execute() override;

private:
    QString FComputerName;
    QString FFallbackAddress;
    QStringList FResult;
};
