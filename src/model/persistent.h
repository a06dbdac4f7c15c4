#pragma once

#include "core/events.h"

#include <functional>
#include <memory>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

class TPersistent;
class TCollection;

// Kinds of published properties, as the component stream knows them.
enum class TPropKind
{
    Integer, // 32-bit signed
    Word,    // unsigned 16-bit
    Boolean,
    Enum,     // value names in TPropInfo::Names, by ordinal
    Set,      // one-byte set; member names in TPropInfo::Names, bit n = ordinal n
    DateTime, // TDateTime
    String,
    Object,     // an owned plain object whose properties are stored with a "Name." prefix
    Collection, // an owned collection of items
};

// One published property: its name, its kind, and how to read and write it on an instance.
// Get and Set carry: Integer/Word/Enum(ordinal)/Set(bit mask) as qint64, Boolean as bool,
// DateTime as double, String as QString.
struct TPropInfo
{
    QString Name;
    TPropKind Kind;
    const QStringList* Names = nullptr;
    std::function<QVariant(const TPersistent&)> Get;
    std::function<void(TPersistent&, const QVariant&)> Set;
    std::function<TPersistent*(TPersistent&)> Object;     // Object kind
    std::function<TCollection*(TPersistent&)> Collection; // Collection kind; may give null
    // Get and Set again, typed: the stream moves many thousands of values per save, and a QVariant for
    // each costs as much as the rest of the work. Set by FieldProp and AccessorProp for the kind's
    // carrier; GetText only where the value is held, so a reference to it outlives the call.
    std::function<qint64(const TPersistent&)> GetOrdinal;
    std::function<void(TPersistent&, qint64)> SetOrdinal;
    std::function<bool(const TPersistent&)> GetFlag;
    std::function<void(TPersistent&, bool)> SetFlag;
    std::function<double(const TPersistent&)> GetNumber;
    std::function<void(TPersistent&, double)> SetNumber;
    std::function<const QString&(const TPersistent&)> GetText;
    std::function<void(TPersistent&, QString&&)> SetText;
};

// The published properties of one class, in declaration order (which is the stored order).
class TPropTable
{
public:
    explicit TPropTable(std::vector<TPropInfo> props);
    const std::vector<TPropInfo>& Props() const { return FProps; }
    const TPropInfo* Find(QStringView name) const;

private:
    std::vector<TPropInfo> FProps;
};

namespace PropValue {
// The carrier of each kind in TPropInfo::Get/Set (see above).
template <class V> QVariant Box(TPropKind kind, const V& value)
{
    if constexpr (std::is_same_v<V, QString>)
        return QVariant(value);
    else if constexpr (std::is_same_v<V, bool>)
        return QVariant(value);
    else if constexpr (std::is_floating_point_v<V>)
        return QVariant(static_cast<double>(value));
    else {
        Q_UNUSED(kind);
        return QVariant::fromValue<qint64>(static_cast<qint64>(value));
    }
}

template <class V> V Unbox(const QVariant& value)
{
    if constexpr (std::is_same_v<V, QString>)
        return value.toString();
    else if constexpr (std::is_same_v<V, bool>)
        return value.toBool();
    else if constexpr (std::is_floating_point_v<V>)
        return static_cast<V>(value.toDouble());
    else
        return static_cast<V>(value.toLongLong());
}
} // namespace PropValue

// Fills the typed accessors of info for values of type V: get(const T&) gives V (or a reference to a
// held V when ByReference), set(T&, V&&) stores one.
template <class T, class V, bool ByReference, class Get, class Put>
void SetTyped(TPropInfo& info, Get get, Put set)
{
    if constexpr (std::is_same_v<V, QString>) {
        if constexpr (ByReference)
            info.GetText = [=](const TPersistent& p) -> const QString& {
                return get(static_cast<const T&>(p));
            };
        info.SetText = [=](TPersistent& p, QString&& v) { set(static_cast<T&>(p), std::move(v)); };
    } else if constexpr (std::is_same_v<V, bool>) {
        info.GetFlag = [=](const TPersistent& p) { return bool(get(static_cast<const T&>(p))); };
        info.SetFlag = [=](TPersistent& p, bool v) { set(static_cast<T&>(p), std::move(v)); };
    } else if constexpr (std::is_floating_point_v<V>) {
        info.GetNumber = [=](const TPersistent& p) {
            return static_cast<double>(get(static_cast<const T&>(p)));
        };
        info.SetNumber = [=](TPersistent& p, double v) { set(static_cast<T&>(p), static_cast<V>(v)); };
    } else {
        info.GetOrdinal = [=](const TPersistent& p) {
            return static_cast<qint64>(get(static_cast<const T&>(p)));
        };
        info.SetOrdinal = [=](TPersistent& p, qint64 v) { set(static_cast<T&>(p), static_cast<V>(v)); };
    }
}

