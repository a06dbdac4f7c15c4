// The Scan network command of the main window: part of TfrmMain, in a file of its own.
#include "app/frmMain.h"
#include "core/texts.h"
#include "dialogs/dlgScan.h"
#include "model/computers.h"
#include "model/openDatabase.h"
#include "model/scanResults.h"

#include <memory>

void TfrmMain::acToolsScanExecute()
{
    if (!Root())
        return;
    auto dialog = std::make_unique<TfrmScan>(Root(), ReadScanSettings(), this);
    if (dialog->exec() != QDialog::Accepted || !Root())
        return;
    // The database may have changed while the dialog was open: what is known now is skipped.
    std::vector<TScanHost> hosts;
    for (const TScanHost& host : dialog->SelectedHosts())
        if (!KnownComputer(*Root(), host))
            hosts.push_back(host);
    const auto added = AddScannedHosts(*FDatabase, hosts, dialog->HostMask());
    for (TComputer* computer : added) {
        AddTreeEntry(computer->ItemID());
        FDatabase->StartCheck(computer);
    }
    ShowStatus(Res::Str(Res::ScanAdded).arg(added.size()));
    UpdateActions();
}
