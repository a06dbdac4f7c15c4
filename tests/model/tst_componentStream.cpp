#include "core/dateTime.h"
#include "core/exceptions.h"
#include "model/componentStream.h"
#include "model/computers.h"
#include "streamBytes.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <QRandomGenerator>
#include <QtEndian>
#include <QTest>

namespace {

QByteArray Ext(double value)
{
    unsigned char bytes[10];
    DoubleToExtended(value, bytes);
    return QByteArray(reinterpret_cast<const char*>(bytes), 10);
}

double FromExt(const QByteArray& bytes)
{
    return ExtendedToDouble(reinterpret_cast<const unsigned char*>(bytes.constData()));
}

quint64 Bits(double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The value that follows the first property of that name: its tag and payload start.
qsizetype ValueAt(const QByteArray& stream, const QByteArray& name, qsizetype from = 0)
{
    const QByteArray key = char(name.size()) + name;
    const qsizetype at = stream.indexOf(key, from);
    return at < 0 ? -1 : at + key.size();
}

std::unique_ptr<TGroup> RoundTrip(const TGroup& group)
{
    return ReadGroup(WriteComponent(group));
}

// A computer record as hand-written bytes: the entries a test names, then the end marker.
QByteArray GroupWithComputer(const QByteArray& computerEntries)
{
    TStreamBytes b;
    b.Header().Prop("Computers", 0x0E).Byte(0x01).Raw(computerEntries).Byte(0).Byte(0);
    return b.Byte(0).Byte(0);
}

} // namespace

class TestComponentStream : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SetNowSource([] { return FixedNow; });
    }
    void cleanupTestCase() { SetNowSource({}); }

    void extendedKnownValues_data();
    void extendedKnownValues();
    void extendedRoundTripsEveryDouble();
    void extendedRoundsLikeTheFpu();

    void newDatabaseRecord();
    void integerWidths_data();
    void integerWidths();
    void stringTags_data();
    void stringTags();
    void everyPropertyRoundTrips();
    void defaultsThatComeBack();
    void emptyWeekDays();
    void unknownOrdinalIsNotWritten_data();
    void unknownOrdinalIsNotWritten();
    void aliasHasNoAdapters();

    void handWrittenTags_data();
    void handWrittenTags();
    void leftoverBytesAreIgnored();
    void namesAndValuesIgnoreCase();

    void malformed_data();
    void malformed();
    void truncatedAnywhere();
};

void TestComponentStream::extendedKnownValues_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("-1") << -1.0 << QByteArray::fromHex("0000000000000080FFBF");
    QTest::newRow("1") << 1.0 << QByteArray::fromHex("0000000000000080FF3F");
    QTest::newRow("0.5") << 0.5 << QByteArray::fromHex("0000000000000080FE3F");
    QTest::newRow("noon of a day") << FixedNow << FixedNowExtended();
    QTest::newRow("0") << 0.0 << QByteArray::fromHex("00000000000000000000");
    QTest::newRow("-0") << -0.0 << QByteArray::fromHex("00000000000000000080");
    QTest::newRow("0.1") << 0.1 << QByteArray::fromHex("00D0CCCCCCCCCCCCFB3F");
    QTest::newRow("largest") << DBL_MAX << QByteArray::fromHex("00F8FFFFFFFFFFFFFE43");
    QTest::newRow("smallest normal") << DBL_MIN << QByteArray::fromHex("0000000000000080013C");
    QTest::newRow("smallest subnormal")
        << std::numeric_limits<double>::denorm_min() << QByteArray::fromHex("0000000000000080CD3B");
    QTest::newRow("largest subnormal")
        << DBL_MIN - std::numeric_limits<double>::denorm_min() << QByteArray::fromHex("00F0FFFFFFFFFFFF003C");
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity()
                              << QByteArray::fromHex("0000000000000080FF7F");
    QTest::newRow("-infinity") << -std::numeric_limits<double>::infinity()
                               << QByteArray::fromHex("0000000000000080FFFF");
}

void TestComponentStream::extendedKnownValues()
{
    QFETCH(double, value);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Ext(value).toHex(), bytes.toHex());
    QCOMPARE(Bits(FromExt(bytes)), Bits(value));
}

