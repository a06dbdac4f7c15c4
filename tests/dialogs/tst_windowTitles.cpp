#include "app/application.h"
#include "app/frmMain.h"
#include "core/texts.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgComputer.h"
#include "dialogs/dlgNetEnum.h"
#include "dialogs/dlgProgress.h"
#include "dialogs/wizNewComp.h"
#include "product/editionLibrary.h"
#include "ui/messageBoxes.h"

#include <memory>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The titles as an X server holds them (_NET_WM_NAME, what every window manager shows), not only as
// windowTitle() says: Qt's xcb platform appends the application's display name to each title it sends.
// Runs on an Xvfb display of its own; skips where Xvfb or xprop is missing.

namespace {

QString xvfbProblem;
QProcess* xvfb = nullptr;

// Starts Xvfb on a free display (it picks one and tells it) and points this process at it.
void StartXvfb()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty()) {
        xvfbProblem = QStringLiteral("Xvfb or xprop is not installed (scripts/deps.sh --tests)");
        return;
    }
    xvfb = new QProcess;
    xvfb->start(QStringLiteral("Xvfb"),
                {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QByteArray display;
    for (int i = 0; i < 100 && !display.endsWith('\n'); ++i) {
        xvfb->waitForReadyRead(100);
        display += xvfb->readAllStandardOutput();
    }
    if (!display.endsWith('\n')) {
        xvfbProblem = QStringLiteral("Xvfb did not start");
        return;
    }
    qputenv("DISPLAY", ":" + display.trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
}

QString ServerTitle(const QWidget* window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {"-id", QString::number(window->winId()), "-notype", "_NET_WM_NAME"});
    xprop.waitForFinished(5000);
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral(R"(= "(.*)\"$)")).match(out);
    return match.hasMatch() ? match.captured(1) : QStringLiteral("<%1>").arg(out);
}

} // namespace

class TestWindowTitles : public QObject
{
    Q_OBJECT

private slots:
    void titles_data();
    void titles();
};

void TestWindowTitles::titles_data()
{
    QTest::addColumn<bool>("edition");
    QTest::newRow("without edition library") << false;
    QTest::newRow("with edition library") << true;
}

void TestWindowTitles::titles()
{
    if (!xvfbProblem.isEmpty())
        QSKIP(qPrintable(xvfbProblem));
    QFETCH(bool, edition);
    TEditionLibrary::SetFileName(edition ? QStringLiteral(EDITION_FULL)
                                         : QStringLiteral("swdist-not-installed"));
    QTemporaryDir dir;
    TfrmMain main(dir.path() + QStringLiteral("/network.ccn"));
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    const QString mainTitle =
        edition ? QStringLiteral("Sablewick - Test Edition") : QStringLiteral("Sablewick");
    QCOMPARE(ServerTitle(&main), mainTitle);

    const auto check = [](QWidget* window, const QString& title) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(ServerTitle(window), title);
        window->hide();
    };
    TfrmWizNewComp wizard(&main);
    check(&wizard, QStringLiteral("New computer wizard"));
    TfrmComputer properties(&main);
    check(&properties, QStringLiteral("Computer properties"));
    TfrmNetEnum browse(&main);
    check(&browse, Res::Str(Res::NetEnumCaption));
    TfrmAbout about(&main);
    check(&about, QStringLiteral("About Sablewick"));
    TfrmProgress progress;
    check(&progress, QStringLiteral("Sablewick"));

    // A real message box, read while it is up.
    QString boxTitle;
    QTimer::singleShot(0, [&boxTitle] {
        QWidget* box = QApplication::activeModalWidget();
        QTRY_VERIFY(box = QApplication::activeModalWidget());
        QVERIFY(QTest::qWaitForWindowExposed(box));
        boxTitle = ServerTitle(box);
        qobject_cast<QMessageBox*>(box)->accept();
    });
    main.activateWindow();
    ShowWarning(QStringLiteral("a warning"));
    QCOMPARE(boxTitle, QStringLiteral("Sablewick"));
}

int main(int argc, char* argv[])
{
    StartXvfb();
    int result = 0;
    {
        TApplication app(argc, argv);
        TApplication::setApplicationName(Res::Str(Res::ProductName));
        TApplication::SetTitle(Res::Str(Res::ProductName));
        TestWindowTitles test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (xvfb) {
        xvfb->terminate();
        xvfb->waitForFinished(3000);
        delete xvfb;
    }
    return result;
}

#include "tst_windowTitles.moc"
