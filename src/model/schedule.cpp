#include "model/schedule.h"

#include "core/texts.h"

#include <cmath>
#include <limits>
#include <QLocale>

namespace {

// Day-of-week of a TDateTime as TDays (Sunday = 0).
int WeekDayOf(const QDate& date)
{
    return date.dayOfWeek() % 7;
}

QDate DateOf(TDateTime t)
{
    return DateTimeToQDateTime(t).date();
}

QTime TimeOf(TDateTime t)
{
    return DateTimeToQDateTime(t).time();
}

constexpr double MinutesPerDay = 24 * 60;
// Half a millisecond: a LastDate stamped at the very start of a window still counts as inside it.
constexpr double Tolerance = 0.5 / (24 * 60 * 60 * 1000.0);

// The day a value falls on, counted as its conversion to a date counts it (a time that rounds to the
// next midnight belongs to the next day); NaN for a value that is no date. Plain arithmetic: a tick
// asks this of every schedule.
double DayNumber(TDateTime t)
{
    constexpr double MsPerDay = 86400000.0;
    if (!std::isfinite(t) || std::fabs(t) >= 0x1p40)
        return std::numeric_limits<double>::quiet_NaN();
    double days = std::trunc(t);
    if (std::llround(std::fabs(t - days) * MsPerDay) >= static_cast<qint64>(MsPerDay))
        days += t < 0 ? -1 : 1;
    return days;
}

// The calendar days from last's date to now's date (negative when last lies on a later date). Counted
// from the 24-hour periods between the two moments instead, a firing late in yesterday's window would
// keep today's window shut until that time of day, and past the window's end the day was lost.
double DaysBetween(const TScheduleMoment& now, TDateTime last)
{
    return now.Day - DayNumber(last);
}

} // namespace

TSchedule::TSchedule()
{
    SetDefaults();
}

void TSchedule::SetDefaults()
{
    UseSchedule = false;
    ScheduleInterval = siDaily;
    StartHour = 9;
    StartMin = 0;
    dailyInterval = 1;
    weeklyInterval = 1;
    weeklyDays = DaySet(dayMonday) | DaySet(dayTuesday) | DaySet(dayWednesday) | DaySet(dayThursday) |
                 DaySet(dayFriday);
    monthlySettings = msDayNum;
    monthlyNumDays = 1;
    monthlyDayOccurence = doFirst;
    monthlyDay = DaySet(dayMonday);
    onceDate = Now();
    LastDate = -1.0;
}

void TSchedule::Assign(const TPersistent& source)
{
    auto* other = dynamic_cast<const TSchedule*>(&source);
    if (!other)
        AssignError(&source);
    UseSchedule = other->UseSchedule;
    ScheduleInterval = other->ScheduleInterval;
    StartHour = other->StartHour;
    StartMin = other->StartMin;
    dailyInterval = other->dailyInterval;
    weeklyInterval = other->weeklyInterval;
    weeklyDays = other->weeklyDays;
    monthlySettings = other->monthlySettings;
    monthlyNumDays = other->monthlyNumDays;
    monthlyDayOccurence = other->monthlyDayOccurence;
    monthlyDay = other->monthlyDay;
    onceDate = other->onceDate;
    LastDate = other->LastDate;
}

const QStringList& ScheduleIntervalNames()
{
    static const QStringList names{"siDaily", "siWeekly", "siMonthly", "siOnce"};
    return names;
}

const QStringList& MonthlySettingsNames()
{
    static const QStringList names{"msDayNum", "msDayOccurence"};
    return names;
}

const QStringList& DayOccurenceNames()
{
    static const QStringList names{"doFirst", "doSecond", "doThird", "doFourth", "doLast"};
    return names;
}

const QStringList& DaysNames()
{
    static const QStringList names{"daySunday",   "dayMonday", "dayTuesday", "dayWednesday",
                                   "dayThursday", "dayFriday", "daySaturday"};
    return names;
}

const TPropTable& TSchedule::Properties() const
{
    return PropertyTable();
}

const TPropTable& TSchedule::PropertyTable()
{
    using S = TSchedule;
    using K = TPropKind;
    static const TPropTable table({
        FieldProp("UseSchedule", K::Boolean, &S::UseSchedule),
        FieldProp("ScheduleInterval", K::Enum, &S::ScheduleInterval, &ScheduleIntervalNames()),
        FieldProp("StartHour", K::Word, &S::StartHour),
        FieldProp("StartMin", K::Word, &S::StartMin),
        FieldProp("dailyInterval", K::Integer, &S::dailyInterval),
        FieldProp("weeklyInterval", K::Integer, &S::weeklyInterval),
        FieldProp("weeklyDays", K::Set, &S::weeklyDays, &DaysNames()),
        FieldProp("monthlySettings", K::Enum, &S::monthlySettings, &MonthlySettingsNames()),
        FieldProp("monthlyNumDays", K::Integer, &S::monthlyNumDays),
        FieldProp("monthlyDayOccurence", K::Enum, &S::monthlyDayOccurence, &DayOccurenceNames()),
        FieldProp("monthlyDay", K::Set, &S::monthlyDay, &DaysNames()),
        FieldProp("onceDate", K::DateTime, &S::onceDate),
        FieldProp("LastDate", K::DateTime, &S::LastDate),
    });
    return table;
}

bool InStartWindow(const TSchedule& schedule, TDateTime t)
{
    const QTime time = TimeOf(t);
    return time.hour() == schedule.StartHour && time.minute() >= schedule.StartMin;
}