void TestComponentStream::extendedRoundTripsEveryDouble()
{
    // Random bit patterns cover every exponent, subnormals and NaNs alike.
    auto* random = QRandomGenerator::global();
    for (int i = 0; i < 200000; ++i) {
        double value;
        const quint64 bits = random->generate64();
        std::memcpy(&value, &bits, sizeof value);
        const double back = FromExt(Ext(value));
        if (std::isnan(value))
            QVERIFY(std::isnan(back));
        else if (Bits(back) != bits)
            QFAIL(qPrintable(QStringLiteral("%1 came back as %2").arg(bits, 16, 16).arg(Bits(back), 16, 16)));
    }
}

void TestComponentStream::extendedRoundsLikeTheFpu()
{
#if defined(__x86_64__) || defined(__i386__)
    static_assert(LDBL_MANT_DIG == 64, "long double is the 80-bit extended type here");
    // The x87 unit converts extended to double with round-to-nearest-even: it is the independent judge of
    // every rounding case, above all ties, overflow and the subnormal range.
    auto* random = QRandomGenerator::global();
    const int interesting[] = {0,     1,     100,   15300, 15308, 15309, 15310, 15320, 15360, 15361,
                               15362, 15363, 15370, 16383, 17406, 17407, 17408, 30000, 32766};
    for (int i = 0; i < 300000; ++i) {
        unsigned char bytes[10];
        quint64 mantissa = random->generate64();
        switch (i % 4) {
        case 0: // a tie or almost a tie below the 53 kept bits
            mantissa = (mantissa & ~quint64(0x7FF)) | 0x400 | (random->generate() & 1);
            break;
        case 1: // the kept bits all ones, so rounding carries into the exponent
            mantissa |= ~quint64(0x3FF);
            break;
        default:
            break;
        }
        mantissa |= quint64(1) << 63; // a normal extended number
        int exponent = static_cast<int>(random->bounded(0x7FFF));
        if (i % 2)
            exponent = interesting[random->bounded(static_cast<int>(std::size(interesting)))] +
                       static_cast<int>(random->bounded(3)) - 1;
        const int sign = static_cast<int>(random->generate() & 1);
        std::memcpy(bytes, &mantissa, 8);
        const quint16 top = static_cast<quint16>((sign << 15) | (exponent & 0x7FFF));
        std::memcpy(bytes + 8, &top, 2);
        if ((top & 0x7FFF) == 0)
            continue; // zero exponent with the integer bit: a pseudo-denormal, which nobody writes
        long double wide;
        std::memset(&wide, 0, sizeof wide);
        std::memcpy(&wide, bytes, 10);
        const double expected = static_cast<double>(wide);
        const double got = ExtendedToDouble(bytes);
        if (Bits(got) != Bits(expected))
            QFAIL(qPrintable(
                QStringLiteral("%1: expected %2, got %3")
                    .arg(QString::fromLatin1(QByteArray(reinterpret_cast<char*>(bytes), 10).toHex()))
                    .arg(Bits(expected), 16, 16)
                    .arg(Bits(got), 16, 16)));
    }
    // Extended subnormals (zero exponent, no integer bit) lie far below every double.
    const QByteArray tiny = QByteArray::fromHex("FFFFFFFFFFFFFF7F0000");
    QCOMPARE(Bits(FromExt(tiny)), Bits(0.0));
#else
    QSKIP("needs the x87 extended type as the judge");
#endif
}

void TestComponentStream::newDatabaseRecord()
{
    TGroup group;
    group.Name = QStringLiteral("DBROOT");
    QCOMPARE(WriteComponent(group).toHex(' '), NewDatabaseRecord().toHex(' '));
}

void TestComponentStream::integerWidths_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("0") << 0 << QByteArray::fromHex("0200");
    QTest::newRow("127") << 127 << QByteArray::fromHex("027F");
    QTest::newRow("128") << 128 << QByteArray::fromHex("038000");
    QTest::newRow("-128") << -128 << QByteArray::fromHex("0280");
    QTest::newRow("-129") << -129 << QByteArray::fromHex("037FFF");
    QTest::newRow("1000") << 1000 << QByteArray::fromHex("03E803");
    QTest::newRow("32767") << 32767 << QByteArray::fromHex("03FF7F");
    QTest::newRow("32768") << 32768 << QByteArray::fromHex("0400800000");
    QTest::newRow("-32768") << -32768 << QByteArray::fromHex("030080");
    QTest::newRow("-32769") << -32769 << QByteArray::fromHex("04FF7FFFFF");
    QTest::newRow("largest") << std::numeric_limits<int>::max() << QByteArray::fromHex("04FFFFFF7F");
    QTest::newRow("smallest") << std::numeric_limits<int>::min() << QByteArray::fromHex("0400000080");
}

