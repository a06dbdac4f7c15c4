#include "app/application.h"
#include "app/frmMain.h"
#include "app/mainImages.h"
#include "app/tableModel.h"
#include "app/treeView.h"
#include "app/userRights.h"
#include "core/texts.h"
#include "core/worker.h"
#include "model/compoundFile.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "product/editionLibrary.h"
#include "timing/threadTimer.h"
#include "ui/messageBoxes.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <QAction>
#include <QApplication>
#include <QCollator>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QRubberBand>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct TSampleComputer
{
    QString Name;
    QString IP;
    QString MAC;
    QString Comments;
    bool Online = false;
    TSendOptions SendOptions = soLAN;
    int Port = 1000;
};

// Writes a database file with the given computers into dir, as an earlier run would have left it.
void WriteDatabase(const QString& dir, const QList<TSampleComputer>& samples)
{
    TOstrelDatabase db;
    db.FileName = dir + "/network.ccn";
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (const TSampleComputer& sample : samples) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(sample.Name);
        computer->IPAddress = sample.IP;
        computer->Comments = sample.Comments;
        computer->Online = sample.Online;
        computer->SendOptions = sample.SendOptions;
        computer->Port = sample.Port;
        if (!sample.MAC.isEmpty()) {
            TMACAddress* adapter = computer->MACAddresses()->Add();
            adapter->Address = sample.MAC;
            adapter->UseForWake = true;
        }
    }
    QString error;
    QVERIFY2(SaveGroup(group, &error), qPrintable(error));
}

// The computers of a closed database, in collection order.
std::unique_ptr<TGroup> ReadDatabase(const QString& dir)
{
    TOstrelDatabase db;
    db.FileName = dir + "/network.ccn";
    return LoadDatabase(db);
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A window with counters on the model's change events (they still reach the window).
struct TWatchedWindow
{
    std::unique_ptr<TfrmMain> Window;
    int Checks = 0;
    int Saves = 0;
    QList<QByteArray> Snapshots;
    std::function<void()> OnCheck;

    explicit TWatchedWindow(const QString& dir, bool snapshots = false)
        : Window(std::make_unique<TfrmMain>(dir + "/network.ccn"))
    {
        TGroup* root = Window->Root();
        if (!root)
            return;
        const QString file = dir + "/network.ccn";
        TNotifyEvent update = root->OnUpdate;
        root->OnUpdate.Set(this, [this, update, file, snapshots](TObject* sender) {
            update(sender);
            ++Saves;
            if (snapshots)
                Snapshots.append(FileBytes(file));
        });
        TNotifyEvent item = root->Computers()->OnItemUpdate;
        root->Computers()->OnItemUpdate.Set(this, [this, item](TObject* sender) {
            ++Checks;
            item(sender);
            if (OnCheck)
                OnCheck();
        });
    }
    TfrmMain* operator->() const { return Window.get(); }
    TComputerTableModel* Model() const { return Window->VSTModel; }
    QStringList Names() const
    {
        QStringList names;
        for (int row = 0; row < Model()->rowCount(); ++row)
            names << Model()->CellText(row, TComputerTableModel::colName);
        return names;
    }
    void Select(const QList<int>& rows) const
    {
        QItemSelectionModel* selection = Window->VST->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(Model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    bool WaitForChecks(int count) const
    {
        QElapsedTimer timer;
        timer.start();
        while (Checks < count && timer.elapsed() < 15000)
            QTest::qWait(20);
        return Checks >= count;
    }
};

// Counts the paint events of a widget.
class TPaintCounter : public QObject
{
public:
    explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int Count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++Count;
        return false;
    }
};

class TUdpListener
{
public:
    TUdpListener()
    {
        FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
    }
    ~TUdpListener() { close(FSocket); }
    int Port() const { return FPort; }
    // The size of a datagram that has arrived, or -1.
    int Receive() const
    {
        char buffer[2048];
        const ssize_t got = recv(FSocket, buffer, sizeof buffer, 0);
        return got < 0 ? -1 : int(got);
    }

private:
    int FSocket = -1;
    int FPort = 0;
};

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

public slots:
    void OpenUrl(const QUrl& url) { FOpened.append(url); }

private slots:
    void init();
    void cleanup();
    void firstStart();
    void imageFollowsCheck_data();
    void imageFollowsCheck();
    void resultBurstRepaintsSparingly();
    void startWithoutRoot_data();
    void startWithoutRoot();
    void nameOrder();
    void orderFollowsLocale_data();
    void orderFollowsLocale();
    void renameKeepsPlaceUntilNextAdd();
    void hints_data();
    void hints();
    void deleteOneNamelessAsksWithIP();
    void deleteThree();
    void deleteAnsweredNo();
    void activateSendsAfterDelay();
    void userTextsTakenAsTheyAre();
    void refreshChecksSelectionOrAll();
    void hintTellsWhy_data();
    void hintTellsWhy();
    void selectionEnablesCommands();
    void dragSelectsWithRubberBand();
    void commandsLayout();
    void webLinks_data();
    void webLinks();
    void failedSaveToldOnce();
    void exitSaveFails_data();
    void exitSaveFails();
    void notAdministrator();
    void windowTitle_data();
    void windowTitle();

private:
    QString Dir() const { return FDir->path(); }
    QString File() const { return FDir->path() + QStringLiteral("/network.ccn"); }
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TMessageRecorder> FBoxes;
    QList<QUrl> FOpened;
};

void TestFrmMain::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FBoxes = std::make_unique<TMessageRecorder>();
    TEditionLibrary::SetFileName(QStringLiteral("swdist-not-installed"));
}

