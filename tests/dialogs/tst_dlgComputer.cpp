#include "core/mainThread.h"
#include "core/texts.h"
#include "dialogs/dlgComputer.h"
#include "dialogs/frameSchedule.h"
#include "model/computers.h"
#include "ui/macEdit.h"
#include "ui/messageBoxes.h"

#include <functional>
#include <memory>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <sched.h>

namespace {

// A stored computer as the main window would hand it over.
std::unique_ptr<TComputer> MakeComputer(TSendOptions sendOptions = soLAN)
{
    auto computer = std::make_unique<TComputer>();
    computer->SetName(QStringLiteral("WORKSTATION"));
    computer->IPAddress = QStringLiteral("192.0.2.10");
    computer->SendOptions = sendOptions;
    computer->Comments = QStringLiteral("first line\r\nsecond line");
    computer->Descr = QStringLiteral("kept as it is");
    TMACAddress* mac = computer->MACAddresses()->Add();
    mac->Address = QStringLiteral("00-11-22-AA-BB-CC");
    return computer;
}

// Opens the dialog the way the Properties command does, without running it modally.
std::unique_ptr<TfrmComputer> Open(const TComputer& source)
{
    auto dialog = std::make_unique<TfrmComputer>();
    dialog->Computer()->Assign(source);
    dialog->LoadFromComputer();
    dialog->SetModified(false);
    dialog->show();
    dialog->activateWindow();
    if (!QTest::qWaitForWindowActive(dialog.get()))
        return nullptr;
    return dialog;
}

void ReplaceText(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

} // namespace

class TestDlgComputer : public QObject
{
    Q_OBJECT

private:
    bool FIsolated = false;
    QString FIsolation;

private slots:
    void initTestCase()
    {
        // Name lookups must not leave the machine: give this thread a network namespace of its own with
        // nothing but an unconfigured loopback, so DNS questions fail locally.
        if (unshare(CLONE_NEWNET) == 0)
            FIsolated = true;
        else
            FIsolation = QStringLiteral("cannot create a network namespace (needs root): %1")
                             .arg(QString::fromLocal8Bit(strerror(errno)));
    }

    void freshDialogAndTabOrder()
    {
        TfrmComputer dialog;
        QCOMPARE(dialog.edMACAddress->MaskedText(), QStringLiteral("  -  -  -  -  -  "));
        QVERIFY(!dialog.btnOK->isEnabled());
        QVERIFY(!dialog.btnOK->isDefault() && !dialog.btnOK->autoDefault());
        QVERIFY(dialog.acIPDetect->isEnabled());
        QVERIFY(!dialog.Modified());
        QVERIFY(dialog.Computer() != nullptr);
        QCOMPARE(dialog.Computer()->Collection(), nullptr);

        // Tab order as the form lays it out.
        const QList<QWidget*> expected = {dialog.cbSendOptions, dialog.edName,       dialog.edIPAddress,
                                          dialog.Button1,       dialog.edMACAddress, dialog.memDescr,
                                          dialog.btnOK,         dialog.btnCancel};
        QList<QWidget*> order;
        QWidget* widget = dialog.cbSendOptions;
        for (int step = 0; step < 200 && order.size() < expected.size(); ++step) {
            if (expected.contains(widget) && !order.contains(widget))
                order << widget;
            widget = widget->nextInFocusChain();
        }
        QCOMPARE(order, expected);
    }

    void okDisabledAfterLoading()
    {
        auto computer = MakeComputer();
        TfrmComputer dialog;
        dialog.Computer()->Assign(*computer);
        dialog.LoadFromComputer();
        // Loading ran the change handlers...
        QVERIFY(dialog.Modified());
        QVERIFY(dialog.btnOK->isEnabled());
        // ...which the caller takes back before showing the dialog.
        dialog.SetModified(false);
        QVERIFY(!dialog.btnOK->isEnabled());
        QCOMPARE(dialog.edName->text(), QStringLiteral("WORKSTATION"));
        QCOMPARE(dialog.edIPAddress->text(), QStringLiteral("192.0.2.10"));
        QCOMPARE(dialog.memDescr->toPlainText(), QStringLiteral("first line\nsecond line"));
        QCOMPARE(dialog.edMACAddress->MaskedText(), QStringLiteral("00-11-22-AA-BB-CC"));
        QVERIFY(!dialog.edMACAddress->UserChanged());
    }

