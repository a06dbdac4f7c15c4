#include "app/commandScan.h"

#include "app/commandDatabase.h"
#include "app/instanceServer.h"
#include "core/exceptions.h"
#include "core/texts.h"
#include "model/computers.h"
#include "model/openDatabase.h"
#include "model/scanResults.h"
#include "net/hostResolve.h"
#include "net/netScan.h"
#include "product/databaseLocation.h"

#include <memory>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString ErrorText(const QString& message)
{
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return Res::Str(Res::CmdErrorLine).arg(text.simplified()) + QLatin1Char('\n');
}

struct TSweep
{
    std::vector<TScanHost> Hosts;
    quint32 Mask = 0;
    QString Error;
};

TSweep Sweep(const TScanNetwork& network)
{
    TSweep sweep;
    QEventLoop loop;
    auto* scan = new TNetScan(network, ReadScanSettings());
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
        return {2, {}, ErrorText(error)};

    // Opened before the sweep, so a database that cannot be used costs no packets. The window that holds
    // it adds nothing for a scan here (its own Scan network does), but tells which hosts it knows.
    std::unique_ptr<TOpenDatabase> database;
    std::unique_ptr<TGroup> windowsList;
    if (command.Add) {
        if (InstanceListening(databaseFile))
            return {1, {}, ErrorText(Res::Str(Res::CmdErrWindowHoldsScan))};
        // A new account's first command may be this one: the folder is made as the window makes it.
        QString folder;
        if (!EnsureDatabaseFolder(databaseFile, &folder))
            return {1, {}, ErrorText(Res::Str(Res::CmdErrNoDatabase).arg(databaseFile))};
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

    const TSweep sweep = Sweep(network);
    TCommandResult result;
    if (!sweep.Error.isEmpty())
        return {1, {}, ErrorText(sweep.Error)};

    if (command.Add) {
        std::vector<TScanHost> fresh;
        for (const TScanHost& host : sweep.Hosts)
            if (!root || !KnownComputer(*root, host))
                fresh.push_back(host);
        const auto added = AddScannedHosts(*database, fresh, sweep.Mask);
        QString closeError;
        if (!database->Close(&closeError))
            return {1, {}, ErrorText(closeError)};
        result.Out = Res::Str(Res::ScanAdded).arg(added.size()) + QLatin1Char('\n');
        return result;
    }

    QJsonArray array;
    for (const TScanHost& host : sweep.Hosts) {
        const TComputer* known = root ? KnownComputer(*root, host) : nullptr;
        const QString ip = IPv4ToText(host.Address), mac = DatabaseMac(host.Mac);
        if (command.Json) {
            array.append(QJsonObject{{QStringLiteral("ip"), ip},
                                     {QStringLiteral("mac"), mac},
                                     {QStringLiteral("name"), host.Name},
                                     {QStringLiteral("vendor"), host.Vendor},
                                     {QStringLiteral("known"), known != nullptr}});
        } else {
            const QString state =
                known ? Res::Str(Res::ScanKnownAs).arg(known->Name()) : Res::Str(Res::ScanNew);
            result.Out += QStringList{ip, mac, host.Name, host.Vendor, state}.join(QLatin1Char('\t')) +
                          QLatin1Char('\n');
        }
    }
    if (command.Json)
        result.Out = QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    if (database)
        database->Close();
    return result;
}