void TestFrmMain::cleanup()
{
    FBoxes.reset();
    FDir.reset();
    // Checks still running belong to computers that are gone; let them end before the next test.
    QTRY_VERIFY_WITH_TIMEOUT(TWorkerThread::LiveCount() == 0, 15000);
}

void TestFrmMain::firstStart()
{
    {
        TfrmMain window(File());
        QVERIFY(QFile::exists(Dir() + "/network.ccn"));
        QVERIFY(QFile::exists(Dir() + "/network.~ccn"));
        QVERIFY(window.Root());
        QCOMPARE(window.Root()->Name, QString());
        QVERIFY(!window.Root()->IsRoot);
        QCOMPARE(window.VSTModel->rowCount(), 0);
        QVERIFY(window.acNewCompManual->isEnabled());
        QVERIFY(!window.acEditDelete->isEnabled());
        QVERIFY(!window.acEditProperties->isEnabled());
        QVERIFY(!window.acToolsWakeUp->isEnabled());
        QVERIFY(window.Timer()->Active());
        QCOMPARE(window.Timer()->Delay(), 60000);
        QCOMPARE(window.size(), QSize(580, 468));
        QVERIFY(FBoxes->Shown().isEmpty());
    }
    // After an orderly exit only the database is left.
    QCOMPARE(QDir(Dir()).entryList(QDir::Files), QStringList{"network.ccn"});
    auto root = ReadDatabase(Dir());
    QVERIFY(root);
    QCOMPARE(root->Computers()->Count(), 0);
}

void TestFrmMain::imageFollowsCheck_data()
{
    QTest::addColumn<bool>("storedOnline");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("online");
    QTest::newRow("answers") << false << "127.0.0.9" << true;
    // No address: the check fails at once, without asking any name server.
    QTest::newRow("no address") << true << "" << false;
}

void TestFrmMain::imageFollowsCheck()
{
    QFETCH(bool, storedOnline);
    QFETCH(QString, ip);
    QFETCH(bool, online);
    WriteDatabase(Dir(), {{"pc", ip, "", "", storedOnline}});
    TWatchedWindow window(Dir());
    auto image = [&](bool up) {
        return int(up ? TComputerTableModel::imgOnline : TComputerTableModel::imgOffline);
    };
    auto hintStart = [](bool up) { return QString(up ? "pc (Online)\r\n" : "pc (Offline)\r\n"); };
    QCOMPARE(window.Model()->ImageIndex(0), image(storedOnline));
    QVERIFY(window.Model()->Hint(0).startsWith(hintStart(storedOnline)));
    // Checks complete on the main thread, so none can have completed before the counter is in place.
    TPaintCounter paints(window->VST->viewport());
    int paintsAtCheck = -1;
    window.OnCheck = [&] { paintsAtCheck = paints.Count; };
    window->show();
    QVERIFY(window.WaitForChecks(1));
    QTRY_VERIFY(paints.Count > paintsAtCheck);
    QCOMPARE(window.Model()->ImageIndex(0), image(online));
    QVERIFY(window.Model()->Hint(0).startsWith(hintStart(online)));
    // The picture shown is the one of the image list.
    const QIcon shown = window.Model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    QCOMPARE(shown.pixmap(24, 24).toImage(), ComputerImage(online).pixmap(24, 24).toImage());
    QVERIFY(!window.Model()->index(0, 1).data(Qt::DecorationRole).isValid());
}

// Results of thousands of checks arrive in bursts, one turn of the event loop each: the tree is repainted a
// few times a second, not at every turn, and still after the last one.
void TestFrmMain::resultBurstRepaintsSparingly()
{
    WriteDatabase(Dir(), {{"pc", "", "", "", false}});
    TWatchedWindow window(Dir());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.Window.get()));
    TPaintCounter paints(window->VST->viewport());
    QElapsedTimer clock;
    clock.start();
    int turns = 0;
    for (; clock.elapsed() < 200; ++turns) {
        window->OnComputerUpdate(nullptr);
        QCoreApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    window->OnComputerUpdate(nullptr);
    const int atEnd = paints.Count;
    QVERIFY2(atEnd <= elapsed / TfrmMain::RepaintPeriodMs + 2,
             qPrintable(QStringLiteral("%1 paints in %2 turns").arg(atEnd).arg(turns)));
    QTRY_VERIFY(paints.Count > atEnd);
}

