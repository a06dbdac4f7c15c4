#include "net/netScan.h"

#include "core/mainThread.h"
#include "core/plainText.h"
#include "core/rawCapability.h"
#include "core/texts.h"
#include "core/userSettings.h"
#include "net/checkSettings.h"
#include "net/hostResolve.h"
#include "net/icmpClient.h"
#include "net/icmpListener.h"
#include "net/icmpPacket.h"
#include "net/interfaces.h"
#include "net/mdnsNames.h"
#include "net/neighbours.h"
#include "net/netbiosPacket.h"
#include "net/ouiVendors.h"
#include "net/tcpProbe.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cstring>
#include <deque>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/neighbour.h>
#include <map>
#include <mutex>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace {

using TClock = TWorkerEngine::TClock;
using namespace std::chrono_literals;

// How long answers are waited for after the last probe: ARP answers come within milliseconds on any
// LAN; echo answers cross routers.
constexpr auto ArpGrace = 1000ms;
constexpr auto EchoGrace = 2000ms;
// An address whose echo request goes unanswered this long gets the TCP probes (a host that drops echo
// requests still answers a connection, if only with a refusal).
constexpr auto EchoBeforeTcp = 1000ms;
constexpr int TcpProbeTimeoutMs = 2000;
// The kernel gives up on an address after three requests a second apart.
constexpr auto KernelResolveLimit = 3500ms;
constexpr auto NeighbourPoll = 100ms;
constexpr auto NetBiosWait = 1000ms;
constexpr auto ProgressInterval = 100ms;
constexpr auto MdnsWait = 2000ms;
// Sends a task makes at most, so answers are read between the tasks of a fast sweep.
constexpr int SendBatch = 128;
// Credit a late task may catch up on: the pace never runs ahead by more than this.
constexpr auto MaxCatchUp = 1ms;
constexpr quint16 DiscardPort = 9;
// Probe sequence numbers of scans, apart from the small numbers the computers' checks use.
std::atomic<quint16> nextEchoSequence{0xF000};

int NeighbourTableLimit()
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh3"));
    bool ok = false;
    const int limit = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt(&ok) : 0;
    return ok && limit > 0 ? limit : 1024;
}

QString HardwareText(const quint8* bytes)
{
    NetBios::TUnitId id{};
    std::memcpy(id.data(), bytes, id.size());
    return NetBios::IsUnicastUnitId(id) ? NetBios::UnitIdText(id) : QString();
}

// ARP request or answer for IPv4 over Ethernet, without the Ethernet header (the packet socket adds it).
struct [[gnu::packed]] TArpPacket
{
    quint16 HardwareType;
    quint16 ProtocolType;
    quint8 HardwareLength;
    quint8 ProtocolLength;
    quint16 Operation;
    quint8 SenderHardware[6];
    quint32 SenderAddress;
    quint8 TargetHardware[6];
    quint32 TargetAddress;
};
static_assert(sizeof(TArpPacket) == 28);

// How sure a name is: a node's own NetBIOS name beats its mDNS name, which beats what DNS says of it.
enum TNameRank
{
    nrNone,
    nrDns,
    nrMdns,
    nrNetBios
};

} // namespace

QString TScanNetwork::Text() const
{
    return QStringLiteral("%1/%2").arg(IPv4ToText(Address)).arg(Prefix);
}

bool ParseScanNetwork(const QString& text, TScanNetwork* network, QString* error)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('/'));
    bool prefixOk = false;
    const int prefix = parts.size() == 2 ? parts[1].toInt(&prefixOk) : -1;
    in_addr address{};
    if (parts.size() != 2 || !prefixOk || prefix < 0 || prefix > 32 ||
        inet_pton(AF_INET, parts[0].toLatin1().constData(), &address) != 1) {
        if (error)
            *error = Res::Str(Res::ScanBadNetwork).arg(text);
        return false;
    }
    if (prefix < WidestScanPrefix) {
        if (error)
            *error = Res::Str(Res::ScanNetworkTooWide).arg(text);
        return false;
    }
    TScanNetwork result;
    result.Prefix = prefix;
    result.Address = ntohl(address.s_addr) & result.Mask();
    *network = result;
    return true;
}

