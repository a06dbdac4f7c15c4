#include "model/computers.h"

#include "core/worker.h"
#include "timing/threadTimer.h"

#include <QUuid>
#include <typeinfo>

namespace {

constexpr int ScheduleClockDelay = 30000;
const QString DefaultSubNet = QStringLiteral("255.255.255.0");

// ItemIDs compare without regard to the case of ASCII letters only.
QString IDKey(const QString& id)
{
    QString key = id;
    for (QChar& ch : key)
        if (ch >= QLatin1Char('a') && ch <= QLatin1Char('z'))
            ch = QChar(ch.unicode() - 'a' + 'A');
    return key;
}

template <class T>
QVariant Ord(T value)
{
    return QVariant::fromValue<qint64>(static_cast<qint64>(value));
}

std::unique_ptr<TThreadTimer> MakeScheduleClock(std::function<void()> tick)
{
    auto timer = std::make_unique<TThreadTimer>();
    timer->SetDelay(ScheduleClockDelay);
    timer->SetOnTimer(TNotifyEvent(timer.get(), [tick = std::move(tick)](TObject*) { tick(); }));
    return timer;
}

} // namespace

const QStringList& DataTypeNames()
{
    static const QStringList names{"dtNormal", "dtAlias"};
    return names;
}

const QStringList& SendOptionsNames()
{
    static const QStringList names{"soLAN", "soInternet"};
    return names;
}

QString NewItemID()
{
    const QUuid id = QUuid::createUuid();
    if (id.isNull())
        return QString();
    return id.toString(QUuid::WithBraces).toUpper();
}

// ---------------------------------------------------------------------------------------------------
// TMACAddress

TMACAddress::TMACAddress(TMACAddresses* collection) : TCollectionItem(collection) {}

void TMACAddress::Assign(const TPersistent& source)
{
    auto* other = dynamic_cast<const TMACAddress*>(&source);
    if (!other)
        AssignError(&source);
    Address = other->Address;
    UseForWake = other->UseForWake;
}

const TPropTable& TMACAddress::Properties() const
{
    return PropertyTable();
}

const TPropTable& TMACAddress::PropertyTable()
{
    using M = TMACAddress;
    auto self = [](const TPersistent& p) -> const M& { return static_cast<const M&>(p); };
    auto mut = [](TPersistent& p) -> M& { return static_cast<M&>(p); };
    static const TPropTable table({
        {"Address", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Address); },
         [=](auto& p, auto& v) { mut(p).Address = v.toString(); }},
        {"IPAddress", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).IPAddress); },
         [=](auto& p, auto& v) { mut(p).IPAddress = v.toString(); }},
        {"AdapterIndex", TPropKind::Integer, nullptr, [=](auto& p) { return Ord(self(p).AdapterIndex); },
         [=](auto& p, auto& v) { mut(p).AdapterIndex = static_cast<qint32>(v.toLongLong()); }},
        {"Descr", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Descr); },
         [=](auto& p, auto& v) { mut(p).Descr = v.toString(); }},
        {"Name", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Name); },
         [=](auto& p, auto& v) { mut(p).Name = v.toString(); }},
        {"Subnet", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Subnet); },
         [=](auto& p, auto& v) { mut(p).Subnet = v.toString(); }},
        {"UseForWake", TPropKind::Boolean, nullptr, [=](auto& p) { return QVariant(self(p).UseForWake); },
         [=](auto& p, auto& v) { mut(p).UseForWake = v.toBool(); }},
    });
    return table;
}

// ---------------------------------------------------------------------------------------------------
// TMACAddresses

TMACAddresses::TMACAddresses(TComputer* owner) : TCollection(owner) {}

void TMACAddresses::Assign(const TPersistent& source)
{
    auto* other = dynamic_cast<const TMACAddresses*>(&source);
    if (!other)
        AssignError(&source);
    Clear();
    for (int i = 0; i < other->Count(); ++i)
        Add()->Assign(*other->Items(i));
}

const TPropTable& TMACAddresses::Properties() const
{
    static const TPropTable table({});
    return table;
}

