#include "app/utilsGeneral.h"
#include "core/texts.h"
#include "support/netns.h"

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <unistd.h>

class TestUtilsGeneral : public QObject
{
    Q_OBJECT

private slots:
    void hexToText_data();
    void hexToText();
    void greyLevel_data();
    void greyLevel();
    void greyedImage();
    void disabledIcon();
    void messageBoxes_data();
    void messageBoxes();
    void questionAnswers();
    void longQuotedValues_data();
    void longQuotedValues();
    void longValueKeepsTheBoxNarrow();
    void isUserAdminKnownAccounts_data();
    void isUserAdminKnownAccounts();
    void isUserAdminCreatedAccounts_data();
    void isUserAdminCreatedAccounts();
};

void TestUtilsGeneral::hexToText_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("text");
    QTest::newRow("invalid pair skipped") << "41ZZ42"
                                          << "AB";
    QTest::newRow("odd digit ignored") << "414"
                                       << "A";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("single digit") << "4"
                                  << "";
    QTest::newRow("lower case digits") << "6a6B"
                                       << "jk";
    QTest::newRow("half-valid pair skipped") << "4G41"
                                             << "A";
    QTest::newRow("web address") << "68747470733A2F2F782E6578616D706C652F"
                                 << "https://x.example/";
    QTest::newRow("high codes") << "E9FF" << QString::fromUtf8("\u00e9\u00ff");
}

void TestUtilsGeneral::hexToText()
{
    QFETCH(QString, hex);
    QFETCH(QString, text);
    QCOMPARE(HexToText(hex), text);
}

void TestUtilsGeneral::greyLevel_data()
{
    QTest::addColumn<QColor>("color");
    QTest::addColumn<int>("addition");
    QTest::addColumn<int>("grey");
    QTest::newRow("magenta background") << QColor(255, 0, 255) << 30 << 200;
    QTest::newRow("black") << QColor(0, 0, 0) << 30 << 30;
    QTest::newRow("white capped") << QColor(255, 255, 255) << 30 << 240;
    QTest::newRow("division rounds down") << QColor(1, 1, 0) << 30 << 30;
    QTest::newRow("addition capped at 100") << QColor(30, 30, 30) << 250 << 130;
    QTest::newRow("just below the cap") << QColor(210, 210, 209) << 30 << 239;
}

void TestUtilsGeneral::greyLevel()
{
    QFETCH(QColor, color);
    QFETCH(int, addition);
    QFETCH(int, grey);
    QCOMPARE(GreyLevel(color, addition), QColor(grey, grey, grey));
}

void TestUtilsGeneral::greyedImage()
{
    // A transparent image with one red and one black pixel.
    QImage source(4, 4, QImage::Format_ARGB32);
    source.fill(Qt::transparent);
    source.setPixel(1, 1, qRgb(255, 0, 0));
    source.setPixel(2, 2, qRgb(0, 0, 0));
    const QImage grey = GreyedImage(source, QSize(4, 4));

    QCOMPARE(grey.size(), QSize(4, 4));
    // The background became grey 200 and is the transparent colour now.
    QCOMPARE(qAlpha(grey.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(grey.pixel(3, 3)), 0);
    // Red (255 + 0 + 0) div 3 + 30 = 115; black gives the addition alone.
    QCOMPARE(grey.pixel(1, 1), qRgb(115, 115, 115));
    QCOMPARE(grey.pixel(2, 2), qRgb(30, 30, 30));

    // An image whose top-left pixel is drawn: its grey is the transparent one, wherever it occurs.
    QImage full(2, 1, QImage::Format_ARGB32);
    full.setPixel(0, 0, qRgb(90, 90, 90));
    full.setPixel(1, 0, qRgb(0, 90, 180));
    const QImage greyFull = GreyedImage(full, QSize(2, 1));
    QCOMPARE(qAlpha(greyFull.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(greyFull.pixel(1, 0)), 0);
}

void TestUtilsGeneral::disabledIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.fillRect(4, 4, 8, 8, QColor(0, 0, 255));
    }
    QList<QIcon> icons{QIcon(pixmap)};
    MakeDisabledImages(icons, {QSize(16, 16)});
    const QIcon& icon = icons.first();
    const QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    QCOMPARE(qAlpha(disabled.pixel(0, 0)), 0);
    QCOMPARE(QColor(disabled.pixel(8, 8)), QColor(115, 115, 115));
    // The normal image stays as it was.
    QCOMPARE(QColor(icon.pixmap(QSize(16, 16)).toImage().pixel(8, 8)), QColor(0, 0, 255));
}

void TestUtilsGeneral::messageBoxes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::newRow("warning") << 0 << int(QMessageBox::Warning) << int(QMessageBox::Ok);
    QTest::newRow("error") << 1 << int(QMessageBox::Critical) << int(QMessageBox::Ok);
    QTest::newRow("question") << 2 << int(QMessageBox::Question) << int(QMessageBox::Yes | QMessageBox::No);
}

void TestUtilsGeneral::messageBoxes()
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

void TestUtilsGeneral::longQuotedValues_data()
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

void TestUtilsGeneral::longQuotedValues()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    TMessageRecorder recorder;
    ShowWarning(message);
    QCOMPARE(recorder.Shown().value(0).Text, shown);
}

void TestUtilsGeneral::longValueKeepsTheBoxNarrow()
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

void TestUtilsGeneral::questionAnswers()
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

void TestUtilsGeneral::isUserAdminKnownAccounts_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("admin");
    QTest::newRow("root") << "root" << true;
    QTest::newRow("nobody") << "nobody" << false;
    QTest::newRow("unknown") << "no-such-account-sablewick" << false;
    QTest::newRow("empty") << "" << false;
}

void TestUtilsGeneral::isUserAdminKnownAccounts()
{
    QFETCH(QString, user);
    QFETCH(bool, admin);
    QCOMPARE(IsUserAdmin(user), admin);
}

void TestUtilsGeneral::isUserAdminCreatedAccounts_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("admin");
    QTest::newRow("ordinary") << QStringList() << false;
    QTest::newRow("primary group sudo") << QStringList{"-g", "sudo"} << true;
    QTest::newRow("supplementary group sudo") << QStringList{"-G", "sudo"} << true;
    QTest::newRow("other supplementary group") << QStringList{"-G", "users"} << false;
}

void TestUtilsGeneral::isUserAdminCreatedAccounts()
{
    QFETCH(QStringList, options);
    QFETCH(bool, admin);
    if (geteuid() != 0)
        QSKIP("creating accounts needs root");
    if (RunCommand("getent", {"group", "sudo"}) != 0)
        QSKIP("this machine has no group sudo");
    const QString user = QStringLiteral("swtst%1").arg(getpid() % 100000);
    RunCommand("userdel", {user});
    QStringList args{"-M", "-N", "-s", "/usr/sbin/nologin"};
    if (!options.contains("-g"))
        args << "-g"
             << "nogroup";
    args << options << user;
    QString output;
    if (RunCommand("useradd", args, &output) != 0)
        QSKIP(qPrintable("useradd failed: " + output));
    const bool result = IsUserAdmin(user);
    RunCommand("userdel", {user});
    QCOMPARE(result, admin);
}

QTEST_MAIN(TestUtilsGeneral)
#include "tst_utilsGeneral.moc"
