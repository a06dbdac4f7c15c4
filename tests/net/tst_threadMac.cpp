#include "net/hostResolve.h"
#include "net/netbiosPacket.h"
#include "net/threadMac.h"
#include "net/utilsNetwork.h"
#include "support/netns.h"
#include "support/sambaPeer.h"

#include <arpa/inet.h>
#include <memory>
#include <QRegularExpression>
#include <QtTest>

// MAC detection against peers in network namespaces. The test process first moves into a namespace of
// its own, so the adapters it finds and the broadcasts it sends are only the test's veths:
//   own namespace 10.232.1.1/24 and 10.232.2.1/24 -- peer namespace 10.232.1.2/24 and 10.232.2.2/24
//   own namespace 10.232.3.1/24 -- Samba namespace 10.232.3.2/24 (nmbd)
// The peer's name server is the test's own: Samba's nmbd answers every node status with a unit ID of
// zeros and cannot send a reply of a chosen shape.
class TestThreadMac : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void remoteComputer_data();
    void remoteComputer();
    void workerDeliversResult();
    void workerStoppedBeforeRunFindsNothing();
    void malformedReplyIgnored_data();
    void malformedReplyIgnored();
    void localFallbackRule_data();
    void localFallbackRule();
    void localInterfacesListed();
    void thisComputerFromAdapters_data();
    void thisComputerFromAdapters();
    void sambaZeroUnitIdIgnored();
    void netBiosNameGivesAddress();
    void neighbourTableWithoutNetBios_data();
    void neighbourTableWithoutNetBios();

private:
    bool OnlyAdapter(const QString& prefix);

    QString FSkip;
    std::unique_ptr<TTestNamespace> FClient;
    std::unique_ptr<TNamespaceEntry> FEntry;
    std::unique_ptr<TTestNamespace> FPeer;
    std::unique_ptr<TNbnsResponder> FResponder;
    QByteArray FLastStatusName;
    TNbnsResponder::TStatusAnswer FStatus;
};

namespace {

const QByteArray UnitId("\x00\x0c\x29\xaa\xbb\xcc", 6);
const QString UnitIdText = QStringLiteral("00-0c-29-aa-bb-cc");

// The name that a server registers for "REMOTEPC", and the wildcard.
QByteArray Registered(const char* name)
{
    QByteArray bytes(name);
    return bytes + QByteArray(16 - bytes.size(), ' ');
}
const QByteArray Wildcard = QByteArray("*") + QByteArray(15, '\0');

QByteArray GoodStatus(quint16 id, const QByteArray& name16)
{
    return TNbnsResponder::NodeStatusReply(id, name16, {"REMOTEPC", "WORKGROUP"}, UnitId);
}

} // namespace

void TestThreadMac::initTestCase()
{
    if (!TTestNamespace::Available(&FSkip))
        return;
    FClient = std::make_unique<TTestNamespace>(QStringLiteral("macc"));
    FEntry = std::make_unique<TNamespaceEntry>(*FClient);
    if (!FClient->Ok() || !FEntry->Ok()) {
        FSkip = QStringLiteral("cannot enter a network namespace of the test's own");
        return;
    }
    FPeer = std::make_unique<TTestNamespace>(QStringLiteral("macp"));
    QString error;
    if (!ConnectVeth(nullptr, "10.232.1.1/24", FPeer.get(), "10.232.1.2/24", &error) ||
        !ConnectVeth(nullptr, "10.232.2.1/24", FPeer.get(), "10.232.2.2/24", &error)) {
        FSkip = error;
        return;
    }
    FResponder = std::make_unique<TNbnsResponder>(*FPeer);
    // REMOTEPC is at the peer's address on whichever network the question came from.
    FResponder->SetNameAnswer([](const QByteArray& name16, quint32 source) -> quint32 {
        return name16 == Registered("REMOTEPC") ? (source & 0xFFFFFF00u) | 2u : 0u;
    });
    FResponder->SetStatusAnswer([this](quint16 id, const QByteArray& name16) {
        FLastStatusName = name16;
        return FStatus ? FStatus(id, name16) : QByteArray();
    });
    if (!FResponder->Start(&error))
        FSkip = error;
}