void TestFrmMain::startWithoutRoot_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("no DATA stream") << "nodata"
                                    << "Unable to read the database \"%1\"! The file was left untouched.\r\n";
    QTest::newRow("not a compound file") << "garbage"
                                         << "Unable to open the database \"%1\"!\r\n";
    QTest::newRow("folder missing") << "nofolder"
                                    << "Unable to create the database \"%1\"!\r\n";
}

void TestFrmMain::startWithoutRoot()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QString program = Dir();
    if (kind == "nodata") {
        std::shared_ptr<TStorage> root;
        std::shared_ptr<TStorage> dbroot;
        QCOMPARE(TStorage::Create(program + "/network.ccn", root), StgResult::Ok);
        QCOMPARE(root->CreateStorage(QStringLiteral("DBROOT"), dbroot), StgResult::Ok);
        QCOMPARE(root->Commit(), StgResult::Ok);
    } else if (kind == "garbage") {
        QFile file(program + "/network.ccn");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("This is not a database.\n");
    } else {
        program += "/missing";
    }
    const QByteArray before = FileBytes(program + "/network.ccn");

    TfrmMain window(program + "/network.ccn");
    if (message.isEmpty()) {
        QVERIFY(FBoxes->Shown().isEmpty());
    } else {
        QCOMPARE(FBoxes->Shown().size(), 1);
        const QString text = FBoxes->Shown().first().Text;
        QVERIFY2(text.startsWith(message.arg(program + "/network.ccn")), qPrintable(text));
        QCOMPARE(FBoxes->Shown().first().Icon, QMessageBox::Critical);
    }
    QVERIFY(!window.Root());
    QCOMPARE(window.VSTModel->rowCount(), 0);
    QVERIFY(!window.acNewCompManual->isEnabled());
    QVERIFY(!window.acEditDelete->isEnabled());
    // Commands that need the group do nothing without it.
    window.acToolsWakeUp->trigger();
    window.acEditDelete->trigger();
    QCOMPARE(FBoxes->Shown().size(), message.isEmpty() ? 0 : 1);
    QCOMPARE(FileBytes(program + "/network.ccn"), before);
}

void TestFrmMain::nameOrder()
{
    WriteDatabase(Dir(), {{"b", "127.0.0.1"}, {"A", "127.0.0.2"}, {"c", "127.0.0.3"}});
    TWatchedWindow window(Dir());
    QCOMPARE(window.Names(), (QStringList{"A", "b", "c"}));

    // Added one at a time, in another order, they end up the same.
    TGroup* root = window->Root();
    for (const char* name : {"C2", "a2", "B2"}) {
        TComputer* computer = root->Computers()->Add();
        computer->SetName(QString::fromLatin1(name));
        window->AddTreeEntry(computer->ItemID());
    }
    QCOMPARE(window.Names(), (QStringList{"A", "a2", "b", "B2", "c", "C2"}));
}

void TestFrmMain::orderFollowsLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("C") << "C";
    QTest::newRow("German") << "de_DE";
    // Swedish puts the letters with dots after z.
    QTest::newRow("Swedish") << "sv_SE";
}

void TestFrmMain::orderFollowsLocale()
{
    QFETCH(QString, locale);
    const QLocale previous;
    QLocale::setDefault(QLocale(locale));
    const QStringList names = {"zeta", "\u00C4rger", "apfel", "Zebra", "\u00E4hnlich",  "_x",  "10",
                               "9",    "\u00F6l",    "Oslo",  "",      "\u00C9t\u00E9", "ete", "Ete"};
    QList<TSampleComputer> samples;
    for (const QString& name : names)
        samples.append({name, ""});
    WriteDatabase(Dir(), samples);
    QStringList expected = names;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    {
        TWatchedWindow window(Dir());
        QCOMPARE(window.Names(), expected);
        QVERIFY(window.WaitForChecks(int(names.size())));
    }
    QLocale::setDefault(previous);
}

void TestFrmMain::renameKeepsPlaceUntilNextAdd()
{
    WriteDatabase(Dir(), {{"alpha", "127.0.0.1"}, {"bravo", "127.0.0.2"}, {"charlie", "127.0.0.3"}});
    TWatchedWindow window(Dir());
    TGroup* root = window->Root();
    root->Computers()->Items(0)->SetName("zulu");
    window->OnComputerUpdate(root->Computers()->Items(0));
    QCOMPARE(window.Names(), (QStringList{"zulu", "bravo", "charlie"}));

    TComputer* added = root->Computers()->Add();
    added->SetName("delta");
    window->AddTreeEntry(added->ItemID());
    QCOMPARE(window.Names(), (QStringList{"bravo", "charlie", "delta", "zulu"}));
}

