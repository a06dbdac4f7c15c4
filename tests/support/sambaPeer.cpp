#include "support/sambaPeer.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

// ---- TNamespaceEntry

TNamespaceEntry::TNamespaceEntry(const TTestNamespace& ns)
{
    FOriginal = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = open(("/run/netns/" + ns.Name()).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    FOk = FOriginal >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0)
        close(target);
}

TNamespaceEntry::~TNamespaceEntry()
{
    if (FOk)
        setns(FOriginal, CLONE_NEWNET);
    if (FOriginal >= 0)
        close(FOriginal);
}

// ---- TSambaPeer

namespace {

QString SbinProgram(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/local/sbin"});
    return path;
}

QString CommonDirectories(const QString& dir)
{
    QString text;
    for (const char* key : {"lock directory", "state directory", "cache directory", "pid directory",
                            "private dir", "ncalrpc dir", "binddns dir"}) {
        const QString sub = dir + QLatin1Char('/') + QString::fromLatin1(key).section(QLatin1Char(' '), 0, 0);
        QDir().mkpath(sub);
        text += QStringLiteral("  %1 = %2\n").arg(QString::fromLatin1(key), sub);
    }
    return text;
}

bool WriteFile(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0;
}

} // namespace

TSambaPeer::TSambaPeer(const TTestNamespace& ns, TOptions options)
    : FNamespace(ns), FOptions(std::move(options))
{
    // For a look at the daemons' logs after a failed run.
    FDir.setAutoRemove(qEnvironmentVariableIsEmpty("SABLEWICK_KEEP_SAMBA_DIRS"));
}

namespace {

void Stop(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

} // namespace

TSambaPeer::~TSambaPeer()
{
    for (auto& process : FProcesses)
        Stop(*process);
}

bool TSambaPeer::AwaitNames(const std::function<bool()>& answered, QString* error)
{
    QElapsedTimer waited;
    waited.start();
    bool restarted = false;
    while (waited.elapsed() < 30000) {
        if (answered())
            return true;
        if (!restarted && waited.elapsed() > 15000) {
            if (!RestartNmbd(error))
                return false;
            restarted = true;
        } else {
            QTest::qWait(250);
        }
    }
    if (error)
        *error = QStringLiteral("nmbd of %1 never answered within 30 s, started twice "
                                "(SABLEWICK_KEEP_SAMBA_DIRS=1 keeps its logs)")
                     .arg(FOptions.NetbiosName);
    return false;
}

bool TSambaPeer::RestartNmbd(QString* error)
{
    if (FNmbd) {
        Stop(*FNmbd);
        std::erase_if(FProcesses, [this](const auto& process) { return process.get() == FNmbd; });
        FNmbd = nullptr;
    }
    return Launch(QStringLiteral("nmbd"), error);
}

bool TSambaPeer::Available(QString* reason)
{
    for (const char* program : {"nmbd", "smbd"}) {
        if (SbinProgram(QString::fromLatin1(program)).isEmpty()) {
            if (reason)
                *reason = QStringLiteral("%1 is not installed (Debian package samba)").arg(program);
            return false;
        }
    }
    return true;
}

bool TSambaPeer::Start(QString* error)
{
    if (!FDir.isValid()) {
        if (error)
            *error = QStringLiteral("no temporary directory");
        return false;
    }
    const QString dir = FDir.path();
    // smbd serves anonymous clients as the guest account, which must reach the cache directory.
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                   QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    QString conf = QStringLiteral("[global]\n");
    conf += QStringLiteral("  workgroup = %1\n  netbios name = %2\n")
                .arg(FOptions.Workgroup, FOptions.NetbiosName);
    if (!FOptions.Aliases.isEmpty())
        conf += QStringLiteral("  netbios aliases = %1\n").arg(FOptions.Aliases);
    conf += QStringLiteral("  server string = %1\n").arg(FOptions.ServerString);
    conf += QStringLiteral("  interfaces = %1\n  bind interfaces only = yes\n").arg(FOptions.Address);
    conf += CommonDirectories(dir);
    conf += QStringLiteral("  log file = %1/log.%m\n  max log size = 1000\n").arg(dir);
    conf += QStringLiteral("  name resolve order = bcast\n  server role = standalone server\n"
                           "  server min protocol = NT1\n  map to guest = bad user\n"
                           "  load printers = no\n  disable spoolss = yes\n  wins support = no\n");
    if (FOptions.MasterBrowser)
        conf += QStringLiteral("  local master = yes\n  preferred master = yes\n  domain master = yes\n"
                               "  os level = 65\n");
    else
        conf += QStringLiteral("  local master = no\n  domain master = no\n");
    conf += QString(FOptions.Shares).replace(QStringLiteral("%DIR%"), dir);
    if (!WriteFile(dir + QStringLiteral("/smb.conf"), conf)) {
        if (error)
            *error = QStringLiteral("cannot write smb.conf");
        return false;
    }
    if (FOptions.Nmbd && !Launch(QStringLiteral("nmbd"), error))
        return false;
    if (FOptions.Smbd && !Launch(QStringLiteral("smbd"), error))
        return false;
    return true;
}

bool TSambaPeer::Launch(const QString& program, QString* error)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(FDir.path() + QStringLiteral("/%1.out").arg(program));
    process->setStandardInputFile(QProcess::nullDevice());
    // A session of its own: smbd signals its whole process group when it shuts down.
    process->start(QStringLiteral("ip"), {"netns", "exec", FNamespace.Name(), "setsid", SbinProgram(program),
                                          "-F", "-s", FDir.path() + QStringLiteral("/smb.conf"),
                                          "--no-process-group", "--debug-stdout", "-d1"});
    if (!process->waitForStarted(5000)) {
        if (error)
            *error = QStringLiteral("cannot start %1").arg(program);
        return false;
    }
    if (program == QLatin1String("nmbd"))
        FNmbd = process.get();
    FProcesses.push_back(std::move(process));
    return true;
}

