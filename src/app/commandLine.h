// Reading the command line: which command it asks for, or the window. Running a command is
// app/commandRunner.h's.
#pragma once

#include "app/commandMessage.h"

#include <QString>
#include <QStringList>

// The parsed command line. Help, version and usage errors are answered without opening any file.
struct TCommandLine
{
    enum TAction
    {
        Window,
        Help,
        Version,
        UsageError,
        RunRequest
    };
    TAction Action = Window;
    QString DatabaseFile; // the --database value, empty when not given
    QString Error;        // for UsageError
    TCommandRequest Request;
};

TCommandLine ParseCommandLine(const QStringList& arguments);
// The help text; needs the application object.
QString CommandLineHelp();
// "sablewick 1.0.0", from the version data of the program file (the same the about box shows).
QString VersionText();