std::vector<TScanNetwork> LocalScanNetworks()
{
    std::vector<TScanNetwork> networks;
    for (const TNetInterface& entry : UpIPv4Interfaces()) {
        if (!entry.CanBroadcast() || (entry.Flags & IFF_LOOPBACK) || entry.Netmask == 0)
            continue;
        TScanNetwork network;
        network.Prefix = std::max(WidestScanPrefix, 32 - std::countr_zero(entry.Netmask));
        network.Address = entry.Address & network.Mask();
        const bool seen = std::any_of(networks.begin(), networks.end(), [&](const TScanNetwork& n) {
            return n.Address == network.Address && n.Prefix == network.Prefix;
        });
        if (!seen)
            networks.push_back(network);
    }
    return networks;
}

TScanOptions ReadScanSettings()
{
    QSettings settings(UserSettingsFile(), QSettings::IniFormat);
    TScanOptions options;
    bool ok = false;
    const int rate = settings.value(QStringLiteral("scan/rate")).toInt(&ok);
    if (ok)
        options.Rate = std::clamp(rate, 1, TScanOptions::MaxRate);
    options.Mdns = settings.value(QStringLiteral("scan/mdns"), true).toBool();
    return options;
}

struct TNetScan::TState : std::enable_shared_from_this<TNetScan::TState>
{
    TScanNetwork Network;
    TScanOptions Options;
    TNetScan* Worker = nullptr; // until Finish

    // Read by the main thread.
    mutable std::mutex Lock;
    TScanMethod Method = smEcho;
    quint32 HostMask = 0;
    std::vector<TScanHost> Result;
    QString Error;

    // Engine thread only from here on.
    TNetInterface Interface;
    std::vector<quint32> Targets;
    size_t NextTarget = 0;
    // Questions to hosts found (or silent) so far; each returns how many packets it sent.
    std::deque<std::function<int()>> FollowUps;
    std::vector<quint16> TcpPorts;
    int EchoWaits = 0;
    std::map<quint32, std::unique_ptr<TTcpProbe>> TcpProbes;
    TClock::duration Interval{};
    TClock::time_point NextSend;
    std::map<quint32, TScanHost> Found;
    std::unordered_map<quint32, int> NameRanks;
    int ArpSocket = -1;
    int ProbeSocket = -1;   // the kernel's resolution is started with an empty datagram
    int NetBiosSocket = -1; // node status questions and answers
    TIcmpListener* Listener = nullptr;
    quint16 EchoSequence = 0;
    std::unique_ptr<TIcmpListener::TWaiter> EchoWaiter;
    std::unordered_map<quint16, quint32> NetBiosAsked; // transaction -> address
    quint16 NextTransaction = 1;
    int PendingLookups = 0;
    std::map<quint32, TClock::time_point> InFlight; // kernel resolution: address -> when asked
    int TableLimit = 1024;
    int Window = 8;
    TClock::time_point LastPoll;
    bool SweepDone = false;
    TClock::time_point SweepEnd;
    bool MdnsAsked = false;
    bool VendorsLoaded = false;
    bool Ended = false;
    TClock::time_point LastProgress;
    TWorkerEngine::TTimerId Timer = 0;
    bool TimerSet = false;

    TWorkerEngine& Engine() { return TWorkerEngine::Instance(); }