void TestFrmMain::hints_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("comments");
    QTest::addColumn<QString>("hint");
    QTest::newRow("MAC and comment") << "00-11-22-33-44-55"
                                     << "Upstairs"
                                     << "pc (Offline)\r\nIP Address: 127.0.0.1\r\nMAC Address: "
                                        "00-11-22-33-44-55\r\n\r\nComments: Upstairs";
    QTest::newRow("neither") << ""
                             << ""
                             << "pc (Offline)\r\nIP Address: 127.0.0.1";
    QTest::newRow("MAC only") << "00-11-22-33-44-55"
                              << ""
                              << "pc (Offline)\r\nIP Address: 127.0.0.1\r\nMAC Address: 00-11-22-33-44-55";
    QTest::newRow("comment only") << ""
                                  << "%1 %2"
                                  << "pc (Offline)\r\nIP Address: 127.0.0.1\r\n\r\nComments: %1 %2";
}

void TestFrmMain::hints()
{
    QFETCH(QString, mac);
    QFETCH(QString, comments);
    QFETCH(QString, hint);
    WriteDatabase(Dir(), {{"pc", "127.0.0.1", mac, comments}});
    TWatchedWindow window(Dir());
    // Read before the check completes, while the stored state (offline) still holds.
    QCOMPARE(window.Model()->index(0, 1).data(TComputerTableModel::HintRole).toString(), hint);
    QCOMPARE(window.Model()->CellText(0, TComputerTableModel::colMAC), mac);
    QCOMPARE(window.Model()->CellText(0, TComputerTableModel::colIP), QStringLiteral("127.0.0.1"));
    QVERIFY(window.WaitForChecks(1));
}

void TestFrmMain::deleteOneNamelessAsksWithIP()
{
    WriteDatabase(Dir(), {{"", "127.0.0.5"}, {"kept", "127.0.0.6"}});
    TWatchedWindow window(Dir());
    QVERIFY(window.WaitForChecks(2));
    window.Saves = 0;
    window.Select({0});
    QCOMPARE(window.Model()->CellText(0, TComputerTableModel::colIP), QStringLiteral("127.0.0.5"));
    FBoxes->SetNextAnswer(QMessageBox::Yes);
    window->acEditDelete->trigger();
    QCOMPARE(FBoxes->Shown().size(), 1);
    QCOMPARE(FBoxes->Shown().first().Text,
             QStringLiteral("The computer \"127.0.0.5\" will be removed from the database!     \r\n"
                            "Do you want to continue?"));
    QCOMPARE(FBoxes->Shown().first().Icon, QMessageBox::Question);
    QCOMPARE(window.Saves, 1);
    QCOMPARE(window.Names(), QStringList{"kept"});
    QCOMPARE(window->Root()->Computers()->Count(), 1);
    QVERIFY(!window->acEditDelete->isEnabled());
}

void TestFrmMain::deleteThree()
{
    WriteDatabase(Dir(), {{"a", "127.0.0.1"}, {"b", "127.0.0.2"}, {"c", "127.0.0.3"}, {"d", "127.0.0.4"}});
    {
        TWatchedWindow window(Dir());
        QVERIFY(window.WaitForChecks(4));
        window.Saves = 0;
        window.Select({0, 2, 3});
        FBoxes->SetNextAnswer(QMessageBox::Yes);
        window->acEditDelete->trigger();
        QCOMPARE(FBoxes->Shown().size(), 1);
        QCOMPARE(FBoxes->Shown().first().Text, Res::Str(Res::DeleteMany));
        // One pass over the list: the window hears of the three deletions once.
        QCOMPARE(window.Saves, 1);
        QCOMPARE(window.Names(), QStringList{"b"});
        QCOMPARE(window->Root()->Computers()->Count(), 1);
    }
    auto root = ReadDatabase(Dir());
    QVERIFY(root);
    QCOMPARE(root->Computers()->Count(), 1);
    QCOMPARE(root->Computers()->Items(0)->Name(), QStringLiteral("b"));
}

void TestFrmMain::deleteAnsweredNo()
{
    WriteDatabase(Dir(), {{"a", "127.0.0.1"}, {"b", "127.0.0.2"}});
    TWatchedWindow window(Dir());
    QVERIFY(window.WaitForChecks(2));
    // The checks' results are written a moment after they arrive.
    QTRY_COMPARE(window->OpenDatabase()->SaveState(), TOpenDatabase::ssSaved);
    const QByteArray before = FileBytes(Dir() + "/network.ccn");
    window.Saves = 0;
    for (const QList<int>& rows : {QList<int>{0}, QList<int>{0, 1}}) {
        window.Select(rows);
        FBoxes->SetNextAnswer(QMessageBox::No);
        window->acEditDelete->trigger();
    }
    QCOMPARE(FBoxes->Shown().size(), 2);
    QCOMPARE(window.Saves, 0);
    QCOMPARE(window.Names(), (QStringList{"a", "b"}));
    QCOMPARE(window->Root()->Computers()->Count(), 2);
    QCOMPARE(FileBytes(Dir() + "/network.ccn"), before);

    // Nothing selected: no question at all.
    window.Select({});
    window->acEditDelete->trigger();
    QCOMPARE(FBoxes->Shown().size(), 2);
}