void TestThreadMac::cleanupTestCase()
{
    SetMacDetectionSources({});
    FResponder.reset();
    FPeer.reset();
    FEntry.reset();
    FClient.reset();
}

void TestThreadMac::cleanup()
{
    SetMacDetectionSources({});
    FStatus = nullptr;
}

bool TestThreadMac::OnlyAdapter(const QString& prefix)
{
    std::vector<TLanAdapter> adapters;
    EnumerateLanAdapters(adapters);
    TLanAdapter chosen;
    for (const TLanAdapter& adapter : adapters) {
        in_addr address{htonl(adapter.Address)};
        if (QString::fromLatin1(inet_ntoa(address)).startsWith(prefix))
            chosen = adapter;
    }
    if (chosen.Address == 0)
        return false;
    SetMacDetectionSources({[chosen](std::vector<TLanAdapter>& list) {
                                list = {chosen};
                                return true;
                            },
                            nullptr});
    return true;
}

void TestThreadMac::remoteComputer_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("askedName");
    QTest::addColumn<int>("entries");
    // Reachable through both adapters: listed once per adapter, duplicates kept.
    QTest::newRow("name as registered") << "REMOTEPC" << Registered("REMOTEPC") << 2;
    QTest::newRow("lower case name") << "remotepc" << Registered("REMOTEPC") << 2;
    // An address asks whatever node holds it, once per adapter. Through the second adapter the peer
    // answers from its other address, which is not the one asked: not believed.
    QTest::newRow("dotted address") << "10.232.1.2" << Wildcard << 1;
    QTest::newRow("nobody of that name") << "ELSEWHERE" << QByteArray() << 0;
}

void TestThreadMac::remoteComputer()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QFETCH(QString, name);
    QFETCH(QByteArray, askedName);
    QFETCH(int, entries);
    FStatus = GoodStatus;
    FLastStatusName.clear();
    QStringList list{QStringLiteral("stale")};
    const int count = DetectMACAddresses(name, list);
    QCOMPARE(count, 2); // the two veths of the test's namespace
    QCOMPARE(list, QStringList(entries, UnitIdText));
    QCOMPARE(FLastStatusName, askedName);
    // What the wizard puts into its MAC field, upper-cased by the field's mask.
    for (const QString& mac : list)
        QVERIFY2(IsValidMAC(mac.toUpper()), qPrintable(mac));
}

void TestThreadMac::workerDeliversResult()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    FStatus = GoodStatus;
    QStringList result;
    bool done = false;
    auto* worker = new TMACThread(QStringLiteral("remotepc"));
    QPointer<TMACThread> alive(worker);
    worker->SetOnTerminate([&](TWorkerThread* sender) {
        result = static_cast<TMACThread*>(sender)->Result();
        done = true;
    });
    worker->Start();
    QTRY_VERIFY_WITH_TIMEOUT(done, 15000);
    QCOMPARE(result, QStringList(2, UnitIdText));
    QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 5000); // frees itself
}

void TestThreadMac::workerStoppedBeforeRunFindsNothing()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    FStatus = GoodStatus;
    const int asked = FResponder->StatusRequests() + FResponder->NameQueries();
    bool done = false;
    QStringList result{QStringLiteral("unset")};
    auto* worker = new TMACThread(QStringLiteral("remotepc"));
    worker->SetOnTerminate([&](TWorkerThread* sender) {
        result = static_cast<TMACThread*>(sender)->Result();
        done = true;
    });
    worker->AskToStop();
    worker->Start();
    QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
    QVERIFY(result.isEmpty());
    QCOMPARE(FResponder->StatusRequests() + FResponder->NameQueries(), asked);
}

