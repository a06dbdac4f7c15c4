#pragma once

#include <memory>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>

class QAction;
class QActionGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QToolBar;
class TComputerTableModel;
class TComputerTreeView;
class TElidedLabel;
class TGroup;
class TObject;
class TOpenDatabase;
class TOstrelDatabase;
class TThreadTimer;
class QTimer;

// The main window: the list of computers of the open database, and its commands.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    // databaseFile: the full path of the database file, which is created when there is none.
    explicit TfrmMain(const QString& databaseFile, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The commands (aclistMain). They appear in the main menu, on the tool bar and in the tree's
    // context menu, and are enabled by UpdateActions.
    QAction* acNewCompManual = nullptr;
    QAction* acEditDelete = nullptr;
    QAction* acEditProperties = nullptr;
    QAction* acToolsWakeUp = nullptr;
    QAction* acToolsRefresh = nullptr;
    QAction* acToolsScan = nullptr;
    QAction* acToolsSchedule = nullptr;
    QAction* acToolsOptions = nullptr;
    QAction* acToolsRelays = nullptr;
    QAction* acFileExit = nullptr;
    QAction* acHelpAbout = nullptr;
    QAction* acHelpSablewickPro = nullptr;
    QAction* acHelpOstrelDev = nullptr;
    QAction* acHelpQuandrel = nullptr;
    QAction* acHelpSupport = nullptr;

    TComputerTreeView* VST = nullptr;
    TComputerTableModel* VSTModel = nullptr;
    QMenu* popVST = nullptr;
    // The filter field above the list (Ctrl+F, or "/" in the list) and the count of the rows it shows.
    QLineEdit* edFilter = nullptr;
    QLabel* lbShown = nullptr;
    // The header's menu, which adds and removes columns.
    QMenu* popHeader = nullptr;

    // The root group; null when the database couldn't be read.
    TGroup* Root() const;
    TOstrelDatabase* Database() const;
    // The database's life and save policy; the window only shows it.
    TOpenDatabase* OpenDatabase() const { return FDatabase.get(); }
    const QString& DatabaseFile() const { return FDatabaseFile; }
    TThreadTimer* Timer() const { return FTimer.get(); }

    // Sets the enabled states of the commands from the selection and the root group.
    void UpdateActions();
    // Adds a row for the computer with that identifier; the tree re-sorts.
    void AddTreeEntry(const QString& itemID);
    // The identifiers of the selected rows, in tree order; hidden rows are never selected.
    QStringList SelectedItemIDs() const;
    // The identifiers of the rows the filter shows, in tree order.
    QStringList ShownItemIDs() const;
    void FocusFilter();

    // Shows an error that reached the event loop; the program keeps running.
    void appEventsException(const QString& message);

    // Command handlers.
    void acEditDeleteExecute();
    void acToolsWakeUpExecute();
    void acToolsRefreshExecute();
    void acToolsOptionsExecute();
    void acHelpSablewickProExecute();
    void acHelpOstrelDevExecute();
    void acHelpQuandrelExecute();
    void acHelpSupportExecute();
    void acFileExitExecute();

    // The dialog commands; their handlers live in frmMainNew.cpp and frmMainEdit.cpp.
    void acNewCompManualExecute();
    void acEditPropertiesExecute();
    void acHelpAboutExecute();
    void acToolsScanExecute();
    void acToolsRelaysExecute();
    void NewComputer();
    void EditComputer();
    // Whether a computer other than the one with exceptItemID has this name, compared without case.
    bool NameTaken(const QString& name, const QString& exceptItemID = {}) const;
    // Edits the root group's schedule, which wakes the computers without a schedule of their own.
    void acToolsScheduleExecute();

    // The status bar's text: how the last wake-up went, or why checks fail.
    QString StatusText() const;
    void ShowStatus(const QString& message);
    // After how long a message says when it was told (tests shorten it).
    void SetStatusAge(int ms) { FStatusAgeMs = ms; }

    // The window timer's tick (every 60 seconds): also retries a save that failed.
    void OnThreadTimer(TObject* sender);
    // A computer's check completed: repaints the tree, at most every RepaintPeriodMs.
    void OnComputerUpdate(TObject* sender);
    static constexpr int RepaintPeriodMs = 40;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBars();
    void CreateTree();
    void FormCreate();
    void FormDestroy();
    void LoadRoot();
    void popVSTPopup(const QPoint& position);
    // The filter field, the count and the columns (frmMainList.cpp).
    void CreateFilter(QWidget* panel);
    void UpdateShownCount();
    void CreateColumnMenu();
    int DefaultColumnWidth(int column) const;
    void LoadColumns();
    void SaveColumns() const;
    void OpenLink(const char* hex);
    // Runs a command handler; an error it raises goes to the error box.
    void Run(void (TfrmMain::*handler)());

    QString FDatabaseFile;
    std::unique_ptr<TOpenDatabase> FDatabase;
    std::unique_ptr<TThreadTimer> FTimer;
    QTimer* FRepaintTimer = nullptr;
    QElapsedTimer FLastRepaint;
    QToolBar* ToolBar1 = nullptr;
    QToolBar* ToolBar2 = nullptr;
    // A label of the status bar's own, not its message: the empty tips of menu entries would clear that.
    TElidedLabel* FStatusText = nullptr;
    // The user has resized a column since the columns were last saved.
    bool FColumnsResized = false;
    // The message shown and when; once it is older than StatusAgeMs it says when it was told.
    QString FStatusMessage;
    QDateTime FStatusAt;
    QTimer* FStatusAge = nullptr;
    int FStatusAgeMs = 60000;
};
