// What the main window tells of wake-ups and checks, in a network namespace of its own.
#include "app/frmMain.h"
#include "app/tableModel.h"
#include "app/treeView.h"
#include "core/worker.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "net/checkSettings.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"
#include "ui/messageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString isolationProblem;

// A window on a new database of computers (name, address), woken on the discard port.
std::unique_ptr<TfrmMain> OpenWindow(const QString& dir, const QStringList& computers, TSendOptions send)
{
    {
        TOstrelDatabase db;
        db.FileName = dir + QStringLiteral("/network.ccn");
        db.CreateNew();
        TGroup group;
        group.Storage = db.DataStorage;
        for (qsizetype i = 0; i + 1 < computers.size(); i += 2) {
            TComputer* computer = group.Computers()->Add();
            computer->SetName(computers[i]);
            computer->IPAddress = computers[i + 1];
            computer->SendOptions = send;
            computer->Port = 9;
            computer->MACAddresses()->Add()->Address = QStringLiteral("02-00-00-00-00-0%1").arg(i);
            computer->MACAddresses()->Items(0)->UseForWake = true;
        }
        if (QString error; !SaveGroup(group, &error))
            return nullptr;
    }
    return std::make_unique<TfrmMain>(dir + QStringLiteral("/network.ccn"));
}

} // namespace

class TestFrmMainWake : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!isolationProblem.isEmpty())
            QSKIP(qPrintable(isolationProblem));
    }
    void cleanup() { QTRY_VERIFY_WITH_TIMEOUT(TWorkerThread::LiveCount() == 0, 15000); }
    void wakeOutcomes();
    void tcpReplyTellsHow();

private:
    TMessageRecorder FBoxes;
};

// Nothing routes to "far": told at once with the reason, and not watched. Woken with two that answer,
// all three are one line, kept current; each one's outcome is in its hint.
void TestFrmMainWake::wakeOutcomes()
{
    QTemporaryDir dir;
    auto window = OpenWindow(dir.path(), {"a", "127.0.0.1", "b", "127.0.0.2", "far", "192.168.50.5"}, soLAN);
    QVERIFY(window);
    window->OpenDatabase()->WakeWatch()->SetTiming(200, 20000);
    const QString far = window->Root()->Computers()->Items(2)->ItemID();
    window->VST->selectionModel()->select(window->VSTModel->index(2, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    window->acToolsWakeUp->trigger();
    const QString told = "far was not woken. The magic packet could not be sent: Network is unreachable.";
    QTRY_COMPARE_WITH_TIMEOUT(window->StatusText(), told, 5000);
    QVERIFY(!window->OpenDatabase()->WakeWatch()->Watching(far));

    window->VST->selectAll();
    window->acToolsWakeUp->trigger();
    QCOMPARE(window->StatusText(), QStringLiteral("Woke 3 computers: 3 not yet"));
    const QRegularExpression done("^Woke 3 computers: 2 answered within [1-5] s, 1 not sent$");
    QTRY_VERIFY_WITH_TIMEOUT(done.match(window->StatusText()).hasMatch(), 10000);
    QVERIFY(QRegularExpression("\r\na answered \\d+ s after the wake-up \\(at .+\\)$")
                .match(window->VSTModel->Hint(0))
                .hasMatch());
    QVERIFY(window->VSTModel->Hint(2).contains(told));
    QVERIFY(FBoxes.Shown().isEmpty());
}

// Up by TCP alone: a reset must not read as a service answering; the hint says ping got no answer.
void TestFrmMainWake::tcpReplyTellsHow()
{
    TTestNamespace peer(QStringLiteral("tcp"));
    QVERIFY(peer.Ok() && ConnectVeth(&peer, "10.77.37.2/24", nullptr, "10.77.37.1/24"));
    QCOMPARE(peer.Exec({"sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1"}), 0);
    QVERIFY(SetTcpProbePorts({2222}));
    QTemporaryDir dir;
    auto window = OpenWindow(dir.path(), {"quiet", "10.77.37.2"}, soLAN);
    QVERIFY(window);
    const TComputer* computer = window->Root()->Computers()->Items(0);
    QTRY_VERIFY_WITH_TIMEOUT(computer->Online, 10000);
    const QString reply = QStringLiteral("Response from 10.77.37.2 on TCP port 2222 (refused).");
    QCOMPARE(computer->LastPingReply, reply);
    QVERIFY(window->VSTModel->Hint(0).endsWith("\r\nNo answer to ping: " + reply));
}

int main(int argc, char* argv[])
{
    // Before any thread exists, so that nothing leaves the namespace; the settings in a folder of the test's.
    if (!IsolateNetwork(&isolationProblem) && isolationProblem.isEmpty())
        isolationProblem = QStringLiteral("no isolated network");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    TestFrmMainWake test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmMainWake.moc"
