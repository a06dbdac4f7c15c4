#include "net/interfaces.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <QtTest>
#include <sched.h>
#include <thread>
#include <unistd.h>

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
        // Interfaces: loopback (1), 10.20.0.0/16 (3), 192.168.1.0/24 (4), 10.20.7.0/24 inside the /16 (5).
        QTest::newRow("/16 beats the stored mask") << "10.20.5.7"
                                                   << "255.255.255.0"
                                                   << "10.20.255.255" << 3 << false;
        QTest::newRow("/24 as before") << "192.168.001.020"
                                       << "255.255.255.0"
                                       << "192.168.1.255" << 4 << false;
        QTest::newRow("narrowest wins") << "10.20.7.9"
                                        << "255.255.0.0"
                                        << "10.20.7.255" << 5 << false;
        QTest::newRow("elsewhere") << "172.16.4.9"
                                   << "255.255.255.0"
                                   << "172.16.4.255" << 0 << true;
        QTest::newRow("mask reaching a local net") << "192.168.0.9"
                                                   << "255.255.254.0"
                                                   << "192.168.1.255" << 0 << false;
        QTest::newRow("host name") << "nas.local"
                                   << "255.255.255.0"
                                   << "255.255.255.255" << 0 << false;
        QTest::newRow("loopback") << "127.0.0.1"
                                  << "255.255.255.0"
                                  << "127.0.0.255" << 0 << false;
        QTest::newRow("own address") << "127.0.0.1"
                                     << "255.255.255.255"
                                     << "255.255.255.255" << 0 << false;
    }
    void wakeRoute()
    {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        auto entry = [](const char* address, const char* netmask, const char* broadcast, int index) {
            TNetInterface result;
            result.Index = index;
            result.Address = ntohl(inet_addr(address));
            result.Netmask = ntohl(inet_addr(netmask));
            result.Broadcast = broadcast ? ntohl(inet_addr(broadcast)) : 0;
            result.Flags = IFF_UP | (broadcast ? IFF_BROADCAST : IFF_LOOPBACK);
            return result;
        };
        const TWakeRoute route = LanWakeRoute(ip, mask,
                                              {entry("127.0.0.1", "255.0.0.0", nullptr, 1),
                                               entry("10.20.0.1", "255.255.0.0", "10.20.255.255", 3),
                                               entry("192.168.1.2", "255.255.255.0", "192.168.1.255", 4),
                                               entry("10.20.7.1", "255.255.255.0", "10.20.7.255", 5)});
        QTEST(route.Destination, "destination");
        QTEST(route.InterfaceIndex, "index");
        QTEST(route.OffLink, "offLink");
    }

    // On a /16 LAN the wake-up goes to 10.21.255.255 and reaches the peer; the stored /24 mask's
    // 10.21.5.255 would only have been an ARP request for an ordinary host address. An address added
    // without a broadcast address gets the one of its prefix, not its own address.
    void sixteenBitLanIsReached_data()
    {
        QTest::addColumn<bool>("withoutBroadcast");
        QTest::newRow("broadcast +") << false;
        QTest::newRow("no broadcast") << true;
    }
    void sixteenBitLanIsReached()
    {
        QFETCH(bool, withoutBroadcast);
        TTestNamespace peer(QStringLiteral("if16"));
        QString error;
        QVERIFY2(ConnectVeth(nullptr, QStringLiteral("10.21.0.1/16"), &peer, QStringLiteral("10.21.5.7/16"),
                             &error),
                 qPrintable(error));
        // The previous row's link goes with its namespace, but a moment later: until then two links hold
        // the network, and the one flushed below could be the old one.
        const auto holders = [] {
            int count = 0;
            for (const TNetInterface& entry : UpIPv4Interfaces())
                count += !(entry.Flags & IFF_LOOPBACK) && entry.Holds(ntohl(inet_addr("10.21.5.7")));
            return count;
        };
        QTRY_COMPARE(holders(), 1);
        if (withoutBroadcast) {
            const auto end = InterfaceHolding(ntohl(inet_addr("10.21.5.7")), UpIPv4Interfaces());
            QVERIFY(end);
            // Routes are worked out from a kept list of interfaces: one read before the change must not
            // be what the wake-up after it uses.
            QCOMPARE(LanWakeRoute(QStringLiteral("10.21.5.7"), QString()).Destination,
                     QStringLiteral("10.21.255.255"));
            QCOMPARE(RunCommand("ip", {"addr", "flush", "dev", end->Name}), 0);
            QVERIFY(LanWakeRoute(QStringLiteral("10.21.5.7"), QStringLiteral("255.255.255.0")).OffLink);
            QCOMPARE(RunCommand("ip", {"addr", "add", "10.21.0.1/16", "dev", end->Name}), 0);
            QString shown;
            RunCommand("ip", {"-4", "addr", "show", "dev", end->Name}, &shown);
            QVERIFY2(!shown.contains("brd"), qPrintable(shown));
        }
        const TWakeRoute route = LanWakeRoute(QStringLiteral("10.21.5.7"), QStringLiteral("255.255.255.0"));
        QCOMPARE(route.Destination, QStringLiteral("10.21.255.255"));
        const auto own = InterfaceHolding(ntohl(inet_addr("10.21.5.7")), UpIPv4Interfaces());
        QVERIFY(own && own->Index == route.InterfaceIndex && own->Hardware.size() == 6);

        int listener = -1; // made inside the peer's namespace, where it stays
        std::thread([&] {
            const int ns =
                ::open(qPrintable(QStringLiteral("/run/netns/") + peer.Name()), O_RDONLY | O_CLOEXEC);
            if (ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0)
                listener = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            ::close(ns);
        }).join();
        sockaddr_in any{AF_INET, htons(40009), {INADDR_ANY}, {}};
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);

        const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(sender, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
        const QByteArray payload(102, '\x5A');
        QCOMPARE(SendAlongRoute(sender, route, 40009, payload), qint64(payload.size()));
        pollfd wait{listener, POLLIN, 0};
        QCOMPARE(::poll(&wait, 1, 5000), 1);
        char buffer[256];
        QCOMPARE(QByteArray(buffer, int(::recv(listener, buffer, sizeof(buffer), 0))), payload);
        ::close(sender);
        ::close(listener);
    }
};

QTEST_GUILESS_MAIN(TestInterfaces)
#include "tst_interfaces.moc"
