#include "app/commandLine.h"

#include "core/texts.h"
#include "core/versionInfo.h"

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
};

struct TOptions
{
    QCommandLineOption Database{QStringLiteral("database"), Res::Str(Res::CmdOptDatabase),
                                Res::Str(Res::CmdOptDatabaseValue)};
    std::vector<QCommandLineOption> Commands;
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
        parser.addOptions({Json, Help, Version});
        for (const QCommandLineOption& option : QtOptions)
            parser.addOption(option);
        parser.addPositionalArgument(QStringLiteral("computers"), Res::Str(Res::CmdArgNames),
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
    if (commands > 1)
        return fail(Res::Str(Res::CmdErrOneAction));
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
    if (command->Names == TNames::None && !names.isEmpty())
        return fail(Res::Str(Res::CmdErrNoNamesForList));
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
