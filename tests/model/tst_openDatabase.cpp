// The open database without a window: loading, checks, when the file is written, failed saves, exit.
#include "core/exceptions.h"
#include "core/texts.h"
#include "core/worker.h"
#include "model/componentStream.h"
#include "model/compoundFile.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "model/statusWatch.h"
#include "support/isolatedNetwork.h"
#include "support/netns.h"

#include <cstdio>
#include <cstring>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes a database file with computers of these names and addresses, as an earlier run would have.
void WriteDatabase(const QString& file, const QList<QPair<QString, QString>>& computers)
{
    TOstrelDatabase db;
    db.FileName = file;
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (const auto& [name, ip] : computers) {
        TComputer* computer = group.Computers()->Add();
        computer->SetName(name);
        computer->IPAddress = ip;
    }
    QString error;
    QVERIFY2(SaveGroup(group, &error), qPrintable(error));
}

// The group the file holds now, read from a copy: the original may be open and locked.
std::unique_ptr<TGroup> ReadDatabase(const QString& file)
{
    QTemporaryDir dir;
    TOstrelDatabase db;
    db.FileName = dir.path() + QStringLiteral("/copy.ccn");
    if (!QFile::copy(file, db.FileName))
        return nullptr;
    return LoadDatabase(db);
}

QList<QPair<QString, QString>> Loopback(int count)
{
    QList<QPair<QString, QString>> computers;
    for (int i = 0; i < count; ++i)
        computers.append(
            {QStringLiteral("pc%1").arg(i), QStringLiteral("127.0.%1.%2").arg(i / 200).arg(1 + i % 200)});
    return computers;
}

// A LAN of this process's namespace (a bridge holding 10.31.0.1/24) and peers in namespaces of their own,
// so that one peer can take over another's address.
class TBridgeLan
{
public:
    // Names are never reused within a run: a link of a namespace just removed may linger a moment.
    TBridgeLan() : FBridge(QStringLiteral("lbr%1x%2").arg(getpid() % 100000).arg(FLans++))
    {
        FOk = RunCommand("ip", {"link", "add", "name", FBridge, "type", "bridge"}) == 0 &&
              RunCommand("ip", {"addr", "add", "10.31.0.1/24", "dev", FBridge}) == 0 &&
              RunCommand("ip", {"link", "set", FBridge, "up"}) == 0;
    }
    ~TBridgeLan() { RunCommand("ip", {"link", "del", FBridge}); }
    bool Ok() const { return FOk; }
    const QString& Bridge() const { return FBridge; }

    // Joins the peer to the LAN as interface "lan" with the address (CIDR, empty for none); its MAC in the
    // stored form, empty on failure.
    QString Join(const TTestNamespace& peer, const QString& address)
    {
        const QString outer = QStringLiteral("lp%1p%2").arg(FBridge.mid(3)).arg(FPorts++);
        if (RunCommand("ip", {"link", "add", outer, "type", "veth", "peer", "name", "lan", "netns",
                              peer.Name()}) != 0 ||
            RunCommand("ip", {"link", "set", outer, "master", FBridge, "up"}) != 0 ||
            peer.Exec({"ip", "link", "set", "lan", "up"}) != 0 ||
            (!address.isEmpty() && peer.Exec({"ip", "addr", "add", address, "dev", "lan"}) != 0))
            return {};
        QString mac;
        peer.Exec({"cat", "/sys/class/net/lan/address"}, &mac);
        return mac.trimmed().toUpper().replace(QLatin1Char(':'), QLatin1Char('-'));
    }

private:
    QString FBridge;
    int FPorts = 0;
    bool FOk = false;
    static inline int FLans = 0;
};

const char* UnavailableArgument = "--checks-unavailable";

// The child of checksUnavailableToldOnce, run without privileges: opens the file and prints every status
// message until the checks of its two computers have ended.
int ChecksUnavailableChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TOpenDatabase db(QString::fromLocal8Bit(argv[2]));
    QObject::connect(&db, &TOpenDatabase::StatusMessage, [](const QString& message) {
        std::printf("%s\n", qPrintable(message));
        std::fflush(stdout);
    });
    int updates = 0;
    QObject::connect(&db, &TOpenDatabase::ComputerUpdated, [&] {
        if (++updates == 2)
            QTimer::singleShot(300, &app, &QCoreApplication::quit);
    });
    db.Open();
    QTimer::singleShot(15000, &app, &QCoreApplication::quit);
    app.exec();
    return db.Close() && updates == 2 ? 0 : 1;
}

} // namespace

