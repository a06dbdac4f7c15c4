#include "core/worker.h"
#include "dialogs/dlgNetEnum.h"
#include "net/smbClient.h"
#include "net/threadNetEnumEx.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"
#include "support/sambaPeer.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <unistd.h>

namespace {

QString isolationProblem;

// Runs the dialog modally; action runs once the modal loop is up.
int RunModal(TfrmNetEnum& dialog, const std::function<void()>& action)
{
    QTimer::singleShot(0, &dialog, [&dialog, action] {
        QTRY_VERIFY(dialog.isVisible());
        action();
    });
    return dialog.exec();
}

void SelectRows(TfrmNetEnum& dialog, const QList<QModelIndex>& rows)
{
    QItemSelectionModel* selection = dialog.vtNet->selectionModel();
    selection->clearSelection();
    for (const QModelIndex& row : rows)
        selection->select(row, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace

class TstNetEnum : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // Workers of an earlier case may still be on their way out.
        QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 30000);
    }

    void serverLines_data();
    void serverLines();
    void firstSelectedInTreeOrder();
    void rightClickSelects();
    void keys_data();
    void keys();
    void rowsAndColumns();
    void serverListThatAnswersNothing();
    void selectBeforeTheListArrives();
    void walkStoppedWithTheDialog();
    void serverListFromSamba();
};

void TstNetEnum::serverLines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("comments");

    QTest::newRow("network order, not sorted")
        << QStringList{"ZED=last letter", "ALPHA=first letter"} << QStringList{"ZED", "ALPHA"}
        << QStringList{"last letter", "first letter"};
    QTest::newRow("empty comment") << QStringList{"PC1="} << QStringList{"PC1"} << QStringList{""};
    QTest::newRow("comment holding =")
        << QStringList{"NAS=disk=2TB, raid=1"} << QStringList{"NAS"} << QStringList{"disk=2TB, raid=1"};
    QTest::newRow("no = at all") << QStringList{"LONELY"} << QStringList{"LONELY"} << QStringList{""};
    QTest::newRow("empty name") << QStringList{"=comment only"} << QStringList{""}
                                << QStringList{"comment only"};
    QTest::newRow("nothing") << QStringList{} << QStringList{} << QStringList{};
}

void TstNetEnum::serverLines()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, names);
    QFETCH(QStringList, comments);

    TfrmNetEnum dialog;
    dialog.AddServers(lines);
    TNetTreeModel* model = dialog.Model();
    QCOMPARE(model->rowCount(), names.size());
    for (int row = 0; row < names.size(); ++row) {
        const QModelIndex name = model->index(row, TNetTreeModel::colComputers);
        const QModelIndex comment = model->index(row, TNetTreeModel::colComments);
        QCOMPARE(model->rowCount(name), 0);
        QCOMPARE(name.data(Qt::DisplayRole).toString(), names[row]);
        QCOMPARE(name.data(Qt::ToolTipRole).toString(), names[row]);
        QCOMPARE(comment.data(Qt::DisplayRole).toString(), comments[row]);
        QCOMPARE(comment.data(Qt::ToolTipRole).toString(), comments[row]);
        // Every node shows the one image in the first column and none in the second.
        QVERIFY(!name.data(Qt::DecorationRole).value<QIcon>().isNull());
        QVERIFY(!comment.data(Qt::DecorationRole).isValid());
        const TNetEntry* entry = model->Entry(name);
        QVERIFY(entry);
        QCOMPARE(entry->EntryKind, nekServer);
        QCOMPARE(entry->RemoteName, names[row]);
        QVERIFY(entry->LocalName.isEmpty());
        QVERIFY(entry->Provider.isEmpty());
    }
}

