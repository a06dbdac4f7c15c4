#include "dialogs/dlgScan.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "model/scanResults.h"
#include "net/hostResolve.h"
#include "support/sambaPeer.h"
#include "support/scanLan.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

// A LAN of thirty peers: two answer NetBIOS (nmbd), three ignore echo requests, one has an Intel OUI.
class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandLineFindsEveryPeer_data();
    void commandLineFindsEveryPeer();
    void commandLineAddsOnlyNewOnes();
    void namesAreUnique();
    void dialogShowsProgressAndList();
    void oneMacForManyAddresses();
    void progressOnATerminalOnlyAndNoRoute();

private:
    enum TWay
    {
        wyRoot,
        wyUnprivileged,
        wyOffLink
    };
    QJsonArray ScanJson(TWay way);
    QString Run(const QStringList& arguments, TWay way = wyRoot, int* exitCode = nullptr);
    void MakeDatabase(const QString& file);

    QString FSkip;
    QString FErr; // of the last Run
    std::unique_ptr<TScanLan> FLan;
    std::vector<std::unique_ptr<TSambaPeer>> FSamba;
    std::unique_ptr<TNamespaceEntry> FEntry;
    std::unique_ptr<QTemporaryDir> FTemp;
};

namespace {

constexpr int Peers = 30;
// The peers and the router, which is a host of the network too.
constexpr int Hosts = Peers + 1;
constexpr int IntelPeer = 4;
const QString IntelMac = QStringLiteral("00:1b:21:5c:07:0f");
const QStringList NetBiosNames = {QStringLiteral("SWSCANA"), QStringLiteral("SWSCANB")};
constexpr int KnownByMac = 6, KnownByIp = 7;

} // namespace

