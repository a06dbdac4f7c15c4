// How long one tick of the schedule clock takes over 10,000 computers, each with a schedule in use (all
// kinds mixed) and the group's schedule in use too. Two cases: a tick outside every start window (most
// ticks of a day), and a tick inside every window after each has fired there (every test runs to its
// end and finds it fired already). The ticks run on the real open database; three runs of 200 ticks
// each, reporting the mean tick of each run as min/median/max.
#include "core/worker.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

namespace {

constexpr int Computers = 10000;
constexpr int Ticks = 200;

TDateTime At(int hour, int minute)
{
    return QDateTimeToDateTime(QDateTime(QDate(2026, 12, 4), QTime(hour, minute, 10)));
}

void Fill(TSchedule& s, int i, TDateTime fired)
{
    s.UseSchedule = true;
    s.ScheduleInterval = static_cast<TScheduleInterval>(i % 4);
    s.StartHour = 7;
    s.StartMin = 0;
    s.weeklyDays = 0x7F;
    s.monthlySettings = i % 8 < 4 ? msDayNum : msDayOccurence;
    s.monthlyNumDays = 4;
    s.monthlyDay = DaySet(dayFriday); // 4 December 2026 is the first Friday
    s.onceDate = At(0, 0);
    s.LastDate = fired;
}

void WriteFile(const QString& file, TDateTime fired)
{
    TOstrelDatabase db;
    db.FileName = file;
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    Fill(group.Schedule(), 0, fired);
    for (int i = 0; i < Computers; ++i) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(QStringLiteral("pc%1").arg(i));
        computer->IPAddress = QStringLiteral("127.0.0.1");
        computer->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
        // Every tenth computer follows the group's schedule.
        if (i % 10 != 0)
            Fill(computer->Schedule(), i, fired);
    }
    SaveGroup(group);
}

double MeanTickMs(TOpenDatabase& db, TDateTime now)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Ticks; ++i)
        if (!db.FireDueSchedules(now).isEmpty())
            std::fprintf(stderr, "a schedule fired: the case is wrong\n");
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return took.count() / Ticks;
}

void Report(const char* name, std::vector<double> runs)
{
    std::sort(runs.begin(), runs.end());
    std::printf("%-40s min %.3f  median %.3f  max %.3f ms per tick\n", name, runs[0], runs[1], runs[2]);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/network.ccn");
    // Stamped in this morning's window: inside it every test runs to its end and finds it fired.
    WriteFile(file, At(7, 0));
    TOpenDatabase db(file);
    db.Open();
    // Opening checks every computer; let those end before measuring.
    (void)QTest::qWaitFor([] { return TWorkerThread::LiveCount() == 0; }, 120000);
    std::vector<double> outside, inside;
    for (int run = 0; run < 3; ++run) {
        outside.push_back(MeanTickMs(db, At(15, 0)));
        inside.push_back(MeanTickMs(db, At(7, 30)));
    }
    std::printf("%d computers, %d ticks per run\n", Computers, Ticks);
    Report("tick outside every start window", outside);
    Report("tick inside every window, all fired", inside);
    db.Close();
    return 0;
}
