#include "model/openDatabase.h"

#include "core/dateTime.h"
#include "core/mainThread.h"
#include "core/texts.h"
#include "model/compoundFile.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/statusWatch.h"
#include "model/wakeSummary.h"
#include "timing/scheduleClock.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <QFileInfo>
#include <QPointer>
#include <thread>
#include <unordered_set>

// One thread that writes the saves of an open database, one at a time, in the order they were asked.
class TOpenDatabase::TSaveWriter
{
public:
    TSaveWriter() : FThread([this] { Loop(); }) {}
    // Writes what is queued, then ends the thread.
    ~TSaveWriter()
    {
        {
            std::lock_guard<std::mutex> guard(FLock);
            FStop = true;
        }
        FChanged.notify_all();
        FThread.join();
    }
    TSaveWriter(const TSaveWriter&) = delete;
    TSaveWriter& operator=(const TSaveWriter&) = delete;

    void Run(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> guard(FLock);
            FJobs.push_back(std::move(job));
        }
        FChanged.notify_all();
    }

    // Until every job asked for has ended.
    void Wait()
    {
        std::unique_lock<std::mutex> guard(FLock);
        FChanged.wait(guard, [this] { return FJobs.empty() && !FBusy; });
    }

private:
    void Loop()
    {
        std::unique_lock<std::mutex> guard(FLock);
        for (;;) {
            FChanged.wait(guard, [this] { return FStop || !FJobs.empty(); });
            if (FJobs.empty())
                return;
            std::function<void()> job = std::move(FJobs.front());
            FJobs.pop_front();
            FBusy = true;
            guard.unlock();
            job();
            job = nullptr; // what the job holds (the snapshot) is freed here too
            guard.lock();
            FBusy = false;
            FChanged.notify_all();
        }
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::function<void()>> FJobs;
    bool FBusy = false;
    bool FStop = false;
    std::thread FThread;
};

// What a background save wrote: filled on the writer's thread, read on the database's.
struct TOpenDatabase::TSaveOutcome
{
    bool Ok = false;
    QString Error;
};

struct TOpenDatabase::TSnapshotInProgress
{
    std::unique_ptr<TGroup> Copy;
    int Next = 0;
    quint64 Layout = 0;
};

TOpenDatabase::TOpenDatabase(const QString& fileName, TOpenMode mode, QObject* parent)
    : QObject(parent), FFileName(fileName), FMode(mode)
{
    qRegisterMetaType<TComputer*>();
    FResultTimer.setSingleShot(true);
    // A coarse timer may fire early, and then two saves would come less than the interval apart.
    FResultTimer.setTimerType(Qt::PreciseTimer);
    FStaleTimer.setSingleShot(true);
    FStaleTimer.setInterval(StaleSaveInterval);
    connect(&FResultTimer, &QTimer::timeout, this, [this] { SaveDue(); });
    connect(&FStaleTimer, &QTimer::timeout, this, [this] { SaveDue(); });
    FSnapshotTimer.setSingleShot(true);
    FSnapshotTimer.setInterval(0);
    connect(&FSnapshotTimer, &QTimer::timeout, this, [this] { ContinueSnapshot(); });
    FLoadChecksTimer.setSingleShot(true);
    connect(&FLoadChecksTimer, &QTimer::timeout, this, [this] {
        // Restarted by no report (that would cost a timer call per computer): it looks at the last one.
        const qint64 quiet = FLastLoadReport.isValid() ? FLastLoadReport.elapsed() : LoadChecksQuietTime;
        if (quiet >= LoadChecksQuietTime)
            LoadChecksDone();
        else
            FLoadChecksTimer.start(int(LoadChecksQuietTime - quiet));
    });

    // Only one check of a computer at a time; a computer that is gone counts as busy, so it is skipped.
    TCheckHooks hooks;
    hooks.CheckNow = [this](const QString& id) {
        // Its own sequence number again: handing out new ones would exhaust them in a few hours.
        if (TComputer* computer = FRoot ? FRoot->FindComputer(id) : nullptr)
            computer->CheckOnline();
    };
    hooks.IsChecking = [this](const QString& id) {
        const TComputer* computer = FRoot ? FRoot->FindComputer(id) : nullptr;
        return !computer || computer->RunningCheck() != nullptr;
    };
    FRechecks = std::make_unique<TRecheckSchedule>(hooks, [this] { return RecheckRound(); });
    FWakeWatch = std::make_unique<TWakeWatch>(
        hooks, [this](const QString&, const QString& message) { emit StatusMessage(message); });
    FWakeSummary = std::make_unique<TWakeSummary>();
    FWakeWatch->SetOnResult([this](const QString& id, const QString& message, TWakeWatch::TWakeResult result,
                                   int seconds) { WakeResult(id, message, result, seconds); });
}

