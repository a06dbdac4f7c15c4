#include "net/threadPing.h"

#include "core/exceptions.h"
#include "core/texts.h"
#include "net/hostResolve.h"
#include "net/icmpPacket.h"
#include "net/neighbours.h"
#include "net/utilsNetwork.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// The text with its markers %1 and %2 replaced, as QString::arg does for these texts, in one pass: arg's
// general parsing took half of the time a result's texts cost the window's thread.
QString Filled(const QString& pattern, const QString& first, const QString& second = QString())
{
    QString out;
    out.reserve(pattern.size() + first.size() + second.size());
    const QChar* text = pattern.constData();
    const qsizetype size = pattern.size();
    qsizetype copied = 0;
    for (qsizetype i = 0; i + 1 < size; ++i) {
        const char16_t digit = text[i + 1].unicode();
        if (text[i] != u'%' || (digit != u'1' && digit != u'2') || (i + 2 < size && text[i + 2].isDigit()))
            continue;
        out.append(text + copied, i - copied);
        out.append(digit == u'1' ? first : second);
        copied = i + 2;
        ++i;
    }
    out.append(text + copied, size - copied);
    return out;
}

// Checks in their pause, in the order they began it. Every pause is equally long and its due time is
// taken under the lock, so the first is due first: one engine timer serves a whole burst. (A check that
// began before its worker was made, as the load's do, can be due before one already waiting; it then
// waits for that one: its pause is a little longer, never shorter.)
struct TPauseQueue
{
    std::mutex Lock;
    std::deque<std::pair<TWorkerEngine::TClock::time_point, TPingThread*>> Waiting;
    bool Armed = false;
};

TPauseQueue& Pauses()
{
    static auto* queue = new TPauseQueue;
    return *queue;
}

// Checks sent per engine task: the answers to one batch are read before the next is sent.
constexpr size_t PauseBatch = 256;

} // namespace

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
    // Set up here, on the thread that makes the checks, so a burst leaves the engine only the sending.
    FClient->Host = FHost;
    FClient->ReceiveTimeout = FTimeout;
    if (FTTL != -1)
        FClient->TTL = FTTL;
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
}

TPingThread::~TPingThread() = default;

void TPingThread::Launch()
{
    if (StopRequested()) {
        Finish();
        return;
    }
    // The pause lets a burst of checks started together spread out a little.
    TPauseQueue& queue = Pauses();
    TWorkerEngine::TClock::time_point due;
    bool arm = false;
    {
        std::lock_guard<std::mutex> guard(queue.Lock);
        const auto now = TWorkerEngine::TClock::now();
        const auto began =
            FStartedAt == TWorkerEngine::TClock::time_point{} ? now : std::min(FStartedAt, now);
        due = began + std::chrono::milliseconds(StartPause);
        queue.Waiting.emplace_back(due, this);
        arm = !std::exchange(queue.Armed, true);
    }
    if (arm)
        TWorkerEngine::Instance().At(due, &TPingThread::EndPauses);
}

void TPingThread::EndPauses()
{
    TPauseQueue& queue = Pauses();
    std::vector<TPingThread*> due;
    due.reserve(PauseBatch);
    {
        std::lock_guard<std::mutex> guard(queue.Lock);
        const auto now = TWorkerEngine::TClock::now();
        while (!queue.Waiting.empty() && queue.Waiting.front().first <= now && due.size() < PauseBatch) {
            due.push_back(queue.Waiting.front().second);
            queue.Waiting.pop_front();
        }
        if (queue.Waiting.empty())
            queue.Armed = false;
        else
            TWorkerEngine::Instance().At(queue.Waiting.front().first, &TPingThread::EndPauses);
    }
    // The batch's requests leave together, on two threads where the socket allows.
    const TIcmpListener::TBatch sends;
    for (TPingThread* check : due)
        check->AfterPause();
}

void TPingThread::AfterPause()
{
    // A check superseded during its pause sends nothing.
    if (StopRequested()) {
        Finish();
        return;
    }
    FStartTick = TickCount();
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
            FRoundTripTime = TickCount() - FStartTick;
            FByTcp = true;
            // A reset proves the host up as well as an accepted connection, but nothing listens there.
            SetTextLater(result.Accepted ? Res::PingTcpResponse : Res::PingTcpRefused, FAddress, result.Port);
            Answered();
        } else if (onlyWay) {
            // Without an echo request the probes were the whole check: no answer is a time-out.
            FOutcome = 2;
            FRoundTripTime = TickCount() - FStartTick;
            SetTextLater(Res::PingTimedOut, 0, 0);
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
    if (!FTcpPorts.empty() && FResolved && FClient->NoSocket()) {
        StartProbe(FTimeout, true);
        return;
    }
    FNoSocket = FClient->NoSocket();
    FTextId = NoText;
    FOutcome = 1;
    FReplyText = Res::Str(Res::PingException).arg(SingleLine(message));
    Finish();
}

void TPingThread::Answered()
{
    // Loopback has no neighbours; every other answer is compared with the stored adapters, so a host
    // that took over the address of another can be told apart.
    if (FOutcome != 0 || (FTextFrom >> 24) == 127) {
        Finish();
        return;
    }
    // The table is read on the pool, not on the engine, and once for a burst of answers.
    LookUpNeighbourMac(FTextFrom, [this](const QString& mac) {
        FNeighbourMac = mac;
        Finish();
    });
}

void TPingThread::Reply(const TReplyStatus& status)
{
    StopProbe();
    if (status.SequenceId != FSequence && FSequence != 0)
        return;
    FOutcome = status.ReplyStatus;
    FReceivedBytes = status.BytesReceived;
    FRoundTripTime = status.MsRoundTripTime;
    FAnswerTTL = status.TimeToLive;
    switch (FOutcome) {
    case 0:
        SetTextLater(Res::PingResponse, status.FromAddress, FRoundTripTime);
        break;
    case 1:
        SetTextLater(Res::PingUnknownError, status.FromAddress, 0);
        break;
    case 2:
        SetTextLater(Res::PingTimedOut, status.FromAddress, 0);
        break;
    case 3:
        SetTextLater(Res::PingUnreachable, status.FromAddress, 0);
        break;
    case 4:
        SetTextLater(Res::PingTtlExpired, status.FromAddress, 0);
        break;
    default:
        SetTextLater(AddressOnly, status.FromAddress, 0);
        break;
    }
}

void TPingThread::SetTextLater(int textId, quint32 from, quint32 number)
{
    FTextId = textId;
    FTextFrom = from;
    FTextNumber = number;
}

void TPingThread::WriteTexts() const
{
    if (FTextId == NoText)
        return;
    const int id = std::exchange(FTextId, NoText);
    FFromAddress = IPv4ToText(FTextFrom);
    switch (id) {
    case AddressOnly:
        break;
    case Res::PingResponse:
    case Res::PingTcpResponse:
    case Res::PingTcpRefused:
        FReplyText = Filled(Res::Str(id), FFromAddress, QString::number(FTextNumber));
        break;
    case Res::PingUnreachable:
    case Res::PingTtlExpired:
        FReplyText = Filled(Res::Str(id), FFromAddress);
        break;
    default:
        FReplyText = Res::Str(id);
        break;
    }
}
