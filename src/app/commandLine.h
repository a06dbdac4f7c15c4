#pragma once

#include <functional>
#include <optional>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

class TGroup;

// What the command line asks of the computers' list. The same request runs in this process, or in the
// running window that holds the database, which gets it over the local socket (app/instanceServer.h).
struct TCommandRequest
{
    enum TKind
    {
        None,
        Wake,
        List,
        Status,
        Activate
    };
    TKind Kind = None;
    QStringList Names;
    bool Json = false;

    QByteArray ToJson() const;
    // Nothing for a message that is not a well-formed request.
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

// The parsed command line. Help, version and usage errors are answered without opening any file.
struct TCommandLine
{
    enum TAction
    {
        Window,
        Help,
        Version,
        UsageError,
        RunRequest
    };
    TAction Action = Window;
    QString DatabaseFile; // the --database value, empty when not given
    QString Error;        // for UsageError
    TCommandRequest Request;
};

TCommandLine ParseCommandLine(const QStringList& arguments);
// The help text; needs the application object.
QString CommandLineHelp();
// "sablewick 1.0.0.0", from the version data of the program file (the same the about box shows).
QString VersionText();

// Everything but the window: help, version, usage errors and requests, on a QCoreApplication (no
// display needed). Returns the exit code.
int RunCommandLine(int& argc, char** argv, const TCommandLine& line);
// Runs a request: through the running instance that holds the database when there is one, else on the
// database opened here under the same lock and closed at once. Prints the result; returns the exit code.
int RunCommandRequest(const TCommandRequest& request, const QString& databaseFile);
// The same on the database opened here, without printing.
TCommandResult RunOnDatabase(const TCommandRequest& request, const QString& databaseFile);

// Runs one request against a root group and hands back its result on the main thread. Wake-ups go
// through the group's own sender with no delay; checks are the computers' own, and the runner waits for
// their completion in the event loop. The runner frees itself after finished.
class TCommandRunner : public QObject
{
    Q_OBJECT

public:
    using TDone = std::function<void(const TCommandResult&)>;

    // root is asked for the group each time it is needed: the window may drop it meanwhile.
    // assignSequences: give each checked computer a ping sequence number of its own (a process without
    // the window, where nobody else has handed them out).
    TCommandRunner(std::function<TGroup*()> root, bool assignSequences, QObject* parent = nullptr);

    // done runs once, never from within Start.
    void Start(const TCommandRequest& request, TDone done);

private:
    void RunList();
    void RunWake();
    void RunStatus();
    void PollChecks();
    void Finish();
    // The identifiers of the computers matching the request's names, in the names' order; names without a
    // match are reported on Err and set the exit code.
    QStringList Resolve();

    std::function<TGroup*()> FRoot;
    bool FAssignSequences;
    TCommandRequest FRequest;
    TDone FDone;
    TCommandResult FResult;
    QStringList FPending;
    int FWakesRunning = 0;
};
