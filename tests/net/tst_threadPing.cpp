// Reachability checks on loopback, in this process: the echo request on the wire, the reading of
// answers, concurrent checks and the computer's CheckOnline.
#include "core/dateTime.h"
#include "core/worker.h"
#include "model/computers.h"
#include "net/icmpListener.h"
#include "net/icmpPacket.h"
#include "net/threadPing.h"
#include "support/netns.h"
#include "support/procStatus.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct TCheckResult
{
    bool Done = false;
    quint8 Outcome = 0xFF;
    QString Text;
    QString From;
    quint32 RoundTrip = 0;
    int Bytes = 0;
    qint64 Elapsed = 0;
};

// Starts a check whose results land in *result when it completes.
void StartCheck(const QString& host, quint16 sequence, TCheckResult* result, int ttl = -1, int begunMsAgo = 0)
{
    auto* check = new TPingThread(host, 5000, ttl);
    check->SetSequence(sequence);
    if (begunMsAgo > 0)
        check->SetStartedAt(TWorkerEngine::TClock::now() - std::chrono::milliseconds(begunMsAgo));
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    check->SetOnTerminate([result, clock](TWorkerThread* sender) {
        auto* done = static_cast<TPingThread*>(sender);
        result->Done = true;
        result->Outcome = done->Outcome();
        result->Text = done->ReplyText();
        result->From = done->FromAddress();
        result->RoundTrip = done->RoundTripTime();
        result->Bytes = done->ReceivedBytes();
        result->Elapsed = clock->elapsed();
    });
    check->Start();
}

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray data;
    for (int v : values)
        data.append(static_cast<char>(v));
    return data;
}

// A 20-byte IP header from 10.1.2.3 with the given TTL, then the ICMP message.
QByteArray IpPacket(const QByteArray& icmp, int ttl = 64, int headerWords = 5)
{
    QByteArray header(headerWords * 4, '\0');
    header[0] = static_cast<char>(0x40 | headerWords);
    header[8] = static_cast<char>(ttl);
    header[9] = 1;
    header[12] = 10;
    header[13] = 1;
    header[14] = 2;
    header[15] = 3;
    return header + icmp;
}

// The ICMP message with its checksum filled in.
QByteArray Sealed(QByteArray icmp)
{
    icmp[2] = icmp[3] = 0;
    const quint16 sum = InternetChecksum(reinterpret_cast<const uchar*>(icmp.constData()), int(icmp.size()));
    icmp[2] = static_cast<char>(sum & 0xFF);
    icmp[3] = static_cast<char>(sum >> 8);
    return icmp;
}

QByteArray Echo(int type, quint16 sequence, quint16 identifier = 0x4321)
{
    QByteArray icmp(8 + 8, '\0');
    icmp[0] = static_cast<char>(type);
    icmp[4] = static_cast<char>(identifier & 0xFF);
    icmp[5] = static_cast<char>(identifier >> 8);
    icmp[6] = static_cast<char>(sequence & 0xFF);
    icmp[7] = static_cast<char>(sequence >> 8);
    return Sealed(icmp);
}

// An ICMP error quoting an echo request to 192.0.2.7 with the sequence number; the quoted IP header has
// quotedWords 32-bit words and carries the given protocol.
QByteArray ErrorQuoting(int type, quint16 sequence, int quotedWords = 5, int protocol = 1)
{
    QByteArray icmp(8, '\0');
    icmp[0] = static_cast<char>(type);
    QByteArray quotedHeader(quotedWords * 4, '\0');
    quotedHeader[0] = static_cast<char>(0x40 | quotedWords);
    quotedHeader[9] = static_cast<char>(protocol);
    quotedHeader[16] = static_cast<char>(192);
    quotedHeader[18] = 2;
    quotedHeader[19] = 7;
    return Sealed(icmp + quotedHeader + Echo(8, sequence).left(8));
}

} // namespace

class TestThreadPing : public QObject
{
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void echoRequestLayout_data();
    void echoRequestLayout();
    void parseRawPacket_data();
    void parseRawPacket();
    void singleLine();

