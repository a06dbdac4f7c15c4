// The New computer command of the main window: part of TfrmMain, in a file of its own to keep frmMain.cpp
// short.
#include "app/frmMain.h"
#include "dialogs/wizNewComp.h"
#include "model/computers.h"
#include "model/openDatabase.h"
#include "ui/macEdit.h"

#include <memory>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>

void TfrmMain::acNewCompManualExecute()
{
    NewComputer();
}

void TfrmMain::NewComputer()
{
    // Without a root group there is nothing to add to (the command is disabled then too).
    if (!Root())
        return;

    // Released however the command ends, an error from the model included.
    auto wizard = std::make_unique<TfrmWizNewComp>(this);
    wizard->SetNameTaken([this](const QString& name) { return NameTaken(name); });
    if (wizard->exec() != QDialog::Accepted)
        return;
    // The window may have lost its group while the wizard ran.
    // Adding raises the group's change notice: the new computer is saved at once.
    TComputer* computer = FDatabase->AddComputer();
    if (!computer)
        return;
    computer->SetName(wizard->edComputername->text());
    computer->IPAddress = wizard->edIPAddress->text();
    switch (wizard->cbSendOptions->currentIndex()) {
    case 0:
        computer->SendOptions = soLAN;
        break;
    case 1:
        computer->SendOptions = soInternet;
        break;
    default:
        break; // no item chosen: the default stays
    }
    TMACAddress* adapter = computer->MACAddresses()->Add();
    adapter->Address = wizard->edMACAddress->MaskedText();
    adapter->UseForWake = true;

    AddTreeEntry(computer->ItemID());
    FDatabase->StartCheck(computer);
    // Saved again, now with the values entered.
    computer->NotifyUpdate();
    UpdateActions();
}