void TestComponentStream::integerWidths()
{
    QFETCH(int, value);
    QFETCH(QByteArray, encoded);
    TGroup group;
    TComputer* computer = group.Computers()->Add();
    computer->Port = value;
    computer->MACAddresses()->Add()->AdapterIndex = value;
    const QByteArray stream = WriteComponent(group);
    QCOMPARE(stream.mid(ValueAt(stream, "Port"), encoded.size()).toHex(), encoded.toHex());
    QCOMPARE(stream.mid(ValueAt(stream, "AdapterIndex"), encoded.size()).toHex(), encoded.toHex());
    auto back = ReadGroup(stream);
    QCOMPARE(back->Computers()->Items(0)->Port, value);
    QCOMPARE(back->Computers()->Items(0)->MACAddresses()->Items(0)->AdapterIndex, value);
}

void TestComponentStream::stringTags_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("tag");
    QTest::addColumn<int>("payloadLength"); // the length field: bytes, or code units for 0x12
    QTest::newRow("short ASCII") << QStringLiteral("SERVER") << 0x06 << 6;
    QTest::newRow("255 ASCII") << QString(255, QLatin1Char('a')) << 0x06 << 255;
    QTest::newRow("256 ASCII") << QString(256, QLatin1Char('b')) << 0x0C << 256;
    QTest::newRow("300 ASCII") << QString(300, QLatin1Char('c')) << 0x0C << 300;
    QTest::newRow("accented Latin") << QStringLiteral("Caf\u00E9 Serveur") << 0x14 << 13;
    QTest::newRow("one accented letter only") << QStringLiteral("\u00E9") << 0x12 << 1;
    QTest::newRow("Chinese only") << QStringLiteral("\u670D\u52A1\u5668") << 0x12 << 3;
    QTest::newRow("mostly ASCII, one Chinese") << QStringLiteral("pc-\u4E2D") << 0x14 << 6;
    QTest::newRow("emoji") << QStringLiteral("\U0001F600") << 0x12 << 2;
    QTest::newRow("accented only") << QString(300, QChar(0x00E8)) << 0x12 << 300;
    QTest::newRow("accented and ASCII")
        << QString(300, QChar(0x00E8)) + QStringLiteral("abcdefghijklmnopqrstuvwxyz") << 0x14 << 626;
    QTest::newRow("control characters") << QStringLiteral("a\tb\r\n\x01") << 0x06 << 6;
}

void TestComponentStream::stringTags()
{
    QFETCH(QString, text);
    QFETCH(int, tag);
    QFETCH(int, payloadLength);
    TGroup group;
    group.Computers()->Add()->SetName(text);
    const QByteArray stream = WriteComponent(group);
    const qsizetype at = ValueAt(stream, "Name");
    QVERIFY(at > 0);
    QCOMPARE(static_cast<quint8>(stream.at(at)), tag);
    const int length = tag == 0x06 ? static_cast<quint8>(stream.at(at + 1))
                                   : qFromLittleEndian<qint32>(stream.constData() + at + 1);
    QCOMPARE(length, payloadLength);
    QCOMPARE(RoundTrip(group)->Computers()->Items(0)->Name(), text);
}