void TstNetEnum::firstSelectedInTreeOrder()
{
    TfrmNetEnum dialog;
    TNetTreeModel* model = dialog.Model();
    auto make = [](const QString& name) {
        auto entry = std::make_unique<TNetEntry>();
        entry->RemoteName = name;
        entry->EntryKind = nekDomain;
        return entry;
    };
    // WORKGROUP (with SERVER1 and SERVER2 under it), then OTHERGROUP at the top level.
    void* workgroup = model->AddEntry(nullptr, make("WORKGROUP"));
    model->AddEntry(workgroup, make("\\\\SERVER1"));
    model->AddEntry(workgroup, make("\\\\SERVER2"));
    model->AddEntry(nullptr, make("OTHERGROUP"));
    QCOMPARE(model->rowCount(), 2);
    const QModelIndex group = model->IndexOfNode(workgroup);
    QCOMPARE(model->rowCount(group), 2);
    const QModelIndex server1 = model->index(0, 0, group);
    const QModelIndex server2 = model->index(1, 0, group);
    const QModelIndex other = model->index(1, 0);
    QCOMPARE(model->parent(server2), group);

    QCOMPARE(dialog.SelectedEntry(), nullptr);
    // Selected last to first: tree order still decides.
    SelectRows(dialog, {other, server2});
    QCOMPARE(dialog.SelectedEntry()->RemoteName, QStringLiteral("\\\\SERVER2"));
    SelectRows(dialog, {other, server2, server1});
    QCOMPARE(dialog.SelectedEntry()->RemoteName, QStringLiteral("\\\\SERVER1"));
    SelectRows(dialog, {other, group});
    QCOMPARE(dialog.SelectedEntry()->RemoteName, QStringLiteral("WORKGROUP"));
    SelectRows(dialog, {other});
    QCOMPARE(dialog.SelectedEntry()->RemoteName, QStringLiteral("OTHERGROUP"));
}

void TstNetEnum::rightClickSelects()
{
    TfrmNetEnum dialog;
    dialog.AddServers({"ONE=", "TWO=", "THREE="});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect row = dialog.vtNet->visualRect(dialog.Model()->index(2, 0));
    QTest::mouseClick(dialog.vtNet->viewport(), Qt::RightButton, {}, row.center());
    QVERIFY(dialog.SelectedEntry());
    QCOMPARE(dialog.SelectedEntry()->RemoteName, QStringLiteral("THREE"));
}

void TstNetEnum::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("Escape cancels") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    QTest::newRow("Enter selects") << int(Qt::Key_Return) << int(QDialog::Accepted);
}

void TstNetEnum::keys()
{
    QFETCH(int, key);
    QFETCH(int, result);
    TfrmNetEnum dialog;
    dialog.AddServers({"ONE=first"});
    const int got = RunModal(dialog, [&] {
        SelectRows(dialog, {dialog.Model()->index(0, 0)});
        QTest::keyClick(&dialog, Qt::Key(key));
    });
    QCOMPARE(got, result);
    // The selection stays for the caller either way.
    QCOMPARE(dialog.SelectedEntry()->RemoteName, QStringLiteral("ONE"));
}

void TstNetEnum::rowsAndColumns()
{
    TfrmNetEnum dialog;
    dialog.AddServers({"ONE=first", "TWO=second"});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTreeView* tree = dialog.vtNet;
    QCOMPARE(tree->visualRect(dialog.Model()->index(1, 0)).height(), 26);
    QHeaderView* header = tree->header();
    QCOMPARE(header->sectionSize(TNetTreeModel::colComments), 150);
    // The first column takes the rest of the width.
    QCOMPARE(header->sectionSize(TNetTreeModel::colComputers) + 150, tree->viewport()->width());
    // Several rows at once.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualRect(dialog.Model()->index(0, 0)).center());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      tree->visualRect(dialog.Model()->index(1, 1)).center());
    QCOMPARE(tree->selectionModel()->selectedRows().size(), 2);
}

void TstNetEnum::serverListThatAnswersNothing()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    TfrmNetEnum dialog;
    dialog.ListServers = true;
    dialog.StartBrowsing();
    QPointer<TNetEnumThreadEx> worker = dialog.ServerListWorker();
    QVERIFY(worker);
    // No browse service on this network: the answer comes and is empty.
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.ServerListWorker(), 60000);
    QCOMPARE(dialog.Model()->rowCount(), 0);
    // The dialog frees the worker it owns once it has read it.
    QTRY_VERIFY(worker.isNull());

    const int result = RunModal(dialog, [&] { dialog.btnSelect->click(); });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog.SelectedEntry(), nullptr);
}

void TstNetEnum::selectBeforeTheListArrives()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    QPointer<TNetEnumThreadEx> worker;
    {
        TfrmNetEnum dialog;
        dialog.ListServers = true;
        dialog.StartBrowsing();
        worker = dialog.ServerListWorker();
        QVERIFY(worker);
        // No event has been handled since the start, so the answer cannot have been taken yet.
        dialog.btnSelect->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.ServerListWorker(), nullptr);
        QVERIFY(worker);
        QVERIFY(worker->StopRequested());
        QVERIFY(!worker->HasOnTerminate());
        // Detached, it frees itself when its run ends, and the list never reaches the tree.
        QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 60000);
        QCOMPARE(dialog.Model()->rowCount(), 0);
    }
    QCOMPARE(TWorkerThread::LiveCount(), 0);
}

