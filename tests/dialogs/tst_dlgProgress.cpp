#include "dialogs/dlgProgress.h"

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>

namespace {

// Stands for the window that waits with the progress window: records the cancel messages and whether
// the progress window was still open while it handled them.
class TReceiver : public QWidget
{
public:
    TfrmProgress* progress = nullptr;
    int cancels = 0;
    bool progressOpenWhileHandled = false;
    bool releaseProgress = false;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == WM_PROGRESSCANCEL) {
            ++cancels;
            progressOpenWhileHandled = progress && progress->isVisible();
            if (releaseProgress) {
                delete progress;
                progress = nullptr;
            }
            return true;
        }
        return QWidget::event(e);
    }
};

} // namespace

class TestDlgProgress : public QObject
{
    Q_OBJECT

private slots:
    void statusSetOnlyWhenChanged()
    {
        TfrmProgress progress;
        progress.SetStatus(QStringLiteral("Detecting & resolving"));
        QCOMPARE(progress.lbStatus->text(), QStringLiteral("Detecting & resolving"));
        QCOMPARE(progress.lbStatus->textFormat(), Qt::PlainText);
        // Mark the label: setting the same status again must not touch it.
        progress.lbStatus->setText(QStringLiteral("marker"));
        progress.SetStatus(QStringLiteral("Detecting & resolving"));
        QCOMPARE(progress.lbStatus->text(), QStringLiteral("marker"));
        progress.SetStatus(QStringLiteral("other"));
        QCOMPARE(progress.lbStatus->text(), QStringLiteral("other"));
    }

    void cancelWithoutNotifyWindowDoesNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("click") << 0;
        QTest::newRow("escape") << int(Qt::Key_Escape);
        QTest::newRow("enter") << int(Qt::Key_Return);
    }
    void cancelWithoutNotifyWindowDoesNothing()
    {
        QFETCH(int, key);
        TfrmProgress progress;
        progress.show();
        QVERIFY(QTest::qWaitForWindowExposed(&progress));
        if (key)
            QTest::keyClick(&progress, Qt::Key(key));
        else
            QTest::mouseClick(progress.btnCancel, Qt::LeftButton);
        QVERIFY(progress.isVisible());
    }

    void cancelTellsNotifyWindowFirst_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("click") << 0;
        QTest::newRow("escape") << int(Qt::Key_Escape);
        QTest::newRow("return") << int(Qt::Key_Return);
        QTest::newRow("enter") << int(Qt::Key_Enter);
        // The window manager's close (Alt+F4, or a close box the window manager draws anyway).
        QTest::newRow("close") << -1;
    }
    void cancelTellsNotifyWindowFirst()
    {
        QFETCH(int, key);
        TReceiver receiver;
        TfrmProgress progress;
        receiver.progress = &progress;
        progress.SetNotifyWindow(&receiver);
        progress.show();
        QVERIFY(QTest::qWaitForWindowExposed(&progress));
        if (key > 0)
            QTest::keyClick(&progress, Qt::Key(key));
        else if (key < 0)
            progress.close();
        else
            QTest::mouseClick(progress.btnCancel, Qt::LeftButton);
        QCOMPARE(receiver.cancels, 1);
        QVERIFY(receiver.progressOpenWhileHandled);
        QVERIFY(!progress.isVisible());
    }

    void receiverMayReleaseProgressWindow()
    {
        TReceiver receiver;
        auto* progress = new TfrmProgress;
        receiver.progress = progress;
        receiver.releaseProgress = true;
        progress->SetNotifyWindow(&receiver);
        progress->show();
        QVERIFY(QTest::qWaitForWindowExposed(progress));
        QTest::mouseClick(progress->btnCancel, Qt::LeftButton);
        QCOMPARE(receiver.cancels, 1);
        QCOMPARE(receiver.progress, nullptr);
    }

    void closeMessageHidesWindow()
    {
        TfrmProgress progress;
        progress.show();
        QVERIFY(QTest::qWaitForWindowExposed(&progress));
        QEvent close(WM_PROGRESSCLOSE);
        QVERIFY(QCoreApplication::sendEvent(&progress, &close));
        QVERIFY(!progress.isVisible());
        // Still usable: it can be shown again and given a new status.
        progress.SetStatus(QStringLiteral("again"));
        QCOMPARE(progress.lbStatus->text(), QStringLiteral("again"));
    }

    void centredOverOwner()
    {
        QMainWindow main;
        main.setGeometry(200, 150, 640, 480);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        TfrmProgress progress;
        progress.show();
        QVERIFY(QTest::qWaitForWindowExposed(&progress));
        const QPoint delta = progress.frameGeometry().center() - main.frameGeometry().center();
        QVERIFY2(delta.manhattanLength() <= 2,
                 qPrintable(QStringLiteral("off by %1,%2").arg(delta.x()).arg(delta.y())));

        QWidget owner;
        owner.setGeometry(50, 60, 400, 300);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        TfrmProgress owned(&owner);
        owned.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owned));
        const QPoint ownedDelta = owned.frameGeometry().center() - owner.frameGeometry().center();
        QVERIFY(ownedDelta.manhattanLength() <= 2);
    }
};

QTEST_MAIN(TestDlgProgress)
#include "tst_dlgProgress.moc"