TOpenDatabase::~TOpenDatabase()
{
    Close();
}

void TOpenDatabase::Open()
{
    FDatabase = std::make_unique<TOstrelDatabase>();
    FDatabase->FileName = FFileName;
    FDatabase->ReadOnly = FMode == omReadOnly;
    FDatabase->WithBackup = FMode == omWindow;
    FDatabase->ReadOnlyIfRefused = FMode == omChecks;
    if (FMode != omReadOnly && !QFileInfo::exists(FFileName)) {
        FDatabase->CreateNew();
        // The group written into the new file is not read back; the first save replaces it.
        FRoot = std::make_unique<TGroup>();
        FRoot->Storage = FDatabase->DataStorage;
        HookRoot();
        return;
    }
    // A file that yields no root group raises, and is left as it is. The window's check of a computer
    // begins as the computer is read, and the backup copy is written after the load: the checks' pause
    // runs meanwhile (both cost 0.1 s or more at 65,535 computers), and no save comes before the copy.
    // Their workers are made once the record is read: made while it was read, they lay the computers out
    // in memory far apart, and every snapshot of a save took three times as long.
    std::vector<std::chrono::steady_clock::time_point> began;
    TItemRead noteRead;
    if (FMode == omWindow) {
        noteRead = [&began](TCollectionItem& item) {
            if (dynamic_cast<TComputer*>(&item))
                began.push_back(std::chrono::steady_clock::now());
        };
    }
    FRoot = ::LoadDatabase(*FDatabase, FMode == omWindow, noteRead);
    HookRoot();
    TComputers* computers = FRoot->Computers();
    if (FMode == omWindow) {
        FLoadChecks.reserve(size_t(computers->Count()));
        for (int i = 0; i < computers->Count(); ++i)
            FLoadChecks.insert(computers->Items(i));
        if (!FLoadChecks.empty()) {
            FLastLoadReport.start();
            FLoadChecksTimer.start(LoadChecksQuietTime);
        }
    }
    // Every check of the load is stamped with one reading of the clock: a reading per computer cost a
    // fifth of the time until 65,535 rows were shown.
    const TNowBatch batch;
    // The computers kept are the last ones read (a collection stored twice keeps its second).
    const size_t first = began.size() - std::min(began.size(), size_t(computers->Count()));
    for (int i = 0; i < computers->Count(); ++i) {
        if (FMode == omWindow)
            StartCheck(computers->Items(i), first + size_t(i) < began.size()
                                                ? began[first + size_t(i)]
                                                : std::chrono::steady_clock::time_point{});
        else
            computers->Items(i)->PingSequence = NextPingSequence();
    }
    if (FMode == omWindow) {
        try {
            FDatabase->FinishLoad();
            // The backup copy goes to the disk on the writer's thread now, before any save there.
            if (FWriter && FDatabase->RootStorage)
                FWriter->Run([root = FDatabase->RootStorage] { root->FlushPending(); });
        } catch (...) {
            // Not opened after all: the checks end with their computers, and nothing is saved.
            FLoadChecksTimer.stop();
            FLoadChecks.clear();
            UnhookRoot();
            FRoot.reset();
            throw;
        }
    }
}

bool TOpenDatabase::IsOpen() const
{
    return FDatabase && FDatabase->RootStorage;
}