QString TSambaPeer::WriteClientConfiguration(const QString& dir, const QString& workgroup,
                                             const QString& interfaceAddress)
{
    QString conf = QStringLiteral("[global]\n  workgroup = %1\n  netbios name = SWCLIENT\n").arg(workgroup);
    conf += QStringLiteral("  interfaces = %1\n  bind interfaces only = yes\n").arg(interfaceAddress);
    conf += QStringLiteral("  name resolve order = bcast\n  client min protocol = NT1\n");
    conf += CommonDirectories(dir + QStringLiteral("/client"));
    const QString path = dir + QStringLiteral("/client.conf");
    return WriteFile(path, conf) ? path : QString();
}

// ---- TNbnsResponder

namespace {

constexpr int NameOffset = 12;
constexpr int EncodedNameLength = 34;

void PutWord(QByteArray& out, quint16 value)
{
    out.append(static_cast<char>(value >> 8));
    out.append(static_cast<char>(value & 0xFF));
}

QByteArray EncodeName(const QByteArray& name16)
{
    QByteArray out(1, char(32));
    for (int i = 0; i < 16; ++i) {
        const auto byte = static_cast<quint8>(i < name16.size() ? name16[i] : ' ');
        out.append(static_cast<char>('A' + (byte >> 4)));
        out.append(static_cast<char>('A' + (byte & 0x0F)));
    }
    out.append('\0');
    return out;
}

bool DecodeName(const QByteArray& datagram, QByteArray* name16)
{
    if (datagram.size() < NameOffset + EncodedNameLength || datagram[NameOffset] != char(32))
        return false;
    name16->clear();
    for (int i = 0; i < 16; ++i) {
        const int high = datagram[NameOffset + 1 + 2 * i] - 'A', low = datagram[NameOffset + 2 + 2 * i] - 'A';
        if (high < 0 || high > 15 || low < 0 || low > 15)
            return false;
        name16->append(static_cast<char>((high << 4) | low));
    }
    return true;
}

QByteArray AnswerHeader(quint16 transactionId, const QByteArray& name16, quint16 type, quint16 dataLength)
{
    QByteArray out;
    PutWord(out, transactionId);
    PutWord(out, 0x8400); // response, authoritative
    PutWord(out, 0);
    PutWord(out, 1);
    PutWord(out, 0);
    PutWord(out, 0);
    out += EncodeName(name16);
    PutWord(out, type);
    PutWord(out, 1);
    PutWord(out, 0);
    PutWord(out, 0); // TTL
    PutWord(out, dataLength);
    return out;
}

} // namespace