void TestFrmMain::activateSendsAfterDelay()
{
    TUdpListener first;
    TUdpListener second;
    TUdpListener unselected;
    const QString mac = QStringLiteral("00-1A-2B-3C-4D-5E");
    WriteDatabase(Dir(), {{"first", "127.0.0.1", mac, "", false, soInternet, first.Port()},
                          {"second", "127.0.0.1", mac, "", false, soInternet, second.Port()},
                          {"third", "127.0.0.1", mac, "", false, soInternet, unselected.Port()}});
    TWatchedWindow window(Dir());
    window.Select({0, 1});
    QElapsedTimer clock;
    clock.start();
    window->acToolsWakeUp->trigger();
    QVERIFY(FBoxes->Shown().isEmpty());

    int firstSize = -1;
    int secondSize = -1;
    qint64 firstAt = -1;
    qint64 secondAt = -1;
    while ((firstSize < 0 || secondSize < 0) && clock.elapsed() < 8000) {
        QTest::qWait(10);
        if (firstSize < 0 && (firstSize = first.Receive()) >= 0)
            firstAt = clock.elapsed();
        if (secondSize < 0 && (secondSize = second.Receive()) >= 0)
            secondAt = clock.elapsed();
    }
    QCOMPARE(firstSize, 102);
    QCOMPARE(secondSize, 102);
    for (qint64 at : {firstAt, secondAt}) {
        QVERIFY2(at >= 1800 && at < 4000, qPrintable(QString::number(at)));
    }
    QCOMPARE(first.Receive(), -1);
    QCOMPARE(second.Receive(), -1);
    QCOMPARE(unselected.Receive(), -1);
    // Each woken computer is checked a few seconds later; the status bar says how they went, in one line.
    const QRegularExpression answered(QStringLiteral("^Woke 2 computers: 2 answered within \\d+ s$"));
    QTRY_VERIFY_WITH_TIMEOUT(answered.match(window->StatusText()).hasMatch(), 10000);
    QVERIFY(!window->OpenDatabase()->WakeWatch()->Watching(window->Root()->Computers()->Items(0)->ItemID()));
}

// A name holding place markers is shown as it is in the status bar, the hint and a message box.
void TestFrmMain::userTextsTakenAsTheyAre()
{
    const QString name = QStringLiteral("PC%1 %2");
    WriteDatabase(Dir(), {{name, "127.0.0.1", "00-1A-2B-3C-4D-5E", "", false, soInternet, 9}});
    TWatchedWindow window(Dir());
    QSignalSpy messages(window->OpenDatabase(), &TOpenDatabase::StatusMessage);
    window->OpenDatabase()->WakeWatch()->SetTiming(100, 10000);
    window.Select({0});
    window->acToolsWakeUp->trigger();
    const QRegularExpression answered("^PC%1 %2 answered \\d+ s after the wake-up$");
    QTRY_VERIFY_WITH_TIMEOUT(messages.size() > 0, 10000);
    QVERIFY2(answered.match(window->StatusText()).hasMatch(), qPrintable(window->StatusText()));
    QVERIFY(
        window.Model()->index(0, 1).data(TComputerTableModel::HintRole).toString().startsWith(name + " ("));
    window->acEditDelete->trigger();
    QCOMPARE(FBoxes->Shown().size(), 1);
    QVERIFY(FBoxes->Shown().first().Text.startsWith("The computer \"" + name + "\" will be removed"));
}

void TestFrmMain::refreshChecksSelectionOrAll()
{
    WriteDatabase(Dir(), {{"a", "127.0.0.1"}, {"b", "127.0.0.2"}, {"c", "127.0.0.3"}});
    TWatchedWindow window(Dir());
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.Window.get()));
    QVERIFY(window.WaitForChecks(3));
    QVERIFY(window->acToolsRefresh->isEnabled());
    TComputers* computers = window->Root()->Computers();
    auto running = [computers] {
        QList<bool> result;
        for (int i = 0; i < computers->Count(); ++i)
            result << (computers->Items(i)->RunningCheck() != nullptr);
        return result;
    };
    window.Select({1});
    QTest::keyClick(window->VST, Qt::Key_F5);
    QCOMPARE(running(), (QList<bool>{false, true, false}));
    QVERIFY(window.WaitForChecks(4));
    window.Select({});
    QTest::keyClick(window->VST, Qt::Key_F5);
    QCOMPARE(running(), (QList<bool>{true, true, true}));
    QVERIFY(window.WaitForChecks(7));
}

