#include "app/commandRunner.h"
#include "app/frmMain.h"
#include "app/requestChanges.h"
#include "app/tableModel.h"
#include "app/treeView.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgComputer.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "timing/scheduleClock.h"
#include "timing/threadTimer.h"
#include "ui/messageBoxes.h"

#include <functional>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QStringList Names = {QStringLiteral("ALPHA"), QStringLiteral("BRAVO"), QStringLiteral("CHARLIE"),
                           QStringLiteral("DELTA")};

// A database as an earlier run left it: four computers on loopback addresses, so the checks that the
// window starts at load stay on this machine.
void WriteDatabase(const QString& dir)
{
    TOstrelDatabase db;
    db.FileName = dir + QStringLiteral("/network.ccn");
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (int i = 0; i < Names.size(); ++i) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(Names[i]);
        computer->IPAddress = QStringLiteral("127.0.0.%1").arg(i + 1);
        TMACAddress* adapter = computer->MACAddresses()->Add();
        adapter->Address = QStringLiteral("00-11-22-33-44-5%1").arg(i);
    }
    QString error;
    QVERIFY2(SaveGroup(group, &error), qPrintable(error));
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TComputer* ByName(TGroup* root, const QString& name)
{
    for (int i = 0; i < root->Computers()->Count(); ++i)
        if (root->Computers()->Items(i)->Name() == name)
            return root->Computers()->Items(i);
    return nullptr;
}

// The main window on a temporary database, counting the saves that the model asks for.
struct TWindow
{
    QTemporaryDir Dir;
    std::unique_ptr<TfrmMain> Window;
    int Saves = 0;
    int Checks = 0;

    bool Open()
    {
        if (!Dir.isValid())
            return false;
        WriteDatabase(Dir.path());
        Window = std::make_unique<TfrmMain>(Dir.path() + "/network.ccn");
        TGroup* root = Window->Root();
        if (!root)
            return false;
        TNotifyEvent update = root->OnUpdate;
        root->OnUpdate.Set(this, [this, update](TObject* sender) {
            update(sender);
            ++Saves;
        });
        TNotifyEvent item = root->Computers()->OnItemUpdate;
        root->Computers()->OnItemUpdate.Set(this, [this, item](TObject* sender) {
            ++Checks;
            item(sender);
        });
        Window->show();
        // Let the checks started at load finish, so that their saves don't mix with the command's.
        const bool checked = QTest::qWaitFor([this] { return Checks >= Names.size(); }, 15000);
        // Their results are written by the database's writer thread a moment later: written now, so a
        // test that compares the file finds no late save of theirs.
        Window->OpenDatabase()->SaveNow();
        Saves = 0;
        return checked;
    }
    QString FileName() const { return Dir.filePath(QStringLiteral("network.ccn")); }
    // Selects rows by the computers' names.
    void Select(const QStringList& names) const
    {
        QItemSelectionModel* selection = Window->VST->selectionModel();
        selection->clearSelection();
        for (int row = 0; row < Window->VSTModel->rowCount(); ++row) {
            const TTreeEntry* entry = Window->VSTModel->Entry(row);
            const TComputer* computer = entry ? Window->Root()->FindComputer(entry->ItemID) : nullptr;
            if (computer && names.contains(computer->Name()))
                selection->select(Window->VSTModel->index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        Window->UpdateActions();
    }
};

// Runs action once the next modal dialog is up; records which dialog it was.
template <typename TDialog> void WhenModal(QPointer<TDialog>* seen, std::function<void(TDialog*)> action)
{
    QTimer::singleShot(0, [seen, action] {
        auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            // Not up yet (or never coming): try again shortly, bounded by the test's own checks.
            if (!QApplication::activeModalWidget())
                QTimer::singleShot(10, [seen, action] {
                    if (auto* late = qobject_cast<TDialog*>(QApplication::activeModalWidget())) {
                        *seen = late;
                        action(late);
                    }
                });
            return;
        }
        *seen = dialog;
        action(dialog);
    });
}

} // namespace