QByteArray TNbnsResponder::NameQueryReply(quint16 transactionId, const QByteArray& name16, quint32 address)
{
    QByteArray out = AnswerHeader(transactionId, name16, 0x20, 6);
    PutWord(out, 0);
    PutWord(out, static_cast<quint16>(address >> 16));
    PutWord(out, static_cast<quint16>(address & 0xFFFF));
    return out;
}

QByteArray TNbnsResponder::NodeStatusReply(quint16 transactionId, const QByteArray& name16,
                                           const QList<QByteArray>& names, const QByteArray& unitId)
{
    QByteArray data(1, static_cast<char>(names.size()));
    for (const QByteArray& name : names) {
        QByteArray entry = name.left(16);
        entry.append(QByteArray(16 - entry.size(), ' '));
        data += entry;
        PutWord(data, 0x0400); // active
    }
    data += unitId;
    data += QByteArray(40, '\0'); // the rest of the statistics
    return AnswerHeader(transactionId, name16, 0x21, static_cast<quint16>(data.size())) + data;
}

TNbnsResponder::TNbnsResponder(const TTestNamespace& ns) : FNamespace(ns)
{
}

TNbnsResponder::~TNbnsResponder()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
}

void TNbnsResponder::SetNameAnswer(TNameAnswer answer)
{
    std::lock_guard<std::mutex> guard(FLock);
    FNameAnswer = std::move(answer);
}

void TNbnsResponder::SetStatusAnswer(TStatusAnswer answer)
{
    std::lock_guard<std::mutex> guard(FLock);
    FStatusAnswer = std::move(answer);
}

bool TNbnsResponder::Start(QString* error)
{
    FThread = std::thread([this] { Run(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (FReady == 0 && std::chrono::steady_clock::now() < deadline)
        QThread::msleep(10);
    if (FReady != 1 && error)
        *error =
            QStringLiteral("the test's name server cannot listen on UDP 137 in %1").arg(FNamespace.Name());
    return FReady == 1;
}

void TNbnsResponder::Run()
{
    TNamespaceEntry entry(FNamespace);
    const int handle = entry.Ok() ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(137);
    const int on = 1;
    if (handle < 0 || setsockopt(handle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        if (handle >= 0)
            close(handle);
        FReady = -1;
        return;
    }
    FReady = 1;
    QByteArray buffer(1500, '\0');
    while (!FStop) {
        pollfd waiter{handle, POLLIN, 0};
        if (poll(&waiter, 1, 50) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(handle, buffer.data(), static_cast<size_t>(buffer.size()), 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < NameOffset + EncodedNameLength + 4)
            continue;
        const QByteArray request = buffer.left(got);
        const auto word = [&request](int at) {
            return static_cast<quint16>((quint8(request[at]) << 8) | quint8(request[at + 1]));
        };
        const quint16 id = word(0), flags = word(2), type = word(NameOffset + EncodedNameLength);
        QByteArray name16;
        if ((flags & 0x8000) || ((flags >> 11) & 0x0F) != 0 || !DecodeName(request, &name16))
            continue;
        QByteArray reply;
        int delayMs = 0;
        {
            std::lock_guard<std::mutex> guard(FLock);
            if (type == 0x20) {
                ++FNameQueries;
                const quint32 address = FNameAnswer ? FNameAnswer(name16, ntohl(from.sin_addr.s_addr)) : 0;
                if (address)
                    reply = NameQueryReply(id, name16, address);
            } else if (type == 0x21) {
                ++FStatusRequests;
                if (FStatusAnswer)
                    reply = FStatusAnswer(id, name16);
                delayMs = FDelayMs;
            }
        }
        if (reply.isEmpty())
            continue;
        for (int waited = 0; waited < delayMs && !FStop; waited += 10)
            QThread::msleep(10);
        sendto(handle, reply.constData(), static_cast<size_t>(reply.size()), 0,
               reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
    close(handle);
}
