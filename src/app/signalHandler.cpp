#include "app/signalHandler.h"

#include <cerrno>
#include <csignal>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler may only do what is async-signal-safe: it hands the signal to the event loop
// through a socket and nothing more.
int SignalSockets[2] = {-1, -1};
volatile std::sig_atomic_t SignalSeen = 0;

void OnSignal(int signal)
{
    if (SignalSeen != 0) {
        // Asked twice: the orderly way takes too long for the sender; end now.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    SignalSeen = signal;
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    (void)!::write(SignalSockets[1], &byte, 1);
    errno = saved;
}

} // namespace

void InstallSignalHandler(std::function<void()> closeWindows)
{
    if (SignalSockets[0] >= 0 || !QCoreApplication::instance())
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, SignalSockets) != 0)
        return; // without the socket the signals keep their default action
    auto* notifier =
        new QSocketNotifier(SignalSockets[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, closeWindows = std::move(closeWindows)] {
                         char bytes[16];
                         while (::read(SignalSockets[0], bytes, sizeof bytes) > 0) {
                         }
                         notifier->setEnabled(false);
                         if (closeWindows)
                             closeWindows();
                         QCoreApplication::quit();
                         // A signal that came before the main event loop runs (while a start-up box was
                         // shown) ends that loop as soon as it starts.
                         QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                                   Qt::QueuedConnection);
                     });

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction previous = {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}