void TestFrmMain::hintTellsWhy_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("extra"); // the line after the address; empty: none
    QTest::newRow("timed out") << false << "Timed out"
                               << ""
                               << "Timed out";
    QTest::newRow("no socket") << false << "Exception: Cannot allocate socket."
                               << ""
                               << "Exception: Cannot allocate socket.";
    QTest::newRow("online") << true << "Response from 127.0.0.1 in 0 millisec."
                            << ""
                            << "";
    QTest::newRow("another machine")
        << true << "Response from 127.0.0.1 in 0 millisec."
        << "Answers from a different MAC address (02-00-00-00-00-01) than the stored one"
        << "Answers from a different MAC address (02-00-00-00-00-01) than the stored one";
    QTest::newRow("warning of an old check") << false << "Timed out"
                                             << "stale"
                                             << "Timed out";
}

void TestFrmMain::hintTellsWhy()
{
    QFETCH(bool, online);
    QFETCH(QString, reply);
    QFETCH(QString, warning);
    QFETCH(QString, extra);
    WriteDatabase(Dir(), {{"pc", ""}});
    TWatchedWindow window(Dir());
    QVERIFY(window.WaitForChecks(1));
    TComputer* computer = window->Root()->Computers()->Items(0);
    computer->Online = online;
    computer->LastPingReply = reply;
    computer->IdentityWarning = warning;
    const QStringList lines = window.Model()->Hint(0).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.value(0), QString(online ? "pc (Online)" : "pc (Offline)"));
    QCOMPARE(lines.value(2), extra);
    QCOMPARE(lines.size(), extra.isEmpty() ? 2 : 3);
}

void TestFrmMain::selectionEnablesCommands()
{
    WriteDatabase(Dir(), {{"a", "127.0.0.1"}, {"b", "127.0.0.2"}});
    TWatchedWindow window(Dir());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.Window.get()));
    QVERIFY(!window->acToolsWakeUp->isEnabled());

    // Keyboard only.
    window->VST->setFocus();
    window->VST->setCurrentIndex(window.Model()->index(0, 0));
    QTest::keyClick(window->VST, Qt::Key_Down);
    QCOMPARE(window->VST->SelectedRows(), QList<int>{1});
    QVERIFY(window->acToolsWakeUp->isEnabled());
    QVERIFY(window->acEditDelete->isEnabled());
    QVERIFY(window->acEditProperties->isEnabled());
    // Enter opens the row's properties (closed again at once).
    QSignalSpy properties(window->acEditProperties, &QAction::triggered);
    QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    QTest::keyClick(window->VST, Qt::Key_Return);
    QCOMPARE(properties.size(), 1);

    // A click on the empty space below the rows clears the selection.
    const QPoint below(10, window->VST->viewport()->height() - 5);
    QTest::mouseClick(window->VST->viewport(), Qt::LeftButton, {}, below);
    QVERIFY(window->VST->SelectedRows().isEmpty());
    QVERIFY(!window->acToolsWakeUp->isEnabled());

    // A right click selects the row under the pointer.
    const QRect second = window->VST->visualRect(window.Model()->index(1, 0));
    QTest::mousePress(window->VST->viewport(), Qt::RightButton, {}, second.center());
    QTest::mouseRelease(window->VST->viewport(), Qt::RightButton, {}, second.center());
    QCOMPARE(window->VST->SelectedRows(), QList<int>{1});
    QCOMPARE(window->VST->visualRect(window.Model()->index(0, 0)).height(), 26);
    QVERIFY(window.WaitForChecks(2));
}

void TestFrmMain::dragSelectsWithRubberBand()
{
    WriteDatabase(Dir(), {{"a", "127.0.0.1"}, {"b", "127.0.0.2"}, {"c", "127.0.0.3"}, {"d", "127.0.0.4"}});
    TWatchedWindow window(Dir());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.Window.get()));
    QWidget* viewport = window->VST->viewport();
    const QPoint from = window->VST->visualRect(window.Model()->index(0, 1)).center();
    const QPoint to = window->VST->visualRect(window.Model()->index(2, 1)).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(viewport, &move);
    const QRubberBand* band = viewport->findChild<QRubberBand*>();
    QVERIFY(band && band->isVisible());
    QCOMPARE(band->geometry(), QRect(from, to).normalized());
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
    QVERIFY(!band->isVisible());
    QCOMPARE(window->VST->SelectedRows(), (QList<int>{0, 1, 2}));
    QVERIFY(window->acEditDelete->isEnabled());
    QVERIFY(window.WaitForChecks(4));
}

