#pragma once

#include "core/dateTime.h"

#include <chrono>
#include <functional>
#include <memory>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <unordered_set>

class TComputer;
class TGroup;
class TObject;
class TOstrelDatabase;
class TRecheckSchedule;
struct TRecheckRound;
class TScheduleClock;
class TWakeSummary;
class TWakeWatch;

// The open database of a run: the file, its root group and when that group is written back.
//
// A change made by the user (add, delete, edit) or by a schedule is saved at once. A completed check
// only marks the group changed. The checks started by Open are written together, once every one of
// them has reported (or when none has reported for two seconds); after that one save writes every
// result that arrived since the last save, at most every two seconds. A check whose result did not
// change waits up to ten minutes, or rides along with the next save. A failed save keeps the group
// marked unsaved; the next change or Retry tries again, and Close saves before the file is closed.
//
// With background saves (the window's way) the calling thread only takes a snapshot of the group; a
// thread of the database's own renders and writes it, one save at a time, and reports on the calling
// thread. Until the write fails, the group counts as saved. SaveNow and Close wait for that thread.
class TOpenDatabase : public QObject
{
    Q_OBJECT

public:
    // How a run uses the file.
    enum TOpenMode
    {
        // The window's: a backup copy beside the file while it is open, every loaded computer checked at
        // once, and the file compacted at Close (unless a save of this run wrote it whole).
        omWindow,
        // Changes and check results are saved as in the window's mode, but no check starts by itself and
        // nothing else is written: no backup copy, no compaction.
        omReadWrite,
        // Reading only, under a shared lock: nothing is ever written (read-only media and files do) and
        // no check runs. A missing file is an open error, not a new database.
        omReadOnly,
        // As omReadWrite, for checks whose results are worth having unsaved: a file that this run may
        // not write (its permissions, read-only media) is read as omReadOnly reads it, the checks run,
        // and every save fails with the reason.
        omChecks,
    };

    enum TSaveState
    {
        ssSaved,   // the file holds everything
        ssStale,   // only dates of unchanged checks are missing from the file
        ssChanged, // check results wait for the next coalesced save
        ssFailed,  // the last save failed; the file lacks something
    };

    // Shortest time between two saves of check results, and longest wait for dates of checks.
    static constexpr int ResultSaveInterval = 2000;
    static constexpr int StaleSaveInterval = 10 * 60 * 1000;
    // How long a first result waits for the others of its burst.
    static constexpr int ResultGatherDelay = 100;
    // The checks of the load are written together: when all have reported, or after this long without
    // a report.
    static constexpr int LoadChecksQuietTime = 2000;
    // A save's copy of the computers is taken this long at a time, looking at the clock every so many.
    static constexpr int SnapshotSliceMs = 5;
    static constexpr int SnapshotStep = 256;

    // fileName: the full path of the database file. Nothing is opened until Open.
    explicit TOpenDatabase(const QString& fileName, TOpenMode mode = omWindow, QObject* parent = nullptr);
    // Closes the database when that has not been done yet; a failure is only reported by signal.
    ~TOpenDatabase() override;

    // Loads the file, or creates it when there is none. Every loaded computer gets its ping sequence
    // number, and in the window's mode a check. Raises the database's open and create errors, and the
    // unreadable-database error for a file without a root group, which is then left untouched; Root() stays
    // null.
    void Open();
    // Saves what is unsaved, then releases the root group, then the database (which compacts the file
    // unless a save of this run wrote it whole).
    // False with the save message in error when the last save failed; the file is then left as it is,
    // not compacted, and its backup copy stays beside it.
    bool Close(QString* error = nullptr);

    const QString& FileName() const { return FFileName; }
    // True while this run holds the file open (and locked).
    bool IsOpen() const;
    TGroup* Root() const { return FRoot.get(); }
    TOstrelDatabase* Database() const { return FDatabase.get(); }
    TSaveState SaveState() const { return FState; }
    // The message of the last failed save; empty once a save succeeded.
    const QString& LastError() const { return FLastError; }
    // Why the last save failed (the platform's text); empty after a save that succeeded.
    const QString& SaveFailure() const { return FLastReason; }