class TestOpenDatabase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstStartCreates();
    void unreadableFiles_data();
    void unreadableFiles();
    void checkResultsCoalesce();
    void unchangedResultWaitsForExit();
    void failedSaveIsRetried();
    void backgroundSavesLoseNothing();
    void saveCopiedInSlices();
    void pingSequences();
    void deleteFreesNoSequenceNumber();
    void closeWhileManyChecksComplete();
    void loadedSchedulesFireOnceAndSaveOnce();
    void liveStatusFollowsPeers();
    void wakeWatchReports();
    void checksUnavailableToldOnce_data();
    void checksUnavailableToldOnce();

private:
    bool FIsolated = false;
    QString File() const { return FDir->path() + QStringLiteral("/network.ccn"); }
    std::unique_ptr<QTemporaryDir> FDir;
};

void TestOpenDatabase::initTestCase()
{
    // Peers live in namespaces; this process's end of their LAN must not land in the machine's own.
    FIsolated = TTestNamespace::Available() && IsolateNetwork();
}

void TestOpenDatabase::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestOpenDatabase::cleanup()
{
    FDir.reset();
    // Checks still running belong to computers that are gone; let them end before the next test.
    QTRY_VERIFY_WITH_TIMEOUT(TWorkerThread::LiveCount() == 0, 15000);
}

void TestOpenDatabase::firstStartCreates()
{
    {
        TOpenDatabase db(File());
        db.Open();
        QVERIFY(QFile::exists(File()));
        QVERIFY(db.Root());
        QCOMPARE(db.Root()->Name, QString());
        QVERIFY(!db.Root()->IsRoot);
        QCOMPARE(db.SaveState(), TOpenDatabase::ssSaved);
        QString error;
        QVERIFY(db.Close(&error));
        QVERIFY(error.isEmpty());
        QVERIFY(!db.Root());
    }
    // After an orderly close only the database is left.
    QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList{"network.ccn"});
    auto root = ReadDatabase(File());
    QVERIFY(root);
    QCOMPARE(root->Computers()->Count(), 0);
}

void TestOpenDatabase::unreadableFiles_data()
{
    QTest::addColumn<QString>("kind");
    const QString notOpened = QStringLiteral("Unable to open the database \"%1\"!\r\n");
    QTest::addColumn<QString>("message");
    QTest::newRow("locked by another instance") << "locked" << notOpened;
    QTest::newRow("not a compound file") << "garbage" << notOpened;
    // The load's checks begin as their computers are read, and the backup copy is written after them:
    // either failing, the checks end with their computers and nothing is saved.
    QTest::newRow("no backup copy") << "backup" << Res::Str(Res::DbTempError).arg(std::strerror(EISDIR));
    QTest::newRow("damaged after its computers")
        << "tail" << QStringLiteral("Unable to read the database \"%1\"! The file was left untouched.\r\n");
}

void TestOpenDatabase::unreadableFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    std::unique_ptr<TOpenDatabase> first;
    if (kind == "locked") {
        WriteDatabase(File(), {{"kept", ""}});
        first = std::make_unique<TOpenDatabase>(File());
        first->Open();
    } else if (kind == "tail") {
        TGroup group;
        for (const auto& [name, ip] : Loopback(3)) {
            TComputer* computer = group.Computers()->Add();
            computer->SetName(name);
            computer->IPAddress = ip;
        }
        QByteArray record = WriteComponent(group);
        record.chop(1); // the group's end marker
        record.append('\x7F');
        std::shared_ptr<TStorage> root;
        std::shared_ptr<TStorage> storage;
        QCOMPARE(TStorage::Create(File(), root), StgResult::Ok);
        QCOMPARE(root->CreateStorage(QStringLiteral("DBROOT"), storage), StgResult::Ok);
        QCOMPARE(storage->WriteStream(QStringLiteral("DATA"), record), StgResult::Ok);
    } else if (kind == "backup") {
        WriteDatabase(File(), Loopback(3));
        // A non-empty directory where the copy belongs can neither be removed nor replaced.
        QVERIFY(QDir(FDir->path()).mkpath(QStringLiteral("network.~ccn/inside")));
    } else {
        QFile file(File());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("This is not a database.\n");
    }
    TOpenDatabase db(File());
    try {
        db.Open();
        QFAIL("no error raised");
    } catch (const EOstrelException& e) {
        QVERIFY2(ExceptionMessage(e).startsWith(message.arg(File())), qPrintable(ExceptionMessage(e)));
    }
    QVERIFY(!db.Root());
    QVERIFY(!db.AddComputer());
    auto bytes = [this] {
        QFile file(File());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    QVERIFY(db.Close());
    QCOMPARE(bytes(), before);
    if (first) {
        QCOMPARE(first->Root()->Computers()->Count(), 1);
        QVERIFY(first->Close());
        QCOMPARE(ReadDatabase(File())->Computers()->Count(), 1);
    }
}