int LastOccurrence(TDateTime d)
{
    const QDate date = DateOf(d);
    // The last day of the month with d's weekday lies in the final seven days of the month.
    const int lastDay = date.daysInMonth();
    int day = lastDay;
    while (WeekDayOf(QDate(date.year(), date.month(), day)) != WeekDayOf(date))
        --day;
    return (day - 1) / 7 + 1;
}

TScheduleMoment TScheduleMoment::Of(TDateTime now)
{
    TScheduleMoment moment;
    moment.Now = now;
    const QDateTime when = DateTimeToQDateTime(now);
    if (!when.isValid())
        return moment;
    const QDate date = when.date();
    moment.Valid = true;
    moment.Day = DayNumber(now);
    moment.Hour = when.time().hour();
    moment.Minute = when.time().minute();
    moment.WeekDay = WeekDayOf(date);
    moment.DayOfMonth = date.day();
    moment.Occurrence = (date.day() - 1) / 7 + 1;
    moment.LastOccurrence = ::LastOccurrence(now);
    return moment;
}

bool ScheduleIsDue(const TSchedule& s, TDateTime now)
{
    return ScheduleIsDue(s, TScheduleMoment::Of(now));
}

bool ScheduleIsDue(const TSchedule& s, const TScheduleMoment& m)
{
    if (!m.Valid || m.Hour != s.StartHour || m.Minute < s.StartMin)
        return false;
    // Fired in this window already: a monthly or once schedule would otherwise fire at every tick of
    // it. The window is bounded, so a LastDate from a damaged file cannot silence a schedule for ever.
    const double windowStart = m.Day + (s.StartHour * 60 + s.StartMin) / MinutesPerDay;
    const double windowEnd = m.Day + (s.StartHour + 1) * 60 / MinutesPerDay;
    if (s.LastDate >= windowStart - Tolerance && s.LastDate < windowEnd)
        return false;
    const bool never = s.LastDate == -1.0;
    switch (s.ScheduleInterval) {
    case siDaily:
        // Never fired: its first window is the next one, not the moment it was switched on.
        if (never)
            return true;
        return DaysBetween(m, s.LastDate) > 0 && DaysBetween(m, s.LastDate) >= s.dailyInterval;
    case siWeekly:
        if (!InSet(s.weeklyDays, static_cast<TDays>(m.WeekDay)))
            return false;
        if (never)
            return true;
        return DaysBetween(m, s.LastDate) > 0 &&
               std::floor(DaysBetween(m, s.LastDate) / 7) >= s.weeklyInterval;
    case siMonthly:
        if (s.monthlySettings == msDayNum)
            return m.DayOfMonth == s.monthlyNumDays;
        if (s.monthlySettings == msDayOccurence) {
            if (!InSet(s.monthlyDay, static_cast<TDays>(m.WeekDay)))
                return false;
            switch (s.monthlyDayOccurence) {
            case doFirst:
                return m.Occurrence == 1;
            case doSecond:
                return m.Occurrence == 2;
            case doThird:
                return m.Occurrence == 3;
            case doFourth:
                return m.Occurrence == 4;
            case doLast:
                return m.Occurrence == m.LastOccurrence;
            }
        }
        return false;
    case siOnce:
        return DayNumber(s.onceDate) == m.Day;
    }
    return false;
}

QString ScheduleToStr(const TSchedule& s)
{
    if (!s.UseSchedule)
        return Res::Str(Res::SchedNA);
    static const int dayTexts[] = {Res::SchedSun, Res::SchedMon, Res::SchedTue, Res::SchedWed,
                                   Res::SchedThu, Res::SchedFri, Res::SchedSat};
    QString text;
    switch (s.ScheduleInterval) {
    case siDaily:
        text = s.dailyInterval < 2 ? Res::Str(Res::SchedEveryDay)
                                   : Res::Str(Res::SchedEveryNDays).arg(s.dailyInterval);
        break;
    case siWeekly: {
        text = s.weeklyInterval < 2 ? Res::Str(Res::SchedEveryWeek)
                                    : Res::Str(Res::SchedEveryNWeeks).arg(s.weeklyInterval);
        bool any = false;
        for (int day = daySunday; day <= daySaturday; ++day)
            if (InSet(s.weeklyDays, static_cast<TDays>(day))) {
                text += Res::Str(dayTexts[day]) + QStringLiteral(", ");
                any = true;
            }
        if (any)
            text.remove(text.size() - 2, 1); // the comma of the last ", "; its blank stays
        text += Res::Str(Res::SchedAt);
        break;
    }
    case siMonthly:
        if (s.monthlySettings == msDayOccurence) {
            static const int occurrenceTexts[] = {Res::SchedEveryFirst, Res::SchedEverySecond,
                                                  Res::SchedEveryThird, Res::SchedEveryFourth,
                                                  Res::SchedEveryLast};
            if (s.monthlyDayOccurence >= doFirst && s.monthlyDayOccurence <= doLast)
                text = Res::Str(occurrenceTexts[s.monthlyDayOccurence]);
            for (int day = daySunday; day <= daySaturday; ++day)
                if (InSet(s.monthlyDay, static_cast<TDays>(day)))
                    text += Res::Str(dayTexts[day]);
            text += Res::Str(Res::SchedOfEveryMonth);
        } else if (s.monthlySettings == msDayNum) {
            text = Res::Str(Res::SchedDayOfMonth).arg(s.monthlyNumDays);
        }
        break;
    case siOnce:
        text = QLocale().toString(DateOf(s.onceDate), Res::Str(Res::SchedOnceFormat));
        break;
    }
    text += Res::Str(Res::SchedTime)
                .arg(s.StartHour, 2, 10, QLatin1Char('0'))
                .arg(s.StartMin, 2, 10, QLatin1Char('0'));
    return text;
}
