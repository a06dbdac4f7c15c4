#include "net/threadWOL.h"

#include "net/hostResolve.h"
#include "net/utilsNetwork.h"

#include <arpa/inet.h>
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

TWOLThread::~TWOLThread()
{
    if (FSocket >= 0)
        ::close(FSocket);
}

std::optional<QByteArray> TWOLThread::BuildMagicPacket(const QString& mac)
{
    QString digits = mac;
    digits.remove(QLatin1Char('-'));
    if (digits.size() < 12)
        return std::nullopt;
    QByteArray address;
    for (int i = 0; i < 6; ++i) {
        qint32 value = 0;
        if (!TryTextToInt(QLatin1Char('$') + digits.mid(i * 2, 2), &value))
            return std::nullopt;
        address.append(static_cast<char>(value & 0xFF));
    }
    QByteArray packet(6, '\xFF');
    for (int i = 0; i < 16; ++i)
        packet.append(address);
    return packet;
}

QString TWOLThread::DestinationHost(const TWakeTarget& target)
{
    if (target.Internet)
        return target.IPAddress;
    const QString broadcast = SubnetBroadcast(target.IPAddress, target.SubNet);
    return broadcast.isEmpty() ? QStringLiteral("255.255.255.255") : broadcast;
}

void TWOLThread::Execute()
{
    if (StopRequested() || !FTarget)
        return;
    // The wait is not cut short by a stop request: a wake once asked for is sent. A negative delay
    // means no wait rather than an endless one.
    if (WakeDelay > 0)
        QThread::msleep(static_cast<unsigned long>(WakeDelay) * 1000UL);

    if (FTarget->MACAddress.isEmpty())
        return;
    const auto packet = BuildMagicPacket(FTarget->MACAddress);
    if (!packet)
        return; // an unusable MAC text wakes nothing, and nobody is told
    Send(*packet);
}

void TWOLThread::Send(const QByteArray& packet)
{
    // Every failure below is silent: the sender has no one to report to.
    if (!FHasClient)
        return;
    if (FSocket < 0)
        FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (FSocket < 0)
        return;
    // Broadcasting is switched on in both modes, so an Internet address that happens to be a broadcast
    // address is still reached.
    const int on = 1;
    if (::setsockopt(FSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0)
        return;

    quint32 address = 0;
    if (!ResolveIPv4(DestinationHost(*FTarget), &address))
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<quint16>(FTarget->Port));
    to.sin_addr.s_addr = htonl(address);
    ::sendto(FSocket, packet.constData(), static_cast<size_t>(packet.size()), 0,
             reinterpret_cast<sockaddr*>(&to), sizeof(to));
}
