#include "support/scanLan.h"

#include <QFile>
#include <QTemporaryFile>

TScanLan::TScanLan(int subnet, int count) : FSubnet(subnet), FCount(count)
{
    for (int i = 0; i < count; ++i)
        FMacs.push_back(QStringLiteral("02:5c:00:00:%1:%2")
                            .arg(subnet, 2, 16, QLatin1Char('0'))
                            .arg(i + 11, 2, 16, QLatin1Char('0')));
}

bool TScanLan::Build(QString* error)
{
    FBridge = std::make_unique<TTestNamespace>(QStringLiteral("lanb"));
    FScanner = std::make_unique<TTestNamespace>(QStringLiteral("lans"));
    FRouter = std::make_unique<TTestNamespace>(QStringLiteral("lanr"));
    FRemote = std::make_unique<TTestNamespace>(QStringLiteral("lanx"));
    if (!FBridge->Ok() || !FScanner->Ok() || !FRouter->Ok() || !FRemote->Ok()) {
        *error = QStringLiteral("cannot create namespaces");
        return false;
    }
    // One batch of ip commands for the links: thirty peers in a fraction of a second.
    QStringList root{QStringLiteral("link add br0 netns %1 type bridge").arg(FBridge->Name()),
                     QStringLiteral("link add s0 netns %1 type veth peer name bs netns %2")
                         .arg(FScanner->Name(), FBridge->Name()),
                     QStringLiteral("link add r0 netns %1 type veth peer name bx netns %2")
                         .arg(FRouter->Name(), FBridge->Name()),
                     QStringLiteral("link add r1 netns %1 type veth peer name x0 netns %2")
                         .arg(FRouter->Name(), FRemote->Name())};
    for (int i = 0; i < FCount; ++i) {
        TPeer peer;
        peer.Namespace = std::make_unique<TTestNamespace>(QStringLiteral("lanp"));
        if (!peer.Namespace->Ok()) {
            *error = QStringLiteral("cannot create a peer namespace");
            return false;
        }
        peer.Address = QStringLiteral("10.233.%1.%2").arg(FSubnet).arg(i + 11);
        peer.Mac = FMacs[size_t(i)].toLower().replace(QLatin1Char(':'), QLatin1Char('-'));
        root << QStringLiteral("link add p0 netns %1 address %2 type veth peer name b%3 netns %4")
                    .arg(peer.Namespace->Name(), FMacs[size_t(i)])
                    .arg(i)
                    .arg(FBridge->Name());
        FPeers.push_back(std::move(peer));
    }
    auto batch = [error](const QStringList& prefix, const QStringList& lines) {
        QTemporaryFile file;
        if (!file.open())
            return false;
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        file.flush();
        QString output;
        if (RunCommand(QStringLiteral("ip"), prefix + QStringList{"-batch", file.fileName()}, &output) != 0) {
            *error = output;
            return false;
        }
        return true;
    };
    if (!batch({}, root))
        return false;
    QStringList bridge{"link set br0 up", "link set bs master br0", "link set bs up",
                       "link set bx master br0", "link set bx up"};
    for (int i = 0; i < FCount; ++i)
        bridge << QStringLiteral("link set b%1 master br0").arg(i)
               << QStringLiteral("link set b%1 up").arg(i);
    if (!batch({"-n", FBridge->Name()}, bridge))
        return false;
    if (!batch({"-n", FScanner->Name()},
               {QStringLiteral("addr add 10.233.%1.1/24 broadcast + dev s0").arg(FSubnet), "link set s0 up"}))
        return false;
    const QString router = QStringLiteral("10.233.%1.254").arg(FSubnet);
    // The remote side routes only the LAN, not a default: a lookup at the resolvers fails at once.
    if (!batch({"-n", FRouter->Name()},
               {QStringLiteral("addr add %1/24 broadcast + dev r0").arg(router), "link set r0 up",
                QStringLiteral("addr add 10.233.%1.254/24 broadcast + dev r1").arg(FSubnet + 1),
                "link set r1 up"}) ||
        !batch(
            {"-n", FRemote->Name()},
            {QStringLiteral("addr add 10.233.%1.1/24 broadcast + dev x0").arg(FSubnet + 1), "link set x0 up",
             QStringLiteral("route add 10.233.%1.0/24 via 10.233.%2.254").arg(FSubnet).arg(FSubnet + 1)}) ||
        FRouter->Exec({"sysctl", "-qw", "net.ipv4.ip_forward=1"}) != 0)
        return false;
    for (const TPeer& peer : FPeers)
        if (!batch({"-n", peer.Namespace->Name()},
                   {QStringLiteral("addr add %1/24 broadcast + dev p0").arg(peer.Address), "link set p0 up",
                    QStringLiteral("route add default via %1").arg(router)}))
            return false;
    return true;
}
