#include "net/icmpListener.h"

#include "core/rawCapability.h"
#include "core/worker.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

// When the first and the latest echo request left, and how many left; for benchmarks.
std::atomic<qint64> FirstSend{0};
std::atomic<qint64> LastSend{0};
std::atomic<qint64> SentCount{0};

// Open TIcmpListener::TBatch scopes (engine thread only), and the process's listener once made.
int BatchDepth = 0;
std::atomic<TIcmpListener*> TheListener{nullptr};

// Below this many messages a batch is sent by the engine alone: waking the helper costs more.
constexpr size_t SharedBatchMinimum = 16;

qint64 MonotonicNowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Room for a burst of answers: a thousand checks answered at once must not overflow the queue.
constexpr int ReceiveBufferBytes = 8 * 1024 * 1024;
// The receive buffer of the check: longer packets count as this length.
constexpr int PacketBufferBytes = 1024;
// Room for the largest packet, so the checksum can be verified over all of it.
constexpr int RawReadBytes = 65536;
constexpr int IPv4HeaderBytes = 20;

// An ICMP datagram socket also flags each error message it queues as its pending error, and a read that
// meets the flag fails once with it while the message itself waits on the error queue for its check. Such
// an error is no failure of the read or of another check's send, and must not end other checks.
bool IsReportedIcmpError(int error)
{
    switch (error) {
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case ECONNREFUSED:
    case EMSGSIZE:
    case EOPNOTSUPP:
    case EHOSTDOWN:
    case ENONET:
    case EACCES:
    case EPROTO:
        return true;
    default:
        return false;
    }
}

// One datagram read from the socket, with its sender and its ancillary data.
struct TReceivedMessage
{
    uchar Buffer[PacketBufferBytes] = {};
    sockaddr_in From{};
    alignas(cmsghdr) char Control[512] = {};
    iovec Data{};
    msghdr Msg{};

    ssize_t Receive(int fd, int flags)
    {
        Data = {Buffer, sizeof(Buffer)};
        Msg = {};
        Msg.msg_name = &From;
        Msg.msg_namelen = sizeof(From);
        Msg.msg_iov = &Data;
        Msg.msg_iovlen = 1;
        Msg.msg_control = Control;
        Msg.msg_controllen = sizeof(Control);
        return recvmsg(fd, &Msg, flags | MSG_DONTWAIT);
    }
};

// The kernel's receive time of a message, from its ancillary data; 0 when it carries none.
qint64 ReceiveTime(msghdr& msg)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
            return qint64(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
        }
    return 0;
}

// Round-trip times come from the kernel's receive stamps, so a busy engine does not lengthen them.
void AskForTimestamps(int fd)
{
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
}

// A raw ICMP socket sees every ICMP packet the host receives, our own echo requests on loopback among
// them. This filter lets only what a check reads reach the queue: echo replies, and unreachable and
// time-exceeded errors that quote an ICMP packet. It reads the packet as the raw socket gets it, from
// its IP header.
void AttachRawFilter(int fd)
{
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),        // X = length of the IP header
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),         // A = ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 4, 0),  // echo reply: keep
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, 1, 0),  // unreachable: look at what it quotes
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 11, 0, 3), // time exceeded: likewise; else drop
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8 + 9),     // A = protocol of the quoted IP header
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_ICMP, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program));
}

void EnlargeReceiveBuffer(int fd)
{
    int size = ReceiveBufferBytes;
    // Beyond net.core.rmem_max only with CAP_NET_ADMIN; otherwise take what the limit allows.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
}

// On a datagram socket the kernel writes the socket's port into every request's identifier field, in
// the order the port is kept in (network order). Binding the port whose bytes in memory are the
// little-endian identifier makes the request on the wire carry the same bytes as on the raw socket.
// When another ICMP socket already holds that port (another process whose id has the same low 16 bits),
// the kernel picks a free port instead, and the requests carry that one: answers still reach this socket
// and are still told apart by their sequence numbers. Gives the identifier the requests will carry.
quint16 BindIdentifier(int fd, quint16 wanted)
{
    sockaddr_in own{};
    own.sin_family = AF_INET;
    const uchar bytes[2] = {static_cast<uchar>(wanted & 0xFF), static_cast<uchar>(wanted >> 8)};
    std::memcpy(&own.sin_port, bytes, sizeof(bytes));
    if (bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof(own)) != 0) {
        own.sin_port = 0;
        bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof(own));
    }
    socklen_t length = sizeof(own);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length) != 0)
        return wanted;
    return ReadLE16(reinterpret_cast<const uchar*>(&own.sin_port));
}