void TestComponentStream::everyPropertyRoundTrips()
{
    TGroup group;
    group.Name = QStringLiteral("Office");
    group.Tag = -7;
    group.ID = QStringLiteral("{GROUP}");
    group.IsRoot = true;
    group.Comments = QStringLiteral("Zeile 1\r\nZeile 2 \u00FC");
    group.Schedule().UseSchedule = true;
    group.Schedule().ScheduleInterval = siOnce;
    group.Schedule().StartHour = 23;
    group.Schedule().StartMin = 59;
    group.Schedule().onceDate = 45000.25;
    group.Schedule().LastDate = 44999.75;

    TComputer* c = group.Computers()->Add();
    c->RefID = QStringLiteral("{REF}");
    c->SetName(QStringLiteral("ALPHA"));
    c->Comments = QStringLiteral("rack 2");
    c->Descr = QStringLiteral("\u6587\u4EF6\u670D\u52A1\u5668");
    c->IPAddress = QStringLiteral("alpha.example");
    c->SubNet = QStringLiteral("255.255.0.0");
    c->LocalSubnet = true;
    c->Port = 9;
    c->Online = true;
    c->LastPingDate = 46001.123456789;
    c->LastPingReply = QStringLiteral("Reply from 127.0.0.1");
    c->SendOptions = soInternet;
    TSchedule& s = c->Schedule();
    s.ScheduleInterval = siMonthly;
    s.StartHour = 300;
    s.StartMin = 65535;
    s.dailyInterval = -1;
    s.weeklyInterval = 100000;
    s.weeklyDays = DaySet(daySunday) | DaySet(daySaturday);
    s.monthlySettings = msDayOccurence;
    s.monthlyNumDays = 31;
    s.monthlyDayOccurence = doLast;
    s.monthlyDay = 0x7F;
    TMACAddress* a = c->MACAddresses()->Add();
    a->Address = QStringLiteral("00-11-22-33-44-55");
    a->IPAddress = QStringLiteral("10.1.2.3");
    a->AdapterIndex = 70000;
    a->Descr = QStringLiteral("eth0");
    a->Name = QStringLiteral("Ethernet");
    a->Subnet = QStringLiteral("255.0.0.0");
    a->UseForWake = false;
    c->MACAddresses()->Add()->Address = QStringLiteral("66-77-88-99-AA-BB");
    TComputer* second = group.Computers()->Add();
    second->SetName(QStringLiteral("BETA"));

    auto back = RoundTrip(group);
    QCOMPARE(back->Name, group.Name);
    QCOMPARE(back->Tag, -7);
    QCOMPARE(back->ID, group.ID);
    QCOMPARE(back->IsRoot, true);
    QCOMPARE(back->Comments, group.Comments);
    QCOMPARE(back->Schedule().UseSchedule, true);
    QCOMPARE(back->Schedule().ScheduleInterval, siOnce);
    QCOMPARE(back->Schedule().StartHour, quint16(23));
    QCOMPARE(back->Schedule().StartMin, quint16(59));
    QCOMPARE(back->Schedule().onceDate, 45000.25);
    QCOMPARE(back->Schedule().LastDate, 44999.75);
    QCOMPARE(back->Computers()->Count(), 2);

    TComputer* r = back->Computers()->Items(0);
    QCOMPARE(r->ItemID(), c->ItemID());
    QCOMPARE(r->RefID, c->RefID);
    QCOMPARE(r->Name(), c->Name());
    QCOMPARE(r->Comments, c->Comments);
    QCOMPARE(r->Descr, c->Descr);
    QCOMPARE(r->IPAddress, c->IPAddress);
    QCOMPARE(r->SubNet, c->SubNet);
    QCOMPARE(r->LocalSubnet, true);
    QCOMPARE(r->Port, 9);
    QCOMPARE(r->Online, true);
    QCOMPARE(Bits(r->LastPingDate), Bits(c->LastPingDate));
    QCOMPARE(r->LastPingReply, c->LastPingReply);
    QCOMPARE(r->DataType(), dtNormal);
    QCOMPARE(r->SendOptions, soInternet);
    const TSchedule& rs = r->Schedule();
    QCOMPARE(rs.ScheduleInterval, siMonthly);
    QCOMPARE(rs.StartHour, quint16(300));
    QCOMPARE(rs.StartMin, quint16(65535));
    QCOMPARE(rs.dailyInterval, -1);
    QCOMPARE(rs.weeklyInterval, 100000);
    QCOMPARE(rs.weeklyDays, TWeekDays(DaySet(daySunday) | DaySet(daySaturday)));
    QCOMPARE(rs.monthlySettings, msDayOccurence);
    QCOMPARE(rs.monthlyNumDays, 31);
    QCOMPARE(rs.monthlyDayOccurence, doLast);
    QCOMPARE(rs.monthlyDay, TWeekDays(0x7F));
    QCOMPARE(rs.onceDate, FixedNow);
    QCOMPARE(r->MACAddresses()->Count(), 2);
    TMACAddress* ra = r->MACAddresses()->Items(0);
    QCOMPARE(ra->Address, a->Address);
    QCOMPARE(ra->IPAddress, a->IPAddress);
    QCOMPARE(ra->AdapterIndex, 70000);
    QCOMPARE(ra->Descr, a->Descr);
    QCOMPARE(ra->Name, a->Name);
    QCOMPARE(ra->Subnet, a->Subnet);
    QCOMPARE(ra->UseForWake, false);
    QCOMPARE(r->MACAddresses()->Items(1)->Address, QStringLiteral("66-77-88-99-AA-BB"));
    QCOMPARE(r->MACAddresses()->Items(1)->UseForWake, true);
    QCOMPARE(back->Computers()->Items(1)->Name(), QStringLiteral("BETA"));
    QCOMPARE(back->Computers()->Items(1)->ItemID(), second->ItemID());
    // Written again, the record is the same.
    QCOMPARE(WriteComponent(*back), WriteComponent(group));
    // So is a snapshot's, which a save writes on another thread; an alias's fields included.
    second->SetDataType(dtAlias);
    second->RefID = QStringLiteral("{REF2}");
    QCOMPARE(WriteComponent(*group.Snapshot()), WriteComponent(group));
}