// ---------------------------------------------------------------------------------------------------
// TComputer

TComputer::TComputer(TComputers* collection) : TCollectionItem(collection)
{
    if (collection)
        collection->InvalidateIndex();
    FMACAddresses = std::make_unique<TMACAddresses>(this);
    FDataType = dtNormal;
    FItemID = NewItemID();
    SubNet = DefaultSubNet;
    LocalSubnet = false;
    SendOptions = soLAN;
    Port = 1000;
    PingSequence = 0;
    // The schedule was made with its defaults as a member; its clock follows it.
    FScheduleTimer = MakeScheduleClock([this] { CheckSchedule(); });
}

TComputer::~TComputer()
{
    DetachRunningCheck();
    FMACAddresses.reset();
    if (FScheduleTimer)
        FScheduleTimer->SetActive(false);
    FScheduleTimer.reset();
}

void TComputer::DetachRunningCheck()
{
    if (FRunningCheck) {
        FRunningCheck->Detach();
        FRunningCheck->AskToStop();
        FRunningCheck = nullptr;
    }
}

TComputers* TComputer::Computers() const
{
    return static_cast<TComputers*>(Collection());
}

void TComputer::SetItemID(const QString& value)
{
    FItemID = value;
    if (auto* computers = Computers())
        computers->InvalidateIndex();
}

void TComputer::SetName(const QString& value)
{
    if (value == FName)
        return;
    FName = value;
    const int pos = FName.indexOf(QStringLiteral("\\\\"));
    if (pos >= 0)
        FName.remove(0, pos + 2);
}

void TComputer::SetDataType(TDataType value)
{
    if (value == FDataType)
        return;
    FDataType = value;
    if (value == dtAlias) {
        FMACAddresses.reset();
    } else {
        RefID.clear();
        if (!FMACAddresses)
            FMACAddresses = std::make_unique<TMACAddresses>(this);
    }
}

void TComputer::Assign(const TPersistent& source)
{
    auto* other = dynamic_cast<const TComputer*>(&source);
    if (!other)
        AssignError(&source);
    SetItemID(other->FItemID);
    RefID = other->RefID;
    FName = other->FName; // directly: no normalisation
    Descr = other->Descr;
    Comments = other->Comments;
    IPAddress = other->IPAddress;
    if (FMACAddresses && other->FMACAddresses)
        FMACAddresses->Assign(*other->FMACAddresses);
    else if (FMACAddresses)
        FMACAddresses->Clear();
    LastPingDate = other->LastPingDate;
    LastPingReply = other->LastPingReply;
    Port = other->Port;
    SendOptions = other->SendOptions;
    SubNet = other->SubNet;
    LocalSubnet = other->LocalSubnet;
    Online = other->Online;
    FSchedule.Assign(other->FSchedule);
}

void TComputer::NotifyUpdate()
{
    if (auto* computers = Computers())
        computers->NotifyUpdate();
}

void TComputer::ActivateSchedule(bool active)
{
    if (FScheduleTimer)
        FScheduleTimer->SetActive(active);
}

void TComputer::CheckSchedule()
{
    const TDateTime now = ::Now();
    if (!FSchedule.UseSchedule)
        return;
    if (ScheduleIsDue(FSchedule, now) && OnSchedule.Assigned())
        FireSchedule();
}

void TComputer::FireSchedule()
{
    if (!OnSchedule.Assigned() || !FMACAddresses)
        return;
    for (int i = 0; i < FMACAddresses->Count(); ++i) {
        // The receiver or the save may change the adapters; stop at the current end.
        if (i >= FMACAddresses->Count())
            break;
        TMACAddress* adapter = FMACAddresses->Items(i);
        if (!adapter->UseForWake)
            continue;
        OnSchedule(this, adapter->Address, IPAddress, SubNet);
        FSchedule.LastDate = ::Now();
        NotifyUpdate();
        if (!FMACAddresses)
            break;
    }
}

const TPropTable& TComputer::Properties() const
{
    return PropertyTable();
}