int OpenDatagramSocket()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    const int on = 1;
    // The TTL of answers and the errors that quote our requests (unreachable, TTL expired).
    if (setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof(on)) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on)) != 0) {
        close(fd);
        return -1;
    }
    EnlargeReceiveBuffer(fd);
    AskForTimestamps(fd);
    return fd;
}

int OpenRawSocket()
{
    const int fd = [] {
        const TRawCapabilityScope capability;
        return socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    }();
    if (fd < 0)
        return -1;
    // Let the kernel drop the ICMP types no check can use, so they never take room in the queue.
    icmp_filter filter{};
    filter.data = ~((1u << 0) | (1u << 3) | (1u << 11));
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    AttachRawFilter(fd);
    EnlargeReceiveBuffer(fd);
    AskForTimestamps(fd);
    return fd;
}

// Sends one ICMP message on fd. Returns 0 or the errno of the failure.
int SendOn(int fd, TIcmpListener::TSocketKind kind, const QByteArray& message, quint32 address, int ttl)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);

    // The TTL travels with each message, since the socket is shared by every check.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int)) + CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    iovec data{const_cast<char*>(message.constData()), static_cast<size_t>(message.size())};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof(to);
    msg.msg_iov = &data;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(sizeof(int));
    cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = IPPROTO_IP;
    cmsg->cmsg_type = IP_TTL;
    cmsg->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cmsg), &ttl, sizeof(int));
    if ((address >> 24) == 127) {
        // A loopback request leaves from the address it is sent to, so the request that a raw socket
        // sees on loopback names the same host as the reply would.
        msg.msg_controllen += CMSG_SPACE(sizeof(in_pktinfo));
        cmsg = CMSG_NXTHDR(&msg, cmsg);
        cmsg->cmsg_level = IPPROTO_IP;
        cmsg->cmsg_type = IP_PKTINFO;
        cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(address);
        std::memcpy(CMSG_DATA(cmsg), &info, sizeof(info));
    }
    // A pending error flagged by another check's error message fails one call, and that call clears it;
    // an error of this send itself comes back every time.
    int reportedErrors = 0;
    for (;;) {
        if (sendmsg(fd, &msg, 0) >= 0) {
            const qint64 now = MonotonicNowNs();
            if (qint64 first = 0; FirstSend.load(std::memory_order_relaxed) == 0)
                FirstSend.compare_exchange_strong(first, now, std::memory_order_relaxed);
            // Two threads may send: the latest stays.
            qint64 last = LastSend.load(std::memory_order_relaxed);
            while (last < now && !LastSend.compare_exchange_weak(last, now, std::memory_order_relaxed)) {
            }
            SentCount.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (kind == TIcmpListener::skDatagram && IsReportedIcmpError(errno) && ++reportedErrors <= 16)
            continue;
        return errno;
    }
}

// As SendOn, noting the moment the message left (taken just before, as a round trip is counted from it).
void SendStamped(int fd, TIcmpListener::TSocketKind kind, const QByteArray& message, quint32 address, int ttl,
                 TIcmpListener::TSent& sent)
{
    sent.At = TWorkerEngine::TClock::now();
    sent.PacketNs = PacketClockNs();
    sent.Error = SendOn(fd, kind, message, address, ttl);
}

} // namespace

struct TIcmpListener::TQueued
{
    QByteArray Message;
    quint32 Address = 0;
    int TTL = 0;
    quint16 Sequence = 0;
    // Engine thread only; null once the waiter ended or sent again, and then nobody is told.
    TWaiter* Waiter = nullptr;
    TSentHandler OnSent;
    // Written by the thread that sent it.
    TSent Outcome;
};

TIcmpListener::TWaiter::TWaiter(TIcmpListener& listener, quint16 sequence, THandler handler)
    : FListener(listener), FSequence(sequence), FHandler(std::move(handler))
{
    TWaiter*& first = FListener.FFirst[FSequence];
    if (!first) {
        first = this;
        return;
    }
    FPrev = first->FPrev;
    FNext = first;
    FPrev->FNext = this;
    first->FPrev = this;
}

