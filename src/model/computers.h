// The data model of the database: TGroup, TComputers, TComputer, TMACAddresses and TMACAddress.
#pragma once

#include "model/persistent.h"
#include "model/schedule.h"

#include <functional>
#include <memory>
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

const QStringList& DataTypeNames();
const QStringList& SendOptionsNames();

class TComputer;
class TComputers;
class TGroup;
class TMACAddresses;
class TThreadTimer;
class TWorkerThread;
class TStorage;

// A new identifier: a random UUID in the 38-character registry form, upper case, in braces.
QString NewItemID();

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
    TThreadTimer* ScheduleTimer() const { return FScheduleTimer.get(); }
    TWorkerThread* RunningCheck() const { return FRunningCheck; }

    // Copies the fields of another computer (identity included; not DataType, events, PingSequence, the
    // running check or the clock).
    void Assign(const TPersistent& source) override;
    // Raises the group's OnUpdate when the computer belongs to a plain TGroup whose event is assigned.
    void NotifyUpdate();

    // Starts a reachability check of IPAddress; a newer check supersedes a running one.
    void CheckOnline();
    // Switches the schedule clock.
    void ActivateSchedule(bool active);
    // The schedule clock's tick: the due test, and the wake fan-out when a receiver is assigned.
    void CheckSchedule();
    void FireSchedule();

    TComputers* Computers() const;
    QString ClassName() const override { return QStringLiteral("TComputer"); }
    const TPropTable& Properties() const override;
    static const TPropTable& PropertyTable();

private:
    friend class TComputers;
    friend class TGroup;
    // Without an identifier yet: the reader and the copy give it one (an identifier costs a random UUID).
    // A computer without clock is a snapshot's, never scheduled.
    TComputer(TComputers* collection, bool newItemID, bool clock = true);
    // Everything the record holds of source (DataType and every adapter field included).
    void CopyStored(const TComputer& source);
    void CheckCompleted(TWorkerThread* worker);
    void DetachRunningCheck();

    QString FItemID;
    QString FName;
    std::unique_ptr<TMACAddresses> FMACAddresses;
    TDataType FDataType = dtNormal;
    TSchedule FSchedule;
    std::unique_ptr<TThreadTimer> FScheduleTimer;
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
    // First computer whose ItemID equals id, ignoring the case of ASCII letters; null when none.
    TComputer* Find(const QString& id) const;

    TNotifyEvent OnItemUpdate;

    QString ClassName() const override { return QStringLiteral("TComputers"); }
    const TPropTable& Properties() const override;
    const TPropTable& ItemProperties() const override { return TComputer::PropertyTable(); }

private:
    friend class TComputer;
    void InvalidateIndex() { FIndexValid = false; }

    mutable QHash<QString, TComputer*> FIndex; // lookup by ItemID, rebuilt on demand
    mutable bool FIndexValid = false;
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

    // Not persistent: where the group's record is saved (shared with the database).
    std::shared_ptr<TStorage> Storage;
    TThreadTimer* ScheduleTimer() const { return FScheduleTimer.get(); }

    TComputer* FindComputer(const QString& itemID) const { return FComputers->Find(itemID); }
    // Starts a wake-up sender for the computer with that identifier, after delay seconds. onEnd, when
    // given, runs on the main thread once the sender has ended, told whether the packet left; onOffLink
    // runs before it, with the destination, when a LAN-mode packet went to an address that no local
    // network broadcasts to. False when no computer has that identifier.
    bool WakeComputerByID(const QString& itemID, int delay, std::function<void(bool sent)> onEnd = nullptr,
                          std::function<void(const QString& destination)> onOffLink = nullptr);
    void CheckSchedule();
    void FireSchedule();

    void Assign(const TPersistent& source) override;
    // A copy of everything the record holds, for writing it on another thread while this group lives
    // on: no clocks, no events, no checks; the same Storage. The copy shares the texts (copy-on-write),
    // so it costs little more than its objects.
    std::unique_ptr<TGroup> Snapshot() const;
    QString ClassName() const override { return QStringLiteral("TGroup"); }
    const TPropTable& Properties() const override;
    static const TPropTable& PropertyTable();

private:
    explicit TGroup(bool clock);

    std::unique_ptr<TComputers> FComputers;
    TSchedule FSchedule;
    std::unique_ptr<TThreadTimer> FScheduleTimer;
};
