#include "net/icmpClient.h"

#include "core/texts.h"
#include "net/hostResolve.h"
#include "net/icmpListener.h"
#include "net/icmpPacket.h"

#include <cstring>
#include <optional>
#include <unistd.h>

QString SocketErrorText(int code, const QString& description)
{
    return Res::Str(Res::SocketError).arg(QString::number(code), description);
}

namespace {

QString ErrnoText(int error)
{
    return SocketErrorText(error, QString::fromLocal8Bit(std::strerror(error)));
}

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
    std::optional<TIcmpListener::TWaiter> Waiter;
    TWorkerEngine::TTimerId Deadline = 0;
};

TIcmpClient::TIcmpClient() = default;
TIcmpClient::~TIcmpClient() = default;

void TIcmpClient::Start(const QByteArray& payload, quint16 sequence, TReplyHandler onReply,
                        TErrorHandler onError)
{
    FExchange = std::make_unique<TExchange>();
    FExchange->Payload = payload;
    FExchange->Sequence = sequence == 0 ? DefaultPingSequence : sequence;
    FExchange->OnReply = std::move(onReply);
    FExchange->OnError = std::move(onError);

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
            auto onError = std::move(FExchange->OnError);
            Ended();
            onError(SocketErrorText(errorCode, errorText));
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
        auto onError = std::move(x.OnError);
        Ended();
        onError(Res::Str(Res::PingCannotAllocate));
        return;
    }
    x.Destination = address;
    x.Identifier = listener->Identifier();
    const QByteArray request = BuildEchoRequest(x.Identifier, x.Sequence, TickCount(), x.Payload);

    auto fail = [this](const QString& message) {
        auto onError = std::move(FExchange->OnError);
        Ended();
        onError(message);
    };
    auto answer = [this](const TReplyStatus& reply) {
        auto onReply = std::move(FExchange->OnReply);
        Ended();
        onReply(reply);
    };

    // Registered before sending, so no answer can come before its waiter.
    x.Waiter.emplace(*listener, x.Sequence, [this, fail, answer](const TIcmpListener::TEvent& event) {
        TExchange& e = *FExchange;
        if (event.Error != 0) {
            fail(ErrnoText(event.Error));
            return;
        }
        const TIcmpAnswer& a = event.Answer;
        if (a.Kind == TIcmpAnswer::TooShort) {
            fail(Res::Str(Res::PingNotEnoughBytes));
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
        reply.FromIpAddress = IPv4ToText(a.From);
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
        answer(reply);
    });

    x.StartTick = TickCount();
    x.SentNs = PacketClockNs();
    const auto started = TWorkerEngine::TClock::now();
    if (const int error = listener->Send(request, address, TTL)) {
        fail(ErrnoText(error));
        return;
    }
    if (OnSent)
        OnSent();
    x.Deadline =
        TWorkerEngine::Instance().At(started + std::chrono::milliseconds(ReceiveTimeout), [this, answer] {
            TExchange& e = *FExchange;
            e.Deadline = 0;
            TReplyStatus reply;
            reply.FromIpAddress = QStringLiteral("0.0.0.0");
            reply.SequenceId = e.Sequence;
            reply.ReplyStatus = 2;
            reply.MsRoundTripTime = TickCount() - e.StartTick;
            answer(reply);
        });
}

void TIcmpClient::Cancel()
{
    if (FExchange)
        Ended();
}

void TIcmpClient::Ended()
{
    // Nothing of the exchange may be called after its handler: the owner may be freed then.
    if (FExchange->Deadline != 0)
        TWorkerEngine::Instance().Cancel(FExchange->Deadline);
    FExchange->Deadline = 0;
    FExchange->Waiter.reset();
}
