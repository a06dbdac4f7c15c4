#include "core/exceptions.h"
#include "model/computers.h"

#include <QRegularExpression>
#include <QTest>

namespace {

QStringList Names(const TPropTable& table)
{
    QStringList names;
    for (const auto& prop : table.Props())
        names << prop.Name;
    return names;
}

// A group of a derived class: the model must not report its changes (owner exactly a TGroup).
class TSubGroup : public TGroup
{
public:
    QString ClassName() const override { return QStringLiteral("TSubGroup"); }
};

struct UpdateCounter
{
    int Count = 0;
    TObject* LastSender = nullptr;
    TNotifyEvent Event()
    {
        return TNotifyEvent(this, [this](TObject* sender) {
            ++Count;
            LastSender = sender;
        });
    }
};

} // namespace

class TestComputers : public QObject
{
    Q_OBJECT

private slots:
    void propertyTablesListTheStoredOrder()
    {
        QCOMPARE(Names(TGroup::PropertyTable()),
                 QStringList({"Name", "Tag", "ID", "IsRoot", "Comments", "Computers", "Schedule"}));
        QCOMPARE(Names(TComputer::PropertyTable()),
                 QStringList({"ItemID", "RefID", "Name", "Comments", "Descr", "IPAddress", "MACAddresses",
                              "SubNet", "LocalSubnet", "Port", "Online", "LastPingDate", "LastPingReply",
                              "DataType", "SendOptions", "Schedule"}));
        QCOMPARE(Names(TMACAddress::PropertyTable()), QStringList({"Address", "IPAddress", "AdapterIndex",
                                                                   "Descr", "Name", "Subnet", "UseForWake"}));
        QCOMPARE(Names(TSchedule::PropertyTable()),
                 QStringList({"UseSchedule", "ScheduleInterval", "StartHour", "StartMin", "dailyInterval",
                              "weeklyInterval", "weeklyDays", "monthlySettings", "monthlyNumDays",
                              "monthlyDayOccurence", "monthlyDay", "onceDate", "LastDate"}));
    }

    void tableSettersApplyTheModelRules()
    {
        TGroup group;
        TComputer* computer = group.Computers()->Add();
        computer->MACAddresses()->Add();
        const TPropTable& table = TComputer::PropertyTable();
        table.Find(u"Name")->Set(*computer, QStringLiteral("\\\\HOST"));
        QCOMPARE(computer->Name(), QStringLiteral("HOST"));
        table.Find(u"ItemID")->Set(*computer, QStringLiteral("{NEW}"));
        QCOMPARE(group.FindComputer(QStringLiteral("{new}")), computer);
        table.Find(u"DataType")->Set(*computer, qint64(dtAlias));
        QVERIFY(computer->MACAddresses() == nullptr);
        QCOMPARE(table.Find(u"MACAddresses")->Collection(*computer), nullptr);
        table.Find(u"Port")->Set(*computer, qint64(-5));
        QCOMPARE(table.Find(u"Port")->Get(*computer).toLongLong(), -5);

        TSchedule& schedule = computer->Schedule();
        TPersistent* viaTable = table.Find(u"Schedule")->Object(*computer);
        QCOMPARE(viaTable, static_cast<TPersistent*>(&schedule));
        const TPropTable& scheduleTable = viaTable->Properties();
        scheduleTable.Find(u"weeklyDays")->Set(*viaTable, qint64(0x41));
        QCOMPARE(schedule.weeklyDays, TWeekDays(0x41));
        scheduleTable.Find(u"StartHour")->Set(*viaTable, qint64(65535));
        QCOMPARE(scheduleTable.Find(u"StartHour")->Get(*viaTable).toLongLong(), 65535);
        QCOMPARE(scheduleTable.Find(u"LastDate")->Get(*viaTable).toDouble(), -1.0);
    }

