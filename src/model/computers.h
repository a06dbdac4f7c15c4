// The data model of the database: TGroup, TComputers, TComputer, TMACAddresses and TMACAddress.
#pragma once

#include "model/persistent.h"
#include "model/schedule.h"

#include <chrono>
#include <functional>
#include <memory>
#include <QDateTime>
#include <QHash>
#include <QtGlobal>

enum TDataType
{
    dtNormal,
    dtAlias
};
enum TSendOptions
{
    soLAN,
    soInternet
};

// What a completed reachability check changed.
enum class TCheckChange
{
    Stale,  // only the date of the check is new
    Result, // Online or LastPingReply changed
};
// (Sender: the computer whose check completed, what the check changed)
using TCheckEvent = TEvent<TObject*, TCheckChange>;

const QStringList& DataTypeNames();
const QStringList& SendOptionsNames();

class TComputer;
class TComputers;
class TGroup;
class TMACAddresses;
class TWorkerThread;
class TStorage;

// A new identifier: a random UUID in the 38-character registry form, upper case, in braces.
QString NewItemID();
// The form in which ItemIDs compare: ASCII letters upper-cased, nothing else changed.
QString ItemIDKey(const QString& id);

// One network adapter of a computer.
class TMACAddress : public TCollectionItem
{
public:
    explicit TMACAddress(TMACAddresses* collection = nullptr);

    QString Address;
    QString IPAddress;
    qint32 AdapterIndex = 0;
    QString Descr;
    QString Name;
    QString Subnet;
    bool UseForWake = true;

    // Copies Address and UseForWake only.
    void Assign(const TPersistent& source) override;
    QString ClassName() const override { return QStringLiteral("TMACAddress"); }
    const TPropTable& Properties() const override;
    static const TPropTable& PropertyTable();
};

class TMACAddresses : public TCollection
{
public:
    explicit TMACAddresses(TComputer* owner);

    TMACAddress* Items(int index) const { return static_cast<TMACAddress*>(ItemAt(index)); }
    TMACAddress* Add() { return new TMACAddress(this); }
    TCollectionItem* AddItem() override { return Add(); }
    // Clears the target, then adds and assigns one entry per source entry, in order.
    void Assign(const TPersistent& source) override;

    QString ClassName() const override { return QStringLiteral("TMACAddresses"); }
    const TPropTable& Properties() const override;
    const TPropTable& ItemProperties() const override { return TMACAddress::PropertyTable(); }
};

// One computer of the database.
class TComputer : public TCollectionItem
{
public:
    // Joins the collection first (if one is given); a null collection gives a free-standing computer.
    explicit TComputer(TComputers* collection = nullptr);
    ~TComputer() override;

    // Published, in declaration order.
    const QString& ItemID() const { return FItemID; }
    void SetItemID(const QString& value);
    QString RefID;
    const QString& Name() const { return FName; }
    // Stores the value; a value holding two backslashes loses everything up to and including the first
    // such pair.
    void SetName(const QString& value);
    // The name SetName keeps of value.
    static QString StoredName(const QString& value);
    QString Comments;
    QString Descr;
    QString IPAddress;
    // Null for an alias.
    TMACAddresses* MACAddresses() const { return FMACAddresses.get(); }
    QString SubNet;
    bool LocalSubnet = false;
    qint32 Port = 1000;
    bool Online = false;
    TDateTime LastPingDate = 0;
    QString LastPingReply;
    TDataType DataType() const { return FDataType; }
    // Becoming an alias drops the adapters; becoming normal clears RefID and recreates them.
    void SetDataType(TDataType value);
    TSendOptions SendOptions = soLAN;
    TSchedule& Schedule() { return FSchedule; }
    const TSchedule& Schedule() const { return FSchedule; }
    TScheduleEvent OnSchedule;

