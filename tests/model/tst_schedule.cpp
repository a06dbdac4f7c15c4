#include "model/computers.h"
#include "model/schedule.h"

#include <limits>
#include <QLocale>
#include <QTest>

namespace {

TDateTime At(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0)
{
    return QDateTimeToDateTime(QDateTime(QDate(y, m, d), QTime(hh, mm, ss)));
}

TWeekDays Days(std::initializer_list<TDays> days)
{
    TWeekDays set = 0;
    for (TDays day : days)
        set |= DaySet(day);
    return set;
}

} // namespace

class TestSchedule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() { SetNowSource(nullptr); }

    void freshScheduleHasItsDefaults()
    {
        SetNowSource([] { return At(2024, 3, 5, 14, 30); });
        TSchedule s;
        QCOMPARE(s.UseSchedule, false);
        QCOMPARE(s.ScheduleInterval, siDaily);
        QCOMPARE(s.StartHour, quint16(9));
        QCOMPARE(s.StartMin, quint16(0));
        QCOMPARE(s.dailyInterval, 1);
        QCOMPARE(s.weeklyInterval, 1);
        QCOMPARE(s.weeklyDays, TWeekDays(62));
        QCOMPARE(s.monthlySettings, msDayNum);
        QCOMPARE(s.monthlyNumDays, 1);
        QCOMPARE(s.monthlyDayOccurence, doFirst);
        QCOMPARE(s.monthlyDay, TWeekDays(2));
        QCOMPARE(s.onceDate, At(2024, 3, 5, 14, 30));
        QCOMPARE(s.LastDate, -1.0);
        QCOMPARE(ScheduleToStr(s), QStringLiteral("N/A"));

        TSchedule copy;
        s.UseSchedule = true;
        s.weeklyDays = 0;
        s.LastDate = 12.5;
        s.monthlyDayOccurence = doLast;
        copy.Assign(s);
        QCOMPARE(copy.UseSchedule, true);
        QCOMPARE(copy.weeklyDays, TWeekDays(0));
        QCOMPARE(copy.LastDate, 12.5);
        QCOMPARE(copy.monthlyDayOccurence, doLast);
        QCOMPARE(copy.onceDate, s.onceDate);
    }

    void text_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("count");      // daily/weekly interval or monthly day number
        QTest::addColumn<int>("days");       // weekly days or monthly day set
        QTest::addColumn<int>("occurrence"); // -1: by day number
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<QString>("text");
        QTest::newRow("daily") << int(siDaily) << 1 << 0 << -1 << 9 << 0 << "Every day at 09:00 hrs";
        QTest::newRow("daily 3") << int(siDaily) << 3 << 0 << -1 << 18 << 5 << "Every 3 days at 18:05 hrs";
        QTest::newRow("daily 0 counts as every day")
            << int(siDaily) << 0 << 0 << -1 << 9 << 0 << "Every day at 09:00 hrs";
        QTest::newRow("weekly mon-fri") << int(siWeekly) << 1 << 62 << -1 << 9 << 0
                                        << "Every week on Mon, Tue, Wed, Thu, Fri ; at 09:00 hrs";
        QTest::newRow("weekly 2 sunday")
            << int(siWeekly) << 2 << 1 << -1 << 9 << 0 << "Every 2 weeks on Sun ; at 09:00 hrs";
        QTest::newRow("weekly none") << int(siWeekly) << 1 << 0 << -1 << 9 << 0
                                     << "Every week on ; at 09:00 hrs";
        QTest::newRow("last friday") << int(siMonthly) << 1 << int(DaySet(dayFriday)) << int(doLast) << 9 << 0
                                     << "Every last Fri of every month at 09:00 hrs";
        QTest::newRow("first tuesday") << int(siMonthly) << 1 << int(DaySet(dayTuesday)) << int(doFirst) << 9
                                       << 0 << "Every first Tue of every month at 09:00 hrs";
        QTest::newRow("two days, no separator")
            << int(siMonthly) << 1 << int(Days({daySunday, daySaturday})) << int(doThird) << 9 << 0
            << "Every third SunSat of every month at 09:00 hrs";
        QTest::newRow("day 15") << int(siMonthly) << 15 << 0 << -1 << 9 << 0
                                << "Day 15 of every month at 09:00 hrs";
        QTest::newRow("padded time") << int(siDaily) << 1 << 0 << -1 << 7 << 5 << "Every day at 07:05 hrs";
        QTest::newRow("out of range printed as is")
            << int(siDaily) << 1 << 0 << -1 << 124 << 75 << "Every day at 124:75 hrs";
        QTest::newRow("unknown kind") << 9 << 1 << 0 << -1 << 9 << 0 << "09:00 hrs";
    }

    void text()
    {
        QFETCH(int, interval);
        QFETCH(int, count);
        QFETCH(int, days);
        QFETCH(int, occurrence);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(QString, text);
        TSchedule s;
        s.UseSchedule = true;
        s.ScheduleInterval = static_cast<TScheduleInterval>(interval);
        s.dailyInterval = s.weeklyInterval = count;
        s.monthlyNumDays = count;
        s.weeklyDays = s.monthlyDay = static_cast<TWeekDays>(days);
        if (occurrence >= 0) {
            s.monthlySettings = msDayOccurence;
            s.monthlyDayOccurence = static_cast<TDayOccurence>(occurrence);
        }
        s.StartHour = static_cast<quint16>(hour);
        s.StartMin = static_cast<quint16>(minute);
        QCOMPARE(ScheduleToStr(s), text);
    }

    void onceTextUsesTheLocaleMonthName()
    {
        TSchedule s;
        s.UseSchedule = true;
        s.ScheduleInterval = siOnce;
        s.onceDate = At(2004, 3, 5, 17, 45);
        QCOMPARE(ScheduleToStr(s), QStringLiteral("March 05, 2004, 09:00 hrs"));
    }

    void onceDateThatIsNoDate_data()
    {
        QTest::addColumn<double>("onceDate");
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
        QTest::newRow("minus infinite") << -std::numeric_limits<double>::infinity();
        QTest::newRow("beyond any integer") << 1e300;
        QTest::newRow("far before") << -1e19;
    }

    // A date read from a damaged file: no date, never due, and the text still shows the time.
    void onceDateThatIsNoDate()
    {
        QFETCH(double, onceDate);
        QVERIFY(!DateTimeToQDateTime(onceDate).isValid());
        TSchedule s;
        s.UseSchedule = true;
        s.ScheduleInterval = siOnce;
        s.onceDate = onceDate;
        QVERIFY(!ScheduleIsDue(s, At(2024, 5, 6, 9, 0)));
        QVERIFY2(ScheduleToStr(s).endsWith(QStringLiteral("09:00 hrs")), qPrintable(ScheduleToStr(s)));
    }

    void dueTests_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<double>("lastDate");
        QTest::addColumn<double>("now");
        QTest::addColumn<int>("every"); // daily/weekly interval
        QTest::addColumn<int>("startMin");
        QTest::addColumn<bool>("due");

        // Never fired: due in the next start window, not whenever it was switched on.
        QTest::newRow("daily never fired, outside the window")
            << int(siDaily) << -1.0 << At(2024, 5, 6, 15, 0) << 1 << 0 << false;
        QTest::newRow("daily never fired, in the window")
            << int(siDaily) << -1.0 << At(2024, 5, 7, 9, 0, 30) << 1 << 0 << true;
        // Days are counted as calendar days: a firing late in yesterday's window, or after it, does not
        // keep today's window shut until that time of day.
        QTest::newRow("daily next day window, <24h")
            << int(siDaily) << At(2024, 5, 6, 15, 0) << At(2024, 5, 7, 9, 0, 30) << 1 << 0 << true;
        QTest::newRow("daily 09:30 then 09:10")
            << int(siDaily) << At(2024, 5, 6, 9, 30) << At(2024, 5, 7, 9, 10) << 1 << 0 << true;
        QTest::newRow("daily 09:59:50 then 09:00:05")
            << int(siDaily) << At(2024, 5, 6, 9, 59, 50) << At(2024, 5, 7, 9, 0, 5) << 1 << 0 << true;
        QTest::newRow("daily interval 2, late then early")
            << int(siDaily) << At(2024, 5, 6, 9, 50) << At(2024, 5, 8, 9, 0) << 2 << 0 << true;
        QTest::newRow("daily interval 2, the next day")
            << int(siDaily) << At(2024, 5, 6, 9, 50) << At(2024, 5, 7, 9, 55) << 2 << 0 << false;
        QTest::newRow("daily day after")
            << int(siDaily) << At(2024, 5, 6, 15, 0) << At(2024, 5, 8, 9, 0) << 1 << 0 << true;
        QTest::newRow("daily 09:00:10 then 09:00:00")
            << int(siDaily) << At(2024, 5, 6, 9, 0, 10) << At(2024, 5, 7, 9, 0, 0) << 1 << 0 << true;
        QTest::newRow("daily stamped ahead")
            << int(siDaily) << At(2024, 5, 8, 9, 0) << At(2024, 5, 7, 9, 30) << 1 << 0 << false;
        QTest::newRow("daily 09:00:10 then 09:00:30")
            << int(siDaily) << At(2024, 5, 6, 9, 0, 10) << At(2024, 5, 7, 9, 0, 30) << 1 << 0 << true;
        QTest::newRow("daily same day")
            << int(siDaily) << At(2024, 5, 6, 0, 0) << At(2024, 5, 6, 9, 30) << 0 << 0 << false;
        QTest::newRow("daily before start minute")
            << int(siDaily) << At(2024, 5, 1, 9, 0) << At(2024, 5, 6, 9, 14) << 1 << 15 << false;
        QTest::newRow("daily end of hour")
            << int(siDaily) << At(2024, 5, 1, 9, 0) << At(2024, 5, 6, 9, 59, 59) << 1 << 15 << true;
        QTest::newRow("daily other hour")
            << int(siDaily) << At(2024, 5, 1, 9, 0) << At(2024, 5, 6, 10, 0) << 1 << 0 << false;
        QTest::newRow("daily interval 3 too soon")
            << int(siDaily) << At(2024, 5, 6, 9, 0) << At(2024, 5, 8, 9, 30) << 3 << 0 << false;
        QTest::newRow("daily interval 3")
            << int(siDaily) << At(2024, 5, 6, 9, 0) << At(2024, 5, 9, 9, 30) << 3 << 0 << true;
        QTest::newRow("daily across the year")
            << int(siDaily) << At(2023, 12, 31, 9, 0) << At(2024, 1, 1, 9, 0, 30) << 1 << 0 << true;

        // Weekly, Monday to Friday (2024-05-06 is a Monday).
        QTest::newRow("weekly never fired, outside the window")
            << int(siWeekly) << -1.0 << At(2024, 5, 10, 3, 0) << 1 << 0 << false;
        QTest::newRow("weekly never fired, day not selected")
            << int(siWeekly) << -1.0 << At(2024, 5, 11, 9, 0) << 1 << 0 << false;
        QTest::newRow("weekly never fired, in the window")
            << int(siWeekly) << -1.0 << At(2024, 5, 10, 9, 0) << 1 << 0 << true;
        QTest::newRow("weekly tuesday same week")
            << int(siWeekly) << At(2024, 5, 6, 9, 0) << At(2024, 5, 7, 9, 5) << 1 << 0 << false;
        QTest::newRow("weekly friday same week")
            << int(siWeekly) << At(2024, 5, 6, 9, 0) << At(2024, 5, 10, 9, 5) << 1 << 0 << false;
        QTest::newRow("weekly next monday")
            << int(siWeekly) << At(2024, 5, 6, 9, 0) << At(2024, 5, 13, 9, 0, 30) << 1 << 0 << true;
        QTest::newRow("weekly next monday, earlier in the window")
            << int(siWeekly) << At(2024, 5, 6, 9, 40) << At(2024, 5, 13, 9, 0, 30) << 1 << 0 << true;
        QTest::newRow("weekly six days are no week")
            << int(siWeekly) << At(2024, 5, 7, 9, 40) << At(2024, 5, 13, 9, 0) << 1 << 0 << false;
        QTest::newRow("weekly saturday not selected")
            << int(siWeekly) << At(2024, 4, 1, 9, 0) << At(2024, 5, 11, 9, 5) << 1 << 0 << false;
        QTest::newRow("weekly interval 2 after one week")
            << int(siWeekly) << At(2024, 5, 6, 9, 0) << At(2024, 5, 13, 9, 30) << 2 << 0 << false;
        QTest::newRow("weekly interval 2 after two weeks")
            << int(siWeekly) << At(2024, 5, 6, 9, 0) << At(2024, 5, 20, 9, 30) << 2 << 0 << true;
        QTest::newRow("weekly across the year")
            << int(siWeekly) << At(2024, 12, 23, 9, 0) << At(2024, 12, 30, 9, 1) << 1 << 0 << true;
    }

    void dueTests()
    {
        QFETCH(int, interval);
        QFETCH(double, lastDate);
        QFETCH(double, now);
        QFETCH(int, every);
        QFETCH(int, startMin);
        QFETCH(bool, due);
        TSchedule s;
        s.UseSchedule = true;
        s.ScheduleInterval = static_cast<TScheduleInterval>(interval);
        s.dailyInterval = s.weeklyInterval = every;
        s.StartMin = static_cast<quint16>(startMin);
        s.LastDate = lastDate;
        QCOMPARE(ScheduleIsDue(s, now), due);
    }

    void monthlyAndOnceTests_data()
    {
        QTest::addColumn<int>("occurrence"); // -1: by day number
        QTest::addColumn<int>("dayNumber");
        QTest::addColumn<int>("weekday");
        QTest::addColumn<double>("now");
        QTest::addColumn<bool>("due");
        // November 2024 has five Fridays (1, 8, 15, 22, 29); February 2024 has four (2, 9, 16, 23).
        QTest::newRow("last friday, five")
            << int(doLast) << 0 << int(dayFriday) << At(2024, 11, 29, 9, 10) << true;
        QTest::newRow("last friday, not the 22nd")
            << int(doLast) << 0 << int(dayFriday) << At(2024, 11, 22, 9, 10) << false;
        QTest::newRow("last friday, four")
            << int(doLast) << 0 << int(dayFriday) << At(2024, 2, 23, 9, 10) << true;
        QTest::newRow("fourth friday of five")
            << int(doFourth) << 0 << int(dayFriday) << At(2024, 11, 22, 9, 0) << true;
        QTest::newRow("first friday") << int(doFirst) << 0 << int(dayFriday) << At(2024, 11, 1, 9, 0) << true;
        QTest::newRow("second, wrong weekday")
            << int(doSecond) << 0 << int(dayMonday) << At(2024, 11, 8, 9, 0) << false;
        QTest::newRow("third, outside window")
            << int(doThird) << 0 << int(dayFriday) << At(2024, 11, 15, 10, 0) << false;
        QTest::newRow("day 15") << -1 << 15 << 0 << At(2024, 6, 15, 9, 30) << true;
        QTest::newRow("day 15 on the 16th") << -1 << 15 << 0 << At(2024, 6, 16, 9, 30) << false;
        QTest::newRow("day 31 in a 30-day month") << -1 << 31 << 0 << At(2024, 6, 30, 9, 30) << false;
        QTest::newRow("day 31 in december") << -1 << 31 << 0 << At(2024, 12, 31, 9, 59) << true;
    }

    void monthlyAndOnceTests()
    {
        QFETCH(int, occurrence);
        QFETCH(int, dayNumber);
        QFETCH(int, weekday);
        QFETCH(double, now);
        QFETCH(bool, due);
        TSchedule s;
        s.UseSchedule = true;
        s.ScheduleInterval = siMonthly;
        s.LastDate = now - 40; // plays no part for this kind, unless it lies in the window at hand
        if (occurrence >= 0) {
            s.monthlySettings = msDayOccurence;
            s.monthlyDayOccurence = static_cast<TDayOccurence>(occurrence);
            s.monthlyDay = DaySet(static_cast<TDays>(weekday));
        } else {
            s.monthlyNumDays = dayNumber;
        }
        QCOMPARE(ScheduleIsDue(s, now), due);
    }

    void onceIsDueOnItsDateInTheWindow()
    {
        TSchedule s;
        s.ScheduleInterval = siOnce;
        s.onceDate = At(2025, 1, 2, 23, 59); // its time of day plays no part
        s.LastDate = At(2024, 1, 2, 9, 0);
        QVERIFY(ScheduleIsDue(s, At(2025, 1, 2, 9, 0, 30)));
        QVERIFY(!ScheduleIsDue(s, At(2025, 1, 2, 8, 59)));
        QVERIFY(!ScheduleIsDue(s, At(2025, 1, 3, 9, 0)));
    }

    // Ticks every 30 seconds across the start hour of a day on which each kind is due: every kind fires
    // once, at the first tick of its window, and a stamp from a damaged file long ago or far ahead does
    // not silence it.
    void firesOncePerStartWindow_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<double>("lastDate");
        QTest::newRow("daily") << int(siDaily) << At(2024, 11, 20, 9, 15);
        QTest::newRow("weekly") << int(siWeekly) << At(2024, 11, 1, 9, 15);
        QTest::newRow("monthly") << int(siMonthly) << -1.0;
        QTest::newRow("monthly, stamped far ahead") << int(siMonthly) << At(2090, 1, 1, 9, 0);
        QTest::newRow("once") << int(siOnce) << -1.0;
    }

    void firesOncePerStartWindow()
    {
        QFETCH(int, interval);
        QFETCH(double, lastDate);
        TDateTime now = 0;
        SetNowSource([&] { return now; });
        TGroup group;
        TComputer* computer = group.Computers()->Add();
        computer->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
        TSchedule& s = computer->Schedule();
        s.UseSchedule = true;
        s.ScheduleInterval = static_cast<TScheduleInterval>(interval);
        s.StartMin = 15;
        s.weeklyDays = DaySet(dayFriday);
        s.monthlyNumDays = 22;
        s.onceDate = At(2024, 11, 22);
        s.LastDate = lastDate;
        QList<TDateTime> fired;
        computer->OnSchedule.Set(
            this, [&](TObject*, const QString&, const QString&, const QString&) { fired << now; });
        // Friday 22 November 2024, 08:59:30 to 10:00:30.
        for (int tick = 0; tick <= 122; ++tick) {
            now = At(2024, 11, 22, 8, 59, 30) + tick * 30 / 86400.0;
            computer->CheckSchedule();
        }
        QCOMPARE(fired.size(), 1);
        QCOMPARE(DateTimeToQDateTime(fired[0]).time().toString(), QStringLiteral("09:15:00"));
    }

    void lastOccurrence()
    {
        QCOMPARE(LastOccurrence(At(2024, 11, 3)), 4); // Sundays: 3..24
        QCOMPARE(LastOccurrence(At(2024, 11, 1)), 5); // Fridays: 1..29
        QCOMPARE(LastOccurrence(At(2024, 2, 16)), 4); // Fridays: 2..23
        QCOMPARE(LastOccurrence(At(2024, 2, 29)), 5); // Thursdays in a leap February: 1..29
        QCOMPARE(LastOccurrence(At(2023, 2, 28)), 4);
    }

    void dailyScheduleWaitsForItsWindowThenForTheNextDay()
    {
        TDateTime now = At(2024, 5, 6, 15, 0);
        SetNowSource([&] { return now; });
        TGroup group;
        TComputer* computer = group.Computers()->Add();
        computer->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
        computer->Schedule().UseSchedule = true;
        int fired = 0;
        computer->OnSchedule.Set(this,
                                 [&](TObject*, const QString&, const QString&, const QString&) { ++fired; });

        // Switched on at 15:00 for 09:00: nothing until the next morning's window.
        computer->CheckSchedule();
        QCOMPARE(fired, 0);
        QCOMPARE(computer->Schedule().LastDate, -1.0);
        now = At(2024, 5, 7, 9, 0, 10);
        computer->CheckSchedule();
        QCOMPARE(fired, 1);
        QCOMPARE(computer->Schedule().LastDate, now);
        now = At(2024, 5, 8, 8, 59, 50);
        computer->CheckSchedule();
        QCOMPARE(fired, 1);
        now = At(2024, 5, 8, 9, 0, 0); // the next day's window, though 24 hours have not passed
        computer->CheckSchedule();
        QCOMPARE(fired, 2);
        now = At(2024, 5, 8, 9, 0, 30);
        computer->CheckSchedule(); // fired in this window already
        QCOMPARE(fired, 2);

        computer->Schedule().UseSchedule = false;
        now = At(2024, 5, 20, 9, 0);
        computer->CheckSchedule();
        QCOMPARE(fired, 2);
    }
};

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