TIcmpListener::TWaiter::~TWaiter()
{
    if (FSendList) {
        TQueued& pending = (*FSendList)[FSendIndex];
        pending.Waiter = nullptr;
        pending.OnSent = nullptr;
    }
    if (FListener.FDelivering > 0)
        FListener.FGone.insert(this);
    TWaiter*& first = FListener.FFirst[FSequence];
    if (FNext == this) {
        first = nullptr;
        return;
    }
    FPrev->FNext = FNext;
    FNext->FPrev = FPrev;
    if (first == this)
        first = FNext;
}

qint64 TIcmpListener::FirstSendTime()
{
    return FirstSend.load(std::memory_order_relaxed);
}

qint64 TIcmpListener::LastSendTime()
{
    return LastSend.load(std::memory_order_relaxed);
}

qint64 TIcmpListener::SentRequests()
{
    return SentCount.load(std::memory_order_relaxed);
}

TIcmpListener* TIcmpListener::Acquire()
{
    static std::mutex openLock;
    // Never destroyed: the engine watches its socket until the process ends.
    static TIcmpListener* instance = nullptr;
    std::lock_guard<std::mutex> guard(openLock);
    if (instance)
        return instance;
    const auto processId = static_cast<quint16>(getpid() & 0xFFFF);
    TSocketKind kind = skDatagram;
    quint16 identifier = processId;
    int fd = OpenDatagramSocket();
    if (fd >= 0) {
        identifier = BindIdentifier(fd, processId);
    } else {
        kind = skRaw;
        fd = OpenRawSocket();
    }
    if (fd < 0)
        return nullptr;
    instance = new TIcmpListener(fd, kind, identifier);
    TheListener.store(instance);
    TWorkerEngine::Instance().Watch(fd, [listener = instance](short revents) { listener->Ready(revents); });
    return instance;
}

TIcmpListener::TIcmpListener(int socket, TSocketKind kind, quint16 identifier)
    : FSocket(socket), FKind(kind), FIdentifier(identifier), FFirst(65536, nullptr), FUnreported(65536, 0)
{
}

int TIcmpListener::Send(const QByteArray& message, quint32 address, int ttl)
{
    return SendOn(FSocket, FKind, message, address, ttl);
}

void TIcmpListener::Send(TWaiter& waiter, const QByteArray& message, quint32 address, int ttl,
                         TSentHandler onSent)
{
    if (waiter.FSendList) {
        // Superseded: the earlier send's outcome reaches nobody.
        TQueued& earlier = (*waiter.FSendList)[waiter.FSendIndex];
        earlier.Waiter = nullptr;
        earlier.OnSent = nullptr;
        waiter.FSendList = nullptr;
    }
    if (BatchDepth > 0) {
        waiter.FSendList = &FQueued;
        waiter.FSendIndex = FQueued.size();
        FQueued.push_back({message, address, ttl, waiter.FSequence, &waiter, std::move(onSent), {}});
        ++FUnreported[waiter.FSequence];
        return;
    }
    TSent sent;
    SendStamped(FSocket, FKind, message, address, ttl, sent);
    onSent(sent);
}

TIcmpListener::TBatch::TBatch()
{
    ++BatchDepth;
}

TIcmpListener::TBatch::~TBatch()
{
    if (--BatchDepth == 0)
        if (TIcmpListener* listener = TheListener.load())
            listener->Flush();
}

