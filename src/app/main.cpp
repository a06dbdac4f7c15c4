#include "app/application.h"
#include "app/commandLine.h"
#include "app/commandRunner.h"
#include "app/frmMain.h"
#include "app/instanceServer.h"
#include "app/requestChanges.h"
#include "app/signalHandler.h"
#include "app/translations.h"
#include "app/userRights.h"
#include "core/rawCapability.h"
#include "core/texts.h"
#include "model/openDatabase.h"
#include "product/databaseLocation.h"

#include <QCoreApplication>
#include <QIcon>
#include <QTextStream>

namespace {

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/sablewick-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("sablewick"), icon);
}

// Whether a window can open at all: without a display Qt's platform plugin ends the process with an
// abort. A platform or display named on the command line or in QT_QPA_PLATFORM is left to Qt.
bool DisplayGiven(const QStringList& arguments)
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    for (const QString& argument : arguments) {
        const QString option = argument.section(QLatin1Char('='), 0, 0);
        for (const char* name : {"-platform", "--platform", "-display", "--display"})
            if (option == QLatin1String(name))
                return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    // An installed program may hold the raw-socket capability; it is made effective only while the
    // reachability check opens its raw socket.
    LowerRawCapability();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const TCommandLine line = ParseCommandLine(arguments);
    if (line.Action != TCommandLine::Window)
        return RunCommandLine(argc, argv, line);
    if (!DisplayGiven(arguments)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("sablewick"));
        LoadTranslations();
        QTextStream(stderr) << Res::Str(Res::CmdErrorLine).arg(Res::Str(Res::CmdErrNoDisplay)) << '\n';
        return 1;
    }

    TApplication app(argc, argv);
    // The lower-case name gives the data folder, ~/.local/share/sablewick.
    TApplication::setApplicationName(QStringLiteral("sablewick"));
    LoadTranslations();
    // Not Qt's display name: X11 would append it to every window title.
    TApplication::SetTitle(Res::Str(Res::ProductName));
    TApplication::setDesktopFileName(QStringLiteral("io.github.sablewick.Sablewick"));
    TApplication::setWindowIcon(ApplicationIcon());
    // SIGTERM, SIGINT and SIGHUP close the window the orderly way, so pending saves are written.
    InstallSignalHandler([] {
        TApplication::SetClosingOnSignal(true);
        TApplication::closeAllWindows();
    });

    const QString database = DatabaseFilePath(TApplication::applicationDirPath(), line.DatabaseFile);
    // A refused account asks nothing of a running window and leaves nothing behind (StartUp makes the
    // database's folder only after the check).
    const bool administrator = IsUserAdmin();
    // This user's window already holds the file: bring it to the front rather than open a second one.
    TCommandRequest activate;
    activate.Command = TCommandRequest::Activate;
    if (const std::optional<TCommandResult> answer =
            administrator ? SendToInstance(database, activate, 5000) : std::nullopt;
        answer && answer->ExitCode == 0)
        return 0;

    std::unique_ptr<TfrmMain> window = StartUp(database, [administrator] { return administrator; });
    if (!window)
        return 1;
    TfrmMain* frame = window.get();
    auto server = std::make_unique<TInstanceServer>(
        [frame] { return frame->OpenDatabase(); },
        [frame] {
            frame->setWindowState((frame->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
            frame->raise();
            frame->activateWindow();
        });
    // Only the holder of the lock serves the file.
    if (frame->OpenDatabase() && frame->OpenDatabase()->IsOpen()) {
        FollowRequestChanges(*frame);
        server->Listen(database);
    }

    window->show();
    const int result = TApplication::exec();
    server.reset();
    window.reset();
    return result;
}
