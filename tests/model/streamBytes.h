#pragma once

#include <initializer_list>
#include <QByteArray>
#include <QString>

// Builds component-stream bytes by hand, so tests state the expected layout in the stream's own terms.
class TStreamBytes
{
public:
    TStreamBytes& Raw(const QByteArray& bytes)
    {
        FBytes += bytes;
        return *this;
    }
    TStreamBytes& Byte(int value)
    {
        FBytes += static_cast<char>(value);
        return *this;
    }
    TStreamBytes& Bytes(std::initializer_list<int> values)
    {
        for (int value : values)
            Byte(value);
        return *this;
    }
    TStreamBytes& Short(const QByteArray& text)
    {
        Byte(static_cast<int>(text.size()));
        return Raw(text);
    }
    TStreamBytes& UInt32(quint32 value)
    {
        for (int i = 0; i < 4; ++i)
            Byte(static_cast<int>((value >> (8 * i)) & 0xFF));
        return *this;
    }
    // "TPF0", the class name and an empty component name.
    TStreamBytes& Header(const QByteArray& className = "TGroup")
    {
        Raw("TPF0");
        Short(className);
        return Byte(0);
    }
    // A property name followed by a tag.
    TStreamBytes& Prop(const QByteArray& name, int tag)
    {
        Short(name);
        return Byte(tag);
    }
    TStreamBytes& Text(const QByteArray& name, const QByteArray& value)
    {
        Prop(name, 0x06);
        return Short(value);
    }
    TStreamBytes& Ident(const QByteArray& name, const QByteArray& value)
    {
        Prop(name, 0x07);
        return Short(value);
    }
    TStreamBytes& Int8(const QByteArray& name, int value)
    {
        Prop(name, 0x02);
        return Byte(value & 0xFF);
    }
    TStreamBytes& Set(const QByteArray& name, std::initializer_list<const char*> members)
    {
        Prop(name, 0x0B);
        for (const char* member : members)
            Short(member);
        return Byte(0);
    }
    TStreamBytes& Date(const QByteArray& name, std::initializer_list<int> tenBytes)
    {
        Prop(name, 0x05);
        return Bytes(tenBytes);
    }
    // The schedule entries of a default schedule whose onceDate is the given extended value.
    TStreamBytes& DefaultSchedule(const QByteArray& onceDate)
    {
        Prop("Schedule.UseSchedule", 0x08);
        Ident("Schedule.ScheduleInterval", "siDaily");
        Int8("Schedule.StartHour", 9);
        Int8("Schedule.StartMin", 0);
        Int8("Schedule.dailyInterval", 1);
        Int8("Schedule.weeklyInterval", 1);
        Set("Schedule.weeklyDays", {"dayMonday", "dayTuesday", "dayWednesday", "dayThursday", "dayFriday"});
        Ident("Schedule.monthlySettings", "msDayNum");
        Int8("Schedule.monthlyNumDays", 1);
        Ident("Schedule.monthlyDayOccurence", "doFirst");
        Set("Schedule.monthlyDay", {"dayMonday"});
        Prop("Schedule.onceDate", 0x05).Raw(onceDate);
        return Date("Schedule.LastDate", {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xBF});
    }
    QByteArray Get() const { return FBytes; }
    operator QByteArray() const { return FBytes; }

private:
    QByteArray FBytes;
};

// 46000.5 (a fixed "now" of the tests) as 80-bit extended: 46000.5 * 2^48 with exponent 15.
constexpr double FixedNow = 46000.5;
inline QByteArray FixedNowExtended()
{
    return QByteArray::fromHex("000000000080B0B30E40");
}

// The record a new database holds: a group named DBROOT with no computers and the default schedule.
inline QByteArray NewDatabaseRecord()
{
    TStreamBytes b;
    b.Header().Text("Name", "DBROOT").Prop("IsRoot", 0x08).Prop("Computers", 0x0E).Byte(0);
    b.DefaultSchedule(FixedNowExtended());
    return b.Byte(0).Byte(0);
}