// A property stored in a public field of T.
template <class T, class V>
TPropInfo FieldProp(const char* name, TPropKind kind, V T::*field, const QStringList* names = nullptr)
{
    TPropInfo info{
        QString::fromLatin1(name), kind, names,
        [=](const TPersistent& p) { return PropValue::Box(kind, static_cast<const T&>(p).*field); },
        [=](TPersistent& p, const QVariant& v) { static_cast<T&>(p).*field = PropValue::Unbox<V>(v); }};
    SetTyped<T, V, true>(
        info, [=](const T& t) -> const V& { return t.*field; },
        [=](T& t, V&& v) { t.*field = std::move(v); });
    return info;
}

// A property read and written through accessors of T (the setter may normalise).
template <class T, class V, class Getter>
TPropInfo AccessorProp(const char* name, TPropKind kind, Getter get, void (T::*set)(V),
                       const QStringList* names = nullptr)
{
    using Plain = std::remove_cvref_t<V>;
    TPropInfo info{
        QString::fromLatin1(name), kind, names,
        [=](const TPersistent& p) { return PropValue::Box(kind, Plain((static_cast<const T&>(p).*get)())); },
        [=](TPersistent& p, const QVariant& v) { (static_cast<T&>(p).*set)(PropValue::Unbox<Plain>(v)); }};
    using Result = decltype((std::declval<const T&>().*get)());
    SetTyped<T, Plain, std::is_lvalue_reference_v<Result>>(
        info, [=](const T& t) -> Result { return (t.*get)(); }, [=](T& t, Plain&& v) { (t.*set)(v); });
    return info;
}

// An owned plain object (stored with a "Name." prefix) or an owned collection.
template <class T> TPropInfo ObjectProp(const char* name, TPersistent* (*object)(T&))
{
    TPropInfo info{QString::fromLatin1(name), TPropKind::Object};
    info.Object = [=](TPersistent& p) { return object(static_cast<T&>(p)); };
    return info;
}

template <class T> TPropInfo CollectionProp(const char* name, TCollection* (*collection)(T&))
{
    TPropInfo info{QString::fromLatin1(name), TPropKind::Collection};
    info.Collection = [=](TPersistent& p) { return collection(static_cast<T&>(p)); };
    return info;
}

// An object that can be assigned from another of its class and streamed through its property table.
class TPersistent : public TObject
{
public:
    virtual QString ClassName() const = 0;
    virtual const TPropTable& Properties() const = 0;
    // Copies from a source of the same class; the base raises the assignment error.
    virtual void Assign(const TPersistent& source);

protected:
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

class TCollectionItem;

// An owned, ordered collection of items.
class TCollection : public TPersistent
{
public:
    explicit TCollection(TPersistent* owner) : FOwner(owner) {}
    ~TCollection() override;
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;

    TPersistent* Owner() const { return FOwner; }
    int Count() const { return static_cast<int>(FItems.size()); }
    TCollectionItem* ItemAt(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
    int IndexOf(const TCollectionItem* item) const;

    // Appends a new item with its constructor defaults, without any notification (the reader's and the
    // generic copy's way of adding).
    virtual TCollectionItem* AddItem() = 0;
    // Destroys every item.
    virtual void Clear();
    // The generic copy: clear, then add one item per source item and assign it.
    void Assign(const TPersistent& source) override;
    // The property table of the collection's items.
    virtual const TPropTable& ItemProperties() const = 0;
    // Called by the stream reader once an item added with AddItem has all its stored properties.
    virtual void ItemRead(TCollectionItem* item) { Q_UNUSED(item); }
    // Changes whenever an item joins or leaves: a copy taken in parts can tell that indexes moved.
    quint64 Layout() const { return FLayout; }

protected:
    void RemoveAt(int index);
    // Destroys the items of the set in one pass over the collection; the others keep their order.
    // Returns how many went.
    int RemoveItems(const std::unordered_set<const TCollectionItem*>& items);

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* item)
    {
        FItems.emplace_back(item);
        ++FLayout;
    }

    TPersistent* FOwner;
    std::vector<std::unique_ptr<TCollectionItem>> FItems;
    quint64 FLayout = 0;
};

class TCollectionItem : public TPersistent
{
public:
    // Joins the collection (appended and counted) before anything else happens.
    explicit TCollectionItem(TCollection* collection);
    TCollection* Collection() const { return FCollection; }
    int Index() const { return FCollection ? FCollection->IndexOf(this) : -1; }

private:
    TCollection* FCollection;
};
