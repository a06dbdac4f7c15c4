// The request of the command line and its result, as they travel between a command-line process and the
// running window that holds the database (app/instanceServer.h): one JSON line each way.
#pragma once

#include <optional>
#include <QByteArray>
#include <QString>
#include <QStringList>

// What the command line asks of the computers' list. The same request runs in this process, or in the
// running window that holds the database.
struct TCommandRequest
{
    // Not a command of the command line: brings the running window to the front.
    static inline const QString Activate = QStringLiteral("activate");
    // Sweeps the network named in Names here, never in the window: app/commandScan.h.
    static inline const QString Scan = QStringLiteral("scan");
    // Adds one computer (--new NAME), handed to the window as the other commands are.
    static inline const QString New = QStringLiteral("new");

    // The command: the long option that asks for it ("wake", "list", ...), or Activate.
    QString Command;
    QStringList Names;
    bool Json = false;
    // With Scan: add the new hosts. (Scans are not handed to the window, so it does not travel.)
    bool Add = false;
    // With Add: add the hosts whose MAC answers for many addresses too.
    bool AddShared = false;
    // With "new" (Names holds the name): the computer's values as typed; empty for the wizard's defaults.
    // The address is looked up by the command line before the request travels.
    QString Mac;
    QString Ip;
    QString Mode;
    QString Mask;
    QString Comment;
    // With "new" and "wake": the UDP port of the magic packets; 0 for the stored one (or the default).
    int Port = 0;

    QByteArray ToJson() const;
    // Nothing for a message that is not a well-formed request. Whether the command is one that is known
    // is for the runner to say.
    static std::optional<TCommandRequest> FromJson(const QByteArray& message);
};

// What a request printed and its exit code.
struct TCommandResult
{
    int ExitCode = 0;
    QString Out;
    QString Err;

    QByteArray ToJson() const;
    static std::optional<TCommandResult> FromJson(const QByteArray& message);
};

// A line of stderr that tells an error, its control characters written as the plain outputs write them.
QString CommandErrorLine(const QString& message);
// The same for a message with line breaks of its own (an exception's), joined into one line.
QString CommandErrorLineJoined(const QString& message);
