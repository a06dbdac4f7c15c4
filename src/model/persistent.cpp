#include "model/persistent.h"

#include "core/exceptions.h"

TPropTable::TPropTable(std::vector<TPropInfo> props) : FProps(std::move(props))
{
}

const TPropInfo* TPropTable::Find(QStringView name) const
{
    for (const auto& prop : FProps)
        if (prop.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &prop;
    return nullptr;
}

void TPersistent::Assign(const TPersistent& source)
{
    AssignError(&source);
}

void TPersistent::AssignError(const TPersistent* source) const
{
    const QString sourceName = source ? source->ClassName() : QStringLiteral("nil");
    throw EConvertError(QStringLiteral("Cannot assign a %1 to a %2").arg(sourceName, ClassName()));
}

TCollection::~TCollection()
{
    // Items are destroyed last to first, as their owner releases them.
    while (!FItems.empty())
        FItems.pop_back();
}

int TCollection::IndexOf(const TCollectionItem* item) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == item)
            return static_cast<int>(i);
    return -1;
}

void TCollection::Clear()
{
    ++FLayout;
    while (!FItems.empty())
        FItems.pop_back();
}

void TCollection::RemoveAt(int index)
{
    ++FLayout;
    FItems.erase(FItems.begin() + index);
}

int TCollection::RemoveItems(const std::unordered_set<const TCollectionItem*>& items)
{
    std::vector<std::unique_ptr<TCollectionItem>> kept;
    std::vector<std::unique_ptr<TCollectionItem>> gone;
    kept.reserve(FItems.size());
    ++FLayout;
    for (auto& item : FItems)
        (items.count(item.get()) ? gone : kept).push_back(std::move(item));
    // The collection is whole again before any item is destroyed: a destructor may look at it.
    FItems = std::move(kept);
    const int count = static_cast<int>(gone.size());
    for (auto& item : gone)
        item.reset();
    return count;
}

void TCollection::Assign(const TPersistent& source)
{
    auto* other = dynamic_cast<const TCollection*>(&source);
    if (!other || other->ClassName() != ClassName())
        AssignError(&source);
    Clear();
    for (int i = 0; i < other->Count(); ++i)
        AddItem()->Assign(*other->ItemAt(i));
}

TCollectionItem::TCollectionItem(TCollection* collection) : FCollection(collection)
{
    if (FCollection)
        FCollection->InsertItem(this);
}
