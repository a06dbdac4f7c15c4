#include "app/application.h"
#include "app/frmMain.h"
#include "core/exceptions.h"
#include "core/mainThread.h"
#include "ui/messageBoxes.h"

#include <QTemporaryDir>
#include <QTest>
#include <thread>

namespace {

// Hands a failing call to the main thread from a worker, as a failing completion handler would.
void FailOnMainThread(std::function<void()> call)
{
    std::thread worker([call = std::move(call)] { RunOnMainThread(call); });
    worker.join();
}

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void errorsShownAndRunGoesOn();
    void mainWindowShowsTheErrors();
    void guardedCallbackShownTheSameWay();
};

void TestApplication::errorsShownAndRunGoesOn()
{
    // Each error gets its box and the run goes on; what is no standard exception is an unknown error.
    TMessageRecorder boxes;
    FailOnMainThread([] { throw EOstrelException(QStringLiteral("Unable to do it \"%1\"!\r\nReason %2")); });
    FailOnMainThread([] { throw 42; });
    QTRY_COMPARE(boxes.Shown().size(), 2);
    QCOMPARE(boxes.Shown().first().Text, QStringLiteral("Unable to do it \"%1\"!\r\nReason %2"));
    QCOMPARE(boxes.Shown().first().Icon, QMessageBox::Critical);
    QCOMPARE(boxes.Shown().first().Caption, QStringLiteral("Sablewick"));
    QCOMPARE(boxes.Shown().last().Text, QStringLiteral("Unknown error"));
}

void TestApplication::mainWindowShowsTheErrors()
{
    QTemporaryDir dir;
    TMessageRecorder boxes;
    auto fail = [] { throw EOstrelException(QStringLiteral("failed")); };
    {
        TfrmMain window(dir.path() + "/network.ccn");
        QVERIFY(boxes.Shown().isEmpty());
        FailOnMainThread(fail);
        QTRY_COMPARE(boxes.Shown().size(), 1);
    }
    // The window is gone; errors are still shown and nothing refers to the window any more.
    FailOnMainThread(fail);
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