void TestOpenDatabase::checkResultsCoalesce()
{
    const int count = 40;
    WriteDatabase(File(), Loopback(count));
    TOpenDatabase db(File());
    db.Open();
    TGroup* root = db.Root();
    QVERIFY(root);
    for (int i = 0; i < count; ++i)
        QVERIFY(root->Computers()->Items(i)->RunningCheck());

    // What the database's own answer to each notice left behind: a check's report waits for the timer.
    QList<TOpenDatabase::TSaveState> afterNotice;
    TCheckEvent completed = root->OnCheckCompleted;
    root->OnCheckCompleted.Set(this, [&, completed](TObject* sender, TCheckChange change) {
        completed(sender, change);
        afterNotice.append(db.SaveState());
    });
    QSignalSpy updated(&db, &TOpenDatabase::ComputerUpdated);
    QList<qint64> saves;
    QElapsedTimer clock;
    clock.start();
    connect(&db, &TOpenDatabase::Saved, this, [&] { saves.append(clock.elapsed()); });

    QTRY_COMPARE_WITH_TIMEOUT(updated.size(), count, 15000);
    QCOMPARE(afterNotice.size(), count);
    QVERIFY(!afterNotice.contains(TOpenDatabase::ssSaved));
    // Every result of the load's checks reaches the file soon after, in one write.
    QTRY_COMPARE_WITH_TIMEOUT(db.SaveState(), TOpenDatabase::ssSaved, 3000);
    QCOMPARE(saves.size(), 1);
    // Measured when each save has ended, which a slow disk may delay: a margin below the second.
    for (qsizetype i = 1; i < saves.size(); ++i)
        QVERIFY2(saves[i] - saves[i - 1] >= 800, qPrintable(QString::number(saves[i] - saves[i - 1])));
    auto stored = ReadDatabase(File());
    for (int i = 0; i < count; ++i) {
        QVERIFY(stored->Computers()->Items(i)->Online);
        QCOMPARE(stored->Computers()->Items(i)->LastPingReply, root->Computers()->Items(i)->LastPingReply);
    }

    // A change of the user's is written at once.
    root->Computers()->Items(0)->SetName(QStringLiteral("renamed"));
    root->Computers()->Items(0)->NotifyUpdate();
    QCOMPARE(db.SaveState(), TOpenDatabase::ssSaved);
    QCOMPARE(ReadDatabase(File())->Computers()->Items(0)->Name(), QStringLiteral("renamed"));
}

void TestOpenDatabase::unchangedResultWaitsForExit()
{
    // Without an address a check fails at once, with the same text every time.
    WriteDatabase(File(), {{"nowhere", ""}});
    for (int run = 0; run < 2; ++run) {
        TOpenDatabase db(File());
        db.Open();
        TGroup* root = db.Root();
        QList<TOpenDatabase::TSaveState> afterNotice;
        TCheckEvent completed = root->OnCheckCompleted;
        root->OnCheckCompleted.Set(this, [&, completed](TObject* sender, TCheckChange change) {
            completed(sender, change);
            afterNotice.append(db.SaveState());
        });
        QTRY_COMPARE_WITH_TIMEOUT(afterNotice.size(), 1, 5000);
        const TComputer* computer = root->Computers()->Items(0);
        QVERIFY(!computer->LastPingReply.isEmpty());
        const TDateTime checked = computer->LastPingDate;
        // The second run's result equals the stored one: only its date is new, and that may wait.
        QCOMPARE(afterNotice.first(), run == 0 ? TOpenDatabase::ssChanged : TOpenDatabase::ssStale);
        QTest::qWait(TOpenDatabase::ResultSaveInterval + 200);
        QCOMPARE(db.SaveState(), run == 0 ? TOpenDatabase::ssSaved : TOpenDatabase::ssStale);
        QVERIFY(db.Close());
        QCOMPARE(ReadDatabase(File())->Computers()->Items(0)->LastPingDate, checked);
    }
}

