#include "net/icmpClient.h"

#include "core/texts.h"
#include "net/hostResolve.h"
#include "net/icmpListener.h"
#include "net/icmpPacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <iterator>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

QString SocketErrorText(int code, const QString& description)
{
    return Res::Str(Res::SocketError).arg(QString::number(code), description);
}

namespace {

QString ErrnoText(int error)
{
    return SocketErrorText(error, QString::fromLocal8Bit(std::strerror(error)));
}

// Waits ended per engine task, so the socket is read between the time-outs of a large silent burst.
constexpr size_t DeadlineBatch = 256;

} // namespace

// The state of one exchange under way; engine thread only.
struct TIcmpClient::TExchange
{
    QByteArray Payload;
    quint16 Sequence = 0;
    TReplyHandler OnReply;
    TErrorHandler OnError;
    quint32 Destination = 0;
    quint16 Identifier = 0;
    quint32 StartTick = 0;
    qint64 SentNs = 0; // on the clock of the kernel's receive stamps
    // Counts the exchanges begun, so the outcome of a send reaches only its own.
    quint32 Attempt = 0;
    std::optional<TIcmpListener::TWaiter> Waiter;
    // The slot of the wait's deadline, while Waiting.
    quint32 DeadlineSlot = 0;
    bool Waiting = false;
};

// The deadlines of the waits for answers; engine thread only. Waits of the same length end in the order
// they began (two threads sharing a batch of sends may swap neighbours by microseconds: the later entry
// then waits for the one before it, never ending early), so one queue per length, kept in that order, needs
// one engine timer (for its first entry) however many checks wait. A wait that ends early leaves its entry
// behind: the entry names a slot and the slot's generation, and a slot moves to its next generation when its
// wait ends, so the entry is passed over when it falls due.
struct TIcmpClient::TDeadlines
{
    struct TEntry
    {
        TWorkerEngine::TClock::time_point Due;
        quint32 Slot;
        quint32 Generation;
    };
    struct TQueue
    {
        int TimeoutMs = 0;
        std::deque<TEntry> Entries;
        bool Armed = false;
    };
    struct TSlot
    {
        TIcmpClient* Client = nullptr;
        quint32 Generation = 0;
    };

    // Never destroyed: the engine may still run while the program ends.
    static TDeadlines& Instance()
    {
        static auto* deadlines = new TDeadlines;
        return *deadlines;
    }

    quint32 Add(TIcmpClient* client, TWorkerEngine::TClock::time_point due, int timeoutMs)
    {
        quint32 slot = 0;
        if (FreeSlots.empty()) {
            slot = static_cast<quint32>(Slots.size());
            Slots.emplace_back();
        } else {
            slot = FreeSlots.back();
            FreeSlots.pop_back();
        }
        Slots[slot].Client = client;
        // A deque keeps its elements in place as it grows, so a queue stays where its timer finds it.
        auto queue = std::find_if(Queues.begin(), Queues.end(),
                                  [&](const TQueue& q) { return q.TimeoutMs == timeoutMs; });
        if (queue == Queues.end()) {
            Queues.emplace_back().TimeoutMs = timeoutMs;
            queue = std::prev(Queues.end());
        }
        queue->Entries.push_back({due, slot, Slots[slot].Generation});
        if (!std::exchange(queue->Armed, true))
            TWorkerEngine::Instance().At(due, [q = &*queue] { Instance().Due(*q); });
        return slot;
    }

    void Remove(quint32 slot)
    {
        Slots[slot].Client = nullptr;
        ++Slots[slot].Generation;
        FreeSlots.push_back(slot);
    }

    void Due(TQueue& queue)
    {
        // Handlers may end other waits and begin new ones (behind these): each entry is looked at just
        // before its turn. The queue stays armed meanwhile, so a new wait adds no timer of its own.
        const auto now = TWorkerEngine::TClock::now();
        for (size_t ended = 0;
             ended < DeadlineBatch && !queue.Entries.empty() && queue.Entries.front().Due <= now;) {
            const TEntry entry = queue.Entries.front();
            queue.Entries.pop_front();
            if (Slots[entry.Slot].Generation != entry.Generation)
                continue;
            TIcmpClient* client = Slots[entry.Slot].Client;
            Remove(entry.Slot);
            client->FExchange->Waiting = false;
            client->TimedOut();
            ++ended;
        }
        if (queue.Entries.empty())
            queue.Armed = false;
        else
            TWorkerEngine::Instance().At(queue.Entries.front().Due, [q = &queue] { Instance().Due(*q); });
    }

    std::deque<TQueue> Queues;
    std::vector<TSlot> Slots;
    std::vector<quint32> FreeSlots;
};

// The exchange's state is made with the client (on the thread that makes the checks), so sending a
// burst of requests allocates nothing for it on the engine.
TIcmpClient::TIcmpClient() : FExchange(std::make_unique<TExchange>())
{
}
TIcmpClient::~TIcmpClient() = default;

