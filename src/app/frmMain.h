#pragma once

#include <memory>
#include <QMainWindow>
#include <QStringList>

class QAction;
class QActionGroup;
class QMenu;
class QToolBar;
class TComputerTreeModel;
class TComputerTreeView;
class TGroup;
class TObject;
class TOstrelDatabase;
class TThreadTimer;

// The main window: the list of computers of the database beside the program, and its commands.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    // programDir: the folder that holds (or will hold) network.ccn, without a trailing separator.
    explicit TfrmMain(const QString& programDir, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The commands (aclistMain). They appear in the main menu, on the tool bar and in the tree's
    // context menu, and are enabled by UpdateActions.
    QAction* acNewCompManual = nullptr;
    QAction* acEditDelete = nullptr;
    QAction* acEditProperties = nullptr;
    QAction* acToolsWakeUp = nullptr;
    QAction* acFileExit = nullptr;
    QAction* acHelpAbout = nullptr;
    QAction* acHelpSablewickPro = nullptr;
    QAction* acHelpOstrelDev = nullptr;
    QAction* acHelpQuandrel = nullptr;
    QAction* acHelpSupport = nullptr;

    TComputerTreeView* VST = nullptr;
    TComputerTreeModel* VSTModel = nullptr;
    QMenu* popVST = nullptr;

    // The root group; null when the database couldn't be read.
    TGroup* Root() const { return FRoot.get(); }
    TOstrelDatabase* Database() const { return FDatabase.get(); }
    const QString& ProgramDir() const { return FProgramDir; }
    TThreadTimer* Timer() const { return FTimer.get(); }

    // The smallest positive ping sequence number not yet handed out in this run.
    quint16 NextPingSequence();
    // Sets the enabled states of the commands from the selection and the root group.
    void UpdateActions();
    // Adds a row for the computer with that identifier; the tree re-sorts.
    void AddTreeEntry(const QString& itemID);
    // The identifiers of the selected rows, in tree order.
    QStringList SelectedItemIDs() const;

    // Shows an error that reached the event loop; the program keeps running.
    void appEventsException(const QString& message);

    // Command handlers.
    void acEditDeleteExecute();
    void acToolsWakeUpExecute();
    void acHelpSablewickProExecute();
    void acHelpOstrelDevExecute();
    void acHelpQuandrelExecute();
    void acHelpSupportExecute();
    void acFileExitExecute();

    // The dialog commands; their handlers live in frmMainNew.cpp and frmMainEdit.cpp.
    void acNewCompManualExecute();
    void acEditPropertiesExecute();
    void acHelpAboutExecute();
    void NewComputer();
    void EditComputer();

    // The window timer's tick (every 60 seconds).
    void OnThreadTimer(TObject* sender);
    // The root group's change notice: saves the group.
    void OnGroupUpdate(TObject* sender);
    // A computer's check completed: repaints the tree.
    void OnComputerUpdate(TObject* sender);

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBars();
    void CreateTree();
    void FormCreate();
    void FormDestroy();
    void LoadRoot();
    void HookRoot();
    void popVSTPopup(const QPoint& position);
    void OpenLink(const char* hex);
    // Runs a command handler; an error it raises goes to the error box.
    void Run(void (TfrmMain::*handler)());

    QString FProgramDir;
    std::unique_ptr<TOstrelDatabase> FDatabase;
    std::unique_ptr<TGroup> FRoot;
    QStringList FPingSequences;
    std::unique_ptr<TThreadTimer> FTimer;
    bool FSaveFailureShown = false;
    QToolBar* ToolBar1 = nullptr;
    QToolBar* ToolBar2 = nullptr;
};
