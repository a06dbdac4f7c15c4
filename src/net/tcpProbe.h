#pragma once

#include <functional>
#include <memory>
#include <QtGlobal>
#include <vector>

// What a TCP probe of one host found.
struct TTcpProbeResult
{
    bool Up = false;       // a port accepted the connection, or the host itself refused it
    quint16 Port = 0;      // the port that showed it
    bool Accepted = false; // accepted rather than refused
};

// Shows that a host is up by opening TCP connections to a few of its ports, on the worker engine: a
// connection accepted, or refused by the host itself (a reset from its own address, or an ICMP error that
// the host itself sent), proves it. A refusal that a router reports in an ICMP error says nothing about
// the host and does not count. Connections are non-blocking, closed the moment their answer is read
// (with a reset, so neither side keeps a half-open or lingering connection), and the whole process never
// holds more than MaxOpenConnections() of them: further attempts wait their turn.
class TTcpProbe
{
public:
    using THandler = std::function<void(const TTcpProbeResult&)>;

    TTcpProbe();
    // Cancels a probe still under way (from any thread; its connections close on the engine).
    ~TTcpProbe();
    TTcpProbe(const TTcpProbe&) = delete;
    TTcpProbe& operator=(const TTcpProbe&) = delete;

    // Engine thread. Probes address (host byte order) on every port at once, as the bound allows, for at
    // most timeoutMs. onDone is called once, on the engine: as soon as a port proves the host up, else
    // when every port has failed or the time is up (Up false). Never after Cancel.
    void Start(quint32 address, const std::vector<quint16>& ports, int timeoutMs, THandler onDone);
    // Engine thread. Closes every connection of the probe; onDone is not called.
    void Cancel();

    // The most probe connections open at once in the process: 1,024, and never more than a quarter of
    // the process's descriptor limit.
    static int MaxOpenConnections();
    // Probe connections open now, and the most open at once so far; engine thread (tests, benchmarks).
    static int OpenConnections();
    static int PeakOpenConnections();

    struct TState;

private:
    std::shared_ptr<TState> FState;
};