bool TOpenDatabase::Close(QString* error)
{
    if (error)
        error->clear();
    if (FClosed)
        return true;
    FClosed = true;
    FResultTimer.stop();
    FStaleTimer.stop();
    FLoadChecksTimer.stop();
    FLoadChecks.clear();
    FRechecks->Stop();
    if (FScheduleClock)
        FScheduleClock->Stop();
    FWakeWatch->Clear();
    bool saved = true;
    if (FRoot) {
        // Whatever the file lacks is written before the database is closed.
        saved = SaveNow();
        if (!saved && error)
            *error = FLastError;
        // Every save writes a whole, compact file: one written by this run needs no compaction.
        if (saved && FDatabase && FWroteFile)
            FDatabase->CompactAtClose = false;
        UnhookRoot();
        // No reference to the database's storage may be left when the file is closed.
        FRoot.reset();
    }
    FWriter.reset();
    if (!saved && FDatabase)
        FDatabase->ReleaseKeepingBackup();
    FDatabase.reset();
    return saved;
}

quint16 TOpenDatabase::NextPingSequence()
{
    // Handed out in order, 1 to 65535. Once every number is taken the search wraps round to 0, which
    // is never used, so from then on every computer gets 1.
    if (FPingSequences == 65535)
        return 1;
    return ++FPingSequences;
}

TComputer* TOpenDatabase::AddComputer()
{
    return FRoot ? FRoot->Computers()->Add() : nullptr;
}

void TOpenDatabase::StartCheck(TComputer* computer, std::chrono::steady_clock::time_point began)
{
    computer->PingSequence = NextPingSequence();
    if (FMode != omReadOnly)
        computer->CheckOnline(began);
}

bool TOpenDatabase::DeleteComputer(const QString& itemID)
{
    TComputer* computer = FRoot ? FRoot->FindComputer(itemID) : nullptr;
    if (!computer)
        return false;
    FWakeWatch->Forget(computer->ItemID());
    FWakeSummary->Remove(computer->ItemID());
    ForgetLoadCheck(computer);
    FRoot->Computers()->Delete(computer->Index());
    emit ComputersDeleted();
    return true;
}

void TOpenDatabase::DeleteComputers(const QStringList& itemIDs)
{
    FBatch = true;
    FBatchChanged = false;
    // One pass over the list per round. An identifier whose computer is already picked (a duplicate)
    // waits for the next round, so it finds the next computer of that identifier, as deleting them one
    // by one would.
    QStringList round = itemIDs;
    while (FRoot && !round.isEmpty()) {
        std::unordered_set<const TComputer*> doomed;
        QStringList later;
        for (const QString& id : std::as_const(round)) {
            const TComputer* computer = FRoot->FindComputer(id);
            if (!computer)
                continue;
            if (doomed.insert(computer).second) {
                FWakeWatch->Forget(computer->ItemID());
                FWakeSummary->Remove(computer->ItemID());
            } else
                later.append(id);
        }
        for (const TComputer* computer : doomed)
            ForgetLoadCheck(computer);
        FRoot->Computers()->Delete(doomed);
        round = later;
    }
    FBatch = false;
    if (FBatchChanged)
        Save();
    emit ComputersDeleted();
}

void TOpenDatabase::ChangeTogether(const std::function<void()>& change)
{
    FBatch = true;
    FBatchChanged = false;
    try {
        change();
    } catch (...) {
        FBatch = false;
        if (FBatchChanged)
            Save();
        throw;
    }
    FBatch = false;
    if (FBatchChanged)
        Save();
}

bool TOpenDatabase::SaveNow()
{
    WaitForWriter();
    if (FState == ssSaved)
        return true;
    return SaveHere();
}

void TOpenDatabase::SetBackgroundSaves(bool value)
{
    if (value && !FWriter)
        FWriter = std::make_unique<TSaveWriter>();
    else if (!value && FWriter) {
        WaitForWriter();
        FWriter.reset();
    }
}

void TOpenDatabase::SaveDue()
{
    if (FState != ssSaved)
        Save();
}

