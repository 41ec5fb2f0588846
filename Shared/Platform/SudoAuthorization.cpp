#include "SudoAuthorization.h"

#include "SpawnSetup.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr char kAskpassVariable[] = "SUDO_ASKPASS=";
constexpr char kShellPath[] = "PATH=/bin:/usr/bin";

bool holdsNul(const QString& text) {
    return text.contains(QChar(u'\0'));
}

// The process environment without SUDO_ASKPASS, plus SUDO_ASKPASS naming the password program.
std::vector<QByteArray> sudoEnvironment(const QString& askpassProgram) {
    std::vector<QByteArray> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (std::strncmp(*entry, kAskpassVariable, sizeof kAskpassVariable - 1) != 0)
            entries.emplace_back(*entry);
    }
    entries.push_back(QByteArray(kAskpassVariable) + QFile::encodeName(askpassProgram));
    return entries;
}

std::vector<char*> pointerList(std::vector<QByteArray>& items) {
    std::vector<char*> pointers;
    pointers.reserve(items.size() + 1);
    for (QByteArray& item : items)
        pointers.push_back(item.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A child can only be collected while SIGCHLD is not ignored; restores the disposition it changed.
class CollectableChildren {
public:
    CollectableChildren() {
        struct sigaction current {};
        if (sigaction(SIGCHLD, nullptr, &current) != 0)
            return;
        if (current.sa_handler != SIG_IGN && !(current.sa_flags & SA_NOCLDWAIT))
            return;
        struct sigaction defaultAction {};
        defaultAction.sa_handler = SIG_DFL;
        sigemptyset(&defaultAction.sa_mask);
        changed_ = sigaction(SIGCHLD, &defaultAction, &previous_) == 0;
    }
    ~CollectableChildren() {
        if (changed_)
            sigaction(SIGCHLD, &previous_, nullptr);
    }
    CollectableChildren(const CollectableChildren&) = delete;
    CollectableChildren& operator=(const CollectableChildren&) = delete;

private:
    struct sigaction previous_ {};
    bool changed_ = false;
};

// The wait status of exactly this child; absent when it cannot be collected.
std::optional<int> collect(pid_t pid) {
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid, &status, 0);
    } while (result == -1 && errno == EINTR);
    if (result != pid)
        return std::nullopt;
    return status;
}

int failureStatus(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

} // namespace

SudoAuthorization::SudoAuthorization(QString askpassProgram, QString sudoProgram)
    : askpassProgram_(std::move(askpassProgram)), sudoProgram_(std::move(sudoProgram)) {}

QString SudoAuthorization::bundledAskpassProgram() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../libexec/keyloft-askpass"));
}

QByteArray SudoAuthorization::sudoPromptArgument(const QString& prompt) {
    return prompt.toUtf8().replace('%', QByteArrayLiteral("%%"));
}

int SudoAuthorization::preauthorize(const QString& prompt) const {
    if (holdsNul(prompt))
        return -1;
    const QList<QByteArray> arguments{"-A", "-p", sudoPromptArgument(prompt), "-v"};
    const CollectableChildren collectable;
    const SudoStart start = spawnSudo(arguments);
    if (start.status != 0)
        return -1;
    const std::optional<int> status = collect(start.pid);
    if (!status)
        return -1;
    return failureStatus(*status);
}

SudoStart SudoAuthorization::startShell(const QString& prompt, const QString& command) const {
    if (holdsNul(prompt) || holdsNul(command))
        return SudoStart{EINVAL, -1};
    std::optional<QByteArray> tmpdir;
    if (const char* value = std::getenv("TMPDIR"))
        tmpdir = QByteArray(value);
    return spawnSudo(shellArguments(prompt, command, tmpdir));
}

QList<QByteArray> SudoAuthorization::shellArguments(const QString& prompt, const QString& command,
                                                    const std::optional<QByteArray>& tmpdir) {
    QList<QByteArray> arguments{"-A", "-p", sudoPromptArgument(prompt), "-E", kShellPath};
    if (tmpdir)
        arguments.append("TMPDIR=" + *tmpdir);
    arguments.append({"--", "/bin/sh", "-c", command.toUtf8()});
    return arguments;
}

SudoStart SudoAuthorization::spawnSudo(const QList<QByteArray>& arguments) const {
    std::vector<QByteArray> argumentStore{QFile::encodeName(sudoProgram_)};
    argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
    std::vector<QByteArray> environmentStore = sudoEnvironment(askpassProgram_);
    std::vector<char*> argv = pointerList(argumentStore);
    std::vector<char*> envp = pointerList(environmentStore);

    const VTSpawnSetup setup;
    pid_t pid = -1;
    const int status = setup.spawn(pid, argv.front(), argv.data(), envp.data());
    if (status != 0)
        return SudoStart{status, -1};
    return SudoStart{0, pid};
}
