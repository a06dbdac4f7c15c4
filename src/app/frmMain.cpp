#include "app/frmMain.h"

#include "app/application.h"
#include "app/mainImages.h"
#include "app/tableModel.h"
#include "app/treeView.h"
#include "core/exceptions.h"
#include "core/texts.h"
#include "dialogs/dlgOptions.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "net/relayHub.h"
#include "product/editionLibrary.h"
#include "product/webAddresses.h"
#include "timing/threadTimer.h"
#include "ui/elidedLabel.h"
#include "ui/fontScale.h"
#include "ui/messageBoxes.h"

#include <algorithm>
#include <cstdio>
#include <QAction>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int TimerDelay = 60000;
constexpr int WakeDelay = 2;
constexpr int ToolButtonHeight = 30;
constexpr int BevelHeight = 4;

QWidget* Spacer(const QString& name, QWidget* parent)
{
    auto* spacer = new QWidget(parent);
    spacer->setObjectName(name);
    spacer->setFixedHeight(BevelHeight);
    return spacer;
}

// Asks the desktop to open a web address; true when it accepted the request (false when no browser can
// be started). How it opens it, and what goes wrong after that, is the desktop's to say.
bool ShellOpen(const QString& target)
{
    const QUrl url = QUrl::fromUserInput(target);
    if (!url.isValid())
        return false;
    return QDesktopServices::openUrl(url);
}

} // namespace

TfrmMain::TfrmMain(const QString& databaseFile, QWidget* parent)
    : QMainWindow(parent), FDatabaseFile(databaseFile)
{
    setObjectName(QStringLiteral("frmMain"));
    // Errors that reach the event loop are shown by this window (the application events component).
    if (TApplication* app = TApplication::Instance())
        app->SetOnException([this](const QString& message) { appEventsException(message); });

    CreateActions();
    CreateMenus();
    CreateToolBars();
    CreateTree();
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
    if (TApplication* app = TApplication::Instance())
        app->SetOnException(nullptr);
}

