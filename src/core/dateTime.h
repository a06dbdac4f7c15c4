#pragma once

#include <functional>
#include <QDateTime>

// A date and time as a count of days since 30 December 1899, midnight, local time; the fraction is the
// time of day. Negative values count backwards for the date while the fraction still gives the time.
using TDateTime = double;

// An invalid QDateTime for a value that is no date (not finite, or billions of years away).
QDateTime DateTimeToQDateTime(TDateTime value);
TDateTime QDateTimeToDateTime(const QDateTime& value);

// "Now" in local time. Reads through one injectable clock so tests can place the system at any moment.
TDateTime Now();
// Replaces the clock (an empty function restores the real one).
void SetNowSource(std::function<TDateTime()> source);

// While one lives, Now() on its thread answers the moment read when the first of them was made: a
// batch (thousands of computers loaded or copied) reads the clock once instead of once per item.
class TNowBatch
{
public:
    TNowBatch();
    ~TNowBatch();
    TNowBatch(const TNowBatch&) = delete;
    TNowBatch& operator=(const TNowBatch&) = delete;
};
