#include "SudoAuthorization.h"

#include "ChildWait.h"
#include "SpawnSetup.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace {

constexpr char kShellPath[] = "/bin:/usr/bin";

bool holdsNul(const QString& text) {
    return text.contains(QChar(u'\0'));
}

// The process environment with the given variables set to their values (or, for an absent value, removed).
std::vector<QByteArray> sudoEnvironment(const SudoAuthorization::EnvironmentChanges& changes) {
    std::vector<QByteArray> entries;
    for (const QByteArray& entry : vt_environmentEntries()) {
        const QByteArray name = entry.left(entry.indexOf('='));
        if (std::none_of(changes.begin(), changes.end(),
                         [&](const auto& change) { return change.first == name; }))
            entries.push_back(entry);
    }
    for (const auto& [name, value] : changes) {
        if (value)
            entries.push_back(name + '=' + *value);
    }
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

// sudo's status as preauthorize documents it.
int authorizationStatus(const VTChildEnding& ending) {
    switch (ending.kind) {
    case VTChildEnding::Kind::Exited:
        return ending.code;
    case VTChildEnding::Kind::Signaled:
        return 128 + ending.code;
    case VTChildEnding::Kind::Lost:
        break;
    }
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
    const SudoStart start = spawnSudo(arguments, {});
    if (start.status != 0)
        return -1;
    return authorizationStatus(vt_collectChild(start.pid, VTChildWait::ServingEvents));
}

SudoStart SudoAuthorization::startShell(const QString& prompt, const QString& command,
                                        const std::optional<QByteArray>& tmpdir) const {
    if (holdsNul(prompt) || holdsNul(command))
        return SudoStart{EINVAL, -1};
    return spawnSudo(shellArguments(prompt, command, tmpdir),
                     {{"PATH", QByteArray(kShellPath)}, {"TMPDIR", tmpdir}});
}

QList<QByteArray> SudoAuthorization::shellArguments(const QString& prompt, const QString& command,
                                                    const std::optional<QByteArray>& tmpdir) {
    QList<QByteArray> arguments{"-A", "-p", sudoPromptArgument(prompt), "-E",
                                QByteArray("PATH=") + kShellPath};
    if (tmpdir)
        arguments.append("TMPDIR=" + *tmpdir);
    arguments.append({"--", "/bin/sh", "-c", command.toUtf8()});
    return arguments;
}

SudoStart SudoAuthorization::spawnSudo(const QList<QByteArray>& arguments, EnvironmentChanges changes) const {
    std::vector<QByteArray> argumentStore{QFile::encodeName(sudoProgram_)};
    argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
    changes.append({"SUDO_ASKPASS", QFile::encodeName(askpassProgram_)});
    std::vector<QByteArray> environmentStore = sudoEnvironment(changes);
    std::vector<char*> argv = pointerList(argumentStore);
    std::vector<char*> envp = pointerList(environmentStore);

    const VTSpawnSetup setup;
    pid_t pid = -1;
    const int status = setup.spawn(pid, argv.front(), argv.data(), envp.data());
    if (status != 0)
        return SudoStart{status, -1};
    return SudoStart{0, pid};
}
