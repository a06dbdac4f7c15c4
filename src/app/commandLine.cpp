#include "app/commandLine.h"

#include "app/instanceServer.h"
#include "core/databaseLocation.h"
#include "core/dateTime.h"
#include "core/exceptions.h"
#include "core/texts.h"
#include "core/versionInfo.h"
#include "model/computers.h"
#include "model/database.h"
#include "net/threadWOL.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

namespace {

const QString kWake = QStringLiteral("wake");
const QString kList = QStringLiteral("list");
const QString kStatus = QStringLiteral("status");
const QString kActivate = QStringLiteral("activate");

constexpr int CheckPollInterval = 50;

struct TOptions
{
    QCommandLineOption Database{QStringLiteral("database"), Res::Str(Res::CmdOptDatabase),
                                Res::Str(Res::CmdOptDatabaseValue)};
    QCommandLineOption Wake{QStringLiteral("wake"), Res::Str(Res::CmdOptWake)};
    QCommandLineOption List{QStringLiteral("list"), Res::Str(Res::CmdOptList)};
    QCommandLineOption Status{QStringLiteral("status"), Res::Str(Res::CmdOptStatus)};
    QCommandLineOption Json{QStringLiteral("json"), Res::Str(Res::CmdOptJson)};
    QCommandLineOption Help{{QStringLiteral("h"), QStringLiteral("help")}, Res::Str(Res::CmdOptHelp)};
    QCommandLineOption Version{{QStringLiteral("v"), QStringLiteral("version")},
                               Res::Str(Res::CmdOptVersion)};

    void AddTo(QCommandLineParser& parser) const
    {
        parser.setApplicationDescription(Res::Str(Res::CmdDescription));
        // "-abc" is never read as three short options: names of computers must not turn into options.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({Database, Wake, List, Status, Json, Help, Version});
        parser.addPositionalArgument(QStringLiteral("computers"), Res::Str(Res::CmdArgNames),
                                     QStringLiteral("[NAME|MAC|IP...]"));
    }
};

QString KindName(TCommandRequest::TKind kind)
{
    switch (kind) {
    case TCommandRequest::Wake:
        return kWake;
    case TCommandRequest::List:
        return kList;
    case TCommandRequest::Status:
        return kStatus;
    case TCommandRequest::Activate:
        return kActivate;
    case TCommandRequest::None:
        break;
    }
    return {};
}

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

} // namespace

