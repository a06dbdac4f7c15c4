#include "app/frmMain.h"
#include "app/tableModel.h"
#include "core/worker.h"
#include "dialogs/wizNewComp.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "support/isolatedNetwork.h"
#include "ui/macEdit.h"
#include "ui/messageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

QString isolationProblem;

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The main window with counters on the group's change notices (which still reach the window and
// save), and the file as each save left it.
struct TWatchedWindow
{
    std::unique_ptr<TfrmMain> Window;
    int Saves = 0;
    int Checks = 0;
    QList<QByteArray> Snapshots;

    explicit TWatchedWindow(const QString& dir) : Window(std::make_unique<TfrmMain>(dir + "/network.ccn"))
    {
        TGroup* root = Window->Root();
        if (!root)
            return;
        const QString file = dir + "/network.ccn";
        TNotifyEvent update = root->OnUpdate;
        root->OnUpdate.Set(this, [this, update, file](TObject* sender) {
            update(sender);
            ++Saves;
            Snapshots.append(FileBytes(file));
        });
        TNotifyEvent item = root->Computers()->OnItemUpdate;
        root->Computers()->OnItemUpdate.Set(this, [this, item](TObject* sender) {
            ++Checks;
            item(sender);
        });
    }
    TfrmMain* operator->() const { return Window.get(); }
};

// Runs script on the wizard once New computer has it on the screen.
void OnWizard(const std::function<void(TfrmWizNewComp&)>& script, bool* seen)
{
    QTimer::singleShot(0, [script, seen] {
        QTRY_VERIFY(qobject_cast<TfrmWizNewComp*>(QApplication::activeModalWidget()));
        auto* wizard = qobject_cast<TfrmWizNewComp*>(QApplication::activeModalWidget());
        *seen = true;
        script(*wizard);
        if (wizard->isVisible())
            wizard->reject();
    });
}

} // namespace

class TstNewComputer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void confirmed_data();
    void confirmed();
    void cancelled();
    void withoutRootGroup();

private:
    QString Dir() const { return FDir->path(); }
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TMessageRecorder> FBoxes;
};

void TstNewComputer::init()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FBoxes = std::make_unique<TMessageRecorder>();
}

void TstNewComputer::cleanup()
{
    FBoxes.reset();
    FDir.reset();
    QTRY_VERIFY_WITH_TIMEOUT(TWorkerThread::LiveCount() == 0, 15000);
}

void TstNewComputer::confirmed_data()
{
    QTest::addColumn<int>("connection");
    QTest::addColumn<int>("sendOptions");
    QTest::newRow("home network") << 0 << int(soLAN);
    QTest::newRow("Internet") << 1 << int(soInternet);
}