void TfrmMain::CreateActions()
{
    auto make = [this](QAction*& action, const char* name, int menuCaption, int caption, int hint) {
        action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        action->setText(Res::Str(menuCaption));
        action->setIconText(Res::Str(caption));
        // A hint is the tool bar button's tool tip; the status bar shows only what the window reports.
        action->setToolTip(hint ? Res::Str(hint) : Res::Str(caption));
    };
    make(acNewCompManual, "acNewCompManual", Res::MenuNewCompManual, Res::AcNewCompManual,
         Res::AcNewCompManualHint);
    make(acEditDelete, "acEditDelete", Res::MenuEditDelete, Res::AcEditDelete, Res::AcEditDeleteHint);
    make(acEditProperties, "acEditProperties", Res::MenuEditProperties, Res::AcEditProperties,
         Res::AcEditPropertiesHint);
    make(acToolsWakeUp, "acToolsWakeUp", Res::MenuToolsWakeUp, Res::AcToolsWakeUp, Res::AcToolsWakeUpHint);
    make(acToolsRefresh, "acToolsRefresh", Res::MenuToolsRefresh, Res::AcToolsRefresh,
         Res::AcToolsRefreshHint);
    make(acToolsScan, "acToolsScan", Res::MenuToolsScan, Res::AcToolsScan, Res::AcToolsScanHint);
    make(acToolsSchedule, "acToolsSchedule", Res::MenuToolsSchedule, Res::AcToolsSchedule,
         Res::AcToolsScheduleHint);
    make(acToolsOptions, "acToolsOptions", Res::MenuToolsOptions, Res::AcToolsOptions,
         Res::AcToolsOptionsHint);
    make(acToolsRelays, "acToolsRelays", Res::MenuToolsRelays, Res::AcToolsRelays, Res::AcToolsRelaysHint);
    make(acFileExit, "acFileExit", Res::MenuFileExit, Res::AcFileExit, 0);
    make(acHelpAbout, "acHelpAbout", Res::MenuHelpAbout, Res::AcHelpAbout, 0);
    make(acHelpSablewickPro, "acHelpSablewickPro", Res::MenuHelpSablewickPro, Res::AcHelpSablewickPro, 0);
    make(acHelpOstrelDev, "acHelpOstrelDev", Res::MenuHelpOstrelDev, Res::AcHelpOstrelDev, 0);
    make(acHelpQuandrel, "acHelpQuandrel", Res::MenuHelpQuandrel, Res::AcHelpQuandrel, 0);
    make(acHelpSupport, "acHelpSupport", Res::MenuHelpSupport, Res::AcHelpSupport, 0);

    acNewCompManual->setShortcut(QKeySequence(Qt::Key_Insert));
    acEditDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    acToolsWakeUp->setShortcut(QKeySequence(Qt::Key_F3));
    acToolsRefresh->setShortcut(QKeySequence(Qt::Key_F5));

    acNewCompManual->setIcon(CommandImage(ciNewComputer));
    acToolsWakeUp->setIcon(CommandImage(ciWakeUp));
    acEditProperties->setIcon(CommandImage(ciProperties));
    acEditDelete->setIcon(CommandImage(ciDelete));
    acHelpSablewickPro->setIcon(CommandImage(ciProfessional));
    acHelpOstrelDev->setIcon(CommandImage(ciWebLink));
    acHelpQuandrel->setIcon(CommandImage(ciWebLink));
    acHelpSupport->setIcon(CommandImage(ciWebLink));

    auto handle = [this](QAction* action, void (TfrmMain::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { Run(handler); });
    };
    handle(acEditDelete, &TfrmMain::acEditDeleteExecute);
    handle(acToolsWakeUp, &TfrmMain::acToolsWakeUpExecute);
    handle(acToolsRefresh, &TfrmMain::acToolsRefreshExecute);
    handle(acToolsOptions, &TfrmMain::acToolsOptionsExecute);
    handle(acHelpSablewickPro, &TfrmMain::acHelpSablewickProExecute);
    handle(acHelpOstrelDev, &TfrmMain::acHelpOstrelDevExecute);
    handle(acHelpQuandrel, &TfrmMain::acHelpQuandrelExecute);
    handle(acHelpSupport, &TfrmMain::acHelpSupportExecute);
    handle(acFileExit, &TfrmMain::acFileExitExecute);
    // The commands that open dialogs (frmMainNew.cpp, frmMainEdit.cpp).
    handle(acNewCompManual, &TfrmMain::acNewCompManualExecute);
    handle(acEditProperties, &TfrmMain::acEditPropertiesExecute);
    handle(acToolsSchedule, &TfrmMain::acToolsScheduleExecute);
    handle(acHelpAbout, &TfrmMain::acHelpAboutExecute);
    handle(acToolsScan, &TfrmMain::acToolsScanExecute);
    handle(acToolsRelays, &TfrmMain::acToolsRelaysExecute);
}

