#include "model/statusWatch.h"

#include "core/texts.h"
#include "model/computers.h"
#include "net/utilsNetwork.h"

#include <QSet>
#include <utility>

TRecheckSchedule::TRecheckSchedule(TCheckHooks hooks, std::function<TRecheckRound()> computers,
                                   QObject* parent)
    : QObject(parent), FHooks(std::move(hooks)), FComputers(std::move(computers))
{
    connect(&FTimer, &QTimer::timeout, this, &TRecheckSchedule::Tick);
    SetInterval(DefaultIntervalMs);
}

void TRecheckSchedule::SetInterval(int ms)
{
    FIntervalMs = qMax(1, ms);
    // Sixty ticks a round spread the checks finely enough without waking the main thread more than once a
    // second at the default interval.
    FTimer.setInterval(qBound(10, FIntervalMs / 60, 1000));
}

void TRecheckSchedule::Start()
{
    BeginRound();
    FTimer.start();
}

void TRecheckSchedule::Stop()
{
    FTimer.stop();
    FRound.clear();
}

void TRecheckSchedule::CheckNow(const QStringList& itemIds)
{
    QSet<QString> seen;
    for (const QString& id : itemIds) {
        const QString key = ItemIDKey(id);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        if (!FHooks.IsChecking(id))
            FHooks.CheckNow(id);
    }
}

void TRecheckSchedule::BeginRound()
{
    TRecheckRound round = FComputers ? FComputers() : TRecheckRound();
    FRound = std::move(round.Spread);
    FBatched = std::move(round.Batched);
    FNext = 0;
    FRoundClock.start();
}

void TRecheckSchedule::Tick()
{
    const QStringList batched = std::exchange(FBatched, {});
    for (const QString& id : batched)
        if (!FHooks.IsChecking(id))
            FHooks.CheckNow(id);
    const qint64 elapsed = FRoundClock.elapsed();
    const qsizetype count = FRound.size();
    // Computer i is due once (i + 1) / count of the interval has passed.
    const qsizetype due = qMin<qint64>(count, elapsed * count / FIntervalMs);
    // A tick may run a callback that ends up stopping or restarting this schedule; work on a copy.
    const QStringList round = FRound;
    for (qsizetype i = FNext; i < due; ++i) {
        FNext = i + 1;
        if (!FHooks.IsChecking(round[i]))
            FHooks.CheckNow(round[i]);
    }
    if (elapsed >= FIntervalMs && FTimer.isActive())
        BeginRound();
}

TWakeWatch::TWakeWatch(TCheckHooks hooks, TReport report, QObject* parent)
    : QObject(parent), FHooks(std::move(hooks)), FReport(std::move(report))
{
    connect(&FTimer, &QTimer::timeout, this, &TWakeWatch::Tick);
    SetTiming(DefaultPeriodMs, DefaultLimitMs);
}

void TWakeWatch::SetTiming(int periodMs, int limitMs)
{
    FPeriodMs = qMax(1, periodMs);
    FLimitMs = qMax(0, limitMs);
    FTimer.setInterval(qBound(10, FPeriodMs / 6, 500));
}

void TWakeWatch::Watch(const QString& itemId, const QString& name, int sendDelayMs)
{
    TEntry entry;
    entry.ItemId = itemId;
    entry.Name = name;
    entry.Clock.start();
    entry.SendAtMs = qMax(0, sendDelayMs);
    entry.NextCheckMs = entry.SendAtMs + FPeriodMs;
    FWatches.insert(ItemIDKey(itemId), entry);
    if (!FTimer.isActive())
        FTimer.start();
}

void TWakeWatch::Forget(const QString& itemId)
{
    FWatches.remove(ItemIDKey(itemId));
}

bool TWakeWatch::Watching(const QString& itemId) const
{
    return FWatches.contains(ItemIDKey(itemId));
}

void TWakeWatch::Clear()
{
    FWatches.clear();
    FTimer.stop();
}

void TWakeWatch::CheckCompleted(const QString& itemId, bool online, bool checkable)
{
    const auto found = FWatches.constFind(ItemIDKey(itemId));
    if ((!online && checkable) || found == FWatches.cend())
        return;
    const qint64 sinceSend = found->Clock.elapsed() - found->SendAtMs;
    // A check that ended before the packet left says nothing about the wake-up.
    if (sinceSend < 0)
        return;
    const QString id = found->ItemId;
    const int seconds = int((sinceSend + 500) / 1000);
    // All values in one step: a name holding "%2" stays as it is.
    const QString message =
        checkable ? Res::Str(Res::WakeAnswered).arg(found->Name, QString::number(seconds))
                  : Res::Str(Res::WakeUnchecked).arg(found->Name, Res::Str(Res::ChecksUnavailable));
    FWatches.erase(found);
    Report(id, message, checkable ? wrAnswered : wrUnchecked, seconds);
}

void TWakeWatch::Report(const QString& itemId, const QString& message, TWakeResult result, int seconds)
{
    if (FOnResult)
        FOnResult(itemId, message, result, seconds);
    else if (FReport)
        FReport(itemId, message);
}

void TWakeWatch::Tick()
{
    QList<std::pair<QString, QString>> reports;
    QStringList checks;
    for (auto it = FWatches.begin(); it != FWatches.end();) {
        const qint64 now = it->Clock.elapsed();
        if (now >= it->SendAtMs + FLimitMs) {
            reports.append({it->ItemId, Res::Str(Res::WakeNoAnswer).arg(it->Name)});
            it = FWatches.erase(it);
            continue;
        }
        // A check that is still running (a periodic one, say) is waited for: its end counts as well.
        if (now >= it->NextCheckMs && !FHooks.IsChecking(it->ItemId)) {
            checks.append(it->ItemId);
            it->NextCheckMs = now + FPeriodMs;
        }
        ++it;
    }
    if (FWatches.isEmpty())
        FTimer.stop();
    // Callbacks last: they may watch or forget computers.
    for (const QString& id : checks)
        FHooks.CheckNow(id);
    for (const auto& [id, message] : reports)
        Report(id, message, wrNoAnswer, 0);
}

QString IdentityHint(const QStringList& storedMacs, const QString& neighbourMac)
{
    const QString seen = MacDigits(neighbourMac);
    if (seen.isEmpty())
        return {};
    bool anyStored = false;
    for (const QString& stored : storedMacs) {
        const QString known = MacDigits(stored);
        if (known.isEmpty())
            continue;
        anyStored = true;
        if (known == seen)
            return {};
    }
    return anyStored ? Res::Str(Res::IdentityDiffers).arg(neighbourMac.toUpper()) : QString();
}
