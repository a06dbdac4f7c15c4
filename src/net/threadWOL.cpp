#include "net/threadWOL.h"

#include "core/texts.h"
#include "net/hostResolve.h"
#include "net/utilsNetwork.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

TWOLThread::TWOLThread(std::optional<TWakeTarget> target, int wakeDelay)
    : WakeDelay(wakeDelay), FTarget(std::move(target))
{
    FHasClient = FTarget.has_value();
    if (!FHasClient)
        AskToStop();
}

TWOLThread::~TWOLThread() = default;

namespace {

// The one UDP socket every sender sends from, opened at the first send with broadcasting permitted
// (also for a single host, so an Internet address that happens to be a broadcast address is still
// reached). Engine thread only; a failed open is tried again at the next send.
int WakeSocket()
{
    static int fd = -1;
    if (fd >= 0)
        return fd;
    const int made = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (made < 0)
        return -1;
    const int on = 1;
    if (::setsockopt(made, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0) {
        ::close(made);
        return -1;
    }
    fd = made;
    return fd;
}

} // namespace

std::optional<QByteArray> TWOLThread::BuildMagicPacket(const QString& mac)
{
    const std::optional<QByteArray> address = MacBytes(mac);
    if (!address)
        return std::nullopt;
    QByteArray packet(6, '\xFF');
    packet.reserve(6 + 16 * 6);
    for (int i = 0; i < 16; ++i)
        packet.append(*address);
    return packet;
}

QString TWOLThread::DestinationHost(const TWakeTarget& target)
{
    if (target.Internet)
        return target.IPAddress;
    const QString broadcast = SubnetBroadcast(target.IPAddress, target.SubNet);
    return broadcast.isEmpty() ? QStringLiteral("255.255.255.255") : broadcast;
}

void TWOLThread::Launch()
{
    if (StopRequested() || !FTarget) {
        Finish();
        return;
    }
    // The wait is not cut short by a stop request: a wake once asked for is sent. A negative delay
    // means no wait rather than an endless one.
    const auto delay = std::chrono::seconds(std::max(WakeDelay, 0));
    TWorkerEngine::Instance().At(TWorkerEngine::TClock::now() + delay, [this] { DelayEnded(); });
}

void TWOLThread::DelayEnded()
{
    // The sender shows nothing itself: whoever reads its completion learns from SendError why no packet left.
    const auto packet = FTarget->MACAddress.isEmpty() ? std::nullopt : BuildMagicPacket(FTarget->MACAddress);
    if (!packet || !FHasClient) {
        Finish(); // an unusable MAC text wakes nothing, and nobody is told
        return;
    }
    if (!FTarget->Internet) {
        SendLan(*packet);
        Finish();
        return;
    }
    const QString host = DestinationHost(*FTarget);
    if (quint32 address = 0; ParseIPv4Literal(host, &address)) {
        SendTo(*packet, address);
        Finish();
        return;
    }
    // A name lookup can take seconds: it runs on the pool, and the send comes back to the engine.
    RunBlocking([this, host, packet = *packet] {
        quint32 address = 0;
        const bool found = ResolveIPv4(host, &address);
        TWorkerEngine::Instance().Post([this, found, address, packet, host] {
            if (found)
                SendTo(packet, address);
            else
                FSendError = Res::Str(Res::WakeHostNotFound).arg(host);
            Finish();
        });
    });
}

void TWOLThread::SetSendErrno(int error)
{
    FSendError = Res::Str(Res::WakeSendFailed).arg(QString::fromLocal8Bit(std::strerror(error)));
}

void TWOLThread::SendTo(const QByteArray& packet, quint32 address)
{
    const int fd = WakeSocket();
    if (fd < 0) {
        SetSendErrno(errno);
        return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<quint16>(FTarget->Port));
    to.sin_addr.s_addr = htonl(address);
    FSent = ::sendto(fd, packet.constData(), static_cast<size_t>(packet.size()), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof(to)) >= 0;
    if (!FSent)
        SetSendErrno(errno);
}

void TWOLThread::SendLan(const QByteArray& packet)
{
    // A subnet broadcast worked out from a stored /24 mask is an ordinary host address on a /16 network:
    // the network the kernel reports for the address wins over the stored mask.
    FRoute = LanWakeRoute(FTarget->IPAddress, FTarget->SubNet);
    const int fd = WakeSocket();
    if (fd < 0) {
        SetSendErrno(errno);
        return;
    }
    FSent = SendAlongRoute(fd, FRoute, static_cast<quint16>(FTarget->Port), packet) >= 0;
    if (!FSent)
        SetSendErrno(errno);
}
