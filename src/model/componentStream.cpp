#include "model/componentStream.h"

#include "core/dateTime.h"
#include "core/exceptions.h"
#include "model/computers.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <QtEndian>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

// ---------------------------------------------------------------------------------------------------
// 80-bit extended precision

void DoubleToExtended(double value, unsigned char out[10])
{
    const quint64 bits = std::bit_cast<quint64>(value);
    const bool negative = (bits >> 63) != 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const quint64 fraction = bits & ((quint64(1) << 52) - 1);

    quint64 mantissa = 0;
    int extExponent = 0;
    if (exponent == 0x7FF) {
        // Infinity or NaN: the integer bit is set, the fraction (payload) moves to the top.
        extExponent = 0x7FFF;
        mantissa = (quint64(1) << 63) | (fraction << 11);
    } else if (exponent == 0) {
        if (fraction != 0) {
            // A subnormal double is a normal extended number: value = fraction * 2^-1074.
            const int shift = std::countl_zero(fraction);
            mantissa = fraction << shift;
            extExponent = -1074 + 63 - shift + 16383;
        }
    } else {
        mantissa = (quint64(1) << 63) | (fraction << 11);
        extExponent = exponent - 1023 + 16383;
    }
    qToLittleEndian<quint64>(mantissa, out);
    qToLittleEndian<quint16>(static_cast<quint16>(extExponent | (negative ? 0x8000 : 0)), out + 8);
}

double ExtendedToDouble(const unsigned char in[10])
{
    quint64 mantissa = qFromLittleEndian<quint64>(in);
    const quint16 signExponent = qFromLittleEndian<quint16>(in + 8);
    const quint64 sign = quint64(signExponent >> 15) << 63;
    const int exponent = signExponent & 0x7FFF;

    if (exponent == 0x7FFF) {
        const quint64 payload = mantissa & ~(quint64(1) << 63);
        if (payload == 0)
            return std::bit_cast<double>(sign | (quint64(0x7FF) << 52));
        // NaN: keep the top payload bits and make it quiet, as the floating-point unit does.
        const quint64 fraction = (payload >> 11) | (quint64(1) << 51);
        return std::bit_cast<double>(sign | (quint64(0x7FF) << 52) | fraction);
    }
    if (mantissa == 0)
        return std::bit_cast<double>(sign);

    // value = mantissa * 2^e2; a zero exponent field means the smallest exponent without an integer bit.
    int e2 = (exponent == 0 ? 1 : exponent) - 16383 - 63;
    const int shift = std::countl_zero(mantissa);
    mantissa <<= shift;
    e2 -= shift;
    const int top = e2 + 63; // exponent of the leading bit

    if (top > 1023)
        return std::bit_cast<double>(sign | (quint64(0x7FF) << 52));

    // Bits to drop below the 53 kept (normal) or the fewer kept by a subnormal.
    const int drop = top >= -1022 ? 11 : 11 + (-1022 - top);
    quint64 kept;
    bool roundUp;
    if (drop >= 65) {
        kept = 0;
        roundUp = false;
    } else if (drop == 64) {
        kept = 0;
        const quint64 half = quint64(1) << 63;
        roundUp = mantissa > half; // exactly half ties to the even zero
    } else {
        kept = mantissa >> drop;
        const quint64 rest = mantissa & ((quint64(1) << drop) - 1);
        const quint64 half = quint64(1) << (drop - 1);
        roundUp = rest > half || (rest == half && (kept & 1) != 0);
    }
    if (roundUp)
        ++kept;

    if (top >= -1022) {
        int biased = top + 1023;
        if (kept == (quint64(1) << 53)) {
            kept >>= 1;
            ++biased;
            if (biased >= 0x7FF)
                return std::bit_cast<double>(sign | (quint64(0x7FF) << 52));
        }
        return std::bit_cast<double>(sign | (quint64(biased) << 52) | (kept & ((quint64(1) << 52) - 1)));
    }
    // Subnormal: the kept bits are the fraction; a carry into bit 52 is exactly the smallest normal.
    return std::bit_cast<double>(sign | kept);
}