void TfrmMain::CreateMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("actMainMenu"));

    QMenu* file = bar->addMenu(Res::Str(Res::MenuFile));
    file->addAction(acNewCompManual);
    file->addSeparator();
    file->addAction(acFileExit);

    QMenu* edit = bar->addMenu(Res::Str(Res::MenuEdit));
    edit->addAction(acEditDelete);
    edit->addSeparator();
    edit->addAction(acEditProperties);

    QMenu* tools = bar->addMenu(Res::Str(Res::MenuTools));
    tools->addAction(acToolsWakeUp);
    tools->addAction(acToolsRefresh);
    tools->addSeparator();
    tools->addAction(acToolsScan);
    tools->addAction(acToolsSchedule);
    tools->addAction(acToolsOptions);
    tools->addAction(acToolsRelays);

    QMenu* help = bar->addMenu(Res::Str(Res::MenuHelp));
    help->addAction(acHelpSablewickPro);
    help->addSeparator();
    help->addAction(acHelpOstrelDev);
    help->addAction(acHelpQuandrel);
    help->addSeparator();
    help->addAction(acHelpSupport);
    help->addSeparator();
    help->addAction(acHelpAbout);

    popVST = new QMenu(this);
    popVST->setObjectName(QStringLiteral("popVST"));
    popVST->addAction(acToolsWakeUp);
    popVST->addAction(acToolsRefresh);
    popVST->addSeparator();
    popVST->addAction(acEditDelete);
    QMenu* newMenu = popVST->addMenu(Res::Str(Res::MenuNew));
    newMenu->setObjectName(QStringLiteral("popVSTNew"));
    newMenu->addAction(acNewCompManual);
    popVST->addSeparator();
    popVST->addAction(acEditProperties);
}

void TfrmMain::CreateToolBars()
{
    auto makeBar = [this](const QString& name, const QString& title) {
        auto* bar = new QToolBar(title, this);
        bar->setObjectName(name);
        // What a screen reader calls the bar; the title itself shows nowhere, as the bar never floats.
        bar->setAccessibleName(title);
        bar->setMovable(false);
        bar->setFloatable(false);
        bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        bar->setIconSize(QSize(24, 24));
        bar->setContextMenuPolicy(Qt::PreventContextMenu);
        addToolBar(Qt::TopToolBarArea, bar);
        return bar;
    };
    auto addButton = [](QToolBar* bar, QAction* action) {
        bar->addAction(action);
        if (QWidget* button = bar->widgetForAction(action))
            button->setFixedHeight(ToolButtonHeight);
    };

    ToolBar1 = makeBar(QStringLiteral("ToolBar1"), Res::Str(Res::MainToolBar));
    addButton(ToolBar1, acNewCompManual);
    ToolBar1->addSeparator();
    addButton(ToolBar1, acToolsWakeUp);

    addToolBarBreak(Qt::TopToolBarArea);
    ToolBar2 = makeBar(QStringLiteral("ToolBar2"), Res::Str(Res::MainToolBarRow2));
    addButton(ToolBar2, acEditDelete);
    addButton(ToolBar2, acEditProperties);
    ToolBar2->addSeparator();
    addButton(ToolBar2, acHelpSablewickPro);
}

void TfrmMain::CreateTree()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Spacer(QStringLiteral("Bevel1"), central));

    auto* panel = new QWidget(central);
    panel->setObjectName(QStringLiteral("Panel1"));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    VSTModel = new TComputerTableModel([this] { return Root(); }, this);
    VSTModel->setObjectName(QStringLiteral("VSTModel"));
    VSTModel->SetImages(ComputerImage(true), ComputerImage(false), OtherMacImage());
    VST = new TComputerTreeView(panel);
    VST->setAccessibleName(Res::Str(Res::NetEnumComputers));
    VST->setObjectName(QStringLiteral("VST"));
    VST->setModel(VSTModel);
    VST->header()->resizeSection(TComputerTableModel::colName, 268);
    CreateFilter(panel);
    panelLayout->addWidget(edFilter);
    panelLayout->addWidget(VST);
    layout->addWidget(panel, 1);

    layout->addWidget(Spacer(QStringLiteral("bevelPanel"), central));
    setCentralWidget(central);

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    FStatusText = new TElidedLabel(statusBar());
    FStatusText->setObjectName(QStringLiteral("StatusText"));
    statusBar()->addWidget(FStatusText, 1);
    FStatusAge = new QTimer(this);
    FStatusAge->setSingleShot(true);
    connect(FStatusAge, &QTimer::timeout, this, [this] {
        // A line that stays long (the last wake-up's, through scans and adds) must not read as news.
        FStatusText->SetFullText(
            Res::Str(Res::StatusAt)
                .arg(FStatusMessage, QLocale().toString(FStatusAt.time(), QLocale::ShortFormat)));
    });

    connect(VST, &TComputerTreeView::Clicked, this, [this] { UpdateActions(); });
    connect(VST, &QWidget::customContextMenuRequested, this, &TfrmMain::popVSTPopup);
    connect(VST, &TComputerTreeView::PropertiesRequested, acEditProperties, &QAction::trigger);
    connect(VST, &TComputerTreeView::FilterRequested, this, &TfrmMain::FocusFilter);
    CreateColumnMenu();
    // Keyboard selection changes the enabled states too, not only clicks.
    connect(VST->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateActions(); });
}

