#include "app/application.h"
#include "app/frmMain.h"
#include "app/utilsGeneral.h"
#include "core/texts.h"

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TApplication::setApplicationName(Res::Str(Res::ProductName));
    TApplication::SetTitle(Res::Str(Res::ProductName));

    std::unique_ptr<TfrmMain> window =
        StartUp(TApplication::applicationDirPath(), [] { return IsUserAdmin(); });
    if (!window)
        return 0;
    window->show();
    const int result = TApplication::exec();
    window.reset();
    return result;
}