void TestComponentStream::defaultsThatComeBack()
{
    TGroup group;
    TComputer* c = group.Computers()->Add();
    c->SubNet.clear();
    c->Online = false;
    c->Schedule().LastDate = 0;
    c->Schedule().onceDate = 0;
    const QByteArray stream = WriteComponent(group);
    // Booleans are always written; empty strings and zero dates are not.
    QVERIFY(stream.contains(QByteArray("\x06Online\x08")));
    QVERIFY(!stream.contains(QByteArray("\x06SubNet")));
    QVERIFY(!stream.contains(QByteArray("\x0CLastPingDate")));
    QCOMPARE(stream.count(QByteArray("\x11Schedule.LastDate")), 1); // the group's only

    SetNowSource([] { return 47000.75; });
    auto back = ReadGroup(stream);
    SetNowSource([] { return FixedNow; });
    TComputer* r = back->Computers()->Items(0);
    QCOMPARE(r->SubNet, QStringLiteral("255.255.255.0"));
    QCOMPARE(r->Online, false);
    QCOMPARE(r->LastPingDate, 0.0);
    QCOMPARE(r->Schedule().LastDate, -1.0);
    QCOMPARE(r->Schedule().onceDate, 47000.75);
    // The group's Tag of 0 is not written; the group's schedule has its own entries.
    QVERIFY(!stream.contains(QByteArray("\x03Tag")));
}

void TestComponentStream::emptyWeekDays()
{
    TGroup group;
    group.Schedule().weeklyDays = 0;
    group.Schedule().monthlyDay = DaySet(daySaturday) | DaySet(daySunday);
    const QByteArray stream = WriteComponent(group);
    QCOMPARE(stream.mid(ValueAt(stream, "Schedule.weeklyDays"), 2).toHex(), QByteArray("0b00"));
    // Members in the order of their ordinals, whatever order they were set in.
    const QByteArray expected = TStreamBytes().Byte(0x0B).Short("daySunday").Short("daySaturday").Byte(0);
    QCOMPARE(stream.mid(ValueAt(stream, "Schedule.monthlyDay"), expected.size()), expected);
    auto back = ReadGroup(stream);
    QCOMPARE(back->Schedule().weeklyDays, TWeekDays(0));
    QCOMPARE(back->Schedule().monthlyDay, TWeekDays(DaySet(daySaturday) | DaySet(daySunday)));
}

void TestComponentStream::unknownOrdinalIsNotWritten_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<int>("ordinal");
    QTest::newRow("interval past the last") << "ScheduleInterval" << int(siOnce) + 1;
    QTest::newRow("interval negative") << "ScheduleInterval" << -1;
    QTest::newRow("monthly setting past the last") << "monthlySettings" << int(msDayOccurence) + 1;
    QTest::newRow("occurrence past the last") << "monthlyDayOccurence" << int(doLast) + 1;
}

// An ordinal without a value name (a schedule filled in by code, not read from a stream) must fail the
// write with a message instead of indexing past the names.
void TestComponentStream::unknownOrdinalIsNotWritten()
{
    QFETCH(QString, property);
    QFETCH(int, ordinal);
    TGroup group;
    TSchedule& s = group.Schedule();
    if (property == QLatin1String("ScheduleInterval"))
        s.ScheduleInterval = static_cast<TScheduleInterval>(ordinal);
    else if (property == QLatin1String("monthlySettings"))
        s.monthlySettings = static_cast<TMonthlySettings>(ordinal);
    else
        s.monthlyDayOccurence = static_cast<TDayOccurence>(ordinal);
    try {
        WriteComponent(group);
        QFAIL("the unknown value was written");
    } catch (const Exception& e) {
        QVERIFY2(e.Message().contains(property), qPrintable(e.Message()));
    }
}

