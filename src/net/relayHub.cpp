#include "net/relayHub.h"

#include "core/texts.h"
#include "net/checkSettings.h"
#include "net/hostResolve.h"
#include "net/threadWOL.h"
#include "net/utilsNetwork.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <QRegularExpression>
#include <QTimer>

namespace {

std::mutex RelaysLock;
std::shared_ptr<const std::vector<TRelay>> Relays;

} // namespace

std::shared_ptr<const std::vector<TRelay>> CurrentRelays()
{
    {
        const std::lock_guard lock(RelaysLock);
        if (Relays)
            return Relays;
    }
    ReloadRelays();
    const std::lock_guard lock(RelaysLock);
    return Relays;
}

bool RelaysConfigured()
{
    return !CurrentRelays()->empty();
}

void ReloadRelays(QStringList* problems)
{
    auto relays = std::make_shared<const std::vector<TRelay>>(LoadRelays(RelaysFilePath(), problems));
    const std::lock_guard lock(RelaysLock);
    Relays = std::move(relays);
}

QString RelayNameFor(quint32 address)
{
    const auto relays = CurrentRelays();
    const TRelay* relay = RelayFor(address, *relays);
    return relay ? relay->Name : QString();
}

TRelayHub& TRelayHub::Instance()
{
    static TRelayHub* hub = new TRelayHub;
    return *hub;
}

const TRelay* TRelayHub::FindRelay(const QString& name)
{
    FRelays = CurrentRelays();
    for (const TRelay& relay : *FRelays)
        if (relay.Name == name)
            return &relay;
    return nullptr;
}

TRelayClient* TRelayHub::Client(const TRelay& relay)
{
    // Kept for the whole run, also when relays.conf changes: a client's exchanges in flight still report.
    const QString key = relay.Name + QLatin1Char('\n') + relay.Destination;
    TRelayClient*& client = FClients[key];
    if (!client)
        client = new TRelayClient(relay, this);
    return client;
}

QString TRelayHub::CanonicalMac(const QString& mac)
{
    QString text = mac.trimmed();
    text.replace(QLatin1Char(':'), QLatin1Char('-'));
    if (text.size() != 17)
        return {};
    const auto packet = TWOLThread::BuildMagicPacket(text);
    if (!packet)
        return {};
    return QString::fromLatin1(packet->mid(6, 6).toHex(':'));
}

