#include "app/application.h"
#include "app/frmMain.h"
#include "app/utilsGeneral.h"
#include "core/mainThread.h"
#include "core/texts.h"

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TApplication::setApplicationName(Res::Str(Res::ProductName));
    TApplication::setApplicationDisplayName(Res::Str(Res::ProductName));
    // Errors from guarded callbacks (completion handlers, hand-overs) get the same box as the rest.
    SetExceptionReporter([&app](const QString& message) { app.HandleException(message); });

    std::unique_ptr<TfrmMain> window = StartUp(TApplication::applicationDirPath(), [] { return IsUserAdmin(); });
    if (!window)
        return 0;
    window->show();
    const int result = TApplication::exec();
    window.reset();
    SetExceptionReporter(nullptr);
    return result;
}