// The second sending thread, with a raw socket of its own that reads nothing (all ICMP types filtered
// out): one shared socket would let only one thread in its send at a time. The answers still come to
// the listener's socket, which sees every ICMP packet. The engine hands it a batch and goes on; when the
// next batch is ready the engine claims what is left of the first, a message at a time, and waits until
// every claimed message has left before it calls their handlers. A batch the helper finishes alone is
// reported by an event descriptor the engine watches.
class TIcmpListener::TSendHelper
{
public:
    static std::unique_ptr<TSendHelper> Make()
    {
        const int fd = [] {
            const TRawCapabilityScope capability;
            return socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        }();
        if (fd < 0)
            return nullptr;
        const int done = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (done < 0) {
            close(fd);
            return nullptr;
        }
        icmp_filter filter{};
        filter.data = ~0u;
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
        // Types beyond the filter's 32 are dropped too.
        sock_filter drop[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
        sock_fprog program{1, drop};
        setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program));
        return std::unique_ptr<TSendHelper>(new TSendHelper(fd, done));
    }

    // Readable when the helper has sent the last message of a batch.
    int DoneDescriptor() const { return FDoneFd; }

    // Engine thread: hands the batch over. It must stay where it is until HelpAndWait returned.
    void Post(std::vector<TQueued>& items)
    {
        {
            std::lock_guard<std::mutex> guard(FLock);
            ++FRound;
            FItems = items.data();
            FCount = static_cast<quint32>(items.size());
            FDone.store(0, std::memory_order_relaxed);
            FClaim.store(FRound << 32, std::memory_order_release);
        }
        FPosted.notify_one();
    }

    // Engine thread: whether every message of the posted batch has left.
    bool Done() const { return FDone.load(std::memory_order_acquire) == FCount; }

    // Engine thread: sends what nobody has claimed yet of the posted batch, then waits for the helper's
    // last message (at most one is still in its send).
    void HelpAndWait(int engineSocket, TSocketKind engineKind, std::vector<TQueued>& items)
    {
        for (quint32 i; Claim(FRound, FCount, i);) {
            TQueued& q = items[i];
            SendStamped(engineSocket, engineKind, q.Message, q.Address, q.TTL, q.Outcome);
            FDone.fetch_add(1, std::memory_order_acq_rel);
        }
        for (quint32 done; (done = FDone.load(std::memory_order_acquire)) != FCount;)
            FDone.wait(done, std::memory_order_acquire);
    }

    // Engine thread: takes the reports of finished batches off the descriptor.
    void Drain() const
    {
        quint64 wakes = 0;
        [[maybe_unused]] const ssize_t read = ::read(FDoneFd, &wakes, sizeof(wakes));
    }

private:
    TSendHelper(int socket, int done) : FSocket(socket), FDoneFd(done)
    {
        // Never ended: the listener lives as long as the process, and the thread sleeps between batches.
        std::thread([this] { Run(); }).detach();
    }

    // Takes the next message of the round, unless the round is over or another has begun.
    bool Claim(quint64 round, quint32 count, quint32& index)
    {
        quint64 claim = FClaim.load(std::memory_order_acquire);
        for (;;) {
            if ((claim >> 32) != round || quint32(claim) >= count)
                return false;
            if (FClaim.compare_exchange_weak(claim, claim + 1, std::memory_order_acq_rel))
                break;
        }
        index = quint32(claim);
        return true;
    }

    void Run()
    {
        quint64 seen = 0;
        for (;;) {
            TQueued* items = nullptr;
            quint32 count = 0;
            quint64 round = 0;
            {
                std::unique_lock<std::mutex> lock(FLock);
                FPosted.wait(lock, [&] { return FRound != seen; });
                round = seen = FRound;
                items = FItems;
                count = FCount;
            }
            for (quint32 i; Claim(round, count, i);) {
                TQueued& q = items[i];
                SendStamped(FSocket, skRaw, q.Message, q.Address, q.TTL, q.Outcome);
                if (FDone.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
                    FDone.notify_one();
                    const quint64 one = 1;
                    [[maybe_unused]] const ssize_t written = ::write(FDoneFd, &one, sizeof(one));
                }
            }
        }
    }

    const int FSocket;
    const int FDoneFd;
    std::mutex FLock;
    std::condition_variable FPosted;
    // The round and the batch: written under FLock by the engine, read there by the helper.
    quint64 FRound = 0;
    TQueued* FItems = nullptr;
    quint32 FCount = 0;
    // The round (high half) and the next message to claim in it (low half).
    std::atomic<quint64> FClaim{0};
    std::atomic<quint32> FDone{0};
};

void TIcmpListener::Flush()
{
    // A handler may open and close a batch of its own: each is handed over only after the one before it
    // has been reported.
    while (!FInFlight.empty())
        CompleteInFlight();
    if (FQueued.empty())
        return;
    const bool shared = FKind == skRaw && FQueued.size() >= SharedBatchMinimum;
    if (shared && !FHelper && !FHelperFailed) {
        FHelper = TSendHelper::Make();
        FHelperFailed = !FHelper;
        if (FHelper)
            TWorkerEngine::Instance().Watch(FHelper->DoneDescriptor(), [this](short) { HelperDone(); });
    }
    if (shared && FHelper) {
        FInFlight.swap(FQueued);
        Relink(FInFlight);
        FHelper->Post(FInFlight);
        return;
    }
    std::vector<TQueued> queued;
    queued.swap(FQueued);
    Relink(queued);
    for (TQueued& q : queued)
        SendStamped(FSocket, FKind, q.Message, q.Address, q.TTL, q.Outcome);
    Report(queued);
    ReleaseHeld();
}