QByteArray TRelayHub::CheckScript(const QList<quint32>& addresses, const std::vector<quint16>& ports)
{
    QStringList words;
    for (quint32 address : addresses)
        words << IPv4ToText(address);
    QStringList portWords;
    for (quint16 port : ports)
        portWords << QString::number(port);
    QByteArray script = "set -f\n";
    script += "A=" + ShellQuote(words.join(QLatin1Char(' '))) + "\n";
    script += "P=" + ShellQuote(portWords.join(QLatin1Char(' '))) + "\n";
    script += "T=" + QByteArray::number(CheckTimeoutSeconds) + "\n";
    // fping, or one ping each in parallel; each answer becomes "R address milliseconds". fping paces its
    // requests 1 ms apart (the least it allows an ordinary user), so a long list is shared among up to
    // four of them, each with at least 250 addresses: 1,000 addresses take a quarter of a second.
    script += R"(rc=9
if command -v fping >/dev/null 2>&1; then
  set -- $A
  F=$(printf '%s\n' "$@" | awk -v n=$(( ($# + 3) / 4 )) 'BEGIN { if (n < 250) n = 250 }
    { l = l " " $0 } NR % n == 0 { print l; l = "" } END { if (l != "") print l }' | {
    while read c; do
      { fping -e -r 0 -i 1 -t ${T}000 $c 2>/dev/null; [ $? -le 2 ] || echo E; } &
    done; wait; })
  # fping ends with 1 or 2 when some did not answer, with more when it could not run at all.
  printf '%s\n' "$F" | grep -qx E || rc=0
fi
if [ $rc -eq 0 ]; then
  R=$(printf '%s\n' "$F" | sed -n 's/^\([0-9.]*\) is alive (\([0-9.]*\) ms).*/R \1 \2/p')
else
  R=$(for a in $A; do ( o=$(ping -n -c1 -W$T "$a" 2>/dev/null) && t=${o#*time=} && echo "R $a ${t%% *}" ) & done; wait)
fi
[ -n "$R" ] && printf '%s\n' "$R"
[ -n "$P" ] || exit 0
U=$(printf '%s\n' $A | awk -v r="$R" 'BEGIN { n = split(r, l, "\n"); for (i = 1; i <= n; i++) { split(l[i], f, " "); s[f[2]] = 1 } } !($0 in s)')
[ -n "$U" ] || exit 0
if command -v bash >/dev/null 2>&1; then
  probe='timeout 2 bash -c "exec 3<>/dev/tcp/$0/$1" 2>/dev/null && echo "T $0 $1"'
elif command -v nc >/dev/null 2>&1; then
  probe='nc -z -w 2 "$0" "$1" 2>/dev/null && echo "T $0 $1"'
else
  exit 0
fi
for a in $U; do for p in $P; do echo "$a $p"; done; done | timeout )" +
              QByteArray::number(TcpPhaseSeconds) + " xargs -n 2 -P " + QByteArray::number(TcpParallel) +
              R"( sh -c "$probe"
exit 0
)";
    return script;
}

QHash<quint32, TRelayCheckResult> TRelayHub::ParseCheckOutput(const QByteArray& output, const QString& relay)
{
    QHash<quint32, TRelayCheckResult> results;
    const QString suffix = Res::Str(Res::RelayReplySuffix).arg(relay);
    for (const QByteArray& raw : output.split('\n')) {
        const QList<QByteArray> fields = raw.trimmed().split(' ');
        if (fields.size() != 3)
            continue;
        quint32 address = 0;
        const QString from = QString::fromLatin1(fields[1]);
        if (!ParseIPv4(from, &address) || results.contains(address))
            continue;
        TRelayCheckResult result;
        result.Online = true;
        result.From = IPv4ToText(address);
        bool ok = false;
        if (fields[0] == "R") {
            // A relay's number is not trusted: anything but a finite time of at most a minute is no answer.
            const double ms = fields[2].toDouble(&ok);
            if (!ok || !std::isfinite(ms) || ms < 0 || ms > MaxRoundTripMs)
                continue;
            result.Reply = Res::Str(Res::PingResponse).arg(result.From).arg(qRound64(ms)) + suffix;
        } else if (fields[0] == "T") {
            const uint port = fields[2].toUInt(&ok);
            if (!ok || port == 0 || port > 65535)
                continue;
            result.Reply = Res::Str(Res::PingTcpResponse).arg(result.From).arg(port) + suffix;
            result.ByTcp = true;
        } else {
            continue;
        }
        results.insert(address, result);
    }
    return results;
}

QByteArray TRelayHub::WakeScript(const QList<TRelayWakeRequest>& requests, const QString& command)
{
    // One line per packet: MAC, address, the stored mask's broadcast, port, and 1 to send to the address
    // itself. Every value is checked (a canonical MAC, dotted addresses, numbers) before it gets here.
    QStringList lines;
    for (const TRelayWakeRequest& request : requests) {
        if (CanonicalMac(request.Mac) != request.Mac)
            continue;
        lines << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(request.Mac, IPv4ToText(request.Address), IPv4ToText(request.MaskBroadcast))
                     .arg(request.Port)
                     .arg(request.Direct ? 1 : 0);
    }
    QByteArray script = "set -f\n";
    script += "W=" + ShellQuote(lines.join(QLatin1Char('\n'))) + "\n";
    // Each packet goes to the broadcast address of the relay's own interface whose network holds the
    // computer (the longest prefix), else to the stored mask's; the line becomes "mac broadcast port
    // interface address", the interface "-" when none holds it.
    script += R"(I=$(ip -o -4 addr show 2>/dev/null)
J=$(printf '%s\n' "$W" | awk -v I="$I" '
function n(s, p) { split(s, p, "."); return ((p[1] * 256 + p[2]) * 256 + p[3]) * 256 + p[4] }
BEGIN { k = split(I, L, "\n")
  for (j = 1; j <= k; j++) { m = split(L[j], f, " "); b = ""; len = -1
    for (i = 1; i < m; i++) { if (f[i] == "inet") { split(f[i + 1], c, "/"); ip = c[1]; len = c[2] } if (f[i] == "brd") b = f[i + 1] }
    if (b != "" && len > 0) { ni++; IN[ni] = f[2]; IB[ni] = b; IL[ni] = len; IA[ni] = n(ip) } } }
NF == 5 { a = n($2); best = -1; ifc = "-"; bc = $3
  for (j = 1; j <= ni; j++) { d = 2 ^ (32 - IL[j]); if (int(IA[j] / d) == int(a / d) && IL[j] > best) { best = IL[j]; ifc = IN[j]; bc = IB[j] } }
  if ($5 == 1) bc = $2
  print $1, bc, $4, ifc, $2 }')
[ -n "$J" ] || exit 0
)";
    if (!command.isEmpty()) {
        // The user's own command; its placeholders become the checked values above, each one word.
        QString line = command;
        line.replace(QStringLiteral("{mac}"), QStringLiteral("\"$mac\""));
        line.replace(QStringLiteral("{broadcast}"), QStringLiteral("\"$bc\""));
        line.replace(QStringLiteral("{port}"), QStringLiteral("\"$port\""));
        line.replace(QStringLiteral("{interface}"), QStringLiteral("\"$ifc\""));
        script += "printf '%s\\n' \"$J\" | while read mac bc port ifc addr; do\n"
                  "  out=$( { " +
                  line.toUtf8() +
                  "\n} </dev/null 2>&1 ) || { printf '%s\\n' \"$out\"; exit 4; }\n"
                  "done\n";
        return script;
    }
    // wakeonlan is a Perl script, slow to start: one run sends the MACs of one broadcast and port, at most
    // 1,000 of them (the words are checked MACs, so they split safely with globbing off).
    script += R"(if command -v wakeonlan >/dev/null 2>&1; then
  printf '%s\n' "$J" | awk '{ k = $2 " " $3; if (n[k] == 1000) { print k l[k]; n[k] = 0; l[k] = "" }
    l[k] = l[k] " " $1; n[k]++ } END { for (k in l) if (n[k]) print k l[k] }' | while read b p m; do
    out=$(wakeonlan -i "$b" -p "$p" $m </dev/null 2>&1) || { printf '%s\n' "$out"; exit 4; }
  done
elif command -v python3 >/dev/null 2>&1; then
  printf '%s\n' "$J" | python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
for line in sys.stdin:
    m, b, p = line.split()[:3]
    s.sendto(b"\xff" * 6 + bytes.fromhex(m.replace(":", "")) * 16, (b, int(p)))' 2>&1 | tail -n 1 | grep . && exit 4
  exit 0
else
  e=
  for t in etherwake ether-wake; do command -v $t >/dev/null 2>&1 && { e=$t; break; }; done
  [ -n "$e" ] || { busybox --list 2>/dev/null | grep -qx ether-wake && e="busybox ether-wake"; }
  [ -n "$e" ] || exit 3
  printf '%s\n' "$J" | while read m b p i a; do
    [ "$i" != - ] || i=$(ip -o route get "$a" 2>/dev/null | sed -n 's/.* dev \([^ ]*\).*/\1/p')
    out=$($e -b -i "$i" "$m" </dev/null 2>&1) || { printf '%s\n' "$out"; exit 4; }
  done
fi
)";
    return script;
}

QByteArray TRelayHub::TestScript(const QString& command)
{
    QByteArray script;
    if (!command.isEmpty())
        script += "echo 'W command'\n";
    script += R"(for t in wakeonlan python3 etherwake ether-wake; do
  command -v $t >/dev/null 2>&1 && { echo "W $t"; break; }
done
busybox --list 2>/dev/null | grep -qx ether-wake && echo 'W busybox ether-wake'
if command -v fping >/dev/null 2>&1; then echo 'C fping'; else echo 'C ping'; fi
exit 0
)";
    return script;
}

