#include "app/commandLine.h"

#include "core/texts.h"
#include "product/versionInfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <vector>

namespace {

// Whether a command names computers.
enum class TNames
{
    None,
    Required,
};

// A command of the command line: an option of its own, of which at most one is given. The option's name
// is the request's command; app/commandRunner.cpp runs it.
struct TCommand
{
    const char* Name;
    Res::Id Help;
    TNames Names;
    bool Json; // --json applies
};

const TCommand Commands[] = {
    {"wake", Res::CmdOptWake, TNames::Required, false},
    {"list", Res::CmdOptList, TNames::None, true},
    {"status", Res::CmdOptStatus, TNames::Required, true},
    {"run-schedules", Res::CmdOptRunSchedules, TNames::None, false},
    {"relays", Res::CmdOptRelays, TNames::None, true},
    {"delete", Res::CmdOptDelete, TNames::Required, false},
};

struct TOptions
{
    QCommandLineOption Database{QStringLiteral("database"), Res::Str(Res::CmdOptDatabase),
                                Res::Str(Res::CmdOptDatabaseValue)};
    std::vector<QCommandLineOption> Commands;
    QCommandLineOption Scan{QStringLiteral("scan"), Res::Str(Res::CmdOptScan),
                            Res::Str(Res::CmdOptScanValue)};
    QCommandLineOption Add{QStringLiteral("add"), Res::Str(Res::CmdOptAdd)};
    QCommandLineOption AddShared{QStringLiteral("add-shared"), Res::Str(Res::CmdOptAddShared)};
    QCommandLineOption New{QStringLiteral("new"), Res::Str(Res::CmdOptNew), Res::Str(Res::CmdOptNewValue)};
    // The values of --new, in the order of TCommandRequest's fields.
    QCommandLineOption Mac{QStringLiteral("mac"), Res::Str(Res::CmdOptMac), QStringLiteral("MAC")};
    QCommandLineOption Ip{QStringLiteral("ip"), Res::Str(Res::CmdOptIp), Res::Str(Res::CmdOptIpValue)};
    QCommandLineOption Mode{QStringLiteral("mode"), Res::Str(Res::CmdOptMode),
                            QStringLiteral("lan|internet")};
    QCommandLineOption Mask{QStringLiteral("mask"), Res::Str(Res::CmdOptMask),
                            Res::Str(Res::CmdOptMaskValue)};
    QCommandLineOption Comment{QStringLiteral("comment"), Res::Str(Res::CmdOptComment),
                               Res::Str(Res::CmdOptCommentValue)};
    QCommandLineOption Port{QStringLiteral("port"), Res::Str(Res::CmdOptPort), QStringLiteral("N")};
    QCommandLineOption Json{QStringLiteral("json"), Res::Str(Res::CmdOptJson)};
    QCommandLineOption Help{{QStringLiteral("h"), QStringLiteral("help")}, Res::Str(Res::CmdOptHelp)};
    QCommandLineOption Version{{QStringLiteral("v"), QStringLiteral("version")},
                               Res::Str(Res::CmdOptVersion)};

    // Qt's own options, which the application object takes from the arguments: accepted as every Qt
    // program accepts them, and left out of the help.
    std::vector<QCommandLineOption> QtOptions;