void TestScan::initTestCase()
{
    if (!TTestNamespace::Available(&FSkip) || !TSambaPeer::Available(&FSkip))
        return;
    FTemp = std::make_unique<QTemporaryDir>();
    // Read by the unprivileged run too; mDNS off: the Avahi daemon of the machine would ask the real LAN.
    QFile::setPermissions(FTemp->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::ExeOther);
    QDir().mkpath(FTemp->filePath(QStringLiteral("sablewick")));
    QFile conf(FTemp->filePath(QStringLiteral("sablewick/sablewick.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[scan]\nmdns=false\n");
    conf.close();

    FLan = std::make_unique<TScanLan>(7, Peers);
    FLan->SetMac(IntelPeer, IntelMac);
    QString error;
    QVERIFY2(FLan->Build(&error), qPrintable(error));
    for (int i : {2, 5, 8})
        QCOMPARE(
            FLan->Peers()[size_t(i)].Namespace->Exec({"sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1"}),
            0);
    for (int i = 0; i < NetBiosNames.size(); ++i) {
        const auto& peer = FLan->Peers()[size_t(i)];
        FSamba.push_back(std::make_unique<TSambaPeer>(
            *peer.Namespace,
            TSambaPeer::TOptions{NetBiosNames[i], QStringLiteral("SWSCANWG"), peer.Address + "/24"}));
        QVERIFY2(FSamba.back()->Start(&error), qPrintable(error));
    }
    // nmbd answers a node status once its names are registered.
    for (int i = 0; i < NetBiosNames.size(); ++i) {
        const QString address = FLan->Peers()[size_t(i)].Address;
        const bool up = FSamba[size_t(i)]->AwaitNames(
            [&] {
                QString output;
                FLan->Scanner().Exec({"nmblookup", "-A", address}, &output, 3000);
                return output.contains(NetBiosNames[i]);
            },
            &error);
        QVERIFY2(up, qPrintable(error));
    }
    FEntry = std::make_unique<TNamespaceEntry>(FLan->Scanner());
    QVERIFY(FEntry->Ok());
}

void TestScan::cleanupTestCase()
{
    FEntry.reset();
    FSamba.clear();
    FLan.reset();
}

QString TestScan::Run(const QStringList& arguments, TWay way, int* exitCode)
{
    QStringList command{"netns", "exec", (way == wyOffLink ? FLan->RemoteScanner() : FLan->Scanner()).Name()};
    // Without the raw-socket capability no packet socket opens; still root, as the command line serves
    // administrators only.
    if (way == wyUnprivileged)
        command << "setpriv"
                << "--inh-caps=-net_raw"
                << "--bounding-set=-net_raw";
    command << qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick") << arguments;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), FTemp->path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("ip"), command);
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitCode();
    const QString err = FErr = QString::fromUtf8(process.readAllStandardError());
    if (!err.isEmpty())
        qWarning() << err;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QJsonArray TestScan::ScanJson(TWay way)
{
    return QJsonDocument::fromJson(
               Run({"--scan", FLan->Network(), "--json", "--database", FTemp->filePath("none.ccn")}, way)
                   .toUtf8())
        .array();
}

void TestScan::commandLineFindsEveryPeer_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("own ARP requests") << int(wyRoot);
    QTest::newRow("kernel's resolution") << int(wyUnprivileged);
    // Echo requests, and TCP probes for the three that ignore them; no MAC crosses the router.
    QTest::newRow("behind a router") << int(wyOffLink);
}

void TestScan::commandLineFindsEveryPeer()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QFETCH(int, way);
    const QJsonArray hosts = ScanJson(TWay(way));
    const bool macs = way != wyOffLink;
    QCOMPARE(hosts.size(), Hosts);
    QCOMPARE(hosts[Peers].toObject().value("ip").toString(), QStringLiteral("10.233.7.254"));
    for (int i = 0; i < Peers; ++i) {
        const auto& peer = FLan->Peers()[size_t(i)];
        const QJsonObject host = hosts[i].toObject();
        QCOMPARE(host.value("ip").toString(), peer.Address);
        QCOMPARE(host.value("mac").toString(), macs ? peer.Mac.toUpper() : QString());
        QCOMPARE(host.value("vendor").toString(),
                 macs && i == IntelPeer ? QStringLiteral("Intel Corporate") : QString());
        QCOMPARE(host.value("name").toString(), i < NetBiosNames.size() ? NetBiosNames[i] : QString());
        QCOMPARE(host.value("known"), QJsonValue(false));
    }
}

void TestScan::MakeDatabase(const QString& file)
{
    TOstrelDatabase db;
    db.FileName = file;
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    TComputer* byMac = group.Computers()->Add();
    byMac->SetName(QStringLiteral("Known MAC"));
    byMac->IPAddress = QStringLiteral("192.0.2.1");
    byMac->MACAddresses()->Add()->Address = FLan->Peers()[KnownByMac].Mac.toUpper();
    TComputer* byIp = group.Computers()->Add();
    byIp->SetName(QStringLiteral("Known IP"));
    byIp->IPAddress = FLan->Peers()[KnownByIp].Address;
    QVERIFY(SaveGroup(group));
    group.Storage.reset();
}

void TestScan::commandLineAddsOnlyNewOnes()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    const QString file = FTemp->filePath(QStringLiteral("add.ccn"));
    MakeDatabase(file);
    const QStringList list{"--scan", FLan->Network(), "--database", file};
    QString out = Run(list);
    QVERIFY2(out.contains(FLan->Peers()[KnownByMac].Address + "\t" + FLan->Peers()[KnownByMac].Mac.toUpper() +
                          "\t\t\tas Known MAC\n"),
             qPrintable(out));
    int exitCode = -1;
    QCOMPARE(Run(list + QStringList{"--add"}, wyRoot, &exitCode), QStringLiteral("29 computers added\n"));
    QCOMPARE(exitCode, 0);
    // Again: every host is known now.
    QCOMPARE(Run(list + QStringList{"--add"}), QStringLiteral("0 computers added\n"));

    TOstrelDatabase db;
    db.FileName = file;
    const std::unique_ptr<TGroup> root = LoadDatabase(db);
    QCOMPARE(root->Computers()->Count(), Hosts);
    for (int i = 0; i < Peers; ++i) {
        if (i == KnownByMac || i == KnownByIp)
            continue;
        const auto& peer = FLan->Peers()[size_t(i)];
        const TComputer* computer = root->Computers()->Items(2 + i -
                                                             (i > KnownByIp    ? 2
                                                              : i > KnownByMac ? 1
                                                                               : 0));
        QCOMPARE(computer->Name(), i < NetBiosNames.size() ? NetBiosNames[i] : peer.Address);
        QCOMPARE(computer->IPAddress, peer.Address);
        QCOMPARE(computer->SubNet, QStringLiteral("255.255.255.0"));
        QCOMPARE(computer->SendOptions, soLAN);
        QCOMPARE(computer->MACAddresses()->Count(), 1);
        QCOMPARE(computer->MACAddresses()->Items(0)->Address, peer.Mac.toUpper());
        QVERIFY(computer->MACAddresses()->Items(0)->UseForWake);
    }
}

void TestScan::namesAreUnique()
{
    QTemporaryDir dir;
    TOpenDatabase database(dir.filePath(QStringLiteral("names.ccn")), TOpenDatabase::omReadWrite);
    database.Open();
    database.AddComputer()->SetName(QStringLiteral("PC"));
    std::vector<TScanHost> hosts(5);
    hosts[0].Name = QStringLiteral("pc");
    hosts[1].Name = QStringLiteral("PC");
    hosts[2].Name = QStringLiteral("pc (2)"); // taken by the first by now
    hosts[3].Address = 0x0A000005;
    hosts[3].Mac = QStringLiteral("00-1b-21-0a-0b-0c");
    hosts[4].Name = QStringLiteral("\\\\EVIL\\\\PC\x1b]0;t\x07\u009b");
    QSignalSpy saves(&database, &TOpenDatabase::Saved);
    const auto added = AddScannedHosts(database, hosts, 0xFFFFFF00);
    QCOMPARE(saves.count(), 1);
    QStringList names;
    for (const TComputer* computer : added)
        names << computer->Name();
    QCOMPARE(names, (QStringList{"pc (2)", "PC (3)", "pc (2) (2)", "10.0.0.5", "EVILPC]0;t"}));
    QCOMPARE(added[3]->MACAddresses()->Items(0)->Address, QStringLiteral("00-1B-21-0A-0B-0C"));
    QCOMPARE(added[3]->SubNet, QStringLiteral("255.255.255.0"));
}