void TestComponentStream::aliasHasNoAdapters()
{
    TGroup group;
    TComputer* c = group.Computers()->Add();
    c->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
    c->SetDataType(dtAlias);
    c->RefID = QStringLiteral("{TARGET}");
    const QByteArray stream = WriteComponent(group);
    QVERIFY(!stream.contains("MACAddresses"));
    QVERIFY(stream.contains(QByteArray("\x08"
                                       "DataType\x07\x07"
                                       "dtAlias")));
    auto back = ReadGroup(stream);
    QCOMPARE(back->Computers()->Items(0)->DataType(), dtAlias);
    QVERIFY(!back->Computers()->Items(0)->MACAddresses());
    QCOMPARE(back->Computers()->Items(0)->RefID, QStringLiteral("{TARGET}"));

    // A stream that carries adapters before DataType dtAlias (the stored order) loses them on reading.
    TStreamBytes entries;
    entries.Prop("MACAddresses", 0x0E).Byte(0x01).Text("Address", "00-11-22-33-44-55").Byte(0).Byte(0);
    entries.Ident("DataType", "dtAlias");
    auto alias = ReadGroup(GroupWithComputer(entries));
    QCOMPARE(alias->Computers()->Items(0)->DataType(), dtAlias);
    QVERIFY(!alias->Computers()->Items(0)->MACAddresses());
}

void TestComponentStream::handWrittenTags_data()
{
    QTest::addColumn<QByteArray>("entries");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("startHour");

    const auto row = [](const char* tag, const QByteArray& name, const QByteArray& port,
                        const QByteArray& hour, const QString& expectedName, int expectedPort,
                        int expectedHour) {
        TStreamBytes b;
        b.Short("Name").Raw(name).Short("Port").Raw(port).Short("Schedule.StartHour").Raw(hour);
        QTest::newRow(tag) << b.Get() << expectedName << expectedPort << expectedHour;
    };
    row("0x06, 0x02", TStreamBytes().Byte(0x06).Short("PC1"), QByteArray::fromHex("02F9"),
        QByteArray::fromHex("0217"), QStringLiteral("PC1"), -7, 23);
    row("0x0C, 0x03", TStreamBytes().Byte(0x0C).UInt32(3).Raw("PC2"), QByteArray::fromHex("0301FF"),
        QByteArray::fromHex("030001"), QStringLiteral("PC2"), -255, 256);
    row("0x12, 0x04", TStreamBytes().Byte(0x12).UInt32(2).Bytes({0x2D, 0x4E, 0x87, 0x65}),
        QByteArray::fromHex("0440420F00"), QByteArray::fromHex("04FFFF0000"), QStringLiteral("\u4E2D\u6587"),
        1000000, 65535);
    row("0x14", TStreamBytes().Byte(0x14).UInt32(6).Raw("gr\xC3\xBC\xC3\x9F"), QByteArray::fromHex("0200"),
        QByteArray::fromHex("0200"), QStringLiteral("gr\u00FC\u00DF"), 0, 0);
    row("0x06 holding Latin-1", TStreamBytes().Byte(0x06).Short("caf\xE9"), QByteArray::fromHex("0209"),
        QByteArray::fromHex("0209"), QStringLiteral("caf\u00E9"), 9, 9);
    row("0x0C holding Latin-1", TStreamBytes().Byte(0x0C).UInt32(2).Raw("\xC4\xD6"),
        QByteArray::fromHex("0209"), QByteArray::fromHex("0209"), QStringLiteral("\u00C4\u00D6"), 9, 9);
    row("empty 0x0C and 0x12", TStreamBytes().Byte(0x0C).UInt32(0), QByteArray::fromHex("0209"),
        QByteArray::fromHex("0209"), QString(), 9, 9);
    row("name normalised on reading", TStreamBytes().Byte(0x06).Short("\\\\HOST"),
        QByteArray::fromHex("0209"), QByteArray::fromHex("0209"), QStringLiteral("HOST"), 9, 9);
}

void TestComponentStream::handWrittenTags()
{
    QFETCH(QByteArray, entries);
    QFETCH(QString, name);
    QFETCH(int, port);
    QFETCH(int, startHour);
    auto group = ReadGroup(GroupWithComputer(entries));
    TComputer* c = group->Computers()->Items(0);
    QCOMPARE(c->Name(), name);
    QCOMPARE(c->Port, port);
    QCOMPARE(c->Schedule().StartHour, quint16(startHour));
    // What the stream leaves out keeps the constructor's defaults.
    QCOMPARE(c->SubNet, QStringLiteral("255.255.255.0"));
    QCOMPARE(c->ItemID().size(), 38);
    QCOMPARE(c->MACAddresses()->Count(), 0);
}

