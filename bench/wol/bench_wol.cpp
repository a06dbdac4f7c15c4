// Wakes many computers at once, the way the wake command does, and counts the magic packets that a
// loopback listener receives within the allowed time after the command. The main thread waits in its
// event loop, as the program's does, so the figures carry no busy waiting of the benchmark's own.
//
//   bench_wol [computers=10000] [delay=2] [allowed_ms=2500]
//
// Prints the packets received (and how many in time), the first and last arrival after the command and
// the peak thread count of the process (the benchmark's receiving thread included); exits non-zero
// unless every packet arrived in time and the threads stayed at most 64.

#include "core/worker.h"
#include "model/computers.h"
#include "support/procStatus.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int delay = argc > 2 ? std::atoi(argv[2]) : 2;
    const qint64 allowedMs = argc > 3 ? std::atoll(argv[3]) : 2500;

    const int listener = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // All packets arrive within a few milliseconds; make room for every one of them.
    const int buffer = 64 * 1024 * 1024;
    if (::setsockopt(listener, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof(buffer)) != 0)
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listener");
        return 2;
    }
    const quint16 port = ntohs(address.sin_port);

    TGroup group;
    QStringList ids;
    for (int i = 0; i < count; ++i) {
        TComputer* computer = group.Computers()->Add();
        computer->IPAddress = QStringLiteral("127.0.0.1");
        computer->SendOptions = soInternet;
        computer->Port = port;
        computer->MACAddresses()->Add()->Address = QStringLiteral("02-00-00-00-%1-%2")
                                                       .arg(i / 256, 2, 16, QLatin1Char('0'))
                                                       .arg(i % 256, 2, 16, QLatin1Char('0'));
        ids << computer->ItemID();
    }

    std::atomic<int> inTime{0}, total{0}, wrongSize{0};
    std::atomic<qint64> lastMs{-1}, firstMs{-1};
    QElapsedTimer clock;
    std::atomic<bool> started{false};
    std::atomic<bool> receiving{true};
    std::atomic<qint64> peakThreads{0};
    std::thread receiver([&] {
        while (!started)
            std::this_thread::yield();
        const qint64 deadline = allowedMs + 2000; // keep counting late packets for a while
        char data[2048];
        qint64 sampledAt = -10;
        while (total < count && clock.elapsed() < deadline) {
            if (clock.elapsed() - sampledAt >= 2) {
                sampledAt = clock.elapsed();
                peakThreads = std::max(peakThreads.load(), ThreadCount());
            }
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 2) <= 0)
                continue;
            const ssize_t size = ::recv(listener, data, sizeof(data), 0);
            if (size < 0)
                continue;
            const qint64 at = clock.elapsed();
            if (size != 102)
                ++wrongSize;
            if (firstMs < 0)
                firstMs = at;
            lastMs = at;
            ++total;
            if (at <= allowedMs)
                ++inTime;
        }
        receiving = false;
    });

    clock.start();
    started = true;
    for (const QString& id : ids)
        group.WakeComputerByID(id, delay);
    const qint64 commandMs = clock.elapsed();

    // The completion steps run on this thread: its event loop turns until every sender is gone and the
    // receiver has stopped counting.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if ((TWorkerThread::LiveCount() == 0 && !receiving) || clock.elapsed() > allowedMs + 10000)
            app.quit();
    });
    poll.start(10);
    app.exec();
    receiver.join();
    ::close(listener);

    std::printf(
        "computers %d, delay %d s: command took %lld ms; received %d of %d (%d within %lld ms), "
        "first after %lld ms, last after %lld ms; wrong size %d; senders left %d; peak threads %lld\n",
        count, delay, static_cast<long long>(commandMs), total.load(), count, inTime.load(),
        static_cast<long long>(allowedMs), static_cast<long long>(firstMs.load()),
        static_cast<long long>(lastMs.load()), wrongSize.load(), TWorkerThread::LiveCount(),
        static_cast<long long>(peakThreads.load()));
    return inTime == count && wrongSize == 0 && peakThreads <= 64 ? 0 : 1;
}
