#include "net/tcpProbe.h"

#include "core/worker.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <deque>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

struct TTcpProbe::TState : std::enable_shared_from_this<TTcpProbe::TState>
{
    struct TConnection
    {
        int Fd;
        quint16 Port;
    };

    quint32 Address = 0;
    std::vector<quint16> Ports;
    size_t NextPort = 0;
    std::vector<TConnection> Open;
    bool Queued = false;
    bool Done = false;
    THandler OnDone;
    TWorkerEngine::TTimerId Deadline = 0;

    bool Waiting() const { return NextPort < Ports.size(); }
    void OpenNext();
    // error: the connection's outcome when connect gave it at once, else -1 (read it from the socket).
    void Ready(int fd, quint16 port, int error = -1);
    void PortFailed(int fd);
    void End(const TTcpProbeResult& result, bool report);
};

namespace {

// Engine thread only: the process's share of descriptors for probes and the probes waiting for one.
struct TConnectionPool
{
    int Open = 0;
    int Peak = 0;
    std::deque<std::weak_ptr<TTcpProbe::TState>> Waiting;
    bool PumpPosted = false;
};

TConnectionPool& Pool()
{
    // Never destroyed: the engine may still run a probe while the program ends.
    static auto* pool = new TConnectionPool;
    return *pool;
}

int Bound()
{
    static const int bound = [] {
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return 1024;
        return static_cast<int>(std::clamp<rlim_t>(limit.rlim_cur / 4, 1, 1024));
    }();
    return bound;
}

void Pump()
{
    TConnectionPool& pool = Pool();
    pool.PumpPosted = false;
    while (pool.Open < Bound() && !pool.Waiting.empty()) {
        auto probe = pool.Waiting.front().lock();
        if (!probe || probe->Done || !probe->Waiting()) {
            if (probe)
                probe->Queued = false;
            pool.Waiting.pop_front();
            continue;
        }
        // One host's ports go out together before the next host's, so each host is answered soon.
        probe->OpenNext();
    }
}

void PostPump()
{
    TConnectionPool& pool = Pool();
    if (pool.PumpPosted || pool.Waiting.empty())
        return;
    pool.PumpPosted = true;
    TWorkerEngine::Instance().Post(Pump);
}

void CloseConnection(int fd)
{
    TWorkerEngine::Instance().Unwatch(fd);
    ::close(fd);
    --Pool().Open;
}

// Whether an ICMP error stands behind the failure of a connection, and who sent it (the error queue only
// ever holds errors reported by ICMP, since the socket asked for them with IP_RECVERR).
bool IcmpOffender(int fd, quint32* offender)
{
    char data[64];
    alignas(cmsghdr) char control[256];
    iovec io{data, sizeof(data)};
    sockaddr_in from{};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof(from);
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    if (recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
        return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
            continue;
        const auto* error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        if (error->ee_origin != SO_EE_ORIGIN_ICMP)
            continue;
        const auto* sender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(error));
        *offender = sender->sin_family == AF_INET ? ntohl(sender->sin_addr.s_addr) : 0;
        return true;
    }
    return false;
}

} // namespace

void TTcpProbe::TState::OpenNext()
{
    TConnectionPool& pool = Pool();
    const quint16 port = Ports[NextPort++];
    if (!Waiting()) {
        pool.Waiting.pop_front();
        Queued = false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        PortFailed(-1);
        return;
    }
    ++pool.Open;
    pool.Peak = std::max(pool.Peak, pool.Open);
    const int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on));
    // Closing sends a reset: no connection is left half-open on the host, none lingers here.
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(Address);
    Open.push_back({fd, port});
    const int connected = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    if (connected == 0 || errno == ECONNREFUSED) {
        Ready(fd, port, connected == 0 ? 0 : ECONNREFUSED);
        return;
    }
    if (errno != EINPROGRESS) {
        PortFailed(fd);
        return;
    }
    TWorkerEngine::Instance().Watch(fd, POLLOUT, [self = weak_from_this(), fd, port](short /*revents*/) {
        if (auto probe = self.lock(); probe && !probe->Done)
            probe->Ready(fd, port);
    });
}

void TTcpProbe::TState::Ready(int fd, quint16 port, int error)
{
    socklen_t size = sizeof(error);
    if (error < 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    quint32 offender = 0;
    bool proves = error == 0;
    if (error == ECONNREFUSED)
        // A reset comes from the host itself; of refusals reported by ICMP only the host's own count.
        proves = !IcmpOffender(fd, &offender) || offender == Address;
    if (!proves) {
        PortFailed(fd);
        return;
    }
    TTcpProbeResult result;
    result.Up = true;
    result.Port = port;
    result.Accepted = error == 0;
    End(result, true);
}

void TTcpProbe::TState::PortFailed(int fd)
{
    if (fd >= 0) {
        std::erase_if(Open, [fd](const TConnection& c) { return c.Fd == fd; });
        CloseConnection(fd);
        PostPump();
    }
    if (Open.empty() && !Waiting())
        End({}, true);
}

void TTcpProbe::TState::End(const TTcpProbeResult& result, bool report)
{
    if (Done)
        return;
    Done = true;
    for (const TConnection& c : Open)
        CloseConnection(c.Fd);
    Open.clear();
    NextPort = Ports.size();
    if (Deadline != 0)
        TWorkerEngine::Instance().Cancel(Deadline);
    Deadline = 0;
    PostPump();
    THandler handler = std::move(OnDone);
    OnDone = nullptr;
    if (report && handler)
        handler(result);
}

TTcpProbe::TTcpProbe() = default;

TTcpProbe::~TTcpProbe()
{
    if (!FState)
        return;
    if (TWorkerEngine::Instance().OnEngine())
        FState->End({}, false);
    else
        TWorkerEngine::Instance().Post([state = FState] { state->End({}, false); });
}

void TTcpProbe::Start(quint32 address, const std::vector<quint16>& ports, int timeoutMs, THandler onDone)
{
    Cancel();
    FState = std::make_shared<TState>();
    FState->Address = address;
    FState->Ports = ports;
    FState->OnDone = std::move(onDone);
    if (ports.empty()) {
        FState->End({}, true);
        return;
    }
    FState->Deadline = TWorkerEngine::Instance().At(TWorkerEngine::TClock::now() +
                                                        std::chrono::milliseconds(std::max(0, timeoutMs)),
                                                    [weak = std::weak_ptr<TState>(FState)] {
                                                        if (auto state = weak.lock()) {
                                                            state->Deadline = 0;
                                                            state->End({}, true);
                                                        }
                                                    });
    FState->Queued = true;
    Pool().Waiting.push_back(FState);
    Pump();
}

void TTcpProbe::Cancel()
{
    if (FState)
        FState->End({}, false);
    FState.reset();
}

int TTcpProbe::MaxOpenConnections()
{
    return Bound();
}

int TTcpProbe::OpenConnections()
{
    return Pool().Open;
}

int TTcpProbe::PeakOpenConnections()
{
    return Pool().Peak;
}