    // Not persistent.
    quint16 PingSequence = 0;
    // Set by a check that found the computer online answering from a hardware address other than every
    // stored one; empty otherwise.
    QString IdentityWarning;
    // The relay that served the last check (empty for a local one), and whether that relay could not be
    // asked; LastPingReply then says why.
    QString RelayName;
    bool RelayFailed = false;
    TWorkerThread* RunningCheck() const { return FRunningCheck; }
    // Set by a check that could not run at all: this process has no socket to check with.
    bool ChecksUnavailable = false;
    // Set by a check that found the computer online through a TCP port while ping got no answer.
    bool AnsweredByTcp = false;
    // How the last wake-up of this run went, and when that was told; empty before the first.
    QString WakeOutcome;
    QDateTime WakeOutcomeAt;

    // The address of the first adapter marked for wake-up; empty when there is none (an alias has none).
    QString WakeMAC() const;

    // Copies the fields of another computer (identity included; not DataType, events, PingSequence, the
    // running check or the clock).
    void Assign(const TPersistent& source) override;
    // Raises the group's OnUpdate when the computer belongs to a plain TGroup whose event is assigned.
    void NotifyUpdate();

    // Starts a reachability check of IPAddress; a newer check supersedes a running one. began: when the
    // check began, if earlier (its pause counts from then).
    void CheckOnline(std::chrono::steady_clock::time_point began = {});
    // The schedule clock's tick: the due test, and the wake fan-out when a receiver is assigned. True
    // when the schedule fired. Unless stamp, the firing is not stamped: the receiver stamps it
    // (StampSchedule) once its wake-ups have left.
    bool CheckSchedule(const TScheduleMoment& moment, bool stamp = true);
    bool CheckSchedule();
    // Raises OnSchedule for each wake-enabled adapter, then stamps LastDate and reports the change once.
    // True when any adapter was raised.
    bool FireSchedule();
    // The same without the stamp.
    bool RaiseSchedule();
    // LastDate := when, and the change reported.
    void StampSchedule(TDateTime when);

    TComputers* Computers() const;
    QString ClassName() const override { return QStringLiteral("TComputer"); }
    const TPropTable& Properties() const override;
    static const TPropTable& PropertyTable();

private:
    friend class TComputers;
    friend class TGroup;
    // Without an identifier yet: the reader and the copy give it one (an identifier costs a random UUID).
    TComputer(TComputers* collection, bool newItemID);
    // Everything the record holds of source (DataType and every adapter field included).
    void CopyStored(const TComputer& source);
    void CheckCompleted(TWorkerThread* worker);
    void DetachRunningCheck();

    QString FItemID;
    QString FName;
    std::unique_ptr<TMACAddresses> FMACAddresses;
    TDataType FDataType = dtNormal;
    TSchedule FSchedule;
    TWorkerThread* FRunningCheck = nullptr;
};

class TComputers : public TCollection
{
public:
    explicit TComputers(TGroup* owner);

    TComputer* Items(int index) const { return static_cast<TComputer*>(ItemAt(index)); }
    // Appends a computer with its defaults, then raises the group's OnUpdate.
    TComputer* Add();
    // Destroys the computer at index, closes the gap, then raises the group's OnUpdate.
    void Delete(int index);
    // Destroys these computers in one pass, then raises the group's OnUpdate once (when any went).
    void Delete(const std::unordered_set<const TComputer*>& computers);
    // A computer without identifier: what is read or copied into it brings one.
    TCollectionItem* AddItem() override;
    // A stored computer without identifier gets a new one.
    void ItemRead(TCollectionItem* item) override;
    void Clear() override;
    // Raises the owner group's OnUpdate (owner exactly a TGroup, event assigned).
    void NotifyUpdate();
    // The owner when it is exactly a TGroup (not a class derived from it); null otherwise.
    TGroup* Group() const;
    // First computer whose ItemID equals id, ignoring the case of ASCII letters; null when none.
    TComputer* Find(const QString& id) const;
    // Changes whenever what Find answers may change (a computer added or removed, an ItemID changed), and
    // is never the same for two collections: a caller may keep Find's answers while it stays the same.
    quint64 Generation() const { return FGeneration; }

