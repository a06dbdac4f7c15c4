#include "net/interfaces.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <QtTest>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

TNetInterface Interface(const char* address, const char* mask, const char* broadcast, int index,
                        unsigned flags = IFF_UP | IFF_BROADCAST)
{
    TNetInterface entry;
    entry.Index = index;
    entry.Address = ntohl(inet_addr(address));
    entry.Netmask = ntohl(inet_addr(mask));
    entry.Broadcast = broadcast ? ntohl(inet_addr(broadcast)) : 0;
    entry.Flags = flags;
    return entry;
}

// A UDP socket made inside the named namespace (sockets keep the namespace they were made in).
int SocketIn(const QString& ns)
{
    int result = -1;
    std::thread maker([&] {
        const int fd = ::open(qPrintable(QStringLiteral("/run/netns/") + ns), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            return;
        ::close(fd);
        result = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    });
    maker.join();
    return result;
}

} // namespace

class TestInterfaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString reason;
        if (!TTestNamespace::Available(&reason))
            QSKIP(qPrintable(reason));
        // The veth end of this process must not land in the machine's own namespace.
        QVERIFY2(IsolateNetwork(&reason), qPrintable(reason));
    }

    void wakeRoute_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("offLink");
        // Interfaces: 10.20.0.0/16 (3), 192.168.1.0/24 (4), 10.20.7.0/24 inside the /16 (5), loopback (1).
        QTest::newRow("/16 ignores the stored /24 mask") << "10.20.5.7"
                                                         << "255.255.255.0"
                                                         << "10.20.255.255" << 3 << false;
        QTest::newRow("/24 as before") << "192.168.1.20"
                                       << "255.255.255.0"
                                       << "192.168.1.255" << 4 << false;
        QTest::newRow("leading zeros still parse") << "192.168.001.020"
                                                   << "255.255.255.0"
                                                   << "192.168.1.255" << 4 << false;
        QTest::newRow("narrowest subnet wins") << "10.20.7.9"
                                               << "255.255.0.0"
                                               << "10.20.7.255" << 5 << false;
        QTest::newRow("elsewhere: stored mask, off-link") << "172.16.4.9"
                                                          << "255.255.255.0"
                                                          << "172.16.4.255" << 0 << true;
        QTest::newRow("stored mask reaching a local broadcast") << "192.168.0.9"
                                                                << "255.255.254.0"
                                                                << "192.168.1.255" << 0 << false;
        QTest::newRow("host name: limited broadcast") << "nas.local"
                                                      << "255.255.255.0"
                                                      << "255.255.255.255" << 0 << false;
        QTest::newRow("bad mask: limited broadcast") << "172.16.4.9"
                                                     << "255.255.255"
                                                     << "255.255.255.255" << 0 << false;
        QTest::newRow("loopback has no broadcast") << "127.0.0.1"
                                                   << "255.255.255.0"
                                                   << "127.0.0.255" << 0 << false;
    }
    void wakeRoute()
    {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        const std::vector<TNetInterface> interfaces{
            Interface("127.0.0.1", "255.0.0.0", nullptr, 1, IFF_UP | IFF_LOOPBACK),
            Interface("10.20.0.1", "255.255.0.0", "10.20.255.255", 3),
            Interface("192.168.1.2", "255.255.255.0", "192.168.1.255", 4),
            Interface("10.20.7.1", "255.255.255.0", "10.20.7.255", 5),
        };
        const TWakeRoute route = LanWakeRoute(ip, mask, interfaces);
        QTEST(route.Destination, "destination");
        QTEST(route.InterfaceIndex, "index");
        QTEST(route.OffLink, "offLink");
    }

    // A /16 LAN: the wake-up goes to 10.20.255.255 out of the veth and reaches the peer, where the old
    // rule's 10.20.5.255 would only have been an unanswered ARP request for an ordinary host address.
    void sixteenBitLanIsReached()
    {
        TTestNamespace peer(QStringLiteral("if16"));
        QVERIFY(peer.Ok());
        QString error;
        QVERIFY2(ConnectVeth(nullptr, QStringLiteral("10.20.0.1/16"), &peer, QStringLiteral("10.20.5.7/16"),
                             &error),
                 qPrintable(error));

        const std::vector<TNetInterface> interfaces = UpIPv4Interfaces();
        const auto own = InterfaceHolding(ntohl(inet_addr("10.20.5.7")), interfaces);
        QVERIFY(own.has_value());
        QCOMPARE(own->Address, ntohl(inet_addr("10.20.0.1")));
        QCOMPARE(own->Netmask, 0xFFFF0000u);
        QCOMPARE(own->Broadcast, ntohl(inet_addr("10.20.255.255")));
        QCOMPARE(own->Hardware.size(), 6);
        QVERIFY(own->Index > 0);
        QVERIFY(!InterfaceHolding(ntohl(inet_addr("127.0.0.1")), interfaces));

        const TWakeRoute route = LanWakeRoute(QStringLiteral("10.20.5.7"), QStringLiteral("255.255.255.0"));
        QCOMPARE(route.Destination, QStringLiteral("10.20.255.255"));
        QCOMPARE(route.InterfaceIndex, own->Index);
        QVERIFY(!route.OffLink);

        const int listener = SocketIn(peer.Name());
        QVERIFY(listener >= 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(40009);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);

        const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(sender, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
        const QByteArray payload(102, '\x5A');
        QCOMPARE(SendAlongRoute(sender, route, 40009, payload), qint64(payload.size()));

        pollfd wait{listener, POLLIN, 0};
        QCOMPARE(::poll(&wait, 1, 5000), 1);
        char buffer[256];
        sockaddr_in from{};
        socklen_t length = sizeof(from);
        const ssize_t size =
            ::recvfrom(listener, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
        QCOMPARE(QByteArray(buffer, static_cast<int>(size)), payload);
        QCOMPARE(from.sin_addr.s_addr, inet_addr("10.20.0.1"));
        ::close(sender);
        ::close(listener);
    }
};

QTEST_GUILESS_MAIN(TestInterfaces)
#include "tst_interfaces.moc"