namespace {

// ---------------------------------------------------------------------------------------------------
// Plans: a property table prepared once for streaming (encoded names, name lookup).

struct TTablePlan;
struct TSubPlanLink;

struct TPlanEntry
{
    const TPropInfo* Prop = nullptr;
    QByteArray Name;      // length byte, then the name with its prefix
    QByteArray SubPrefix; // Object kind: the prefix of the object's properties; empty for collections
    std::vector<QByteArray> ValueNames; // Enum and Set kinds: the value names as short strings
    bool IsTag = false;                 // the component base's Tag, stored only when set
    // Name again, zero-padded, when it fits: copied as one block of fixed size, without a library call.
    static constexpr qsizetype ShortSize = 32;
    char Short[ShortSize] = {};
    // Object and Collection kinds: the plan of the object's or the items' table, remembered with the table
    // it was made for (one link, so that a reader on another thread never sees half of it).
    mutable std::atomic<const TSubPlanLink*> Sub{nullptr};

    TPlanEntry() = default;
    TPlanEntry(TPlanEntry&& other) noexcept
        : Prop(other.Prop), Name(std::move(other.Name)), SubPrefix(std::move(other.SubPrefix)),
          ValueNames(std::move(other.ValueNames)), IsTag(other.IsTag), Sub(other.Sub.load())
    {
        std::memcpy(Short, other.Short, sizeof Short);
    }
};

struct TSubPlanLink
{
    const TPropTable* Table;
    const TTablePlan* Plan;
};

struct TTablePlan
{
    std::vector<TPlanEntry> Entries;
    std::unordered_map<std::string_view, const TPropInfo*> ByName; // unprefixed, exact case
};

std::mutex planLock;

const TTablePlan& PlanFor(const TPropTable& table, const QByteArray& prefix)
{
    static std::map<std::pair<const TPropTable*, QByteArray>, std::unique_ptr<TTablePlan>> plans;

    std::lock_guard<std::mutex> guard(planLock);
    auto& slot = plans[{&table, prefix}];
    if (slot)
        return *slot;
    auto plan = std::make_unique<TTablePlan>();
    plan->Entries.reserve(table.Props().size());
    for (const TPropInfo& prop : table.Props()) {
        TPlanEntry entry;
        entry.Prop = &prop;
        const QByteArray name = prefix + prop.Name.toLatin1();
        entry.Name.append(static_cast<char>(qMin<qsizetype>(name.size(), 255)));
        entry.Name.append(name.left(255));
        if (entry.Name.size() <= TPlanEntry::ShortSize)
            std::memcpy(entry.Short, entry.Name.constData(), static_cast<size_t>(entry.Name.size()));
        if (prop.Kind == TPropKind::Object)
            entry.SubPrefix = name + '.';
        entry.IsTag = prop.Kind == TPropKind::Integer && prop.Name == QLatin1String("Tag");
        if (prop.Names && (prop.Kind == TPropKind::Enum || prop.Kind == TPropKind::Set)) {
            for (const QString& value : *prop.Names) {
                const QByteArray latin1 = value.toLatin1().left(255);
                entry.ValueNames.push_back(char(latin1.size()) + latin1);
            }
        }
        plan->Entries.push_back(std::move(entry));
    }
    // The keys view the names held by the entries, which no longer move.
    for (const TPlanEntry& entry : plan->Entries) {
        const qsizetype skip = 1 + prefix.size();
        if (entry.Name.size() < skip)
            continue; // cut at 255 characters: found by the slow way, if at all
        plan->ByName.emplace(
            std::string_view(entry.Name.constData() + skip, static_cast<size_t>(entry.Name.size() - skip)),
            entry.Prop);
    }
    slot = std::move(plan);
    return *slot;
}

// The plan of an object's (or a collection's items') table, remembered by the entry that leads to it.
const TTablePlan& SubPlanOf(const TPlanEntry& entry, const TPropTable& table)
{
    const TSubPlanLink* link = entry.Sub.load(std::memory_order_acquire);
    if (link && link->Table == &table)
        return *link->Plan;
    const TTablePlan& plan = PlanFor(table, entry.SubPrefix);
    // Links live as long as the plans; there is one per table an entry has led to.
    static std::vector<std::unique_ptr<TSubPlanLink>> links;
    std::lock_guard<std::mutex> guard(planLock);
    links.push_back(std::make_unique<TSubPlanLink>(TSubPlanLink{&table, &plan}));
    entry.Sub.store(links.back().get(), std::memory_order_release);
    return plan;
}

// ---------------------------------------------------------------------------------------------------
// Writer

// The carriers of TPropInfo::Get, read without QVariant's general conversions (the inline type test
// saves a call per property, which counts for groups of thousands of computers).
template <class T> bool Carries(const QVariant& value)
{
    return value.data_ptr().type() == QMetaType::fromType<T>();
}

qint64 OrdinalOf(const QVariant& value)
{
    if (Carries<qint64>(value))
        return *static_cast<const qint64*>(value.constData());
    return value.toLongLong();
}

bool BooleanOf(const QVariant& value)
{
    if (Carries<bool>(value))
        return *static_cast<const bool*>(value.constData());
    return value.toBool();
}

double DoubleOf(const QVariant& value)
{
    if (Carries<double>(value))
        return *static_cast<const double*>(value.constData());
    return value.toDouble();
}

class TWriter
{
public:
    // Appends to out; a collection of at least splitFrom items is rendered by two threads at once, in
    // runs that are pieces of their own (pieces then holds every piece, in their order). spares: memory
    // for the runs.
    // sink (optional) takes every piece in order as soon as it and those before it are rendered.
    TWriter(QByteArray out, std::vector<QByteArray>* pieces = nullptr, int splitFrom = 0,
            std::vector<QByteArray> spares = {}, const TPieceSink* sink = nullptr)
        : Out(std::move(out)), Pieces(pieces), SplitFrom(pieces ? splitFrom : 0), Spares(std::move(spares)),
          Sink(sink && *sink ? sink : nullptr)
    {
        Reset(qMax<qsizetype>(Out.capacity() - Out.size(), 4096));
    }