void TestOpenDatabase::failedSaveIsRetried()
{
    const QString program = FDir->path() + "/program";
    const QString moved = FDir->path() + "/moved";
    const QString file = program + "/network.ccn";
    QVERIFY(QDir().mkpath(program));
    TOpenDatabase db(file);
    db.Open();
    QSignalSpy failed(&db, &TOpenDatabase::SaveFailed);

    // Without its folder the file can't be replaced: told once, and the changes stay unsaved.
    QVERIFY(QDir().rename(program, moved));
    db.AddComputer()->SetName(QStringLiteral("first"));
    db.AddComputer()->SetName(QStringLiteral("second"));
    QCOMPARE(failed.size(), 1);
    const QString text = failed.first().first().toString();
    QVERIFY2(text.startsWith("Unable to save the database \"" + file + "\"!\r\n") &&
                 text.size() >
                     QStringLiteral("Unable to save the database \"\"!\r\n").size() + file.size() + 5,
             qPrintable(text));
    QCOMPARE(db.SaveState(), TOpenDatabase::ssFailed);

    // The periodic retry writes what the failed saves could not.
    QVERIFY(QDir().rename(moved, program));
    db.Retry();
    QCOMPARE(db.SaveState(), TOpenDatabase::ssSaved);
    auto stored = ReadDatabase(file);
    QCOMPARE(stored->Computers()->Count(), 2);
    QCOMPARE(stored->Computers()->Items(1)->Name(), QStringLiteral("second"));

    // A failure after a good save is told again; the exit saves first and says when that fails too.
    QVERIFY(QDir().rename(program, moved));
    db.AddComputer();
    QCOMPARE(failed.size(), 2);
    QString error;
    QVERIFY(!db.Close(&error));
    QVERIFY2(error.startsWith("Unable to save the database \"" + file + "\"!\r\n"), qPrintable(error));
    QVERIFY(QDir().rename(moved, program));
    QCOMPARE(ReadDatabase(file)->Computers()->Count(), 2);

    // And an exit whose save succeeds keeps the computer that the failed save had lost.
    TOpenDatabase again(file);
    again.Open();
    QVERIFY(QDir().rename(program, moved));
    again.AddComputer()->SetName(QStringLiteral("third"));
    QCOMPARE(again.SaveState(), TOpenDatabase::ssFailed);
    QVERIFY(QDir().rename(moved, program));
    QVERIFY(again.Close());
    QCOMPARE(ReadDatabase(file)->Computers()->Count(), 3);
}

void TestOpenDatabase::backgroundSavesLoseNothing()
{
    const QString program = FDir->path() + "/program";
    const QString moved = FDir->path() + "/moved";
    const QString file = program + "/network.ccn";
    QVERIFY(QDir().mkpath(program));
    TOpenDatabase db(file);
    db.SetBackgroundSaves(true);
    db.Open();
    QSignalSpy saved(&db, &TOpenDatabase::Saved);
    QSignalSpy failed(&db, &TOpenDatabase::SaveFailed);
    // Changes made while a save is being written follow it in one more save.
    for (int i = 0; i < 20; ++i) {
        TComputer* computer = db.AddComputer();
        computer->SetName(QStringLiteral("pc%1").arg(i));
        computer->NotifyUpdate();
    }
    QVERIFY(db.Saving());
    QTRY_VERIFY(!db.Saving() && db.SaveState() == TOpenDatabase::ssSaved);
    QCOMPARE(saved.size(), 1);
    auto stored = ReadDatabase(file);
    QCOMPARE(stored->Computers()->Count(), 20);
    QCOMPARE(stored->Computers()->Items(19)->Name(), QStringLiteral("pc19"));

    // A failed write is told once, and the retry writes what it lacked.
    QVERIFY(QDir().rename(program, moved));
    db.AddComputer();
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(db.SaveState(), TOpenDatabase::ssFailed);
    QVERIFY(QDir().rename(moved, program));
    db.Retry();
    QTRY_VERIFY(!db.Saving() && db.SaveState() == TOpenDatabase::ssSaved);

    // The exit finds the file written whole by this run: it is not rewritten by a compaction.
    struct stat before, after;
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &before), 0);
    QVERIFY(db.Close());
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(ReadDatabase(file)->Computers()->Count(), 21);
}

