#pragma once

#include "net/icmpPacket.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <QByteArray>
#include <unordered_map>
#include <vector>

// The one ICMP socket of the process and the thread that reads it.
//
// A socket per check would see every ICMP packet that reaches the host (that is how raw sockets work),
// so a thousand checks at once would each queue a thousand packets and drop answers when their buffers
// fill. Instead every check sends through this socket and registers the sequence number it waits for;
// the reader hands each packet to the checks waiting for that number and drops packets nobody waits for.
//
// The socket is an ICMP datagram socket where net.ipv4.ping_group_range lets this process open one, else
// a raw socket (root or CAP_NET_RAW). A datagram socket delivers only answers to its own requests, without
// their IP header; the errors that quote a request arrive on its error queue.
class TIcmpListener
{
public:
    enum TSocketKind
    {
        skDatagram,
        skRaw
    };

    struct TEvent
    {
        TIcmpAnswer Answer; // when Error is 0
        int Error = 0;      // errno of a failed read
    };

    // Registers a sequence number for the lifetime of the waiter; every packet carrying it (and every
    // packet too short to tell, and every read error) is queued for it.
    class TWaiter
    {
    public:
        TWaiter(TIcmpListener& listener, quint16 sequence);
        ~TWaiter();
        TWaiter(const TWaiter&) = delete;
        TWaiter& operator=(const TWaiter&) = delete;

        // The next event, or false when the deadline passes first.
        bool Wait(std::chrono::steady_clock::time_point deadline, TEvent* event);

    private:
        friend class TIcmpListener;
        TIcmpListener& FListener;
        quint16 FSequence;
        std::deque<TEvent> FEvents; // guarded by the listener's lock
        std::condition_variable FArrived;
    };

    // The process's listener, opening its socket on first use. Null when no ICMP socket can be opened;
    // the next call tries again (privileges may have changed).
    static TIcmpListener* Acquire();

    TSocketKind SocketKind() const { return FKind; }

    // Sends one ICMP message to address (host byte order) with the given time-to-live. Returns 0, or the
    // errno of the failure.
    int Send(const QByteArray& message, quint32 address, int ttl);

private:
    TIcmpListener(int socket, TSocketKind kind);
    void Run();
    void ReadRaw();
    void ReadDatagram();
    void ReadErrorQueue();
    void Dispatch(const TIcmpAnswer& answer);
    void DispatchToAll(const TEvent& event);

    const int FSocket;
    const TSocketKind FKind;
    std::mutex FLock;
    std::unordered_map<quint16, std::vector<TWaiter*>> FWaiters;
};