namespace {

enum TSpoil
{
    spNone,
    spManyNames,
    spZeroUnitId,
    spHeaderOnly,
    spCutInNameTable,
    spCutInUnitId,
    spNameCountBeyondRecord,
    spDataLengthBeyondDatagram,
    spOtherTransaction,
    spErrorCode,
    spNameRecordType,
    spNoAnswerRecord,
    spNotAResponse,
    spBroadcastUnitId,
    spMulticastUnitId,
};

// Offsets in a reply that carries the full (uncompressed) name: header 12, name 34, type, class, TTL.
constexpr int DataLengthAt = 54;
constexpr int NameCountAt = 56;

QByteArray Spoiled(TSpoil spoil, quint16 id, const QByteArray& name16)
{
    QByteArray reply = GoodStatus(id, name16);
    if (spoil == spZeroUnitId)
        reply = TNbnsResponder::NodeStatusReply(id, name16, {"REMOTEPC"}, QByteArray(6, '\0'));
    if (spoil == spBroadcastUnitId)
        reply = TNbnsResponder::NodeStatusReply(id, name16, {"REMOTEPC"}, QByteArray(6, '\xff'));
    if (spoil == spMulticastUnitId)
        reply = TNbnsResponder::NodeStatusReply(id, name16, {"REMOTEPC"},
                                                QByteArray("\x01\x00\x5e\x00\x00\x01", 6));
    if (spoil == spManyNames) {
        QList<QByteArray> names;
        for (int i = 0; i < 200; ++i)
            names << QByteArray("NAME") + QByteArray::number(i);
        reply = TNbnsResponder::NodeStatusReply(id, name16, names, UnitId);
    }
    const int unitAt = NameCountAt + 1 + 2 * 18;
    switch (spoil) {
    case spNone:
    case spManyNames:
    case spZeroUnitId:
    case spBroadcastUnitId:
    case spMulticastUnitId:
        break;
    case spHeaderOnly:
        reply.truncate(12);
        break;
    case spCutInNameTable:
        reply.truncate(NameCountAt + 1 + 18 + 5);
        break;
    case spCutInUnitId:
        reply.truncate(unitAt + 3);
        break;
    case spNameCountBeyondRecord:
        reply[NameCountAt] = char(200);
        break;
    case spDataLengthBeyondDatagram:
        reply[DataLengthAt] = char(0xFF);
        reply[DataLengthAt + 1] = char(0xFF);
        break;
    case spOtherTransaction:
        reply[1] = char(reply[1] ^ 0x01);
        break;
    case spErrorCode:
        reply[3] = char(reply[3] | 0x03);
        break;
    case spNameRecordType:
        reply[DataLengthAt - 7] = char(0x20); // the record type
        break;
    case spNoAnswerRecord:
        reply[7] = 0;
        break;
    case spNotAResponse:
        reply[2] = char(reply[2] & 0x7F);
        break;
    }
    return reply;
}

} // namespace

void TestThreadMac::malformedReplyIgnored_data()
{
    QTest::addColumn<int>("spoil");
    QTest::addColumn<bool>("listed");
    QTest::newRow("well formed") << int(spNone) << true;
    QTest::newRow("larger than a frame: 200 names") << int(spManyNames) << true;
    QTest::newRow("all-zero unit ID") << int(spZeroUnitId) << false;
    QTest::newRow("broadcast unit ID") << int(spBroadcastUnitId) << false;
    QTest::newRow("multicast unit ID") << int(spMulticastUnitId) << false;
    QTest::newRow("header only") << int(spHeaderOnly) << false;
    QTest::newRow("cut in the name table") << int(spCutInNameTable) << false;
    QTest::newRow("cut in the unit ID") << int(spCutInUnitId) << false;
    QTest::newRow("name count beyond the record") << int(spNameCountBeyondRecord) << false;
    QTest::newRow("data length beyond the datagram") << int(spDataLengthBeyondDatagram) << false;
    QTest::newRow("another transaction") << int(spOtherTransaction) << false;
    QTest::newRow("error reply") << int(spErrorCode) << false;
    QTest::newRow("name record instead of status") << int(spNameRecordType) << false;
    QTest::newRow("no answer record") << int(spNoAnswerRecord) << false;
    QTest::newRow("request bounced back") << int(spNotAResponse) << false;
}