void TestOpenDatabase::saveCopiedInSlices()
{
    // A save's copy is taken a step at a time between events. A computer changed after the copy passed it
    // is written by the next save; an exit before the copy is whole writes everything itself; when
    // computers come or go between two steps the copy is taken again, whole.
    constexpr int Count = 3 * TOpenDatabase::SnapshotStep;
    auto db = std::make_unique<TOpenDatabase>(File(), TOpenDatabase::omReadWrite);
    db->SetBackgroundSaves(true);
    db->SetSnapshotSlice(0);
    db->Open();
    QSignalSpy failed(db.get(), &TOpenDatabase::SaveFailed);
    TComputers* computers = db->Root()->Computers();
    db->ChangeTogether([&] {
        for (int i = 0; i < Count; ++i)
            db->AddComputer()->SetName(QStringLiteral("pc%1").arg(i));
    });
    QVERIFY(db->Saving());
    computers->Items(0)->SetName(QStringLiteral("renamed"));
    computers->Items(0)->NotifyUpdate();
    QTRY_VERIFY(!db->Saving() && db->SaveState() == TOpenDatabase::ssSaved);
    auto stored = ReadDatabase(File());
    QCOMPARE(stored->Computers()->Count(), Count);
    QCOMPARE(stored->Computers()->Items(0)->Name(), QStringLiteral("renamed"));
    QCOMPARE(stored->Computers()->Items(Count - 1)->Name(), QStringLiteral("pc%1").arg(Count - 1));

    computers->Items(1)->SetName(QStringLiteral("last"));
    computers->Items(1)->NotifyUpdate();
    QVERIFY(db->Saving());
    QVERIFY(db->Close());
    QCOMPARE(failed.size(), 0);
    QCOMPARE(ReadDatabase(File())->Computers()->Items(1)->Name(), QStringLiteral("last"));

    // The list replaced between two steps without a word (as no command does): the save holds the new one.
    db = std::make_unique<TOpenDatabase>(File(), TOpenDatabase::omReadWrite);
    db->SetBackgroundSaves(true);
    db->SetSnapshotSlice(0);
    db->Open();
    computers = db->Root()->Computers();
    computers->Items(2)->NotifyUpdate();
    QVERIFY(db->Saving());
    computers->Clear();
    for (int i = 0; i < 3; ++i)
        static_cast<TComputer*>(computers->AddItem())->SetName(QStringLiteral("new%1").arg(i));
    QTRY_VERIFY(!db->Saving());
    stored = ReadDatabase(File());
    QCOMPARE(stored->Computers()->Count(), 3);
    QCOMPARE(stored->Computers()->Items(2)->Name(), QStringLiteral("new2"));
}

void TestOpenDatabase::pingSequences()
{
    TOpenDatabase db(File());
    // The smallest positive number not yet handed out; none is handed back. When every 16-bit number
    // is taken, the search wraps to 0, which becomes 1, and stays there.
    for (int expected = 1; expected <= 65535; ++expected) {
        const quint16 got = db.NextPingSequence();
        if (got != expected)
            QFAIL(qPrintable(QStringLiteral("call %1 gave %2").arg(expected).arg(got)));
    }
    QCOMPARE(db.NextPingSequence(), quint16(1));
    QCOMPARE(db.NextPingSequence(), quint16(1));
}