    void requestOnTheWire_data();
    void requestOnTheWire();
    void answerFromLoopback_data();
    void answerFromLoopback();
    void unresolvableHost_data();
    void unresolvableHost();
    void concurrentChecksKeepTheirAnswers();
    void sendFailureInABurstReachesOnlyItsCheck();
    void checksSharingASequenceNumber();
    void batchInFlightHoldsAnswersAndForgetsEndedWaiters();
    void laterCheckOfABurstPausesItsOwnTime();
    void invalidTTLIsASocketError();
    void exitWhileChecksRun();

    void checkOnlineSetsResult();
    void newerCheckSupersedes_data();
    void newerCheckSupersedes();
    void deletedComputerHearsNothing();
};

void TestThreadPing::checksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("stored"); // the two checksum bytes as they go on the wire
    // RFC 1071's worked example: the sum of 0001 f203 f4f5 f6f7 is ddf2, its complement 220d.
    QTest::newRow("rfc1071") << Bytes({0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7})
                             << Bytes({0x22, 0x0d});
    QTest::newRow("odd length pads with zero") << Bytes({0x00, 0x01, 0xf2}) << Bytes({0x0d, 0xfe});
    QTest::newRow("all zero") << QByteArray(8, '\0') << Bytes({0xff, 0xff});
    QTest::newRow("carry folds") << Bytes({0xff, 0xff, 0xff, 0xff, 0x00, 0x02}) << Bytes({0xff, 0xfd});
}

void TestThreadPing::checksum()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, stored);
    const quint16 sum = InternetChecksum(reinterpret_cast<const uchar*>(data.constData()), int(data.size()));
    QCOMPARE(Bytes({sum & 0xFF, sum >> 8}), stored);
}

void TestThreadPing::echoRequestLayout_data()
{
    QTest::addColumn<quint16>("identifier");
    QTest::addColumn<quint16>("sequence");
    QTest::addColumn<quint32>("tick");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("empty payload") << quint16(0x1234) << quint16(3489) << quint32(0x01020304) << QByteArray()
                                   << QByteArray(32, 'E');
    QTest::newRow("short payload padded") << quint16(1) << quint16(0xFFFF) << quint32(0) << QByteArray("abc")
                                          << QByteArray("abc") + QByteArray(29, 'E');
    QTest::newRow("long payload cut")
        << quint16(0) << quint16(1) << quint32(0xFFFFFFFF) << QByteArray(40, 'x') << QByteArray(32, 'x');
}

