// Runs reachability checks in a process of its own, so tests can run them inside a network namespace
// or without privileges. One line per host, in the order given:
//   kind=<raw|datagram|none> outcome=N from=A bytes=N ttl=N rtt=N elapsed=N text=...
// --inject TYPE,SEQUENCE,DELAY[,from=A][,quoted=A][,options][,qoptions][,badsum] sends one ICMP message
// of that type to 127.0.0.1 from a raw socket after DELAY ms (TYPE "short" sends 4 bytes only), to play
// a stray packet arriving during the wait: from= names its sender (127.0.0.1), quoted= the destination
// of the request an error quotes (0.0.0.0), options and qoptions give the outer or the quoted IP header
// four bytes of options, badsum spoils its checksum.
// --wire prints "wire=N pid=N" first: the identifier of the first echo request seen on loopback and the
// low 16 bits of the process id. HOST@TTL gives one check a TTL of its own. --exit-after MS leaves main after
// MS milliseconds, whether the checks have ended or not, as a user quitting the program would.
// --tcp PORTS gives every check TCP probes of these ports ("default": the default list).
#include "net/checkSettings.h"
#include "net/icmpListener.h"
#include "net/icmpPacket.h"
#include "net/threadPing.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct TResult
{
    bool Done = false;
    QString Line;
};

std::vector<quint16> PortsOf(const QString& text)
{
    std::vector<quint16> ports;
    ParsePortList(text, &ports, nullptr);
    return ports;
}

quint32 AddressOf(const QString& text)
{
    return ntohl(inet_addr(text.toLatin1().constData()));
}

void PutBE32(uchar* p, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uchar>(value >> (24 - 8 * i));
}

