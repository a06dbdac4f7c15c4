#pragma once

#include "core/worker.h"

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
// broadcast address of the computer's subnet or to its own address. Reports nothing, success or failure;
// a completion handler only learns that the sender has ended. A sender owns no thread: its delay is a
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
    // The host text the packet goes to.
    static QString DestinationHost(const TWakeTarget& target);

    static constexpr int MagicPacketSize = 102;

protected:
    void Launch() override;

private:
    void DelayEnded();
    void SendTo(const QByteArray& packet, quint32 address);

    // Values copied from the computer when the sender was made. The computer itself is never read on
    // the worker thread: it may be edited or deleted on the main thread while the sender waits, and a
    // copy cannot dangle.
    std::optional<TWakeTarget> FTarget;
    bool FHasClient = false;
};
