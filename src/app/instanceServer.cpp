#include "app/instanceServer.h"

#include "app/commandRunner.h"
#include "core/texts.h"

#include <malloc.h>
#include <memory>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ClientIdleTimeout = 10000;
// An answer is written a piece at a time, while the peer reads: the window never builds the whole message
// at once, and a slow reader holds at most this much in the socket's buffer.
constexpr qsizetype AnswerPiece = 32 * 1024;
constexpr qint64 AnswerBuffered = 256 * 1024;

TCommandResult TooLarge()
{
    return TCommandResult{
        2, {}, CommandErrorLine(Res::Str(Res::CmdErrTooLarge).arg(MaxInstanceRequest >> 20))};
}

// The text of a JSON string without its quotes.
QByteArray JsonStringBody(QStringView text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text.toString()}).toJson(QJsonDocument::Compact);
    return array.mid(2, array.size() - 4); // ["..."]
}

// Writes a result as the one JSON line TCommandResult::FromJson reads, in pieces, each when the socket's
// buffer has room, then closes the connection.
class TAnswerWriter : public QObject
{
public:
    TAnswerWriter(QLocalSocket* socket, const TCommandResult& result)
        : QObject(socket), FSocket(socket), FResult(result)
    {
        connect(socket, &QLocalSocket::bytesWritten, this, &TAnswerWriter::WriteMore);
        FSocket->write("{\"exit\":" + QByteArray::number(FResult.ExitCode) + ",\"out\":\"");
        WriteMore();
    }

private:
    void WriteMore()
    {
        while (FPart < 2 && FSocket->bytesToWrite() < AnswerBuffered) {
            const QString& text = FPart == 0 ? FResult.Out : FResult.Err;
            qsizetype end = std::min(text.size(), FAt + AnswerPiece);
            // A piece never ends between the two halves of a surrogate pair.
            if (end < text.size() && text.at(end - 1).isHighSurrogate())
                ++end;
            FSocket->write(JsonStringBody(QStringView(text).mid(FAt, end - FAt)));
            FAt = end;
            if (FAt < text.size())
                continue;
            FSocket->write(FPart == 0 ? QByteArray("\",\"err\":\"") : QByteArray("\"}\n"));
            ++FPart;
            FAt = 0;
        }
        if (FPart == 2) {
            disconnect(FSocket, &QLocalSocket::bytesWritten, this, nullptr);
            // The socket holds what is left to send; the answer need not wait for the peer to go.
            FResult = {};
            FSocket->disconnectFromServer();
        }
    }

    QLocalSocket* FSocket;
    TCommandResult FResult;
    int FPart = 0; // 0: out, 1: err, 2: done
    qsizetype FAt = 0;
};

// The uid of the process at the other end of a connected local socket; nothing when unknown.
std::optional<uid_t> PeerUid(qintptr descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return credentials.uid;
}

// True when path is a socket owned by this user: anything else could be another user's listener.
bool IsOwnSocket(const QString& path)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISSOCK(info.st_mode) && info.st_uid == ::geteuid();
}

// True when path is a real folder (not a link) of this user that nobody else may enter.
bool IsPrivateFolder(const QString& path)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// The folders the window's socket may be in, in the order a command looks. Neither depends on the
// environment, so the window and a cron job agree however each was started.
QStringList SocketFolders()
{
    const QString uid = QString::number(::geteuid());
    return {QStringLiteral("/run/user/") + uid, QStringLiteral("/tmp/sablewick-") + uid};
}

QString SocketName(const QString& databaseFile)
{
    QFileInfo file(databaseFile);
    // The same file reached by two spellings (a link, "..") is one instance.
    const QString canonical = file.exists() ? file.canonicalFilePath() : file.absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("sablewick-") + QString::fromLatin1(hash.left(16)) + QStringLiteral(".socket");
}

// What a peer gets when the requests of others fill what the window may hold.
TCommandResult Busy()
{
    return TCommandResult{1, {}, CommandErrorLine(Res::Str(Res::CmdErrWindowBusy))};
}

// What Qt reads ahead for a connection that waits for room, beyond the count of held bytes.
constexpr qint64 ReadChunk = 64 * 1024;
// Connections accepted by the server but not yet taken; the rest wait in the listen queue.
constexpr int PendingConnections = 16;

} // namespace

QString InstanceSocketPath(const QString& databaseFile)
{
    for (const QString& folder : SocketFolders()) {
        if (folder.startsWith(QLatin1String("/tmp/")))
            ::mkdir(QFile::encodeName(folder).constData(), 0700);
        if (IsPrivateFolder(folder))
            return QDir(folder).filePath(SocketName(databaseFile));
    }
    return {};
}

