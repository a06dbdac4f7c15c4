#include "model/computers.h"
#include "net/threadWOL.h"
#include "support/netns.h"

#include <arpa/inet.h>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <QElapsedTimer>
#include <QtTest>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct TDatagram
{
    QByteArray Payload;
    QString Destination; // the address the datagram was sent to (from the IP header)
    qint64 ElapsedMs = 0;
};

const char* WakeOnceArgument = "--wake-once";

// The child process: wakes 00-11-22-AA-BB-CC once on the LAN of ADDRESS MASK at PORT, and ends when the
// sender has: 3 when the packet went off-link, 0 otherwise.
int WakeOnce(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 5)
        return 2;
    auto* sender = new TWOLThread(TWakeTarget{QStringLiteral("00-11-22-AA-BB-CC"), false,
                                              QString::fromLocal8Bit(argv[2]),
                                              QString::fromLocal8Bit(argv[3]), std::atoi(argv[4])},
                                  0);
    int code = 0;
    sender->SetOnTerminate([&app, &code](TWorkerThread* worker) {
        const auto* done = static_cast<const TWOLThread*>(worker);
        code = done->Sent() && done->Route().OffLink ? 3 : 0;
        app.quit();
    });
    sender->Start();
    app.exec();
    return code;
}

// Runs fn on a thread of its own that has entered the named network namespace (the test's own
// namespace when the name is empty). Sockets keep the namespace they were made in, and threads started
// from there inherit it.
bool RunInNamespace(const QString& ns, const std::function<void()>& fn)
{
    bool ok = true;
    std::thread worker([&] {
        if (!ns.isEmpty()) {
            const int fd = ::open(qPrintable(QStringLiteral("/run/netns/") + ns), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
                ok = false;
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            ::close(fd);
        }
        fn();
    });
    worker.join();
    return ok;
}

// A UDP listener on 0.0.0.0 that records every datagram with the destination address it carried.
class TListener
{
public:
    explicit TListener(const QString& ns = QString())
    {
        RunInNamespace(ns, [this] {
            FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            ::setsockopt(FSocket, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_addr.s_addr = htonl(INADDR_ANY);
            if (::bind(FSocket, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0)
                return;
            socklen_t length = sizeof(any);
            ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&any), &length);
            FPort = ntohs(any.sin_port);
        });
        FClock.start();
    }
    ~TListener()
    {
        if (FSocket >= 0)
            ::close(FSocket);
    }
    bool Ok() const { return FPort != 0; }
    quint16 Port() const { return FPort; }
    void RestartClock() { FClock.restart(); }

    // Waits up to timeoutMs for the next datagram.
    std::optional<TDatagram> Next(int timeoutMs)
    {
        pollfd p{FSocket, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        char buffer[2048];
        char control[256];
        iovec io{buffer, sizeof(buffer)};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t size = ::recvmsg(FSocket, &message, 0);
        if (size < 0)
            return std::nullopt;
        TDatagram datagram;
        datagram.ElapsedMs = FClock.elapsed();
        datagram.Payload = QByteArray(buffer, static_cast<int>(size));
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                memcpy(&info, CMSG_DATA(c), sizeof(info));
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &info.ipi_addr, text, sizeof(text));
                datagram.Destination = QString::fromLatin1(text);
            }
        }
        return datagram;
    }
    int Pending()
    {
        int count = 0;
        while (Next(0))
            ++count;
        return count;
    }

private:
    int FSocket = -1;
    quint16 FPort = 0;
    QElapsedTimer FClock;
};

// The payload a MAC's six bytes must give, built here from the bytes, not from the text.
QByteArray ExpectedPacket(const QByteArray& macBytes)
{
    QByteArray packet(6, '\xFF');
    for (int i = 0; i < 16; ++i)
        packet += macBytes;
    return packet;
}

const QByteArray MacBytes = QByteArray::fromHex("001122AABBCC");

struct TEntry
{
    QString Address;
    bool UseForWake;
};

} // namespace

Q_DECLARE_METATYPE(TEntry)