bool TRelayHub::Arrived(TGathering& gathering, bool first)
{
    gathering.LastMs = FClock.elapsed();
    if (first)
        gathering.FirstMs = gathering.LastMs;
    if (gathering.Scheduled || gathering.InFlight)
        return false;
    gathering.Scheduled = true;
    return true;
}

int TRelayHub::GatherMore(const TGathering& gathering, int quietMs, int maxMs) const
{
    const qint64 now = FClock.elapsed();
    if (now - gathering.FirstMs >= maxMs)
        return 0;
    return static_cast<int>(std::max<qint64>(0, quietMs - (now - gathering.LastMs)));
}

void TRelayHub::Check(const QString& relay, quint32 address, TCheckDone done)
{
    TPending& pending = FChecks[relay];
    const bool first = pending.Items.isEmpty();
    pending.Items.append({address, std::move(done)});
    if (Arrived(pending, first))
        QTimer::singleShot(GatherMs, this, [this, relay] { Flush(relay); });
}

void TRelayHub::Flush(const QString& relayName)
{
    TPending& pending = FChecks[relayName];
    pending.Scheduled = false;
    if (pending.InFlight || pending.Items.isEmpty())
        return;
    if (const int wait = GatherMore(pending, GatherMs, GatherMaxMs); wait > 0) {
        pending.Scheduled = true;
        QTimer::singleShot(wait, this, [this, relayName] { Flush(relayName); });
        return;
    }
    auto items = std::make_shared<QList<QPair<quint32, TCheckDone>>>();
    items->swap(pending.Items);
    const TRelay* relay = FindRelay(relayName);
    if (!relay) {
        // The relay was removed while its checks waited: they end as checks without a relay would.
        TRelayCheckResult result;
        result.Reply = Res::Str(Res::PingTimedOut);
        for (const auto& item : *items)
            item.second(result);
        return;
    }
    QList<quint32> addresses;
    for (const auto& item : *items)
        if (!addresses.contains(item.first))
            addresses << item.first;
    pending.InFlight = true;
    const qint64 limit = addresses.size() * OutputPerAddress;
    Client(*relay)->Run(CheckScript(addresses, TcpProbePorts()), TRelayClient::DefaultTimeoutMs, limit,
                        [this, relayName, items](const TRelayReply& reply) {
                            const auto results = reply.Ok ? ParseCheckOutput(reply.Output, relayName)
                                                          : QHash<quint32, TRelayCheckResult>();
                            TRelayCheckResult silent;
                            if (reply.Ok) {
                                silent.Reply = Res::Str(Res::PingTimedOut) +
                                               Res::Str(Res::RelayReplySuffix).arg(relayName);
                            } else {
                                silent.RelayFailed = true;
                                silent.Reply = reply.Error;
                            }
                            for (const auto& item : *items)
                                item.second(results.value(item.first, silent));
                            TPending& after = FChecks[relayName];
                            after.InFlight = false;
                            // Checks that came in meanwhile form the next exchange, gathered as usual.
                            if (!after.Items.isEmpty() && !after.Scheduled) {
                                after.Scheduled = true;
                                QTimer::singleShot(GatherMs, this, [this, relayName] { Flush(relayName); });
                            }
                        });
}

