// The thread timer with short delays: when ticks come, how a slow or failing handler and a change of
// Delay or Active shape them, and that destroying a timer silences it and ends its thread.
#include "core/exceptions.h"
#include "core/mainThread.h"
#include "core/worker.h"
#include "timing/threadTimer.h"

#include <memory>
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

namespace {

// Ticks of one timer, as milliseconds since the recorder was made.
struct TTicks
{
    QElapsedTimer Clock;
    QList<qint64> At;
    TObject* Sender = nullptr;

    TTicks() { Clock.start(); }
    TNotifyEvent Event(std::function<void()> extra = {})
    {
        return TNotifyEvent(this, [this, extra](TObject* sender) {
            At << Clock.elapsed();
            Sender = sender;
            if (extra)
                extra();
        });
    }
};

// Timer threads wake on a monotonic clock; allow for its granularity, never for early ticks.
constexpr qint64 Slack = 3;

} // namespace

class TestThreadTimer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void defaults();
    void neverActivatedNeverTicks();
    void firstTickOneDelayAfterActivation();
    void slowHandlerSpacesTicks();
    void throwingHandlerEndsTimerSilently();
    void destroyingSilencesTimer_data();
    void destroyingSilencesTimer();
    void destroyingWithTickQueued();
    void handlerDestroysItsTimer();
    void delayChangeAppliesFromNextWait();
    void holdAndResume();
    void handlerMayReplaceItself();

private:
    int FLiveBefore = 0;
    QStringList FReported;
};

void TestThreadTimer::init()
{
    FReported.clear();
    SetExceptionReporter([this](const QString& message) { FReported << message; });
    FLiveBefore = TWorkerThread::LiveCount();
}

void TestThreadTimer::cleanup()
{
    SetExceptionReporter({});
    QVERIFY2(FReported.isEmpty(), qPrintable(FReported.join(QLatin1Char('\n'))));
    // No timer thread of a finished test outlives it.
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), FLiveBefore, 3000);
}

void TestThreadTimer::defaults()
{
    TThreadTimer timer;
    QCOMPARE(timer.Delay(), 100);
    QVERIFY(!timer.Active());
    QVERIFY(!timer.OnTimer().Assigned());
    // Creating a timer starts no thread.
    QCOMPARE(TWorkerThread::LiveCount(), FLiveBefore);
}

void TestThreadTimer::neverActivatedNeverTicks()
{
    TTicks ticks;
    {
        TThreadTimer timer;
        timer.SetDelay(20);
        timer.SetOnTimer(ticks.Event());
        QTest::qWait(200);
    }
    QTest::qWait(50);
    QCOMPARE(ticks.At.size(), 0);
}

void TestThreadTimer::firstTickOneDelayAfterActivation()
{
    TTicks ticks;
    TThreadTimer timer;
    timer.SetDelay(300);
    timer.SetOnTimer(ticks.Event());
    QTest::qWait(100); // inactive time does not count
    const qint64 activated = ticks.Clock.elapsed();
    timer.SetActive(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.At.size() >= 2, 3000);
    timer.SetActive(false);
    QVERIFY2(ticks.At[0] - activated >= 300 - Slack, qPrintable(QString::number(ticks.At[0] - activated)));
    QVERIFY2(ticks.At[0] - activated < 300 + 1000, qPrintable(QString::number(ticks.At[0] - activated)));
    QVERIFY(ticks.At[1] - ticks.At[0] >= 300 - Slack);
    QCOMPARE(ticks.Sender, static_cast<TObject*>(&timer));
}

void TestThreadTimer::slowHandlerSpacesTicks()
{
    // The next wait starts only after the handler returned: period = delay + handler time.
    TTicks ticks;
    TThreadTimer timer;
    timer.SetDelay(60);
    timer.SetOnTimer(ticks.Event([] { QThread::msleep(120); }));
    timer.SetActive(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.At.size() >= 4, 5000);
    timer.SetActive(false);
    for (int i = 1; i < ticks.At.size(); ++i)
        QVERIFY2(ticks.At[i] - ticks.At[i - 1] >= 180 - Slack,
                 qPrintable(QStringLiteral("tick %1 after %2 ms").arg(i).arg(ticks.At[i] - ticks.At[i - 1])));
}

void TestThreadTimer::throwingHandlerEndsTimerSilently()
{
    TTicks ticks;
    TThreadTimer timer;
    timer.SetDelay(30);
    timer.SetOnTimer(ticks.Event([] { throw EOstrelException(QStringLiteral("handler failed")); }));
    timer.SetActive(true);
    QTRY_COMPARE_WITH_TIMEOUT(ticks.At.size(), 1, 3000);
    // The thread ends on its own, while the component lives on.
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), FLiveBefore, 3000);
    QTest::qWait(200);
    QCOMPARE(ticks.At.size(), 1);
    QVERIFY(timer.Active());
    // Switching it off and on again does not bring it back.
    timer.SetActive(false);
    timer.SetActive(true);
    QTest::qWait(150);
    QCOMPARE(ticks.At.size(), 1);
    QVERIFY(FReported.isEmpty());
}