class TestThreadWOL : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void PacketFromMacText_data();
    void PacketFromMacText();
    void WakeAfterDelay();
    void Destination_data();
    void Destination();
    void ChoiceOfAdapter_data();
    void ChoiceOfAdapter();
    void NoComputer();
    void UnknownItemID();
    void DeleteDuringDelay();
    void LanAcrossNetwork_data();
    void LanAcrossNetwork();

private:
    // Starts a sender for the target with a completion handler and waits until it has run.
    bool WakeAndWait(const std::optional<TWakeTarget>& target, int delay = 0);
    TComputer* AddComputer(const QList<TEntry>& entries, quint16 port);

    std::unique_ptr<TGroup> FGroup;
};

void TestThreadWOL::init()
{
    FGroup = std::make_unique<TGroup>();
}

void TestThreadWOL::cleanup()
{
    FGroup.reset();
    // No sender may outlive a test case and send into the next one.
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 10000);
}

bool TestThreadWOL::WakeAndWait(const std::optional<TWakeTarget>& target, int delay)
{
    bool done = false;
    auto* sender = new TWOLThread(target, delay);
    sender->SetOnTerminate([&done](TWorkerThread*) { done = true; });
    sender->Start();
    return QTest::qWaitFor([&done] { return done; }, qMax(delay, 0) * 1000 + 5000);
}

TComputer* TestThreadWOL::AddComputer(const QList<TEntry>& entries, quint16 port)
{
    TComputer* computer = FGroup->Computers()->Add();
    // Not 127.0.0.1: a LAN wake-up never goes to an address of this machine's own interfaces.
    computer->IPAddress = QStringLiteral("127.0.0.2");
    computer->SubNet = QStringLiteral("255.255.255.255");
    computer->Port = port;
    for (const TEntry& entry : entries) {
        TMACAddress* adapter = computer->MACAddresses()->Add();
        adapter->Address = entry.Address;
        adapter->UseForWake = entry.UseForWake;
    }
    return computer;
}

void TestThreadWOL::PacketFromMacText_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QByteArray>("bytes"); // empty: nothing may be sent

    QTest::newRow("upper case") << "00-11-22-AA-BB-CC" << MacBytes;
    QTest::newRow("lower case") << "00-11-22-aa-bb-cc" << MacBytes;
    QTest::newRow("no hyphens") << "001122AABBCC" << MacBytes;
    QTest::newRow("hyphens anywhere") << "0-0112-2AABB-CC" << MacBytes;
    QTest::newRow("digits after the twelfth ignored") << "00-11-22-AA-BB-CC-DD" << MacBytes;
    QTest::newRow("all ones") << "FF-FF-FF-FF-FF-FF" << QByteArray(6, '\xFF');
    QTest::newRow("eleven digits") << "00-11-22-AA-BB-C" << QByteArray();
    QTest::newRow("only hyphens") << "-----------------" << QByteArray();
    QTest::newRow("letter G") << "00-11-22-AA-BB-CG" << QByteArray();
    QTest::newRow("blank in a pair") << "00-11-22-AA-BB- C" << QByteArray();
    QTest::newRow("sign in a pair") << "00-11-22-AA-BB-+C" << QByteArray();
    QTest::newRow("colons") << "00:11:22:AA:BB:CC" << QByteArray();
    QTest::newRow("masked empty field") << "  -  -  -  -  -  " << QByteArray();
}

void TestThreadWOL::PacketFromMacText()
{
    QFETCH(QString, mac);
    QFETCH(QByteArray, bytes);
    TListener listener;
    QVERIFY(listener.Ok());
    TWakeTarget target;
    target.MACAddress = mac;
    target.Internet = true;
    target.IPAddress = QStringLiteral("127.0.0.1");
    target.Port = listener.Port();
    QVERIFY(WakeAndWait(target));
    const auto datagram = listener.Next(bytes.isEmpty() ? 200 : 2000);
    if (bytes.isEmpty()) {
        QVERIFY2(!datagram, "an unusable MAC text must not send anything");
        return;
    }
    QVERIFY(datagram);
    QCOMPARE(datagram->Payload.size(), TWOLThread::MagicPacketSize);
    QCOMPARE(datagram->Payload, ExpectedPacket(bytes));
    QCOMPARE(listener.Pending(), 0);
}