void TestThreadMac::malformedReplyIgnored()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QFETCH(int, spoil);
    QFETCH(bool, listed);
    QVERIFY(OnlyAdapter(QStringLiteral("10.232.1.")));
    FStatus = [spoil](quint16 id, const QByteArray& name16) { return Spoiled(TSpoil(spoil), id, name16); };
    const int asked = FResponder->StatusRequests();
    QStringList list;
    QCOMPARE(DetectMACAddresses(QStringLiteral("REMOTEPC"), list), 1);
    QVERIFY(FResponder->StatusRequests() > asked); // the reply was sent
    QCOMPARE(list, listed ? QStringList{UnitIdText} : QStringList());
}

void TestThreadMac::localFallbackRule_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("enumeration"); // -1 fails, 0 no adapters, 1 the real ones
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("fallback");
    QTest::newRow("named, enumeration fails") << "REMOTEPC" << -1 << -1 << false;
    QTest::newRow("named, nobody answers") << "ELSEWHERE" << 1 << 2 << false;
    QTest::newRow("this computer, no adapters") << "" << 0 << 0 << false;
    QTest::newRow("this computer, enumeration fails") << "" << -1 << 5 << true;
}

void TestThreadMac::localFallbackRule()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QFETCH(QString, name);
    QFETCH(int, enumeration);
    QFETCH(int, count);
    QFETCH(bool, fallback);
    FStatus = GoodStatus;
    int fallbackRuns = 0;
    const QStringList local{QStringLiteral("02-32-00-00-00-01"), QStringLiteral("02-32-00-00-00-02")};
    SetMacDetectionSources({[enumeration](std::vector<TLanAdapter>& adapters) {
                                if (enumeration < 0)
                                    return false;
                                if (enumeration == 0) {
                                    adapters.clear();
                                    return true;
                                }
                                return EnumerateLanAdapters(adapters);
                            },
                            [&](QStringList& list) {
                                ++fallbackRuns;
                                list << local;
                                return 5;
                            }});
    QStringList list;
    QCOMPARE(DetectMACAddresses(name, list), count);
    QCOMPARE(fallbackRuns, fallback ? 1 : 0);
    QCOMPARE(list, fallback ? local : QStringList());
}

void TestThreadMac::localInterfacesListed()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    // What the kernel says, read by another program: every interface, and the Ethernet addresses.
    // (No interface type here can carry an all-zero Ethernet address, so that case is not built.)
    QString links;
    QCOMPARE(RunCommand("ip", {"-o", "link", "show"}, &links), 0);
    QStringList expected;
    const QStringList lines = links.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QRegularExpression ether(QStringLiteral(R"(link/ether (\S+))"));
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = ether.match(line);
        if (match.hasMatch())
            expected << match.captured(1).toLower().replace(QLatin1Char(':'), QLatin1Char('-'));
    }
    QCOMPARE(expected.size(), 2); // the two veth ends of this namespace; its loopback is not Ethernet

    SetMacDetectionSources({[](std::vector<TLanAdapter>&) { return false; }, nullptr});
    QStringList list;
    QCOMPARE(DetectMACAddresses(QString(), list), int(lines.size()));
    QCOMPARE(list, expected);
}

void TestThreadMac::thisComputerFromAdapters_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("no name") << QString();
    // Any name or address of its own: its name service would answer with zeros, if it runs at all.
    QTest::newRow("loopback address") << "127.0.0.1";
    QTest::newRow("localhost") << "localhost";
    QTest::newRow("own LAN address") << "10.232.2.1";
    QTest::newRow("host name") << QSysInfo::machineHostName().toUpper();
}

void TestThreadMac::thisComputerFromAdapters()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QFETCH(QString, name);
    // The kernel's word on each adapter's address, read by another program, in adapter order.
    std::vector<TLanAdapter> adapters;
    QVERIFY(EnumerateLanAdapters(adapters));
    QCOMPARE(int(adapters.size()), 2);
    QStringList expected;
    const QRegularExpression ether(QStringLiteral(R"(link/ether (\S+))"));
    for (const TLanAdapter& adapter : adapters) {
        QString link;
        QCOMPARE(RunCommand("ip", {"-o", "link", "show", "dev", adapter.Name}, &link), 0);
        expected << ether.match(link).captured(1).replace(QLatin1Char(':'), QLatin1Char('-'));
    }
    FStatus = GoodStatus; // a question on the wire would be answered with another address
    const int asked = FResponder->StatusRequests() + FResponder->NameQueries();
    QStringList list;
    QCOMPARE(DetectMACAddresses(name, list), 2);
    QCOMPARE(list, expected);
    QCOMPARE(FResponder->StatusRequests() + FResponder->NameQueries(), asked);
}