void TIcmpListener::CompleteInFlight()
{
    if (FInFlight.empty())
        return;
    FHelper->HelpAndWait(FSocket, FKind, FInFlight);
    // Taken first: a handler may send again, and then into a new list.
    std::vector<TQueued> sent;
    sent.swap(FInFlight);
    Relink(sent);
    Report(sent);
    ReleaseHeld();
}

void TIcmpListener::ReleaseHeld()
{
    std::vector<THeld> held;
    held.swap(FHeld);
    for (const THeld& h : held) {
        if (h.ToAll)
            DispatchToAll(h.Event);
        else
            Dispatch(h.Event.Answer);
    }
}

void TIcmpListener::Relink(std::vector<TQueued>& list)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (TWaiter* waiter = list[i].Waiter) {
            waiter->FSendList = &list;
            waiter->FSendIndex = i;
        }
}

void TIcmpListener::Report(std::vector<TQueued>& sent)
{
    for (TQueued& q : sent) {
        --FUnreported[q.Sequence];
        TWaiter* waiter = q.Waiter;
        if (!waiter)
            continue;
        waiter->FSendList = nullptr;
        q.Waiter = nullptr;
        try {
            q.OnSent(q.Outcome);
        } catch (...) {
            // As for the engine's tasks: the handler's owner reports its own errors; the others still run.
        }
    }
}

void TIcmpListener::HelperDone()
{
    FHelper->Drain();
    if (FInFlight.empty() || !FHelper->Done())
        return;
    CompleteInFlight();
}

void TIcmpListener::Ready(short revents)
{
    if (FKind == skDatagram && (revents & POLLERR))
        ReadErrorQueue();
    if (FKind == skRaw && (revents & POLLERR)) {
        // A pending error of the raw socket (some ICMP errors about ICMP set one) is nobody's answer;
        // clear it, or the socket would stay ready and the engine would spin on it.
        int error = 0;
        socklen_t size = sizeof(error);
        getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &error, &size);
    }
    if (revents & POLLIN) {
        if (FKind == skRaw)
            ReadRaw();
        else
            ReadDatagram();
    }
}

void TIcmpListener::ReadRaw()
{
    static thread_local std::vector<uchar> buffer(RawReadBytes);
    alignas(cmsghdr) char control[128];
    for (;;) {
        iovec data{buffer.data(), buffer.size()};
        msghdr msg{};
        msg.msg_iov = &data;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        const ssize_t length = recvmsg(FSocket, &msg, MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EINTR || IsReportedIcmpError(errno))
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                TEvent event;
                event.Error = errno;
                DispatchToAll(event);
            }
            return;
        }
        TIcmpAnswer answer = ParseRawPacket(buffer.data(), static_cast<int>(length));
        answer.ReceivedNs = ReceiveTime(msg);
        // The check's own buffer holds this much; a longer packet counts as what it could hold.
        answer.Length = std::min(answer.Length, PacketBufferBytes);
        Dispatch(answer);
    }
}

void TIcmpListener::ReadDatagram()
{
    for (;;) {
        TReceivedMessage m;
        const ssize_t length = m.Receive(FSocket, 0);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            if (IsReportedIcmpError(errno)) {
                // Its message waits on the error queue.
                ReadErrorQueue();
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                TEvent event;
                event.Error = errno;
                DispatchToAll(event);
            }
            return;
        }
        // The kernel strips the IP header; count it as a raw socket would have received it.
        TIcmpAnswer answer;
        answer.Length = static_cast<int>(length) + IPv4HeaderBytes;
        if (length < IcmpHeaderSize) {
            answer.Kind = TIcmpAnswer::TooShort;
            Dispatch(answer);
            continue;
        }
        answer.Type = m.Buffer[0];
        answer.From = ntohl(m.From.sin_addr.s_addr);
        answer.ReceivedNs = ReceiveTime(m.Msg);
        for (cmsghdr* c = CMSG_FIRSTHDR(&m.Msg); c; c = CMSG_NXTHDR(&m.Msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
                int ttl = 0;
                std::memcpy(&ttl, CMSG_DATA(c), sizeof(ttl));
                answer.TTL = static_cast<quint8>(ttl);
            }
        const int outcome = OutcomeOfType(answer.Type);
        if (outcome == 0) {
            answer.Kind = TIcmpAnswer::Answer;
            answer.Identifier = ReadLE16(m.Buffer + 4);
            answer.Sequence = ReadLE16(m.Buffer + 6);
        }
        Dispatch(answer);
    }
}

