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
    while (!FItems.empty())
        FItems.pop_back();
}

void TCollection::RemoveAt(int index)
{
    FItems.erase(FItems.begin() + index);
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
