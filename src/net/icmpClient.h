#pragma once

#include "core/worker.h"
#include "net/icmpListener.h"

#include <functional>
#include <memory>
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The record of the one answer an ICMP exchange accepts (or of its time-out).
struct TReplyStatus
{
    int BytesReceived = 0;       // IP header included; 0 on time-out
    quint32 FromAddress = 0;     // host byte order; 0 on time-out
    quint8 MsgType = 0;          // ICMP type; 0 on time-out
    quint16 SequenceId = 0;      // found in the packet; the own number on time-out
    quint32 MsRoundTripTime = 0; // from just before sending to the end of the wait
    quint8 TimeToLive = 0;       // of the answer; 0 on time-out
    quint8 ReplyStatus = 0;      // outcome: 0 answer, 2 timed out, 3 unreachable, 4 TTL expired
};

// One echo request and the wait for its answer, carried out on the worker engine: the request is
// sent from the engine, the wait is a deadline in its timer queue and the answer comes from the shared
// ICMP socket. Only a name lookup, which can block, goes to the pool for blocking calls.
class TIcmpClient
{
public:
    static constexpr int DefaultTTL = 128;
    using TReplyHandler = std::function<void(const TReplyStatus&)>;
    // The message of a failure: an unresolvable host or failing send or read ("Socket Error # %d\r\n%s"),
    // no ICMP socket ("Cannot allocate socket."), a packet too short for an ICMP header ("Not enough
    // bytes received").
    using TErrorHandler = std::function<void(const QString& message)>;

    TIcmpClient();
    ~TIcmpClient();

    QString Host;
    int ReceiveTimeout = 5000; // milliseconds
    int TTL = DefaultTTL;
    // Engine thread, when set: the host's address (host byte order) once it is known, before the request
    // is sent; then the moment the request has left.
    std::function<void(quint32 address)> OnResolved;
    std::function<void()> OnSent;

    // Engine thread. Sends one echo request carrying payload and sequence (0: the default 3489) and
    // waits for the answer with that sequence number from the address the request went to. Exactly one
    // of the handlers is called, once, on the engine thread; the client must live until then.
    void Start(const QByteArray& payload, quint16 sequence, TReplyHandler onReply, TErrorHandler onError);
    // Engine thread, after OnSent: ends the wait without calling either handler.
    void Cancel();
    // After the error handler was called: whether the failure was for want of an ICMP socket.
    bool NoSocket() const { return FNoSocket; }

private:
    struct TExchange;
    struct TDeadlines;
    void Send(quint32 address);
    void Sent(quint32 attempt, const TIcmpListener::TSent& sent);
    void Received(const TIcmpListener::TEvent& event);
    void TimedOut();
    void Fail(const QString& message);
    void Answer(const TReplyStatus& reply);
    void Ended();
    std::unique_ptr<TExchange> FExchange;
    bool FNoSocket = false;
};

// The socket error text for an error number and its description.
QString SocketErrorText(int code, const QString& description);