void TfrmMain::FormCreate()
{
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));

    const QString title = GetWindowTitle();
    TApplication::SetTitle(title);
    setWindowTitle(title);

    VST->header()->setFont(font());
    // Sized to their contents at the window's font, or as the user left them.
    LoadColumns();
    connect(VST->header(), &QHeaderView::sectionResized, this, [this](int column) {
        FColumnsResized = FColumnsResized || column != TComputerTableModel::colName;
    });
    menuBar()->setFont(QApplication::font("QMenuBar"));
    // The hand pointer needs no registering: the links that use it set Qt::PointingHandCursor.

    FTimer = std::make_unique<TThreadTimer>();
    FTimer->SetDelay(TimerDelay);
    FTimer->SetOnTimer(TNotifyEvent(this, [this](TObject* sender) { OnThreadTimer(sender); }));
    FTimer->SetActive(true);

    const QList<QAction*> pictured = {acNewCompManual,    acToolsWakeUp,   acEditProperties, acEditDelete,
                                      acHelpSablewickPro, acHelpOstrelDev, acHelpQuandrel,   acHelpSupport};
    QList<QIcon> images;
    for (const QAction* action : pictured)
        images.append(action->icon());
    MakeDisabledImages(images, {QSize(16, 16), QSize(24, 24)});
    for (qsizetype i = 0; i < pictured.size(); ++i)
        pictured[i]->setIcon(images[i]);

    // Larger by as much as the font is, so a larger font keeps the list's columns and tool bars in view;
    // never larger than the screen, its frame and status bar included.
    resize((QSize(580, 468) * FontScale(font())).boundedTo(ScreenRoom(this)));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    FRepaintTimer = new QTimer(this);
    FRepaintTimer->setSingleShot(true);
    connect(FRepaintTimer, &QTimer::timeout, this, [this] {
        FLastRepaint.start();
        VST->viewport()->update();
    });
    FDatabase = std::make_unique<TOpenDatabase>(FDatabaseFile);
    // The window's thread only takes the snapshot of a save; writing it never stalls the window.
    FDatabase->SetBackgroundSaves(true);
    connect(FDatabase.get(), &TOpenDatabase::ComputerUpdated, this,
            [this](TComputer* computer) { OnComputerUpdate(computer); });
    connect(FDatabase.get(), &TOpenDatabase::SaveFailed, this, [this](const QString& message) {
        // Told after the command that caused the save has finished, not in the middle of it.
        QMetaObject::invokeMethod(
            this, [message] { ShowError(message); }, Qt::QueuedConnection);
    });
    connect(FDatabase.get(), &TOpenDatabase::StatusMessage, this, &TfrmMain::ShowStatus);
    // The relay file is read before the first check routes through it, so what it leaves out is said now.
    QStringList relayProblems;
    ReloadRelays(&relayProblems);
    ShowStatus(relayProblems.join(QStringLiteral("  ")));
    try {
        LoadRoot();
        // Loading has just checked every computer; from now on each is checked again once a minute.
        if (Root()) {
            FDatabase->StartRechecks(TimerDelay);
            // A schedule wakes its computer as Activate would.
            FDatabase->StartSchedules(WakeDelay);
        }
        UpdateActions();
    } catch (const std::exception& e) {
        const QString message = ExceptionMessage(e);
        appEventsException(message);
        // The empty window keeps saying why it is empty once the box is gone: the reason is the message's
        // last line.
        ShowStatus(Res::Str(Res::DbNotOpened).arg(message.section(QStringLiteral("\r\n"), -1).trimmed()));
        // The commands must reflect that there may be no root group.
        UpdateActions();
    }
}