    // The smallest positive ping sequence number not yet handed out in this run.
    quint16 NextPingSequence();
    // Adds a computer to the root group (saved at once); null without a root group.
    TComputer* AddComputer();
    // Gives a computer its ping sequence number and, unless read only, starts its check (began: when the
    // check began, if earlier; its pause counts from then).
    void StartCheck(TComputer* computer, std::chrono::steady_clock::time_point began = {});
    // Deletes the computer with that identifier (saved at once); false when there is none.
    bool DeleteComputer(const QString& itemID);
    // Deletes the computers with these identifiers, those that exist, and saves once.
    void DeleteComputers(const QStringList& itemIDs);
    // Runs change, which may add, edit and delete computers, and saves once at its end if anything
    // changed (a change that throws still saves what it did).
    void ChangeTogether(const std::function<void()>& change);
    // Writes the group now when anything is unsaved, on the calling thread, after a background save
    // that is being written. True when the file holds everything.
    bool SaveNow();
    // Saves from now on are written by a thread of their own (call before Open).
    void SetBackgroundSaves(bool value);
    // How long a save's copy of the computers may hold the thread at a time (0: a step at a time).
    void SetSnapshotSlice(int ms) { FSnapshotSliceMs = ms; }
    // True while a background save is being copied or written.
    bool Saving() const { return FInFlight != nullptr; }
    // The periodic retry after a failed save.
    void Retry();

    // Starts checking every computer again once per interval, spread over it (call after Open).
    void StartRechecks(int intervalMs);
    // Checks these computers now (all of them when the list is empty), except those being checked (whose
    // running check reports as well). Nothing when read only.
    void Refresh(const QStringList& itemIDs);
    // Wakes these computers after delay seconds and, unless read only, watches whether each answers
    // afterwards. A wake-up that was not sent is told at once, with the reason, and not watched; several
    // computers woken together are told as one line, kept current until each has an outcome. Each
    // computer's outcome is also its WakeOutcome. sent, when given, is told on the main thread for each
    // sender whether its packet left, even when this database is gone by then. port: the UDP port of every
    // packet, 0 for each computer's own. Returns how many senders started.
    int Wake(const QStringList& itemIDs, int delay,
             std::function<void(const QString& itemID, bool sent)> sent = nullptr, int port = 0);
    TWakeWatch* WakeWatch() const { return FWakeWatch.get(); }
    // From now on tests every schedule of the group at every tick of one clock, and wakes what is due as
    // Wake does, after wakeDelay seconds.
    void StartSchedules(int wakeDelay);
    TScheduleClock* ScheduleClock() const { return FScheduleClock.get(); }
    // How many seconds after its firing a schedule's wake-up leaves: the window's Activate delay where the
    // window runs the schedules, none elsewhere.
    int ScheduleWakeDelay() const { return FScheduleWakeDelay; }
    // Tests every schedule at the moment now, the group's (for the computers without a schedule of their
    // own) and each computer's, except those whose firing is still under way. Returns the identifiers of
    // the computers to wake, each once, in the order they fell due. Nothing is stamped yet: a firing is
    // at least once, so its stamp waits until every wake-up of it has ended (ScheduledWakeEnded).
    QStringList FireDueSchedules(TDateTime now);
    // Tells the firing that woke this computer that its wake-up has ended: sent, or not. A firing whose
    // every wake-up has ended is stamped with its moment and saved like a check's result; one with a
    // packet that could have left and did not, or that a close or a kill cut off, stays unstamped and is
    // due again. A computer gone or without a usable MAC address counts as sent: no retry could help.
    void ScheduledWakeEnded(const QString& itemID, bool sent);
    // The longest wait of unchanged check dates (benchmarks shorten it with the recheck interval).
    void SetStaleSaveInterval(int ms);

signals:
    // A check of this computer completed; what is shown of it may have changed.
    void ComputerUpdated(TComputer* computer);
    // Computers were deleted (their running checks will not report).
    void ComputersDeleted();
    // Computers were added by a request of the command line, which the window shows and checks.
    void ComputersAdded(const QStringList& itemIDs);
    // The file now holds everything.
    void Saved();
    // A save failed; the message names the file and the reason. Raised once until a save succeeds.
    void SaveFailed(const QString& message);
    // Something the user should read in the status bar: how a wake-up went, or why checks fail.
    void StatusMessage(const QString& message);
    // The relay that serves this computer could not send its wake-up; the reason names the relay.
    void RelayFailed(const QString& itemID, const QString& reason);

private:
    void HookRoot();
    void UnhookRoot();
    void OnGroupUpdate(TObject* sender);
    void OnComputerUpdate(TObject* sender);
    void MarkResult();
    void MarkStale();
    QStringList AllItemIDs() const;
    // The computers of a round of re-checks, those behind a relay apart.
    TRecheckRound RecheckRound() const;
    bool Save();
    void HookSchedule(TComputer* computer);
    void CollectScheduled(const TComputer* computer);
    bool SaveHere();
    void SaveInBackground();
    void SaveDue();
    void ForgetLoadCheck(const TComputer* computer);
    void LoadChecksDone();
    struct TSaveOutcome;
    void SaveEnded(std::shared_ptr<TSaveOutcome> outcome);
    // Copies the next computers for the save under way, for a slice of time, and hands the copy to the
    // writer once it is whole.
    void ContinueSnapshot();
    void WaitForWriter();
    void SaveSucceeded();
    void SaveFailedWith(const QString& error);
    // The wake-ups' outcomes (openDatabaseWake.cpp).
    void StartWakeSummary(const QStringList& itemIDs);
    void WakeEnded(const QString& itemID, const QString& name, bool sent, const QString& reason);
    void WakeResult(const QString& itemID, const QString& message, int result, int seconds);
    void TellWakeOutcome(const QString& itemID, const QString& message, int summaryState, int seconds = 0);