void TOpenDatabase::Retry()
{
    if (FState == ssFailed)
        Save();
}

void TOpenDatabase::StartRechecks(int intervalMs)
{
    if (FMode == omReadOnly)
        return;
    FRechecks->SetInterval(intervalMs);
    FRechecks->Start();
}

void TOpenDatabase::Refresh(const QStringList& itemIDs)
{
    if (FMode == omReadOnly)
        return;
    FRechecks->CheckNow(itemIDs.isEmpty() ? AllItemIDs() : itemIDs);
}

int TOpenDatabase::Wake(const QStringList& itemIDs, int delay,
                        std::function<void(const QString& itemID, bool sent)> sent, int port)
{
    if (!FRoot)
        return 0;
    int started = 0;
    QStringList woken;
    for (const QString& id : itemIDs) {
        const TComputer* computer = FRoot->FindComputer(id);
        if (!computer)
            continue;
        const QString name = computer->Name().isEmpty() ? computer->IPAddress : computer->Name();
        QPointer<TOpenDatabase> self(this);
        FRoot->WakeComputerByID(
            id, delay,
            [self, sent, id, name](bool ok, const QString& reason) {
                if (sent)
                    sent(id, ok);
                if (self)
                    self->WakeEnded(id, name, ok, reason);
            },
            [self, name](const QString& destination) {
                if (self)
                    emit self->StatusMessage(Res::Str(Res::WakeOffLink).arg(name, destination));
            },
            [self, id](const QString& reason) {
                if (self)
                    emit self->RelayFailed(id, reason);
            },
            port);
        ++started;
        woken.append(computer->ItemID());
        if (FMode != omReadOnly)
            FWakeWatch->Watch(computer->ItemID(), name, delay * 1000);
    }
    StartWakeSummary(woken);
    return started;
}

void TOpenDatabase::SetStaleSaveInterval(int ms)
{
    FStaleTimer.setInterval(qMax(1, ms));
}

QStringList TOpenDatabase::AllItemIDs() const
{
    QStringList ids;
    if (!FRoot)
        return ids;
    const TComputers* computers = FRoot->Computers();
    ids.reserve(computers->Count());
    for (int i = 0; i < computers->Count(); ++i)
        ids.append(computers->Items(i)->ItemID());
    return ids;
}

TRecheckRound TOpenDatabase::RecheckRound() const
{
    TRecheckRound round;
    if (!FRoot)
        return round;
    // A relay checks all its computers in one exchange; spreading them over the round would cost one
    // exchange per tick instead of one per round.
    const TComputers* computers = FRoot->Computers();
    round.Spread.reserve(computers->Count());
    for (int i = 0; i < computers->Count(); ++i) {
        const TComputer* computer = computers->Items(i);
        (computer->RelayName.isEmpty() ? round.Spread : round.Batched).append(computer->ItemID());
    }
    return round;
}

void TOpenDatabase::HookRoot()
{
    FRoot->OnUpdate.Set(this, [this](TObject* sender) { OnGroupUpdate(sender); });
    // A check's result waits for the coalesced save; one that only brought a new date for the stale one.
    FRoot->OnCheckCompleted.Set(this, [this](TObject*, TCheckChange change) {
        if (change == TCheckChange::Result)
            MarkResult();
        else
            MarkStale();
        if (FLoadChecksEnded)
            LoadChecksDone();
    });
    FRoot->OnSchedule.Set(this, [this](TObject*, const QString&, const QString&, const QString&) {
        CollectScheduled(FRoot->FanOutComputer());
    });
    FRoot->Computers()->OnItemUpdate.Set(this, [this](TObject* sender) { OnComputerUpdate(sender); });
}

void TOpenDatabase::UnhookRoot()
{
    FRoot->OnUpdate.Clear();
    FRoot->OnCheckCompleted.Clear();
    FRoot->OnSchedule.Clear();
    FRoot->Computers()->OnItemUpdate.Clear();
}