void TestThreadWOL::WakeAfterDelay()
{
    TListener listener;
    QVERIFY(listener.Ok());
    TComputer* computer = AddComputer({{QStringLiteral("00-11-22-AA-BB-CC"), true}}, listener.Port());
    computer->SendOptions = soInternet;
    listener.RestartClock();
    FGroup->WakeComputerByID(computer->ItemID(), 1);
    const auto datagram = listener.Next(4000);
    QVERIFY(datagram);
    QCOMPARE(datagram->Payload, ExpectedPacket(MacBytes));
    QVERIFY2(datagram->ElapsedMs >= 990 && datagram->ElapsedMs < 3000,
             qPrintable(QString::number(datagram->ElapsedMs)));
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 2000);
    QCOMPARE(listener.Pending(), 0);
}

void TestThreadWOL::Destination_data()
{
    QTest::addColumn<bool>("internet");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("portOffset"); // added to the listener's port
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("destination"); // empty: nothing may arrive

    QTest::newRow("LAN subnet broadcast") << false << "127.0.0.1"
                                          << "255.0.0.0" << 0 << 0 << "127.255.255.255";
    QTest::newRow("LAN hex mask") << false << "127.0.0.1"
                                  << "$FF.0.0.0" << 0 << 0 << "127.255.255.255";
    QTest::newRow("LAN host mask") << false << "127.0.0.2"
                                   << "255.255.255.255" << 0 << 0 << "127.0.0.2";
    QTest::newRow("Internet unicast") << true << "127.0.0.1"
                                      << "255.0.0.0" << 0 << 0 << "127.0.0.1";
    QTest::newRow("Internet ignores mask") << true << "127.0.0.5"
                                           << "0.0.0.0" << 0 << 0 << "127.0.0.5";
    // Reaching a broadcast address proves broadcasting is switched on in Internet mode too.
    QTest::newRow("Internet to a broadcast address") << true << "127.255.255.255"
                                                     << "" << 0 << 0 << "127.255.255.255";
    QTest::newRow("Internet leading zeros are decimal") << true << "127.000.000.010"
                                                        << "" << 0 << 0 << "127.0.0.10";
    QTest::newRow("Internet LOCALHOST") << true << "LOCALHOST"
                                        << "" << 0 << 0 << "127.0.0.1";
    QTest::newRow("Internet localhost lower case") << true << "localhost"
                                                   << "" << 0 << 0 << "127.0.0.1";
    QTest::newRow("Internet unresolvable name") << true << "no-such-host.invalid"
                                                << "" << 0 << 0 << "";
    QTest::newRow("Internet empty address") << true << ""
                                            << "" << 0 << 0 << "";
    QTest::newRow("port taken as 16 bits") << true << "127.0.0.1"
                                           << "" << 65536 << 0 << "127.0.0.1";
    QTest::newRow("negative delay sends at once") << true << "127.0.0.1"
                                                  << "" << 0 << -5 << "127.0.0.1";
}

void TestThreadWOL::Destination()
{
    QFETCH(bool, internet);
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(int, portOffset);
    QFETCH(int, delay);
    QFETCH(QString, destination);
    TListener listener;
    QVERIFY(listener.Ok());
    TWakeTarget target{QStringLiteral("00-11-22-AA-BB-CC"), internet, address, mask,
                       qint32(listener.Port()) + portOffset};
    QVERIFY(WakeAndWait(target, delay));
    const auto datagram = listener.Next(destination.isEmpty() ? 200 : 2000);
    if (destination.isEmpty()) {
        QVERIFY(!datagram);
        return;
    }
    QVERIFY(datagram);
    QCOMPARE(datagram->Destination, destination);
    QCOMPARE(datagram->Payload, ExpectedPacket(MacBytes));
    QCOMPARE(listener.Pending(), 0);
}