    void Root(const TPersistent& root)
    {
        Raw("TPF0", 4);
        ShortString(root.ClassName().toLatin1());
        ShortString(QByteArray()); // the component name: always empty
        Properties(root, PlanFor(root.Properties(), QByteArray()));
        Byte(StreamTag::Null); // end of the properties
        Byte(StreamTag::Null); // end of the (absent) child objects
    }

    // The bytes written since the last piece was cut.
    QByteArray Finish()
    {
        Out.resize(P - Out.data());
        return std::move(Out);
    }

    // Cuts the last piece and hands it on.
    void FinishPieces()
    {
        QByteArray& piece = Pieces->emplace_back(Finish());
        if (Sink)
            (*Sink)(piece);
    }

    void Items(const TCollection& collection, const TTablePlan& plan, int from, int to)
    {
        for (int i = from; i < to; ++i) {
            Byte(StreamTag::List);
            Properties(*collection.ItemAt(i), plan);
            Byte(StreamTag::Null);
        }
    }

private:
    // Written through a cursor into spare room that grows by doubling; trimmed at the end.
    void Reset(qsizetype room)
    {
        const qsizetype start = Out.size();
        Out.resize(start + room);
        P = Out.data() + start;
        End = Out.data() + Out.size();
    }

    char* Room(qsizetype count)
    {
        if (End - P < count) {
            const qsizetype used = P - Out.data();
            Out.resize(qMax(2 * Out.size(), used + count + 4096));
            P = Out.data() + used;
            End = Out.data() + Out.size();
        }
        char* at = P;
        P += count;
        return at;
    }

    void Raw(const char* data, qsizetype count)
    {
        std::memcpy(Room(count), data, static_cast<size_t>(count));
    }

    void Byte(quint8 value) { *Room(1) = static_cast<char>(value); }

    void ShortString(const QByteArray& text)
    {
        const qsizetype count = qMin<qsizetype>(text.size(), 255);
        Byte(static_cast<quint8>(count));
        Raw(text.constData(), count);
    }

    void Int32(qint32 value) { qToLittleEndian<qint32>(value, Room(4)); }

    void Integer(qint64 value)
    {
        if (value >= -128 && value <= 127) {
            char* at = Room(2);
            at[0] = static_cast<char>(StreamTag::Int8);
            at[1] = static_cast<char>(static_cast<qint8>(value));
        } else if (value >= -32768 && value <= 32767) {
            char* at = Room(3);
            at[0] = static_cast<char>(StreamTag::Int16);
            qToLittleEndian<qint16>(static_cast<qint16>(value), at + 1);
        } else {
            Byte(StreamTag::Int32);
            Int32(static_cast<qint32>(value));
        }
    }

