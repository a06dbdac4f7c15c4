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

    // The command: the long option that asks for it ("wake", "list", ...), or Activate.
    QString Command;
    QStringList Names;
    bool Json = false;

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