void TestOpenDatabase::deleteFreesNoSequenceNumber()
{
    WriteDatabase(File(), {{"a", ""}, {"b", ""}, {"c", ""}});
    TOpenDatabase db(File());
    db.Open();
    TComputers* computers = db.Root()->Computers();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(computers->Items(i)->PingSequence, quint16(i + 1));
    QVERIFY(db.DeleteComputer(computers->Items(1)->ItemID()));
    QVERIFY(!db.DeleteComputer(QStringLiteral("{00000000-0000-0000-0000-000000000000}")));
    QCOMPARE(db.SaveState(), TOpenDatabase::ssSaved);
    TComputer* added = db.AddComputer();
    db.StartCheck(added);
    QCOMPARE(added->PingSequence, quint16(4));
    // Several deleted by one command are written once; an identifier given twice takes both computers
    // that carry it, as deleting them one by one would.
    added->SetItemID(computers->Items(0)->ItemID());
    const QString twin = added->ItemID();
    QSignalSpy saved(&db, &TOpenDatabase::Saved);
    db.DeleteComputers({twin, QStringLiteral("{unknown}"), twin});
    QCOMPARE(saved.size(), 1);
    QCOMPARE(computers->Count(), 1);
    QVERIFY(db.Close());
    auto stored = ReadDatabase(File());
    QCOMPARE(stored->Computers()->Count(), 1);
    QCOMPARE(stored->Computers()->Items(0)->Name(), QStringLiteral("c"));
}

