// The schedules of the open database: part of TOpenDatabase, in a file of its own.
#include "model/computers.h"
#include "model/openDatabase.h"
#include "net/threadWOL.h"
#include "timing/scheduleClock.h"

#include <QPointer>
#include <utility>

void TOpenDatabase::StartSchedules(int wakeDelay)
{
    FScheduleWakeDelay = wakeDelay;
    if (!FScheduleClock)
        FScheduleClock = std::make_unique<TScheduleClock>([this] {
            const QStringList due = FireDueSchedules(::Now());
            QPointer<TOpenDatabase> self(this);
            if (!due.isEmpty())
                Wake(due, FScheduleWakeDelay, [self](const QString& id, bool sent) {
                    if (self)
                        self->ScheduledWakeEnded(id, sent);
                });
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
    // Stamped before its packets had left, a firing that a kill cut off was lost; a packet sent twice
    // is harmless. So the stamp waits for the packets, and until then the firing is under way.
    const auto fire = [&](const QString& owner, const auto& check) {
        const qsizetype before = FScheduled.size();
        if (FFirings.contains(owner) || !check() || FScheduled.size() == before)
            return;
        TFiring& firing = FFirings[owner];
        firing.When = now;
        for (qsizetype i = before; i < FScheduled.size(); ++i)
            firing.Waiting.insert(ItemIDKey(FScheduled.at(i)));
    };
    fire(QString(), [&] { return FRoot->CheckSchedule(moment, false); });
    TComputers* computers = FRoot->Computers();
    for (int i = 0; i < computers->Count(); ++i) {
        TComputer* computer = computers->Items(i);
        if (!computer->Schedule().UseSchedule)
            continue;
        HookSchedule(computer);
        fire(ItemIDKey(computer->ItemID()), [&] { return computer->CheckSchedule(moment, false); });
    }
    FScheduledSeen.clear();
    return std::exchange(FScheduled, {});
}

void TOpenDatabase::ScheduledWakeEnded(const QString& itemID, bool sent)
{
    const QString key = ItemIDKey(itemID);
    // A packet the network refused may leave next time; one that cannot be built never will.
    if (!sent) {
        const TComputer* computer = FRoot ? FRoot->FindComputer(itemID) : nullptr;
        sent = !computer || !TWOLThread::BuildMagicPacket(computer->WakeMAC());
    }
    for (const QString& owner : {key, QString()}) {
        const auto firing = FFirings.find(owner);
        if (firing == FFirings.end() || !firing->Waiting.remove(key))
            continue;
        firing->Unsent = firing->Unsent || !sent;
        if (!firing->Waiting.isEmpty())
            continue;
        const TDateTime when = firing->When;
        const bool unsent = firing->Unsent;
        FFirings.erase(firing);
        // Left unstamped, the firing is due again at the next test within its start hour.
        if (!FRoot || unsent)
            continue;
        // Saved with the next save, as a check's result is: a stamp lost to a kill only means one more
        // packet.
        const bool batch = std::exchange(FBatch, true);
        const bool changed = FBatchChanged;
        if (owner.isEmpty())
            FRoot->StampSchedule(when);
        else if (TComputer* computer = FRoot->FindComputer(itemID))
            computer->StampSchedule(when);
        FBatch = batch;
        FBatchChanged = changed;
        MarkResult();
    }
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
