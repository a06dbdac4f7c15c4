// The bounds on the ssh of all relays together (TRelaySlots): exchanges running at once, and shared
// connections kept alive at once.
#pragma once

#include <deque>
#include <functional>
#include <list>
#include <QPointer>

class QObject;
class TRelayClient;

// Main thread. Every exchange of every relay takes a slot before its ssh starts, so a thousand relays never
// mean a thousand ssh at once, and each exchange's time-out runs from its own start. Shared connections
// are kept in the order of their last use; one that would pass the bound ends the least recently used idle
// one first.
class TRelaySlots
{
public:
    static constexpr int DefaultParallel = 16;
    static constexpr int DefaultConnections = 128;

    static TRelaySlots& Instance();

    // The settings file's relays/parallel and relays/connections (read once); never fewer connections than
    // exchanges, so a starting exchange always finds an idle connection to end.
    int Parallel() const { return FParallel; }
    int Connections() const { return FConnections; }

    // Runs start at once when a slot is free, else when one comes free; not at all once owner is gone.
    void Acquire(QObject* owner, std::function<void()> start);
    // The exchange that held a slot has ended.
    void Release();

    // The client is about to run an exchange on its shared connection (opening it when it does not stand).
    void Use(TRelayClient* client);
    // The client's connection has ended or the client is going away.
    void Forget(TRelayClient* client);

private:
    TRelaySlots();

    struct TWaiting
    {
        QPointer<QObject> Owner;
        std::function<void()> Start;
    };
    int FParallel = DefaultParallel;
    int FConnections = DefaultConnections;
    int FRunning = 0;
    std::deque<TWaiting> FWaiting;
    std::list<TRelayClient*> FLive; // least recently used first
};