    void newComputerHasItsDefaults()
    {
        TGroup group;
        TComputer* computer = group.Computers()->Add();
        const TPropTable& table = computer->Properties();
        const QString id = table.Find(u"ItemID")->Get(*computer).toString();
        QVERIFY(QRegularExpression(
                    QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"))
                    .match(id)
                    .hasMatch());
        QCOMPARE(table.Find(u"SubNet")->Get(*computer).toString(), QStringLiteral("255.255.255.0"));
        QCOMPARE(table.Find(u"Port")->Get(*computer).toLongLong(), 1000);
        QCOMPARE(table.Find(u"SendOptions")->Get(*computer).toLongLong(), qint64(soLAN));
        QCOMPARE(table.Find(u"DataType")->Get(*computer).toLongLong(), qint64(dtNormal));
        QCOMPARE(table.Find(u"Online")->Get(*computer).toBool(), false);
        QCOMPARE(table.Find(u"LastPingDate")->Get(*computer).toDouble(), 0.0);
        QVERIFY(table.Find(u"Name")->Get(*computer).toString().isEmpty());
        QVERIFY(computer->MACAddresses() != nullptr);
        QCOMPARE(computer->MACAddresses()->Count(), 0);
        QCOMPARE(computer->PingSequence, quint16(0));
        QCOMPARE(computer->Index(), 0);
        QVERIFY(!group.IsRoot);

        TComputer other;
        QVERIFY(other.ItemID() != computer->ItemID());

        TMACAddress* adapter = computer->MACAddresses()->Add();
        QCOMPARE(adapter->UseForWake, true);
        QCOMPARE(adapter->AdapterIndex, 0);
    }

    void nameSetterDropsEverythingUpToTheFirstDoubleBackslash_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("stored");
        QTest::newRow("unc host") << "\\\\SERVER"
                                  << "SERVER";
        QTest::newRow("two pairs") << "A\\\\B\\\\C"
                                   << "B\\\\C";
        QTest::newRow("single backslash stays") << "A\\B"
                                                << "A\\B";
        QTest::newRow("plain") << "PC1"
                               << "PC1";
        QTest::newRow("pair at the end") << "HOST\\\\"
                                         << "";
    }

    void nameSetterDropsEverythingUpToTheFirstDoubleBackslash()
    {
        QFETCH(QString, input);
        QFETCH(QString, stored);
        TComputer computer;
        computer.SetName(input);
        QCOMPARE(computer.Name(), stored);
    }

    void nameSetterIgnoresAnUnchangedValue()
    {
        // Storing the normalised name again must not strip it a second time.
        TComputer computer;
        computer.SetName(QStringLiteral("\\\\A\\\\B"));
        QCOMPARE(computer.Name(), QStringLiteral("A\\\\B"));
        computer.SetName(QStringLiteral("A\\\\B"));
        QCOMPARE(computer.Name(), QStringLiteral("A\\\\B"));
        computer.SetName(QStringLiteral("SERVER"));
        computer.SetName(QStringLiteral("SERVER"));
        QCOMPARE(computer.Name(), QStringLiteral("SERVER"));
    }

    void findComputerIgnoresAsciiCaseAndTakesTheFirstMatch()
    {
        TGroup group;
        TComputer* first = group.Computers()->Add();
        TComputer* second = group.Computers()->Add();
        QCOMPARE(group.FindComputer(first->ItemID().toLower()), first);
        QCOMPARE(group.FindComputer(second->ItemID()), second);
        QCOMPARE(group.FindComputer(QString()), nullptr);
        QCOMPARE(group.FindComputer(QStringLiteral("{00000000-0000-0000-0000-000000000000}")), nullptr);

        const QString sharedID = first->ItemID();
        second->SetItemID(sharedID.toLower());
        QCOMPARE(group.FindComputer(sharedID), first);
        group.Computers()->Delete(0); // frees first
        QCOMPARE(group.FindComputer(sharedID.toUpper()), group.Computers()->Items(0));

        // Only ASCII letters fold: a non-ASCII identifier must match exactly.
        group.Computers()->Items(0)->SetItemID(QStringLiteral("{ä}"));
        QCOMPARE(group.FindComputer(QStringLiteral("{Ä}")), nullptr);
        QCOMPARE(group.FindComputer(QStringLiteral("{ä}")), group.Computers()->Items(0));
    }

