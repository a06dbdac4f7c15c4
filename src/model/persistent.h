#pragma once

#include "core/tobject.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

class TPersistent;
class TCollection;

// Kinds of published properties, as the component stream knows them.
enum class TPropKind {
    Integer,    // 32-bit signed
    Word,       // unsigned 16-bit
    Boolean,
    Enum,       // value names in TPropInfo::Names, by ordinal
    Set,        // one-byte set; member names in TPropInfo::Names, bit n = ordinal n
    DateTime,   // TDateTime
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
    std::function<TPersistent*(TPersistent&)> Object;      // Object kind
    std::function<TCollection*(TPersistent&)> Collection;  // Collection kind; may give null
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

protected:
    void RemoveAt(int index);

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* item) { FItems.emplace_back(item); }

    TPersistent* FOwner;
    std::vector<std::unique_ptr<TCollectionItem>> FItems;
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