void TOpenDatabase::OnGroupUpdate(TObject* sender)
{
    if (!dynamic_cast<TGroup*>(sender) || sender != FRoot.get())
        return;
    // What the user changed is written at once, together with every result still waiting.
    if (FBatch)
        FBatchChanged = true;
    else
        Save();
}

void TOpenDatabase::OnComputerUpdate(TObject* sender)
{
    auto* computer = dynamic_cast<TComputer*>(sender);
    if (!computer)
        return;
    if (!FLoadChecks.empty() && FLoadChecks.erase(computer) != 0) {
        FLastLoadReport.restart();
        // Written once the report has marked the group (OnCheckCompleted follows this call).
        FLoadChecksEnded = FLoadChecks.empty();
    }
    // Without a socket of either kind no check can ever succeed: every computer would look simply
    // offline, so the user is told once what is wrong.
    const bool unavailable = computer->ChecksUnavailable;
    if (!FUnavailableReported && unavailable) {
        FUnavailableReported = true;
        emit StatusMessage(Res::Str(Res::ChecksUnavailable));
    }
    // A relay that cannot be asked is told once per relay and reason, not once per computer behind it.
    if (!computer->RelayName.isEmpty()) {
        QString& reported = FRelayReports[computer->RelayName];
        if (!computer->RelayFailed)
            reported.clear();
        else if (reported != computer->LastPingReply) {
            reported = computer->LastPingReply;
            emit StatusMessage(reported);
        }
    }
    // After that message: a wake-up's own report (which repeats it) is the one left in view.
    FWakeWatch->CheckCompleted(computer->ItemID(), computer->Online, !unavailable);
    emit ComputerUpdated(computer);
}

void TOpenDatabase::MarkResult()
{
    // After a failed save only a change of the user's or the periodic retry tries again: a disk that
    // is full is not written once a second.
    if (FState == ssFailed || FState == ssChanged)
        return;
    FState = ssChanged;
    if (!FLoadChecks.empty())
        return; // written with the rest of the load's checks
    // Results come in bursts: wait a moment for the rest of one, and the interval after the last save.
    const qint64 sinceSave = FSinceSave.isValid() ? FSinceSave.elapsed() : ResultSaveInterval;
    const qint64 wait =
        std::clamp<qint64>(ResultSaveInterval - sinceSave, ResultGatherDelay, ResultSaveInterval);
    FResultTimer.start(int(wait));
}

void TOpenDatabase::MarkStale()
{
    if (FState != ssSaved)
        return; // a save is due anyway and writes the new dates too
    FState = ssStale;
    FStaleTimer.start();
}

void TOpenDatabase::ForgetLoadCheck(const TComputer* computer)
{
    if (FLoadChecks.erase(computer) != 0 && FLoadChecks.empty())
        QTimer::singleShot(0, this, [this] { LoadChecksDone(); });
}

void TOpenDatabase::LoadChecksDone()
{
    FLoadChecksEnded = false;
    FLoadChecks.clear();
    FLoadChecksTimer.stop();
    // Deferred, so that whoever reported last sees the group changed, not yet written.
    if (FState == ssChanged && !FClosed)
        FResultTimer.start(0);
}

bool TOpenDatabase::Save()
{
    if (FWriter && !FClosed) {
        SaveInBackground();
        return FState != ssFailed;
    }
    return SaveHere();
}

bool TOpenDatabase::SaveHere()
{
    WaitForWriter();
    FResultTimer.stop();
    FStaleTimer.stop();
    FSinceSave.restart();
    if (!FRoot)
        return false;
    if (FDatabase && FDatabase->WriteRefused != StgResult::Ok) {
        SaveFailedWith(TOstrelDatabase::StorageErrorText(FDatabase->WriteRefused));
        return false;
    }
    QString error;
    if (SaveGroup(*FRoot, &error)) {
        SaveSucceeded();
        return true;
    }
    SaveFailedWith(error);
    return false;
}

