#include "core/mainThread.h"
#include "timing/scheduleClock.h"

#include <chrono>
#include <memory>
#include <QTest>

class TestScheduleClock : public QObject
{
    Q_OBJECT

private slots:
    // Ticks come on the main thread, on whole periods of the wall clock, and none after Stop or after
    // the clock is gone, also when one was already queued.
    void ticksOnBoundariesUntilStopped()
    {
        using namespace std::chrono;
        QList<qint64> ticks;
        bool onMain = true;
        TScheduleClock clock(
            [&] {
                onMain = onMain && IsMainThread();
                ticks << duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
            },
            200);
        QVERIFY(!clock.Active());
        clock.Start();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 3, 5000);
        clock.Stop();
        const qsizetype seen = ticks.size();
        QVERIFY(onMain);
        for (qint64 at : ticks)
            QVERIFY2(at % 200 < 150, qPrintable(QString::number(at % 200)));
        QTest::qWait(500);
        QCOMPARE(ticks.size(), seen);

        int late = 0;
        auto doomed = std::make_unique<TScheduleClock>([&late] { ++late; }, 50);
        doomed->Start();
        QTest::qWait(120); // a tick is queued or on its way
        const int before = late;
        doomed.reset();
        QTest::qWait(200);
        QCOMPARE(late, before);
    }
};

QTEST_GUILESS_MAIN(TestScheduleClock)
#include "tst_scheduleClock.moc"