void TIcmpClient::Start(const QByteArray& payload, quint16 sequence, TReplyHandler onReply,
                        TErrorHandler onError)
{
    // A new exchange supersedes one still under way, whose handlers are then never called.
    Ended();
    TExchange& x = *FExchange;
    ++x.Attempt;
    FNoSocket = false;
    x.Payload = payload;
    x.Sequence = sequence == 0 ? DefaultPingSequence : sequence;
    x.OnReply = std::move(onReply);
    x.OnError = std::move(onError);
    x.Destination = 0;
    x.Identifier = 0;
    x.StartTick = 0;
    x.SentNs = 0;

    quint32 address = 0;
    if (ParseIPv4Literal(Host, &address)) {
        Send(address);
        return;
    }
    // A name lookup can take seconds: it runs on the pool, and the exchange goes on on the engine.
    RunBlocking([this, host = Host] {
        quint32 found = 0;
        int errorCode = 0;
        QString errorText;
        const bool ok = ResolveIPv4(host, &found, &errorCode, &errorText);
        TWorkerEngine::Instance().Post([this, ok, found, errorCode, errorText] {
            if (ok) {
                Send(found);
                return;
            }
            Fail(SocketErrorText(errorCode, errorText));
        });
    });
}

void TIcmpClient::Send(quint32 address)
{
    TExchange& x = *FExchange;
    if (OnResolved)
        OnResolved(address);
    TIcmpListener* listener = TIcmpListener::Acquire();
    if (!listener) {
        FNoSocket = true;
        Fail(Res::Str(Res::PingCannotAllocate));
        return;
    }
    x.Destination = address;
    x.Identifier = listener->Identifier();
    // One reading of the monotonic clock serves the request's stamp and its round-trip start (TickCount
    // reads the same clock); the deadline counts from the send itself.
    const auto started = TWorkerEngine::TClock::now();
    x.StartTick = static_cast<quint32>(
        std::chrono::duration_cast<std::chrono::milliseconds>(started.time_since_epoch()).count());
    const QByteArray request = BuildEchoRequest(x.Identifier, x.Sequence, x.StartTick, x.Payload);

    // Registered before sending, so no answer can come before its waiter. The handler holds no more
    // than the client, so handing it a packet copies nothing to the heap.
    x.Waiter.emplace(*listener, x.Sequence, [this](const TIcmpListener::TEvent& event) { Received(event); });

    // Counted from this request's own send, which may wait for the end of the engine's batch.
    listener->Send(*x.Waiter, request, address, TTL,
                   [this, attempt = x.Attempt](const TIcmpListener::TSent& sent) { Sent(attempt, sent); });
}

void TIcmpClient::Sent(quint32 attempt, const TIcmpListener::TSent& sent)
{
    TExchange& x = *FExchange;
    // An exchange ended or superseded meanwhile hears nothing of its request.
    if (attempt != x.Attempt || !x.Waiter)
        return;
    if (sent.Error != 0) {
        Fail(ErrnoText(sent.Error));
        return;
    }
    x.SentNs = sent.PacketNs;
    if (OnSent)
        OnSent();
    x.DeadlineSlot =
        TDeadlines::Instance().Add(this, sent.At + std::chrono::milliseconds(ReceiveTimeout), ReceiveTimeout);
    x.Waiting = true;
}

void TIcmpClient::Received(const TIcmpListener::TEvent& event)
{
    TExchange& e = *FExchange;
    if (event.Error != 0) {
        Fail(ErrnoText(event.Error));
        return;
    }
    const TIcmpAnswer& a = event.Answer;
    if (a.Kind == TIcmpAnswer::TooShort) {
        Fail(Res::Str(Res::PingNotEnoughBytes));
        return;
    }
    if (a.Kind != TIcmpAnswer::Answer || a.Sequence != e.Sequence)
        return;
    // An echo answer counts only from the host asked; an error only when the request it quotes was
    // ours (its destination and identifier), whoever reports it. The identifier of an echo answer
    // is not compared: hosts answer with what they were sent.
    if (a.Outcome == 0 && a.From != e.Destination)
        return;
    if (a.Outcome != 0 && (a.QuotedDestination != e.Destination || a.Identifier != e.Identifier))
        return;
    TReplyStatus reply;
    reply.BytesReceived = a.Length;
    reply.FromAddress = a.From;
    reply.MsgType = a.Type;
    reply.SequenceId = a.Sequence;
    reply.TimeToLive = a.TTL;
    reply.ReplyStatus = a.Outcome;
    // The kernel's stamp of the answer's arrival, where there is one: the engine may read it later.
    // (Its clock is the wall clock: a stamp outside the wait means the clock was set meanwhile.)
    const qint64 stamped = a.ReceivedNs - e.SentNs;
    const bool plausible = e.SentNs > 0 && a.ReceivedNs > 0 && stamped >= 0 &&
                           stamped <= qint64(TickCount() - e.StartTick + 1) * 1000000;
    reply.MsRoundTripTime = plausible ? quint32(stamped / 1000000) : TickCount() - e.StartTick;
    Answer(reply);
}

void TIcmpClient::TimedOut()
{
    TExchange& e = *FExchange;
    TReplyStatus reply;
    reply.SequenceId = e.Sequence;
    reply.ReplyStatus = 2;
    reply.MsRoundTripTime = TickCount() - e.StartTick;
    Answer(reply);
}

void TIcmpClient::Fail(const QString& message)
{
    auto onError = std::move(FExchange->OnError);
    Ended();
    onError(message);
}

void TIcmpClient::Answer(const TReplyStatus& reply)
{
    auto onReply = std::move(FExchange->OnReply);
    Ended();
    onReply(reply);
}

void TIcmpClient::Cancel()
{
    Ended();
}

void TIcmpClient::Ended()
{
    // Nothing of the exchange may be called after its handler: the owner may be freed then.
    if (FExchange->Waiting)
        TDeadlines::Instance().Remove(FExchange->DeadlineSlot);
    FExchange->Waiting = false;
    FExchange->Waiter.reset();
}