void TRelayHub::Wake(const QString& relayName, const TRelayWakeRequest& request, TWakeDone done)
{
    TPendingWakes& pending = FWakes[relayName];
    const bool first = pending.Items.isEmpty();
    pending.Items.append({request, std::move(done)});
    if (Arrived(pending, first))
        QTimer::singleShot(WakeGatherMs, this, [this, relayName] { FlushWakes(relayName); });
}

void TRelayHub::FlushWakes(const QString& relayName)
{
    TPendingWakes& pending = FWakes[relayName];
    pending.Scheduled = false;
    if (pending.InFlight || pending.Items.isEmpty())
        return;
    if (const int wait = GatherMore(pending, WakeGatherMs, WakeGatherMaxMs); wait > 0) {
        pending.Scheduled = true;
        QTimer::singleShot(wait, this, [this, relayName] { FlushWakes(relayName); });
        return;
    }
    auto items = std::make_shared<QList<QPair<TRelayWakeRequest, TWakeDone>>>();
    items->swap(pending.Items);
    const TRelay* relay = FindRelay(relayName);
    if (!relay) {
        for (const auto& item : *items)
            item.second(Res::Str(Res::RelayFailed).arg(relayName, Res::Str(Res::RelayNoReason)));
        return;
    }
    QList<TRelayWakeRequest> requests;
    for (const auto& item : *items)
        requests << item.first;
    pending.InFlight = true;
    Client(*relay)->Run(
        WakeScript(requests, relay->Command), TRelayClient::DefaultTimeoutMs,
        requests.size() * OutputPerAddress, [this, relayName, items](const TRelayReply& reply) {
            QString error;
            if (!reply.Ok)
                error = reply.Error;
            else if (reply.ExitCode == 3)
                error = Res::Str(Res::RelayNoWakeTool).arg(relayName);
            else if (reply.ExitCode != 0)
                error =
                    Res::Str(Res::RelayCommandFailed)
                        .arg(relayName,
                             QString::fromLocal8Bit(reply.Output).trimmed().section(QLatin1Char('\n'), -1));
            for (const auto& item : *items)
                item.second(error);
            TPendingWakes& after = FWakes[relayName];
            after.InFlight = false;
            if (!after.Items.isEmpty() && !after.Scheduled) {
                after.Scheduled = true;
                QTimer::singleShot(WakeGatherMs, this, [this, relayName] { FlushWakes(relayName); });
            }
        });
}

void TRelayHub::Test(const QString& relayName, std::function<void(const TRelayTestResult&)> done)
{
    const TRelay* relay = FindRelay(relayName);
    if (!relay) {
        TRelayTestResult result;
        result.Error = Res::Str(Res::RelayFailed).arg(relayName, Res::Str(Res::RelayNoReason));
        done(result);
        return;
    }
    Client(*relay)->Run(TestScript(relay->Command), TRelayClient::DefaultTimeoutMs, TestOutput,
                        [done = std::move(done)](const TRelayReply& reply) {
                            TRelayTestResult result;
                            result.Ok = reply.Ok;
                            result.Error = reply.Error;
                            result.RoundTripMs = reply.ElapsedMs;
                            for (const QByteArray& line : reply.Output.split('\n')) {
                                if (line.startsWith("W ") && result.WakeTool.isEmpty())
                                    result.WakeTool = QString::fromUtf8(line.mid(2)).trimmed();
                                else if (line.startsWith("C "))
                                    result.CheckTool = QString::fromUtf8(line.mid(2)).trimmed();
                            }
                            done(result);
                        });
}

void TRelayHub::CloseConnections(bool wait)
{
    // A connection found standing belongs to whoever opened it (the window, another command).
    for (TRelayClient* client : std::as_const(FClients))
        if (client->StartedConnection())
            client->CloseConnection(wait);
}
