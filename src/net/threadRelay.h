// Checks and wake-ups that may travel through a relay: TRelayPingThread and TRelayWOLThread.
#pragma once

#include "net/threadPing.h"
#include "net/threadWOL.h"

// A reachability check that first finds the computer's route: an address (a host name is resolved first)
// in a relay's networks is checked by that relay, any other exactly as TPingThread checks it.
class TRelayPingThread : public TPingThread
{
public:
    TRelayPingThread(const QString& host, int timeout, int ttl);

    // Read in the completion handler: the relay that checked, and whether it could not be asked.
    const QString& RelayName() const { return FRelayName; }
    bool RelayFailed() const { return FRelayFailed; }

protected:
    void Launch() override;

private:
    void Route(bool resolved, quint32 address);

    QString FHost;
    QString FRelayName;
    bool FRelayFailed = false;
};

// A wake-up that first finds the computer's route: through the relay that serves its address, or as
// TWOLThread sends it.
class TRelayWOLThread : public TWOLThread
{
public:
    TRelayWOLThread(std::optional<TWakeTarget> target, int wakeDelay);

    // Read in the completion handler: the relay that sent, and why it could not.
    const QString& RelayName() const { return FRelayName; }
    const QString& RelayError() const { return FRelayError; }

protected:
    void Launch() override;

private:
    void DelayEnded();
    void Route(bool resolved, quint32 address);

    std::optional<TWakeTarget> FWake;
    QString FRelayName;
    QString FRelayError;
};
