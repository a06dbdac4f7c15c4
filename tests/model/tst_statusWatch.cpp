#include "model/statusWatch.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

// Records the checks started; each ends 20 ms later, online once Online says so.
struct TFakeChecks
{
    QObject Context; // pending completions die with the fake
    QElapsedTimer Clock;
    QHash<QString, QList<qint64>> Started;
    QSet<QString> Running;
    int DoubleStarts = 0;
    std::function<bool()> Online = [] { return false; };
    std::function<void(const QString&, bool)> Completed = [](const QString&, bool) {};

    TFakeChecks() { Clock.start(); }
    TCheckHooks Hooks()
    {
        return {[this](const QString& id) {
                    Started[id].append(Clock.elapsed());
                    DoubleStarts += Running.contains(id);
                    Running.insert(id);
                    QTimer::singleShot(20, &Context, [this, id] {
                        Running.remove(id);
                        Completed(id, Online());
                    });
                },
                [this](const QString& id) { return Running.contains(id); }};
    }
};

} // namespace

class TestStatusWatch : public QObject
{
    Q_OBJECT

private slots:
    void recheck()
    {
        TFakeChecks checks;
        QStringList computers{"Busy"};
        for (int i = 0; i < 10; ++i)
            computers << QStringLiteral("C%1").arg(i);
        checks.Running.insert(QStringLiteral("Busy")); // a check that never ends
        TRecheckSchedule schedule(checks.Hooks(), [&] { return computers; });
        schedule.SetInterval(1000);
        schedule.Start();
        QTRY_VERIFY_WITH_TIMEOUT(checks.Started.size() == 10, 5000);
        QList<qint64> first;
        for (const auto& times : std::as_const(checks.Started))
            first << times.first();
        std::sort(first.begin(), first.end());
        // Nothing at once (loading has just checked everything), and spread rather than all together.
        QVERIFY2(first.first() >= 90 && first.last() - first.first() >= 400,
                 qPrintable(QString::number(first.last())));

        computers << QStringLiteral("Late"); // joins the next round, and everyone comes round again
        QTRY_VERIFY_WITH_TIMEOUT(checks.Started.contains(QStringLiteral("Late")), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(checks.Started.value(QStringLiteral("C9")).size() >= 2, 5000);
        QVERIFY(!checks.Started.contains(QStringLiteral("Busy")));

        schedule.Stop(); // Refresh: each named computer once, none already running
        checks.Started.clear();
        schedule.CheckNow({"C1", "c1", "Busy", "Other"});
        QCOMPARE(checks.Started.keys().size(), 2);
        QCOMPARE(checks.DoubleStarts, 0);
    }

    void recheckBatchedTogether()
    {
        // Computers behind a relay are checked together at the round's first tick; the rest are spread.
        TFakeChecks checks;
        TRecheckRound round({"S0", "S1", "S2", "S3", "S4", "S5"});
        round.Batched = QStringList{"R0", "R1", "R2"};
        TRecheckSchedule schedule(checks.Hooks(), [&] { return round; });
        schedule.SetInterval(1200);
        schedule.Start();
        QTRY_VERIFY_WITH_TIMEOUT(checks.Started.size() == 9, 5000);
        const qint64 relayed = checks.Started.value(QStringLiteral("R0")).first();
        QVERIFY(relayed < checks.Started.value(QStringLiteral("S1")).first());
        for (const QString& id : {QStringLiteral("R1"), QStringLiteral("R2")})
            QVERIFY(qAbs(checks.Started.value(id).first() - relayed) <= 10);
        QVERIFY(checks.Started.value(QStringLiteral("S5")).first() -
                    checks.Started.value(QStringLiteral("S0")).first() >=
                500);
    }

    void wakeWatch_data()
    {
        QTest::addColumn<int>("answersAfterMs"); // -1: never
        QTest::addColumn<int>("sendDelayMs");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("answers") << 1200 << 0 << "^Alpha answered [12] s after the wake-up$";
        QTest::newRow("counted from the send") << 1200 << 600 << "^Alpha answered 1 s after the wake-up$";
        QTest::newRow("never") << -1 << 0 << "^Alpha did not answer within 3 minutes of the wake-up$";
    }
    void wakeWatch()
    {
        QFETCH(int, answersAfterMs);
        QFETCH(int, sendDelayMs);
        TFakeChecks checks;
        checks.Online = [&] { return answersAfterMs >= 0 && checks.Clock.elapsed() >= answersAfterMs; };
        QStringList reports;
        TWakeWatch watch(checks.Hooks(),
                         [&](const QString& id, const QString& message) { reports << id + message; });
        checks.Completed = [&](const QString& id, bool online) { watch.CheckCompleted(id, online); };
        watch.SetTiming(100, 2500);
        checks.Clock.restart();
        watch.Watch(QStringLiteral("{ID}"), QStringLiteral("Alpha"), sendDelayMs);
        watch.CheckCompleted(QStringLiteral("{id}"), sendDelayMs > 0); // before the packet left: no answer

        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 8000);
        QVERIFY(reports.first().startsWith(QStringLiteral("{ID}")));
        QFETCH(QString, pattern);
        QVERIFY2(QRegularExpression(pattern).match(reports.first().mid(4)).hasMatch(),
                 qPrintable(reports.first()));
        const qsizetype count = checks.Started.value(QStringLiteral("{ID}")).size();
        QVERIFY(count >= 3 && checks.Started[QStringLiteral("{ID}")].first() >= sendDelayMs + 100);
        QVERIFY(answersAfterMs >= 0 || checks.Clock.elapsed() >= sendDelayMs + 2500);
        QTest::qWait(400); // once reported, the computer is left alone
        QCOMPARE(checks.Started.value(QStringLiteral("{ID}")).size(), count);
        QCOMPARE(reports.size(), 1);
    }

    void identityHint_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<bool>("differs");
        QTest::newRow("other machine") << QStringList{"00-11-22-AA-BB-CC"} << "02-00-00-00-00-09" << true;
        QTest::newRow("same, other case") << QStringList{"00-11-22-AA-BB-CC"} << "00-11-22-aa-bb-cc" << false;
        QTest::newRow("second adapter")
            << QStringList{"00-11-22-AA-BB-CC", "02-00-00-00-00-09"} << "02-00-00-00-00-09" << false;
        QTest::newRow("nothing seen") << QStringList{"00-11-22-AA-BB-CC"} << "" << false;
        QTest::newRow("nothing stored") << QStringList{"", "-----"} << "02-00-00-00-00-09" << false;
    }
    void identityHint()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, seen);
        QTEST(!IdentityHint(stored, seen).isEmpty(), "differs");
    }
};

QTEST_GUILESS_MAIN(TestStatusWatch)
#include "tst_statusWatch.moc"
