#pragma once

#include "app/commandMessage.h"

#include <functional>
#include <optional>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class TOpenDatabase;

// The per-user local socket through which a running window takes requests of the command line for
// the database it holds: one JSON line in (at most MaxInstanceRequest bytes; a longer one is answered
// "too large"), one JSON line out, of any size, written while the peer reads it. The socket lives in the
// user's runtime folder, is named after the database file and is open to its owner only (mode 0600); a peer
// of another user is dropped unheard.

inline constexpr qsizetype MaxInstanceRequest = qsizetype(64) << 20;

// The socket's path for a database file; empty when the user has no private runtime folder.
QString InstanceSocketPath(const QString& databaseFile);

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

private:
    void Accept();
    void Serve(QLocalSocket* socket);

    std::function<TOpenDatabase*()> FDatabase;
    std::function<void()> FActivate;
    QLocalServer* FServer = nullptr;
    int FConnections = 0;
};

// The command line's side. Nothing when no instance of this user serves the file (no socket, a socket
// of someone else, nobody listening); otherwise the instance's result, or an error result when it did
// not answer. Waits up to timeoutMs for the answer.
std::optional<TCommandResult> SendToInstance(const QString& databaseFile, const TCommandRequest& request,
                                             int timeoutMs = 120000);
