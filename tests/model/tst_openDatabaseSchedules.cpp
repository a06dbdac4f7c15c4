#include "model/computers.h"
#include "model/database.h"

#include <csignal>
#include <QDir>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <sys/socket.h>
#include <sys/stat.h>

// --run-schedules killed at random moments: every firing it stamped had been sent, the next run sends
// what a kill cut off, no run sends a computer's packet twice, and a run after a completed one sends
// nothing.
class TestOpenDatabaseSchedules : public QObject
{
    Q_OBJECT

private slots:
    void killedRunsLoseNoWakeUp();

private:
    // Runs the program, killed after killAfterMs unless that is negative, or as soon as it has replaced
    // the file; the MACs it woke.
    QStringList RunSchedules(int killAfterMs, bool killOnWrite = false);
    // The MACs of the computers whose schedules the file holds as fired.
    QSet<QString> Stamped();

    QTemporaryDir FDir;
    QUdpSocket FListener;
};

namespace {

constexpr int Computers = 300;

QString MacOf(int i)
{
    return QStringLiteral("00-00-00-00-%1-%2")
        .arg(i / 256, 2, 16, QLatin1Char('0'))
        .arg(i % 256, 2, 16, QLatin1Char('0'))
        .toUpper();
}

} // namespace

QStringList TestOpenDatabaseSchedules::RunSchedules(int killAfterMs, bool killOnWrite)
{
    const QByteArray file = QFile::encodeName(FDir.filePath(QStringLiteral("network.ccn")));
    struct stat before, now;
    ::stat(file.constData(), &before);
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), FDir.path());
    run.setProcessEnvironment(environment);
    run.start(qEnvironmentVariable("SABLEWICK_TEST_BINARY_DIR") + QStringLiteral("/sablewick"),
              {QStringLiteral("--database"), FDir.filePath(QStringLiteral("network.ccn")),
               QStringLiteral("--run-schedules")});
    QStringList woken;
    const auto drain = [&] {
        while (FListener.hasPendingDatagrams()) {
            const QByteArray packet = FListener.receiveDatagram().data();
            woken.append(QString::fromLatin1(packet.mid(6, 6).toHex('-').toUpper()));
        }
    };
    QElapsedTimer clock;
    clock.start();
    // Looked at without a pause: the moment after a write is the one to catch.
    while (!run.waitForFinished(0)) {
        drain();
        const bool written =
            killOnWrite && ::stat(file.constData(), &now) == 0 && now.st_ino != before.st_ino;
        if (written || (killAfterMs >= 0 && clock.elapsed() >= killAfterMs))
            ::kill(pid_t(run.processId()), SIGKILL);
    }
    QTest::qWait(20);
    drain();
    return woken;
}

QSet<QString> TestOpenDatabaseSchedules::Stamped()
{
    TOstrelDatabase db;
    db.FileName = FDir.filePath(QStringLiteral("network.ccn"));
    db.ReadOnly = true;
    QSet<QString> stamped;
    const std::unique_ptr<TGroup> group = LoadDatabase(db);
    for (int i = 0; i < group->Computers()->Count(); ++i) {
        const TComputer* computer = group->Computers()->Items(i);
        if (computer->Schedule().LastDate != -1.0)
            stamped.insert(computer->WakeMAC());
    }
    return stamped;
}

void TestOpenDatabaseSchedules::killedRunsLoseNoWakeUp()
{
    const QTime start = QTime::currentTime();
    if (start.minute() == 59 && start.second() > 30)
        QSKIP("the start window would end during the test");
    QVERIFY(FListener.bind(QHostAddress::LocalHost, 0));
    // Room for every packet of a run at once (a root's right; others get the system's limit).
    const int room = 16 << 20;
    if (::setsockopt(int(FListener.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        FListener.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, room);
    {
        TOstrelDatabase db;
        db.FileName = FDir.filePath(QStringLiteral("network.ccn"));
        db.CreateNew();
        TGroup group;
        group.Storage = db.DataStorage;
        for (int i = 0; i < Computers; ++i) {
            TComputer* computer = group.Computers()->Add();
            computer->SetName(QStringLiteral("pc-%1").arg(i));
            computer->IPAddress = QStringLiteral("127.0.0.1");
            computer->SendOptions = soInternet;
            computer->Port = FListener.localPort();
            computer->MACAddresses()->Add()->Address = MacOf(i);
            TSchedule& schedule = computer->Schedule();
            schedule.UseSchedule = true;
            schedule.StartHour = quint16(start.hour());
            schedule.StartMin = 0;
        }
        QVERIFY(SaveGroup(group));
        group.Storage.reset();
    }
    // Runs on fresh copies: one whole, to learn how long a run takes, then each killed as soon as it has
    // written the file: whatever the file holds as fired had been sent by then.
    const QString file = FDir.filePath(QStringLiteral("network.ccn"));
    const QString fresh = file + QStringLiteral(".fresh");
    QVERIFY(QFile::copy(file, fresh));
    const auto restore = [&] { return QFile::remove(file) && QFile::copy(fresh, file); };
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(RunSchedules(-1).size(), Computers);
    const int runMs = int(clock.elapsed());
    for (int round = 0; round < 6; ++round) {
        QVERIFY(restore());
        const QStringList sent = RunSchedules(-1, true);
        QVERIFY2(QSet<QString>(sent.begin(), sent.end()).contains(Stamped()),
                 qPrintable(QStringLiteral("round %1: stamped, never sent").arg(round)));
    }

    // Killed anywhere in a run, again and again: no packet twice in a run, nothing stamped unsent, and
    // the run that is let finish sends what the others did not; the next sends nothing.
    QVERIFY(restore());
    QSet<QString> woken;
    for (int round = 0; round < 8; ++round) {
        const QStringList sent = RunSchedules(QRandomGenerator::global()->bounded(runMs + 1));
        const QSet<QString> once(sent.begin(), sent.end());
        QCOMPARE(once.size(), sent.size());
        woken += once;
        QVERIFY2(woken.contains(Stamped()), qPrintable(QStringLiteral("killed run %1").arg(round)));
    }
    const QStringList last = RunSchedules(-1);
    woken += QSet<QString>(last.begin(), last.end());
    QCOMPARE(woken.size(), Computers);
    QCOMPARE(Stamped().size(), Computers);
    QCOMPARE(RunSchedules(-1), QStringList());
}

QTEST_GUILESS_MAIN(TestOpenDatabaseSchedules)
#include "tst_openDatabaseSchedules.moc"
