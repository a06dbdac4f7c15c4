#pragma once

#include "support/netns.h"

#include <memory>
#include <QString>
#include <vector>

// A LAN of the test's own: a bridge in one namespace, the scanning side in another (10.233.N.1/24) and
// Count peers in namespaces of their own at 10.233.N.11, .12, ... each with a MAC address of the test's
// choosing (locally administered, except where a peer takes a given one). A router joins the bridge to a
// second scanning side on the next network.
class TScanLan
{
public:
    struct TPeer
    {
        std::unique_ptr<TTestNamespace> Namespace;
        QString Address; // dotted
        QString Mac;     // "02-5c-00-00-00-0b"
    };

    // subnet: the third octet N.
    TScanLan(int subnet, int count);
    bool Build(QString* error);
    // Gives peer index the MAC address mac ("00:1b:21:5c:00:05") instead.
    void SetMac(int index, const QString& mac) { FMacs[index] = mac; }

    const TTestNamespace& Scanner() const { return *FScanner; }
    // The scanning side of another network (10.233.N+1.1/24), behind a router (.254 on both).
    const TTestNamespace& RemoteScanner() const { return *FRemote; }
    const std::vector<TPeer>& Peers() const { return FPeers; }
    QString Network() const { return QStringLiteral("10.233.%1.0/24").arg(FSubnet); }

private:
    int FSubnet;
    int FCount;
    std::vector<QString> FMacs;
    std::unique_ptr<TTestNamespace> FBridge;
    std::unique_ptr<TTestNamespace> FScanner;
    std::unique_ptr<TTestNamespace> FRouter;
    std::unique_ptr<TTestNamespace> FRemote;
    std::vector<TPeer> FPeers;
};