void Inject(const QString& what)
{
    const QStringList parts = what.split(QLatin1Char(','));
    if (parts.size() < 2)
        return;
    QString from = QStringLiteral("127.0.0.1");
    QString quoted = QStringLiteral("0.0.0.0");
    bool outerOptions = false;
    bool quotedOptions = false;
    bool badSum = false;
    for (const QString& option : parts.mid(3)) {
        if (option.startsWith(QLatin1String("from=")))
            from = option.mid(5);
        else if (option.startsWith(QLatin1String("quoted=")))
            quoted = option.mid(7);
        outerOptions |= option == QLatin1String("options");
        quotedOptions |= option == QLatin1String("qoptions");
        badSum |= option == QLatin1String("badsum");
    }
    QByteArray message;
    if (parts[0] == QLatin1String("short")) {
        message = QByteArray(4, '\0');
    } else {
        const auto type = static_cast<uchar>(parts[0].toInt());
        const auto sequence = static_cast<quint16>(parts[1].toUInt());
        const bool quotes = type == 3 || type == 11;
        const int quotedLength = quotedOptions ? 24 : 20;
        message = QByteArray(quotes ? 8 + quotedLength + 8 : EchoRequestSize, '\0');
        auto* p = reinterpret_cast<uchar*>(message.data());
        p[0] = type;
        uchar* at = quotes ? p + 8 + quotedLength : p;
        if (quotes) {
            p[8] = static_cast<uchar>(0x40 | quotedLength / 4);
            p[8 + 9] = 1;
            PutBE32(p + 8 + 16, AddressOf(quoted));
            at[0] = 8;
            const auto identifier = static_cast<quint16>(getpid() & 0xFFFF);
            at[4] = static_cast<uchar>(identifier & 0xFF);
            at[5] = static_cast<uchar>(identifier >> 8);
        }
        at[6] = static_cast<uchar>(sequence & 0xFF);
        at[7] = static_cast<uchar>(sequence >> 8);
        const quint16 sum = InternetChecksum(p, int(message.size()));
        p[2] = static_cast<uchar>((sum & 0xFF) ^ (badSum ? 1 : 0));
        p[3] = static_cast<uchar>(sum >> 8);
    }
    // The IP header is written here, so the packet can name any sender and carry options (no-ops).
    const int headerLength = outerOptions ? 24 : 20;
    QByteArray packet(headerLength, '\0');
    auto* h = reinterpret_cast<uchar*>(packet.data());
    h[0] = static_cast<uchar>(0x40 | headerLength / 4);
    h[8] = 64;
    h[9] = IPPROTO_ICMP;
    PutBE32(h + 12, AddressOf(from));
    PutBE32(h + 16, INADDR_LOOPBACK);
    if (outerOptions)
        std::memset(h + 20, 1, 4);
    packet += message;
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (fd < 0) {
        std::fprintf(stderr, "inject: no raw socket\n");
        return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(fd, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof(to)) < 0)
        std::perror("inject: send failed");
    close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int ttl = -1;
    int timeout = 5000;
    quint16 sequence = 1;
    QString inject;
    int exitAfter = -1;
    bool wire = false;
    std::vector<quint16> tcpPorts;
    QStringList hosts;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--ttl") && i + 1 < args.size())
            ttl = args[++i].toInt();
        else if (a == QLatin1String("--seq") && i + 1 < args.size())
            sequence = static_cast<quint16>(args[++i].toUInt());
        else if (a == QLatin1String("--timeout") && i + 1 < args.size())
            timeout = args[++i].toInt();
        else if (a == QLatin1String("--exit-after") && i + 1 < args.size())
            exitAfter = args[++i].toInt();
        else if (a == QLatin1String("--inject") && i + 1 < args.size())
            inject = args[++i];
        else if (a == QLatin1String("--tcp") && i + 1 < args.size())
            tcpPorts = args[++i] == QLatin1String("default") ? DefaultTcpProbePorts() : PortsOf(args[i]);
        else if (a == QLatin1String("--wire"))
            wire = true;
        else
            hosts << a;
    }

    // Watches loopback for the echo requests the checks send, to report the identifier they carry.
    int watch = -1;
    if (wire) {
        watch = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP);
        icmp_filter filter{~(1u << 8)};
        setsockopt(watch, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    }

    QList<TResult> results(hosts.size());
    int pending = int(hosts.size());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < hosts.size(); ++i) {
        const QString host = hosts[i].section(QLatin1Char('@'), 0, 0);
        const QString ownTTL = hosts[i].section(QLatin1Char('@'), 1, 1);
        auto* check = new TPingThread(host, timeout, ownTTL.isEmpty() ? ttl : ownTTL.toInt());
        // Each host its own sequence number, as the main window hands them out.
        check->SetSequence(sequence == 0 ? 0 : static_cast<quint16>(sequence + i));
        check->SetTcpPorts(tcpPorts);
        check->SetOnTerminate([&, i](TWorkerThread* sender) {
            auto* done = static_cast<TPingThread*>(sender);
            const TIcmpListener* listener = TIcmpListener::Acquire();
            const char* kind = !listener                                        ? "none"
                               : listener->SocketKind() == TIcmpListener::skRaw ? "raw"
                                                                                : "datagram";
            results[i].Line =
                QStringLiteral("kind=%1 outcome=%2 from=%3 bytes=%4 ttl=%5 rtt=%6 elapsed=%7 text=%8")
                    .arg(QString::fromLatin1(kind), QString::number(done->Outcome()), done->FromAddress(),
                         QString::number(done->ReceivedBytes()), QString::number(done->AnswerTTL()),
                         QString::number(done->RoundTripTime()), QString::number(clock.elapsed()),
                         done->ReplyText());
            if (--pending == 0)
                app.quit();
        });
        check->Start();
    }
    if (!inject.isEmpty()) {
        const int delay = inject.section(QLatin1Char(','), 2, 2).toInt();
        QTimer::singleShot(delay, [inject] { Inject(inject); });
    }
    if (exitAfter >= 0) {
        QThread::msleep(static_cast<unsigned long>(exitAfter));
        return 0;
    }
    if (pending > 0)
        app.exec();
    if (wire) {
        int seen = -1;
        uchar buffer[1500];
        for (ssize_t n; watch >= 0 && (n = recv(watch, buffer, sizeof(buffer), 0)) >= 28;) {
            const int at = (buffer[0] & 0x0F) * 4;
            if (n >= at + 8 && buffer[at] == 8 && seen < 0)
                seen = ReadLE16(buffer + at + 4);
        }
        std::printf("wire=%d pid=%d\n", seen, int(getpid() & 0xFFFF));
    }
    for (const TResult& result : results)
        std::printf("%s\n", result.Line.toUtf8().constData());
    return 0;
}