    void String(const QString& text)
    {
        const auto* units = reinterpret_cast<const char16_t*>(text.constData());
        const qsizetype count = text.size();
        // ASCII text (nearly all) is narrowed while it is tested; other text takes the room back.
        const qsizetype head = count <= 255 ? 2 : 5;
        char* const at = Room(head + count);
        char16_t seen = 0;
        for (qsizetype i = 0; i < count; ++i) {
            seen |= units[i];
            at[head + i] = static_cast<char>(units[i]);
        }
        if (seen < 0x80) {
            if (count <= 255) {
                at[0] = static_cast<char>(StreamTag::String);
                at[1] = static_cast<char>(count);
            } else {
                at[0] = static_cast<char>(StreamTag::LString);
                qToLittleEndian<qint32>(static_cast<qint32>(count), at + 1);
            }
            return;
        }
        P = at;
        const QByteArray utf8 = text.toUtf8();
        if (utf8.size() < 2 * count) {
            Byte(StreamTag::Utf8String);
            Int32(static_cast<qint32>(utf8.size()));
            Raw(utf8.constData(), utf8.size());
        } else {
            Byte(StreamTag::WString);
            Int32(static_cast<qint32>(count));
            qToLittleEndian<char16_t>(units, count, Room(2 * count));
        }
    }

    void Name(const TPlanEntry& entry)
    {
        const qsizetype size = entry.Name.size();
        if (size > TPlanEntry::ShortSize)
            return Raw(entry.Name.constData(), size);
        std::memcpy(Room(TPlanEntry::ShortSize), entry.Short, TPlanEntry::ShortSize);
        P -= TPlanEntry::ShortSize - size;
    }

    [[noreturn]] static void BadValue(const TPropInfo& prop)
    {
        throw Exception(QStringLiteral("Invalid property value: %1").arg(prop.Name));
    }

    static qint64 Ordinal(const TPropInfo& prop, const TPersistent& object)
    {
        return prop.GetOrdinal ? prop.GetOrdinal(object) : OrdinalOf(prop.Get(object));
    }

    void Properties(const TPersistent& object, const TTablePlan& plan)
    {
        for (const TPlanEntry& entry : plan.Entries) {
            const TPropInfo& prop = *entry.Prop;
            switch (prop.Kind) {
            case TPropKind::Integer:
            case TPropKind::Word: {
                const qint64 value = Ordinal(prop, object);
                // The component base's Tag is stored only when set.
                if (value == 0 && entry.IsTag)
                    break;
                Name(entry);
                Integer(value);
                break;
            }
            case TPropKind::Boolean: {
                const bool value = prop.GetFlag ? prop.GetFlag(object) : BooleanOf(prop.Get(object));
                Name(entry);
                Byte(value ? StreamTag::True : StreamTag::False);
                break;
            }
            case TPropKind::Enum: {
                const qint64 ordinal = Ordinal(prop, object);
                if (ordinal < 0 || ordinal >= static_cast<qint64>(entry.ValueNames.size()))
                    BadValue(prop);
                Name(entry);
                Byte(StreamTag::Ident);
                Raw(entry.ValueNames[ordinal].constData(), entry.ValueNames[ordinal].size());
                break;
            }
            case TPropKind::Set: {
                const qint64 members = Ordinal(prop, object);
                Name(entry);
                Byte(StreamTag::Set);
                for (size_t i = 0; i < entry.ValueNames.size() && i < 64; ++i)
                    if ((members >> i) & 1)
                        Raw(entry.ValueNames[i].constData(), entry.ValueNames[i].size());
                Byte(StreamTag::Null);
                break;
            }
            case TPropKind::DateTime: {
                const double value = prop.GetNumber ? prop.GetNumber(object) : DoubleOf(prop.Get(object));
                if (value == 0)
                    break;
                Name(entry);
                Byte(StreamTag::Extended);
                DoubleToExtended(value, reinterpret_cast<unsigned char*>(Room(10)));
                break;
            }
            case TPropKind::String: {
                if (prop.GetText) {
                    const QString& text = prop.GetText(object);
                    if (!text.isEmpty()) {
                        Name(entry);
                        String(text);
                    }
                    break;
                }
                const QVariant value = prop.Get(object);
                const QString text = Carries<QString>(value) ? *static_cast<const QString*>(value.constData())
                                                             : value.toString();
                if (text.isEmpty())
                    break;
                Name(entry);
                String(text);
                break;
            }
            case TPropKind::Object: {
                // The getters take the owner as modifiable; writing only reads through them.
                const TPersistent* child = prop.Object(const_cast<TPersistent&>(object));
                if (child)
                    Properties(*child, SubPlanOf(entry, child->Properties()));
                break;
            }
            case TPropKind::Collection: {
                const TCollection* collection = prop.Collection(const_cast<TPersistent&>(object));
                if (!collection)
                    break; // an alias has no adapters, and nothing is stored for them
                Name(entry);
                Byte(StreamTag::Collection);
                const TTablePlan& itemPlan = SubPlanOf(entry, collection->ItemProperties());
                if (SplitFrom > 0 && collection->Count() >= SplitFrom)
                    SplitItems(*collection, itemPlan);
                else
                    Items(*collection, itemPlan, 0, collection->Count());
                Byte(StreamTag::Null);
                break;
            }
            }
        }
    }

