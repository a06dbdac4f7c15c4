#include "model/computers.h"
#include "net/threadWOL.h"

namespace {

TWakeTarget WakeTargetOf(const TComputer& computer)
{
    TWakeTarget target;
    if (const TMACAddresses* adapters = computer.MACAddresses()) {
        for (int i = 0; i < adapters->Count(); ++i) {
            const TMACAddress* adapter = adapters->Items(i);
            if (adapter && adapter->UseForWake) {
                target.MACAddress = adapter->Address;
                break;
            }
        }
    }
    target.Internet = computer.SendOptions == soInternet;
    target.IPAddress = computer.IPAddress;
    target.SubNet = computer.SubNet;
    target.Port = computer.Port;
    return target;
}

} // namespace

bool TGroup::WakeComputerByID(const QString& itemID, int delay, std::function<void()> onEnd,
                              std::function<void(const QString& destination)> onOffLink)
{
    const TComputer* computer = FindComputer(itemID);
    if (!computer)
        return false;
    // The sender takes its copy of the computer's values now, so deleting or editing the computer
    // during the delay can never leave it reading freed memory.
    auto* sender = new TWOLThread(WakeTargetOf(*computer), delay);
    if (onEnd || onOffLink)
        sender->SetOnTerminate(
            [onEnd = std::move(onEnd), onOffLink = std::move(onOffLink)](TWorkerThread* worker) {
                const auto* done = static_cast<const TWOLThread*>(worker);
                if (onOffLink && done->Sent() && done->Route().OffLink)
                    onOffLink(done->Route().Destination);
                if (onEnd)
                    onEnd();
            });
    sender->Start();
    return true;
}
