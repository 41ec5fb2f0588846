#pragma once

// Running one shell command line as administrator (the repairs' only way to change the system).
//
// runShellWithAuthorization (declared with the application delegate) asks for an administrator password with
// `prompt` (through sudo and the bundled password program), runs "/bin/sh -c command" as administrator with
// this process's environment and PATH "/bin:/usr/bin", waits for exactly that shell, and answers true only
// when it exited with status 0. Problems are logged through DRLogger, never shown.
//
// Blocks the calling thread (the main thread) while the password is asked for and the shell runs.
// For that long it changes process-wide state and puts it back: the SIGCHLD disposition, PATH (left at
// "/bin:/usr/bin" when it had no value before) and, when the temporary folder is unusable, TMPDIR.

#include "PasswordDiagnosticsAppDelegate.h"
#include "Platform/SudoAuthorization.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

struct PrivilegedShellServices {
    SudoAuthorization authorization;
    // The folders tried, in this order, when the temporary folder cannot take a file.
    std::function<std::optional<QByteArray>()> temporaryDirectory;
    std::function<std::optional<QByteArray>()> homeDirectory;

    // The bundled password program and the user's own temporary and home folders.
    [[nodiscard]] static PrivilegedShellServices standard();
};

// runShellWithAuthorization with other services (another password program or other fallback folders).
bool runShellWithAuthorization(const PrivilegedShellServices& services, const QString& prompt,
                               const QString& command);

// Whether a file can be created in $TMPDIR (or /tmp when it is unset or empty); the probe file is
// removed again.
[[nodiscard]] bool temporaryFolderTakesFiles();