    QString FFileName;
    TOpenMode FMode;
    std::unique_ptr<TOstrelDatabase> FDatabase;
    std::unique_ptr<TGroup> FRoot;
    // Numbers are never handed back, so those handed out are always 1 to FPingSequences.
    quint16 FPingSequences = 0;
    TSaveState FState = ssSaved;
    bool FFailureReported = false;
    QString FLastError;
    QString FLastReason;
    QTimer FResultTimer;
    QTimer FStaleTimer;
    QElapsedTimer FSinceSave;
    bool FClosed = false;
    // While several changes of one command are made: they are saved together at its end.
    bool FBatch = false;
    bool FBatchChanged = false;
    // The computers whose check started by Open has not reported yet.
    std::unordered_set<const TComputer*> FLoadChecks;
    QTimer FLoadChecksTimer;
    QElapsedTimer FLastLoadReport;
    bool FLoadChecksEnded = false;
    // A save of this run has written the file.
    bool FWroteFile = false;
    class TSaveWriter;
    std::unique_ptr<TSaveWriter> FWriter;
    std::shared_ptr<TSaveOutcome> FInFlight;
    bool FSaveAgain = false;
    // The copy for the save in FInFlight while it is taken, a slice at a time between the window's
    // events: at 65,535 computers a copy taken at once held the window for 25 to 50 ms.
    struct TSnapshotInProgress;
    std::unique_ptr<TSnapshotInProgress> FSnapshot;
    QTimer FSnapshotTimer;
    int FSnapshotSliceMs = SnapshotSliceMs;
    std::unique_ptr<TRecheckSchedule> FRechecks;
    std::unique_ptr<TWakeWatch> FWakeWatch;
    std::unique_ptr<TWakeSummary> FWakeSummary;
    bool FUnavailableReported = false;
    std::unique_ptr<TScheduleClock> FScheduleClock;
    int FScheduleWakeDelay = 0;
    QStringList FScheduled; // while FireDueSchedules runs
    QSet<const TComputer*> FScheduledSeen;
    // The firings whose packets have not all left, by their owner: a computer's ItemIDKey, or the empty
    // text for the group.
    struct TFiring
    {
        TDateTime When = 0;
        QSet<QString> Waiting; // ItemIDKeys
        bool Unsent = false;   // a packet that could have left did not
    };
    QHash<QString, TFiring> FFirings;
    QHash<QString, QString> FRelayReports; // the failure last told of each relay
};