    // The items go in runs, each into a piece of its own, to this thread and a helper, each taking the
    // next run in turn: when the other core is busy, this thread simply renders more of them.
    void SplitItems(const TCollection& collection, const TTablePlan& plan)
    {
        SplitFrom = 0; // once per record
        constexpr int RunItems = 512;
        const int count = collection.Count();
        const int runCount = (count + RunItems - 1) / RunItems;
        // About what a run takes (the last record spread over the runs), so that its buffer seldom grows.
        const qsizetype guess = Out.size() / runCount + 4096;
        std::vector<QByteArray> runs(static_cast<size_t>(runCount));
        std::atomic<int> next{0};
        std::exception_ptr failure;
        // The part before the list goes first; each run follows as soon as every earlier run is done.
        FinishPieces();
        std::mutex handing;
        std::vector<char> done(static_cast<size_t>(runCount), 0);
        int handed = 0;
        const auto work = [&] {
            for (int k = next++; k < runCount; k = next++) {
                QByteArray room;
                if (k < static_cast<int>(Spares.size()))
                    room = std::move(Spares[static_cast<size_t>(k)]);
                room.resize(0);
                if (room.capacity() < guess)
                    room.reserve(guess);
                TWriter writer(std::move(room));
                writer.Items(collection, plan, k * RunItems, qMin(count, (k + 1) * RunItems));
                runs[static_cast<size_t>(k)] = writer.Finish();
                if (Sink) {
                    const std::lock_guard lock(handing);
                    done[static_cast<size_t>(k)] = 1;
                    for (; handed < runCount && done[static_cast<size_t>(handed)]; ++handed)
                        (*Sink)(runs[static_cast<size_t>(handed)]);
                }
            }
        };
        {
            std::jthread helper;
            try {
                helper = std::jthread([&] {
                    try {
                        work();
                    } catch (...) {
                        failure = std::current_exception();
                        next = runCount;
                    }
                });
            } catch (const std::system_error&) {
                // No thread to spare: this one renders every run.
            }
            try {
                work();
            } catch (...) {
                next = runCount; // the helper stops after its run; leaving waits for it
                throw;
            }
        }
        if (failure)
            std::rethrow_exception(failure);
        for (QByteArray& run : runs)
            Pieces->push_back(std::move(run));
        Out = QByteArray();
        Reset(4096);
    }