QStringList InstanceSocketPaths(const QString& databaseFile)
{
    QStringList paths;
    for (const QString& folder : SocketFolders())
        paths.append(QDir(folder).filePath(SocketName(databaseFile)));
    return paths;
}

// One connection of a peer: reads its request as far as the server's room allows, runs it, answers.
class TInstanceServer::TConnection : public QObject
{
public:
    enum TState
    {
        Reading,
        Waiting, // for room: others hold what the server may hold
        Answered,
    };

    TConnection(TInstanceServer* server, QLocalSocket* socket)
        : QObject(socket), FServer(server), FSocket(socket)
    {
        // A peer that sends nothing usable is dropped after a while, so it cannot hold resources forever;
        // a long request that keeps coming is not, nor one that waits for room.
        FIdle.setSingleShot(true);
        connect(&FIdle, &QTimer::timeout, socket, &QLocalSocket::abort);
        FIdle.start(ClientIdleTimeout);
        connect(socket, &QLocalSocket::readyRead, this, &TConnection::Read);
    }

    ~TConnection() override { Let(); }

    void Read()
    {
        if (FState != Reading)
            return;
        const qint64 available = FSocket->bytesAvailable();
        const qsizetype room = MaxInstanceHeld - FServer->FHeld;
        const qsizetype take = static_cast<qsizetype>(std::min<qint64>(available, room));
        const qsizetype scanned = FBuffer.size();
        if (take > 0) {
            FBuffer.append(FSocket->read(take));
            Hold(FBuffer.size() - scanned);
        }
        const qsizetype end = FBuffer.indexOf('\n', scanned);
        if (end > MaxInstanceRequest || (end < 0 && FBuffer.size() > MaxInstanceRequest)) {
            Answer(TooLarge());
        } else if (end >= 0) {
            Run(end);
        } else if (take < available) {
            Wait();
        } else {
            FIdle.start(ClientIdleTimeout);
        }
    }

    // Room was made: reads on where it stopped.
    void Resume()
    {
        if (FState != Waiting)
            return;
        FServer->FHeldWaiting -= FHeld;
        FState = Reading;
        FSocket->setReadBufferSize(0);
        FIdle.start(ClientIdleTimeout);
        Read();
    }

private:
    void Hold(qsizetype bytes)
    {
        FHeld += bytes;
        FServer->FHeld += bytes;
    }

    // Gives back what the connection holds. It waits no more: the room it makes wakes the others, never
    // itself (which may be in its destructor).
    void Let()
    {
        if (FState == Waiting)
            FServer->FHeldWaiting -= FHeld;
        FState = Answered;
        const qsizetype held = std::exchange(FHeld, 0);
        FBuffer = QByteArray();
        if (held > 0)
            FServer->Release(held);
    }

    void Wait()
    {
        FIdle.stop();
        FState = Waiting;
        // While it waits, Qt reads no further ahead than this: a connection that is read holds in Qt's
        // buffer only what came since the last pass, one that waits no more than this.
        FSocket->setReadBufferSize(ReadChunk);
        FServer->FHeldWaiting += FHeld;
        // When every held byte waits, nothing will make room: this one steps back.
        if (FServer->FHeldWaiting == FServer->FHeld)
            Answer(Busy());
        else
            FServer->FWaiting.emplace_back(this);
    }

    void Run(qsizetype end)
    {
        FIdle.stop();
        disconnect(FSocket, &QLocalSocket::readyRead, this, nullptr);
        // Cut in place: a copy of a request of 64 MiB would be held beside it, uncounted.
        FBuffer.truncate(end);
        const std::optional<TCommandRequest> request = TCommandRequest::FromJson(FBuffer);
        if (!request) {
            Answer(TCommandResult{2, {}, CommandErrorLine(Res::Str(Res::CmdErrBadRequest))});
            return;
        }
        if (request->Command == TCommandRequest::Activate) {
            if (FServer->FActivate)
                FServer->FActivate();
            Answer(TCommandResult{});
            return;
        }
        // The request's bytes stay counted until it is answered, as its names are held until then, even
        // when the peer goes away meanwhile.
        const qsizetype held = std::exchange(FHeld, 0);
        FBuffer = QByteArray();
        FState = Answered;
        QPointer<TInstanceServer> server(FServer);
        QPointer<QLocalSocket> socket(FSocket);
        auto* runner = new TCommandRunner(FServer->FDatabase ? FServer->FDatabase() : nullptr, FServer);
        runner->Start(*request, [server, socket, held](const TCommandResult& result) {
            if (socket)
                new TAnswerWriter(socket, result);
            if (server)
                server->Release(held);
        });
    }

