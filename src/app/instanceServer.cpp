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
#include <QStandardPaths>
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

QString ErrorLine(const QString& message)
{
    return Res::Str(Res::CmdErrorLine).arg(message) + QLatin1Char('\n');
}

TCommandResult TooLarge()
{
    return TCommandResult{2, {}, ErrorLine(Res::Str(Res::CmdErrTooLarge).arg(MaxInstanceRequest >> 20))};
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

// $XDG_RUNTIME_DIR. Cron jobs and login hooks often run without the variable: the session's folder is
// then found where systemd makes it, and without a session the window and the command line still meet
// in a private folder of the user's own in the temporary folder. Empty when none is safe.
QString RuntimeFolder()
{
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString session = QStringLiteral("/run/user/") + QString::number(::geteuid());
    if (IsPrivateFolder(session))
        return session;
    const QString own = QDir::tempPath() + QStringLiteral("/sablewick-") + QString::number(::geteuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return IsPrivateFolder(own) ? own : QString();
}

} // namespace

QString InstanceSocketPath(const QString& databaseFile)
{
    QFileInfo file(databaseFile);
    // The same file reached by two spellings (a link, "..") is one instance.
    const QString canonical = file.exists() ? file.canonicalFilePath() : file.absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex();
    const QString folder = RuntimeFolder();
    if (folder.isEmpty())
        return {};
    return QDir(folder).filePath(QStringLiteral("sablewick-") + QString::fromLatin1(hash.left(16)) +
                                 QStringLiteral(".socket"));
}

TInstanceServer::TInstanceServer(std::function<TOpenDatabase*()> database, std::function<void()> activate,
                                 QObject* parent)
    : QObject(parent), FDatabase(std::move(database)), FActivate(std::move(activate)),
      FServer(new QLocalServer(this))
{
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, &TInstanceServer::Accept);
}

TInstanceServer::~TInstanceServer()
{
    FServer->close();
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
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
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
    // A peer that sends nothing usable is dropped after a while, so it cannot hold resources forever; a
    // long request that keeps coming is not.
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, &QLocalSocket::abort);
    idle->start(ClientIdleTimeout);
    ++FConnections;
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, [this] {
        // What a burst of requests took goes back to the system once the last of them has gone.
        if (--FConnections == 0)
            ::malloc_trim(0);
    });
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle, buffer] {
        const qsizetype scanned = buffer->size();
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf('\n', scanned);
        QPointer<QLocalSocket> guarded(socket);
        auto answer = [guarded](const TCommandResult& result) {
            if (guarded)
                new TAnswerWriter(guarded, result);
        };
        if (end < 0 && buffer->size() <= MaxInstanceRequest) {
            idle->start(ClientIdleTimeout);
            return;
        }
        idle->stop();
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        if (end < 0 || end > MaxInstanceRequest) {
            buffer->clear();
            answer(TooLarge());
            return;
        }
        const std::optional<TCommandRequest> request = TCommandRequest::FromJson(buffer->left(end));
        buffer->clear();
        buffer->squeeze();
        if (!request) {
            answer(TCommandResult{2, {}, ErrorLine(Res::Str(Res::CmdErrBadRequest))});
            return;
        }
        if (request->Command == TCommandRequest::Activate) {
            if (FActivate)
                FActivate();
            answer(TCommandResult{});
            return;
        }
        auto* runner = new TCommandRunner(FDatabase ? FDatabase() : nullptr, this);
        runner->Start(*request, answer);
    });
}

std::optional<TCommandResult> SendToInstance(const QString& databaseFile, const TCommandRequest& request,
                                             int timeoutMs)
{
    const QString path = InstanceSocketPath(databaseFile);
    if (!IsOwnSocket(path))
        return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(2000))
        return std::nullopt; // left behind by an instance that died
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
    return TCommandResult{1, {}, ErrorLine(Res::Str(Res::CmdErrNoAnswer))};
}