    QByteArray Out;
    std::vector<QByteArray>* Pieces;
    int SplitFrom;
    std::vector<QByteArray> Spares; // memory for the runs of a split collection
    const TPieceSink* Sink;
    char* P = nullptr;
    char* End = nullptr;
};

// ---------------------------------------------------------------------------------------------------
// Reader

// Whether two names of equal length are the same bytes: names are short, and a library call per
// comparison costs more than the comparison.
bool SameBytes(const char* a, const char* b, size_t count)
{
    auto word = [](const char* at) {
        quint64 value;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    if (count >= 8) {
        for (size_t i = 0; i + 8 <= count; i += 8)
            if (word(a + i) != word(b + i))
                return false;
        return word(a + count - 8) == word(b + count - 8);
    }
    for (size_t i = 0; i < count; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && SameBytes(a.data(), b.data(), a.size());
}

class TReader
{
public:
    TReader(const char* data, qsizetype size, const TItemRead& itemRead)
        : P(reinterpret_cast<const uchar*>(data)), End(reinterpret_cast<const uchar*>(data) + size),
          ItemRead(itemRead)
    {
    }

    std::unique_ptr<TGroup> Root()
    {
        Need(4);
        if (std::memcmp(P, "TPF0", 4) != 0)
            throw EReadError(QStringLiteral("Invalid stream format"));
        P += 4;
        const std::string_view className = ShortString();
        if (className != "TGroup")
            throw EReadError(QStringLiteral("Class %1 not found").arg(Latin1(className)));
        auto group = std::make_unique<TGroup>();
        group->Name = Latin1(ShortString());
        Properties(*group);
        if (Byte() != StreamTag::Null)
            throw EReadError(QStringLiteral("Invalid stream format")); // no child objects are stored
        // Whatever follows is left over from an earlier, longer record.
        return group;
    }

private:
    static QString Latin1(std::string_view text)
    {
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    }

    [[noreturn]] void Fail(const QString& message) const
    {
        if (!ContextObject)
            throw EReadError(message);
        const QString where = ContextObject->ClassName() + QLatin1Char('.') + Latin1(ContextName);
        throw EReadError(QStringLiteral("Error reading %1: %2").arg(where, message));
    }
    [[noreturn]] void ReadFail() const { Fail(QStringLiteral("Stream read error")); }
    [[noreturn]] void InvalidValue() const { Fail(QStringLiteral("Invalid property value")); }

    void Need(quint64 count) const
    {
        if (static_cast<quint64>(End - P) < count)
            ReadFail();
    }

    quint8 Byte()
    {
        Need(1);
        return *P++;
    }

    std::string_view Bytes(quint64 count)
    {
        Need(count);
        const std::string_view result(reinterpret_cast<const char*>(P), static_cast<size_t>(count));
        P += count;
        return result;
    }

    std::string_view ShortString() { return Bytes(Byte()); }

    quint32 UInt32()
    {
        Need(4);
        const quint32 value = qFromLittleEndian<quint32>(P);
        P += 4;
        return value;
    }

    qint64 Integer(quint8 tag)
    {
        switch (tag) {
        case StreamTag::Int8:
            return static_cast<qint8>(Byte());
        case StreamTag::Int16: {
            Need(2);
            const qint16 value = qFromLittleEndian<qint16>(P);
            P += 2;
            return value;
        }
        case StreamTag::Int32:
            return static_cast<qint32>(UInt32());
        default:
            InvalidValue();
        }
    }

    QString String(quint8 tag)
    {
        switch (tag) {
        case StreamTag::String:
            return Latin1(ShortString());
        case StreamTag::LString:
            return Latin1(Bytes(UInt32()));
        case StreamTag::Utf8String: {
            const std::string_view bytes = Bytes(UInt32());
            return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        }
        case StreamTag::WString: {
            const quint64 count = UInt32();
            Need(2 * count);
            QString text(static_cast<qsizetype>(count), Qt::Uninitialized);
            qFromLittleEndian<char16_t>(P, static_cast<qsizetype>(count), text.data());
            P += 2 * count;
            return text;
        }
        default:
            InvalidValue();
        }
    }

    static int IndexOfName(const QStringList& names, std::string_view name)
    {
        for (qsizetype i = 0; i < names.size(); ++i)
            if (names.at(i).compare(QLatin1String(name.data(), static_cast<qsizetype>(name.size())),
                                    Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        return -1;
    }

    const TTablePlan& Plan(const TPropTable& table)
    {
        for (const auto& [known, plan] : Plans)
            if (known == &table)
                return *plan;
        const TTablePlan& plan = PlanFor(table, QByteArray());
        Plans.emplace_back(&table, &plan);
        return plan;
    }

    // The stored names of a table's properties in the order the writer stores them, dotted names of its
    // objects' properties included: the next name read is nearly always one of the next few.
    struct TStep
    {
        std::string_view Name; // as stored: prefix, then the property's own name
        const TPlanEntry* Entry;
        const TPropInfo* Via = nullptr;       // the Object property that leads to the property's owner
        const TPropTable* ViaTable = nullptr; // that owner's table, checked at every use
    };
    struct TOrder
    {
        const TPropTable* Table;
        std::vector<TStep> Steps;
    };

    static std::string_view Stored(const TPlanEntry& entry)
    {
        return std::string_view(entry.Name.constData() + 1, static_cast<size_t>(entry.Name.size() - 1));
    }

    // A step only where the exact name leads to its property by the general way too.
    static bool Reaches(const TTablePlan& plan, const TPlanEntry& entry, qsizetype prefix)
    {
        const std::string_view name = Stored(entry).substr(static_cast<size_t>(prefix));
        const auto found = plan.ByName.find(name);
        return entry.Name.size() == 1 + prefix + entry.Prop->Name.size() && name.find('.') == name.npos &&
               found != plan.ByName.end() && found->second == entry.Prop;
    }

    const TOrder& Order(TPersistent& object)
    {
        const TPropTable& table = object.Properties();
        if (LastOrder && LastOrder->Table == &table)
            return *LastOrder;
        for (const auto& order : Orders)
            if (order->Table == &table)
                return *(LastOrder = order.get());
        auto order = std::make_unique<TOrder>();
        order->Table = &table;
        const TTablePlan& plan = Plan(table);
        for (const TPlanEntry& entry : plan.Entries) {
            if (!Reaches(plan, entry, 0))
                continue;
            if (entry.Prop->Kind != TPropKind::Object) {
                order->Steps.push_back({Stored(entry), &entry});
                continue;
            }
            const TPersistent* child = entry.Prop->Object ? entry.Prop->Object(object) : nullptr;
            if (!child)
                continue;
            const TTablePlan& sub = SubPlanOf(entry, child->Properties());
            for (const TPlanEntry& inner : sub.Entries)
                if (inner.Prop->Kind != TPropKind::Object && Reaches(sub, inner, entry.SubPrefix.size()))
                    order->Steps.push_back({Stored(inner), &inner, entry.Prop, &child->Properties()});
        }
        Orders.push_back(std::move(order));
        return *(LastOrder = Orders.back().get());
    }

    const TPropInfo* Find(const TPropTable& table, std::string_view name)
    {
        const TTablePlan& plan = Plan(table);
        const auto found = plan.ByName.find(name);
        if (found != plan.ByName.end())
            return found->second;
        return table.Find(Latin1(name)); // names compare without regard to case
    }

    void Properties(TPersistent& object)
    {
        const TPersistent* savedObject = ContextObject;
        const std::string_view savedName = ContextName;
        const TOrder& order = Order(object);
        size_t next = 0;
        for (;;) {
            const quint8 length = Byte();
            if (length == 0)
                break;
            const std::string_view name = Bytes(length);
            ContextObject = &object;
            ContextName = name;
            const TStep* step = nullptr;
            for (size_t i = next; i < order.Steps.size(); ++i) {
                if (SameName(order.Steps[i].Name, name)) {
                    step = &order.Steps[i];
                    next = i + 1;
                    break;
                }
            }
            TPersistent* target = &object;
            if (step && step->Via) {
                target = step->Via->Object(object);
                if (!target || &target->Properties() != step->ViaTable)
                    step = nullptr;
            }
            if (step)
                Value(*target, *step->Entry->Prop, step->Entry);
            else
                Property(object, name); // out of order, another case, or an unknown name
            ContextObject = savedObject;
            ContextName = savedName;
            // A collection's items have read their own orders meanwhile.
            LastOrder = &order;
        }
    }

    void Property(TPersistent& object, std::string_view path)
    {
        // A dotted name reaches the property through the named object properties.
        TPersistent* target = &object;
        std::string_view name = path;
        for (size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.')) {
            const TPropInfo* via = Find(target->Properties(), name.substr(0, dot));
            if (!via)
                Fail(QStringLiteral("Property %1 does not exist").arg(Latin1(name.substr(0, dot))));
            if (via->Kind != TPropKind::Object || !via->Object)
                Fail(QStringLiteral("Invalid property path"));
            target = via->Object(*target);
            if (!target)
                Fail(QStringLiteral("Invalid property path"));
            name = name.substr(dot + 1);
        }
        const TPropInfo* prop = Find(target->Properties(), name);
        if (!prop)
            Fail(QStringLiteral("Property %1 does not exist").arg(Latin1(name)));
        Value(*target, *prop, nullptr);
    }

    static void SetOrdinal(TPersistent& object, const TPropInfo& prop, qint64 value)
    {
        if (prop.SetOrdinal)
            prop.SetOrdinal(object, value);
        else
            prop.Set(object, QVariant::fromValue<qint64>(value));
    }

    // The ordinal of a value name: the exact name as the writer stores it, else any case of it.
    static int Ordinal(const TPropInfo& prop, const TPlanEntry* entry, std::string_view name)
    {
        if (entry) {
            for (size_t i = 0; i < entry->ValueNames.size(); ++i) {
                const QByteArray& known = entry->ValueNames[i];
                if (SameName(std::string_view(known.constData() + 1, static_cast<size_t>(known.size() - 1)),
                             name))
                    return static_cast<int>(i);
            }
        }
        return IndexOfName(*prop.Names, name);
    }

    void Value(TPersistent& object, const TPropInfo& prop, const TPlanEntry* entry)
    {
        const quint8 tag = Byte();
        switch (prop.Kind) {
        case TPropKind::Integer:
            SetOrdinal(object, prop, Integer(tag));
            break;
        case TPropKind::Word: {
            const qint64 value = Integer(tag);
            if (value < 0 || value > 0xFFFF)
                InvalidValue();
            SetOrdinal(object, prop, value);
            break;
        }
        case TPropKind::Boolean:
            if (tag != StreamTag::False && tag != StreamTag::True)
                InvalidValue();
            if (prop.SetFlag)
                prop.SetFlag(object, tag == StreamTag::True);
            else
                prop.Set(object, QVariant(tag == StreamTag::True));
            break;
        case TPropKind::Enum: {
            if (tag != StreamTag::Ident || !prop.Names)
                InvalidValue();
            const int ordinal = Ordinal(prop, entry, ShortString());
            if (ordinal < 0)
                InvalidValue();
            SetOrdinal(object, prop, ordinal);
            break;
        }
        case TPropKind::Set: {
            if (tag != StreamTag::Set || !prop.Names)
                InvalidValue();
            qint64 members = 0;
            for (;;) {
                const std::string_view member = ShortString();
                if (member.empty())
                    break;
                const int ordinal = Ordinal(prop, entry, member);
                if (ordinal < 0 || ordinal >= 64)
                    InvalidValue();
                members |= qint64(1) << ordinal;
            }
            SetOrdinal(object, prop, members);
            break;
        }
        case TPropKind::DateTime: {
            if (tag != StreamTag::Extended)
                InvalidValue();
            const std::string_view bytes = Bytes(10);
            const double value = ExtendedToDouble(reinterpret_cast<const unsigned char*>(bytes.data()));
            if (!std::isfinite(value))
                InvalidValue(); // no date is infinite or NaN
            if (prop.SetNumber)
                prop.SetNumber(object, value);
            else
                prop.Set(object, QVariant(value));
            break;
        }
        case TPropKind::String:
            if (prop.SetText)
                prop.SetText(object, String(tag));
            else
                prop.Set(object, QVariant(String(tag)));
            break;
        case TPropKind::Object:
            InvalidValue(); // an object's properties are stored under dotted names, never as a value
        case TPropKind::Collection: {
            if (tag != StreamTag::Collection || !prop.Collection)
                InvalidValue();
            TCollection* collection = prop.Collection(object);
            if (!collection)
                InvalidValue(); // an alias has no adapters to read into
            collection->Clear();
            for (;;) {
                const quint8 marker = Byte();
                if (marker == StreamTag::Null)
                    break;
                if (marker != StreamTag::List)
                    InvalidValue();
                TCollectionItem* item = collection->AddItem();
                Properties(*item);
                collection->ItemRead(item);
                if (ItemRead)
                    ItemRead(*item);
            }
            break;
        }
        }
    }

    const uchar* P;
    const uchar* End;
    const TItemRead& ItemRead;
    // The property being read, for the messages: its object and its name as stored.
    const TPersistent* ContextObject = nullptr;
    std::string_view ContextName;
    std::vector<std::pair<const TPropTable*, const TTablePlan*>> Plans;
    std::vector<std::unique_ptr<TOrder>> Orders;
    const TOrder* LastOrder = nullptr;
};

} // namespace

void WriteComponent(const TPersistent& root, QByteArray& out)
{
    TWriter writer(std::move(out));
    writer.Root(root);
    out = writer.Finish();
}

std::vector<QByteArray> WriteComponentPieces(const TPersistent& root, qsizetype sizeHint, int splitFrom,
                                             std::vector<QByteArray> spare, const TPieceSink& sink)
{
    std::vector<QByteArray> pieces;
    QByteArray out;
    if (!spare.empty()) {
        out = std::move(spare.front());
        spare.erase(spare.begin()); // the rest: the last record's runs
    }
    out.resize(0);
    if (out.capacity() < sizeHint)
        out.reserve(qMax<qsizetype>(sizeHint, 4096));
    TWriter writer(std::move(out), &pieces, splitFrom, std::move(spare), &sink);
    writer.Root(root);
    writer.FinishPieces();
    return pieces;
}

QByteArray WriteComponent(const TPersistent& root)
{
    QByteArray out;
    out.reserve(4096);
    WriteComponent(root, out);
    return out;
}

std::unique_ptr<TGroup> ReadGroup(const char* data, qsizetype size, const TItemRead& itemRead)
{
    if (!data || size < 0)
        size = 0;
    const TNowBatch batch; // every computer's default dates come from one reading of the clock
    return TReader(data, size, itemRead).Root();
}