void TestThreadWOL::ChoiceOfAdapter_data()
{
    QTest::addColumn<QList<TEntry>>("entries");
    QTest::addColumn<QByteArray>("bytes"); // empty: nothing may be sent

    const QString a = QStringLiteral("00-11-22-AA-BB-CC"), b = QStringLiteral("66-77-88-99-AA-BB");
    const QByteArray bBytes = QByteArray::fromHex("66778899AABB");
    QTest::newRow("first of two wake-enabled") << QList<TEntry>{{a, true}, {b, true}} << MacBytes;
    QTest::newRow("entry without wake skipped") << QList<TEntry>{{a, false}, {b, true}} << bBytes;
    QTest::newRow("none wake-enabled") << QList<TEntry>{{a, false}, {b, false}} << QByteArray();
    QTest::newRow("no entries") << QList<TEntry>{} << QByteArray();
    QTest::newRow("first wake-enabled is empty")
        << QList<TEntry>{{QString(), true}, {b, true}} << QByteArray();
    QTest::newRow("first wake-enabled is short")
        << QList<TEntry>{{QStringLiteral("00-11"), true}, {b, true}} << QByteArray();
}

void TestThreadWOL::ChoiceOfAdapter()
{
    QFETCH(QList<TEntry>, entries);
    QFETCH(QByteArray, bytes);
    TListener listener;
    QVERIFY(listener.Ok());
    TComputer* computer = AddComputer(entries, listener.Port());
    FGroup->WakeComputerByID(computer->ItemID(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 5000);
    const auto datagram = listener.Next(bytes.isEmpty() ? 100 : 2000);
    if (bytes.isEmpty()) {
        QVERIFY(!datagram);
        return;
    }
    QVERIFY(datagram);
    QCOMPARE(datagram->Payload, ExpectedPacket(bytes));
    QCOMPARE(listener.Pending(), 0);
}

void TestThreadWOL::NoComputer()
{
    TListener listener;
    QVERIFY(listener.Ok());
    auto* sender = new TWOLThread(std::nullopt, 30);
    QVERIFY(sender->StopRequested());
    TWorkerThread* finished = nullptr;
    sender->SetOnTerminate([&finished](TWorkerThread* worker) { finished = worker; });
    QElapsedTimer clock;
    clock.start();
    sender->Start();
    // The delay is never slept: a sender without a computer ends at once.
    QTRY_VERIFY_WITH_TIMEOUT(finished == sender, 5000);
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!listener.Next(100));
}

void TestThreadWOL::UnknownItemID()
{
    TListener listener;
    QVERIFY(listener.Ok());
    TComputer* computer = AddComputer({{QStringLiteral("00-11-22-AA-BB-CC"), true}}, listener.Port());
    FGroup->WakeComputerByID(QStringLiteral("{00000000-0000-0000-0000-000000000000}"), 0);
    FGroup->WakeComputerByID(QString(), 0);
    QCOMPARE(TWorkerThread::LiveCount(), 0);
    QVERIFY(!listener.Next(200));
    // An alias has no adapters at all: nothing to send, nothing to crash on.
    TComputer* alias = AddComputer({}, listener.Port());
    alias->SetDataType(dtAlias);
    QVERIFY(alias->MACAddresses() == nullptr);
    FGroup->WakeComputerByID(alias->ItemID(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 5000);
    QVERIFY(!listener.Next(100));
    // The same computer by its identifier in lower case is found.
    FGroup->WakeComputerByID(computer->ItemID().toLower(), 0);
    QVERIFY(listener.Next(2000));
}

void TestThreadWOL::DeleteDuringDelay()
{
    // The wake was asked for before the computer went; it still goes out, from the values the sender
    // took, and nothing reads the freed computer (the AddressSanitizer build checks that).
    TListener listener;
    QVERIFY(listener.Ok());
    TComputer* first = AddComputer({{QStringLiteral("00-11-22-AA-BB-CC"), true}}, listener.Port());
    FGroup->WakeComputerByID(first->ItemID(), 1);
    FGroup->Computers()->Delete(0);
    TComputer* second = AddComputer({{QStringLiteral("00-11-22-AA-BB-CC"), true}}, listener.Port());
    FGroup->WakeComputerByID(second->ItemID(), 1);
    FGroup.reset();
    // Reuse the freed memory so a stale read would see garbage rather than the old values.
    std::vector<std::unique_ptr<TComputer>> filler;
    for (int i = 0; i < 8; ++i) {
        filler.push_back(std::make_unique<TComputer>());
        filler.back()->IPAddress = QStringLiteral("0.0.0.0");
    }
    QList<QByteArray> received;
    for (int i = 0; i < 2; ++i) {
        const auto datagram = listener.Next(4000);
        QVERIFY(datagram);
        received << datagram->Payload;
    }
    QCOMPARE(received, QList<QByteArray>({ExpectedPacket(MacBytes), ExpectedPacket(MacBytes)}));
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 3000);
    QCOMPARE(listener.Pending(), 0);
}

