#include "core/mainThread.h"
#include "core/texts.h"
#include "ui/macEdit.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace {

// A dialog with the MAC field and a second field to move the focus to, and a Cancel button on Escape.
struct TFixture
{
    QDialog dialog;
    TMACEdit* mac = new TMACEdit(&dialog);
    QLineEdit* other = new QLineEdit(&dialog);
    QPushButton* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    QStringList errors;

    TFixture()
    {
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(mac);
        layout->addWidget(other);
        layout->addWidget(cancel);
        QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
        SetExceptionReporter([this](const QString& message) { errors << message; });
    }
    ~TFixture() { SetExceptionReporter(nullptr); }

    bool Show()
    {
        dialog.show();
        dialog.activateWindow();
        if (!QTest::qWaitForWindowActive(&dialog))
            return false;
        mac->setFocus(Qt::TabFocusReason);
        return mac->hasFocus();
    }
};

} // namespace

class TestMacEdit : public QObject
{
    Q_OBJECT

private slots:
    void untouchedTexts()
    {
        TMACEdit edit;
        QCOMPARE(edit.MaskedText(), QStringLiteral("  -  -  -  -  -  "));
        QCOMPARE(edit.RawText(), QStringLiteral("__-__-__-__-__-__"));
        QCOMPARE(edit.maxLength(), 17);
        QCOMPARE(edit.FirstEmptyPosition(), 0);
    }

    void programText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");
        QTest::addColumn<QString>("raw");
        QTest::newRow("upper") << "00-1A-2B-3C-4D-5E"
                               << "00-1A-2B-3C-4D-5E"
                               << "00-1A-2B-3C-4D-5E";
        QTest::newRow("lower case upper-cased") << "0a-1b-2c-3d-4e-5f"
                                                << "0A-1B-2C-3D-4E-5F"
                                                << "0A-1B-2C-3D-4E-5F";
        QTest::newRow("letters beyond hex") << "GH-IJ-KL-MN-OP-QZ"
                                            << "GH-IJ-KL-MN-OP-QZ"
                                            << "GH-IJ-KL-MN-OP-QZ";
        QTest::newRow("partial") << "00-11"
                                 << "00-11-  -  -  -  "
                                 << "00-11-__-__-__-__";
        QTest::newRow("blank text") << "  -  -  -  -  -  "
                                    << "  -  -  -  -  -  "
                                    << "__-__-__-__-__-__";
        QTest::newRow("empty") << ""
                               << "  -  -  -  -  -  "
                               << "__-__-__-__-__-__";
        QTest::newRow("too long cut off") << "00-11-22-33-44-55-66"
                                          << "00-11-22-33-44-55"
                                          << "00-11-22-33-44-55";
    }
    void programText()
    {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        QFETCH(QString, raw);
        TMACEdit edit;
        edit.SetTextByProgram(text);
        QCOMPARE(edit.MaskedText(), masked);
        QCOMPARE(edit.RawText(), raw);
        QVERIFY(!edit.UserChanged());
    }

    void typingUpperCasesAndCounts()
    {
        TFixture f;
        QVERIFY(f.Show());
        f.mac->setCursorPosition(0);
        QTest::keyClicks(f.mac, QStringLiteral("001a2b3c4d5e"));
        QCOMPARE(f.mac->MaskedText(), QStringLiteral("00-1A-2B-3C-4D-5E"));
        QVERIFY(f.mac->UserChanged());
        // Alt with a letter is left to the window's accelerators.
        f.mac->setCursorPosition(0);
        QTest::keyClick(f.mac, Qt::Key_E, Qt::AltModifier);
        QCOMPARE(f.mac->MaskedText(), QStringLiteral("00-1A-2B-3C-4D-5E"));
        // A complete text leaves the field without complaint.
        QTest::keyClick(f.mac, Qt::Key_Tab);
        QVERIFY(f.other->hasFocus());
        QTest::qWait(20);
        QVERIFY(f.other->hasFocus());
        QVERIFY(f.errors.isEmpty());
    }

    void leavingIncompleteUserTextIsRefused()
    {
        TFixture f;
        QVERIFY(f.Show());
        f.mac->setCursorPosition(0);
        QTest::keyClicks(f.mac, QStringLiteral("00ab"));
        QTest::keyClick(f.mac, Qt::Key_Tab);
        QTRY_COMPARE_WITH_TIMEOUT(f.errors.size(), 1, 2000);
        QCOMPARE(f.errors.first(), Res::Str(Res::MaskInvalidInput));
        QCOMPARE(f.errors.first(), QStringLiteral("Invalid input value.  Use escape key to abandon changes"));
        QVERIFY(f.mac->hasFocus());
        QCOMPARE(f.mac->cursorPosition(), 6);
        QCOMPARE(f.mac->RawText(), QStringLiteral("00-AB-__-__-__-__"));
    }

    void leavingIncompleteProgramTextIsAllowed()
    {
        TFixture f;
        f.mac->SetTextByProgram(QStringLiteral("00-11"));
        QVERIFY(f.Show());
        QTest::keyClick(f.mac, Qt::Key_Tab);
        QVERIFY(f.other->hasFocus());
        QTest::qWait(20);
        QVERIFY(f.other->hasFocus());
        QVERIFY(f.errors.isEmpty());
    }

    // Escape puts back the text from before the user's change (also after a refused exit, when the focus
    // came back), and the next Escape leaves; Cancel leaves at once, whatever the field holds; no check,
    // no box.
    void leavingTheDialogIsNeverHeldUp_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("refusedFirst"); // a move to the other field was refused before
        QTest::addColumn<bool>("escape");       // else a real click on Cancel
        QTest::newRow("partly typed, Escape") << "00ab" << false << true;
        QTest::newRow("partly typed, Cancel clicked") << "00ab" << false << false;
        QTest::newRow("after a refused exit, Escape") << "00ab" << true << true;
        QTest::newRow("after a refused exit, Cancel clicked") << "00ab" << true << false;
        QTest::newRow("complete, Escape") << "001122334455" << false << true;
    }
    void leavingTheDialogIsNeverHeldUp()
    {
        QFETCH(QString, typed);
        QFETCH(bool, refusedFirst);
        QFETCH(bool, escape);
        TFixture f;
        QVERIFY(f.Show());
        f.mac->setCursorPosition(0);
        QTest::keyClicks(f.mac, typed);
        if (refusedFirst) {
            QTest::keyClick(f.mac, Qt::Key_Tab);
            QTRY_COMPARE_WITH_TIMEOUT(f.errors.size(), 1, 2000);
            QVERIFY(f.mac->hasFocus());
            f.errors.clear();
        }
        if (escape) {
            QTest::keyClick(f.mac, Qt::Key_Escape);
            QVERIFY(f.dialog.isVisible());
            QCOMPARE(f.mac->RawText(), QStringLiteral("__-__-__-__-__-__"));
            QTest::keyClick(f.mac, Qt::Key_Escape);
        } else
            QTest::mouseClick(f.cancel, Qt::LeftButton);
        QVERIFY(!f.dialog.isVisible());
        QTest::qWait(20); // a deferred check would show its box now
        QVERIFY(f.errors.isEmpty());
    }
};

QTEST_MAIN(TestMacEdit)
#include "tst_macEdit.moc"