    void addAndDeleteRaiseOnUpdateOnce()
    {
        TGroup group;
        UpdateCounter updates;
        QString nameWhenNotified = QStringLiteral("unset");
        int countWhenNotified = -1;
        group.OnUpdate.Set(&updates, [&](TObject* sender) {
            ++updates.Count;
            updates.LastSender = sender;
            countWhenNotified = group.Computers()->Count();
            if (countWhenNotified > 0)
                nameWhenNotified = group.Computers()->Items(countWhenNotified - 1)->Name();
        });

        TComputer* computer = group.Computers()->Add();
        QCOMPARE(updates.Count, 1);
        QCOMPARE(updates.LastSender, static_cast<TObject*>(&group));
        QCOMPARE(countWhenNotified, 1);
        QCOMPARE(nameWhenNotified, QString());

        computer->SetName(QStringLiteral("PC1"));
        computer->NotifyUpdate();
        QCOMPARE(updates.Count, 2);

        group.Computers()->Delete(0);
        QCOMPARE(updates.Count, 3);
        QCOMPARE(countWhenNotified, 0);
    }

    void onlyAPlainGroupWithAnAssignedEventIsNotified()
    {
        TComputer freeStanding;
        freeStanding.NotifyUpdate(); // no collection: nothing to notify, nothing to crash

        TSubGroup sub;
        UpdateCounter subUpdates;
        sub.OnUpdate = subUpdates.Event();
        sub.Computers()->Add()->NotifyUpdate();
        QCOMPARE(subUpdates.Count, 0);

        TGroup group;
        group.Computers()->Add()->NotifyUpdate(); // unassigned event
        QVERIFY(!group.OnUpdate.Assigned());
    }

    void assignCopiesTheRecordButKeepsTypeAndSequence()
    {
        TComputer source;
        source.SetName(QStringLiteral("\\\\kept\\\\raw"));
        source.SetName(QStringLiteral("A\\\\B")); // stored normalised: B
        source.RefID = QStringLiteral("ref");
        source.Comments = QStringLiteral("notes");
        source.Descr = QStringLiteral("descr");
        source.IPAddress = QStringLiteral("10.0.0.5");
        source.SubNet = QStringLiteral("255.0.0.0");
        source.LocalSubnet = true;
        source.Port = 9;
        source.Online = true;
        source.LastPingDate = 45000.5;
        source.LastPingReply = QStringLiteral("Timed out");
        source.SendOptions = soInternet;
        source.Schedule().UseSchedule = true;
        source.Schedule().StartHour = 7;
        TMACAddress* adapter = source.MACAddresses()->Add();
        adapter->Address = QStringLiteral("00-11-22-33-44-55");
        adapter->UseForWake = false;
        adapter->IPAddress = QStringLiteral("10.0.0.5");
        adapter->AdapterIndex = 3;
        adapter->Descr = QStringLiteral("d");
        source.PingSequence = 7;

        TComputer target;
        target.PingSequence = 42;
        target.MACAddresses()->Add()->Address = QStringLiteral("AA-AA-AA-AA-AA-AA");
        target.MACAddresses()->Add();
        target.Assign(source);

        QCOMPARE(target.ItemID(), source.ItemID());
        QCOMPARE(target.Name(), source.Name());
        QCOMPARE(target.RefID, source.RefID);
        QCOMPARE(target.Comments, source.Comments);
        QCOMPARE(target.Descr, source.Descr);
        QCOMPARE(target.IPAddress, source.IPAddress);
        QCOMPARE(target.SubNet, source.SubNet);
        QCOMPARE(target.LocalSubnet, true);
        QCOMPARE(target.Port, 9);
        QCOMPARE(target.Online, true);
        QCOMPARE(target.LastPingDate, 45000.5);
        QCOMPARE(target.LastPingReply, source.LastPingReply);
        QCOMPARE(target.SendOptions, soInternet);
        QCOMPARE(target.Schedule().UseSchedule, true);
        QCOMPARE(target.Schedule().StartHour, quint16(7));
        QCOMPARE(target.PingSequence, quint16(42));
        QCOMPARE(target.MACAddresses()->Count(), 1);
        QCOMPARE(target.MACAddresses()->Items(0)->Address, adapter->Address);
        QCOMPARE(target.MACAddresses()->Items(0)->UseForWake, false);
        QVERIFY(target.MACAddresses()->Items(0)->IPAddress.isEmpty());
        QCOMPARE(target.MACAddresses()->Items(0)->AdapterIndex, 0);
        QVERIFY(target.MACAddresses()->Items(0)->Descr.isEmpty());

        // The type travels with neither copy direction.
        TComputer alias;
        alias.SetDataType(dtAlias);
        alias.Assign(source);
        QCOMPARE(alias.DataType(), dtAlias);
        QVERIFY(alias.MACAddresses() == nullptr);
        target.Assign(alias);
        QCOMPARE(target.DataType(), dtNormal);
    }

