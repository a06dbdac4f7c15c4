#include "net/threadPing.h"

#include "core/exceptions.h"
#include "core/texts.h"
#include "net/hostResolve.h"
#include "net/icmpPacket.h"
#include "net/neighbours.h"

#include <algorithm>
#include <chrono>

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

void TPingThread::Launch()
{
    if (StopRequested()) {
        Finish();
        return;
    }
    // The pause lets a burst of checks started together spread out a little.
    TWorkerEngine::Instance().At(TWorkerEngine::TClock::now() + std::chrono::milliseconds(StartPause),
                                 [this] { AfterPause(); });
}

void TPingThread::AfterPause()
{
    // A check superseded during its pause sends nothing.
    if (StopRequested()) {
        Finish();
        return;
    }
    FClient->Host = FHost;
    FClient->ReceiveTimeout = FTimeout;
    if (FTTL != -1)
        FClient->TTL = FTTL;
    FStartTick = TickCount();
    FClient->OnResolved = [this](quint32 address) {
        FAddress = address;
        FResolved = true;
    };
    FClient->OnSent = [this] {
        if (FTcpPorts.empty())
            return;
        FProbeTimer = TWorkerEngine::Instance().At(
            TWorkerEngine::TClock::now() + std::chrono::milliseconds(TcpProbeDelay), [this] {
                FProbeTimer = 0;
                StartProbe(std::min(FTimeout - TcpProbeDelay, TcpProbeWait), false);
            });
    };
    try {
        FClient->Start(
            QByteArray(), FSequence,
            [this](const TReplyStatus& status) {
                Reply(status);
                Answered();
            },
            [this](const QString& message) { Failed(message); });
    } catch (const std::exception& e) {
        Failed(ExceptionMessage(e));
    }
}

void TPingThread::StartProbe(int timeoutMs, bool onlyWay)
{
    FProbe.Start(FAddress, FTcpPorts, timeoutMs, [this, onlyWay](const TTcpProbeResult& result) {
        if (result.Up) {
            FClient->Cancel();
            FOutcome = 0;
            FFromAddress = IPv4ToText(FAddress);
            FRoundTripTime = TickCount() - FStartTick;
            FReplyText = Res::Str(Res::PingTcpResponse).arg(FFromAddress, QString::number(result.Port));
            Answered();
        } else if (onlyWay) {
            // Without an echo request the probes were the whole check: no answer is a time-out.
            FOutcome = 2;
            FFromAddress = QStringLiteral("0.0.0.0");
            FRoundTripTime = TickCount() - FStartTick;
            FReplyText = Res::Str(Res::PingTimedOut);
            Finish();
        }
        // Otherwise the echo request's own deadline ends the check.
    });
}

void TPingThread::StopProbe()
{
    if (FProbeTimer != 0)
        TWorkerEngine::Instance().Cancel(FProbeTimer);
    FProbeTimer = 0;
    FProbe.Cancel();
}

void TPingThread::Failed(const QString& message)
{
    StopProbe();
    // No ICMP socket: the probes alone can still show the host up.
    if (!FTcpPorts.empty() && FResolved && message == Res::Str(Res::PingCannotAllocate)) {
        StartProbe(FTimeout, true);
        return;
    }
    FOutcome = 1;
    FReplyText = Res::Str(Res::PingException).arg(SingleLine(message));
    Finish();
}

void TPingThread::Answered()
{
    // Loopback has no neighbours; every other answer is compared with the stored adapters, so a host
    // that took over the address of another can be told apart.
    if (FOutcome != 0 || FFromAddress.isEmpty() || FFromAddress.startsWith(QLatin1String("127."))) {
        Finish();
        return;
    }
    // The table is read on the pool, not on the engine: a large table takes a while to dump.
    RunBlocking([this] {
        QString mac = ::NeighbourMac(FFromAddress);
        TWorkerEngine::Instance().Post([this, mac = std::move(mac)] {
            FNeighbourMac = mac;
            Finish();
        });
    });
}

void TPingThread::Reply(const TReplyStatus& status)
{
    StopProbe();
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