void TestThreadPing::echoRequestLayout()
{
    QFETCH(quint16, identifier);
    QFETCH(quint16, sequence);
    QFETCH(quint32, tick);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, tail);
    const QByteArray packet = BuildEchoRequest(identifier, sequence, tick, payload);
    QCOMPARE(packet.size(), 52);
    QCOMPARE(packet.left(2), Bytes({8, 0}));
    QCOMPARE(packet.mid(4, 2), Bytes({identifier & 0xFF, identifier >> 8}));
    QCOMPARE(packet.mid(6, 2), Bytes({sequence & 0xFF, sequence >> 8}));
    QCOMPARE(packet.mid(8, 4),
             Bytes({int(tick & 0xFF), int((tick >> 8) & 0xFF), int((tick >> 16) & 0xFF), int(tick >> 24)}));
    QCOMPARE(packet.mid(12, 8), QByteArray(8, '\0'));
    QCOMPARE(packet.mid(20), tail);
    // A valid checksum makes the one's complement sum over the whole message all ones, read big-endian
    // as a receiving host does.
    quint32 sum = 0;
    for (int i = 0; i < packet.size(); i += 2)
        sum += (quint8(packet[i]) << 8) | quint8(packet[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    QCOMPARE(sum, 0xFFFFu);
}

void TestThreadPing::parseRawPacket_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<int>("type");

    QTest::newRow("echo reply") << IpPacket(Echo(0, 0x1234)) << int(TIcmpAnswer::Answer) << 0 << 0x1234 << 0;
    QTest::newRow("echo request") << IpPacket(Echo(8, 77)) << int(TIcmpAnswer::Answer) << 0 << 77 << 8;
    QTest::newRow("unreachable quotes the request")
        << IpPacket(ErrorQuoting(3, 4242)) << int(TIcmpAnswer::Answer) << 3 << 4242 << 3;
    QTest::newRow("time exceeded quotes the request")
        << IpPacket(ErrorQuoting(11, 9)) << int(TIcmpAnswer::Answer) << 4 << 9 << 11;
    QTest::newRow("header with options")
        << IpPacket(Echo(0, 515), 64, 6) << int(TIcmpAnswer::Answer) << 0 << 515 << 0;
    QTest::newRow("error with options in the outer header only")
        << IpPacket(ErrorQuoting(11, 516), 64, 7) << int(TIcmpAnswer::Answer) << 4 << 516 << 11;
    QTest::newRow("error with options in the quoted header only")
        << IpPacket(ErrorQuoting(3, 517, 8)) << int(TIcmpAnswer::Answer) << 3 << 517 << 3;
    QTest::newRow("error quoting another protocol")
        << IpPacket(ErrorQuoting(3, 518, 5, 17)) << int(TIcmpAnswer::Unrelated) << 3 << 0 << 3;
    QByteArray damaged = IpPacket(Echo(0, 519));
    damaged[20 + 2] = static_cast<char>(damaged[20 + 2] ^ 0x01);
    QTest::newRow("wrong checksum") << damaged << int(TIcmpAnswer::Unrelated) << 0 << 0 << 0;
    QTest::newRow("timestamp is nobody's")
        << IpPacket(Echo(13, 5)) << int(TIcmpAnswer::Unrelated) << 0 << 0 << 13;
    QTest::newRow("redirect is nobody's")
        << IpPacket(Echo(5, 5)) << int(TIcmpAnswer::Unrelated) << 0 << 0 << 5;
    QTest::newRow("error cut before the quoted number")
        << IpPacket(Sealed(ErrorQuoting(3, 4242).left(8 + 20 + 4))) << int(TIcmpAnswer::Unrelated) << 3 << 0
        << 3;
    QTest::newRow("ICMP header cut") << IpPacket(Echo(0, 1).left(7)) << int(TIcmpAnswer::TooShort) << 0 << 0
                                     << 0;
    QTest::newRow("only an IP header") << IpPacket(QByteArray()) << int(TIcmpAnswer::TooShort) << 0 << 0 << 0;
    QTest::newRow("empty") << QByteArray() << int(TIcmpAnswer::TooShort) << 0 << 0 << 0;
    QTest::newRow("header length beyond packet")
        << Bytes({0x4F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) << int(TIcmpAnswer::TooShort) << 0 << 0 << 0;
}

void TestThreadPing::parseRawPacket()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, kind);
    QFETCH(int, outcome);
    QFETCH(int, sequence);
    QFETCH(int, type);
    const TIcmpAnswer answer =
        ParseRawPacket(reinterpret_cast<const uchar*>(packet.constData()), int(packet.size()));
    QCOMPARE(int(answer.Kind), kind);
    QCOMPARE(answer.Length, int(packet.size()));
    if (kind == TIcmpAnswer::TooShort)
        return;
    QCOMPARE(int(answer.Type), type);
    QCOMPARE(int(answer.Outcome), outcome);
    QCOMPARE(int(answer.Sequence), sequence);
    QCOMPARE(answer.From, 0x0A010203u);
    QCOMPARE(int(answer.TTL), 64);
    if (kind == TIcmpAnswer::Answer) {
        QCOMPARE(answer.Identifier, quint16(0x4321));
        QCOMPARE(answer.QuotedDestination, outcome == 0 ? 0u : 0xC0000207u);
    }
}

void TestThreadPing::singleLine()
{
    QCOMPARE(SingleLine(QStringLiteral("Socket Error # 2\r\nName unknown\r\n")),
             QStringLiteral("Socket Error # 2 Name unknown "));
    // Lone CR or LF are not pairs.
    QCOMPARE(SingleLine(QStringLiteral("a\rb\nc\n\rd")), QStringLiteral("a\rb\nc\n\rd"));
}