void TestFrmMain::commandsLayout()
{
    TfrmMain window(File());
    auto texts = [](const QMenu* menu) {
        QStringList items;
        for (const QAction* action : menu->actions())
            items << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return items;
    };
    QStringList menus;
    QList<QStringList> items;
    for (const QAction* action : window.menuBar()->actions()) {
        menus << action->text();
        items << texts(action->menu());
    }
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Tools", "&Help"}));
    QCOMPARE(items[0], (QStringList{"Ne&w computer...", "-", "&Exit"}));
    QCOMPARE(items[1], (QStringList{"&Delete", "-", "&Properties..."}));
    QCOMPARE(items[2], (QStringList{"&Activate", "&Refresh", "-", "&Scan network...",
                                    "S&chedule for all computers...", "&Options...", "Re&lays..."}));
    QCOMPARE(items[3], (QStringList{"&Get Sablewick Professional", "-", "&Ostrel Development web site",
                                    "&Quandrel web site", "-", "&Support forums", "-", "&About..."}));

    QCOMPARE(window.acNewCompManual->shortcut(), QKeySequence(Qt::Key_Insert));
    QCOMPARE(window.acEditDelete->shortcut(), QKeySequence(Qt::Key_Delete));
    QCOMPARE(window.acToolsWakeUp->shortcut(), QKeySequence(Qt::Key_F3));
    QCOMPARE(window.acToolsRefresh->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(window.acEditDelete->toolTip(), Res::Str(Res::AcEditDeleteHint));
    QCOMPARE(window.acToolsWakeUp->iconText(), QStringLiteral("Activate"));
    QCOMPARE(window.acEditProperties->iconText(), QStringLiteral("Properties..."));

    const auto bars = window.findChildren<QToolBar*>();
    QCOMPARE(bars.size(), 2);
    QVERIFY(window.toolBarBreak(bars[1]) || window.toolBarBreak(bars[0]));
    auto barItems = [](const QToolBar* bar) {
        QStringList names;
        for (const QAction* action : bar->actions())
            names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
        return names;
    };
    QCOMPARE(barItems(window.findChild<QToolBar*>("ToolBar1")),
             (QStringList{"acNewCompManual", "-", "acToolsWakeUp"}));
    QCOMPARE(barItems(window.findChild<QToolBar*>("ToolBar2")),
             (QStringList{"acEditDelete", "acEditProperties", "-", "acHelpSablewickPro"}));

    QStringList popup;
    for (const QAction* action : window.popVST->actions())
        popup << (action->isSeparator() ? QStringLiteral("-")
                  : action->menu()      ? "New:" + texts(action->menu()).join(',')
                                        : action->objectName());
    QCOMPARE(popup, (QStringList{"acToolsWakeUp", "acToolsRefresh", "-", "acEditDelete",
                                 "New:Ne&w computer...", "-", "acEditProperties"}));

    QCOMPARE(window.VST->header()->sectionSize(TComputerTableModel::colMAC), 150);
    QCOMPARE(window.VST->header()->sectionSize(TComputerTableModel::colIP), 150);
    QCOMPARE(window.VSTModel->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Name"));
    QCOMPARE(window.VSTModel->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("MAC Address"));
    QCOMPARE(window.VSTModel->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("IP Address"));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.acFileExit->trigger();
    QVERIFY(!window.isVisible());
}

void TestFrmMain::webLinks_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("host");
    QTest::newRow("professional") << "acHelpSablewickPro"
                                  << "www.sablewick.example";
    QTest::newRow("maker") << "acHelpOstrelDev"
                           << "www.ostrel.example";
    QTest::newRow("partner") << "acHelpQuandrel"
                             << "www.quandrel.example";
    QTest::newRow("forum") << "acHelpSupport"
                           << "forums.ostrel.example";
}

void TestFrmMain::webLinks()
{
    QFETCH(QString, action);
    QFETCH(QString, host);
    TfrmMain window(File());
    FOpened.clear();
    QDesktopServices::setUrlHandler("https", this, "OpenUrl");
    window.findChild<QAction*>(action)->trigger();
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(FOpened.size(), 1);
    QCOMPARE(FOpened.first().host(), host);
    QVERIFY(FBoxes->Shown().isEmpty());

    window.findChild<QAction*>(action)->trigger(); // no browser here: a box says so, not only stderr
    QVERIFY(FBoxes->Shown().size() == 1 && FBoxes->Shown().first().Text.contains(host));
}

void TestFrmMain::failedSaveToldOnce()
{
    const QString program = Dir() + "/program";
    const QString moved = Dir() + "/moved";
    QVERIFY(QDir().mkpath(program));
    auto window = std::make_unique<TfrmMain>(program + "/network.ccn");
    TGroup* root = window->Root();
    QVERIFY(root);

    // Without its folder the file can't be replaced.
    QVERIFY(QDir().rename(program, moved));
    root->Computers()->Add();
    root->Computers()->Add();
    // Not during the command, but after it.
    QVERIFY(FBoxes->Shown().isEmpty());
    QTRY_COMPARE(FBoxes->Shown().size(), 1);
    QTest::qWait(50);
    QCOMPARE(FBoxes->Shown().size(), 1);
    const QString text = FBoxes->Shown().first().Text;
    QVERIFY2(text.startsWith("Unable to save the database \"" + program + "/network.ccn\"!\r\n"),
             qPrintable(text));
    QVERIFY(text.size() >
            QStringLiteral("Unable to save the database \"\"!\r\n").size() + program.size() + 12);
    QCOMPARE(FBoxes->Shown().first().Icon, QMessageBox::Critical);

    // A good save re-arms the message.
    QVERIFY(QDir().rename(moved, program));
    root->Computers()->Add();
    // Written by the window's writer thread: the folder goes only once that save has ended.
    QTRY_VERIFY(!window->OpenDatabase()->Saving());
    QVERIFY(QDir().rename(program, moved));
    root->Computers()->Add();
    QTRY_COMPARE(FBoxes->Shown().size(), 2);

    // The exit tries once more and, failing, asks before the window goes.
    window.reset();
    QCOMPARE(FBoxes->Shown().size(), 3);
    QCOMPARE(FBoxes->Shown().last().Text, text);
    QCOMPARE(FBoxes->Shown().last().Buttons, QMessageBox::Retry | QMessageBox::Discard);
    QVERIFY(QDir().rename(moved, program));
}

// A full disk at exit: Retry after freeing space saves everything, Discard and a close by signal keep the
// file and its backup copy as they are, and a signal never waits for a box.
void TestFrmMain::exitSaveFails_data()
{
    QTest::addColumn<bool>("retry");
    QTest::addColumn<bool>("bySignal");
    QTest::newRow("retry") << true << false;
    QTest::newRow("discard") << false << false;
    QTest::newRow("signal") << false << true;
}

void TestFrmMain::exitSaveFails()
{
    QFETCH(bool, retry);
    QFETCH(bool, bySignal);
    WriteDatabase(Dir(), {{"kept", "127.0.0.1", "00-11-22-33-44-55", "", false}});
    auto window = std::make_unique<TfrmMain>(File());
    QVERIFY(window->Root());
    const QString backup = Dir() + "/network.~ccn";
    QVERIFY(QFile::exists(backup));

    // Every write beyond a few bytes fails, as on a full disk; reading and removing still work.
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny{16, old.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &tiny) == 0);
    auto freeSpace = [&old] { ::setrlimit(RLIMIT_FSIZE, &old); };
    window->Root()->Computers()->Add()->SetName("added");
    QTRY_COMPARE(FBoxes->Shown().size(), 1);
    FBoxes->Clear();

    if (retry) {
        FBoxes->SetOnShow([&](const TShownMessage&) { freeSpace(); });
        FBoxes->SetNextAnswer(QMessageBox::Retry);
    }
    TApplication::SetClosingOnSignal(bySignal);
    window.reset();
    TApplication::SetClosingOnSignal(false);
    freeSpace();
    std::signal(SIGXFSZ, oldSignal);
    FBoxes->SetOnShow(nullptr);

    QCOMPARE(FBoxes->Shown().size(), bySignal ? 0 : 1);
    QCOMPARE(QFile::exists(backup), !retry);
    QCOMPARE(ReadDatabase(Dir())->Computers()->Count(), retry ? 2 : 1);
}

