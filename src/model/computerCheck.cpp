#include "core/dateTime.h"
#include "model/computers.h"
#include "model/openDatabase.h"
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
    const TCheckChange change =
        online != Online || reply != LastPingReply ? TCheckChange::Result : TCheckChange::Stale;
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
