#include "net/relaySlots.h"

#include "core/userSettings.h"
#include "net/relayClient.h"

#include <algorithm>
#include <QSettings>

TRelaySlots& TRelaySlots::Instance()
{
    static TRelaySlots instance;
    return instance;
}

TRelaySlots::TRelaySlots()
{
    const QSettings settings(UserSettingsFile(), QSettings::IniFormat);
    auto read = [&settings](const char* key, int fallback) {
        bool ok = false;
        const int value = settings.value(QLatin1String(key)).toInt(&ok);
        // A typing error in the file leaves the default in force.
        return ok && value > 0 ? value : fallback;
    };
    FParallel = read("relays/parallel", DefaultParallel);
    FConnections = std::max(read("relays/connections", DefaultConnections), FParallel);
}

void TRelaySlots::Acquire(QObject* owner, std::function<void()> start)
{
    if (FRunning < FParallel) {
        ++FRunning;
        start();
        return;
    }
    FWaiting.push_back({owner, std::move(start)});
}

void TRelaySlots::Release()
{
    --FRunning;
    while (FRunning < FParallel && !FWaiting.empty()) {
        TWaiting next = std::move(FWaiting.front());
        FWaiting.pop_front();
        if (!next.Owner)
            continue;
        ++FRunning;
        next.Start();
    }
}

void TRelaySlots::Use(TRelayClient* client)
{
    const auto found = std::find(FLive.begin(), FLive.end(), client);
    if (found != FLive.end()) {
        FLive.splice(FLive.end(), FLive, found);
        return;
    }
    // Connections that ended by themselves (ControlPersist) no longer count.
    FLive.remove_if([](TRelayClient* live) { return !live->Busy() && !live->ConnectionStands(); });
    for (auto it = FLive.begin(); it != FLive.end() && int(FLive.size()) >= FConnections;) {
        if ((*it)->Busy()) {
            ++it;
            continue;
        }
        TRelayClient* idle = *it;
        it = FLive.erase(it);
        idle->CloseConnection();
    }
    FLive.push_back(client);
}

void TRelaySlots::Forget(TRelayClient* client)
{
    FLive.remove(client);
}
