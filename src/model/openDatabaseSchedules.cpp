// The schedules of the open database: part of TOpenDatabase, in a file of its own.
#include "model/computers.h"
#include "model/openDatabase.h"
#include "timing/scheduleClock.h"

#include <utility>

void TOpenDatabase::StartSchedules(int wakeDelay)
{
    FScheduleWakeDelay = wakeDelay;
    if (!FScheduleClock)
        FScheduleClock = std::make_unique<TScheduleClock>([this] {
            const QStringList due = FireDueSchedules(::Now());
            if (!due.isEmpty())
                Wake(due, FScheduleWakeDelay);
        });
    FScheduleClock->Start();
}

QStringList TOpenDatabase::FireDueSchedules(TDateTime now)
{
    FScheduled.clear();
    FScheduledSeen.clear();
    if (!FRoot || FClosed)
        return {};
    const TScheduleMoment moment = TScheduleMoment::Of(now);
    // Every firing saves; one tick that fires many saves once, at its end.
    FBatch = true;
    FBatchChanged = false;
    FRoot->CheckSchedule(moment);
    TComputers* computers = FRoot->Computers();
    for (int i = 0; i < computers->Count(); ++i) {
        TComputer* computer = computers->Items(i);
        if (!computer->Schedule().UseSchedule)
            continue;
        HookSchedule(computer);
        computer->CheckSchedule(moment);
    }
    FBatch = false;
    if (FBatchChanged)
        Save();
    FScheduledSeen.clear();
    return std::exchange(FScheduled, {});
}

void TOpenDatabase::HookSchedule(TComputer* computer)
{
    // Every computer gets the receiver the first time its schedule is tested, however it came into the
    // group (loaded, added, or confirmed in the properties dialog).
    if (computer->OnSchedule.Receiver() == this)
        return;
    computer->OnSchedule.Set(this, [this](TObject* sender, const QString&, const QString&, const QString&) {
        CollectScheduled(dynamic_cast<TComputer*>(sender));
    });
}

void TOpenDatabase::CollectScheduled(const TComputer* computer)
{
    // One wake-up per computer and firing, as the Activate command sends it, however many adapters.
    if (computer && !FScheduledSeen.contains(computer)) {
        FScheduledSeen.insert(computer);
        FScheduled.append(computer->ItemID());
    }
}