void TestThreadWOL::LanAcrossNetwork_data()
{
    QTest::addColumn<QString>("sender");  // the sending side's address and prefix
    QTest::addColumn<QString>("waker");   // the computer's side, which listens
    QTest::addColumn<QString>("address"); // the computer's stored values
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("destination"); // empty: nothing arrives
    QTest::addColumn<bool>("offLink");

    const QString s24 = QStringLiteral("10.231.7.20/24"), w24 = QStringLiteral("10.231.7.1/24");
    QTest::newRow("subnet broadcast") << s24 << w24 << "10.231.7.20"
                                      << "255.255.255.0"
                                      << "10.231.7.255" << false;
    // The interface's network decides, whatever mask is stored.
    QTest::newRow("invalid mask") << s24 << w24 << "10.231.7.20"
                                  << "255.255.255"
                                  << "10.231.7.255" << false;
    QTest::newRow("empty mask") << s24 << w24 << "10.231.7.20"
                                << ""
                                << "10.231.7.255" << false;
    QTest::newRow("host name") << s24 << w24 << "WORKSTATION7"
                               << "255.255.255.0"
                               << "255.255.255.255" << false;
    // On a /16 the stored /24 mask's 10.20.5.255 is an ordinary host address nobody listens on.
    QTest::newRow("/16 LAN, /24 stored") << "10.20.0.1/16"
                                         << "10.20.5.7/16"
                                         << "10.20.5.7"
                                         << "255.255.255.0"
                                         << "10.20.255.255" << false;
    QTest::newRow("another network") << s24 << w24 << "10.99.1.5"
                                     << "255.255.255.0"
                                     << "" << true;
}

void TestThreadWOL::LanAcrossNetwork()
{
    QFETCH(QString, sender);
    QFETCH(QString, waker);
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(QString, destination);
    QFETCH(bool, offLink);
    QString reason;
    if (!TTestNamespace::Available(&reason))
        QSKIP(qPrintable(reason));
    TTestNamespace sending(QStringLiteral("wols")), waking(QStringLiteral("wolw"));
    QVERIFY(sending.Ok() && waking.Ok());
    QString error;
    QVERIFY2(ConnectVeth(&sending, sender, &waking, waker, &error), qPrintable(error));
    // The limited broadcast and other networks follow the default route, which stays inside the pair.
    QCOMPARE(sending.Exec({"ip", "route", "add", "default", "via", waker.section(QLatin1Char('/'), 0, 0)}),
             0);

    TListener listener(waking.Name());
    QVERIFY(listener.Ok());
    // Senders send from the one socket of this process's namespace: the sending side is a process of
    // its own.
    QString output;
    QCOMPARE(sending.Exec({QCoreApplication::applicationFilePath(), QString::fromLatin1(WakeOnceArgument),
                           address, mask, QString::number(listener.Port())},
                          &output, 10000),
             offLink ? 3 : 0);
    const auto datagram = listener.Next(destination.isEmpty() ? 300 : 2000);
    if (destination.isEmpty()) {
        QVERIFY(!datagram);
        return;
    }
    QVERIFY(datagram);
    QCOMPARE(datagram->Destination, destination);
    QCOMPARE(datagram->Payload, ExpectedPacket(MacBytes));
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], WakeOnceArgument) == 0)
        return WakeOnce(argc, argv);
    QCoreApplication app(argc, argv);
    TestThreadWOL test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_threadWOL.moc"