void TestFrmMain::notAdministrator()
{
    auto window = StartUp(File(), [] { return IsUserAdmin(QStringLiteral("nobody")); });
    QVERIFY(!window);
    QCOMPARE(FBoxes->Shown().size(), 1);
    const TShownMessage box = FBoxes->Shown().first();
    QCOMPARE(box.Text, QStringLiteral("Sablewick is unable to startup because your user account     \r\n"
                                      "does not include administrative priviliges!\r\n\r\n"
                                      "Please logon with an adminstrator account or contact your\r\n"
                                      "system administrator for more information."));
    QCOMPARE(box.Caption, QStringLiteral("Sablewick"));
    QCOMPARE(box.Icon, QMessageBox::Critical);
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<TfrmMain*>(widget));
    QVERIFY(QDir(Dir()).entryList(QDir::Files).isEmpty());

    auto admin = StartUp(File(), [] { return IsUserAdmin(QStringLiteral("root")); });
    QVERIFY(admin);
    QCOMPARE(FBoxes->Shown().size(), 1);
}

void TestFrmMain::windowTitle_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("title");
    QTest::newRow("no edition library") << "swdist-not-installed"
                                        << "Sablewick";
    QTest::newRow("named edition") << EDITION_DIR "/edition_named/libswdist.so"
                                   << "Sablewick - Home Edition";
    QTest::newRow("empty name") << EDITION_DIR "/edition_empty/libswdist.so"
                                << "Sablewick";
}

void TestFrmMain::windowTitle()
{
    QFETCH(QString, library);
    QFETCH(QString, title);
    TEditionLibrary::SetFileName(library);
    TfrmMain window(File());
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(TApplication::Title(), title);
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmMain.moc"