    TNotifyEvent OnItemUpdate;

    QString ClassName() const override { return QStringLiteral("TComputers"); }
    const TPropTable& Properties() const override;
    const TPropTable& ItemProperties() const override { return TComputer::PropertyTable(); }

private:
    friend class TComputer;
    void InvalidateIndex();

    mutable QHash<QString, TComputer*> FIndex; // lookup by ItemID, rebuilt on demand
    mutable bool FIndexValid = false;
    quint64 FGeneration;
};

// A group of computers; the root group is the whole database.
class TGroup : public TPersistent
{
public:
    TGroup();
    ~TGroup() override;
    TGroup(const TGroup&) = delete;
    TGroup& operator=(const TGroup&) = delete;

    // Published, in declaration order (the component's Tag sits between Name and ID).
    QString Name;
    qint32 Tag = 0;
    QString ID;
    bool IsRoot = false;
    QString Comments;
    TComputers* Computers() const { return FComputers.get(); }
    TSchedule& Schedule() { return FSchedule; }
    const TSchedule& Schedule() const { return FSchedule; }
    TNotifyEvent OnUpdate;
    TScheduleEvent OnSchedule;
    // A check of one of its computers completed; raised after the computers' OnItemUpdate. A check's
    // result never raises OnUpdate, which stays for changes made by the user or a schedule.
    TCheckEvent OnCheckCompleted;

    // Not persistent: where the group's record is saved (shared with the database).
    std::shared_ptr<TStorage> Storage;

    TComputer* FindComputer(const QString& itemID) const { return FComputers->Find(itemID); }
    // Starts a wake-up sender for the computer with that identifier, after delay seconds. onEnd, when
    // given, runs on the main thread once the sender has ended, told whether the packet left and, when it
    // did not, why (empty when nothing said why: no usable MAC address); onOffLink
    // runs before it, with the destination, when a LAN-mode packet went to an address that no local
    // network broadcasts to. A computer on a relay's network is woken by that relay; onRelayFailed, when
    // given, runs before onEnd with the reason (naming the relay) when the relay could not send; onEnd
    // then has the same reason. port: the UDP port of the packet, 0 for the computer's own. False when no
    // computer has that identifier.
    bool WakeComputerByID(const QString& itemID, int delay,
                          std::function<void(bool sent, const QString& reason)> onEnd = nullptr,
                          std::function<void(const QString& destination)> onOffLink = nullptr,
                          std::function<void(const QString& reason)> onRelayFailed = nullptr, int port = 0);
    // The group's schedule covers every computer without a schedule of its own in use.
    bool CheckSchedule(const TScheduleMoment& moment, bool stamp = true);
    bool CheckSchedule();
    bool FireSchedule();
    bool RaiseSchedule();
    void StampSchedule(TDateTime when);
    // While the group raises OnSchedule: the computer whose adapter it is; null otherwise.
    TComputer* FanOutComputer() const { return FFanOutComputer; }

    void Assign(const TPersistent& source) override;
    // A copy of everything the record holds, for writing it on another thread while this group lives
    // on: no events, no checks; the same Storage. The copy shares the texts (copy-on-write),
    // so it costs little more than its objects.
    std::unique_ptr<TGroup> Snapshot() const;
    // The same in parts: the group without its computers, then copies of computers [from, to) appended.
    std::unique_ptr<TGroup> SnapshotHead() const;
    void SnapshotComputers(TGroup& copy, int from, int to) const;
    QString ClassName() const override { return QStringLiteral("TGroup"); }
    const TPropTable& Properties() const override;
    static const TPropTable& PropertyTable();

private:
    std::unique_ptr<TComputers> FComputers;
    TSchedule FSchedule;
    TComputer* FFanOutComputer = nullptr;
};
