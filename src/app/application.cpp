#include "app/application.h"

#include "app/frmMain.h"
#include "app/utilsGeneral.h"
#include "core/databaseLocation.h"
#include "core/exceptions.h"
#include "core/mainThread.h"
#include "core/texts.h"

namespace {

QString& ApplicationTitle()
{
    static QString title;
    return title;
}

bool closingOnSignal = false;

} // namespace

void TApplication::SetClosingOnSignal(bool closing)
{
    closingOnSignal = closing;
}

bool TApplication::ClosingOnSignal()
{
    return closingOnSignal;
}

void TApplication::SetTitle(const QString& title)
{
    ApplicationTitle() = title;
}

QString TApplication::Title()
{
    return ApplicationTitle();
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Errors from guarded callbacks (completion handlers, hand-overs) get the same box as the rest.
    SetExceptionReporter([this](const QString& message) { HandleException(message); });
}

TApplication::~TApplication()
{
    SetExceptionReporter(nullptr);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        HandleException(ExceptionMessage(e));
    } catch (...) {
        HandleException(QStringLiteral("Unknown error"));
    }
    return false;
}

void TApplication::SetOnException(std::function<void(const QString&)> handler)
{
    FOnException = std::move(handler);
}

void TApplication::HandleException(const QString& message)
{
    try {
        if (FOnException)
            FOnException(message);
        else
            ShowError(message);
    } catch (...) {
        // The error box itself failed; nothing more can be shown.
    }
}

TApplication* TApplication::Instance()
{
    return qobject_cast<TApplication*>(QCoreApplication::instance());
}

std::unique_ptr<TfrmMain> StartUp(const QString& databaseFile, const std::function<bool()>& isUserAdmin)
{
    if (!isUserAdmin()) {
        ShowError(Res::Str(Res::NotAdministrator));
        return nullptr;
    }
    EnsureDatabaseFolder(databaseFile);
    SetOpenDatabaseFile(databaseFile);
    return std::make_unique<TfrmMain>(databaseFile);
}
