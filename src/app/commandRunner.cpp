#include "app/commandRunner.h"

#include "app/instanceServer.h"
#include "core/databaseLocation.h"
#include "core/dateTime.h"
#include "core/exceptions.h"
#include "core/texts.h"
#include "model/computers.h"
#include "net/threadWOL.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

namespace {

QString ErrorLine(const QString& message)
{
    return Res::Str(Res::CmdErrorLine).arg(message) + QLatin1Char('\n');
}

QString NormalizedMac(const QString& text)
{
    QString hex;
    for (const QChar c : text) {
        if (c.isLetterOrNumber())
            hex.append(c.toUpper());
        else if (c != QLatin1Char('-') && c != QLatin1Char(':') && c != QLatin1Char('.'))
            return {};
    }
    return hex.size() == 12 ? hex : QString();
}

// The adapter address a wake-up uses: the first one marked for waking.
QString WakeMac(const TComputer& computer)
{
    if (const TMACAddresses* adapters = computer.MACAddresses()) {
        for (int i = 0; i < adapters->Count(); ++i) {
            if (adapters->Items(i)->UseForWake)
                return adapters->Items(i)->Address;
        }
    }
    return {};
}

bool HoldsMac(const TComputer& computer, const QString& mac)
{
    if (const TMACAddresses* adapters = computer.MACAddresses()) {
        for (int i = 0; i < adapters->Count(); ++i) {
            if (NormalizedMac(adapters->Items(i)->Address) == mac)
                return true;
        }
    }
    return false;
}

TComputer* Match(const TComputers& computers, const QString& token)
{
    for (int i = 0; i < computers.Count(); ++i) {
        if (computers.Items(i)->Name().compare(token, Qt::CaseInsensitive) == 0)
            return computers.Items(i);
    }
    const QString mac = NormalizedMac(token);
    for (int i = 0; i < computers.Count(); ++i) {
        TComputer* computer = computers.Items(i);
        if ((!mac.isEmpty() && HoldsMac(*computer, mac)) ||
            (!computer->IPAddress.isEmpty() && computer->IPAddress == token.trimmed()))
            return computer;
    }
    return nullptr;
}

// How a wake-up reaches the computer: its subnet's broadcast address, or its own address.
QString ModeName(const TComputer& computer)
{
    return computer.SendOptions == soInternet ? QStringLiteral("Internet") : QStringLiteral("LAN");
}

QJsonValue CheckedValue(const TComputer& computer)
{
    if (computer.LastPingDate == 0)
        return QJsonValue::Null;
    const QDateTime when = DateTimeToQDateTime(computer.LastPingDate);
    return when.isValid() ? QJsonValue(when.toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null);
}

QString CheckedText(const TComputer& computer)
{
    const QJsonValue value = CheckedValue(computer);
    return value.isNull() ? Res::Str(Res::CmdNever)
                          : value.toString().replace(QLatin1Char('T'), QLatin1Char(' '));
}

QString StatusText(const TComputer& computer)
{
    if (computer.Online)
        return Res::Str(Res::CmdOnline);
    return computer.LastPingDate == 0 ? Res::Str(Res::CmdUnknown) : Res::Str(Res::CmdOffline);
}

QJsonObject ComputerJson(const TComputer& computer)
{
    return QJsonObject{
        {QStringLiteral("name"), computer.Name()},
        {QStringLiteral("mac"), WakeMac(computer)},
        {QStringLiteral("ip"), computer.IPAddress},
        {QStringLiteral("mode"), ModeName(computer)},
        {QStringLiteral("online"), computer.Online},
        {QStringLiteral("checked"), CheckedValue(computer)},
        {QStringLiteral("reply"), computer.LastPingReply},
    };
}

QString ComputerLine(const TComputer& computer)
{
    const QStringList fields = {computer.Name(),    WakeMac(computer),    computer.IPAddress,
                                ModeName(computer), StatusText(computer), CheckedText(computer)};
    return fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

QString JsonText(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

TCommandResult BadRequest()
{
    return TCommandResult{2, {}, ErrorLine(Res::Str(Res::CmdErrBadRequest))};
}

} // namespace

const TCommandRunner::THandler* TCommandRunner::Handler(const QString& command)
{
    // The commands of app/commandLine.cpp, by name. A command that only reads opens the file read only.
    static const THandler Handlers[] = {
        {"wake", TOpenDatabase::omReadOnly, &TCommandRunner::RunWake},
        {"list", TOpenDatabase::omReadOnly, &TCommandRunner::RunList},
        {"status", TOpenDatabase::omReadWrite, &TCommandRunner::RunStatus},
    };
    for (const THandler& handler : Handlers) {
        if (command == QLatin1String(handler.Name))
            return &handler;
    }
    return nullptr;
}

TCommandRunner::TCommandRunner(TOpenDatabase* database, QObject* parent)
    : QObject(parent), FDatabase(database)
{
}

std::optional<TOpenDatabase::TOpenMode> TCommandRunner::OpenMode(const QString& command)
{
    if (const THandler* handler = Handler(command))
        return handler->Mode;
    return std::nullopt;
}

void TCommandRunner::Start(const TCommandRequest& request, TDone done)
{
    FRequest = request;
    FDone = std::move(done);
    if (FDatabase)
        connect(FDatabase, &QObject::destroyed, this, [this] {
            FDatabase.clear();
            CheckEnded();
        });
    // Started from the event loop, so done never runs inside the caller's own call.
    QTimer::singleShot(0, this, [this] {
        if (const THandler* handler = Handler(FRequest.Command)) {
            (this->*handler->Run)();
        } else {
            FResult = BadRequest();
            Finish();
        }
    });
}

TGroup* TCommandRunner::Root() const
{
    return FDatabase ? FDatabase->Root() : nullptr;
}

QStringList TCommandRunner::Resolve()
{
    QStringList ids;
    TGroup* root = Root();
    for (const QString& name : std::as_const(FRequest.Names)) {
        TComputer* computer = root ? Match(*root->Computers(), name) : nullptr;
        if (!computer) {
            FResult.Err += ErrorLine(Res::Str(Res::CmdErrNoMatch).arg(name));
            FResult.ExitCode = 1;
        } else if (!ids.contains(computer->ItemID())) {
            ids.append(computer->ItemID());
        }
    }
    return ids;
}

void TCommandRunner::RunList()
{
    QJsonArray array;
    if (TGroup* root = Root()) {
        const TComputers& computers = *root->Computers();
        for (int i = 0; i < computers.Count(); ++i) {
            if (FRequest.Json)
                array.append(ComputerJson(*computers.Items(i)));
            else
                FResult.Out += ComputerLine(*computers.Items(i));
        }
    }
    if (FRequest.Json)
        FResult.Out = JsonText(array);
    Finish();
}

void TCommandRunner::RunWake()
{
    const QStringList ids = Resolve();
    TGroup* root = Root();
    QStringList wake;
    for (const QString& id : ids) {
        const TComputer* computer = root ? root->FindComputer(id) : nullptr;
        if (!computer)
            continue;
        const QString mac = WakeMac(*computer);
        // The sender drops a packet it cannot build without a word; say so here instead.
        if (!TWOLThread::BuildMagicPacket(mac)) {
            FResult.Err += ErrorLine(Res::Str(Res::CmdErrNoMac).arg(computer->Name()));
            FResult.ExitCode = 1;
            continue;
        }
        FWakeLines.insert(id, {Res::Str(Res::CmdWakeSent).arg(computer->Name(), mac) + QLatin1Char('\n'),
                               ErrorLine(Res::Str(Res::CmdErrNotSent).arg(computer->Name()))});
        wake.append(id);
    }
    if (FDatabase && !wake.isEmpty()) {
        QPointer<TCommandRunner> self(this);
        FWakesRunning = FDatabase->Wake(wake, 0, [self](const QString& id, bool sent) {
            if (self)
                self->WakeEnded(id, sent);
        });
    }
    if (FWakesRunning == 0)
        Finish();
}

void TCommandRunner::WakeEnded(const QString& itemID, bool sent)
{
    const auto& [line, failure] = FWakeLines.value(itemID);
    // A name that does not resolve or a send the network refuses is no wake-up.
    if (sent) {
        FResult.Out += line;
    } else {
        FResult.Err += failure;
        FResult.ExitCode = 1;
    }
    if (--FWakesRunning == 0)
        Finish();
}

void TCommandRunner::RunStatus()
{
    FPending = Resolve();
    FChecking = true;
    if (FDatabase && !FPending.isEmpty()) {
        // Each completed check reports (the window's too); a deleted computer's check never will.
        connect(FDatabase, &TOpenDatabase::ComputerUpdated, this, &TCommandRunner::CheckEnded);
        connect(FDatabase, &TOpenDatabase::ComputersDeleted, this, &TCommandRunner::CheckEnded);
        FDatabase->Refresh(FPending);
    }
    CheckEnded();
}

void TCommandRunner::CheckEnded()
{
    if (!FDone || !FChecking)
        return;
    TGroup* root = Root();
    for (const QString& id : std::as_const(FPending)) {
        const TComputer* computer = root ? root->FindComputer(id) : nullptr;
        if (computer && computer->RunningCheck())
            return;
    }
    if (FDatabase)
        disconnect(FDatabase, nullptr, this, nullptr);

    QJsonArray array;
    for (const QString& id : std::as_const(FPending)) {
        const TComputer* computer = root ? root->FindComputer(id) : nullptr;
        if (!computer || !computer->Online)
            FResult.ExitCode = 1;
        if (!computer)
            continue; // deleted in the window meanwhile
        if (FRequest.Json) {
            array.append(ComputerJson(*computer));
        } else {
            const QStringList fields = {computer->Name(), StatusText(*computer), computer->LastPingReply};
            FResult.Out += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
        }
    }
    if (FRequest.Json)
        FResult.Out = JsonText(array);
    FPending.clear();
    Finish();
}

void TCommandRunner::Finish()
{
    if (!FDone)
        return;
    TDone done = std::move(FDone);
    FDone = nullptr;
    done(FResult);
    deleteLater();
}

TCommandResult RunOnDatabase(const TCommandRequest& request, const QString& databaseFile)
{
    const std::optional<TOpenDatabase::TOpenMode> mode = TCommandRunner::OpenMode(request.Command);
    if (!mode)
        return BadRequest();
    // Asking about a file that is not there must not create one.
    if (!QFileInfo::exists(databaseFile))
        return TCommandResult{1, {}, ErrorLine(Res::Str(Res::CmdErrNoDatabase).arg(databaseFile))};
    TOpenDatabase database(databaseFile, *mode);
    try {
        database.Open();
    } catch (const std::exception& e) {
        QString message = ExceptionMessage(e);
        message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        return TCommandResult{1, {}, ErrorLine(message.simplified())};
    }
    TCommandResult result;
    QEventLoop loop;
    auto* runner = new TCommandRunner(&database);
    runner->Start(request, [&](const TCommandResult& done) {
        result = done;
        loop.quit();
    });
    loop.exec();
    // The window keeps what a check found; so does the command line.
    if (!database.Close())
        result.Err += ErrorLine(Res::Str(Res::CmdErrSave).arg(database.SaveFailure()));
    return result;
}

int RunCommandRequest(const TCommandRequest& request, const QString& databaseFile)
{
    std::optional<TCommandResult> result = SendToInstance(databaseFile, request);
    if (!result)
        result = RunOnDatabase(request, databaseFile);
    QTextStream(stdout) << result->Out;
    QTextStream(stderr) << result->Err;
    return result->ExitCode;
}

int RunCommandLine(int& argc, char** argv, const TCommandLine& line)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sablewick"));
    switch (line.Action) {
    case TCommandLine::Help:
        QTextStream(stdout) << CommandLineHelp();
        return 0;
    case TCommandLine::Version:
        QTextStream(stdout) << VersionText() << '\n';
        return 0;
    case TCommandLine::RunRequest:
        return RunCommandRequest(line.Request,
                                 DatabaseFilePath(QCoreApplication::applicationDirPath(), line.DatabaseFile));
    case TCommandLine::UsageError:
    case TCommandLine::Window:
        break;
    }
    QTextStream(stderr) << ErrorLine(line.Error);
    return 2;
}
