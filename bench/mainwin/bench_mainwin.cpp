// The main window on a large database: start-up, reachability checks and saving under load.
//
//   bench_mainwin [count]                 runs the measurement (default 1,000 computers on loopback)
//   bench_mainwin --make-db DIR [count]   only writes DIR/network.ccn (a few sample computers by default)
#include "app/frmMain.h"
#include "app/treeModel.h"
#include "app/treeView.h"
#include "core/worker.h"
#include "model/computers.h"
#include "model/database.h"

#include <cstdio>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

namespace {

struct TSample
{
    const char* Name;
    const char* MAC;
    const char* Comments;
    bool Addressed = true;
};

const TSample Samples[] = {
    {"Workshop NAS", "00-11-32-4A-7C-01", "Backups at night"},
    {"Media centre", "B8-27-EB-12-34-56", ""},
    {"", "", ""},
    {"build-server", "3C-97-0E-AA-BB-CC", "Rack 2, lower shelf"},
    {"Reception PC", "00-1E-68-5D-22-10", ""},
    {"lab-printer", "", "Address to be assigned", false},
};

bool MakeDatabase(const QString& dir, int count, bool samples)
{
    TOstrelDatabase db;
    db.FileName = dir + QStringLiteral("/network.ccn");
    db.CreateNew();
    TGroup group;
    group.Storage = db.DataStorage;
    for (int i = 0; i < count; ++i) {
        TComputer* computer = group.Computers()->Add();
        // Loopback addresses only: 127.0.x.y with y from 1 to 250.
        computer->IPAddress = QStringLiteral("127.0.%1.%2").arg(i / 250).arg(i % 250 + 1);
        QString mac;
        if (samples) {
            const TSample& sample = Samples[i % std::size(Samples)];
            computer->SetName(QString::fromUtf8(sample.Name));
            computer->Comments = QString::fromUtf8(sample.Comments);
            if (!sample.Addressed)
                computer->IPAddress.clear();
            mac = QString::fromLatin1(sample.MAC);
        } else {
            computer->SetName(QStringLiteral("Computer %1").arg(count - i, 4, 10, QLatin1Char('0')));
            mac = QStringLiteral("00-16-3E-%1-%2-%3")
                      .arg(i >> 16 & 0xFF, 2, 16, QLatin1Char('0'))
                      .arg(i >> 8 & 0xFF, 2, 16, QLatin1Char('0'))
                      .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                      .toUpper();
        }
        if (!mac.isEmpty()) {
            TMACAddress* adapter = computer->MACAddresses()->Add();
            adapter->Address = mac;
            adapter->UseForWake = true;
        }
    }
    QString error;
    if (!SaveGroup(group, &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(db.FileName), qPrintable(error));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 3 && args[1] == QStringLiteral("--make-db")) {
        const bool samples = args.size() < 4;
        const int count = samples ? int(std::size(Samples)) : args[3].toInt();
        return MakeDatabase(args[2], count, samples) ? 0 : 1;
    }

    const int count = args.size() >= 2 ? args[1].toInt() : 1000;
    QTemporaryDir dir;
    if (!dir.isValid() || !MakeDatabase(dir.path(), count, false))
        return 1;

    QElapsedTimer clock;
    clock.start();
    auto window = std::make_unique<TfrmMain>(dir.path());
    TGroup* root = window->Root();
    if (!root) {
        std::fprintf(stderr, "the database could not be loaded\n");
        return 1;
    }

    int checks = 0;
    int saves = 0;
    qint64 saveTotal = 0;
    qint64 saveLongest = 0;
    qint64 repaintLongest = 0;
    TNotifyEvent item = root->Computers()->OnItemUpdate;
    root->Computers()->OnItemUpdate.Set(&checks, [&](TObject* sender) {
        QElapsedTimer repaint;
        repaint.start();
        ++checks;
        item(sender);
        repaintLongest = std::max(repaintLongest, repaint.nsecsElapsed() / 1000);
    });
    TNotifyEvent update = root->OnUpdate;
    root->OnUpdate.Set(&saves, [&](TObject* sender) {
        QElapsedTimer save;
        save.start();
        update(sender);
        const qint64 took = save.nsecsElapsed() / 1000;
        ++saves;
        saveTotal += took;
        saveLongest = std::max(saveLongest, took);
    });

    window->show();
    QApplication::processEvents();
    window->VST->repaint();
    const qint64 shown = clock.elapsed();
    const int rows = window->VSTModel->rowCount();

    // The main thread's longest gap between two ticks of a 1 ms timer while checks complete.
    qint64 longestBlock = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer probe;
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestBlock = std::max(longestBlock, gap.nsecsElapsed() / 1000);
        gap.restart();
    });
    probe.start();

    QElapsedTimer limit;
    limit.start();
    while (checks < count && limit.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 checked = clock.elapsed();
    probe.stop();

    std::printf("computers                          %d\n", count);
    std::printf("rows shown                         %d after %lld ms\n", rows, static_cast<long long>(shown));
    std::printf("checks completed                   %d after %lld ms\n", checks,
                static_cast<long long>(checked));
    std::printf("saves                              %d, mean %.1f ms, longest %.1f ms\n", saves,
                saves ? saveTotal / 1000.0 / saves : 0.0, saveLongest / 1000.0);
    std::printf("longest repaint notice             %.1f ms\n", repaintLongest / 1000.0);
    std::printf("database file                      %lld bytes\n",
                static_cast<long long>(QFileInfo(dir.path() + QStringLiteral("/network.ccn")).size()));
    // Completions queued while the main thread saves are all run before it looks at anything else, so
    // this is also how long the window would not answer the user.
    std::printf("longest event-loop stall           %.1f ms\n", longestBlock / 1000.0);

    QElapsedTimer close;
    close.start();
    window.reset();
    std::printf("shutdown (free, compact)           %lld ms\n", static_cast<long long>(close.elapsed()));
    while (TWorkerThread::LiveCount() > 0 && limit.elapsed() < 130000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return checks == count ? 0 : 2;
}
