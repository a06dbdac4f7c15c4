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

    void escapeRestoresTextOfFocusEntry()
    {
        TFixture f;
        f.mac->SetTextByProgram(QStringLiteral("11-22-33-44-55-66"));
        QVERIFY(f.Show());
        f.mac->setCursorPosition(0);
        QTest::keyClicks(f.mac, QStringLiteral("ab"));
        QCOMPARE(f.mac->RawText(), QStringLiteral("AB-22-33-44-55-66"));
        QTest::keyClick(f.mac, Qt::Key_Escape);
        QCOMPARE(f.mac->RawText(), QStringLiteral("11-22-33-44-55-66"));
        QVERIFY(!f.mac->UserChanged());
        // The key was the field's: the dialog is still open.
        QVERIFY(f.dialog.isVisible());
        QCOMPARE(f.dialog.result(), int(QDialog::Rejected)); // untouched default
        QVERIFY(f.mac->hasFocus());
        // Without a change Escape belongs to the dialog again.
        QTest::keyClick(f.mac, Qt::Key_Escape);
        QVERIFY(!f.dialog.isVisible());
    }

    void escapeAfterRefusedExitKeepsFirstText()
    {
        TFixture f;
        f.mac->SetTextByProgram(QStringLiteral("11-22-33-44-55-66"));
        QVERIFY(f.Show());
        f.mac->setCursorPosition(0);
        QTest::keyClick(f.mac, Qt::Key_Delete);
        QTest::keyClick(f.mac, Qt::Key_Tab);
        QTRY_COMPARE_WITH_TIMEOUT(f.errors.size(), 1, 2000);
        QVERIFY(f.mac->hasFocus());
        // Coming back after the refusal is not a new visit: Escape still restores the original.
        QTest::keyClick(f.mac, Qt::Key_Escape);
        QCOMPARE(f.mac->RawText(), QStringLiteral("11-22-33-44-55-66"));
        QVERIFY(f.dialog.isVisible());
    }
};

QTEST_MAIN(TestMacEdit)
#include "tst_macEdit.moc"
