#include "PrivilegedShell.h"

#include "DRLogger.h"
#include "Platform/UserFolders.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char kFailedToRun[] = "Failed to run shell command '%@' with authorization, status: %d";

std::optional<QByteArray> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return QByteArray(value);
}

void restoreVariable(const char* name, const std::optional<QByteArray>& previous) {
    if (previous)
        ::setenv(name, previous->constData(), 1);
    else
        ::unsetenv(name);
}

// Points TMPDIR at a folder that takes files, as far as one can be found, and answers whether it
// changed TMPDIR. The shell is run whatever the outcome.
bool prepareTemporaryFolder(const PrivilegedShellServices& services) {
    if (temporaryFolderTakesFiles())
        return false;
    DRLogger::logger()->log2(5, "tmpfile failed. Trying again with NSTemporaryDirectory()");
    bool changed = false;
    if (const std::optional<QByteArray> folder = services.temporaryDirectory()) {
        ::setenv("TMPDIR", folder->constData(), 1);
        changed = true;
        if (temporaryFolderTakesFiles())
            return changed;
    }
    DRLogger::logger()->log2(5, "tmpfile failed. Trying again with NSHomeDirectory()");
    if (const std::optional<QByteArray> folder = services.homeDirectory()) {
        ::setenv("TMPDIR", folder->constData(), 1);
        changed = true;
        if (temporaryFolderTakesFiles())
            return changed;
    }
    DRLogger::logger()->log2(5, "tmpfile failed. Giving up.");
    return changed;
}

// Collects exactly this child, so that no other child of the process is taken for the shell.
bool exitedWithZero(pid_t pid) {
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid, &status, 0);
    } while (result == -1 && errno == EINTR);
    return result == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::optional<QByteArray> nonEmptyBytes(const std::optional<QString>& text) {
    if (!text || text->isEmpty())
        return std::nullopt;
    return QFile::encodeName(*text);
}

} // namespace

PrivilegedShellServices PrivilegedShellServices::standard() {
    return PrivilegedShellServices{
        SudoAuthorization(SudoAuthorization::bundledAskpassProgram()),
        [] { return nonEmptyBytes(UserFolders::temporaryDirectory()); },
        [] { return nonEmptyBytes(UserFolders::homeDirectory()); },
    };
}

bool temporaryFolderTakesFiles() {
    const char* tmpdir = std::getenv("TMPDIR");
    QByteArray path = (tmpdir && *tmpdir) ? QByteArray(tmpdir) : QByteArrayLiteral("/tmp");
    path += "/keyloft-probe-XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::unlink(path.constData());
    ::close(fd);
    return true;
}

bool runShellWithAuthorization(const QString& prompt, const QString& command) {
    return runShellWithAuthorization(PrivilegedShellServices::standard(), prompt, command);
}

bool runShellWithAuthorization(const PrivilegedShellServices& services, const QString& prompt,
                               const QString& command) {
    const int authorizationStatus = services.authorization.preauthorize(prompt);
    if (authorizationStatus != 0) {
        DRLogger::logger()->log2(3, kFailedToRun, command, authorizationStatus);
        return false;
    }

    // The default action, so that the shell's end can be collected.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    struct sigaction previousChildAction {};
    sigaction(SIGCHLD, &defaultAction, &previousChildAction);

    const std::optional<QByteArray> previousPath = environmentValue("PATH");
    if (::setenv("PATH", "/bin:/usr/bin", 1) != 0) {
        const int error = errno;
        DRLogger::logger()->log2(3, "Failed to set PATH=/bin:/usr/bin with errno: %d", error);
        sigaction(SIGCHLD, &previousChildAction, nullptr);
        return false;
    }

    const std::optional<QByteArray> previousTmpdir = environmentValue("TMPDIR");
    const bool changedTmpdir = prepareTemporaryFolder(services);
    const SudoStart start = services.authorization.startShell(prompt, command);
    if (changedTmpdir)
        restoreVariable("TMPDIR", previousTmpdir);

    const bool succeeded = start.status == 0 && exitedWithZero(start.pid);

    sigaction(SIGCHLD, &previousChildAction, nullptr);
    if (previousPath && ::setenv("PATH", previousPath->constData(), 1) != 0) {
        const int error = errno;
        DRLogger::logger()->log2(3, "Failed to restore original PATH with errno: %d", error);
    }

    if (!succeeded)
        DRLogger::logger()->log2(3, kFailedToRun, command, start.status);
    return succeeded;
}
