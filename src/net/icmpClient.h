#pragma once

#include <functional>
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The record of the one answer an ICMP exchange accepts (or of its time-out).
struct TReplyStatus
{
    int BytesReceived = 0;       // IP header included; 0 on time-out
    QString FromIpAddress;       // dotted decimal; "0.0.0.0" on time-out
    quint8 MsgType = 0;          // ICMP type; 0 on time-out
    quint16 SequenceId = 0;      // found in the packet; the own number on time-out
    quint32 MsRoundTripTime = 0; // from just before sending to the end of the wait
    quint8 TimeToLive = 0;       // of the answer; 0 on time-out
    quint8 ReplyStatus = 0;      // outcome: 0 answer, 2 timed out, 3 unreachable, 4 TTL expired
};

// One echo request and the wait for its answer.
class TIcmpClient
{
public:
    static constexpr int DefaultTTL = 128;

    QString Host;
    int ReceiveTimeout = 5000; // milliseconds
    int TTL = DefaultTTL;

    // Sends one echo request carrying payload and sequence (0: the default 3489) and waits for the answer
    // with that sequence number; hands the record to onReply. Throws Exception with the message of a
    // failure: an unresolvable host or failing send ("Socket Error # %d\r\n%s"), no ICMP socket
    // ("Cannot allocate socket."), a packet too short for an ICMP header ("Not enough bytes received").
    void Ping(const QByteArray& payload, quint16 sequence,
              const std::function<void(const TReplyStatus&)>& onReply);
};

// The socket error text for an error number and its description.
QString SocketErrorText(int code, const QString& description);
