// The Wake-on-LAN sender, TWOLThread; worker units are named thread*, their classes T*Thread.
#pragma once

#include "core/worker.h"
#include "net/interfaces.h"

#include <optional>
#include <QByteArray>
#include <QString>

// What a sender needs to know about the computer it wakes. The network layer does not know the model,
// so the caller copies these values out of the computer.
struct TWakeTarget
{
    QString MACAddress;    // Address of the computer's first wake-enabled adapter; empty when none
    bool Internet = false; // true: send to IPAddress; false: the subnet's broadcast address
    QString IPAddress;
    QString SubNet;
    qint32 Port = 1000;
};

// Wakes one computer: after WakeDelay seconds sends one magic packet as a UDP datagram, either to the
// broadcast address of the computer's local network or to its own address. In LAN mode the network is
// that of the up interface holding the computer's address, and the packet leaves through it; the stored
// mask decides only when no interface holds the address. The completion handler can read where the
// packet went. A sender owns no thread: its delay is a
// timer of the worker engine, and every sender sends from the engine's one UDP socket.
class TWOLThread : public TWorkerThread
{
public:
    // Without a target the sender is created already asked to stop: it sends nothing, and its
    // completion handler still runs.
    TWOLThread(std::optional<TWakeTarget> target, int wakeDelay);
    ~TWOLThread() override;

    // Seconds to wait before sending; set before Start.
    int WakeDelay = 0;

    // The 102-byte magic packet for a MAC text, or nothing when the text gives fewer than twelve
    // hexadecimal digits once its hyphens are removed, or a pair that does not convert.
    static std::optional<QByteArray> BuildMagicPacket(const QString& mac);
    // The host text an Internet-mode packet goes to (LAN mode: the stored mask's broadcast address).
    static QString DestinationHost(const TWakeTarget& target);

    // Read in the completion handler: whether a packet left, and for a LAN-mode one where it went.
    bool Sent() const { return FSent; }
    const TWakeRoute& Route() const { return FRoute; }
    // Why no packet left, as a sentence: the system's reason for a send that failed, or the host name that
    // was not found. Empty when one left, and when the MAC text was unusable (that wakes nothing, silently).
    const QString& SendError() const { return FSendError; }

    static constexpr int MagicPacketSize = 102;

protected:
    void Launch() override;
    // For a packet that left from elsewhere (a relay).
    void SetSent(bool sent) { FSent = sent; }
    // Records errno of a failed socket call as the reason no packet left.
    void SetSendErrno(int error);

private:
    void DelayEnded();
    void SendTo(const QByteArray& packet, quint32 address);
    void SendLan(const QByteArray& packet);

    // Values copied from the computer when the sender was made. The computer itself is never read on
    // the worker thread: it may be edited or deleted on the main thread while the sender waits, and a
    // copy cannot dangle.
    std::optional<TWakeTarget> FTarget;
    bool FHasClient = false;
    bool FSent = false;
    QString FSendError;
    TWakeRoute FRoute;
};