    TOptions()
    {
        for (const TCommand& command : ::Commands)
            Commands.emplace_back(QString::fromLatin1(command.Name), Res::Str(command.Help));
        for (const char* name :
             {"style", "stylesheet", "platform", "platformpluginpath", "platformtheme", "plugin", "display",
              "geometry", "qwindowgeometry", "qwindowicon", "qwindowtitle", "session"})
            QtOptions.emplace_back(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        for (const char* name : {"reverse", "widgetcount"})
            QtOptions.emplace_back(QString::fromLatin1(name));
        for (QCommandLineOption& option : QtOptions)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
    }

    void AddTo(QCommandLineParser& parser) const
    {
        parser.setApplicationDescription(Res::Str(Res::CmdDescription));
        // "-abc" is never read as three short options: names of computers must not turn into options.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(Database);
        for (const QCommandLineOption& command : Commands)
            parser.addOption(command);
        parser.addOptions(
            {Scan, Add, AddShared, New, Mac, Ip, Mode, Mask, Port, Comment, Json, Help, Version});
        for (const QCommandLineOption& option : QtOptions)
            parser.addOption(option);
        parser.addPositionalArgument(Res::Str(Res::CmdArgNamesName), Res::Str(Res::CmdArgNames),
                                     QStringLiteral("[NAME|MAC|IP...]"));
    }
};

} // namespace

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
    const TCommand* command = nullptr;
    int commands = 0;
    for (size_t i = 0; i < options.Commands.size(); ++i) {
        if (parser.isSet(options.Commands[i])) {
            command = &Commands[i];
            ++commands;
        }
    }
    const QStringList names = parser.positionalArguments();
    if (commands + int(parser.isSet(options.Scan)) + int(parser.isSet(options.New)) > 1 ||
        parser.values(options.Scan).size() > 1 || parser.values(options.New).size() > 1)
        return fail(Res::Str(Res::CmdErrOneAction));
    // The values of a new computer belong to --new alone; the port to --new and --wake.
    const QCommandLineOption* values[] = {&options.Mac,  &options.Ip,      &options.Mode,
                                          &options.Mask, &options.Comment, &options.Port};
    for (const QCommandLineOption* option : values) {
        const QString name = QStringLiteral("--") + option->names().constFirst();
        if (parser.values(*option).size() > 1)
            return fail(Res::Str(Res::CmdErrTwice).arg(name));
        const bool wakePort = option == &options.Port && command && qstrcmp(command->Name, "wake") == 0;
        if (parser.isSet(*option) && !parser.isSet(options.New) && !wakePort)
            return fail(
                Res::Str(option == &options.Port ? Res::CmdErrPortOnly : Res::CmdErrNewOnly).arg(name));
    }
    int port = 0;
    if (parser.isSet(options.Port)) {
        // Linux refuses a datagram to port 0.
        bool number = false;
        port = parser.value(options.Port).toInt(&number);
        if (!number || port < 1 || port > 65535)
            return fail(Res::Str(Res::CmdErrBadPort).arg(parser.value(options.Port)));
    }
    if (parser.isSet(options.New)) {
        if (!names.isEmpty())
            return fail(Res::Str(Res::CmdErrNoComputers).arg(QStringLiteral("--new")));
        if (parser.isSet(options.Json))
            return fail(Res::Str(Res::CmdErrJsonOnly));
        if (!parser.isSet(options.Mac))
            return fail(Res::Str(Res::CmdErrNewNeedsMac));
        const QString mode = parser.value(options.Mode).toLower();
        if (!mode.isEmpty() && mode != QLatin1String("lan") && mode != QLatin1String("internet"))
            return fail(Res::Str(Res::CmdErrBadMode).arg(parser.value(options.Mode)));
        TCommandRequest& request = line.Request;
        request.Command = TCommandRequest::New;
        request.Names = {parser.value(options.New)};
        request.Mac = parser.value(options.Mac);
        request.Ip = parser.value(options.Ip);
        request.Mode = mode;
        request.Mask = parser.value(options.Mask);
        request.Comment = parser.value(options.Comment);
        request.Port = port;
        line.Action = TCommandLine::RunRequest;
        return line;
    }
    if (parser.isSet(options.Add) && !parser.isSet(options.Scan))
        return fail(Res::Str(Res::CmdErrAddOnlyScan));
    if (parser.isSet(options.AddShared) && !parser.isSet(options.Add))
        return fail(Res::Str(Res::CmdErrAddSharedOnlyAdd));
    if (parser.isSet(options.Scan)) {
        // The network is the option's value; the sweep runs in this process (app/commandScan.h).
        if (!names.isEmpty())
            return fail(Res::Str(Res::CmdErrNamesWithoutAction));
        if (parser.isSet(options.Add) && parser.isSet(options.Json))
            return fail(Res::Str(Res::CmdErrAddNoJson));
        line.Request.Command = TCommandRequest::Scan;
        line.Request.Names = {parser.value(options.Scan)};
        line.Request.Json = parser.isSet(options.Json);
        line.Request.Add = parser.isSet(options.Add);
        line.Request.AddShared = parser.isSet(options.AddShared);
        line.Action = TCommandLine::RunRequest;
        return line;
    }
    if (!command) {
        if (!names.isEmpty())
            return fail(Res::Str(Res::CmdErrNamesWithoutAction));
        if (parser.isSet(options.Json))
            return fail(Res::Str(Res::CmdErrJsonOnly));
        return line; // the window
    }

    TCommandRequest& request = line.Request;
    request.Command = QString::fromLatin1(command->Name);
    request.Names = names;
    request.Json = parser.isSet(options.Json);
    request.Port = port;
    if (command->Names == TNames::None && !names.isEmpty())
        return fail(Res::Str(Res::CmdErrNoComputers).arg(QStringLiteral("--") + request.Command));
    if (command->Names == TNames::Required && names.isEmpty())
        return fail(Res::Str(Res::CmdErrNamesNeeded).arg(QStringLiteral("--") + request.Command));
    if (request.Json && !command->Json)
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