const TPropTable& TComputer::PropertyTable()
{
    using C = TComputer;
    auto self = [](const TPersistent& p) -> const C& { return static_cast<const C&>(p); };
    auto mut = [](TPersistent& p) -> C& { return static_cast<C&>(p); };
    static const TPropTable table({
        {"ItemID", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).ItemID()); },
         [=](auto& p, auto& v) { mut(p).SetItemID(v.toString()); }},
        {"RefID", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).RefID); },
         [=](auto& p, auto& v) { mut(p).RefID = v.toString(); }},
        {"Name", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Name()); },
         [=](auto& p, auto& v) { mut(p).SetName(v.toString()); }},
        {"Comments", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Comments); },
         [=](auto& p, auto& v) { mut(p).Comments = v.toString(); }},
        {"Descr", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Descr); },
         [=](auto& p, auto& v) { mut(p).Descr = v.toString(); }},
        {"IPAddress", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).IPAddress); },
         [=](auto& p, auto& v) { mut(p).IPAddress = v.toString(); }},
        {"MACAddresses", TPropKind::Collection, nullptr, nullptr, nullptr, nullptr,
         [](TPersistent& p) -> TCollection* { return static_cast<C&>(p).MACAddresses(); }},
        {"SubNet", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).SubNet); },
         [=](auto& p, auto& v) { mut(p).SubNet = v.toString(); }},
        {"LocalSubnet", TPropKind::Boolean, nullptr, [=](auto& p) { return QVariant(self(p).LocalSubnet); },
         [=](auto& p, auto& v) { mut(p).LocalSubnet = v.toBool(); }},
        {"Port", TPropKind::Integer, nullptr, [=](auto& p) { return Ord(self(p).Port); },
         [=](auto& p, auto& v) { mut(p).Port = static_cast<qint32>(v.toLongLong()); }},
        {"Online", TPropKind::Boolean, nullptr, [=](auto& p) { return QVariant(self(p).Online); },
         [=](auto& p, auto& v) { mut(p).Online = v.toBool(); }},
        {"LastPingDate", TPropKind::DateTime, nullptr, [=](auto& p) { return QVariant(self(p).LastPingDate); },
         [=](auto& p, auto& v) { mut(p).LastPingDate = v.toDouble(); }},
        {"LastPingReply", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).LastPingReply); },
         [=](auto& p, auto& v) { mut(p).LastPingReply = v.toString(); }},
        {"DataType", TPropKind::Enum, &DataTypeNames(), [=](auto& p) { return Ord(self(p).DataType()); },
         [=](auto& p, auto& v) { mut(p).SetDataType(static_cast<TDataType>(v.toLongLong())); }},
        {"SendOptions", TPropKind::Enum, &SendOptionsNames(), [=](auto& p) { return Ord(self(p).SendOptions); },
         [=](auto& p, auto& v) { mut(p).SendOptions = static_cast<TSendOptions>(v.toLongLong()); }},
        {"Schedule", TPropKind::Object, nullptr, nullptr, nullptr,
         [](TPersistent& p) -> TPersistent* { return &static_cast<C&>(p).Schedule(); }},
    });
    return table;
}

// ---------------------------------------------------------------------------------------------------
// TComputers

TComputers::TComputers(TGroup* owner) : TCollection(owner) {}

TComputer* TComputers::Add()
{
    auto* computer = new TComputer(this);
    NotifyUpdate();
    return computer;
}

TCollectionItem* TComputers::AddItem()
{
    return new TComputer(this);
}

void TComputers::Delete(int index)
{
    RemoveAt(index);
    InvalidateIndex();
    NotifyUpdate();
}

void TComputers::Clear()
{
    TCollection::Clear();
    InvalidateIndex();
}

void TComputers::NotifyUpdate()
{
    TPersistent* owner = Owner();
    if (!owner || typeid(*owner) != typeid(TGroup))
        return;
    auto* group = static_cast<TGroup*>(owner);
    if (group->OnUpdate.Assigned())
        group->OnUpdate(group);
}

