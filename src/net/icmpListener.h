#pragma once

#include "core/worker.h"
#include "net/icmpPacket.h"

#include <functional>
#include <memory>
#include <QByteArray>
#include <unordered_set>
#include <vector>

// The one ICMP socket of the process, read on the worker engine's thread.
//
// A socket per check would see every ICMP packet that reaches the host (that is how raw sockets work),
// so a thousand checks at once would each queue a thousand packets and drop answers when their buffers
// fill. Instead every check sends through this socket and registers the sequence number it waits for;
// the engine hands each packet to the checks waiting for that number and drops packets nobody waits for.
//
// The socket is an ICMP datagram socket where net.ipv4.ping_group_range lets this process open one, else
// a raw socket (root or CAP_NET_RAW). A datagram socket delivers only answers to its own requests, without
// their IP header; the errors that quote a request arrive on its error queue.
class TIcmpListener
{
    // A message sent with a handler, until its outcome is reported.
    struct TQueued;

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
    using THandler = std::function<void(const TEvent& event)>;

    // Registers a sequence number for the lifetime of the waiter; every packet carrying it (and every
    // packet too short to tell, and every read error) is handed to its handler on the engine thread.
    // Made, used and destroyed on the engine thread only.
    class TWaiter
    {
    public:
        TWaiter(TIcmpListener& listener, quint16 sequence, THandler handler);
        ~TWaiter();
        TWaiter(const TWaiter&) = delete;
        TWaiter& operator=(const TWaiter&) = delete;

    private:
        friend class TIcmpListener;
        TIcmpListener& FListener;
        quint16 FSequence;
        THandler FHandler;
        // The ring of the waiters for the same number, in the order they registered.
        TWaiter* FPrev = this;
        TWaiter* FNext = this;
        // Its send whose outcome is not yet reported (queued or in flight): the list and the place in it.
        std::vector<TQueued>* FSendList = nullptr;
        size_t FSendIndex = 0;
    };

    // The process's listener, opening its socket on first use. Null when no ICMP socket can be opened;
    // the next call tries again (privileges may have changed).
    static TIcmpListener* Acquire();

    // When the process's first and latest echo requests left (CLOCK_MONOTONIC, nanoseconds; 0 before) and
    // how many left. For benchmarks.
    static qint64 FirstSendTime();
    static qint64 LastSendTime();
    static qint64 SentRequests();

    TSocketKind SocketKind() const { return FKind; }
    // The identifier that this socket's echo requests carry on the wire.
    quint16 Identifier() const { return FIdentifier; }

    // Sends one ICMP message to address (host byte order) with the given time-to-live. Returns 0, or the
    // errno of the failure.
    int Send(const QByteArray& message, quint32 address, int ttl);

    // How a message queued with the handler form of Send went: the errno of a failure, else when it left
    // (on the clock of the kernel's receive stamps, and on the engine's clock).
    struct TSent
    {
        int Error = 0;
        qint64 PacketNs = 0;
        TWorkerEngine::TClock::time_point At;
    };
    using TSentHandler = std::function<void(const TSent& sent)>;
    // Engine thread. Sends the message as the form above does and calls onSent with the outcome: at once,
    // or, while a TBatch is open, once the outermost batch has left. The send belongs to the waiter (one
    // at a time): when the waiter ends first, onSent is never called; a later send supersedes it.
    void Send(TWaiter& waiter, const QByteArray& message, quint32 address, int ttl, TSentHandler onSent);

    // Engine thread. While one is open, messages sent with a handler wait and leave together when the
    // outermost closes. On a raw socket a large batch is handed to a second sending thread, since on
    // loopback the kernel builds and queues each answer inside its request's send, on the sender's CPU:
    // the engine reads the answers of the batch before while it leaves, and helps send what is left of
    // it when the next batch closes. No answer (nor a read error) reaches a waiter before the handler of
    // its request ran: until then it is held back.
    class TBatch
    {
    public:
        TBatch();
        ~TBatch();
        TBatch(const TBatch&) = delete;
        TBatch& operator=(const TBatch&) = delete;
    };

private:
    class TSendHelper;
    TIcmpListener(int socket, TSocketKind kind, quint16 identifier);
    void Ready(short revents);
    void ReadRaw();
    void ReadDatagram();
    void ReadErrorQueue();
    void Dispatch(const TIcmpAnswer& answer);
    void DispatchToAll(const TEvent& event);
    void Deliver(std::vector<TWaiter*> waiters, const TEvent& event);
    void Flush();
    // Helps the sending thread with what is left of the batch in flight, waits for it to have left, calls
    // its handlers and delivers what was held back for it.
    void CompleteInFlight();
    // Engine thread: the sending thread has sent the last message of its batch.
    void HelperDone();
    // Delivers what was held back for sends whose handlers have now run.
    void ReleaseHeld();
    // Calls the handlers of sent messages, unlinking them from their waiters.
    void Report(std::vector<TQueued>& sent);
    // Moves the sends of a list to another, keeping their waiters' links.
    void Relink(std::vector<TQueued>& list);
    // The waiters of one sequence number, in the order they joined.
    static void AppendRing(TWaiter* first, std::vector<TWaiter*>& waiters);

    const int FSocket;
    const TSocketKind FKind;
    const quint16 FIdentifier;
    // Engine thread only. The first waiter for each sequence number, so a check registers and leaves
    // without a lookup or an allocation.
    std::vector<TWaiter*> FFirst;
    // While a packet is handed to several waiters: those that ended meanwhile, so none is called after.
    int FDelivering = 0;
    std::unordered_set<const TWaiter*> FGone;
    // Engine thread only: messages waiting for the open batches to close, the batch the sending thread
    // has (made on first need; null while none could be made), how many sends of each sequence number
    // have not been reported, and what was held back for them.
    std::vector<TQueued> FQueued;
    std::vector<TQueued> FInFlight;
    std::unique_ptr<TSendHelper> FHelper;
    bool FHelperFailed = false;
    std::vector<quint32> FUnreported;
    struct THeld
    {
        TEvent Event;
        bool ToAll = false;
    };
    std::vector<THeld> FHeld;
};
