#pragma once

#include "core/dateTime.h"
#include "model/persistent.h"

#include <QtGlobal>

// A fixed underlying type lets a field hold any ordinal (the texts and the stream writer then treat an
// unknown one as such) instead of a value the enumeration cannot represent.
enum TScheduleInterval : int
{
    siDaily,
    siWeekly,
    siMonthly,
    siOnce
};
enum TMonthlySettings : int
{
    msDayNum,
    msDayOccurence
};
enum TDayOccurence : int
{
    doFirst,
    doSecond,
    doThird,
    doFourth,
    doLast
};
enum TDays
{
    daySunday,
    dayMonday,
    dayTuesday,
    dayWednesday,
    dayThursday,
    dayFriday,
    daySaturday
};

// A one-byte set of TDays: bit n for the day of ordinal n.
using TWeekDays = quint8;
constexpr TWeekDays DaySet(TDays day)
{
    return static_cast<TWeekDays>(1u << day);
}
constexpr bool InSet(TWeekDays set, TDays day)
{
    return (set & DaySet(day)) != 0;
}

// When to wake a computer or a group: daily, weekly, monthly or once, at an hour and minute.
class TSchedule : public TPersistent
{
public:
    TSchedule();

    // Published, in declaration order.
    bool UseSchedule;
    TScheduleInterval ScheduleInterval;
    quint16 StartHour;
    quint16 StartMin;
    qint32 dailyInterval;
    qint32 weeklyInterval;
    TWeekDays weeklyDays;
    TMonthlySettings monthlySettings;
    qint32 monthlyNumDays;
    TDayOccurence monthlyDayOccurence;
    TWeekDays monthlyDay;
    TDateTime onceDate;
    TDateTime LastDate;

    void SetDefaults();
    void Assign(const TPersistent& source) override;
    QString ClassName() const override { return QStringLiteral("TSchedule"); }
    const TPropTable& Properties() const override;
    static const TPropTable& PropertyTable();
};

// A moment taken apart once, so that one tick can test thousands of schedules without converting it
// again for each.
struct TScheduleMoment
{
    TDateTime Now = 0;
    bool Valid = false; // false for a value that is no date
    double Day = 0;     // the whole-day number of Now
    int Hour = 0;
    int Minute = 0;
    int WeekDay = 0; // as TDays
    int DayOfMonth = 0;
    int Occurrence = 0; // (day of month - 1) div 7 + 1
    int LastOccurrence = 0;

    static TScheduleMoment Of(TDateTime now);
};

// True when t's hour is StartHour and its minute is at least StartMin.
bool InStartWindow(const TSchedule& schedule, TDateTime t);
// The occurrence number (4 or 5) of the last day in d's month that falls on d's weekday.
int LastOccurrence(TDateTime d);
// The due test for the schedule's kind at a moment (without the receiver condition). A schedule is due
// only inside its start window, and at most once in it: a LastDate inside the window at hand means it
// has fired there already.
bool ScheduleIsDue(const TSchedule& schedule, const TScheduleMoment& moment);
bool ScheduleIsDue(const TSchedule& schedule, TDateTime now);
// One line describing the schedule.
QString ScheduleToStr(const TSchedule& schedule);

// Value names as the component stream writes them.
const QStringList& ScheduleIntervalNames();
const QStringList& MonthlySettingsNames();
const QStringList& DayOccurenceNames();
const QStringList& DaysNames();
