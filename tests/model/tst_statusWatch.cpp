#include "model/statusWatch.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

// Records the checks started and answers each one after a short while, like a real check would.
struct TFakeChecks
{
    QElapsedTimer Clock;
    QHash<QString, QList<qint64>> Started;
    QSet<QString> Running;
    std::function<bool(const QString&)> Online = [](const QString&) { return false; };
    std::function<void(const QString&, bool)> Completed;
    int DurationMs = 20;
    QObject Context; // pending completions die with the fake

    TFakeChecks() { Clock.start(); }
    TCheckHooks Hooks()
    {
        return {[this](const QString& id) {
                    Started[id].append(Clock.elapsed());
                    if (Running.contains(id))
                        DoubleStarts++;
                    Running.insert(id);
                    QTimer::singleShot(DurationMs, &Context, [this, id] {
                        Running.remove(id);
                        if (Completed)
                            Completed(id, Online(id));
                    });
                },
                [this](const QString& id) { return Running.contains(id); }};
    }
    int DoubleStarts = 0;
};

} // namespace

class TestStatusWatch : public QObject
{
    Q_OBJECT

private slots:
    void recheckSpreadsOverInterval()
    {
        TFakeChecks checks;
        QStringList computers;
        for (int i = 0; i < 10; ++i)
            computers << QStringLiteral("C%1").arg(i);
        TRecheckSchedule schedule(checks.Hooks(), [&] { return computers; });
        schedule.SetInterval(1000);
        schedule.Start();
        QTRY_VERIFY_WITH_TIMEOUT(checks.Started.size() == 10, 5000);
        QList<qint64> first;
        for (const auto& times : std::as_const(checks.Started))
            first << times.first();
        std::sort(first.begin(), first.end());
        // Nothing at once (loading has just checked everything), and not all together.
        QVERIFY2(first.first() >= 90, qPrintable(QString::number(first.first())));
        QVERIFY2(first.last() - first.first() >= 400,
                 qPrintable(QString::number(first.last() - first.first())));

        // A computer added meanwhile joins the next round; every computer comes round again.
        computers << QStringLiteral("Late");
        QTRY_VERIFY_WITH_TIMEOUT(checks.Started.contains(QStringLiteral("Late")), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(computers.begin(), computers.end() - 1,
                        [&](const QString& id) { return checks.Started[id].size() >= 2; }),
            5000);
        QCOMPARE(checks.DoubleStarts, 0);
    }

    void recheckSkipsRunningChecks()
    {
        TFakeChecks checks;
        checks.DurationMs = 100000; // "Slow" never finishes within this test
        TRecheckSchedule schedule(checks.Hooks(), [] { return QStringList{"Slow", "Quick"}; });
        checks.Running.insert(QStringLiteral("Slow"));
        schedule.SetInterval(200);
        schedule.Start();
        checks.DurationMs = 10;
        QTRY_VERIFY_WITH_TIMEOUT(checks.Started.value(QStringLiteral("Quick")).size() >= 3, 5000);
        QVERIFY(!checks.Started.contains(QStringLiteral("Slow")));

        // Refresh: each named computer once, and not one that is running.
        schedule.Stop();
        checks.Started.clear();
        schedule.CheckNow({"Quick", "quick", "Slow", "Other"});
        QCOMPARE(checks.Started.value(QStringLiteral("Quick")).size(), 1);
        QCOMPARE(checks.Started.value(QStringLiteral("Other")).size(), 1);
        QVERIFY(!checks.Started.contains(QStringLiteral("Slow")));
        QCOMPARE(checks.DoubleStarts, 0);
    }

    void wakeWatchReports_data()
    {
        QTest::addColumn<int>("answersAfterMs"); // -1: never
        QTest::addColumn<int>("sendDelayMs");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("answers later") << 1200 << 0 << "^Alpha answered ([12]) s after the wake-up$";
        QTest::newRow("answers, counted from the send")
            << 1200 << 600 << "^Alpha answered (1) s after the wake-up$";
        QTest::newRow("never answers") << -1 << 0 << "^Alpha did not answer within 3 minutes of the wake-up$";
    }
    void wakeWatchReports()
    {
        QFETCH(int, answersAfterMs);
        QFETCH(int, sendDelayMs);
        QFETCH(QString, pattern);
        TFakeChecks checks;
        checks.Online = [&](const QString&) {
            return answersAfterMs >= 0 && checks.Clock.elapsed() >= answersAfterMs;
        };
        QStringList reports;
        TWakeWatch watch(checks.Hooks(), [&](const QString& id, const QString& message) {
            QCOMPARE(id, QStringLiteral("{ID}"));
            reports << message;
        });
        checks.Completed = [&](const QString& id, bool online) { watch.CheckCompleted(id, online); };
        watch.SetTiming(100, 2500);
        checks.Clock.restart();
        watch.Watch(QStringLiteral("{ID}"), QStringLiteral("Alpha"), sendDelayMs);
        // An answer from a check that ended before the packet left counts for nothing.
        if (sendDelayMs > 0)
            watch.CheckCompleted(QStringLiteral("{id}"), true);

        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 8000);
        QVERIFY(!watch.Watching(QStringLiteral("{ID}")));
        const auto match = QRegularExpression(pattern).match(reports.first());
        QVERIFY2(match.hasMatch(), qPrintable(reports.first()));
        const QList<qint64> started = checks.Started.value(QStringLiteral("{ID}"));
        QVERIFY(started.size() >= 3); // checked again and again, not once
        QVERIFY(started.first() >= sendDelayMs + 100);
        if (answersAfterMs < 0)
            QVERIFY(checks.Clock.elapsed() >= sendDelayMs + 2500);

        // Once reported, the computer is left alone.
        const qsizetype count = checks.Started.value(QStringLiteral("{ID}")).size();
        QTest::qWait(400);
        QCOMPARE(checks.Started.value(QStringLiteral("{ID}")).size(), count);
        QCOMPARE(reports.size(), 1);
        QCOMPARE(checks.DoubleStarts, 0);
    }

    void identityHint_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<QString>("hint");
        const QString differs =
            QStringLiteral("Answers from a different MAC address (02-00-00-00-00-09) than the stored one");
        QTest::newRow("other machine") << QStringList{"00-11-22-AA-BB-CC"} << "02-00-00-00-00-09" << differs;
        QTest::newRow("same, other case") << QStringList{"00-11-22-AA-BB-CC"} << "00-11-22-aa-bb-cc"
                                          << "";
        QTest::newRow("second adapter matches")
            << QStringList{"00-11-22-AA-BB-CC", "02-00-00-00-00-09"} << "02-00-00-00-00-09"
            << "";
        QTest::newRow("nothing seen") << QStringList{"00-11-22-AA-BB-CC"} << ""
                                      << "";
        QTest::newRow("nothing stored") << QStringList{"", "-----"} << "02-00-00-00-00-09"
                                        << "";
    }
    void identityHint()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, seen);
        QTEST(IdentityHint(stored, seen), "hint");
    }
};

QTEST_GUILESS_MAIN(TestStatusWatch)
#include "tst_statusWatch.moc"