void TstNewComputer::confirmed()
{
    QFETCH(int, connection);
    QFETCH(int, sendOptions);
    QString itemID;
    {
        TWatchedWindow window(Dir());
        QVERIFY(window->Root());
        QVERIFY(window->acNewCompManual->isEnabled());
        const QByteArray before = FileBytes(Dir() + "/network.ccn");

        bool seen = false;
        OnWizard(
            [connection](TfrmWizNewComp& wizard) {
                wizard.cbSendOptions->setCurrentIndex(connection);
                wizard.edComputername->setFocus();
                QTest::keyClicks(wizard.edComputername, QStringLiteral("pc-new"));
                wizard.btnNext->click();
                wizard.edIPAddress->setText(QStringLiteral("127.0.0.1"));
                wizard.btnNext->click();
                QTest::keyClicks(wizard.edMACAddress, QStringLiteral("00aabbccddee"));
                wizard.btnNext->click();
                QCOMPARE(wizard.CurrentPage(), 3);
                wizard.btnNext->click();
            },
            &seen);
        window->acNewCompManual->trigger();
        QVERIFY(seen);

        // During the command: added (saved with its defaults), then saved with the entered values.
        QCOMPARE(window.Saves, 2);
        QCOMPARE(window.Checks, 0);
        TComputers* computers = window->Root()->Computers();
        QCOMPARE(computers->Count(), 1);
        TComputer* computer = computers->Items(0);
        itemID = computer->ItemID();
        QCOMPARE(computer->Name(), QStringLiteral("PC-NEW"));
        QCOMPARE(computer->IPAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(int(computer->SendOptions), sendOptions);
        QCOMPARE(computer->MACAddresses()->Count(), 1);
        QCOMPARE(computer->MACAddresses()->Items(0)->Address, QStringLiteral("00-AA-BB-CC-DD-EE"));
        QVERIFY(computer->MACAddresses()->Items(0)->UseForWake);
        QCOMPARE(computer->PingSequence, quint16(1));
        QVERIFY(computer->RunningCheck());
        QCOMPARE(window->VSTModel->rowCount(), 1);
        // The window's writer thread puts both on the disk soon after.
        QTRY_VERIFY(!window->OpenDatabase()->Saving());
        QVERIFY(FileBytes(Dir() + "/network.ccn") != before);
        // The wizard is gone with the command.
        QVERIFY(window->findChildren<TfrmWizNewComp*>().isEmpty());

        // Its one check completes and reports; the result is no change of the user's and is written a
        // moment later.
        QTRY_COMPARE_WITH_TIMEOUT(window.Checks, 1, 10000);
        QCOMPARE(window.Saves, 2);
        QVERIFY(computer->Online);
        QTest::qWait(100);
        QCOMPARE(window.Checks, 1);
        QVERIFY(FBoxes->Shown().isEmpty());
    }
    TOstrelDatabase db;
    db.FileName = Dir() + "/network.ccn";
    std::unique_ptr<TGroup> stored = LoadDatabase(db);
    QVERIFY(stored);
    QCOMPARE(stored->Computers()->Count(), 1);
    TComputer* computer = stored->Computers()->Items(0);
    QCOMPARE(computer->ItemID(), itemID);
    QCOMPARE(computer->Name(), QStringLiteral("PC-NEW"));
    QCOMPARE(computer->IPAddress, QStringLiteral("127.0.0.1"));
    QCOMPARE(int(computer->SendOptions), sendOptions);
    QCOMPARE(computer->MACAddresses()->Count(), 1);
    QCOMPARE(computer->MACAddresses()->Items(0)->Address, QStringLiteral("00-AA-BB-CC-DD-EE"));
    QVERIFY(computer->Online);
}

void TstNewComputer::cancelled()
{
    TWatchedWindow window(Dir());
    QVERIFY(window->Root());
    const QByteArray before = FileBytes(Dir() + "/network.ccn");
    bool seen = false;
    OnWizard(
        [](TfrmWizNewComp& wizard) {
            wizard.edComputername->setText(QStringLiteral("PC1"));
            wizard.btnNext->click();
            wizard.edIPAddress->setText(QStringLiteral("127.0.0.1"));
            wizard.btnNext->click();
            wizard.edMACAddress->SetTextByProgram(QStringLiteral("00-11-22-33-44-55"));
            wizard.btnNext->click();
            wizard.btnCancel->click();
        },
        &seen);
    window->acNewCompManual->trigger();
    QVERIFY(seen);
    QCOMPARE(window->Root()->Computers()->Count(), 0);
    QCOMPARE(window->VSTModel->rowCount(), 0);
    QCOMPARE(window.Saves, 0);
    QCOMPARE(FileBytes(Dir() + "/network.ccn"), before);
    QVERIFY(window->findChildren<TfrmWizNewComp*>().isEmpty());
}

void TstNewComputer::withoutRootGroup()
{
    // A file that is no database: the window runs without a root group.
    {
        QFile file(Dir() + "/network.ccn");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a compound file at all, just text");
    }
    TfrmMain window(Dir() + "/network.ccn");
    if (window.Root())
        QSKIP("the window made a root group of an unreadable file");
    QVERIFY(!window.acNewCompManual->isEnabled());
    bool wizardShown = false;
    QTimer::singleShot(0, [&wizardShown] {
        if (auto* wizard = qobject_cast<TfrmWizNewComp*>(QApplication::activeModalWidget())) {
            wizardShown = true;
            wizard->reject();
        }
    });
    window.NewComputer();
    QVERIFY(!wizardShown);
}

int main(int argc, char* argv[])
{
    // Before any thread exists, so the checks stay inside.
    if (!IsolateNetwork(&isolationProblem) && isolationProblem.isEmpty())
        isolationProblem = QStringLiteral("no isolated network");
    QApplication app(argc, argv);
    TstNewComputer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_newComputer.moc"