    void Answer(const TCommandResult& result)
    {
        FIdle.stop();
        disconnect(FSocket, &QLocalSocket::readyRead, this, nullptr);
        Let();
        FState = Answered;
        new TAnswerWriter(FSocket, result);
    }

    TInstanceServer* FServer;
    QLocalSocket* FSocket;
    QTimer FIdle;
    QByteArray FBuffer;
    qsizetype FHeld = 0;
    TState FState = Reading;
};

TInstanceServer::TInstanceServer(std::function<TOpenDatabase*()> database, std::function<void()> activate,
                                 QObject* parent)
    : QObject(parent), FDatabase(std::move(database)), FActivate(std::move(activate)),
      FServer(new QLocalServer(this))
{
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    FServer->setListenBacklogSize(InstanceListenBacklog);
    FServer->setMaxPendingConnections(PendingConnections);
    connect(FServer, &QLocalServer::newConnection, this, &TInstanceServer::Accept);
}

TInstanceServer::~TInstanceServer()
{
    FServer->close();
    // The connections go while this object's members still exist; none waits for room any more.
    FWaiting.clear();
    FClosing = true;
    delete FServer;
    FServer = nullptr;
}

bool TInstanceServer::Listen(const QString& databaseFile)
{
    const QString path = InstanceSocketPath(databaseFile);
    if (path.isEmpty())
        return false;
    if (FServer->listen(path))
        return true;
    if (FServer->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    QLocalServer::removeServer(path);
    return FServer->listen(path);
}

QString TInstanceServer::SocketPath() const
{
    return FServer->fullServerName();
}

void TInstanceServer::Accept()
{
    // Past the bound the rest wait in the listen queue, taken as served connections go.
    while (FServer && FConnections < MaxInstanceConnections) {
        QLocalSocket* socket = FServer->nextPendingConnection();
        if (!socket)
            break;
        const std::optional<uid_t> peer = PeerUid(socket->socketDescriptor());
        if (!peer || *peer != ::geteuid()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Serve(socket);
    }
}

void TInstanceServer::Serve(QLocalSocket* socket)
{
    ++FConnections;
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, [this] {
        // What a burst of requests took goes back to the system once the last of them has gone.
        if (--FConnections == 0)
            ::malloc_trim(0);
        if (!FClosing)
            QTimer::singleShot(0, this, &TInstanceServer::Accept);
    });
    auto* connection = new TConnection(this, socket);
    connection->Read();
}

void TInstanceServer::Release(qsizetype bytes)
{
    FHeld -= bytes;
    if (FClosing)
        return;
    // Each waiting connection once, in order; one that finds no room again queues anew behind.
    std::deque<QPointer<TConnection>> waiting;
    waiting.swap(FWaiting);
    for (const QPointer<TConnection>& connection : waiting) {
        if (connection)
            connection->Resume();
    }
}

bool InstanceListening(const QString& databaseFile)
{
    for (const QString& path : InstanceSocketPaths(databaseFile)) {
        if (!IsOwnSocket(path))
            continue;
        QLocalSocket socket;
        socket.connectToServer(path);
        if (socket.waitForConnected(2000))
            return true;
    }
    return false;
}

std::optional<TCommandResult> SendToInstance(const QString& databaseFile, const TCommandRequest& request,
                                             int timeoutMs)
{
    QLocalSocket socket;
    bool connected = false;
    for (const QString& path : InstanceSocketPaths(databaseFile)) {
        if (!IsOwnSocket(path))
            continue;
        socket.connectToServer(path);
        // Not connected: left behind by an instance that died.
        if ((connected = socket.waitForConnected(2000)))
            break;
        socket.abort();
    }
    if (!connected)
        return std::nullopt;
    const QByteArray message = request.ToJson() + '\n';
    if (message.size() > MaxInstanceRequest)
        return TooLarge();
    QElapsedTimer clock;
    clock.start();
    socket.write(message);
    while (socket.bytesToWrite() > 0 && clock.elapsed() < timeoutMs) {
        if (!socket.waitForBytesWritten(static_cast<int>(timeoutMs - clock.elapsed())))
            break;
    }
    QByteArray reply;
    // No cap on the answer: it comes from this user's own program and the wait is bounded; a list of
    // thousands of computers is larger than any request.
    while (!reply.endsWith('\n')) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(static_cast<int>(left)))
            break;
        reply += socket.readAll();
    }
    reply += socket.readAll();
    if (std::optional<TCommandResult> result = TCommandResult::FromJson(reply.trimmed()))
        return result;
    return TCommandResult{1, {}, CommandErrorLine(Res::Str(Res::CmdErrNoAnswer))};
}
