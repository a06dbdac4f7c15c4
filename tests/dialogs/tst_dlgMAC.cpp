#include "dialogs/dlgMAC.h"
#include "ui/macEdit.h"
#include "ui/messageBoxes.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestDlgMAC : public QObject
{
    Q_OBJECT

private slots:
    void addressFieldFocusedOnOpen()
    {
        TfrmMAC form;
        QCOMPARE(form.edMAC->MaskedText(), QStringLiteral("  -  -  -  -  -  "));
        QVERIFY(form.btnOK->isDefault());
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTRY_COMPARE(QApplication::focusWidget(), form.edMAC);
    }

    void okAcceptsOnlyValidAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("valid") << "a0b1c2d3e4f5" << true;
        QTest::newRow("letters beyond F") << "g0b1c2d3e4f5" << false;
    }
    void okAcceptsOnlyValidAddress()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        TMessageRecorder recorder;
        TfrmMAC form;
        QTimer::singleShot(0, &form, [&] {
            form.edMAC->setCursorPosition(0);
            QTest::keyClicks(form.edMAC, typed);
            QTest::keyClick(form.edMAC, Qt::Key_Return);
            if (form.isVisible())
                form.btnCancel->click();
        });
        QCOMPARE(form.exec(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(recorder.Shown().size(), accepted ? 0 : 1);
        if (accepted)
            QCOMPARE(form.edMAC->MaskedText(), QStringLiteral("A0-B1-C2-D3-E4-F5"));
    }
};

QTEST_MAIN(TestDlgMAC)
#include "tst_dlgMAC.moc"
