#include "support/isolatedNetwork.h"

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

bool IsolateNetwork(QString* reason)
{
    if (unshare(CLONE_NEWNET) != 0) {
        if (reason)
            *reason = QStringLiteral("cannot create a network namespace: %1")
                          .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        if (reason)
            *reason = QStringLiteral("no socket in the new namespace");
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(s, SIOCSIFFLAGS, &request) == 0;
    }
    close(s);
    if (!ok && reason)
        *reason = QStringLiteral("cannot bring the loopback interface up");
    return ok;
}