    void assignFromAnotherClassRaisesTheAssignmentError()
    {
        TComputer computer;
        TGroup group;
        TMACAddress adapter;
        TSchedule schedule;
        try {
            computer.Assign(group);
            QFAIL("no error raised");
        } catch (const EConvertError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot assign a TGroup to a TComputer"));
        }
        QVERIFY_THROWS_EXCEPTION(EConvertError, group.Assign(computer));
        QVERIFY_THROWS_EXCEPTION(EConvertError, adapter.Assign(schedule));
        QVERIFY_THROWS_EXCEPTION(EConvertError, schedule.Assign(adapter));
        QVERIFY_THROWS_EXCEPTION(EConvertError, group.Computers()->Assign(*computer.MACAddresses()));
    }

    void groupAssignCopiesDeepWithoutNotifying()
    {
        TGroup source;
        source.Name = QStringLiteral("DBROOT");
        source.ID = QStringLiteral("id");
        source.IsRoot = true;
        source.Comments = QStringLiteral("c");
        source.Schedule().ScheduleInterval = siOnce;
        for (const char* name : {"one", "two"}) {
            TComputer* c = source.Computers()->Add();
            c->SetName(QString::fromLatin1(name));
            c->MACAddresses()->Add()->Address = QStringLiteral("00-00-00-00-00-0") + QLatin1Char(name[1]);
        }

        TGroup target;
        UpdateCounter updates;
        target.OnUpdate = updates.Event();
        target.Computers()->Add();
        const int before = updates.Count;
        target.Assign(source);
        QCOMPARE(updates.Count, before);
        QCOMPARE(target.Name, source.Name);
        QCOMPARE(target.ID, source.ID);
        QCOMPARE(target.IsRoot, true);
        QCOMPARE(target.Comments, source.Comments);
        QCOMPARE(target.Schedule().ScheduleInterval, siOnce);
        QCOMPARE(target.Computers()->Count(), 2);
        for (int i = 0; i < 2; ++i) {
            TComputer* copy = target.Computers()->Items(i);
            TComputer* original = source.Computers()->Items(i);
            QVERIFY(copy != original);
            QCOMPARE(copy->ItemID(), original->ItemID());
            QCOMPARE(copy->Name(), original->Name());
            QCOMPARE(copy->MACAddresses()->Items(0)->Address, original->MACAddresses()->Items(0)->Address);
            QCOMPARE(target.FindComputer(original->ItemID()), copy);
        }
    }

