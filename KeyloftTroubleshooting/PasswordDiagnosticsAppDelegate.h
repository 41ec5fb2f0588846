#pragma once

// The application delegate: decides that the tool ends when its last window closes, and keeps the
// main window. Also declares the privileged shell that the repair commands run their lines through.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class PasswordDiagnosticsAppDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Called once the event loop is about to run; the tool has nothing to add there.
    void applicationDidFinishLaunching() {}

    // The application ends when its one window closes, also after a failed report run closes it.
    [[nodiscard]] bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // Makes SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl+C in a terminal) close the window, so the
    // tool ends the usual way with status 0. Without a window it quits the event loop. Call on the main
    // thread once the window is shown; a signal that arrives before the event loop runs is kept for it.
    // False (and nothing changed) when the wake-up pipe cannot be made. Once per process.
    bool closeWindowOnTerminationSignals();

    // The main window; not owned (whoever loads the main interface owns it). Null once destroyed.
    [[nodiscard]] QWidget* window() const { return window_; }
    void setWindow(QWidget* window) { window_ = window; }

private:
    void terminationRequested();

    QPointer<QWidget> window_;
};

// Runs command with "/bin/sh -c" as administrator after the user has typed a password at a dialog
// showing prompt; returns when the shell has ended, with the window kept alive meanwhile. True when the
// shell ran and exited with status 0; false otherwise, with the reason logged. Defined in
// RunShellWithAuthorization.cpp, which RunShellWithAuthorization.h describes.
bool runShellWithAuthorization(const QString& prompt, const QString& command);
