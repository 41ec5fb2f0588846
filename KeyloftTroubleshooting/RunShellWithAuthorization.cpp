#include "RunShellWithAuthorization.h"

#include "DRLogger.h"
#include "Platform/ChildWait.h"
#include "Platform/SpawnSetup.h"
#include "Platform/UserFolders.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kFailedToRun[] = "Failed to run shell command '%@' with authorization, status: %d";

// The TMPDIR the shell gets: the tool's own when a file can be made there; otherwise the first fallback
// folder that takes one, or, when none does, the last one tried. The shell is run whatever the outcome.
std::optional<QByteArray> shellTemporaryFolder(const RunShellWithAuthorizationServices& services) {
    std::optional<QByteArray> tmpdir = vt_environmentValue("TMPDIR");
    if (temporaryFolderTakesFiles(tmpdir))
        return tmpdir;
    DRLogger::logger()->log2(5, "tmpfile failed. Trying again with NSTemporaryDirectory()");
    if (const std::optional<QByteArray> folder = services.temporaryDirectory()) {
        tmpdir = folder;
        if (temporaryFolderTakesFiles(tmpdir))
            return tmpdir;
    }
    DRLogger::logger()->log2(5, "tmpfile failed. Trying again with NSHomeDirectory()");
    if (const std::optional<QByteArray> folder = services.homeDirectory()) {
        tmpdir = folder;
        if (temporaryFolderTakesFiles(tmpdir))
            return tmpdir;
    }
    DRLogger::logger()->log2(5, "tmpfile failed. Giving up.");
    return tmpdir;
}

// Collects exactly this child, so that no other child of the process is taken for the shell.
bool exitedWithZero(pid_t pid) {
    return vt_collectChild(pid, VTChildWait::ServingEvents).exitedWithZero();
}

std::optional<QByteArray> nonEmptyBytes(const std::optional<QString>& text) {
    if (!text || text->isEmpty())
        return std::nullopt;
    return QFile::encodeName(*text);
}

} // namespace

RunShellWithAuthorizationServices RunShellWithAuthorizationServices::standard() {
    return RunShellWithAuthorizationServices{
        SudoAuthorization(SudoAuthorization::bundledAskpassProgram()),
        [] { return nonEmptyBytes(UserFolders::temporaryDirectory()); },
        [] { return nonEmptyBytes(UserFolders::homeDirectory()); },
    };
}

bool temporaryFolderTakesFiles(const std::optional<QByteArray>& folder) {
    QByteArray path = (folder && !folder->isEmpty()) ? *folder : QByteArrayLiteral("/tmp");
    path += "/keyloft-probe-XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::unlink(path.constData());
    ::close(fd);
    return true;
}

bool runShellWithAuthorization(const QString& prompt, const QString& command) {
    return runShellWithAuthorization(RunShellWithAuthorizationServices::standard(), prompt, command);
}

bool runShellWithAuthorization(const RunShellWithAuthorizationServices& services, const QString& prompt,
                               const QString& command) {
    const int authorizationStatus = services.authorization.preauthorize(prompt);
    if (authorizationStatus != 0) {
        DRLogger::logger()->log2(3, kFailedToRun, command, authorizationStatus);
        return false;
    }
    const SudoStart start =
        services.authorization.startShell(prompt, command, shellTemporaryFolder(services));
    const bool succeeded = start.status == 0 && exitedWithZero(start.pid);
    if (!succeeded)
        DRLogger::logger()->log2(3, kFailedToRun, command, start.status);
    return succeeded;
}
