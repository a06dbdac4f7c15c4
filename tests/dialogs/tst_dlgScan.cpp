// The scan dialog's Enter and its guard of hosts not yet added, sweeping loopback in a namespace of its own.
#include "core/worker.h"
#include "dialogs/dlgScan.h"
#include "model/computers.h"
#include "support/isolatedNetwork.h"
#include "ui/messageBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

QString isolationProblem;

class TestDlgScan : public QObject
{
    Q_OBJECT

private slots:
    // Enter starts the sweep; once hosts are checked, starting again asks (No keeps them) and Enter adds.
    void enterAddsOnceThereAreResults()
    {
        if (!isolationProblem.isEmpty())
            QSKIP(qPrintable(isolationProblem));
        TMessageRecorder boxes;
        TGroup root;
        TfrmScan dialog(&root, TScanOptions{TScanOptions::DefaultRate, false});
        dialog.show();
        dialog.cbNetwork->setEditText(QStringLiteral("127.0.0.0/30"));
        QTest::keyClick(dialog.cbNetwork, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.Scanning(), 20000);
        const int found = dialog.lvHosts->topLevelItemCount();
        QVERIFY(found > 0 && dialog.SelectedHosts().size() == size_t(found));
        boxes.SetNextAnswer(QMessageBox::No);
        dialog.btnStart->click();
        QCOMPARE(boxes.Shown().size(), 1);
        QVERIFY(!dialog.Scanning() && dialog.lvHosts->topLevelItemCount() == found);
        QTest::keyClick(dialog.lvHosts, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QTRY_VERIFY_WITH_TIMEOUT(TWorkerThread::LiveCount() == 0, 15000);
    }
};

int main(int argc, char* argv[])
{
    if (!IsolateNetwork(&isolationProblem) && isolationProblem.isEmpty())
        isolationProblem = QStringLiteral("no isolated network");
    QApplication app(argc, argv);
    TestDlgScan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dlgScan.moc"