void TOpenDatabase::SaveInBackground()
{
    FResultTimer.stop();
    FStaleTimer.stop();
    if (!FRoot)
        return;
    if (FInFlight) {
        // Written as soon as the save being written has ended.
        FSaveAgain = true;
        if (FState == ssSaved || FState == ssStale)
            FState = ssChanged;
        return;
    }
    FSinceSave.restart();
    FSaveAgain = false;
    FInFlight = std::make_shared<TSaveOutcome>();
    // Everything up to now goes into the copy: saved unless the write fails. A change made meanwhile
    // marks again, so one the copy has already passed is written by the next save.
    FState = ssSaved;
    FSnapshot = std::make_unique<TSnapshotInProgress>();
    FSnapshot->Copy = FRoot->SnapshotHead();
    FSnapshot->Layout = FRoot->Computers()->Layout();
    ContinueSnapshot();
}

void TOpenDatabase::ContinueSnapshot()
{
    if (!FSnapshot || !FRoot)
        return;
    const TComputers* computers = FRoot->Computers();
    const int count = computers->Count();
    if (computers->Layout() != FSnapshot->Layout) {
        // Computers came or went between two slices, so the places copied so far no longer match: the
        // copy is taken again, whole, so that a list that keeps changing cannot put the save off.
        FSnapshot->Copy = FRoot->Snapshot();
        FSnapshot->Next = count;
    }
    QElapsedTimer slice;
    slice.start();
    while (FSnapshot->Next < count) {
        const int to = std::min(count, FSnapshot->Next + SnapshotStep);
        FRoot->SnapshotComputers(*FSnapshot->Copy, FSnapshot->Next, to);
        FSnapshot->Next = to;
        if (to < count && slice.elapsed() >= FSnapshotSliceMs) {
            FSnapshotTimer.start();
            return;
        }
    }
    std::shared_ptr<TGroup> snapshot = std::move(FSnapshot->Copy);
    FSnapshot.reset();
    std::shared_ptr<TSaveOutcome> outcome = FInFlight;
    QPointer<TOpenDatabase> self(this);
    FWriter->Run([self, outcome, snapshot]() mutable {
        outcome->Ok = SaveGroup(*snapshot, &outcome->Error);
        snapshot.reset();
        RunOnMainThread([self, outcome] {
            if (self)
                self->SaveEnded(outcome);
        });
    });
}

void TOpenDatabase::SaveEnded(std::shared_ptr<TSaveOutcome> outcome)
{
    if (outcome != FInFlight)
        return; // already taken in by WaitForWriter
    FInFlight.reset();
    if (outcome->Ok) {
        if (FState == ssSaved)
            SaveSucceeded();
        else
            FWroteFile = true;
    } else {
        SaveFailedWith(outcome->Error);
    }
    if (FSaveAgain && !FClosed) {
        FSaveAgain = false;
        Save();
    }
}

void TOpenDatabase::WaitForWriter()
{
    if (FSnapshot) {
        // The copy never reached the writer: the caller writes everything itself, or a later save does.
        FSnapshot.reset();
        FSnapshotTimer.stop();
        FInFlight.reset();
        FSaveAgain = false;
        if (FState == ssSaved || FState == ssStale)
            FState = ssChanged;
        FResultTimer.start(0);
    }
    if (!FWriter)
        return;
    // Also for the backup copy's flush, which a save on this thread must neither overlap nor precede.
    FWriter->Wait();
    if (!FInFlight)
        return;
    // The caller writes whatever came after the snapshot itself.
    FSaveAgain = false;
    SaveEnded(FInFlight);
}

void TOpenDatabase::SaveSucceeded()
{
    FState = ssSaved;
    FWroteFile = true;
    FFailureReported = false;
    FLastError.clear();
    FLastReason.clear();
    emit Saved();
}

void TOpenDatabase::SaveFailedWith(const QString& error)
{
    FState = ssFailed;
    FLastReason = error;
    // After a failure only a change of the user's or the periodic retry tries again.
    FResultTimer.stop();
    FStaleTimer.stop();
    FLastError = Res::Str(Res::DbSaveError).arg(FFileName, error);
    // Once until a save succeeds again: the user need not hear of every further attempt.
    if (!FFailureReported) {
        FFailureReported = true;
        emit SaveFailed(FLastError);
    }
}