void TfrmMain::LoadRoot()
{
    FDatabase->Open();
    TGroup* root = FDatabase->Root();
    if (!root)
        return;
    QStringList ids;
    TComputers* computers = root->Computers();
    ids.reserve(computers->Count());
    for (int i = 0; i < computers->Count(); ++i)
        ids.append(computers->Items(i)->ItemID());
    // Adding the rows together sorts once and gives the same order as adding them one at a time.
    VSTModel->AddEntries(ids);
}

void TfrmMain::FormDestroy()
{
    FTimer.reset();
    if (FColumnsResized && VST)
        SaveColumns();
    // The tree asks the root group for everything it shows: let it go before the group does.
    if (VST)
        VST->setModel(nullptr);
    delete VSTModel;
    VSTModel = nullptr;
    if (FDatabase) {
        // From here on a failed save is answered below, not by the box of a running window.
        disconnect(FDatabase.get(), &TOpenDatabase::SaveFailed, this, nullptr);
        // A user who frees space and retries loses nothing; a close by signal must not wait for a
        // click that may never come.
        const bool unattended = TApplication::ClosingOnSignal();
        while (!unattended && !FDatabase->SaveNow() && AskRetry(FDatabase->LastError())) {
        }
        QString error;
        // A failed save leaves the file as it was and keeps its backup copy beside it.
        if (!FDatabase->Close(&error) && unattended) {
            QString line = Res::Str(Res::CmdErrorLine).arg(error);
            line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            std::fprintf(stderr, "%s\n", qPrintable(line));
        }
        FDatabase.reset();
    }
}

TGroup* TfrmMain::Root() const
{
    return FDatabase ? FDatabase->Root() : nullptr;
}

TOstrelDatabase* TfrmMain::Database() const
{
    return FDatabase ? FDatabase->Database() : nullptr;
}

void TfrmMain::UpdateActions()
{
    const bool selected = VST && VST->selectionModel() && VST->selectionModel()->hasSelection();
    acEditDelete->setEnabled(selected);
    acEditProperties->setEnabled(selected);
    acToolsWakeUp->setEnabled(selected);
    acToolsRefresh->setEnabled(Root() != nullptr);
    acNewCompManual->setEnabled(Root() != nullptr);
    acToolsScan->setEnabled(Root() != nullptr);
    acToolsSchedule->setEnabled(Root() != nullptr);
}

void TfrmMain::AddTreeEntry(const QString& itemID)
{
    VSTModel->AddEntry(itemID);
}

QStringList TfrmMain::SelectedItemIDs() const
{
    QStringList ids;
    for (int row : VST->SelectedRows())
        if (const TTreeEntry* entry = VSTModel->Entry(row))
            ids.append(entry->ItemID);
    return ids;
}

void TfrmMain::appEventsException(const QString& message)
{
    ShowError(message);
}

void TfrmMain::Run(void (TfrmMain::*handler)())
{
    try {
        (this->*handler)();
    } catch (const std::exception& e) {
        appEventsException(ExceptionMessage(e));
    }
}

void TfrmMain::popVSTPopup(const QPoint& position)
{
    UpdateActions();
    popVST->popup(VST->viewport()->mapToGlobal(position));
}