    void Begin()
    {
        const std::vector<TNetInterface> interfaces = UpIPv4Interfaces();
        const auto local = InterfaceHolding(Network.FirstHost(), interfaces);
        TScanMethod method = smEcho;
        quint32 hostMask = Network.Mask();
        if (local && local->Holds(Network.LastHost())) {
            Interface = *local;
            hostMask = std::min(local->Netmask, Network.Mask());
            method = Options.PacketSocket && OpenArpSocket() ? smArpPacket : smArpKernel;
        }
        QString error;
        if (method == smArpKernel) {
            ProbeSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (ProbeSocket < 0)
                error = Res::Str(Res::ScanNoSocket).arg(QString::fromLocal8Bit(std::strerror(errno)));
            TableLimit = NeighbourTableLimit();
        } else if (method == smEcho) {
            // Without a route every probe fails at once, and the network would look empty.
            if (!Routed(Network.FirstHost()))
                error = Res::Str(Res::ScanNoRoute).arg(Network.Text());
            // Without an ICMP socket the TCP probes still find hosts, one echo-wait later.
            else if (Listener = TIcmpListener::Acquire(); !Listener && TcpProbePorts().empty())
                error = Res::Str(Res::ScanNoSocket).arg(Res::Str(Res::PingCannotAllocate));
        }
        {
            std::lock_guard<std::mutex> guard(Lock);
            Method = method;
            HostMask = hostMask;
            Error = error;
        }
        if (!error.isEmpty()) {
            End();
            return;
        }
        OpenNetBiosSocket();
        if (method == smEcho)
            TcpPorts = TcpProbePorts();
        if (Listener) {
            EchoSequence = nextEchoSequence++;
            if (EchoSequence < 0xF000)
                EchoSequence = nextEchoSequence = 0xF000;
            auto self = shared_from_this();
            EchoWaiter = std::make_unique<TIcmpListener::TWaiter>(
                *Listener, EchoSequence,
                [self](const TIcmpListener::TEvent& event) { self->EchoEvent(event); });
        }
        // This machine's own addresses get no probe: it never answers itself, and it is never woken.
        std::vector<quint32> own;
        for (const TNetInterface& entry : interfaces)
            own.push_back(entry.Address);
        for (quint32 address = Network.FirstHost();; ++address) {
            if (std::find(own.begin(), own.end(), address) == own.end())
                Targets.push_back(address);
            if (address == Network.LastHost())
                break;
        }
        Interval = std::chrono::duration_cast<TClock::duration>(std::chrono::seconds(1)) / Options.Rate;
        NextSend = TClock::now();
        auto self = shared_from_this();
        RunBlocking([self] {
            VendorOfMac(QString()); // reads the list once, off the engine
            TWorkerEngine::Instance().Post([self] {
                self->VendorsLoaded = true;
                self->Tick();
            });
        });
        Tick();
    }