void TstNetEnum::walkStoppedWithTheDialog()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    QPointer<TNetEnumThread> walk;
    {
        TfrmNetEnum dialog;
        dialog.StartBrowsing();
        walk = dialog.WalkWorker();
        QVERIFY(walk);
    }
    // Gone with the dialog: the walk was told to stop, adds nothing more and frees itself.
    if (walk)
        QVERIFY(walk->StopRequested());
    QTRY_VERIFY_WITH_TIMEOUT(walk.isNull(), 60000);
}

void TstNetEnum::serverListFromSamba()
{
    if (!isolationProblem.isEmpty())
        QSKIP(qPrintable(isolationProblem));
    QString reason;
    if (!TTestNamespace::Available(&reason) || !TSambaPeer::Available(&reason))
        QSKIP(qPrintable(reason));
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const QString hostName = QString::fromLocal8Bit(host).section(QLatin1Char('.'), 0, 0).left(15);

    // This test's own namespace 10.232.7.1/24 -- peer namespace 10.232.7.2/24: nmbd as the master
    // browser of the workgroup and smbd, which answers the server list.
    TTestNamespace peerNamespace(QStringLiteral("nedlg"));
    QVERIFY(peerNamespace.Ok());
    QString error;
    if (!ConnectVeth(nullptr, QStringLiteral("10.232.7.1/24"), &peerNamespace,
                     QStringLiteral("10.232.7.2/24"), &error))
        QSKIP(qPrintable(error));
    QTemporaryDir dir;
    TSmbClient::SetConfiguration(TSambaPeer::WriteClientConfiguration(dir.path(), QStringLiteral("SWDLG"),
                                                                      QStringLiteral("10.232.7.1/24")));
    auto restore = qScopeGuard([] { TSmbClient::SetConfiguration(QString()); });
    TSambaPeer::TOptions options;
    options.NetbiosName = QStringLiteral("SWNAS");
    options.Workgroup = QStringLiteral("SWDLG");
    options.Address = QStringLiteral("10.232.7.2/24");
    // The peer also carries this computer's name (in another letter case): the list must leave it out.
    options.Aliases = hostName.toUpper() == hostName ? hostName.toLower() : hostName.toUpper();
    options.ServerString = QStringLiteral("Disk = 2 TB");
    options.Smbd = true;
    options.MasterBrowser = true;
    TSambaPeer peer(peerNamespace, options);
    if (!peer.Start(&error))
        QSKIP(qPrintable(error));

    // nmbd needs a while to become the master browser; until then the list comes back empty.
    QDeadlineTimer deadline(120000);
    for (;;) {
        TfrmNetEnum dialog;
        dialog.ListServers = true;
        dialog.StartBrowsing();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.ServerListWorker(), 60000);
        TNetTreeModel* model = dialog.Model();
        if (model->rowCount() == 0) {
            if (deadline.hasExpired())
                QSKIP("nmbd did not become the master browser of the test namespace in time");
            QTest::qWait(1000);
            continue;
        }
        QStringList names;
        for (int row = 0; row < model->rowCount(); ++row)
            names << model->index(row, 0).data().toString();
        QCOMPARE(names, QStringList{QStringLiteral("SWNAS")});
        // Split at the first "=": the rest of the comment stays as the server gave it.
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("Disk = 2 TB"));
        QCOMPARE(model->Entry(model->index(0, 0))->EntryKind, nekServer);

        const int result = RunModal(dialog, [&] {
            const QRect row = dialog.vtNet->visualRect(model->index(0, 1));
            QTest::mouseClick(dialog.vtNet->viewport(), Qt::LeftButton, {}, row.center());
            QTest::keyClick(dialog.vtNet, Qt::Key_Return);
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(dialog.SelectedEntry());
        QCOMPARE(dialog.SelectedEntry()->RemoteName, QStringLiteral("SWNAS"));
        break;
    }
}

int main(int argc, char* argv[])
{
    // Before any thread exists, so every worker and lookup of the test stays inside.
    if (!IsolateNetwork(&isolationProblem) && isolationProblem.isEmpty())
        isolationProblem = QStringLiteral("no isolated network");
    QApplication app(argc, argv);
    TstNetEnum test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dlgNetEnum.moc"
