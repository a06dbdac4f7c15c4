#include "model/computers.h"

#include "core/dateTime.h"
#include "core/texts.h"
#include "core/worker.h"
#include "model/statusWatch.h"
#include "net/checkSettings.h"
#include "net/relayHub.h"
#include "net/threadPing.h"
#include "net/threadRelay.h"
#include "net/threadWOL.h"

#include <algorithm>
#include <atomic>
#include <QUuid>
#include <typeinfo>

namespace {

const QString DefaultSubNet = QStringLiteral("255.255.255.0");

// The schedule clock's tick for a computer or a group: the due test, then the fan-out to a receiver.
template <typename TOwner> bool CheckScheduleOf(TOwner& owner, const TScheduleMoment& moment, bool stamp)
{
    return owner.Schedule().UseSchedule && ScheduleIsDue(owner.Schedule(), moment) &&
           owner.OnSchedule.Assigned() && (stamp ? owner.FireSchedule() : owner.RaiseSchedule());
}

// One firing is one moment in the file, however many adapters it woke: stamped once, saved once.
template <typename TOwner> bool FireScheduleOf(TOwner& owner)
{
    if (!owner.RaiseSchedule())
        return false;
    owner.StampSchedule(::Now());
    return true;
}

} // namespace

QString ItemIDKey(const QString& id)
{
    // Only ASCII letters: an identifier is a registry-form UUID, and other letters never compare equal.
    // Stored identifiers are upper case already; those share their text instead of being copied.
    const auto isLower = [](QChar ch) { return ch >= QLatin1Char('a') && ch <= QLatin1Char('z'); };
    if (std::none_of(id.cbegin(), id.cend(), isLower))
        return id;
    QString key = id;
    for (QChar& ch : key)
        if (ch >= QLatin1Char('a') && ch <= QLatin1Char('z'))
            ch = QChar(ch.unicode() - 'a' + 'A');
    return key;
}

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

TMACAddress::TMACAddress(TMACAddresses* collection) : TCollectionItem(collection)
{
}

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
    using K = TPropKind;
    static const TPropTable table({
        FieldProp("Address", K::String, &M::Address),
        FieldProp("IPAddress", K::String, &M::IPAddress),
        FieldProp("AdapterIndex", K::Integer, &M::AdapterIndex),
        FieldProp("Descr", K::String, &M::Descr),
        FieldProp("Name", K::String, &M::Name),
        FieldProp("Subnet", K::String, &M::Subnet),
        FieldProp("UseForWake", K::Boolean, &M::UseForWake),
    });
    return table;
}

// ---------------------------------------------------------------------------------------------------
// TMACAddresses

TMACAddresses::TMACAddresses(TComputer* owner) : TCollection(owner)
{
}

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

TComputer::TComputer(TComputers* collection) : TComputer(collection, true)
{
}

TComputer::TComputer(TComputers* collection, bool newItemID) : TCollectionItem(collection)
{
    if (collection)
        collection->InvalidateIndex();
    FMACAddresses = std::make_unique<TMACAddresses>(this);
    FDataType = dtNormal;
    if (newItemID)
        FItemID = NewItemID();
    SubNet = DefaultSubNet;
    LocalSubnet = false;
    SendOptions = soLAN;
    Port = 1000;
    PingSequence = 0;
    // The schedule was made with its defaults as a member; one clock of the open database tests them all.
}

TComputer::~TComputer()
{
    DetachRunningCheck();
    FMACAddresses.reset();
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
    FName = StoredName(value);
}

