// The main window's Properties and About commands: part of TfrmMain, in a file of its own to keep frmMain.cpp
// short.
#include "app/frmMain.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgComputer.h"
#include "dialogs/dlgRelays.h"
#include "dialogs/dlgSchedule.h"
#include "model/computers.h"
#include "model/openDatabase.h"

#include <memory>

void TfrmMain::acEditPropertiesExecute()
{
    EditComputer();
}

void TfrmMain::EditComputer()
{
    // Only the first selected row is edited, however many are selected.
    const QStringList selected = SelectedItemIDs();
    if (selected.isEmpty() || !Root())
        return;
    const QString itemID = selected.first();
    TComputer* computer = Root()->FindComputer(itemID);
    if (!computer)
        return;

    // Released when the command ends, also when an error ends it.
    auto dialog = std::make_unique<TfrmComputer>(this);
    dialog->Computer()->Assign(*computer);
    dialog->SetNameTaken([this, itemID](const QString& name) { return NameTaken(name, itemID); });
    dialog->LoadFromComputer();
    dialog->SetModified(false);
    if (dialog->exec() != QDialog::Accepted)
        return;

    // The dialog ran an event loop: look the computer up again rather than trust the old pointer.
    computer = Root() ? Root()->FindComputer(itemID) : nullptr;
    if (!computer)
        return;
    computer->Assign(*dialog->Computer());
    // The open database's clock tests every schedule from start-up on; nothing to switch here.
    computer->NotifyUpdate();
}

bool TfrmMain::NameTaken(const QString& name, const QString& exceptItemID) const
{
    const TGroup* root = Root();
    if (!root)
        return false;
    const QString except = ItemIDKey(exceptItemID);
    const TComputers* computers = root->Computers();
    for (int i = 0; i < computers->Count(); ++i) {
        const TComputer* computer = computers->Items(i);
        if (computer->Name().compare(name, Qt::CaseInsensitive) == 0 &&
            (except.isEmpty() || ItemIDKey(computer->ItemID()) != except))
            return true;
    }
    return false;
}

void TfrmMain::acToolsScheduleExecute()
{
    if (!Root())
        return;
    auto dialog = std::make_unique<TfrmSchedule>(this);
    dialog->Load(Root()->Schedule());
    if (dialog->exec() != QDialog::Accepted || !Root())
        return;
    Root()->Schedule().Assign(dialog->Schedule());
    // Saved at once, as every change of the user's.
    Root()->Computers()->NotifyUpdate();
}

void TfrmMain::acToolsRelaysExecute()
{
    auto relays = std::make_unique<TfrmRelays>(this);
    relays->exec();
    // Routes may have changed: every computer is checked along its route now.
    if (FDatabase)
        FDatabase->Refresh({});
}

void TfrmMain::acHelpAboutExecute()
{
    auto about = std::make_unique<TfrmAbout>(this);
    about->exec();
}
