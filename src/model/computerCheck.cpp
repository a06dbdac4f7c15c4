#include "core/dateTime.h"
#include "core/texts.h"
#include "model/computers.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "net/threadPing.h"

namespace {
constexpr int CheckTimeout = 5000;

// Completions run on the main thread only, one at a time.
TCheckChange CurrentCheckChange = TCheckChange::None;

// Marks the group's change notice as a check's report for as long as it runs.
class TCheckReport
{
public:
    explicit TCheckReport(TCheckChange change) : FPrevious(CurrentCheckChange)
    {
        CurrentCheckChange = change;
    }
    ~TCheckReport() { CurrentCheckChange = FPrevious; }
    TCheckReport(const TCheckReport&) = delete;
    TCheckReport& operator=(const TCheckReport&) = delete;

private:
    TCheckChange FPrevious;
};
// Two answers from the same address that differ only in their round-trip time: the time wobbles from one
// check to the next, and saving the whole file for it would keep the disk busy while nothing changed.
bool OnlyTimeDiffers(const QString& before, const QString& after, const QString& from)
{
    if (before == after)
        return true;
    const QStringList parts = Res::Str(Res::PingResponse).arg(from, QStringLiteral("\x01")).split(QChar(1));
    if (parts.size() != 2)
        return false;
    auto matches = [&parts](const QString& text) {
        return text.size() > parts[0].size() + parts[1].size() && text.startsWith(parts[0]) &&
               text.endsWith(parts[1]);
    };
    return matches(before) && matches(after);
}

} // namespace

TCheckChange CompletingCheck()
{
    return CurrentCheckChange;
}

void TComputer::CheckOnline()
{
    // A newer check supersedes a running one, whose result must then never reach the computer.
    DetachRunningCheck();
    auto* worker = new TPingThread(IPAddress, CheckTimeout, -1);
    worker->SetOnTerminate([this](TWorkerThread* sender) { CheckCompleted(sender); });
    worker->SetSequence(PingSequence);
    LastPingDate = Now();
    worker->Start();
    FRunningCheck = worker;
}

void TComputer::CheckCompleted(TWorkerThread* worker)
{
    auto* check = static_cast<TPingThread*>(worker);
    const bool online = check->Outcome() == 0;
    QString reply = check->ReplyText();
    // A result that is the same as before only brings a new date: the file may learn it later.
    const bool same =
        online == Online &&
        (online ? OnlyTimeDiffers(LastPingReply, reply, check->FromAddress()) : reply == LastPingReply);
    const TCheckChange change = same ? TCheckChange::Stale : TCheckChange::Result;
    QStringList stored;
    if (const TMACAddresses* adapters = MACAddresses())
        for (int i = 0; i < adapters->Count(); ++i)
            stored << adapters->Items(i)->Address;
    IdentityWarning = online ? IdentityHint(stored, check->NeighbourMac()) : QString();
    Online = online;
    LastPingReply = std::move(reply);
    if (FRunningCheck == worker)
        FRunningCheck = nullptr;
    if (auto* computers = Computers(); computers && computers->OnItemUpdate.Assigned())
        computers->OnItemUpdate(this);
    // The listener of the group decides how soon a check's result is written.
    const TCheckReport report(change);
    NotifyUpdate();
}
