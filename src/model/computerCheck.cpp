#include "core/dateTime.h"
#include "model/computers.h"
#include "net/threadPing.h"

namespace {
constexpr int CheckTimeout = 5000;
} // namespace

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
    Online = check->Outcome() == 0;
    LastPingReply = check->ReplyText();
    if (FRunningCheck == worker)
        FRunningCheck = nullptr;
    if (auto* computers = Computers(); computers && computers->OnItemUpdate.Assigned())
        computers->OnItemUpdate(this);
    NotifyUpdate();
}