void TfrmMain::acEditDeleteExecute()
{
    const QList<int> rows = VST->SelectedRows();
    QString question;
    if (rows.size() < 2) {
        const TComputer* computer = rows.isEmpty() ? nullptr : VSTModel->Computer(rows.first());
        if (!computer)
            return;
        question =
            Res::Str(Res::DeleteOne).arg(computer->Name().isEmpty() ? computer->IPAddress : computer->Name());
    } else {
        question = Res::Str(Res::DeleteMany);
    }
    if (!AskQuestion(question))
        return;

    std::vector<const TTreeEntry*> entries;
    QStringList ids;
    for (int row : rows) {
        entries.push_back(VSTModel->Entry(row));
        ids.append(entries.back()->ItemID);
    }
    // One save for the whole selection.
    FDatabase->DeleteComputers(ids);
    VSTModel->RemoveEntries(entries);
    UpdateActions();
}

void TfrmMain::acToolsWakeUpExecute()
{
    if (FDatabase)
        FDatabase->Wake(SelectedItemIDs(), WakeDelay);
}

void TfrmMain::acToolsRefreshExecute()
{
    // Nothing selected: every computer the list shows.
    if (!FDatabase)
        return;
    QStringList ids = SelectedItemIDs();
    if (ids.isEmpty() && !VSTModel->FilterText().isEmpty()) {
        ids = ShownItemIDs();
        if (ids.isEmpty())
            return;
    }
    FDatabase->Refresh(ids);
}

void TfrmMain::acToolsOptionsExecute()
{
    // The new ports apply to every check started from now on.
    TfrmOptions options(this);
    options.exec();
}

QString TfrmMain::StatusText() const
{
    return FStatusText ? FStatusText->FullText() : QString();
}

void TfrmMain::ShowStatus(const QString& message)
{
    // A long message is cut at the window's edge with "…"; its tool tip holds all of it.
    if (!FStatusText)
        return;
    FStatusText->SetFullText(message);
    FStatusMessage = message;
    FStatusAt = QDateTime::currentDateTime();
    FStatusAge->start(FStatusAgeMs);
}

void TfrmMain::OpenLink(const char* hex)
{
    const QString target = HexToText(QString::fromLatin1(hex));
    // Qt says it only on stderr, which the window's user never sees.
    if (!ShellOpen(target))
        ShowWarning(Res::Str(Res::LinkNoBrowser).arg(target));
}

void TfrmMain::acHelpSablewickProExecute()
{
    OpenLink(WebAddress::Professional);
}

void TfrmMain::acHelpOstrelDevExecute()
{
    OpenLink(WebAddress::OstrelDev);
}

void TfrmMain::acHelpQuandrelExecute()
{
    OpenLink(WebAddress::Quandrel);
}

void TfrmMain::acHelpSupportExecute()
{
    OpenLink(WebAddress::Support);
}

void TfrmMain::acFileExitExecute()
{
    close();
}

void TfrmMain::OnThreadTimer(TObject* sender)
{
    if (!dynamic_cast<TThreadTimer*>(sender))
        return;
    // The tick looks at every row; all rows are computer rows, and a tick leaves those alone.
    for (int row = 0; row < VSTModel->rowCount(); ++row) {
        const TTreeEntry* entry = VSTModel->Entry(row);
        if (!entry)
            break;
    }
    // A save that failed is tried again rather than forgotten.
    if (FDatabase)
        FDatabase->Retry();
}

void TfrmMain::OnComputerUpdate(TObject* sender)
{
    Q_UNUSED(sender);
    // The view fetches every text, image and hint from the model when it paints, so a repaint is all it
    // takes. The results of thousands of checks arrive in bursts, and a repaint per burst laid out every
    // visible text hundreds of times a second, a quarter of the window's thread while they came in.
    if (FRepaintTimer->isActive())
        return;
    const qint64 since = FLastRepaint.isValid() ? FLastRepaint.elapsed() : RepaintPeriodMs;
    FRepaintTimer->start(int(std::clamp<qint64>(RepaintPeriodMs - since, 0, RepaintPeriodMs)));
}
