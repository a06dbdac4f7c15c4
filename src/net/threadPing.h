// The reachability check, TPingThread; worker units are named thread*, their classes T*Thread.
#pragma once

#include "core/worker.h"
#include "net/icmpClient.h"
#include "net/tcpProbe.h"

#include <memory>
#include <QString>
#include <vector>

// The text with every CR LF pair replaced by one blank.
QString SingleLine(const QString& text);

// One reachability check: after a short pause, one echo request to the host and the wait for its answer,
// turned into an outcome and a one-line reply text. Results are read in the completion handler.
// A check owns no thread: its pause and its wait are timers of the worker engine.
// With TCP ports given, a request still unanswered after TcpProbeDelay is joined by TCP probes of those
// ports (at once when there is no ICMP socket): a host that drops echo requests but accepts or refuses a
// connection is online too. Whichever proves the host up first ends the check.
class TPingThread : public TWorkerThread
{
public:
    static constexpr int DefaultTimeout = 5000;
    static constexpr int StartPause = 500;
    static constexpr int TcpProbeDelay = 300;
    // A host that has not answered a connection by then is taken as not answering on TCP, so a sweep
    // over many silent hosts frees its probe connections for the next ones soon.
    static constexpr int TcpProbeWait = 2000;

    // timeout in milliseconds (0: 5000); ttl -1 leaves the default of 128.
    TPingThread(const QString& host, int timeout, int ttl);
    ~TPingThread() override;

    // Main thread, before Start.
    void SetSequence(quint16 sequence) { FSequence = sequence; }
    quint16 Sequence() const { return FSequence; }
    void SetTcpPorts(std::vector<quint16> ports) { FTcpPorts = std::move(ports); }
    // When the check began, if earlier than Start (a load starts its checks as it reads the computers
    // and makes their workers after): the pause counts from then.
    void SetStartedAt(TWorkerEngine::TClock::time_point when) { FStartedAt = when; }

    // The result, complete once the worker has ended.
    quint8 Outcome() const { return FOutcome; }
    const QString& ReplyText() const
    {
        WriteTexts();
        return FReplyText;
    }
    const QString& FromAddress() const
    {
        WriteTexts();
        return FFromAddress;
    }
    int ReceivedBytes() const { return FReceivedBytes; }
    quint32 RoundTripTime() const { return FRoundTripTime; }
    quint8 AnswerTTL() const { return FAnswerTTL; }
    // For an answered check: the hardware address the neighbour table holds for the answering address
    // (empty when it holds none, as for a host behind a router).
    const QString& NeighbourMac() const { return FNeighbourMac; }
    // True when a TCP port, not an echo reply, showed the host up.
    bool ByTcp() const { return FByTcp; }
    // True when the check could not run at all: no ICMP socket, and no TCP ports to probe instead.
    bool NoSocket() const { return FNoSocket; }

protected:
    void Launch() override;
    // A result that came from elsewhere (a relay); the caller then calls Finish.
    void SetResult(quint8 outcome, const QString& replyText, const QString& fromAddress, bool byTcp = false)
    {
        FTextId = NoText;
        FByTcp = byTcp;
        FOutcome = outcome;
        FReplyText = replyText;
        FFromAddress = fromAddress;
    }

private:
    // Engine: ends the pauses that are due, a batch at a time.
    static void EndPauses();
    void AfterPause();
    void Reply(const TReplyStatus& status);
    void Failed(const QString& message);
    void Answered();
    void StartProbe(int timeoutMs, bool onlyWay);
    void StopProbe();
    // The texts of a result are written when first read (on the main thread), not on the engine: a
    // burst of thousands of answers then costs the engine no strings.
    void SetTextLater(int textId, quint32 from, quint32 number);
    void WriteTexts() const;

    std::unique_ptr<TIcmpClient> FClient;
    TTcpProbe FProbe;
    std::vector<quint16> FTcpPorts;
    TWorkerEngine::TClock::time_point FStartedAt{};
    quint32 FAddress = 0;
    bool FResolved = false;
    bool FByTcp = false;
    quint32 FStartTick = 0;
    TWorkerEngine::TTimerId FProbeTimer = 0;
    QString FHost;
    int FTimeout;
    int FTTL;
    quint16 FSequence = 0;

    quint8 FOutcome = 0;
    // The text still to be written: a text's id, AddressOnly (no reply text), or NoText (written).
    static constexpr int NoText = -1;
    static constexpr int AddressOnly = -2;
    mutable int FTextId = NoText;
    quint32 FTextFrom = 0;
    quint32 FTextNumber = 0;
    mutable QString FReplyText;
    mutable QString FFromAddress;
    int FReceivedBytes = 0;
    quint32 FRoundTripTime = 0;
    quint8 FAnswerTTL = 0;
    QString FNeighbourMac;
    bool FNoSocket = false;
};