    void firstChangeEnablesOK_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("name") << "name";
        QTest::newRow("ip address") << "ip";
        QTest::newRow("notes") << "notes";
        QTest::newRow("network type") << "type";
        QTest::newRow("mac address") << "mac";
    }
    void firstChangeEnablesOK()
    {
        QFETCH(QString, field);
        auto computer = MakeComputer();
        auto dialog = Open(*computer);
        QVERIFY(dialog);
        QVERIFY(!dialog->btnOK->isEnabled());
        if (field == QLatin1String("name")) {
            dialog->edName->setFocus();
            QTest::keyClick(dialog->edName, Qt::Key_X);
        } else if (field == QLatin1String("ip")) {
            dialog->edIPAddress->setFocus();
            QTest::keyClick(dialog->edIPAddress, Qt::Key_Backspace);
        } else if (field == QLatin1String("notes")) {
            dialog->PageControl1->setCurrentWidget(dialog->tabNotes);
            dialog->memDescr->setFocus();
            QTest::keyClick(dialog->memDescr, Qt::Key_A);
        } else if (field == QLatin1String("type")) {
            dialog->cbSendOptions->setFocus();
            QTest::keyClick(dialog->cbSendOptions, Qt::Key_Down);
            QCOMPARE(dialog->cbSendOptions->currentIndex(), 1);
        } else {
            dialog->edMACAddress->setFocus();
            dialog->edMACAddress->setCursorPosition(0);
            QTest::keyClick(dialog->edMACAddress, Qt::Key_F);
        }
        QVERIFY(dialog->Modified());
        QVERIFY(dialog->btnOK->isEnabled());
    }

    void autoDetectEnabling()
    {
        auto computer = MakeComputer(soInternet);
        auto dialog = Open(*computer);
        QVERIFY(dialog);
        QCOMPARE(dialog->cbSendOptions->currentIndex(), 1);
        QVERIFY(!dialog->acIPDetect->isEnabled());
        QVERIFY(!dialog->Button1->isEnabled());

        dialog->cbSendOptions->setFocus();
        QTest::keyClick(dialog->cbSendOptions, Qt::Key_Up);
        QCOMPARE(dialog->cbSendOptions->currentIndex(), 0);
        QVERIFY(dialog->acIPDetect->isEnabled());
        QVERIFY(dialog->Button1->isEnabled());

        ReplaceText(dialog->edName, QString());
        QVERIFY(dialog->edName->text().isEmpty());
        QVERIFY(!dialog->Button1->isEnabled());
        QTest::keyClick(dialog->edName, Qt::Key_Q);
        QVERIFY(dialog->Button1->isEnabled());

        // Internet again with a name, then LAN with the name cleared first: stays disabled.
        dialog->cbSendOptions->setFocus();
        QTest::keyClick(dialog->cbSendOptions, Qt::Key_Down);
        QVERIFY(!dialog->Button1->isEnabled());
        ReplaceText(dialog->edName, QString());
        dialog->cbSendOptions->setFocus();
        QTest::keyClick(dialog->cbSendOptions, Qt::Key_Up);
        QVERIFY(!dialog->Button1->isEnabled());
    }