QString TComputer::StoredName(const QString& value)
{
    const qsizetype pos = value.indexOf(QStringLiteral("\\\\"));
    return pos >= 0 ? value.mid(pos + 2) : value;
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

QString TComputer::WakeMAC() const
{
    if (FMACAddresses)
        for (int i = 0; i < FMACAddresses->Count(); ++i)
            if (const TMACAddress* adapter = FMACAddresses->Items(i); adapter && adapter->UseForWake)
                return adapter->Address;
    return {};
}

void TComputer::CopyStored(const TComputer& source)
{
    // The data type first: it decides whether there are adapters to copy.
    SetDataType(source.FDataType);
    Assign(source);
    // Assign carries an adapter's address and wake flag only; the record holds the rest too.
    if (FMACAddresses && source.FMACAddresses) {
        for (int i = 0; i < FMACAddresses->Count(); ++i) {
            const TMACAddress* from = source.FMACAddresses->Items(i);
            TMACAddress* to = FMACAddresses->Items(i);
            to->IPAddress = from->IPAddress;
            to->AdapterIndex = from->AdapterIndex;
            to->Descr = from->Descr;
            to->Name = from->Name;
            to->Subnet = from->Subnet;
        }
    }
}

void TComputer::NotifyUpdate()
{
    if (auto* computers = Computers())
        computers->NotifyUpdate();
}

bool TComputer::CheckSchedule()
{
    return CheckSchedule(TScheduleMoment::Of(::Now()));
}

bool TComputer::CheckSchedule(const TScheduleMoment& moment, bool stamp)
{
    return CheckScheduleOf(*this, moment, stamp);
}

bool TComputer::FireSchedule()
{
    return FireScheduleOf(*this);
}

void TComputer::StampSchedule(TDateTime when)
{
    FSchedule.LastDate = when;
    NotifyUpdate();
}

bool TComputer::RaiseSchedule()
{
    if (!OnSchedule.Assigned() || !FMACAddresses)
        return false;
    bool fired = false;
    for (int i = 0; i < FMACAddresses->Count(); ++i) {
        TMACAddress* adapter = FMACAddresses->Items(i);
        if (!adapter->UseForWake)
            continue;
        OnSchedule(this, adapter->Address, IPAddress, SubNet);
        fired = true;
        // The receiver may have changed the adapters; stop at their current end.
        if (!FMACAddresses)
            break;
    }
    return fired;
}

const TPropTable& TComputer::Properties() const
{
    return PropertyTable();
}

const TPropTable& TComputer::PropertyTable()
{
    using C = TComputer;
    using K = TPropKind;
    static const TPropTable table({
        AccessorProp("ItemID", K::String, &C::ItemID, &C::SetItemID),
        FieldProp("RefID", K::String, &C::RefID),
        AccessorProp("Name", K::String, &C::Name, &C::SetName),
        FieldProp("Comments", K::String, &C::Comments),
        FieldProp("Descr", K::String, &C::Descr),
        FieldProp("IPAddress", K::String, &C::IPAddress),
        CollectionProp<C>("MACAddresses", [](C& c) -> TCollection* { return c.MACAddresses(); }),
        FieldProp("SubNet", K::String, &C::SubNet),
        FieldProp("LocalSubnet", K::Boolean, &C::LocalSubnet),
        FieldProp("Port", K::Integer, &C::Port),
        FieldProp("Online", K::Boolean, &C::Online),
        FieldProp("LastPingDate", K::DateTime, &C::LastPingDate),
        FieldProp("LastPingReply", K::String, &C::LastPingReply),
        AccessorProp("DataType", K::Enum, &C::DataType, &C::SetDataType, &DataTypeNames()),
        FieldProp("SendOptions", K::Enum, &C::SendOptions, &SendOptionsNames()),
        ObjectProp<C>("Schedule", [](C& c) -> TPersistent* { return &c.Schedule(); }),
    });
    return table;
}

// ---------------------------------------------------------------------------------------------------
// TComputers

namespace {

quint64 NextGeneration()
{
    // Collections are loaded on worker threads too.
    static std::atomic<quint64> last{0};
    return ++last;
}

} // namespace

TComputers::TComputers(TGroup* owner) : TCollection(owner), FGeneration(NextGeneration())
{
}

void TComputers::InvalidateIndex()
{
    FIndexValid = false;
    FGeneration = NextGeneration();
}

TComputer* TComputers::Add()
{
    auto* computer = new TComputer(this);
    NotifyUpdate();
    return computer;
}

TCollectionItem* TComputers::AddItem()
{
    return new TComputer(this, false);
}

void TComputers::ItemRead(TCollectionItem* item)
{
    auto* computer = static_cast<TComputer*>(item);
    if (computer->ItemID().isEmpty())
        computer->SetItemID(NewItemID());
}

void TComputers::Delete(int index)
{
    RemoveAt(index);
    InvalidateIndex();
    NotifyUpdate();
}

void TComputers::Delete(const std::unordered_set<const TComputer*>& computers)
{
    const std::unordered_set<const TCollectionItem*> items(computers.begin(), computers.end());
    if (RemoveItems(items) == 0)
        return;
    InvalidateIndex();
    NotifyUpdate();
}

void TComputers::Clear()
{
    TCollection::Clear();
    InvalidateIndex();
}

TGroup* TComputers::Group() const
{
    TPersistent* owner = Owner();
    if (!owner || typeid(*owner) != typeid(TGroup))
        return nullptr;
    return static_cast<TGroup*>(owner);
}

void TComputers::NotifyUpdate()
{
    TGroup* group = Group();
    if (group && group->OnUpdate.Assigned())
        group->OnUpdate(group);
}

TComputer* TComputers::Find(const QString& id) const
{
    if (!FIndexValid) {
        FIndex.clear();
        FIndex.reserve(Count());
        // Last to first, so the first of several equal identifiers wins.
        for (int i = Count() - 1; i >= 0; --i)
            FIndex.insert(ItemIDKey(Items(i)->ItemID()), Items(i));
        FIndexValid = true;
    }
    if (id.isEmpty())
        return nullptr;
    return FIndex.value(ItemIDKey(id), nullptr);
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
}

TGroup::~TGroup()
{
    FComputers.reset();
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

std::unique_ptr<TGroup> TGroup::Snapshot() const
{
    std::unique_ptr<TGroup> copy = SnapshotHead();
    SnapshotComputers(*copy, 0, FComputers->Count());
    return copy;
}

void TGroup::SnapshotComputers(TGroup& copy, int from, int to) const
{
    const TNowBatch batch; // the defaults that the copy overwrites read the clock once
    for (int i = from; i < to; ++i)
        (new TComputer(copy.FComputers.get(), false))->CopyStored(*FComputers->Items(i));
}

std::unique_ptr<TGroup> TGroup::SnapshotHead() const
{
    const TNowBatch batch;
    auto copy = std::make_unique<TGroup>();
    copy->Name = Name;
    copy->Tag = Tag;
    copy->ID = ID;
    copy->IsRoot = IsRoot;
    copy->Comments = Comments;
    copy->FSchedule.Assign(FSchedule);
    copy->Storage = Storage;
    return copy;
}

bool TGroup::CheckSchedule()
{
    return CheckSchedule(TScheduleMoment::Of(::Now()));
}

bool TGroup::CheckSchedule(const TScheduleMoment& moment, bool stamp)
{
    return CheckScheduleOf(*this, moment, stamp);
}

bool TGroup::FireSchedule()
{
    return FireScheduleOf(*this);
}

void TGroup::StampSchedule(TDateTime when)
{
    FSchedule.LastDate = when;
    if (OnUpdate.Assigned())
        OnUpdate(this);
}

bool TGroup::RaiseSchedule()
{
    if (!OnSchedule.Assigned())
        return false;
    bool fired = false;
    for (int i = 0; i < FComputers->Count(); ++i) {
        TComputer* computer = FComputers->Items(i);
        if (computer->Schedule().UseSchedule || !computer->MACAddresses())
            continue; // computers with a schedule of their own are left to it
        TMACAddresses* adapters = computer->MACAddresses();
        for (int j = 0; j < adapters->Count(); ++j) {
            TMACAddress* adapter = adapters->Items(j);
            if (!adapter->UseForWake)
                continue;
            FFanOutComputer = computer;
            OnSchedule(this, adapter->Address, computer->IPAddress, computer->SubNet);
            FFanOutComputer = nullptr;
            fired = true;
        }
    }
    return fired;
}

const TPropTable& TGroup::Properties() const
{
    return PropertyTable();
}

const TPropTable& TGroup::PropertyTable()
{
    using G = TGroup;
    using K = TPropKind;
    static const TPropTable table({
        FieldProp("Name", K::String, &G::Name),
        FieldProp("Tag", K::Integer, &G::Tag),
        FieldProp("ID", K::String, &G::ID),
        FieldProp("IsRoot", K::Boolean, &G::IsRoot),
        FieldProp("Comments", K::String, &G::Comments),
        CollectionProp<G>("Computers", [](G& g) -> TCollection* { return g.Computers(); }),
        ObjectProp<G>("Schedule", [](G& g) -> TPersistent* { return &g.Schedule(); }),
    });
    return table;
}

// The reachability check of a computer and what its result changes.

namespace {
constexpr int CheckTimeout = 5000;

// Two answers from the same address that differ only in their round-trip time: the time wobbles from one
// check to the next, and saving the whole file for it would keep the disk busy while nothing changed.
bool OnlyTimeDiffers(const QString& before, const QString& after, const QString& from)
{
    if (before == after)
        return true;
    const QStringList parts = Res::Str(Res::PingResponse).arg(from, QStringLiteral("\x01")).split(QChar(1));
    if (parts.size() != 2)
        return false;
    auto matches = [&parts](const QString& text) {
        return text.size() > parts[0].size() + parts[1].size() && text.startsWith(parts[0]) &&
               text.endsWith(parts[1]);
    };
    return matches(before) && matches(after);
}

} // namespace

void TComputer::CheckOnline(std::chrono::steady_clock::time_point began)
{
    // A newer check supersedes a running one, whose result must then never reach the computer.
    DetachRunningCheck();
    // Without relays every check is local, with no detour through the route.
    auto* worker = RelaysConfigured() ? new TRelayPingThread(IPAddress, CheckTimeout, -1)
                                      : new TPingThread(IPAddress, CheckTimeout, -1);
    worker->SetOnTerminate([this](TWorkerThread* sender) { CheckCompleted(sender); });
    worker->SetSequence(PingSequence);
    worker->SetTcpPorts(TcpProbePorts());
    worker->SetStartedAt(began);
    LastPingDate = Now();
    worker->Start();
    FRunningCheck = worker;
}

void TComputer::CheckCompleted(TWorkerThread* worker)
{
    auto* check = static_cast<TPingThread*>(worker);
    const bool online = check->Outcome() == 0;
    QString reply = check->ReplyText();
    const auto* relayed = dynamic_cast<const TRelayPingThread*>(check);
    const QString relay = relayed ? relayed->RelayName() : QString();
    // A result that is the same as before only brings a new date: the file may learn it later. A relay's
    // reply carries the relay's name at its end, which the comparison of round-trip times looks past.
    QString before = LastPingReply;
    QString after = reply;
    if (!relay.isEmpty()) {
        if (const QString suffix = Res::Str(Res::RelayReplySuffix).arg(relay);
            before.endsWith(suffix) && after.endsWith(suffix)) {
            before.chop(suffix.size());
            after.chop(suffix.size());
        }
    }
    const bool same =
        online == Online && relay == RelayName &&
        (online ? OnlyTimeDiffers(before, after, check->FromAddress()) : reply == LastPingReply);
    RelayName = relay;
    RelayFailed = relayed && relayed->RelayFailed();
    ChecksUnavailable = check->NoSocket();
    AnsweredByTcp = online && check->ByTcp();
    const TCheckChange change = same ? TCheckChange::Stale : TCheckChange::Result;
    // Only an answer whose sender's adapter is known can tell of another machine (loopback never does).
    QStringList stored;
    if (const TMACAddresses* adapters = MACAddresses();
        adapters && online && !check->NeighbourMac().isEmpty())
        for (int i = 0; i < adapters->Count(); ++i)
            stored << adapters->Items(i)->Address;
    IdentityWarning = online ? IdentityHint(stored, check->NeighbourMac()) : QString();
    Online = online;
    LastPingReply = std::move(reply);
    if (FRunningCheck == worker)
        FRunningCheck = nullptr;
    TComputers* computers = Computers();
    if (computers && computers->OnItemUpdate.Assigned())
        computers->OnItemUpdate(this);
    // The listener of the group decides how soon a check's result is written.
    if (TGroup* group = computers ? computers->Group() : nullptr; group && group->OnCheckCompleted.Assigned())
        group->OnCheckCompleted(this, change);
}

// Waking a computer of the group.

namespace {

TWakeTarget WakeTargetOf(const TComputer& computer)
{
    TWakeTarget target;
    target.MACAddress = computer.WakeMAC();
    target.Internet = computer.SendOptions == soInternet;
    target.IPAddress = computer.IPAddress;
    target.SubNet = computer.SubNet;
    target.Port = computer.Port;
    return target;
}

} // namespace

bool TGroup::WakeComputerByID(const QString& itemID, int delay,
                              std::function<void(bool sent, const QString& reason)> onEnd,
                              std::function<void(const QString& destination)> onOffLink,
                              std::function<void(const QString& reason)> onRelayFailed, int port)
{
    const TComputer* computer = FindComputer(itemID);
    if (!computer)
        return false;
    // The sender takes its copy of the computer's values now, so deleting or editing the computer
    // during the delay can never leave it reading freed memory.
    // Without relays every packet leaves from here, with no detour through the route.
    TWakeTarget target = WakeTargetOf(*computer);
    if (port > 0)
        target.Port = port;
    auto* sender = RelaysConfigured() ? new TRelayWOLThread(target, delay) : new TWOLThread(target, delay);
    if (onEnd || onOffLink || onRelayFailed)
        sender->SetOnTerminate([onEnd = std::move(onEnd), onOffLink = std::move(onOffLink),
                                onRelayFailed = std::move(onRelayFailed)](TWorkerThread* worker) {
            const auto* done = static_cast<const TWOLThread*>(worker);
            const auto* relayed = dynamic_cast<const TRelayWOLThread*>(done);
            if (onRelayFailed && relayed && !relayed->RelayError().isEmpty())
                onRelayFailed(relayed->RelayError());
            if (onOffLink && done->Sent() && done->Route().OffLink)
                onOffLink(done->Route().Destination);
            if (onEnd)
                onEnd(done->Sent(), relayed && !relayed->RelayError().isEmpty() ? relayed->RelayError()
                                                                                : done->SendError());
        });
    sender->Start();
    return true;
}
