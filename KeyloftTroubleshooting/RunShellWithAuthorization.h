#pragma once

// Running one shell command line as administrator (the repairs' only way to change the system).
//
// runShellWithAuthorization (declared with the application delegate) asks for an administrator password with
// `prompt` (through sudo and the bundled password program), runs "/bin/sh -c command" as administrator with
// this process's environment plus PATH "/bin:/usr/bin" and a TMPDIR that takes files, waits for exactly
// that shell, and answers true only when it exited with status 0 (a shell whose end cannot be observed
// has not succeeded). Problems are logged through DRLogger, never shown.
//
// Returns once the shell has ended. On the main thread the wait, for the password and for the shell,
// serves the event loop (the window repaints, timers run, user input waits; see VTChildWait), so the
// repair that called it is not entered again meanwhile. The process's own state is left alone: PATH and
// TMPDIR reach sudo through the environment it is started with, never through the process environment.

#include "PasswordDiagnosticsAppDelegate.h"
#include "Platform/SudoAuthorization.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

struct RunShellWithAuthorizationServices {
    SudoAuthorization authorization;
    // The folders tried, in this order, when the temporary folder cannot take a file.
    std::function<std::optional<QByteArray>()> temporaryDirectory;
    std::function<std::optional<QByteArray>()> homeDirectory;

    // The bundled password program and the user's own temporary and home folders.
    [[nodiscard]] static RunShellWithAuthorizationServices standard();
};

// runShellWithAuthorization with other services (another password program or other fallback folders).
bool runShellWithAuthorization(const RunShellWithAuthorizationServices& services, const QString& prompt,
                               const QString& command);

// Whether a file can be created in folder (or /tmp when it is absent or empty); the probe file is
// removed again.
[[nodiscard]] bool temporaryFolderTakesFiles(const std::optional<QByteArray>& folder);
