#include "app/requestChanges.h"

#include "app/frmMain.h"
#include "app/tableModel.h"
#include "model/computers.h"
#include "model/openDatabase.h"

#include <vector>

void FollowRequestChanges(TfrmMain& window)
{
    TOpenDatabase* database = window.OpenDatabase();
    if (!database)
        return;
    QObject::connect(database, &TOpenDatabase::ComputersAdded, &window, [&window](const QStringList& ids) {
        TOpenDatabase* open = window.OpenDatabase();
        for (const QString& id : ids) {
            if (TComputer* computer = open && open->Root() ? open->Root()->FindComputer(id) : nullptr) {
                window.AddTreeEntry(id);
                open->StartCheck(computer);
            }
        }
        window.UpdateActions();
    });
    // Queued: the window's own Delete removes its rows right after the deletion, and finds them gone.
    QObject::connect(
        database, &TOpenDatabase::ComputersDeleted, &window,
        [&window] {
            TComputerTableModel* model = window.VSTModel;
            std::vector<const TTreeEntry*> gone;
            for (int row = 0; row < model->rowCount(); ++row) {
                if (!model->Computer(row))
                    gone.push_back(model->Entry(row));
            }
            if (gone.empty())
                return;
            model->RemoveEntries(gone);
            window.UpdateActions();
        },
        Qt::QueuedConnection);
}
