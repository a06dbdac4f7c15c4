#include "app/commandScan.h"

#include "app/commandDatabase.h"
#include "app/instanceServer.h"
#include "core/exceptions.h"
#include "core/plainText.h"
#include "core/texts.h"
#include "model/computers.h"
#include "model/openDatabase.h"
#include "model/scanResults.h"
#include "net/hostResolve.h"
#include "net/netScan.h"
#include "product/databaseLocation.h"

#include <memory>
#include <optional>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <unistd.h>

namespace {

struct TSweep
{
    std::vector<TScanHost> Hosts;
    quint32 Mask = 0;
    QString Error;
};

// Progress on a terminal, as the dialog shows it: one line rewritten in place, ended once the sweep is
// done. The time left is the time so far per address probed, times the addresses left.
class TTerminalProgress
{
public:
    void Show(int sent, int total, int found)
    {
        if (total == 0) // nothing was probed: the error says why
            return;
        if (!FClock.isValid())
            FClock.start();
        const qint64 left = sent > 0 ? FClock.elapsed() * (total - sent) / sent / 1000 : 0;
        QString line = Res::Str(Res::ScanProgressLine).arg(sent).arg(total).arg(found).arg(left);
        // Blanks over what a longer line before left behind.
        const qsizetype width = line.size();
        line = line.leftJustified(std::max(width, FWidth));
        FWidth = width;
        QTextStream(stderr) << '\r' << line << Qt::flush;
    }

    ~TTerminalProgress()
    {
        if (FClock.isValid())
            QTextStream(stderr) << '\n' << Qt::flush;
    }

private:
    QElapsedTimer FClock;
    qsizetype FWidth = 0;
};

TSweep Sweep(const TScanNetwork& network, bool showProgress)
{
    TSweep sweep;
    QEventLoop loop;
    auto* scan = new TNetScan(network, ReadScanSettings());
    std::optional<TTerminalProgress> progress;
    if (showProgress) {
        progress.emplace();
        scan->SetOnProgress(
            [&progress](int sent, int total, int found) { progress->Show(sent, total, found); });
    }
    scan->SetOnTerminate([&](TWorkerThread* sender) {
        auto* done = static_cast<TNetScan*>(sender);
        sweep.Hosts = done->Hosts();
        sweep.Mask = done->HostMask();
        sweep.Error = done->Error();
        loop.quit();
    });
    scan->Start();
    loop.exec();
    return sweep;
}

// The computers of the window that holds the database, as far as a scan tells hosts by them: name, MAC and
// IP address. Null when no window answers.
std::unique_ptr<TGroup> KnownToWindow(const QString& databaseFile)
{
    TCommandRequest request;
    request.Command = QStringLiteral("list");
    request.Json = true;
    const std::optional<TCommandResult> answer = SendToInstance(databaseFile, request);
    if (!answer || answer->ExitCode != 0)
        return nullptr;
    auto group = std::make_unique<TGroup>();
    for (const QJsonValue& entry : QJsonDocument::fromJson(answer->Out.toUtf8()).array()) {
        const QJsonObject object = entry.toObject();
        TComputer* computer = group->Computers()->Add();
        computer->SetName(object.value(QStringLiteral("name")).toString());
        computer->IPAddress = object.value(QStringLiteral("ip")).toString();
        if (const QString mac = object.value(QStringLiteral("mac")).toString(); !mac.isEmpty())
            computer->MACAddresses()->Add()->Address = mac;
    }
    return group;
}

} // namespace

TCommandResult RunScanCommand(const TScanCommand& command, const QString& databaseFile)
{
    TScanNetwork network;
    QString error;
    if (!ParseScanNetwork(command.Network, &network, &error))
        return {2, {}, CommandErrorLineJoined(error)};

    // Opened before the sweep, so a database that cannot be used costs no packets. The window that holds
    // it adds nothing for a scan here (its own Scan network does), but tells which hosts it knows.
    std::unique_ptr<TOpenDatabase> database;
    std::unique_ptr<TGroup> windowsList;
    if (command.Add) {
        if (InstanceListening(databaseFile))
            return {1, {}, CommandErrorLineJoined(Res::Str(Res::CmdErrWindowHoldsScan))};
        // A new account's first command may be this one: the folder is made as the window makes it.
        QString folder;
        if (!EnsureDatabaseFolder(databaseFile, &folder))
            return {1, {}, CommandErrorLineJoined(Res::Str(Res::CmdErrNoDatabase).arg(databaseFile))};
    }
    if (command.Add || QFileInfo::exists(databaseFile)) {
        const auto mode = command.Add ? TOpenDatabase::omReadWrite : TOpenDatabase::omReadOnly;
        std::function<std::optional<TCommandResult>()> askWindow;
        if (!command.Add)
            askWindow = [&]() -> std::optional<TCommandResult> {
                if ((windowsList = KnownToWindow(databaseFile)))
                    return TCommandResult{};
                return std::nullopt;
            };
        TCommandDatabase opened = OpenForCommand(databaseFile, mode, askWindow, Res::CmdErrWindowHoldsScan);
        if (opened.Result && !windowsList)
            return *opened.Result;
        database = std::move(opened.Database);
    }
    const TGroup* root = database ? database->Root() : windowsList.get();

    // Nothing extra where a program reads it, or where JSON is asked for.
    const TSweep sweep = Sweep(network, !command.Json && ::isatty(STDERR_FILENO));
    TCommandResult result;
    if (!sweep.Error.isEmpty())
        return {1, {}, CommandErrorLineJoined(sweep.Error)};

    if (command.Add) {
        std::vector<TScanHost> fresh;
        int shared = 0;
        for (const TScanHost& host : sweep.Hosts) {
            if (root && KnownComputer(*root, host))
                continue;
            // A router's proxy ARP would add a computer for every address it answers for.
            if (host.SharedMac > 0 && !command.AddShared)
                ++shared;
            else
                fresh.push_back(host);
        }
        const auto added = AddScannedHosts(*database, fresh, sweep.Mask);
        QString closeError;
        if (!database->Close(&closeError))
            return {1, {}, CommandErrorLineJoined(closeError)};
        result.Out =
            (added.size() == 1 ? Res::Str(Res::ScanAddedOne) : Res::Str(Res::ScanAdded).arg(added.size())) +
            QLatin1Char('\n');
        if (shared > 0)
            result.Err = CommandErrorLineJoined(Res::Str(Res::ScanSharedSkipped).arg(shared));
        return result;
    }

    QJsonArray array;
    for (const TScanHost& host : sweep.Hosts) {
        const TComputer* known = root ? KnownComputer(*root, host) : nullptr;
        const QString ip = IPv4ToText(host.Address), mac = DatabaseMac(host.Mac);
        if (command.Json) {
            QJsonObject object{{QStringLiteral("ip"), ip},
                               {QStringLiteral("mac"), mac},
                               {QStringLiteral("name"), host.Name},
                               {QStringLiteral("vendor"), host.Vendor},
                               {QStringLiteral("known"), known != nullptr}};
            if (host.SharedMac > 0)
                object.insert(QStringLiteral("sharedMac"), host.SharedMac);
            array.append(object);
        } else {
            result.Out += PlainLine({ip, mac, host.Name, host.Vendor, ScanHostState(known, host)});
        }
    }
    if (command.Json)
        result.Out = QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    if (database)
        database->Close();
    return result;
}
