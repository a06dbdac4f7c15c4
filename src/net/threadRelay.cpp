#include "net/threadRelay.h"

#include "core/mainThread.h"
#include "net/hostResolve.h"
#include "net/relayHub.h"
#include "net/utilsNetwork.h"

#include <algorithm>
#include <chrono>

namespace {

// Finds the host's address without blocking the engine: a literal at once, a name on the pool; then
// continues on the engine.
void ResolveThen(const QString& host, std::function<void(bool found, quint32 address)> then)
{
    if (quint32 address = 0; ParseIPv4Literal(host, &address)) {
        then(true, address);
        return;
    }
    RunBlocking([host, then = std::move(then)] {
        quint32 address = 0;
        const bool found = ResolveIPv4(host, &address);
        TWorkerEngine::Instance().Post([then, found, address] { then(found, address); });
    });
}

} // namespace

TRelayPingThread::TRelayPingThread(const QString& host, int timeout, int ttl)
    : TPingThread(host, timeout, ttl), FHost(host)
{
}

void TRelayPingThread::Launch()
{
    if (StopRequested()) {
        Finish();
        return;
    }
    TWorkerEngine::Instance().Post(
        [this] { ResolveThen(FHost, [this](bool found, quint32 address) { Route(found, address); }); });
}

void TRelayPingThread::Route(bool resolved, quint32 address)
{
    const QString relay = resolved ? RelayNameFor(address) : QString();
    if (relay.isEmpty()) {
        // Not behind a relay (or no address at all): the local check says what it says.
        TPingThread::Launch();
        return;
    }
    FRelayName = relay;
    RunOnMainThread([this, relay, address] {
        TRelayHub::Instance().Check(relay, address, [this](const TRelayCheckResult& result) {
            FRelayFailed = result.RelayFailed;
            SetResult(result.Online ? 0 : (result.RelayFailed ? 1 : 2), result.Reply, result.From,
                      result.ByTcp);
            Finish();
        });
    });
}

TRelayWOLThread::TRelayWOLThread(std::optional<TWakeTarget> target, int wakeDelay)
    : TWOLThread(target, wakeDelay), FWake(std::move(target))
{
}

void TRelayWOLThread::Launch()
{
    if (StopRequested() || !FWake) {
        Finish();
        return;
    }
    // As for a local packet, a wake once asked for is sent after its delay.
    const auto delay = std::chrono::seconds(std::max(WakeDelay, 0));
    TWorkerEngine::Instance().At(TWorkerEngine::TClock::now() + delay, [this] { DelayEnded(); });
}

void TRelayWOLThread::DelayEnded()
{
    ResolveThen(FWake->IPAddress, [this](bool found, quint32 address) { Route(found, address); });
}

void TRelayWOLThread::Route(bool resolved, quint32 address)
{
    const QString relay = resolved ? RelayNameFor(address) : QString();
    if (relay.isEmpty()) {
        WakeDelay = 0;
        TWOLThread::Launch();
        return;
    }
    FRelayName = relay;
    TRelayWakeRequest request;
    request.Mac = TRelayHub::CanonicalMac(FWake->MACAddress);
    if (request.Mac.isEmpty()) {
        Finish(); // an unusable MAC text wakes nothing, as for a local packet
        return;
    }
    request.Address = address;
    request.Direct = FWake->Internet;
    request.Port = static_cast<quint16>(FWake->Port);
    // A relay without an interface list sends to the stored mask's broadcast address.
    quint32 broadcast = 0xFFFFFFFFu;
    if (!ParseIPv4(SubnetBroadcast(IPv4ToText(address), FWake->SubNet), &broadcast))
        broadcast = 0xFFFFFFFFu;
    request.MaskBroadcast = broadcast;
    RunOnMainThread([this, relay, request] {
        TRelayHub::Instance().Wake(relay, request, [this](const QString& error) {
            FRelayError = error;
            SetSent(error.isEmpty());
            Finish();
        });
    });
}
