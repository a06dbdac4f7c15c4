// Running a request of the command line: TCommandRunner on the open database, and the process's side of
// the command line (help, version, usage errors, hand-over to a running window).
#pragma once

#include "app/commandLine.h"
#include "app/commandMessage.h"
#include "model/openDatabase.h"

#include <functional>
#include <optional>
#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <vector>

// Runs one request on an open database and hands back its result on the main thread. Wake-ups and checks
// go through the open database, as the window's commands do; the runner waits for their completion in the
// event loop. The runner frees itself after done has run.
class TComputer;

class TCommandRunner : public QObject
{
    Q_OBJECT

public:
    using TDone = std::function<void(const TCommandResult&)>;

    // database may be null (no computers). When it goes away before the request is done, the runner
    // answers with what it has.
    explicit TCommandRunner(TOpenDatabase* database, QObject* parent = nullptr);

    // How a request opens the database where no window holds it; nothing for a command that is not known.
    static std::optional<TOpenDatabase::TOpenMode> OpenMode(const QString& command);

    // done runs once, never from within Start.
    void Start(const TCommandRequest& request, TDone done);

private:
    // A command: how it opens the database, and what runs it.
    struct THandler
    {
        const char* Name;
        TOpenDatabase::TOpenMode Mode;
        void (TCommandRunner::*Run)();
    };
    static const THandler* Handler(const QString& command);

    void RunList();
    void RunWake();
    // app/commandEdit.cpp: --new and --delete.
    void RunNew();
    void RunDelete();
    void RunStatus();
    // One step of a list, or of starting wake-ups; true while more is left.
    bool ListStep();
    bool WakeStep();
    void DropDeleted();
    void RunSchedules();
    // Wakes these computers after delay seconds; each prints whether its packet left.
    void WakeComputers(const QStringList& ids, int delay);
    void WakeEnded(const QString& itemID, bool sent);
    // A wake-up of a schedule's firing ended (or could not start).
    void ScheduledWakeEnded(const QString& itemID, bool sent);
    bool StatusStep();
    bool StatusOutputStep();
    void CheckEnded();
    void Finish();
    TGroup* Root() const;
    // Hands next the identifiers of the computers matching the request's names, in the names' order, once
    // all are matched; names without a match are reported on Err and set the exit code.
    void Resolve(std::function<void(const QStringList&)> next);

    QPointer<TOpenDatabase> FDatabase;
    TCommandRequest FRequest;
    TDone FDone;
    TCommandResult FResult;
    // The computers whose checks are awaited, while FChecking.
    QStringList FPending;
    qsizetype FCheckCursor = 0; // those before it have ended their checks
    bool FChecking = false;
    bool FStartingChecks = false; // checks are still being started, in steps
    // The answer being written, in steps, once every check has ended.
    QJsonArray FJson;
    bool FSocketMissing = false;
    // Wake-ups whose relay failed, with the reason.
    QHash<QString, QString> FRelayFailures;
    // What each wake-up prints when its packet left, and when it did not.
    QHash<QString, std::pair<QString, QString>> FWakeLines;
    int FWakesRunning = 0;
    // The computers to list, or to wake, and how many of them the steps so far took.
    std::vector<const TComputer*> FSteps;
    QStringList FWakeIDs;
    size_t FStep = 0;
    bool FWaking = false; // wake-ups are still being started
    int FWakeDelay = 0;   // seconds before each packet of this request
    bool FScheduleRun = false;
};

// The refusal of an account that is not an administrator, as printed on stderr.
QString AdministratorRefusal();
// Everything but the window: help, version, usage errors and requests, on a QCoreApplication (no
// display needed). Returns the exit code.
int RunCommandLine(int& argc, char** argv, const TCommandLine& line);
// Runs a request: through the running instance that holds the database when there is one, else on the
// database opened here in the request's mode and closed at once. Prints the result; returns the exit code.
// chosenFile: the file was named by --database (a missing one is an error even for a list).
int RunCommandRequest(const TCommandRequest& request, const QString& databaseFile, bool chosenFile = true);
// The same on the database opened here, without printing. A command that writes makes the folder and the
// file as the window does; one that only lists, or runs the schedules, finds nothing in a file that is
// not there at the default place.
TCommandResult RunOnDatabase(const TCommandRequest& request, const QString& databaseFile,
                             bool chosenFile = true);

// app/commandEdit.cpp: the wizard's checks of a new computer's values, in the wizard's order; the error
// line when one fails. Without an address, only the others are checked.
std::optional<QString> NewComputerError(const TCommandRequest& request);
// Checks the values of --new and looks the name up when no address was given, here and not in the
// window, whose thread must not wait for a lookup. The error result when that fails.
std::optional<TCommandResult> PrepareNewComputer(TCommandRequest& request);