void TestThreadMac::sambaZeroUnitIdIgnored()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QString reason;
    if (!TSambaPeer::Available(&reason))
        QSKIP(qPrintable(reason));
    TTestNamespace samba(QStringLiteral("macs"));
    QString error;
    QVERIFY2(ConnectVeth(nullptr, "10.232.3.1/24", &samba, "10.232.3.2/24", &error), qPrintable(error));
    TSambaPeer peer(samba,
                    {QStringLiteral("SWSAMBA"), QStringLiteral("SWMACWG"), QStringLiteral("10.232.3.2/24")});
    QVERIFY2(peer.Start(&error), qPrintable(error));
    // nmbd answers by name once it has registered its names.
    QString output;
    if (!peer.AwaitNames(
            [&output] {
                return RunCommand("nmblookup", {"-B", "10.232.3.255", "SWSAMBA"}, &output, 3000) == 0 &&
                       output.contains(QStringLiteral("10.232.3.2 SWSAMBA"));
            },
            &error))
        QSKIP(qPrintable(error));
    // What this test stands on: Samba's adapter status carries a unit ID of zeros.
    QCOMPARE(RunCommand("nmblookup", {"-A", "10.232.3.2"}, &output, 10000), 0);
    QVERIFY2(output.contains(QStringLiteral("MAC Address = 00-00-00-00-00-00")), qPrintable(output));

    QVERIFY(OnlyAdapter(QStringLiteral("10.232.3.")));
    QStringList list;
    QCOMPARE(DetectMACAddresses(QStringLiteral("swsamba"), list), 1);
    QVERIFY(list.isEmpty());
}

void TestThreadMac::netBiosNameGivesAddress()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    // Not in any file or DNS: only the computer's own name service knows it.
    QVERIFY(OnlyAdapter(QStringLiteral("10.232.2.")));
    QCOMPARE(ResolveHostAddress(QStringLiteral("remotepc")), QStringLiteral("10.232.2.2"));
    QCOMPARE(ResolveHostAddress(QStringLiteral("nobodyhere")), QString());
}

void TestThreadMac::neighbourTableWithoutNetBios_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::newRow("Linux host on the LAN") << "10.232.4.2" << true;
    // Behind a router the table would only hold the router's address: no guess.
    QTest::newRow("off every local network") << "10.232.9.9" << false;
}

void TestThreadMac::neighbourTableWithoutNetBios()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QFETCH(QString, name);
    QFETCH(bool, found);
    // A peer that runs no name service at all.
    TTestNamespace bare(QStringLiteral("macl"));
    QString error;
    QVERIFY2(ConnectVeth(nullptr, "10.232.4.1/24", &bare, "10.232.4.2/24", &error), qPrintable(error));
    QString hardware;
    QCOMPARE(bare.Exec({"ip", "-o", "link", "show"}, &hardware), 0);
    const QString peerMac = QRegularExpression(QStringLiteral("link/ether ([0-9a-f:]{17})"))
                                .match(hardware)
                                .captured(1)
                                .replace(':', '-');
    QVERIFY(!peerMac.isEmpty());

    QStringList result{QStringLiteral("unset")};
    bool done = false;
    auto* worker = new TMACThread(name);
    worker->SetOnTerminate([&](TWorkerThread* sender) {
        result = static_cast<TMACThread*>(sender)->Result();
        done = true;
    });
    worker->Start();
    QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
    QCOMPARE(result, found ? QStringList{peerMac} : QStringList());
    // The detected form is what the wizard's MAC field takes.
    for (const QString& mac : result)
        QVERIFY2(IsValidMAC(mac.toUpper()), qPrintable(mac));
}

QTEST_GUILESS_MAIN(TestThreadMac)
#include "tst_threadMac.moc"
