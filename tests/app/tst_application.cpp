#include "app/application.h"
#include "app/frmMain.h"
#include "core/exceptions.h"
#include "core/mainThread.h"
#include "ui/messageBoxes.h"

#include <QTemporaryDir>
#include <QTest>
#include <thread>

namespace {

// Raises an error from its event handler, as a failing command or callback would.
class TThrower : public QObject
{
public:
    int Handled = 0;
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++Handled;
        throw EOstrelException(QStringLiteral("Unable to do it \"%1\"!\r\nReason %2"));
    }
};

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void errorReachingEventLoopShownAndRunGoesOn();
    void mainWindowShowsTheErrors();
    void guardedCallbackShownTheSameWay();
};

void TestApplication::errorReachingEventLoopShownAndRunGoesOn()
{
    TMessageRecorder boxes;
    TThrower thrower;
    for (int i = 1; i <= 2; ++i) {
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QTRY_COMPARE(boxes.Shown().size(), i);
    }
    QCOMPARE(thrower.Handled, 2);
    QCOMPARE(boxes.Shown().last().Text, QStringLiteral("Unable to do it \"%1\"!\r\nReason %2"));
    QCOMPARE(boxes.Shown().last().Icon, QMessageBox::Critical);
    QCOMPARE(boxes.Shown().last().Caption, QStringLiteral("Sablewick"));
}

void TestApplication::mainWindowShowsTheErrors()
{
    QTemporaryDir dir;
    TMessageRecorder boxes;
    TThrower thrower;
    {
        TfrmMain window(dir.path() + "/network.ccn");
        QVERIFY(boxes.Shown().isEmpty());
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QTRY_COMPARE(boxes.Shown().size(), 1);
    }
    // The window is gone; errors are still shown and nothing refers to the window any more.
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTRY_COMPARE(boxes.Shown().size(), 2);
}

void TestApplication::guardedCallbackShownTheSameWay()
{
    TMessageRecorder boxes;
    std::thread worker(
        [] { RunOnMainThread([] { throw EOstrelException(QStringLiteral("from a completion handler")); }); });
    worker.join();
    QTRY_COMPARE(boxes.Shown().size(), 1);
    QCOMPARE(boxes.Shown().first().Text, QStringLiteral("from a completion handler"));
}

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TestApplication test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
#include "ui/messageBoxes.h"
