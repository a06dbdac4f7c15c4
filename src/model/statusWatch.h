// Watching the status of computers: TRecheckSchedule (periodic re-checks), TWakeWatch (did a wake-up
// work) and IdentityHint (a computer that answers from another MAC address).
#pragma once

#include <functional>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// What the watchers below need from the window: start a check of a computer now, and whether one is
// still running. Computers are named by ItemID; an ItemID that no longer exists is the caller's to ignore.
struct TCheckHooks
{
    std::function<void(const QString& itemId)> CheckNow;
    std::function<bool(const QString& itemId)> IsChecking;
};

// The computers of one round of re-checks: those spread over it, and those checked elsewhere in batches
// (through a relay), which the round checks all at its first tick, so each batch holds the whole round
// instead of a sixtieth of it.
struct TRecheckRound
{
    TRecheckRound() = default;
    // A round without relays: every computer spread (so a plain list of ItemIDs is a round).
    TRecheckRound(QStringList spread) : Spread(std::move(spread)) {}
    QStringList Spread;
    QStringList Batched;
};

// Checks every computer again once per interval, spread evenly over it so that a large list does not
// start all its checks at once. A computer whose check is still running when its turn comes is left for
// the next round, so no computer is ever checked twice at a time. Main thread.
class TRecheckSchedule : public QObject
{
public:
    // computers gives the ItemIDs of a round; it is asked at the start of every round.
    TRecheckSchedule(TCheckHooks hooks, std::function<TRecheckRound()> computers, QObject* parent = nullptr);

    static constexpr int DefaultIntervalMs = 60000;

    void SetInterval(int ms);
    // The first round's first check comes an interval's share after Start, not at once: loading has just
    // checked everything.
    void Start();
    void Stop();

    // The Refresh command: checks these computers now, except those already being checked.
    void CheckNow(const QStringList& itemIds);

private:
    void Tick();
    void BeginRound();

    TCheckHooks FHooks;
    std::function<TRecheckRound()> FComputers;
    int FIntervalMs = DefaultIntervalMs;
    QTimer FTimer;
    QElapsedTimer FRoundClock;
    QStringList FRound;
    QStringList FBatched; // checked together at the round's first tick
    qsizetype FNext = 0;
};

// After a wake-up, checks the computer every few seconds until it answers or the watch runs out, and says
// which happened. The window forwards every completed check with CheckCompleted. Main thread.
class TWakeWatch : public QObject
{
public:
    using TReport = std::function<void(const QString& itemId, const QString& message)>;
    // How a watch ended; seconds: from the packet to the answer (wrAnswered only).
    enum TWakeResult
    {
        wrAnswered,
        wrNoAnswer,
        wrUnchecked,
    };
    using TResultReport =
        std::function<void(const QString& itemId, const QString& message, TWakeResult result, int seconds)>;

    TWakeWatch(TCheckHooks hooks, TReport report, QObject* parent = nullptr);

    static constexpr int DefaultPeriodMs = 3000;
    static constexpr int DefaultLimitMs = 3 * 60 * 1000;
    void SetTiming(int periodMs, int limitMs);
    // Told instead of the plain report when set.
    void SetOnResult(TResultReport report) { FOnResult = std::move(report); }

    // Starts (or restarts) watching a computer whose magic packet leaves after sendDelayMs; the times in
    // the report count from then.
    void Watch(const QString& itemId, const QString& name, int sendDelayMs = 0);
    void Forget(const QString& itemId);
    // Stops watching every computer, without reports.
    void Clear();
    bool Watching(const QString& itemId) const;

    // A check of the computer has ended; online tells its outcome, and checkable is false when no check
    // can run at all (then the watch ends at once: waiting would only end in a wrong "did not answer").
    void CheckCompleted(const QString& itemId, bool online, bool checkable = true);

private:
    struct TEntry
    {
        QString ItemId;
        QString Name;
        QElapsedTimer Clock; // started at Watch
        qint64 SendAtMs = 0;
        qint64 NextCheckMs = 0;
    };
    void Tick();
    void Report(const QString& itemId, const QString& message, TWakeResult result, int seconds);

    TCheckHooks FHooks;
    TReport FReport;
    TResultReport FOnResult;
    int FPeriodMs = DefaultPeriodMs;
    int FLimitMs = DefaultLimitMs;
    QHash<QString, TEntry> FWatches; // by ItemIDKey
    QTimer FTimer;
};

// The hint for a computer that answers from a hardware address other than every stored one; the empty text
// when the neighbour's address is unknown, matches a stored address (compared as MacDigits), or no stored
// text is a MAC address to compare with.
QString IdentityHint(const QStringList& storedMacs, const QString& neighbourMac);
