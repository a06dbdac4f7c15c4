#include "model/computers.h"

#include "core/dateTime.h"
#include "core/texts.h"
#include "core/worker.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "net/checkSettings.h"
#include "net/threadPing.h"
#include "net/threadWOL.h"
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

TComputer::TComputer(TComputers* collection, bool newItemID, bool clock) : TCollectionItem(collection)
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
    // The schedule was made with its defaults as a member; its clock follows it.
    if (clock)
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

void TComputer::CopyStored(const TComputer& source)
{
    SetDataType(source.FDataType);
    FItemID = source.FItemID;
    RefID = source.RefID;
    FName = source.FName;
    Comments = source.Comments;
    Descr = source.Descr;
    IPAddress = source.IPAddress;
    if (FMACAddresses && source.FMACAddresses) {
        for (int i = 0; i < source.FMACAddresses->Count(); ++i) {
            const TMACAddress* from = source.FMACAddresses->Items(i);
            TMACAddress* to = FMACAddresses->Add();
            to->Address = from->Address;
            to->IPAddress = from->IPAddress;
            to->AdapterIndex = from->AdapterIndex;
            to->Descr = from->Descr;
            to->Name = from->Name;
            to->Subnet = from->Subnet;
            to->UseForWake = from->UseForWake;
        }
    }
    SubNet = source.SubNet;
    LocalSubnet = source.LocalSubnet;
    Port = source.Port;
    Online = source.Online;
    LastPingDate = source.LastPingDate;
    LastPingReply = source.LastPingReply;
    SendOptions = source.SendOptions;
    FSchedule.Assign(source.FSchedule);
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

TComputers::TComputers(TGroup* owner) : TCollection(owner)
{
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

TGroup::TGroup() : TGroup(true)
{
}

TGroup::TGroup(bool clock)
{
    IsRoot = false;
    FComputers = std::make_unique<TComputers>(this);
    // The schedule was made with its defaults as a member; its clock follows it.
    if (clock)
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

std::unique_ptr<TGroup> TGroup::Snapshot() const
{
    const TNowBatch batch; // the defaults that the copy overwrites read the clock once
    std::unique_ptr<TGroup> copy(new TGroup(false));
    copy->Name = Name;
    copy->Tag = Tag;
    copy->ID = ID;
    copy->IsRoot = IsRoot;
    copy->Comments = Comments;
    copy->FSchedule.Assign(FSchedule);
    copy->Storage = Storage;
    for (int i = 0; i < FComputers->Count(); ++i)
        (new TComputer(copy->FComputers.get(), false, false))->CopyStored(*FComputers->Items(i));
    return copy;
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

// Completions run on the main thread only, one at a time.
TCheckChange CurrentCheckChange = TCheckChange::None;

// Marks the group's change notice as a check's report for as long as it runs.
class TCheckReport
{
public:
    explicit TCheckReport(TCheckChange change) : FPrevious(CurrentCheckChange)
    {
        CurrentCheckChange = change;
    }
    ~TCheckReport() { CurrentCheckChange = FPrevious; }
    TCheckReport(const TCheckReport&) = delete;
    TCheckReport& operator=(const TCheckReport&) = delete;

private:
    TCheckChange FPrevious;
};
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

TCheckChange CompletingCheck()
{
    return CurrentCheckChange;
}

void TComputer::CheckOnline()
{
    // A newer check supersedes a running one, whose result must then never reach the computer.
    DetachRunningCheck();
    auto* worker = new TPingThread(IPAddress, CheckTimeout, -1);
    worker->SetOnTerminate([this](TWorkerThread* sender) { CheckCompleted(sender); });
    worker->SetSequence(PingSequence);
    worker->SetTcpPorts(TcpProbePorts());
    LastPingDate = Now();
    worker->Start();
    FRunningCheck = worker;
}

void TComputer::CheckCompleted(TWorkerThread* worker)
{
    auto* check = static_cast<TPingThread*>(worker);
    const bool online = check->Outcome() == 0;
    QString reply = check->ReplyText();
    // A result that is the same as before only brings a new date: the file may learn it later.
    const bool same =
        online == Online &&
        (online ? OnlyTimeDiffers(LastPingReply, reply, check->FromAddress()) : reply == LastPingReply);
    const TCheckChange change = same ? TCheckChange::Stale : TCheckChange::Result;
    QStringList stored;
    if (const TMACAddresses* adapters = MACAddresses())
        for (int i = 0; i < adapters->Count(); ++i)
            stored << adapters->Items(i)->Address;
    IdentityWarning = online ? IdentityHint(stored, check->NeighbourMac()) : QString();
    Online = online;
    LastPingReply = std::move(reply);
    if (FRunningCheck == worker)
        FRunningCheck = nullptr;
    if (auto* computers = Computers(); computers && computers->OnItemUpdate.Assigned())
        computers->OnItemUpdate(this);
    // The listener of the group decides how soon a check's result is written.
    const TCheckReport report(change);
    NotifyUpdate();
}

// Waking a computer of the group.

namespace {

TWakeTarget WakeTargetOf(const TComputer& computer)
{
    TWakeTarget target;
    if (const TMACAddresses* adapters = computer.MACAddresses()) {
        for (int i = 0; i < adapters->Count(); ++i) {
            const TMACAddress* adapter = adapters->Items(i);
            if (adapter && adapter->UseForWake) {
                target.MACAddress = adapter->Address;
                break;
            }
        }
    }
    target.Internet = computer.SendOptions == soInternet;
    target.IPAddress = computer.IPAddress;
    target.SubNet = computer.SubNet;
    target.Port = computer.Port;
    return target;
}

} // namespace

bool TGroup::WakeComputerByID(const QString& itemID, int delay, std::function<void(bool sent)> onEnd,
                              std::function<void(const QString& destination)> onOffLink)
{
    const TComputer* computer = FindComputer(itemID);
    if (!computer)
        return false;
    // The sender takes its copy of the computer's values now, so deleting or editing the computer
    // during the delay can never leave it reading freed memory.
    auto* sender = new TWOLThread(WakeTargetOf(*computer), delay);
    if (onEnd || onOffLink)
        sender->SetOnTerminate(
            [onEnd = std::move(onEnd), onOffLink = std::move(onOffLink)](TWorkerThread* worker) {
                const auto* done = static_cast<const TWOLThread*>(worker);
                if (onOffLink && done->Sent() && done->Route().OffLink)
                    onOffLink(done->Route().Destination);
                if (onEnd)
                    onEnd(done->Sent());
            });
    sender->Start();
    return true;
}