void TestComponentStream::leftoverBytesAreIgnored()
{
    // A record written over a longer, older one: the old tail stays behind the new end markers.
    TGroup big;
    for (int i = 0; i < 3; ++i)
        big.Computers()->Add()->SetName(QStringLiteral("PC%1").arg(i));
    TGroup small;
    small.Computers()->Add()->SetName(QStringLiteral("KEEP"));
    QByteArray stream = WriteComponent(big);
    const QByteArray shorter = WriteComponent(small);
    QVERIFY(shorter.size() < stream.size());
    stream.replace(0, shorter.size(), shorter);

    auto back = ReadGroup(stream);
    QCOMPARE(back->Computers()->Count(), 1);
    QCOMPARE(back->Computers()->Items(0)->Name(), QStringLiteral("KEEP"));

    // Any bytes at all may follow.
    auto junk = ReadGroup(NewDatabaseRecord() + QByteArray("\xFF\x00\x01garbage", 10));
    QCOMPARE(junk->Name, QStringLiteral("DBROOT"));
}

void TestComponentStream::namesAndValuesIgnoreCase()
{
    TStreamBytes entries;
    entries.Text("ipaddress", "10.0.0.1").Ident("SENDOPTIONS", "sointernet");
    entries.Set("schedule.WeeklyDays", {"DAYSUNDAY"});
    auto group = ReadGroup(GroupWithComputer(entries));
    TComputer* c = group->Computers()->Items(0);
    QCOMPARE(c->IPAddress, QStringLiteral("10.0.0.1"));
    QCOMPARE(c->SendOptions, soInternet);
    QCOMPARE(c->Schedule().weeklyDays, DaySet(daySunday));

    // Exact names against the stored order: each is still found, and one given twice keeps the last.
    TStreamBytes reversed;
    reversed.Int8("Schedule.StartHour", 7).Int8("Port", 9).Text("IPAddress", "10.0.0.2").Int8("Port", 8);
    group = ReadGroup(GroupWithComputer(reversed));
    c = group->Computers()->Items(0);
    QCOMPARE(c->Schedule().StartHour, 7);
    QCOMPARE(c->Port, 8);
    QCOMPARE(c->IPAddress, QStringLiteral("10.0.0.2"));
}