QByteArray TCommandRequest::ToJson() const
{
    const QJsonObject object{{QStringLiteral("command"), KindName(Kind)},
                             {QStringLiteral("names"), QJsonArray::fromStringList(Names)},
                             {QStringLiteral("json"), Json}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<TCommandRequest> TCommandRequest::FromJson(const QByteArray& message)
{
    const QJsonDocument document = QJsonDocument::fromJson(message);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    TCommandRequest request;
    const QString command = object.value(QStringLiteral("command")).toString();
    for (TKind kind : {Wake, List, Status, Activate}) {
        if (command == KindName(kind))
            request.Kind = kind;
    }
    if (request.Kind == None)
        return std::nullopt;
    for (const QJsonValue& name : object.value(QStringLiteral("names")).toArray()) {
        if (!name.isString())
            return std::nullopt;
        request.Names.append(name.toString());
    }
    request.Json = object.value(QStringLiteral("json")).toBool();
    return request;
}

QByteArray TCommandResult::ToJson() const
{
    const QJsonObject object{
        {QStringLiteral("exit"), ExitCode}, {QStringLiteral("out"), Out}, {QStringLiteral("err"), Err}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<TCommandResult> TCommandResult::FromJson(const QByteArray& message)
{
    const QJsonDocument document = QJsonDocument::fromJson(message);
    if (!document.isObject() || !document.object().value(QStringLiteral("exit")).isDouble())
        return std::nullopt;
    const QJsonObject object = document.object();
    TCommandResult result;
    result.ExitCode = object.value(QStringLiteral("exit")).toInt();
    result.Out = object.value(QStringLiteral("out")).toString();
    result.Err = object.value(QStringLiteral("err")).toString();
    return result;
}

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    TCommandLine line;
    QCommandLineParser parser;
    const TOptions options;
    options.AddTo(parser);
    if (!parser.parse(arguments)) {
        line.Action = TCommandLine::UsageError;
        line.Error = parser.errorText();
        return line;
    }
    if (parser.isSet(options.Help)) {
        line.Action = TCommandLine::Help;
        return line;
    }
    if (parser.isSet(options.Version)) {
        line.Action = TCommandLine::Version;
        return line;
    }
    line.DatabaseFile = parser.value(options.Database);

    auto fail = [&line](const QString& error) {
        line.Action = TCommandLine::UsageError;
        line.Error = error;
        return line;
    };
    // Two files would leave it open which one is meant.
    if (parser.values(options.Database).size() > 1)
        return fail(Res::Str(Res::CmdErrOneDatabase));
    const int actions =
        int(parser.isSet(options.Wake)) + int(parser.isSet(options.List)) + int(parser.isSet(options.Status));
    const QStringList names = parser.positionalArguments();
    if (actions > 1)
        return fail(Res::Str(Res::CmdErrOneAction));
    if (actions == 0) {
        if (!names.isEmpty())
            return fail(Res::Str(Res::CmdErrNamesWithoutAction));
        if (parser.isSet(options.Json))
            return fail(Res::Str(Res::CmdErrJsonOnly));
        return line; // the window
    }

    TCommandRequest& request = line.Request;
    request.Kind = parser.isSet(options.Wake)   ? TCommandRequest::Wake
                   : parser.isSet(options.List) ? TCommandRequest::List
                                                : TCommandRequest::Status;
    request.Names = names;
    request.Json = parser.isSet(options.Json);
    if (request.Kind == TCommandRequest::List && !names.isEmpty())
        return fail(Res::Str(Res::CmdErrNoNamesForList));
    if (request.Kind != TCommandRequest::List && names.isEmpty())
        return fail(Res::Str(Res::CmdErrNamesNeeded).arg(QStringLiteral("--") + KindName(request.Kind)));
    if (request.Kind == TCommandRequest::Wake && request.Json)
        return fail(Res::Str(Res::CmdErrJsonOnly));
    line.Action = TCommandLine::RunRequest;
    return line;
}

QString CommandLineHelp()
{
    QCommandLineParser parser;
    const TOptions options;
    options.AddTo(parser);
    return parser.helpText();
}

QString VersionText()
{
    return QStringLiteral("sablewick ") + GetFileVersionString(QCoreApplication::applicationFilePath());
}

TCommandRunner::TCommandRunner(std::function<TGroup*()> root, bool assignSequences, QObject* parent)
    : QObject(parent), FRoot(std::move(root)), FAssignSequences(assignSequences)
{
}

void TCommandRunner::Start(const TCommandRequest& request, TDone done)
{
    FRequest = request;
    FDone = std::move(done);
    // Started from the event loop, so done never runs inside the caller's own call.
    QTimer::singleShot(0, this, [this] {
        switch (FRequest.Kind) {
        case TCommandRequest::List:
            RunList();
            break;
        case TCommandRequest::Wake:
            RunWake();
            break;
        case TCommandRequest::Status:
            RunStatus();
            break;
        default:
            Finish();
            break;
        }
    });
}

QStringList TCommandRunner::Resolve()
{
    QStringList ids;
    TGroup* root = FRoot();
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
    if (TGroup* root = FRoot()) {
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
    TGroup* root = FRoot();
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
        const QString line = Res::Str(Res::CmdWakeSent).arg(computer->Name(), mac) + QLatin1Char('\n');
        const QString failure = ErrorLine(Res::Str(Res::CmdErrNotSent).arg(computer->Name()));
        QPointer<TCommandRunner> self(this);
        const bool started = root->WakeComputerByID(id, 0, [self, line, failure](bool sent) {
            if (!self)
                return;
            // A name that does not resolve or a send the network refuses is no wake-up.
            if (sent) {
                self->FResult.Out += line;
            } else {
                self->FResult.Err += failure;
                self->FResult.ExitCode = 1;
            }
            if (--self->FWakesRunning == 0)
                self->Finish();
        });
        if (started)
            ++FWakesRunning;
    }
    if (FWakesRunning == 0)
        Finish();
}

void TCommandRunner::RunStatus()
{
    FPending = Resolve();
    TGroup* root = FRoot();
    quint16 sequence = 0;
    for (const QString& id : std::as_const(FPending)) {
        TComputer* computer = root ? root->FindComputer(id) : nullptr;
        if (!computer)
            continue;
        if (FAssignSequences)
            computer->PingSequence = ++sequence;
        computer->CheckOnline();
    }
    // Completion reaches the computer itself (and the window's handlers, where there is a window); the
    // runner only watches for every check to have ended.
    auto* poll = new QTimer(this);
    poll->setInterval(CheckPollInterval);
    connect(poll, &QTimer::timeout, this, &TCommandRunner::PollChecks);
    poll->start();
    PollChecks();
}

void TCommandRunner::PollChecks()
{
    TGroup* root = FRoot();
    for (const QString& id : std::as_const(FPending)) {
        const TComputer* computer = root ? root->FindComputer(id) : nullptr;
        if (computer && computer->RunningCheck())
            return;
    }
    for (QTimer* timer : findChildren<QTimer*>())
        timer->stop();

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
    // Asking about a file that is not there must not create one.
    if (!QFileInfo::exists(databaseFile))
        return TCommandResult{1, {}, ErrorLine(Res::Str(Res::CmdErrNoDatabase).arg(databaseFile))};
    TOstrelDatabase database;
    database.FileName = databaseFile;
    std::unique_ptr<TGroup> root;
    try {
        root = LoadDatabase(database);
    } catch (const std::exception& e) {
        QString message = ExceptionMessage(e);
        message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        return TCommandResult{1, {}, ErrorLine(message.simplified())};
    }
    TCommandResult result;
    QEventLoop loop;
    auto* runner = new TCommandRunner([&root] { return root.get(); }, true);
    runner->Start(request, [&](const TCommandResult& done) {
        result = done;
        loop.quit();
    });
    loop.exec();
    // The window keeps what a check found; so does the command line.
    if (request.Kind == TCommandRequest::Status && root) {
        QString error;
        if (!SaveGroup(*root, &error))
            result.Err += ErrorLine(Res::Str(Res::CmdErrSave).arg(error));
    }
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