void TestThreadPing::requestOnTheWire_data()
{
    QTest::addColumn<quint16>("sequence");
    QTest::addColumn<quint16>("onWire");
    QTest::addColumn<QString>("target");
    QTest::newRow("zero sends 3489") << quint16(0) << quint16(3489) << QStringLiteral("127.0.0.91");
    QTest::newRow("own number") << quint16(0x1234) << quint16(0x1234) << QStringLiteral("127.0.0.92");
    QTest::newRow("highest") << quint16(0xFFFF) << quint16(0xFFFF) << QStringLiteral("127.0.0.93");
}

void TestThreadPing::requestOnTheWire()
{
    QFETCH(quint16, sequence);
    QFETCH(quint16, onWire);
    QFETCH(QString, target);
    // Watch loopback for the request with a raw socket of our own.
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0)
        QSKIP("watching the wire needs a raw socket (root or CAP_NET_RAW)");
    icmp_filter filter{~(1u << 8)};
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    const quint32 targetAddress = ntohl(inet_addr(target.toLatin1().constData()));

    TCheckResult result;
    StartCheck(target, sequence, &result);
    QByteArray request;
    QElapsedTimer clock;
    clock.start();
    while (request.isEmpty() && clock.elapsed() < 5000) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0) {
            QCoreApplication::processEvents();
            continue;
        }
        uchar buffer[1500];
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n < 28)
            continue;
        const int ihl = (buffer[0] & 0xF) * 4;
        const quint32 destination =
            (quint32(buffer[16]) << 24) | (buffer[17] << 16) | (buffer[18] << 8) | buffer[19];
        if (destination == targetAddress && buffer[ihl] == 8)
            request = QByteArray(reinterpret_cast<char*>(buffer + ihl), int(n) - ihl);
    }
    close(fd);
    QVERIFY2(!request.isEmpty(), "no echo request seen");
    QCOMPARE(request.size(), 52);
    const auto* p = reinterpret_cast<const uchar*>(request.constData());
    QCOMPARE(ReadLE16(p + 6), onWire);
    QCOMPARE(ReadLE16(p + 4), quint16(getpid() & 0xFFFF));
    QCOMPARE(InternetChecksum(p, 52), quint16(0));
    const quint32 tick = p[8] | (p[9] << 8) | (p[10] << 16) | (quint32(p[11]) << 24);
    QVERIFY(TickCount() - tick < 5000u);
    QCOMPARE(request.mid(20), QByteArray(32, 'E'));
    QTRY_VERIFY_WITH_TIMEOUT(result.Done, 7000);
    QCOMPARE(int(result.Outcome), 0);
}

void TestThreadPing::answerFromLoopback_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("from");
    QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1");
    QTest::newRow("another loopback address") << QStringLiteral("127.3.2.1") << QStringLiteral("127.3.2.1");
    QTest::newRow("localhost in any case") << QStringLiteral("LocalHost") << QStringLiteral("127.0.0.1");
}

void TestThreadPing::answerFromLoopback()
{
    QFETCH(QString, host);
    QFETCH(QString, from);
    TCheckResult result;
    StartCheck(host, 4711, &result);
    QTRY_VERIFY_WITH_TIMEOUT(result.Done, 7000);
    QCOMPARE(int(result.Outcome), 0);
    QCOMPARE(result.From, from);
    QCOMPARE(result.Text, QStringLiteral("Response from %1 in %2 millisec.").arg(from).arg(result.RoundTrip));
    QVERIFY(result.RoundTrip < 1000);
    QVERIFY(result.Bytes >= 28);
    // The check pauses before sending.
    QVERIFY2(result.Elapsed >= 490, qPrintable(QString::number(result.Elapsed)));
}

void TestThreadPing::unresolvableHost_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("unknown name") << QStringLiteral("no-such-host.invalid");
    QTest::newRow("empty") << QString();
    QTest::newRow("bad address") << QStringLiteral("300.1.1.1 ");
}

void TestThreadPing::unresolvableHost()
{
    QFETCH(QString, host);
    TCheckResult result;
    StartCheck(host, 12, &result);
    QTRY_VERIFY_WITH_TIMEOUT(result.Done, 30000);
    QCOMPARE(int(result.Outcome), 1);
    static const QRegularExpression form(QStringLiteral("^Exception: Socket Error # -?\\d+ .*$"));
    QVERIFY2(form.match(result.Text).hasMatch(), qPrintable(result.Text));
    QVERIFY(!result.Text.contains(QLatin1Char('\r')) && !result.Text.contains(QLatin1Char('\n')));
}

