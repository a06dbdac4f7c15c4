// The open database without a window: loading, checks, when the file is written, failed saves, exit.
#include "core/exceptions.h"
#include "core/worker.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"
#include "timing/threadTimer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

} // namespace

class TestOpenDatabase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstStartCreates();
    void unreadableFiles_data();
    void unreadableFiles();
    void checkResultsCoalesce();
    void unchangedResultWaitsForExit();
    void failedSaveIsRetried();
    void pingSequences();
    void deleteFreesNoSequenceNumber();
    void closeWhileManyChecksComplete();
    void loadedSchedulesStayOff();

private:
    QString File() const { return FDir->path() + QStringLiteral("/network.ccn"); }
    std::unique_ptr<QTemporaryDir> FDir;
};

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
    QTest::newRow("locked by another instance") << "locked";
    QTest::newRow("not a compound file") << "garbage";
}

void TestOpenDatabase::unreadableFiles()
{
    QFETCH(QString, kind);
    std::unique_ptr<TOpenDatabase> first;
    if (kind == "locked") {
        WriteDatabase(File(), {{"kept", ""}});
        first = std::make_unique<TOpenDatabase>(File());
        first->Open();
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
        QVERIFY2(ExceptionMessage(e).startsWith("Unable to open the database \"" + File() + "\"!\r\n"),
                 qPrintable(ExceptionMessage(e)));
    }
    QVERIFY(!db.Root());
    QVERIFY(!db.AddComputer());
    QVERIFY(db.Close());
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
    TNotifyEvent update = root->OnUpdate;
    root->OnUpdate.Set(this, [&, update](TObject* sender) {
        update(sender);
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
    // Every result reaches the file soon after, in far fewer writes than checks, a second apart.
    QTRY_COMPARE_WITH_TIMEOUT(db.SaveState(), TOpenDatabase::ssSaved, 3000);
    QVERIFY2(!saves.isEmpty() && saves.size() < count / 2, qPrintable(QString::number(saves.size())));
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
    QCOMPARE(afterNotice.last(), TOpenDatabase::ssSaved);
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
        TNotifyEvent update = root->OnUpdate;
        root->OnUpdate.Set(this, [&, update](TObject* sender) {
            update(sender);
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
    // Several deleted by one command are written once.
    QSignalSpy saved(&db, &TOpenDatabase::Saved);
    db.DeleteComputers({computers->Items(0)->ItemID(), QStringLiteral("{unknown}"), added->ItemID()});
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
        // The check engine may have finished every check before the close runs.
        QVERIFY(updates >= 20 && updates <= count);
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

void TestOpenDatabase::loadedSchedulesStayOff()
{
    WriteDatabase(File(), {{"scheduled", "127.0.0.1"}});
    {
        // Store a schedule in use, due every minute of the day.
        TOstrelDatabase db;
        db.FileName = File();
        std::unique_ptr<TGroup> group = LoadDatabase(db);
        QVERIFY(group);
        TSchedule& schedule = group->Computers()->Items(0)->Schedule();
        schedule.UseSchedule = true;
        schedule.ScheduleInterval = siDaily;
        QVERIFY(SaveGroup(*group));
    }
    TOpenDatabase db(File());
    db.Open();
    TGroup* root = db.Root();
    TComputer* computer = root->Computers()->Items(0);
    QVERIFY(computer->Schedule().UseSchedule);
    // Nothing switches a clock on at start-up, and nobody listens for a due schedule.
    QVERIFY(!computer->ScheduleTimer()->Active());
    QVERIFY(!root->ScheduleTimer()->Active());
    QVERIFY(!computer->OnSchedule.Assigned());
    QVERIFY(!root->OnSchedule.Assigned());
}

QTEST_GUILESS_MAIN(TestOpenDatabase)
#include "tst_openDatabase.moc"