void TestComponentStream::malformed_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("message");

    const auto computer = [](const TStreamBytes& entries) { return GroupWithComputer(entries); };
    QTest::newRow("empty") << QByteArray() << QStringLiteral("Stream read error");
    QTest::newRow("bad signature") << QByteArray("TPF1\x06TGroup\x00\x00\x00", 13)
                                   << QStringLiteral("Invalid stream format");
    QTest::newRow("unknown class") << TStreamBytes().Header("TComputer").Byte(0).Byte(0).Get()
                                   << QStringLiteral("Class TComputer not found");
    QTest::newRow("unknown property")
        << computer(TStreamBytes().Text("Foo", "x"))
        << QStringLiteral("Error reading TComputer.Foo: Property Foo does not exist");
    QTest::newRow("unknown group property")
        << TStreamBytes().Header().Prop("Bar", 0x08).Byte(0).Byte(0).Get()
        << QStringLiteral("Error reading TGroup.Bar: Property Bar does not exist");
    QTest::newRow("unknown schedule property")
        << computer(TStreamBytes().Int8("Schedule.Foo", 1))
        << QStringLiteral("Error reading TComputer.Schedule.Foo: Property Foo does not exist");
    QTest::newRow("dotted through a non-object")
        << computer(TStreamBytes().Int8("Port.Foo", 1))
        << QStringLiteral("Error reading TComputer.Port.Foo: Invalid property path");
    QTest::newRow("object given a value")
        << computer(TStreamBytes().Int8("Schedule", 1))
        << QStringLiteral("Error reading TComputer.Schedule: Invalid property value");
    QTest::newRow("text into integer")
        << computer(TStreamBytes().Text("Port", "9"))
        << QStringLiteral("Error reading TComputer.Port: Invalid property value");
    QTest::newRow("integer into Boolean")
        << computer(TStreamBytes().Int8("Online", 1))
        << QStringLiteral("Error reading TComputer.Online: Invalid property value");
    QTest::newRow("text into enumeration")
        << computer(TStreamBytes().Text("DataType", "dtAlias"))
        << QStringLiteral("Error reading TComputer.DataType: Invalid property value");
    QTest::newRow("integer into date")
        << computer(TStreamBytes().Int8("LastPingDate", 1))
        << QStringLiteral("Error reading TComputer.LastPingDate: Invalid property value");
    QTest::newRow("identifier into text")
        << computer(TStreamBytes().Ident("Name", "PC"))
        << QStringLiteral("Error reading TComputer.Name: Invalid property value");
    QTest::newRow("unknown enumeration value")
        << computer(TStreamBytes().Ident("SendOptions", "soCarrierPigeon"))
        << QStringLiteral("Error reading TComputer.SendOptions: Invalid property value");
    QTest::newRow("unknown set member")
        << computer(TStreamBytes().Set("Schedule.weeklyDays", {"dayMonday", "dayFunday"}))
        << QStringLiteral("Error reading TComputer.Schedule.weeklyDays: Invalid property value");
    QTest::newRow("word out of range")
        << computer(TStreamBytes().Prop("Schedule.StartHour", 0x04).UInt32(65536))
        << QStringLiteral("Error reading TComputer.Schedule.StartHour: Invalid property value");
    QTest::newRow("negative word")
        << computer(TStreamBytes().Int8("Schedule.StartMin", -1))
        << QStringLiteral("Error reading TComputer.Schedule.StartMin: Invalid property value");
    QTest::newRow("NaN date")
        << computer(TStreamBytes().Date("LastPingDate", {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F}))
        << QStringLiteral("Error reading TComputer.LastPingDate: Invalid property value");
    QTest::newRow("collection item without its marker")
        << computer(TStreamBytes().Prop("MACAddresses", 0x0E).Byte(0x06).Byte(0))
        << QStringLiteral("Error reading TComputer.MACAddresses: Invalid property value");
    QTest::newRow("collection given a text")
        << computer(TStreamBytes().Text("MACAddresses", "x"))
        << QStringLiteral("Error reading TComputer.MACAddresses: Invalid property value");
    QTest::newRow("adapters of an alias")
        << computer(TStreamBytes().Ident("DataType", "dtAlias").Prop("MACAddresses", 0x0E).Byte(0))
        << QStringLiteral("Error reading TComputer.MACAddresses: Invalid property value");
    QTest::newRow("absurd long text")
        << computer(TStreamBytes().Prop("Name", 0x0C).UInt32(0xFFFFFFFF).Raw("abc"))
        << QStringLiteral("Error reading TComputer.Name: Stream read error");
    QTest::newRow("absurd UTF-16 text")
        << computer(TStreamBytes().Prop("Name", 0x12).UInt32(0x7FFFFFFF).Raw("abcd"))
        << QStringLiteral("Error reading TComputer.Name: Stream read error");
    QTest::newRow("UTF-16 count whose byte size wraps")
        << computer(TStreamBytes().Prop("Name", 0x12).UInt32(0x80000001).Raw("ab"))
        << QStringLiteral("Error reading TComputer.Name: Stream read error");
    QTest::newRow("absurd UTF-8 text") << computer(TStreamBytes().Prop("Name", 0x14).UInt32(0x80000000))
                                       << QStringLiteral("Error reading TComputer.Name: Stream read error");
    QTest::newRow("short text longer than the rest")
        << TStreamBytes().Header().Prop("Name", 0x06).Byte(200).Raw("abc").Get()
        << QStringLiteral("Error reading TGroup.Name: Stream read error");
    QTest::newRow("child objects") << TStreamBytes().Header().Byte(0).Header().Byte(0).Byte(0).Get()
                                   << QStringLiteral("Invalid stream format");
}

void TestComponentStream::malformed()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, message);
    try {
        ReadGroup(stream);
        QFAIL("the stream was accepted");
    } catch (const EReadError& e) {
        QCOMPARE(e.Message(), message);
    }
}

void TestComponentStream::truncatedAnywhere()
{
    TGroup group;
    group.Comments = QStringLiteral("\u00E4\u00F6\u00FC text");
    TComputer* c = group.Computers()->Add();
    c->SetName(QStringLiteral("\u4E2D\u6587"));
    c->LastPingDate = 46000.1;
    c->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
    group.Computers()->Add()->SetDataType(dtAlias);
    const QByteArray stream = WriteComponent(group);
    QVERIFY(ReadGroup(stream));
    for (qsizetype size = 0; size < stream.size(); ++size) {
        try {
            ReadGroup(stream.left(size));
            QFAIL(qPrintable(QStringLiteral("a record cut after %1 bytes was accepted").arg(size)));
        } catch (const EReadError& e) {
            QVERIFY2(e.Message().endsWith(QLatin1String("Stream read error")), qPrintable(e.Message()));
        }
    }
}

QTEST_GUILESS_MAIN(TestComponentStream)
#include "tst_componentStream.moc"