void TestThreadPing::concurrentChecksKeepTheirAnswers()
{
    // Every check sees every ICMP packet on loopback (its own request, the others' requests and
    // replies); each must still end with the answer from its own host. Checks own no thread: however
    // many run, the process gains at most the engine's and its second sender's.
    constexpr int Count = 400;
    const int threadsBefore = ThreadCount();
    std::vector<TCheckResult> results(Count);
    for (int i = 0; i < Count; ++i)
        StartCheck(QStringLiteral("127.0.%1.%2").arg(i / 100 + 10).arg(i % 100 + 1), quint16(200 + i),
                   &results[i]);
    QVERIFY2(ThreadCount() <= threadsBefore + 2, qPrintable(QString::number(ThreadCount())));
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(results.begin(), results.end(), [](auto& r) { return r.Done; }),
                             10000);
    QVERIFY2(ThreadCount() <= threadsBefore + 2, qPrintable(QString::number(ThreadCount())));
    for (int i = 0; i < Count; ++i) {
        QCOMPARE(int(results[i].Outcome), 0);
        QCOMPARE(results[i].From, QStringLiteral("127.0.%1.%2").arg(i / 100 + 10).arg(i % 100 + 1));
    }
}

void TestThreadPing::sendFailureInABurstReachesOnlyItsCheck()
{
    // A burst's requests leave from two threads: a failed send (TTL 256) still ends its own check with
    // its error, and the answers' round trips are counted from their own sends.
    constexpr int Count = 400;
    std::vector<TCheckResult> results(Count);
    for (int i = 0; i < Count; ++i)
        StartCheck(QStringLiteral("127.0.%1.%2").arg(20 + i / 200).arg(i % 200 + 1), quint16(700 + i),
                   &results[i], i % 2 == 1 ? 256 : -1);
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(results.begin(), results.end(), [](auto& r) { return r.Done; }),
                             7000);
    for (int i = 0; i < Count; ++i) {
        if (i % 2 == 1) {
            QCOMPARE(int(results[i].Outcome), 1);
            QVERIFY2(results[i].Text.startsWith(QStringLiteral("Exception: Socket Error # %1 ").arg(EINVAL)),
                     qPrintable(results[i].Text));
            continue;
        }
        QCOMPARE(int(results[i].Outcome), 0);
        QCOMPARE(results[i].From, QStringLiteral("127.0.%1.%2").arg(20 + i / 200).arg(i % 200 + 1));
        QVERIFY2(results[i].RoundTrip < 1000, qPrintable(QString::number(results[i].RoundTrip)));
    }
}

void TestThreadPing::checksSharingASequenceNumber()
{
    // Every answer goes to all checks waiting for its number; the one it is for ends (and leaves the
    // listener) while the packet is still being handed to the others, and each gets its own host's.
    constexpr int Count = 6;
    std::vector<TCheckResult> results(Count);
    for (int i = 0; i < Count; ++i)
        StartCheck(QStringLiteral("127.0.9.%1").arg(i + 1), 4242, &results[i]);
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(results.begin(), results.end(), [](auto& r) { return r.Done; }),
                             7000);
    for (int i = 0; i < Count; ++i) {
        QCOMPARE(int(results[i].Outcome), 0);
        QCOMPARE(results[i].From, QStringLiteral("127.0.9.%1").arg(i + 1));
        QCOMPARE(
            results[i].Text,
            QStringLiteral("Response from 127.0.9.%1 in %2 millisec.").arg(i + 1).arg(results[i].RoundTrip));
    }
}

