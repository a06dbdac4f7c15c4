#include "core/dateTime.h"

#include <cmath>
#include <mutex>

namespace {

const QDate Epoch(1899, 12, 30);
constexpr double MsPerDay = 86400000.0;
// Billions of years: past every moment a QDateTime can hold, yet a day count any qint64 holds.
constexpr double MaxDays = 0x1p40;

std::mutex sourceLock;
std::function<TDateTime()> nowSource;
thread_local int batchDepth = 0;
thread_local TDateTime batchNow = 0;

} // namespace

QDateTime DateTimeToQDateTime(TDateTime value)
{
    // Values come from files too: one that is no number, or whose day count no integer holds, is no
    // date (converting it to an integer would be undefined).
    if (!std::isfinite(value) || std::fabs(value) >= MaxDays)
        return QDateTime();
    const double days = std::trunc(value);
    const double fraction = std::fabs(value - days);
    qint64 ms = std::llround(fraction * MsPerDay);
    QDate date = Epoch.addDays(static_cast<qint64>(days));
    if (ms >= static_cast<qint64>(MsPerDay)) {
        // Rounding reached the next midnight.
        ms = 0;
        date = date.addDays(value < 0 ? -1 : 1);
    }
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

TDateTime QDateTimeToDateTime(const QDateTime& value)
{
    const QDateTime local = value.toLocalTime();
    const double days = static_cast<double>(Epoch.daysTo(local.date()));
    const double fraction = local.time().msecsSinceStartOfDay() / MsPerDay;
    return days >= 0 ? days + fraction : days - fraction;
}

TDateTime Now()
{
    if (batchDepth > 0)
        return batchNow;
    {
        std::lock_guard<std::mutex> guard(sourceLock);
        if (nowSource)
            return nowSource();
    }
    return QDateTimeToDateTime(QDateTime::currentDateTime());
}

void SetNowSource(std::function<TDateTime()> source)
{
    std::lock_guard<std::mutex> guard(sourceLock);
    nowSource = std::move(source);
}

TNowBatch::TNowBatch()
{
    if (batchDepth == 0)
        batchNow = Now();
    ++batchDepth;
}

TNowBatch::~TNowBatch()
{
    --batchDepth;
}
