// The relays of this run (TRelayHub): the route of an address, batched checks, wake-ups and tests.
#pragma once

#include "net/relayClient.h"
#include "net/relays.h"

#include <functional>
#include <memory>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <vector>

// The relays of relays.conf as read at the first use in this run or the last ReloadRelays. Any thread.
std::shared_ptr<const std::vector<TRelay>> CurrentRelays();
bool RelaysConfigured();
// Reads relays.conf again; problems of its groups go to problems.
void ReloadRelays(QStringList* problems = nullptr);
// The name of the relay that serves an address; empty when none does. Any thread.
QString RelayNameFor(quint32 address);

struct TRelayCheckResult
{
    bool Online = false;
    bool RelayFailed = false; // the relay could not be asked; Reply names it and says why
    QString Reply;            // the reply text as a local check gives it, with the relay's name
    QString From;             // the answering address, when online
    bool ByTcp = false;       // a TCP port answered, not ping
};

struct TRelayWakeRequest
{
    QString Mac;               // canonical: 00:11:22:33:44:55
    quint32 Address = 0;       // the computer's address
    quint32 MaskBroadcast = 0; // the stored mask's broadcast, for a relay without an interface list
    bool Direct = false;       // send to the address itself instead of a broadcast
    quint16 Port = 9;
};

struct TRelayTestResult
{
    bool Ok = false;
    qint64 RoundTripMs = 0;
    QString WakeTool;  // empty when the relay has none (and no command of its own)
    QString CheckTool; // fping or ping
    QString Error;
};

// Everything done through relays in this process: one TRelayClient (one shared ssh connection) per relay,
// checks gathered into one exchange per relay per round, wake-ups and tests. Main thread; results come
// back through the callbacks, always exactly once.
class TRelayHub : public QObject
{
public:
    static TRelayHub& Instance();

    // Checks travel together until none has come for this long, at most GatherMaxMs after the first: a
    // long burst (thousands of computers, the relays' in any order) stays one exchange per relay.
    static constexpr int GatherMs = 100;
    static constexpr int GatherMaxMs = 1000;
    static constexpr int CheckTimeoutSeconds = 5;
    // Longest time the relay spends on TCP probes of the computers that did not answer the echo request.
    static constexpr int TcpPhaseSeconds = 3;
    static constexpr int TcpParallel = 128;
    // The most a relay's answer may hold for one address (an echo reply and a line per probed port), or for
    // one wake-up (the failing tool's last words); a test's answer is a few short lines.
    static constexpr qint64 OutputPerAddress = 512;
    static constexpr qint64 TestOutput = 4096;
    // The longest round-trip time a relay's echo reply may state.
    static constexpr double MaxRoundTripMs = 60000;

    using TCheckDone = std::function<void(const TRelayCheckResult&)>;
    void Check(const QString& relay, quint32 address, TCheckDone done);
    // Wake-ups gather the same way.
    static constexpr int WakeGatherMs = 50;
    static constexpr int WakeGatherMaxMs = 500;
    // done gets the empty text when the packet left the relay, otherwise the reason naming the relay.
    using TWakeDone = std::function<void(const QString& error)>;
    void Wake(const QString& relay, const TRelayWakeRequest& request, TWakeDone done);
    void Test(const QString& relay, std::function<void(const TRelayTestResult&)> done);
    // Ends the shared connections that this process started (a command-line run, as it ends); waits for
    // ssh to end them when asked to.
    void CloseConnections(bool wait = false);

    // The remote scripts; every value in them has been checked and is quoted.
    static QByteArray CheckScript(const QList<quint32>& addresses, const std::vector<quint16>& ports);
    static QByteArray WakeScript(const QList<TRelayWakeRequest>& requests, const QString& command);
    static QByteArray TestScript(const QString& command);
    // The result of each address from a check script's output.
    static QHash<quint32, TRelayCheckResult> ParseCheckOutput(const QByteArray& output, const QString& relay);
    // A MAC text ("00-11-22-33-44-55" and the like) as 00:11:22:33:44:55; empty when it is no MAC.
    static QString CanonicalMac(const QString& mac);

private:
    TRelayHub() { FClock.start(); }
    TRelayClient* Client(const TRelay& relay);
    const TRelay* FindRelay(const QString& name);
    void Flush(const QString& relay);
    void FlushWakes(const QString& relay);

    // Requests of one relay waiting for their exchange.
    struct TGathering
    {
        qint64 FirstMs = 0; // when the first of them came (FClock)
        qint64 LastMs = 0;  // when the last one came
        bool Scheduled = false;
        bool InFlight = false;
    };
    // Notes a request's arrival; true when a flush must be scheduled.
    bool Arrived(TGathering& gathering, bool first);
    // The time still to wait for more requests (0 when they go now).
    int GatherMore(const TGathering& gathering, int quietMs, int maxMs) const;
    struct TPending : TGathering
    {
        QList<QPair<quint32, TCheckDone>> Items;
    };
    QHash<QString, TRelayClient*> FClients; // by name and destination; kept for the run
    QHash<QString, TPending> FChecks;
    struct TPendingWakes : TGathering
    {
        QList<QPair<TRelayWakeRequest, TWakeDone>> Items;
    };
    QHash<QString, TPendingWakes> FWakes;
    std::shared_ptr<const std::vector<TRelay>> FRelays; // keeps what FindRelay returned alive
    QElapsedTimer FClock;
};