void TestThreadPing::batchInFlightHoldsAnswersAndForgetsEndedWaiters()
{
    // A large batch leaves on the sending thread while the engine goes on: every answer reaches its waiter
    // only after the handler of its request ran, and a waiter that ends before then is never called.
    constexpr int Count = 48;
    std::vector<std::unique_ptr<TIcmpListener::TWaiter>> waiters(Count);
    std::vector<std::atomic<int>> sent(Count), answered(Count), early(Count);
    bool raw = false;
    const auto onEngine = [](const std::function<void()>& task) {
        std::atomic<bool> done{false};
        TWorkerEngine::Instance().Post([&] {
            task();
            done = true;
        });
        while (!done)
            QThread::msleep(1);
    };
    // The waiters belong to the engine's thread, and so does their end, however the test ends.
    const auto cleanup = qScopeGuard([&] { onEngine([&] { waiters.clear(); }); });
    onEngine([&] {
        TIcmpListener* listener = TIcmpListener::Acquire();
        raw = listener && listener->SocketKind() == TIcmpListener::skRaw;
        if (!raw)
            return;
        {
            const TIcmpListener::TBatch batch;
            for (int i = 0; i < Count; ++i) {
                const auto sequence = quint16(900 + i);
                waiters[i] = std::make_unique<TIcmpListener::TWaiter>(
                    *listener, sequence, [&, i, sequence](const TIcmpListener::TEvent& event) {
                        if (event.Error == 0 && event.Answer.Sequence == sequence && event.Answer.Type == 0) {
                            ++answered[i];
                            early[i] += sent[i] == 0;
                        }
                    });
                listener->Send(*waiters[i], BuildEchoRequest(listener->Identifier(), sequence, 0, {}),
                               0x7F000100u + quint32(i + 1), 64, [&, i](const TIcmpListener::TSent& outcome) {
                                   sent[i] += outcome.Error == 0 ? 1 : 100;
                               });
            }
        }
        // The batch has left the engine, its outcomes not yet reported: these waiters end first.
        for (int i = 1; i < Count; i += 2)
            waiters[i].reset();
    });
    if (!raw)
        QSKIP("batches are handed over only on a raw socket");
    QTRY_COMPARE_WITH_TIMEOUT(int(std::count(answered.begin(), answered.end(), 1)), Count / 2, 5000);
    for (int i = 0; i < Count; ++i) {
        QCOMPARE(sent[i].load(), i % 2 == 1 ? 0 : 1);
        QCOMPARE(answered[i].load(), i % 2 == 1 ? 0 : 1);
        QCOMPARE(early[i].load(), 0);
    }
}

void TestThreadPing::laterCheckOfABurstPausesItsOwnTime()
{
    // The pauses of many checks end by one timer; a check that began its pause later is not sent early
    // with the ones before it, nor left waiting once theirs have ended. One that began before its worker
    // was made (as the load's) pauses from when it began.
    TCheckResult first, later, begun;
    StartCheck(QStringLiteral("127.0.0.1"), 61, &first);
    QTest::qWait(300);
    StartCheck(QStringLiteral("127.0.0.2"), 62, &later);
    QTRY_VERIFY_WITH_TIMEOUT(first.Done && later.Done, 7000);
    QCOMPARE(int(first.Outcome), 0);
    QCOMPARE(int(later.Outcome), 0);
    QVERIFY2(first.Elapsed >= 490, qPrintable(QString::number(first.Elapsed)));
    QVERIFY2(later.Elapsed >= 490, qPrintable(QString::number(later.Elapsed)));
    StartCheck(QStringLiteral("127.0.0.3"), 63, &begun, -1, 300);
    QTRY_VERIFY_WITH_TIMEOUT(begun.Done, 7000);
    QCOMPARE(int(begun.Outcome), 0);
    QVERIFY2(begun.Elapsed >= 190 && begun.Elapsed < 450, qPrintable(QString::number(begun.Elapsed)));
}

void TestThreadPing::invalidTTLIsASocketError()
{
    TCheckResult result;
    StartCheck(QStringLiteral("127.0.0.1"), 31, &result, 256);
    QTRY_VERIFY_WITH_TIMEOUT(result.Done, 7000);
    QCOMPARE(int(result.Outcome), 1);
    QVERIFY2(result.Text.startsWith(QStringLiteral("Exception: Socket Error # %1 ").arg(EINVAL)),
             qPrintable(result.Text));
}