    void aliasDropsAdaptersAndNormalRestoresAnEmptySet()
    {
        TComputer computer;
        computer.MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
        computer.RefID = QStringLiteral("{REF}");
        computer.SetDataType(dtAlias);
        QVERIFY(computer.MACAddresses() == nullptr);
        QCOMPARE(computer.RefID, QStringLiteral("{REF}"));
        computer.SetDataType(dtNormal);
        QVERIFY(computer.MACAddresses() != nullptr);
        QCOMPARE(computer.MACAddresses()->Count(), 0);
        QVERIFY(computer.RefID.isEmpty());
    }

    void computerFanOutCallsTheReceiverPerWakeEnabledAdapter()
    {
        SetNowSource([] { return 45000.25; });
        TGroup group;
        UpdateCounter updates;
        group.OnUpdate = updates.Event();
        TComputer* computer = group.Computers()->Add();
        const int afterAdd = updates.Count;
        computer->IPAddress = QStringLiteral("10.0.0.9");
        computer->SubNet = QStringLiteral("255.255.0.0");
        for (auto [address, wake] :
             {std::pair{"00-00-00-00-00-01", true}, std::pair{"00-00-00-00-00-02", false},
              std::pair{"00-00-00-00-00-03", true}}) {
            TMACAddress* adapter = computer->MACAddresses()->Add();
            adapter->Address = QString::fromLatin1(address);
            adapter->UseForWake = wake;
        }
        computer->Schedule().UseSchedule = true;
        computer->Schedule().StartHour = 6; // 45000.25 is 06:00

        // Without a receiver a due schedule changes nothing and saves nothing.
        computer->CheckSchedule();
        QCOMPARE(computer->Schedule().LastDate, -1.0);
        QCOMPARE(updates.Count, afterAdd);

        QStringList calls;
        computer->OnSchedule.Set(
            this, [&](TObject* sender, const QString& mac, const QString& ip, const QString& subnet) {
                QCOMPARE(sender, static_cast<TObject*>(computer));
                calls << mac + QLatin1Char('|') + ip + QLatin1Char('|') + subnet;
            });
        computer->CheckSchedule();
        QCOMPARE(calls, QStringList({"00-00-00-00-00-01|10.0.0.9|255.255.0.0",
                                     "00-00-00-00-00-03|10.0.0.9|255.255.0.0"}));
        QCOMPARE(computer->Schedule().LastDate, 45000.25);
        // One firing is stamped and saved once, however many adapters it wakes.
        QCOMPARE(updates.Count, afterAdd + 1);
        SetNowSource(nullptr);
    }

    void groupFanOutSkipsComputersWithTheirOwnSchedule()
    {
        SetNowSource([] { return 45000.5; });
        TGroup group;
        group.Schedule().UseSchedule = true;
        group.Schedule().StartHour = 12; // 45000.5 is noon
        TComputer* own = group.Computers()->Add();
        own->Schedule().UseSchedule = true;
        own->MACAddresses()->Add()->Address = QStringLiteral("own");
        TComputer* plain = group.Computers()->Add();
        plain->MACAddresses()->Add()->Address = QStringLiteral("first");
        plain->MACAddresses()->Add()->Address = QStringLiteral("second");
        group.Computers()->Add(); // no adapters: contributes nothing
        TComputer* alias = group.Computers()->Add();
        alias->SetDataType(dtAlias);

        UpdateCounter updates;
        group.OnUpdate = updates.Event();
        QStringList calls;
        group.OnSchedule.Set(this, [&](TObject* sender, const QString& mac, const QString&, const QString&) {
            QCOMPARE(sender, static_cast<TObject*>(&group));
            calls << mac;
        });
        group.CheckSchedule();
        QCOMPARE(calls, QStringList({"first", "second"}));
        QCOMPARE(group.Schedule().LastDate, 45000.5);
        QCOMPARE(updates.Count, 1);
        SetNowSource(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestComputers)
#include "tst_computers.moc"
