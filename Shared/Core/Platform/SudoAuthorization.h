#pragma once

// Administrator rights through sudo, with the tool's own password program asking the person.
//
// The password program is handed to sudo alone (SUDO_ASKPASS in the environment of the sudo process;
// the tool's own environment never holds it). It is shown the prompt text exactly: sudo would expand
// "%" escapes in it, so every "%" is doubled on sudo's command line.
// Without a terminal sudo keeps granted credentials per parent process, so a shell started by the same
// process right after preauthorize() does not ask again.
//
// sudo starts with a copy of the process environment taken under the environment lock (SpawnSetup.h)
// plus its own variables; the process environment itself is never changed. preauthorize waits until
// sudo has ended (on the application's main thread serving the event loop, see VTChildWait); startShell
// does not wait. Texts holding a NUL character are refused: sudo would see them cut short.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

#include <sys/types.h>

// What starting the privileged shell gave: status 0 and the pid of the sudo process (the caller's
// direct child, which the caller must collect, e.g. with vt_collectChild), or a non-zero error number
// and no child.
struct SudoStart {
    int status = 0;
    pid_t pid = -1;
};

class SudoAuthorization {
public:
    // askpassProgram: the password program sudo runs (argv[1] the prompt; it prints the password and a
    // line feed and exits 0, or exits 1 when the person cancels). sudoProgram: the sudo to run.
    explicit SudoAuthorization(QString askpassProgram, QString sudoProgram = QStringLiteral("/usr/bin/sudo"));

    // The password program shipped in the bundle: Contents/libexec/keyloft-askpass, found from the
    // running executable in Contents/bin. Needs a QCoreApplication.
    [[nodiscard]] static QString bundledAskpassProgram();

    // The prompt as sudo must be given it so that the password program shows exactly `prompt`.
    [[nodiscard]] static QByteArray sudoPromptArgument(const QString& prompt);

    // Asks for an administrator password ("sudo -A -p PROMPT -v") and waits for sudo.
    // 0: an administrator authenticated. Otherwise the failure: sudo's exit status (1 for a cancelled
    // or wrong password, or a user who may not use sudo), 128 + the signal that ended sudo, or -1 when
    // sudo could not be started or collected (or a text holds a NUL).
    [[nodiscard]] int preauthorize(const QString& prompt) const;

    // Starts "/bin/sh -c command" as administrator through sudo, with the process's current
    // environment plus PATH "/bin:/usr/bin" and TMPDIR set to tmpdir (without TMPDIR when absent), both
    // in sudo's environment and on its command line (sudo itself would drop them). Does not wait: the
    // answer's pid is the sudo process, which ends as the shell does (its exit code, or killed by the
    // same signal). Asks for a password only when no credentials are cached.
    [[nodiscard]] SudoStart startShell(const QString& prompt, const QString& command,
                                       const std::optional<QByteArray>& tmpdir) const;

    // The argument list startShell runs (without the program path), for the given TMPDIR value.
    [[nodiscard]] static QList<QByteArray> shellArguments(const QString& prompt, const QString& command,
                                                          const std::optional<QByteArray>& tmpdir);

    [[nodiscard]] const QString& askpassProgram() const { return askpassProgram_; }

    // Variables given their own value in sudo's environment; an absent value removes the variable.
    using EnvironmentChanges = QList<std::pair<QByteArray, std::optional<QByteArray>>>;

private:
    [[nodiscard]] SudoStart spawnSudo(const QList<QByteArray>& arguments, EnvironmentChanges changes) const;

    QString askpassProgram_;
    QString sudoProgram_;
};
