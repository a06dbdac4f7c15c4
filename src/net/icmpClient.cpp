#include "net/icmpClient.h"

#include "core/exceptions.h"
#include "core/texts.h"
#include "net/hostResolve.h"
#include "net/icmpListener.h"
#include "net/icmpPacket.h"

#include <chrono>
#include <cstring>
#include <unistd.h>

QString SocketErrorText(int code, const QString& description)
{
    return Res::Str(Res::SocketError).arg(QString::number(code), description);
}

void TIcmpClient::Ping(const QByteArray& payload, quint16 sequence,
                       const std::function<void(const TReplyStatus&)>& onReply)
{
    if (sequence == 0)
        sequence = DefaultPingSequence;
    const QByteArray request =
        BuildEchoRequest(static_cast<quint16>(getpid() & 0xFFFF), sequence, TickCount(), payload);

    quint32 address = 0;
    int errorCode = 0;
    QString errorText;
    if (!ResolveIPv4(Host, &address, &errorCode, &errorText))
        throw Exception(SocketErrorText(errorCode, errorText));

    TIcmpListener* listener = TIcmpListener::Acquire();
    if (!listener)
        throw Exception(Res::Str(Res::PingCannotAllocate));

    // Registered before sending, so an answer faster than this thread cannot be missed.
    TIcmpListener::TWaiter waiter(*listener, sequence);
    const quint32 startTick = TickCount();
    if (const int error = listener->Send(request, address, TTL))
        throw Exception(SocketErrorText(error, QString::fromLocal8Bit(std::strerror(error))));

    TReplyStatus reply;
    reply.FromIpAddress = QStringLiteral("0.0.0.0");
    reply.SequenceId = sequence;
    reply.ReplyStatus = 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReceiveTimeout);
    TIcmpListener::TEvent event;
    while (waiter.Wait(deadline, &event)) {
        if (event.Error != 0)
            throw Exception(SocketErrorText(event.Error, QString::fromLocal8Bit(std::strerror(event.Error))));
        const TIcmpAnswer& answer = event.Answer;
        if (answer.Kind == TIcmpAnswer::TooShort)
            throw Exception(Res::Str(Res::PingNotEnoughBytes));
        // The listener hands over only answers carrying this sequence number; the identifier is not
        // compared.
        if (answer.Kind != TIcmpAnswer::Answer || answer.Sequence != sequence)
            continue;
        reply.BytesReceived = answer.Length;
        reply.FromIpAddress = IPv4ToText(answer.From);
        reply.MsgType = answer.Type;
        reply.SequenceId = answer.Sequence;
        reply.TimeToLive = answer.TTL;
        reply.ReplyStatus = answer.Outcome;
        break;
    }
    reply.MsRoundTripTime = TickCount() - startTick;
    if (onReply)
        onReply(reply);
}