void TestThreadTimer::destroyingSilencesTimer_data()
{
    QTest::addColumn<bool>("held");
    QTest::addColumn<int>("destroyAfter"); // ms after the first tick
    QTest::newRow("active, in the middle of a wait") << false << 60;
    QTest::newRow("held after a tick") << true << 0;
    QTest::newRow("held in the middle of a wait") << true << 60;
}

void TestThreadTimer::destroyingSilencesTimer()
{
    QFETCH(bool, held);
    QFETCH(int, destroyAfter);
    TTicks ticks;
    auto timer = std::make_unique<TThreadTimer>();
    timer->SetDelay(120);
    timer->SetOnTimer(ticks.Event());
    timer->SetActive(true);
    QTRY_COMPARE_WITH_TIMEOUT(ticks.At.size(), 1, 3000);
    QTest::qWait(destroyAfter);
    if (held)
        timer->SetActive(false);
    timer.reset();
    QTest::qWait(400);
    QCOMPARE(ticks.At.size(), 1);
    // cleanup() checks that the thread ended, held or not.
}

void TestThreadTimer::destroyingWithTickQueued()
{
    // The tick is already waiting for the main thread when the component goes.
    TTicks ticks;
    auto timer = std::make_unique<TThreadTimer>();
    timer->SetDelay(20);
    timer->SetOnTimer(ticks.Event());
    timer->SetActive(true);
    QThread::msleep(150); // the main thread is busy; the timer thread blocks in its hand-over
    timer.reset();
    QTest::qWait(200);
    QCOMPARE(ticks.At.size(), 0);
}

void TestThreadTimer::handlerDestroysItsTimer()
{
    TTicks ticks;
    auto* timer = new TThreadTimer;
    timer->SetDelay(30);
    timer->SetOnTimer(ticks.Event([&] { delete timer; }));
    timer->SetActive(true);
    QTRY_COMPARE_WITH_TIMEOUT(ticks.At.size(), 1, 3000);
    QTest::qWait(200);
    QCOMPARE(ticks.At.size(), 1);
}

void TestThreadTimer::delayChangeAppliesFromNextWait()
{
    TTicks ticks;
    TThreadTimer timer;
    timer.SetDelay(400);
    timer.SetOnTimer(ticks.Event());
    const qint64 activated = ticks.Clock.elapsed();
    timer.SetActive(true);
    QTest::qWait(100);
    timer.SetDelay(100);
    QCOMPARE(timer.Delay(), 100);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.At.size() >= 2, 3000);
    timer.SetActive(false);
    // The wait under way keeps its 400 ms; the next one takes 100 ms.
    QVERIFY2(ticks.At[0] - activated >= 400 - Slack, qPrintable(QString::number(ticks.At[0] - activated)));
    const qint64 second = ticks.At[1] - ticks.At[0];
    QVERIFY2(second >= 100 - Slack && second < 390, qPrintable(QString::number(second)));
}

void TestThreadTimer::holdAndResume()
{
    TTicks ticks;
    TThreadTimer timer;
    timer.SetDelay(80);
    timer.SetOnTimer(ticks.Event());
    timer.SetActive(true);
    timer.SetActive(true); // already active: nothing changes
    QTRY_COMPARE_WITH_TIMEOUT(ticks.At.size(), 1, 3000);
    timer.SetActive(false);
    QVERIFY(!timer.Active());
    QTest::qWait(400);
    QCOMPARE(ticks.At.size(), 1);

    const qint64 resumed = ticks.Clock.elapsed();
    timer.SetActive(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.At.size() >= 3, 3000);
    timer.SetActive(false);
    QVERIFY2(ticks.At[1] - resumed >= 80 - Slack, qPrintable(QString::number(ticks.At[1] - resumed)));
    QVERIFY(ticks.At[2] - ticks.At[1] >= 80 - Slack);
}

void TestThreadTimer::handlerMayReplaceItself()
{
    // A handler that switches the event and the delay on its own tick (the model's clocks may do so).
    TTicks first, second;
    TThreadTimer timer;
    timer.SetDelay(40);
    timer.SetOnTimer(first.Event([&] {
        timer.SetOnTimer(second.Event());
        timer.SetDelay(60);
    }));
    timer.SetActive(true);
    QTRY_VERIFY_WITH_TIMEOUT(second.At.size() >= 2, 3000);
    timer.SetActive(false);
    QCOMPARE(first.At.size(), 1);
    QCOMPARE(timer.Delay(), 60);
    QVERIFY(second.At[1] - second.At[0] >= 60 - Slack);
}

QTEST_GUILESS_MAIN(TestThreadTimer)
#include "tst_threadTimer.moc"