void TestScan::dialogShowsProgressAndList()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    TGroup root;
    TComputer* known = root.Computers()->Add();
    known->SetName(QStringLiteral("Known MAC"));
    known->MACAddresses()->Add()->Address = FLan->Peers()[KnownByMac].Mac.toUpper();
    TScanOptions options;
    options.Mdns = false;
    options.Rate = 100; // slow enough to see the bar move
    TfrmScan dialog(&root, options);
    dialog.show();
    QCOMPARE(dialog.cbNetwork->currentText(), FLan->Network()); // this machine's one network
    QVERIFY(!dialog.btnAdd->isEnabled());
    dialog.btnStart->click();
    QVERIFY(dialog.Scanning() && dialog.btnStop->isEnabled() && !dialog.btnStart->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.pbProgress->value() > 0, 5000);
    QVERIFY(dialog.pbProgress->value() < dialog.pbProgress->maximum());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Scanning(), 20000);
    QCOMPARE(dialog.lbFound->text(), QStringLiteral("Found: 31"));
    QCOMPARE(dialog.lvHosts->topLevelItemCount(), Hosts);
    const QTreeWidgetItem* greyed = dialog.lvHosts->topLevelItem(KnownByMac);
    QVERIFY(!(greyed->flags() & Qt::ItemIsEnabled));
    QCOMPARE(greyed->text(4), QStringLiteral("as Known MAC"));
    QCOMPARE(dialog.SelectedHosts().size(), size_t(Hosts - 1));
    dialog.lvHosts->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QCOMPARE(dialog.SelectedHosts().size(), size_t(Hosts - 2));
    QVERIFY(dialog.btnAdd->isEnabled());
}

// A peer holding five addresses answers ARP as a router's proxy ARP does: one MAC for many hosts.
void TestScan::oneMacForManyAddresses()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    const auto& peer = FLan->Peers().back();
    const QStringList many{peer.Address, "10.233.7.101", "10.233.7.102", "10.233.7.103", "10.233.7.104"};
    auto alias = [&](int count) { // and how many hosts a scan then marks
        for (const QString& address : many.mid(1, count))
            peer.Namespace->Exec({"ip", "addr", "add", address + "/24", "dev", "p0"});
        return Run({"--scan", FLan->Network(), "--json", "--database", FTemp->filePath("none.ccn")})
            .count(QLatin1String("\"sharedMac\": 5"));
    };
    QCOMPARE(alias(3), 0); // four are not yet many
    QCOMPARE(alias(4), 5);
    const QStringList add{"--scan", FLan->Network(), "--add", "--database"};
    QCOMPARE(Run(add + QStringList{FTemp->filePath("a.ccn")}), QString("30 computers added\n"));
    QVERIFY2(FErr.contains(QLatin1String("several addresses: 5 (--add-shared")), qPrintable(FErr));
    QCOMPARE(Run(add + QStringList{FTemp->filePath("b.ccn"), "--add-shared"}),
             QString("35 computers added\n"));
    TfrmScan dialog(nullptr, TScanOptions{TScanOptions::DefaultRate, false, true});
    dialog.btnStart->click();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Scanning(), 20000);
    for (int i = 0; i < dialog.lvHosts->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = dialog.lvHosts->topLevelItem(i);
        QCOMPARE(item->checkState(0) == Qt::Unchecked, many.contains(item->text(0)));
    }
    QCOMPARE(dialog.lvHosts->topLevelItem(Peers - 1)->text(4),
             "one MAC answers for 5 addresses: a router's proxy ARP?");
    for (const QString& address : many.mid(1)) // one address of that MAC left; else they end with the LAN
        peer.Namespace->Exec({"ip", "addr", "del", address + "/24", "dev", "p0"});
    QCOMPARE(Run(add + QStringList{FTemp->filePath("a.ccn")}), QString("1 computer added\n"));
}

// Progress on a terminal only; and a network without a route is said to have none.
void TestScan::progressOnATerminalOnlyAndNoRoute()
{
    if (!FSkip.isEmpty())
        QSKIP(qPrintable(FSkip));
    QString terminal;
    int exitCode = -1;
    Run({"--scan", FLan->Network()});
    QCOMPARE(FErr, QString());
    const QString line =
        qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + "/sablewick --scan 10.233.7.0/24 >/dev/null";
    QCOMPARE(FLan->Scanner().Exec({"script", "-qec", line, "/dev/null"}, &terminal, 60000), 0);
    QVERIFY(terminal.contains(QRegularExpression(
        "^\r\\d+ of 253 .*\r253 of 253 addresses probed, 31 hosts found, about 0 s left *\r?\n$")));
    QCOMPARE(Run({"--scan", "10.78.0.0/24"}, wyRoot, &exitCode), QString());
    QCOMPARE(exitCode, 1);
    QCOMPARE(FErr, QStringLiteral("sablewick: there is no route from this computer to 10.78.0.0/24\n"));
}

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