class TestFrmMainEdit : public QObject
{
    Q_OBJECT

private slots:
    void confirmEditsFirstSelectedAndSavesOnce_data()
    {
        QTest::addColumn<bool>("useSchedule");
        QTest::newRow("schedule in use") << true;
        QTest::newRow("schedule not in use") << false;
    }
    void confirmEditsFirstSelectedAndSavesOnce()
    {
        QFETCH(bool, useSchedule);
        TMessageRecorder recorder;
        TWindow w;
        QVERIFY(w.Open());
        TGroup* root = w.Window->Root();
        TComputer* bravo = ByName(root, QStringLiteral("BRAVO"));
        QVERIFY(bravo);
        const QString bravoID = bravo->ItemID();
        bravo->Schedule().UseSchedule = useSchedule;
        // One clock tests every schedule from start-up on; the dialog switches none.
        QVERIFY(w.Window->OpenDatabase()->ScheduleClock() &&
                w.Window->OpenDatabase()->ScheduleClock()->Active());

        w.Select({QStringLiteral("BRAVO"), QStringLiteral("CHARLIE"), QStringLiteral("DELTA")});
        QVERIFY(w.Window->acEditProperties->isEnabled());
        QPointer<TfrmComputer> seen;
        QString shownName;
        WhenModal<TfrmComputer>(&seen, [&shownName](TfrmComputer* dialog) {
            shownName = dialog->edName->text();
            QVERIFY(!dialog->btnOK->isEnabled());
            dialog->edName->setText(QStringLiteral("BRAVO-2"));
            dialog->edIPAddress->setText(QStringLiteral("127.0.0.42"));
            dialog->btnOK->click();
        });
        w.Window->acEditProperties->trigger();

        QCOMPARE(shownName, QStringLiteral("BRAVO"));
        QVERIFY(seen.isNull()); // released by the command
        QVERIFY2(recorder.Shown().isEmpty(), qPrintable(recorder.Shown().value(0).Text));
        QCOMPARE(w.Saves, 1);
        TComputer* edited = root->FindComputer(bravoID);
        QVERIFY(edited);
        QCOMPARE(edited->Name(), QStringLiteral("BRAVO-2"));
        QCOMPARE(edited->IPAddress, QStringLiteral("127.0.0.42"));
        QCOMPARE(edited->Schedule().UseSchedule, useSchedule);
        QVERIFY(w.Window->OpenDatabase()->ScheduleClock()->Active());
        QVERIFY(ByName(root, QStringLiteral("CHARLIE")));
        QVERIFY(ByName(root, QStringLiteral("DELTA")));

        // What was saved is what a later run reads.
        w.Window.reset();
        TOstrelDatabase db;
        db.FileName = w.FileName();
        std::unique_ptr<TGroup> stored = LoadDatabase(db);
        QVERIFY(stored);
        TComputer* reread = stored->FindComputer(bravoID);
        QVERIFY(reread);
        QCOMPARE(reread->Name(), QStringLiteral("BRAVO-2"));
        QCOMPARE(reread->IPAddress, QStringLiteral("127.0.0.42"));
        QCOMPARE(reread->MACAddresses()->Count(), 1);
        QCOMPARE(reread->MACAddresses()->Items(0)->Address, QStringLiteral("00-11-22-33-44-51"));
    }

    void cancelChangesNothing()
    {
        TMessageRecorder recorder;
        TWindow w;
        QVERIFY(w.Open());
        const QByteArray before = FileBytes(w.FileName());
        QVERIFY(!before.isEmpty());
        w.Select({QStringLiteral("ALPHA")});
        QPointer<TfrmComputer> seen;
        WhenModal<TfrmComputer>(&seen, [](TfrmComputer* dialog) {
            dialog->edName->setText(QStringLiteral("CHANGED"));
            dialog->btnCancel->click();
        });
        w.Window->acEditProperties->trigger();
        QVERIFY(seen.isNull());
        QCOMPARE(w.Saves, 0);
        QVERIFY(ByName(w.Window->Root(), QStringLiteral("ALPHA")));
        QVERIFY(!ByName(w.Window->Root(), QStringLiteral("CHANGED")));
        QCOMPARE(FileBytes(w.FileName()), before);
    }

    void nothingSelectedOpensNothing()
    {
        TMessageRecorder recorder;
        TWindow w;
        QVERIFY(w.Open());
        w.Select({});
        QPointer<TfrmComputer> seen;
        WhenModal<TfrmComputer>(&seen, [](TfrmComputer* dialog) { dialog->reject(); });
        w.Window->EditComputer();
        QTest::qWait(30);
        QVERIFY(seen.isNull());
        QCOMPARE(w.Saves, 0);
    }

    void aboutOpensModallyAndIsReleased()
    {
        TMessageRecorder recorder;
        TWindow w;
        QVERIFY(w.Open());
        QPointer<TfrmAbout> seen;
        bool shown = false;
        WhenModal<TfrmAbout>(&seen, [&shown](TfrmAbout* about) {
            shown = about->isVisible() && about->parentWidget() != nullptr;
            about->btnOK->click();
        });
        w.Window->acHelpAbout->trigger();
        QVERIFY(shown);
        QVERIFY(seen.isNull());
    }

    // Requests of the command line handed to the window add and delete rows of its list, in one save
    // each, and what is added is checked as the wizard's computer is.
    void requestsChangeTheList()
    {
        TMessageRecorder recorder;
        TWindow w;
        QVERIFY(w.Open());
        FollowRequestChanges(*w.Window);
        auto run = [&w](const TCommandRequest& request) {
            std::optional<TCommandResult> result;
            (new TCommandRunner(w.Window->OpenDatabase()))->Start(request, [&](const TCommandResult& done) {
                result = done;
            });
            return QTest::qWaitFor([&result] { return result.has_value(); }, 5000) ? result->ExitCode : -1;
        };
        TCommandRequest add;
        add.Command = TCommandRequest::New;
        add.Names = {QStringLiteral("ECHO")};
        add.Mac = QStringLiteral("02:00:00:00:00:05");
        add.Ip = QStringLiteral("127.0.0.5");
        QCOMPARE(run(add), 0);
        QCOMPARE(w.Saves, 1);
        QCOMPARE(w.Window->VSTModel->rowCount(), 5);
        QVERIFY(ByName(w.Window->Root(), QStringLiteral("ECHO"))->PingSequence != 0);
        TCommandRequest remove;
        remove.Command = QStringLiteral("delete");
        remove.Names = {QStringLiteral("echo"), QStringLiteral("alpha")};
        QCOMPARE(run(remove), 0);
        QCOMPARE(w.Saves, 2);
        QTRY_COMPARE(w.Window->VSTModel->rowCount(), 3);
        QVERIFY(w.Window->VSTModel->Computer(0));
    }
};

QTEST_MAIN(TestFrmMainEdit)
#include "tst_frmMainEdit.moc"
