#pragma once

#include "app/commandMessage.h"

#include <deque>
#include <functional>
#include <optional>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;
class TOpenDatabase;

// The per-user local socket through which a running window takes requests of the command line for
// the database it holds: one JSON line in (at most MaxInstanceRequest bytes; a longer one is answered
// "too large"), one JSON line out, of any size, written while the peer reads it. The socket is named after
// the database file and is open to its owner only (mode 0600); a peer of another user is dropped unheard.
//
// Its folder does not depend on XDG_RUNTIME_DIR, which a cron job lacks and a session may point elsewhere:
// the session's folder /run/user/UID where it exists, else a private folder of the user's own in /tmp. The
// window listens in the first of these; a command looks in both, as the folder may have come or gone
// since the window started.

inline constexpr qsizetype MaxInstanceRequest = qsizetype(64) << 20;
// What all connections together may hold of requests: the bytes read and not yet parsed, and those of the
// requests being run. A request past it waits until others are answered or, when nothing else could make
// room, is refused as busy: the window never grows without bound however many peers send at once.
inline constexpr qsizetype MaxInstanceHeld = qsizetype(128) << 20;
// Connections served at once; the others wait in the listen queue, which takes this many, so that a
// thousand command lines at once are all answered in turn.
inline constexpr int MaxInstanceConnections = 256;
inline constexpr int InstanceListenBacklog = 4096;

// The path the window listens on for a database file; empty when no private folder can be had.
QString InstanceSocketPath(const QString& databaseFile);
// The paths a command looks for the window at, in order.
QStringList InstanceSocketPaths(const QString& databaseFile);

class TInstanceServer : public QObject
{
    Q_OBJECT

public:
    // database: the window's open database, asked for at each request (may be null); activate: brings
    // the window to the front.
    TInstanceServer(std::function<TOpenDatabase*()> database, std::function<void()> activate,
                    QObject* parent = nullptr);
    ~TInstanceServer() override;

    // Starts listening for the database file. Only the holder of the database's lock may call it: a
    // socket left behind by an instance that died is replaced.
    bool Listen(const QString& databaseFile);
    QString SocketPath() const;
    // Connections not yet closed and gone.
    int Connections() const { return FConnections; }
    // Bytes of requests held now, by every connection together.
    qsizetype Held() const { return FHeld; }

private:
    class TConnection;
    void Accept();
    void Serve(QLocalSocket* socket);
    // Lets the connections that wait for room read again, in the order they began to wait.
    void Release(qsizetype bytes);

    std::function<TOpenDatabase*()> FDatabase;
    std::function<void()> FActivate;
    QLocalServer* FServer = nullptr;
    int FConnections = 0;
    qsizetype FHeld = 0;
    // Of FHeld, what the waiting connections hold: when it is all, nothing else will make room.
    qsizetype FHeldWaiting = 0;
    std::deque<QPointer<TConnection>> FWaiting;
    bool FClosing = false;
};

// True when a window of this user answers on the socket of the database file.
bool InstanceListening(const QString& databaseFile);

// The command line's side. Nothing when no instance of this user serves the file (no socket, a socket
// of someone else, nobody listening); otherwise the instance's result, or an error result when it did
// not answer. Waits up to timeoutMs for the answer.
std::optional<TCommandResult> SendToInstance(const QString& databaseFile, const TCommandRequest& request,
                                             int timeoutMs = 120000);