void TIcmpListener::ReadErrorQueue()
{
    for (;;) {
        TReceivedMessage m;
        const ssize_t length = m.Receive(FSocket, MSG_ERRQUEUE);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        TIcmpAnswer answer;
        bool fromNetwork = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m.Msg); c; c = CMSG_NXTHDR(&m.Msg, c)) {
            if (c->cmsg_level != IPPROTO_IP)
                continue;
            if (c->cmsg_type == IP_RECVERR) {
                const auto* error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
                if (error->ee_origin != SO_EE_ORIGIN_ICMP)
                    continue; // a local error: the send already reported it
                fromNetwork = true;
                answer.Type = error->ee_type;
                const auto* offender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(error));
                if (offender->sin_family == AF_INET)
                    answer.From = ntohl(offender->sin_addr.s_addr);
            } else if (c->cmsg_type == IP_TTL) {
                int ttl = 0;
                std::memcpy(&ttl, CMSG_DATA(c), sizeof(ttl));
                answer.TTL = static_cast<quint8>(ttl);
            }
        }
        if (!fromNetwork)
            continue;
        // The queue holds the quoted request; a raw socket would have seen the error's IP and ICMP
        // headers and the quoted IP header before it.
        answer.Length = static_cast<int>(length) + IPv4HeaderBytes + IcmpHeaderSize + IPv4HeaderBytes;
        const int outcome = OutcomeOfType(answer.Type);
        if (outcome > 0 && length >= IcmpHeaderSize) {
            answer.Kind = TIcmpAnswer::Answer;
            answer.Outcome = static_cast<quint8>(outcome);
            // The queue names the quoted request's destination as the message's address.
            answer.QuotedDestination = ntohl(m.From.sin_addr.s_addr);
            answer.Identifier = ReadLE16(m.Buffer + 4);
            answer.Sequence = ReadLE16(m.Buffer + 6);
        }
        Dispatch(answer);
    }
}

void TIcmpListener::Dispatch(const TIcmpAnswer& answer)
{
    if (answer.Kind == TIcmpAnswer::TooShort) {
        TEvent event;
        event.Answer = answer;
        DispatchToAll(event);
        return;
    }
    if (answer.Kind != TIcmpAnswer::Answer)
        return;
    if (FUnreported[answer.Sequence] > 0) {
        FHeld.push_back({{answer, 0}, false});
        return;
    }
    TWaiter* first = FFirst[answer.Sequence];
    if (!first)
        return; // for nobody
    const TEvent event{answer, 0};
    if (first->FNext == first) {
        // The usual case, one check per number. Its handler may end the wait and free the waiter: it
        // runs from a copy of its own.
        const THandler handler = first->FHandler;
        handler(event);
        return;
    }
    std::vector<TWaiter*> waiters;
    AppendRing(first, waiters);
    Deliver(std::move(waiters), event);
}

void TIcmpListener::DispatchToAll(const TEvent& event)
{
    if (!FInFlight.empty() || !FQueued.empty()) {
        FHeld.push_back({event, true});
        return;
    }
    std::vector<TWaiter*> all;
    for (TWaiter* first : FFirst)
        if (first)
            AppendRing(first, all);
    Deliver(std::move(all), event);
}

void TIcmpListener::AppendRing(TWaiter* first, std::vector<TWaiter*>& waiters)
{
    TWaiter* waiter = first;
    do {
        waiters.push_back(waiter);
        waiter = waiter->FNext;
    } while (waiter != first);
}

void TIcmpListener::Deliver(std::vector<TWaiter*> waiters, const TEvent& event)
{
    // A handler may end its own wait or another's (and a new waiter may take a freed one's place):
    // each is called only while it has not ended since the packet came.
    ++FDelivering;
    for (TWaiter* waiter : waiters)
        if (!FGone.contains(waiter)) {
            // The handler may end the wait and with it the waiter; it runs from a copy of its own.
            const THandler handler = waiter->FHandler;
            handler(event);
        }
    if (--FDelivering == 0)
        FGone.clear();
}