void TestThreadPing::exitWhileChecksRun()
{
    // A user may quit while checks are still under way; the moment that hurts is when they format their
    // reply texts, just after the pause.
    const QString probe = QCoreApplication::applicationDirPath() + QStringLiteral("/tst_pingProbe");
    if (!QFile::exists(probe))
        QSKIP("tst_pingProbe is not built");
    // The window is a few milliseconds wide: many checks, and exits spread around the end of the pause.
    const QStringList hosts(50, QStringLiteral("127.0.0.1"));
    for (int run = 0; run < 16; ++run) {
        const QString exitAfter = QString::number(498 + run % 8);
        QString output;
        const int code = RunCommand(probe, QStringList{"--exit-after", exitAfter} + hosts, &output, 10000);
        QVERIFY2(
            code == 0,
            qPrintable(QStringLiteral("exit after %1 ms: code %2 %3").arg(exitAfter).arg(code).arg(output)));
    }
}

void TestThreadPing::checkOnlineSetsResult()
{
    TGroup group;
    TComputer* computer = group.Computers()->Add();
    computer->IPAddress = QStringLiteral("127.0.0.1");
    computer->PingSequence = 9;
    QStringList events;
    group.Computers()->OnItemUpdate.Set(this, [&](TObject* sender) {
        QCOMPARE(sender, static_cast<TObject*>(computer));
        events << QStringLiteral("item");
    });
    group.OnCheckCompleted.Set(this, [&](TObject*, TCheckChange) { events << QStringLiteral("group"); });
    // A check's result is no change of the user's.
    group.OnUpdate.Set(this, [&](TObject*) { events << QStringLiteral("update"); });
    SetNowSource([] { return 45000.25; });
    computer->CheckOnline();
    SetNowSource({});
    QCOMPARE(computer->LastPingDate, 45000.25);
    QVERIFY(computer->RunningCheck());
    QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty(), 7000);
    QCOMPARE(events, QStringList({"item", "group"}));
    QVERIFY(computer->Online);
    QVERIFY2(computer->LastPingReply.startsWith(QStringLiteral("Response from 127.0.0.1 in ")),
             qPrintable(computer->LastPingReply));
    QVERIFY(!computer->RunningCheck());
}

void TestThreadPing::newerCheckSupersedes_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("online");
    QTest::newRow("offline then online")
        << QStringLiteral("no-such-host.invalid") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("online then offline")
        << QStringLiteral("127.0.0.1") << QStringLiteral("no-such-host.invalid") << false;
}

void TestThreadPing::newerCheckSupersedes()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, online);
    TGroup group;
    TComputer* computer = group.Computers()->Add();
    computer->PingSequence = 10;
    int updates = 0;
    group.Computers()->OnItemUpdate.Set(this, [&](TObject*) { ++updates; });

    computer->IPAddress = first;
    SetNowSource([] { return 100.0; });
    computer->CheckOnline();
    computer->IPAddress = second;
    SetNowSource([] { return 200.0; });
    computer->CheckOnline();
    SetNowSource({});
    QCOMPARE(computer->LastPingDate, 200.0);

    QTRY_VERIFY_WITH_TIMEOUT(updates > 0, 7000);
    // Both checks end within about the same moment; give the older one time to (wrongly) report.
    QTest::qWait(800);
    QCOMPARE(updates, 1);
    QCOMPARE(computer->Online, online);
    QCOMPARE(computer->LastPingReply.startsWith(QStringLiteral("Response from")), online);
    QCOMPARE(computer->LastPingDate, 200.0);
}

void TestThreadPing::deletedComputerHearsNothing()
{
    TGroup group;
    TComputer* computer = group.Computers()->Add();
    computer->IPAddress = QStringLiteral("127.0.0.1");
    int updates = 0;
    group.Computers()->OnItemUpdate.Set(this, [&](TObject*) { ++updates; });
    group.OnCheckCompleted.Set(this, [&](TObject*, TCheckChange) { ++updates; });
    computer->CheckOnline();
    group.Computers()->Delete(0);
    updates = 0;
    QTest::qWait(1500);
    QCOMPARE(updates, 0);
    QTRY_COMPARE_WITH_TIMEOUT(TWorkerThread::LiveCount(), 0, 5000);
}

QTEST_GUILESS_MAIN(TestThreadPing)
#include "tst_threadPing.moc"