void TestOpenDatabase::closeWhileManyChecksComplete()
{
    // Closing while hundreds of checks are finishing: the checks left over are detached, the
    // completions already queued find their computers gone, and the file holds every computer.
    const int count = 300;
    WriteDatabase(File(), Loopback(count));
    {
        auto db = std::make_unique<TOpenDatabase>(File());
        db->Open();
        int updates = 0;
        connect(db.get(), &TOpenDatabase::ComputerUpdated, this, [&] {
            if (++updates == 20)
                QTimer::singleShot(0, this, [&] { db.reset(); });
        });
        QTRY_VERIFY_WITH_TIMEOUT(!db, 15000);
        QTest::qWait(200);
        // On a quick machine every completion may already be queued, and run in one slice, by then.
        QVERIFY2(updates >= 20, qPrintable(QString::number(updates)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(TWorkerThread::LiveCount() == 0, 15000);
    QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList{"network.ccn"});
    auto root = ReadDatabase(File());
    QVERIFY(root);
    QCOMPARE(root->Computers()->Count(), count);
    // What arrived before the close was written by it.
    int online = 0;
    for (int i = 0; i < count; ++i)
        online += root->Computers()->Items(i)->Online ? 1 : 0;
    QVERIFY2(online >= 20, qPrintable(QString::number(online)));
}

// Schedules run from start-up on, without the properties dialog: one tick fires the group's schedule for
// the computers without their own and each computer's own. A firing is stamped once its wake-ups have
// ended, and the stamps are saved together; until then it is under way, not due again.
void TestOpenDatabase::loadedSchedulesFireOnceAndSaveOnce()
{
    WriteDatabase(File(), {{"own", "127.0.0.1"}, {"plain", "127.0.0.2"}, {"idle", "127.0.0.3"}});
    {
        TOstrelDatabase db;
        db.FileName = File();
        std::unique_ptr<TGroup> group = LoadDatabase(db);
        QVERIFY(group);
        group->Schedule().UseSchedule = true;
        group->Schedule().StartHour = 7;
        for (int i = 0; i < 2; ++i) {
            TComputer* computer = group->Computers()->Items(i);
            computer->MACAddresses()->Add()->Address = QStringLiteral("00-00-00-00-00-0%1").arg(i);
            computer->MACAddresses()->Add()->Address = QStringLiteral("00-00-00-00-01-0%1").arg(i);
        }
        TSchedule& own = group->Computers()->Items(0)->Schedule();
        own.UseSchedule = true;
        own.ScheduleInterval = siMonthly;
        own.monthlyNumDays = 4;
        own.StartHour = 7;
        QVERIFY(SaveGroup(*group));
    }
    TOpenDatabase db(File());
    db.Open();
    int saves = 0;
    connect(&db, &TOpenDatabase::Saved, this, [&saves] { ++saves; });
    const TDateTime morning = QDateTimeToDateTime(QDateTime(QDate(2026, 12, 4), QTime(7, 0, 20)));
    const double seconds = 1 / 86400.0;
    QCOMPARE(db.FireDueSchedules(morning - 1.0 / 24), QStringList());
    const QStringList due = db.FireDueSchedules(morning);
    QCOMPARE(due, QStringList({db.Root()->Computers()->Items(1)->ItemID(),
                               db.Root()->Computers()->Items(0)->ItemID()}));
    db.ScheduledWakeEnded(due[1], true);
    QCOMPARE(db.FireDueSchedules(morning + 30 * seconds), QStringList()); // under way, or fired
    QCOMPARE(saves, 0);
    QCOMPARE(db.Root()->Schedule().LastDate, -1.0);
    db.ScheduledWakeEnded(due[0], false); // not sent: due again
    QCOMPARE(db.FireDueSchedules(morning + 60 * seconds), QStringList{due[0]});
    db.ScheduledWakeEnded(due[0], true);
    QCOMPARE(db.FireDueSchedules(morning + 90 * seconds), QStringList());
    QVERIFY(db.SaveNow());
    QCOMPARE(saves, 1);

    std::unique_ptr<TGroup> stored = ReadDatabase(File());
    QVERIFY(stored);
    QCOMPARE(stored->Schedule().LastDate, morning + 60 * seconds); // the moment it left
    QCOMPARE(stored->Computers()->Items(0)->Schedule().LastDate, morning);
    QCOMPARE(stored->Computers()->Items(1)->Schedule().LastDate, -1.0);
}

void TestOpenDatabase::liveStatusFollowsPeers()
{
    if (!FIsolated)
        QSKIP("needs network namespaces");
    TTestNamespace first(QStringLiteral("lsa")), second(QStringLiteral("lsb"));
    TBridgeLan lan;
    QVERIFY(first.Ok() && second.Ok() && lan.Ok());
    const QString firstMac = lan.Join(first, QStringLiteral("10.31.0.2/24"));
    const QString secondMac = lan.Join(second, QString());
    QVERIFY(!firstMac.isEmpty() && !secondMac.isEmpty());

    WriteDatabase(File(), {{"peer", "10.31.0.2"}});
    TOpenDatabase db(File());
    db.Open();
    TComputer* computer = db.Root()->Computers()->Items(0);
    computer->MACAddresses()->Add()->Address = firstMac;
    computer->NotifyUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(computer->Online, 10000);
    QCOMPARE(computer->IdentityWarning, QString());

    // Another machine takes the address over (a DHCP change); the old neighbour entry has expired.
    QCOMPARE(first.Exec({"ip", "addr", "flush", "dev", "lan"}), 0);
    QCOMPARE(second.Exec({"ip", "addr", "add", "10.31.0.2/24", "dev", "lan"}), 0);
    QCOMPARE(RunCommand("ip", {"neigh", "flush", "dev", lan.Bridge()}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!computer->RunningCheck(), 10000);
    db.Refresh({});
    QVERIFY(computer->RunningCheck());
    QTRY_VERIFY_WITH_TIMEOUT(!computer->IdentityWarning.isEmpty(), 10000);
    QVERIFY(computer->Online);
    QVERIFY2(computer->IdentityWarning.contains(secondMac), qPrintable(computer->IdentityWarning));

    // It stops answering: the next periodic check shows it offline, and the file learns it.
    QCOMPARE(second.Exec({"nft", "add table inet sw; add chain inet sw in "
                                 "{ type filter hook input priority 0; policy drop; }"}),
             0);
    db.StartRechecks(1000);
    QTRY_VERIFY_WITH_TIMEOUT(!computer->Online, 15000);
    QCOMPARE(computer->LastPingReply, Res::Str(Res::PingTimedOut));
    QCOMPARE(computer->IdentityWarning, QString());
    QTRY_COMPARE_WITH_TIMEOUT(db.SaveState(), TOpenDatabase::ssSaved, 3000);
    QVERIFY(!ReadDatabase(File())->Computers()->Items(0)->Online);
}

void TestOpenDatabase::wakeWatchReports()
{
    if (!FIsolated)
        QSKIP("needs network namespaces");
    TTestNamespace sleeper(QStringLiteral("lsw"));
    TBridgeLan lan;
    QVERIFY(sleeper.Ok() && lan.Ok());
    QVERIFY(!lan.Join(sleeper, QStringLiteral("10.31.0.3/24")).isEmpty());
    // Asleep it takes nothing in; awake it still drops echo requests, as a firewalled desktop does, and
    // only the TCP probes can see it.
    if (sleeper.Exec({"nft", "add table inet sw; add chain inet sw in "
                             "{ type filter hook input priority 0; policy drop; }"}) != 0)
        QSKIP("nftables is not installed");

    WriteDatabase(File(), {{"sleeper", "10.31.0.3"}, {"", "10.31.0.9"}});
    TOpenDatabase db(File());
    db.Open();
    TComputers* computers = db.Root()->Computers();
    for (int i = 0; i < computers->Count(); ++i)
        computers->Items(i)->MACAddresses()->Add()->Address = QStringLiteral("00-16-3E-00-00-0%1").arg(i);
    QTRY_VERIFY_WITH_TIMEOUT(!computers->Items(0)->RunningCheck() && !computers->Items(1)->RunningCheck(),
                             10000);

    db.WakeWatch()->SetTiming(1000, 20000);
    QSignalSpy messages(&db, &TOpenDatabase::StatusMessage);
    QElapsedTimer clock;
    clock.start();
    // Woken one at a time, each outcome has its own line.
    db.Wake({computers->Items(0)->ItemID()}, 0);
    db.Wake({computers->Items(1)->ItemID()}, 0);
    // The sleeper wakes some seconds later; the other never does.
    QTest::qWait(4000);
    QCOMPARE(messages.size(), 0);
    QCOMPARE(sleeper.Exec({"nft", "add rule inet sw in meta l4proto tcp accept"}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000);
    const auto answered = QRegularExpression(QStringLiteral("^sleeper answered (\\d+) s after the wake-up$"))
                              .match(messages[0][0].toString());
    QVERIFY2(answered.hasMatch(), qPrintable(messages[0][0].toString()));
    const int seconds = answered.captured(1).toInt();
    QVERIFY2(seconds >= 4 && seconds <= (clock.elapsed() + 500) / 1000, qPrintable(answered.captured(0)));
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 25000);
    QCOMPARE(messages[1][0].toString(),
             QStringLiteral("10.31.0.9 did not answer within 3 minutes of the wake-up"));
}

void TestOpenDatabase::checksUnavailableToldOnce_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("reply");
    QTest::newRow("TCP probes off") << "[checks]\ntcpPorts=\n"
                                    << "Exception: Cannot allocate socket.";
    // Without an ICMP socket the probes still check: loopback refuses the first port.
    QTest::newRow("TCP probes on") << "[checks]\ntcpPorts=3389\n"
                                   << "Response from %1 on TCP port 3389 (refused).";
}

void TestOpenDatabase::checksUnavailableToldOnce()
{
    QFETCH(QString, settings);
    QFETCH(QString, reply);
    if (!FIsolated)
        QSKIP("needs network namespaces");
    // Debian's default: no group may open ping sockets; an ordinary user has no raw sockets either.
    TTestNamespace plain(QStringLiteral("lsu"));
    QVERIFY(plain.Ok());
    QCOMPARE(plain.Exec({"sysctl", "-qw", "net.ipv4.ping_group_range=1 0"}), 0);
    WriteDatabase(File(), {{"a", "127.0.0.1"}, {"b", "127.0.0.2"}});
    const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                     QFile::WriteOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(FDir->path(), all) && QFile::setPermissions(File(), all));
    const QString config = FDir->filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(config + QStringLiteral("/sablewick")));
    QFile conf(config + QStringLiteral("/sablewick/sablewick.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write(settings.toUtf8()) > 0);
    conf.close();
    for (const QString& path : {config, config + QStringLiteral("/sablewick"), conf.fileName()})
        QVERIFY(QFile::setPermissions(path, all));
    QString output;
    QCOMPARE(
        plain.Exec({"env", "XDG_CONFIG_HOME=" + config, "setpriv", "--reuid=65534", "--regid=65534",
                    "--clear-groups", QCoreApplication::applicationFilePath(), UnavailableArgument, File()},
                   &output),
        0);
    const bool unavailable = reply.startsWith(QLatin1String("Exception"));
    QCOMPARE(output.count(Res::Str(Res::ChecksUnavailable)), unavailable ? 1 : 0);
    // What is stored stays what the check said.
    auto stored = ReadDatabase(File());
    QVERIFY(stored);
    for (int i = 0; i < 2; ++i) {
        const TComputer* computer = stored->Computers()->Items(i);
        QCOMPARE(computer->Online, !unavailable);
        QCOMPARE(computer->LastPingReply,
                 reply.contains(QLatin1String("%1")) ? reply.arg(computer->IPAddress) : reply);
    }
}

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], UnavailableArgument) == 0)
        return ChecksUnavailableChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestOpenDatabase test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_openDatabase.moc"