    void autoDetect_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ip");
        QTest::newRow("localhost") << "localhost"
                                   << "127.0.0.1";
        QTest::newRow("dotted address") << "127.0.0.9"
                                        << "127.0.0.9";
        QTest::newRow("unresolvable keeps text") << "no-such-host.invalid"
                                                 << "192.0.2.10";
    }
    void autoDetect()
    {
        QFETCH(QString, name);
        QFETCH(QString, ip);
        if (!FIsolated && name.endsWith(QLatin1String(".invalid")))
            QSKIP(qPrintable(FIsolation));
        auto computer = MakeComputer();
        auto dialog = Open(*computer);
        QVERIFY(dialog);
        ReplaceText(dialog->edName, name);
        dialog->SetModified(false);
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QCOMPARE(dialog->edIPAddress->text(), ip);
        QCOMPARE(dialog->Modified(), ip != QLatin1String("192.0.2.10"));
        QVERIFY(dialog->acIPDetect->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void okChecks_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>(
            "mac"); // typed into the field; "-" leaves it untouched, "=x" sets x by program
        QTest::addColumn<bool>("fromNotes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");

        const QString required = Res::Str(Res::IPRequired);
        QTest::newRow("empty ip") << ""
                                  << "=00-11-22-33-44-55" << false << required << "edIPAddress";
        QTest::newRow("host name in ip field")
            << "server.example"
            << "=00-11-22-33-44-55" << false
            << QStringLiteral("\"server.example\" is not a valid IP address!     ") << "edIPAddress";
        QTest::newRow("ip field beyond 255")
            << "10.0.0.256"
            << "=00-11-22-33-44-55" << false
            << QStringLiteral("\"10.0.0.256\" is not a valid IP address!     ") << "edIPAddress";
        QTest::newRow("untouched mac") << "192.0.2.1"
                                       << "-" << false << Res::Str(Res::MacInvalid) << "edMACAddress";
        QTest::newRow("letters beyond F typed")
            << "192.0.2.1"
            << "0g1h2i3j4k5z" << false << QStringLiteral("Invalid MAC address!     ") << "edMACAddress";
        QTest::newRow("failure while notes show")
            << ""
            << "=00-11-22-33-44-55" << true << required << "edIPAddress";
        QTest::newRow("mac failure while notes show")
            << "192.0.2.1"
            << "=ZZ-11-22-33-44-55" << true << Res::Str(Res::MacInvalid) << "edMACAddress";
    }
    void okChecks()
    {
        QFETCH(QString, ip);
        QFETCH(QString, mac);
        QFETCH(bool, fromNotes);
        QFETCH(QString, message);
        QFETCH(QString, focus);

        TMessageRecorder recorder;
        TfrmComputer dialog;
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        ReplaceText(dialog.edName, QStringLiteral("PC"));
        ReplaceText(dialog.edIPAddress, ip);
        if (mac.startsWith(u'='))
            dialog.edMACAddress->SetTextByProgram(mac.mid(1));
        else if (mac != QLatin1String("-")) {
            dialog.edMACAddress->setFocus();
            dialog.edMACAddress->setCursorPosition(0);
            QTest::keyClicks(dialog.edMACAddress, mac);
        }
        if (fromNotes)
            dialog.PageControl1->setCurrentWidget(dialog.tabNotes);
        QVERIFY(dialog.btnOK->isEnabled());
        QTest::mouseClick(dialog.btnOK, Qt::LeftButton);

        QCOMPARE(recorder.Shown().size(), 1);
        const TShownMessage shown = recorder.Shown().first();
        QCOMPARE(shown.Text, message);
        QCOMPARE(shown.Icon, QMessageBox::Warning);
        QCOMPARE(shown.Caption, QStringLiteral("Sablewick"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.PageControl1->currentWidget(), dialog.tabGeneral);
        QTRY_VERIFY(QApplication::focusWidget() != nullptr);
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    }

    void partlyTypedMacAndOKGiveOneBox()
    {
        // Real boxes this time, with the error reporter showing its box as the main window's does: the
        // field's own refusal must not stack a second box on the dialog's warning.
        SetExceptionReporter([](const QString& message) { ShowError(message); });
        TfrmComputer dialog;
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        ReplaceText(dialog.edName, QStringLiteral("PC"));
        ReplaceText(dialog.edIPAddress, QStringLiteral("192.0.2.1"));
        dialog.edMACAddress->setFocus();
        dialog.edMACAddress->setCursorPosition(0);
        QTest::keyClicks(dialog.edMACAddress, QStringLiteral("00ab"));

        // Answers each box after it has been up a while, as a person would.
        QStringList boxes;
        int rounds = 0;
        int shownFor = 0;
        std::function<void()> closer = [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                if (++shownFor == 5) {
                    boxes << box->text();
                    shownFor = 0;
                    box->accept();
                }
            }
            if (++rounds < 40)
                QTimer::singleShot(10, closer);
        };
        QTimer::singleShot(0, closer);
        QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
        QTRY_VERIFY(rounds >= 40);
        SetExceptionReporter(nullptr);
        QCOMPARE(boxes, QStringList{Res::Str(Res::MacInvalid)});
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.edMACAddress));
    }

    void okWritesBackWorkingCopy_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("storedName");
        QTest::newRow("named") << "NEWNAME"
                               << "NEWNAME";
        QTest::newRow("empty name stores ip") << ""
                                              << "192.0.2.77";
        QTest::newRow("name with double backslash") << "\\\\SERVER"
                                                    << "SERVER";
    }
    void okWritesBackWorkingCopy()
    {
        QFETCH(QString, name);
        QFETCH(QString, storedName);
        auto computer = MakeComputer();
        TMACAddress* second = computer->MACAddresses()->Add();
        second->Address = QStringLiteral("66-77-88-99-AA-BB");
        computer->MACAddresses()->Items(0)->UseForWake = false;
        TMACAddress* third = computer->MACAddresses()->Add();
        third->Address = QStringLiteral("01-02-03-04-05-06");

        TMessageRecorder recorder;
        TfrmComputer dialog;
        dialog.Computer()->Assign(*computer);
        dialog.LoadFromComputer();
        dialog.SetModified(false);
        bool driven = false;
        QTimer::singleShot(0, &dialog, [&] {
            driven = true;
            ReplaceText(dialog.edName, name);
            ReplaceText(dialog.edIPAddress, QStringLiteral("192.0.2.77"));
            dialog.edMACAddress->setFocus();
            dialog.edMACAddress->setCursorPosition(0);
            QTest::keyClicks(dialog.edMACAddress, QStringLiteral("0a1b2c3d4e5f"));
            dialog.cbSendOptions->setFocus();
            QTest::keyClick(dialog.cbSendOptions, Qt::Key_Down);
            dialog.PageControl1->setCurrentWidget(dialog.tabNotes);
            dialog.memDescr->setFocus();
            QTest::keyClick(dialog.memDescr, Qt::Key_End, Qt::ControlModifier);
            QTest::keyClick(dialog.memDescr, Qt::Key_Return);
            QTest::keyClicks(dialog.memDescr, QStringLiteral("third"));
            QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(driven);
        QVERIFY2(recorder.Shown().isEmpty(), qPrintable(recorder.Shown().value(0).Text));

        const TComputer* copy = dialog.Computer();
        QCOMPARE(copy->Name(), storedName);
        QCOMPARE(copy->IPAddress, QStringLiteral("192.0.2.77"));
        QCOMPARE(copy->SendOptions, soInternet);
        QCOMPARE(copy->Comments, QStringLiteral("first line\r\nsecond line\r\nthird"));
        QCOMPARE(copy->Descr, QStringLiteral("kept as it is"));
        QCOMPARE(copy->ItemID(), computer->ItemID());
        QCOMPARE(copy->MACAddresses()->Count(), 1);
        QCOMPARE(copy->MACAddresses()->Items(0)->Address, QStringLiteral("0A-1B-2C-3D-4E-5F"));
        QVERIFY(copy->MACAddresses()->Items(0)->UseForWake);

        // The notes come back the next time the dialog opens for the computer.
        TfrmComputer again;
        again.Computer()->Assign(*copy);
        again.LoadFromComputer();
        QCOMPARE(again.memDescr->toPlainText(), QStringLiteral("first line\nsecond line\nthird"));
        QCOMPARE(again.cbSendOptions->currentIndex(), 1);
        QVERIFY(!again.acIPDetect->isEnabled());
    }

    // A schedule change alone can be confirmed; the fields the page does not show come back unchanged.
    void schedulePage()
    {
        auto computer = MakeComputer();
        TSchedule& stored = computer->Schedule();
        stored.monthlyDay = DaySet(daySunday) | DaySet(daySaturday);
        stored.LastDate = 45000.5;
        auto dialog = Open(*computer);
        QVERIFY(dialog);
        TframeSchedule* page = dialog->frameSchedule;
        QCOMPARE(dialog->PageControl1->tabText(2), QStringLiteral("Schedule"));
        QCOMPARE(page->lbSummary->text(), QStringLiteral("N/A"));
        QVERIFY(!page->cbKind->isEnabled());
        dialog->PageControl1->setCurrentWidget(dialog->tabSchedule);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::AltModifier); // the check box's mnemonic
        QTRY_VERIFY(page->chkUseSchedule->isChecked()); // a mnemonic clicks after a moment
        QVERIFY(dialog->btnOK->isEnabled());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_R,
                        Qt::AltModifier); // to the kind, through its label
        QVERIFY(page->cbKind->hasFocus());
        QTest::keyClick(page->cbKind, Qt::Key_Down);
        QCOMPARE(page->lbSummary->text(),
                 QStringLiteral("Every week on Mon, Tue, Wed, Thu, Fri ; at 09:00 hrs"));
        QTest::mouseClick(page->chkDays[dayMonday], Qt::LeftButton);
        page->edStart->setTime(QTime(6, 30));
        QCOMPARE(page->lbSummary->text(), QStringLiteral("Every week on Tue, Wed, Thu, Fri ; at 06:30 hrs"));
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));

        const TSchedule& copy = dialog->Computer()->Schedule();
        QVERIFY(copy.UseSchedule);
        QCOMPARE(copy.ScheduleInterval, siWeekly);
        QCOMPARE(copy.weeklyDays, TWeekDays(DaySet(dayTuesday) | DaySet(dayWednesday) | DaySet(dayThursday) |
                                            DaySet(dayFriday)));
        QCOMPARE(copy.StartHour, quint16(6));
        QCOMPARE(copy.StartMin, quint16(30));
        QCOMPARE(copy.monthlyDay, stored.monthlyDay);
        QCOMPARE(copy.LastDate, 45000.5);
        QCOMPARE(copy.onceDate, stored.onceDate);
    }

    void enterAndEscape()
    {
        auto computer = MakeComputer();
        auto dialog = Open(*computer);
        QVERIFY(dialog);
        ReplaceText(dialog->edName, QStringLiteral("OTHER"));
        QVERIFY(dialog->btnOK->isEnabled());
        // OK is no default button: Enter does not confirm.
        QTest::keyClick(dialog->edName, Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->Computer()->Name(), QStringLiteral("WORKSTATION"));
        // Escape outside a changed MAC field cancels.
        QTest::keyClick(dialog->edName, Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(dialog->Computer()->Name(), QStringLiteral("WORKSTATION"));
    }

    // Escape (after the field's own), Cancel and the close box leave at once while the MAC field holds a
    // partly typed address.
    void partlyTypedMacDoesNotHoldTheDialog_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("Escape") << 0;
        QTest::newRow("Cancel clicked") << 1;
        QTest::newRow("close box") << 2;
    }
    void partlyTypedMacDoesNotHoldTheDialog()
    {
        QFETCH(int, way);
        TMessageRecorder boxes;
        QStringList errors;
        SetExceptionReporter([&errors](const QString& message) { errors << message; });
        auto computer = MakeComputer();
        auto dialog = Open(*computer);
        QVERIFY(dialog);
        ReplaceText(dialog->edName, QStringLiteral("OTHER"));
        dialog->edMACAddress->setFocus();
        dialog->edMACAddress->selectAll();
        QTest::keyClick(dialog->edMACAddress, Qt::Key_Backspace);
        QTest::keyClicks(dialog->edMACAddress, QStringLiteral("f"));
        QVERIFY(dialog->edMACAddress->FirstEmptyPosition() >= 0);
        if (way == 0) {
            // The first puts back the field's own text, and only that.
            QTest::keyClick(dialog->edMACAddress, Qt::Key_Escape);
            QCOMPARE(dialog->edMACAddress->MaskedText(), QStringLiteral("00-11-22-AA-BB-CC"));
            QCOMPARE(dialog->edName->text(), QStringLiteral("OTHER"));
            QTest::keyClick(dialog->edMACAddress, Qt::Key_Escape);
        } else if (way == 1)
            QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        else
            dialog->close();
        QVERIFY(!dialog->isVisible());
        QTest::qWait(20);
        SetExceptionReporter(nullptr);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(boxes.Shown().isEmpty());
        QVERIFY(errors.isEmpty());
    }
};

QTEST_MAIN(TestDlgComputer)
#include "tst_dlgComputer.moc"