    // Whether the kernel has a route to the address: connecting a datagram socket asks it, and sends
    // nothing.
    static bool Routed(quint32 address)
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return true; // the sweep will say why it cannot send
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(DiscardPort);
        to.sin_addr.s_addr = htonl(address);
        const bool unreachable = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
                                 (errno == ENETUNREACH || errno == EHOSTUNREACH);
        ::close(fd);
        return !unreachable;
    }

    bool OpenArpSocket()
    {
        int fd = -1;
        {
            // The package's capability, effective only while the socket is opened.
            const TRawCapabilityScope raised;
            fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ARP));
        }
        if (fd < 0)
            return false;
        sockaddr_ll local{};
        local.sll_family = AF_PACKET;
        local.sll_protocol = htons(ETH_P_ARP);
        local.sll_ifindex = Interface.Index;
        if (Interface.Hardware.size() != 6 ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd);
            return false;
        }
        ArpSocket = fd;
        auto self = shared_from_this();
        Engine().Watch(fd, [self](short) { self->ReadArp(); });
        return true;
    }

    void OpenNetBiosSocket()
    {
        NetBiosSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (NetBiosSocket < 0)
            return; // names then come from DNS (and mDNS) only
        auto self = shared_from_this();
        Engine().Watch(NetBiosSocket, [self](short) { self->ReadNetBios(); });
    }

    // One engine task: sends what the pace allows, reads the neighbour table when resolving through
    // the kernel, reports progress and ends the scan when nothing is left to wait for.
    void Tick()
    {
        TimerSet = false;
        if (Ended)
            return;
        if (Worker->StopRequested()) {
            End();
            return;
        }
        const auto now = TClock::now();
        if (Method == smArpKernel && now - LastPoll >= NeighbourPoll)
            PollNeighbours(now);
        NextSend = std::max(NextSend, now - std::max<TClock::duration>(Interval, MaxCatchUp));
        for (int sent = 0; sent < SendBatch && NextSend <= now; ++sent) {
            if (!FollowUps.empty()) {
                auto next = std::move(FollowUps.front());
                FollowUps.pop_front();
                NextSend += Interval * std::max(1, next());
                continue;
            }
            if (NextTarget < Targets.size() && (Method != smArpKernel || int(InFlight.size()) < Window)) {
                if (!SendProbe(Targets[NextTarget]))
                    break; // the socket's queue is full: the same address again on the next task
                ++NextTarget;
            } else {
                break;
            }
            NextSend += Interval;
        }
        if (!SweepDone && NextTarget == Targets.size()) {
            SweepDone = true;
            SweepEnd = now + (Method == smArpPacket ? ArpGrace : Method == smEcho ? EchoGrace : 0ms);
        }
        if (SweepDone && now >= SweepEnd && InFlight.empty() && !MdnsAsked)
            AskMdns();
        Progress(now, false);
        if (SweepDone && now >= SweepEnd && InFlight.empty() && FollowUps.empty() && NetBiosAsked.empty() &&
            PendingLookups == 0 && VendorsLoaded && MdnsAsked && EchoWaits == 0 && TcpProbes.empty()) {
            End();
            return;
        }
        Schedule(now);
    }

    void Schedule(TClock::time_point now)
    {
        if (TimerSet)
            Engine().Cancel(Timer);
        TClock::time_point when = now + 50ms;
        const bool canSend = !FollowUps.empty() || (NextTarget < Targets.size() &&
                                                    (Method != smArpKernel || int(InFlight.size()) < Window));
        if (canSend)
            when = std::min(when, std::max(NextSend, now));
        if (Method == smArpKernel && !InFlight.empty())
            when = std::min(when, LastPoll + NeighbourPoll);
        if (SweepDone && now < SweepEnd)
            when = std::min(when, SweepEnd);
        auto self = shared_from_this();
        Timer = Engine().At(when, [self] { self->Tick(); });
        TimerSet = true;
    }

    // Soon rather than at the next poll: an answer brought follow-up questions.
    void Wake()
    {
        if (Ended)
            return;
        Schedule(TClock::now());
    }

    bool SendProbe(quint32 address)
    {
        switch (Method) {
        case smArpPacket: {
            TArpPacket request{};
            request.HardwareType = htons(ARPHRD_ETHER);
            request.ProtocolType = htons(ETH_P_IP);
            request.HardwareLength = 6;
            request.ProtocolLength = 4;
            request.Operation = htons(ARPOP_REQUEST);
            std::memcpy(request.SenderHardware, Interface.Hardware.constData(), 6);
            request.SenderAddress = htonl(Interface.Address);
            request.TargetAddress = htonl(address);
            sockaddr_ll to{};
            to.sll_family = AF_PACKET;
            to.sll_protocol = htons(ETH_P_ARP);
            to.sll_ifindex = Interface.Index;
            to.sll_halen = 6;
            std::memset(to.sll_addr, 0xFF, 6);
            const ssize_t sent =
                ::sendto(ArpSocket, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            return sent >= 0 || (errno != EAGAIN && errno != ENOBUFS);
        }
        case smArpKernel: {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(DiscardPort);
            to.sin_addr.s_addr = htonl(address);
            // Sent or not, the kernel now resolves the address; the table tells how that went.
            ::sendto(ProbeSocket, "", 0, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
            InFlight.emplace(address, TClock::now());
            return true;
        }
        case smEcho: {
            if (!Listener) {
                auto self = shared_from_this();
                FollowUps.push_back([self, address] { return self->ProbeTcp(address); });
                return true;
            }
            const QByteArray request = BuildEchoRequest(Listener->Identifier(), EchoSequence, TickCount());
            const int error = Listener->Send(request, address, TIcmpClient::DefaultTTL);
            if (error == EAGAIN || error == ENOBUFS)
                return false;
            if (!TcpPorts.empty()) {
                ++EchoWaits;
                auto self = shared_from_this();
                Engine().At(TClock::now() + EchoBeforeTcp, [self, address] {
                    --self->EchoWaits;
                    if (!self->Ended && !self->Found.count(address))
                        self->FollowUps.push_back([self, address] { return self->ProbeTcp(address); });
                    self->Wake();
                });
            }
            return true;
        }
        }
        return true;
    }

    int ProbeTcp(quint32 address)
    {
        auto probe = std::make_unique<TTcpProbe>();
        auto self = shared_from_this();
        probe->Start(address, TcpPorts, TcpProbeTimeoutMs, [self, address](const TTcpProbeResult& result) {
            if (result.Up)
                self->Add(address, QString());
            // Not from within the probe's own call.
            self->Engine().Post([self, address] {
                self->TcpProbes.erase(address);
                self->Wake();
            });
        });
        TcpProbes[address] = std::move(probe);
        return int(TcpPorts.size());
    }

    void ReadArp()
    {
        if (Ended)
            return;
        TArpPacket answer{};
        for (;;) {
            const ssize_t got = ::recv(ArpSocket, &answer, sizeof answer, 0);
            if (got < 0)
                break;
            if (got < ssize_t(sizeof answer) || ntohs(answer.HardwareType) != ARPHRD_ETHER ||
                ntohs(answer.ProtocolType) != ETH_P_IP || answer.HardwareLength != 6 ||
                answer.ProtocolLength != 4 || ntohs(answer.Operation) != ARPOP_REPLY ||
                ntohl(answer.TargetAddress) != Interface.Address)
                continue;
            const quint32 from = ntohl(answer.SenderAddress);
            if (Network.Holds(from))
                Add(from, HardwareText(answer.SenderHardware));
        }
        Wake();
    }

    void PollNeighbours(TClock::time_point now)
    {
        LastPoll = now;
        std::vector<TNeighbourEntry> entries;
        if (!ReadNeighbourTable(entries)) {
            // Without the table nothing can be learnt: every address waits out its limit.
            entries.clear();
        }
        std::unordered_map<quint32, const TNeighbourEntry*> byAddress;
        for (const TNeighbourEntry& entry : entries)
            if (entry.InterfaceIndex == Interface.Index)
                byAddress.emplace(entry.Address, &entry);
        for (auto it = InFlight.begin(); it != InFlight.end();) {
            const auto found = byAddress.find(it->first);
            if (found != byAddress.end() && !found->second->Mac.isEmpty()) {
                Add(it->first, found->second->Mac);
                it = InFlight.erase(it);
            } else if ((found != byAddress.end() && (found->second->State & NUD_FAILED)) ||
                       now - it->second >= KernelResolveLimit) {
                it = InFlight.erase(it);
            } else {
                ++it;
            }
        }
        // Unresolved addresses of this sweep stay well below the table's hard limit, together with
        // everything else the table holds (it is shared by every namespace of the machine).
        const int others = std::max(0, int(entries.size()) - int(InFlight.size()));
        Window = std::clamp(TableLimit / 2 - others, 8, std::max(8, TableLimit / 2));
    }

    void EchoEvent(const TIcmpListener::TEvent& event)
    {
        if (Ended || event.Error != 0 || event.Answer.Kind != TIcmpAnswer::Answer ||
            event.Answer.Outcome != 0 || event.Answer.Type != 0)
            return;
        if (Network.Holds(event.Answer.From)) {
            Add(event.Answer.From, QString());
            Wake();
        }
    }

    void Add(quint32 address, const QString& mac)
    {
        auto found = Found.find(address);
        if (found != Found.end()) {
            if (found->second.Mac.isEmpty())
                found->second.Mac = mac;
            return;
        }
        TScanHost host;
        host.Address = address;
        host.Mac = mac;
        Found.emplace(address, host);
        auto self = shared_from_this();
        // The node status question goes to the host: paced like the sweep. The reverse lookup goes to the
        // system's resolvers, not to the network being scanned.
        if (NetBiosSocket >= 0)
            FollowUps.push_back([self, address] {
                self->AskNetBios(address);
                return 1;
            });
        AskDns(address);
    }

    void AskNetBios(quint32 address)
    {
        quint16 id = NextTransaction++;
        if (id == 0)
            id = NextTransaction++;
        const QByteArray request = NetBios::NodeStatusRequest(id, NetBios::NameOf(QString()));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(NetBios::NameServicePort);
        to.sin_addr.s_addr = htonl(address);
        if (::sendto(NetBiosSocket, request.constData(), size_t(request.size()), MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
            return;
        NetBiosAsked[id] = address;
        auto self = shared_from_this();
        Engine().At(TClock::now() + NetBiosWait, [self, id] {
            if (self->NetBiosAsked.erase(id))
                self->Wake();
        });
    }

    void ReadNetBios()
    {
        if (Ended)
            return;
        QByteArray datagram(65536, Qt::Uninitialized);
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(NetBiosSocket, datagram.data(), size_t(datagram.size()), 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0)
                break;
            if (got < 2 || fromLength < sizeof from)
                continue;
            const auto id = quint16((quint8(datagram[0]) << 8) | quint8(datagram[1]));
            const auto asked = NetBiosAsked.find(id);
            // Only the node asked answers for itself.
            if (asked == NetBiosAsked.end() || asked->second != ntohl(from.sin_addr.s_addr) ||
                ntohs(from.sin_port) != NetBios::NameServicePort)
                continue;
            NetBios::TNodeStatus status;
            if (!NetBios::ParseNodeStatus(datagram.left(got), id, &status))
                continue;
            const quint32 address = asked->second;
            NetBiosAsked.erase(asked);
            // Samba answers with zeros: the unit ID then says nothing, and the MAC stays as learnt.
            Add(address,
                NetBios::IsUnicastUnitId(status.UnitId) ? NetBios::UnitIdText(status.UnitId) : QString());
            SetName(address, status.Name, nrNetBios);
        }
        Wake();
    }

    void AskDns(quint32 address)
    {
        ++PendingLookups;
        auto self = shared_from_this();
        RunBlocking([self, address] {
            sockaddr_in socketAddress{};
            socketAddress.sin_family = AF_INET;
            socketAddress.sin_addr.s_addr = htonl(address);
            char host[NI_MAXHOST] = {};
            QString name;
            if (!self->Ended &&
                ::getnameinfo(reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress, host,
                              sizeof host, nullptr, 0, NI_NAMEREQD) == 0)
                name = QString::fromUtf8(host);
            TWorkerEngine::Instance().Post([self, address, name] {
                --self->PendingLookups;
                self->SetName(address, name, nrDns);
                self->Wake();
            });
        });
    }

    void AskMdns()
    {
        MdnsAsked = true;
        if (!Options.Mdns || Found.empty())
            return;
        std::vector<quint32> addresses;
        for (const auto& [address, host] : Found)
            addresses.push_back(address);
        ++PendingLookups;
        auto self = shared_from_this();
        RunBlocking([self, addresses] {
            const auto names = MdnsNamesOf(addresses, int(std::chrono::milliseconds(MdnsWait).count()));
            TWorkerEngine::Instance().Post([self, names] {
                --self->PendingLookups;
                for (const auto& [address, name] : names)
                    self->SetName(address, name, nrMdns);
                self->Wake();
            });
        });
    }

    void SetName(quint32 address, const QString& text, TNameRank rank)
    {
        // Whoever answers chooses the name: it may be made to split output lines or steer a terminal.
        const QString name = CleanNetworkName(text);
        auto found = Found.find(address);
        if (name.isEmpty() || found == Found.end() || NameRanks[address] >= rank)
            return;
        NameRanks[address] = rank;
        found->second.Name = name;
    }

    void Progress(TClock::time_point now, bool last)
    {
        if (!last && now - LastProgress < ProgressInterval)
            return;
        LastProgress = now;
        const int sent = int(NextTarget), total = int(Targets.size()), found = int(Found.size());
        RunOnMainThread([worker = QPointer<TNetScan>(Worker), sent, total, found] {
            if (worker && worker->FProgress)
                worker->FProgress(sent, total, found);
        });
    }

    void End()
    {
        if (Ended)
            return;
        Ended = true;
        if (TimerSet)
            Engine().Cancel(Timer);
        EchoWaiter.reset();
        TcpProbes.clear();
        for (int* fd : {&ArpSocket, &NetBiosSocket, &ProbeSocket}) {
            if (*fd < 0)
                continue;
            if (fd != &ProbeSocket)
                Engine().Unwatch(*fd);
            ::close(*fd);
            *fd = -1;
        }
        std::vector<TScanHost> hosts;
        hosts.reserve(Found.size());
        std::unordered_map<QString, int> macHosts;
        for (const auto& [address, host] : Found)
            if (!host.Mac.isEmpty())
                ++macHosts[host.Mac];
        for (auto& [address, host] : Found) {
            // The list is read by now, unless the scan was stopped first.
            if (VendorsLoaded)
                host.Vendor = VendorOfMac(host.Mac);
            if (const int shared = host.Mac.isEmpty() ? 0 : macHosts[host.Mac]; shared >= SharedMacHosts)
                host.SharedMac = shared;
            hosts.push_back(host);
        }
        Progress(TClock::now(), true);
        {
            std::lock_guard<std::mutex> guard(Lock);
            Result = std::move(hosts);
        }
        TNetScan* worker = Worker;
        Worker = nullptr;
        worker->Finish();
    }
};

TNetScan::TNetScan(const TScanNetwork& network, const TScanOptions& options)
    : FNetwork(network), FState(std::make_shared<TState>())
{
    FState->Network = network;
    FState->Options = options;
    FState->Options.Rate = std::clamp(options.Rate, 1, TScanOptions::MaxRate);
    FState->Worker = this;
}

TNetScan::~TNetScan() = default;

void TNetScan::SetOnProgress(TProgress handler)
{
    FProgress = std::move(handler);
}

TScanMethod TNetScan::Method() const
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->Method;
}

quint32 TNetScan::HostMask() const
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->HostMask;
}

std::vector<TScanHost> TNetScan::Hosts() const
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->Result;
}

QString TNetScan::Error() const
{
    std::lock_guard<std::mutex> guard(FState->Lock);
    return FState->Error;
}

void TNetScan::Launch()
{
    TWorkerEngine::Instance().Post([state = FState] { state->Begin(); });
}
