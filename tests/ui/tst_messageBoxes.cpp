#include "core/texts.h"
#include "ui/messageBoxes.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

class TestMessageBoxes : public QObject
{
    Q_OBJECT

private slots:
    void messageBoxes_data();
    void messageBoxes();
    void questionAnswers();
    void longQuotedValues_data();
    void longQuotedValues();
    void longValueKeepsTheBoxNarrow();
};

void TestMessageBoxes::messageBoxes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::newRow("warning") << 0 << int(QMessageBox::Warning) << int(QMessageBox::Ok);
    QTest::newRow("error") << 1 << int(QMessageBox::Critical) << int(QMessageBox::Ok);
    QTest::newRow("question") << 2 << int(QMessageBox::Question) << int(QMessageBox::Yes | QMessageBox::No);
}

void TestMessageBoxes::messageBoxes()
{
    QFETCH(int, kind);
    QFETCH(int, icon);
    QFETCH(int, buttons);
    TMessageRecorder recorder;
    const QString text = QStringLiteral("Line one     \r\nLine two");
    if (kind == 0)
        ShowWarning(text);
    else if (kind == 1)
        ShowError(text);
    else
        AskQuestion(text);
    QCOMPARE(recorder.Shown().size(), 1);
    const TShownMessage& shown = recorder.Shown().first();
    QCOMPARE(shown.Caption, QStringLiteral("Sablewick"));
    QCOMPARE(shown.Text, text);
    QCOMPARE(int(shown.Icon), icon);
    QCOMPARE(int(shown.Buttons), buttons);
}

void TestMessageBoxes::longQuotedValues_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    const QString path =
        QStringLiteral("/home/user/") + QString(80, QLatin1Char('d')) + QStringLiteral("/network.ccn");
    QTest::newRow("short value unchanged")
        << Res::Str(Res::IPNotValid).arg("10.0.0.256") << Res::Str(Res::IPNotValid).arg("10.0.0.256");
    QTest::newRow("exactly the limit") << Res::Str(Res::IPNotValid).arg(QString(64, QLatin1Char('9')))
                                       << Res::Str(Res::IPNotValid).arg(QString(64, QLatin1Char('9')));
    QTest::newRow("long value, both ends kept")
        << Res::Str(Res::IPNotValid).arg(QString(280, QLatin1Char('1')) + QString(280, QLatin1Char('2')))
        << Res::Str(Res::IPNotValid)
               .arg(QString(32, QLatin1Char('1')) + QChar(0x2026) + QString(31, QLatin1Char('2')));
    QTest::newRow("path on the first line, reason kept")
        << Res::Str(Res::DbOpenError).arg(path, "Permission denied")
        << Res::Str(Res::DbOpenError)
               .arg(path.left(32) + QChar(0x2026) + path.right(31), "Permission denied");
    QTest::newRow("quotes inside the value")
        << QStringLiteral("\"%1\" is bad").arg(QString(40, 'a') + '"' + QString(40, 'b'))
        << QStringLiteral("\"%1\" is bad").arg(QString(32, 'a') + QChar(0x2026) + QString(31, 'b'));
    QTest::newRow("one quote only") << QStringLiteral("a \"") + QString(100, 'x')
                                    << QStringLiteral("a \"") + QString(100, 'x');
}

void TestMessageBoxes::longQuotedValues()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    TMessageRecorder recorder;
    ShowWarning(message);
    QCOMPARE(recorder.Shown().value(0).Text, shown);
}

void TestMessageBoxes::longValueKeepsTheBoxNarrow()
{
    // A real box this time: its width is what the user meets.
    int width = 0;
    QTimer::singleShot(0, [&width] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            width = box->width();
            box->accept();
        }
    });
    ShowWarning(Res::Str(Res::IPNotValid).arg(QString(560, QLatin1Char('7'))));
    QVERIFY(width > 0);
    QVERIFY2(width <= 580, qPrintable(QString::number(width))); // no wider than the main window
}

void TestMessageBoxes::questionAnswers()
{
    TMessageRecorder recorder;
    recorder.SetNextAnswer(QMessageBox::Yes);
    recorder.SetNextAnswer(QMessageBox::No);
    QVERIFY(AskQuestion(QStringLiteral("first")));
    QVERIFY(!AskQuestion(QStringLiteral("second")));
    // Without a queued answer the safe one is taken.
    QVERIFY(!AskQuestion(QStringLiteral("third")));
    QCOMPARE(recorder.Shown().size(), 3);
}

QTEST_MAIN(TestMessageBoxes)
#include "tst_messageBoxes.moc"
