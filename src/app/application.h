#pragma once

#include <functional>
#include <memory>
#include <QApplication>

class TfrmMain;

// The application object. Every error that reaches the event loop unhandled is passed to the
// exception handler (the main window's error box) and the program keeps running. Errors of guarded
// callbacks (core/mainThread.h) go the same way while the application object exists.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // The handler of unhandled errors; without one, the error box is shown directly.
    void SetOnException(std::function<void(const QString& message)> handler);
    void HandleException(const QString& message);

    static TApplication* Instance();

    // The text that names the running program ("Sablewick", or with the edition once the main window
    // has composed its title). Kept apart from Qt's display name, which Qt would append to every
    // window's title.
    static void SetTitle(const QString& title);
    static QString Title();

    // Set when a signal (a logout, Ctrl+C) closes the program: nobody may be there to answer a box, so
    // the closing windows report on stderr instead of waiting.
    static void SetClosingOnSignal(bool closing);
    static bool ClosingOnSignal();

private:
    std::function<void(const QString&)> FOnException;
};

// The start of the program after the application object exists: the privilege check, then the main
// window. isUserAdmin decides the check (the real one unless a test gives its own). Returns null after
// showing the refusal when the account is not an administrator; only after the check is the database's
// folder made.
std::unique_ptr<TfrmMain> StartUp(const QString& databaseFile, const std::function<bool()>& isUserAdmin);