TComputer* TComputers::Find(const QString& id) const
{
    if (!FIndexValid) {
        FIndex.clear();
        FIndex.reserve(Count());
        // Last to first, so the first of several equal identifiers wins.
        for (int i = Count() - 1; i >= 0; --i)
            FIndex.insert(IDKey(Items(i)->ItemID()), Items(i));
        FIndexValid = true;
    }
    if (id.isEmpty())
        return nullptr;
    return FIndex.value(IDKey(id), nullptr);
}

const TPropTable& TComputers::Properties() const
{
    static const TPropTable table({});
    return table;
}

// ---------------------------------------------------------------------------------------------------
// TGroup

TGroup::TGroup()
{
    IsRoot = false;
    FComputers = std::make_unique<TComputers>(this);
    // The schedule was made with its defaults as a member; its clock follows it.
    FScheduleTimer = MakeScheduleClock([this] { CheckSchedule(); });
}

TGroup::~TGroup()
{
    FComputers.reset();
    if (FScheduleTimer)
        FScheduleTimer->SetActive(false);
    FScheduleTimer.reset();
    Storage.reset();
}

void TGroup::Assign(const TPersistent& source)
{
    auto* other = dynamic_cast<const TGroup*>(&source);
    if (!other)
        AssignError(&source);
    Comments = other->Comments;
    FComputers->Assign(*other->FComputers);
    ID = other->ID;
    IsRoot = other->IsRoot;
    Name = other->Name;
    FSchedule.Assign(other->FSchedule);
}

void TGroup::CheckSchedule()
{
    const TDateTime now = ::Now();
    if (!FSchedule.UseSchedule)
        return;
    if (ScheduleIsDue(FSchedule, now) && OnSchedule.Assigned())
        FireSchedule();
}

void TGroup::FireSchedule()
{
    if (!OnSchedule.Assigned())
        return;
    for (int i = 0; i < FComputers->Count(); ++i) {
        TComputer* computer = FComputers->Items(i);
        if (computer->Schedule().UseSchedule || !computer->MACAddresses())
            continue; // computers with a schedule of their own are left to it
        TMACAddresses* adapters = computer->MACAddresses();
        for (int j = 0; j < adapters->Count(); ++j) {
            TMACAddress* adapter = adapters->Items(j);
            if (!adapter->UseForWake)
                continue;
            OnSchedule(this, adapter->Address, computer->IPAddress, computer->SubNet);
            FSchedule.LastDate = ::Now();
            if (OnUpdate.Assigned())
                OnUpdate(this);
        }
    }
}

const TPropTable& TGroup::Properties() const
{
    return PropertyTable();
}

const TPropTable& TGroup::PropertyTable()
{
    using G = TGroup;
    auto self = [](const TPersistent& p) -> const G& { return static_cast<const G&>(p); };
    auto mut = [](TPersistent& p) -> G& { return static_cast<G&>(p); };
    static const TPropTable table({
        {"Name", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Name); },
         [=](auto& p, auto& v) { mut(p).Name = v.toString(); }},
        {"Tag", TPropKind::Integer, nullptr, [=](auto& p) { return Ord(self(p).Tag); },
         [=](auto& p, auto& v) { mut(p).Tag = static_cast<qint32>(v.toLongLong()); }},
        {"ID", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).ID); },
         [=](auto& p, auto& v) { mut(p).ID = v.toString(); }},
        {"IsRoot", TPropKind::Boolean, nullptr, [=](auto& p) { return QVariant(self(p).IsRoot); },
         [=](auto& p, auto& v) { mut(p).IsRoot = v.toBool(); }},
        {"Comments", TPropKind::String, nullptr, [=](auto& p) { return QVariant(self(p).Comments); },
         [=](auto& p, auto& v) { mut(p).Comments = v.toString(); }},
        {"Computers", TPropKind::Collection, nullptr, nullptr, nullptr, nullptr,
         [](TPersistent& p) -> TCollection* { return static_cast<G&>(p).Computers(); }},
        {"Schedule", TPropKind::Object, nullptr, nullptr, nullptr,
         [](TPersistent& p) -> TPersistent* { return &static_cast<G&>(p).Schedule(); }},
    });
    return table;
}
