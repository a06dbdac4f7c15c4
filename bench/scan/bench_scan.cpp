// One network scan, timed: prints the hosts found (with --list) and the time from the start to the full
// list. bench/scan/run.sh builds the network and runs it side by side with nmap.
//
//   bench_scan NETWORK [RATE] [--list] [--kernel]
//
// --kernel leaves the resolution to the kernel even where ARP requests of its own could be sent. mDNS
// is off: a daemon of the machine would ask the real network.
#include "net/hostResolve.h"
#include "net/netScan.h"

#include <cstdio>
#include <QCoreApplication>
#include <QElapsedTimer>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    TScanNetwork network;
    QString error;
    if (args.size() < 2 || !ParseScanNetwork(args[1], &network, &error)) {
        std::fprintf(stderr, "usage: bench_scan NETWORK [RATE] [--list] [--kernel]\n%s\n", qPrintable(error));
        return 2;
    }
    TScanOptions options;
    options.Mdns = false;
    if (args.size() > 2 && args[2].toInt() > 0)
        options.Rate = args[2].toInt();
    options.PacketSocket = !args.contains(QStringLiteral("--kernel"));
    const bool list = args.contains(QStringLiteral("--list"));

    QElapsedTimer clock;
    clock.start();
    auto* scan = new TNetScan(network, options);
    int exitCode = 0;
    scan->SetOnTerminate([&](TWorkerThread* sender) {
        auto* done = static_cast<TNetScan*>(sender);
        const qint64 ms = clock.elapsed();
        const auto hosts = done->Hosts();
        if (list)
            for (const TScanHost& host : hosts)
                std::printf("%s\t%s\t%s\t%s\n", qPrintable(IPv4ToText(host.Address)), qPrintable(host.Mac),
                            qPrintable(host.Name), qPrintable(host.Vendor));
        const char* methods[] = {"arp-packet", "arp-kernel", "echo"};
        std::printf("hosts=%zu ms=%lld rate=%d method=%s%s%s\n", hosts.size(), static_cast<long long>(ms),
                    options.Rate, methods[done->Method()],
                    done->Error().isEmpty() ? "" : " error=", qPrintable(done->Error()));
        exitCode = done->Error().isEmpty() ? 0 : 1;
        QCoreApplication::quit();
    });
    scan->Start();
    app.exec();
    return exitCode;
}
