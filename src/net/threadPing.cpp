#include "net/threadPing.h"

#include "core/exceptions.h"
#include "core/texts.h"

#include <chrono>
#include <thread>

QString SingleLine(const QString& text)
{
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return result;
}

TPingThread::TPingThread(const QString& host, int timeout, int ttl)
    : FClient(std::make_unique<TIcmpClient>()), FHost(host),
      FTimeout(timeout == 0 ? DefaultTimeout : timeout), FTTL(ttl)
{
}

TPingThread::~TPingThread() = default;

void TPingThread::Execute()
{
    if (StopRequested())
        return;
    // The pause lets a burst of checks started together spread out a little; a stop request ends it.
    const auto pauseEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(StartPause);
    while (std::chrono::steady_clock::now() < pauseEnd) {
        if (StopRequested())
            return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(50), pauseEnd - std::chrono::steady_clock::now()));
    }

    FClient->Host = FHost;
    FClient->ReceiveTimeout = FTimeout;
    if (FTTL != -1)
        FClient->TTL = FTTL;
    try {
        FClient->Ping(QByteArray(), FSequence, [this](const TReplyStatus& status) { Reply(status); });
    } catch (const std::exception& e) {
        FOutcome = 1;
        FReplyText = Res::Str(Res::PingException).arg(SingleLine(ExceptionMessage(e)));
    }
}

void TPingThread::Reply(const TReplyStatus& status)
{
    if (status.SequenceId != FSequence && FSequence != 0)
        return;
    FOutcome = status.ReplyStatus;
    FFromAddress = status.FromIpAddress;
    FReceivedBytes = status.BytesReceived;
    FRoundTripTime = status.MsRoundTripTime;
    FAnswerTTL = status.TimeToLive;
    switch (FOutcome) {
    case 0:
        FReplyText = Res::Str(Res::PingResponse).arg(FFromAddress, QString::number(FRoundTripTime));
        break;
    case 1:
        FReplyText = Res::Str(Res::PingUnknownError);
        break;
    case 2:
        FReplyText = Res::Str(Res::PingTimedOut);
        break;
    case 3:
        FReplyText = Res::Str(Res::PingUnreachable).arg(FFromAddress);
        break;
    case 4:
        FReplyText = Res::Str(Res::PingTtlExpired).arg(FFromAddress);
        break;
    default:
        break;
    }
}
