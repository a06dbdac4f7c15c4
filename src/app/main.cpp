#include "app/application.h"
#include "app/commandLine.h"
#include "app/commandRunner.h"
#include "app/frmMain.h"
#include "app/instanceServer.h"
#include "app/signalHandler.h"
#include "app/utilsGeneral.h"
#include "core/databaseLocation.h"
#include "core/texts.h"
#include "model/openDatabase.h"

#include <linux/capability.h>
#include <QIcon>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// An installed program may hold the raw-socket capability as permitted only (as Debian's ping does);
// the reachability check's raw socket needs it effective. Nothing else is raised, and an exec drops it.
void RaiseRawSocketCapability()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    const unsigned bit = 1u << CAP_NET_RAW;
    if (!(data[0].permitted & bit) || (data[0].effective & bit))
        return;
    data[0].effective |= bit;
    ::syscall(SYS_capset, &header, data);
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/sablewick-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("sablewick"), icon);
}

} // namespace

int main(int argc, char* argv[])
{
    RaiseRawSocketCapability();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const TCommandLine line = ParseCommandLine(arguments);
    if (line.Action != TCommandLine::Window)
        return RunCommandLine(argc, argv, line);

    TApplication app(argc, argv);
    // The lower-case name gives the data folder, ~/.local/share/sablewick.
    TApplication::setApplicationName(QStringLiteral("sablewick"));
    // Not Qt's display name: X11 would append it to every window title.
    TApplication::SetTitle(Res::Str(Res::ProductName));
    TApplication::setDesktopFileName(QStringLiteral("sablewick"));
    TApplication::setWindowIcon(ApplicationIcon());
    // SIGTERM, SIGINT and SIGHUP close the window the orderly way, so pending saves are written.
    InstallSignalHandler([] {
        TApplication::SetClosingOnSignal(true);
        TApplication::closeAllWindows();
    });

    const QString database = DatabaseFilePath(TApplication::applicationDirPath(), line.DatabaseFile);
    // This user's window already holds the file: bring it to the front rather than open a second one.
    TCommandRequest activate;
    activate.Command = TCommandRequest::Activate;
    if (const std::optional<TCommandResult> answer = SendToInstance(database, activate, 5000);
        answer && answer->ExitCode == 0)
        return 0;
    EnsureDatabaseFolder(database);
    SetOpenDatabaseFile(database);

    std::unique_ptr<TfrmMain> window = StartUp(database, [] { return IsUserAdmin(); });
    if (!window)
        return 0;
    TfrmMain* frame = window.get();
    auto server = std::make_unique<TInstanceServer>(
        [frame] { return frame->OpenDatabase(); },
        [frame] {
            frame->setWindowState((frame->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
            frame->raise();
            frame->activateWindow();
        });
    // Only the holder of the lock serves the file.
    if (frame->OpenDatabase() && frame->OpenDatabase()->IsOpen())
        server->Listen(database);

    window->show();
    const int result = TApplication::exec();
    server.reset();
    window.reset();
    return result;
}
