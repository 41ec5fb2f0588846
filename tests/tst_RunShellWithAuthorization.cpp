// The privileged shell against the real sudo. Needs the throw-away administrator that
// run_as_sudo_user.sh creates (as root); fake password programs stand in for the person typing.

#include "Platform/SystemLog.h"
#include "PrivilegedShell.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

void onChildSignal(int) {}

using Handler = void (*)(int);

Handler childSignalHandler() {
    struct sigaction current {};
    sigaction(SIGCHLD, nullptr, &current);
    return current.sa_handler;
}

void setChildSignalHandler(Handler handler) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
}

std::optional<QByteArray> variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<QByteArray>(value) : std::nullopt;
}

void setVariable(const char* name, const std::optional<QByteArray>& value) {
    if (value)
        ::setenv(name, value->constData(), 1);
    else
        ::unsetenv(name);
}

pid_t spawnShell(const QByteArray& script) {
    QByteArray shell("/bin/sh"), dashC("-c"), text(script);
    char* argv[] = {shell.data(), dashC.data(), text.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

int openDescriptorCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

QString singleQuoted(const QString& path) {
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

QString failureLine(const QString& command, int status) {
    return QStringLiteral("Failed to run shell command '%1' with authorization, status: %2")
        .arg(command)
        .arg(status);
}

} // namespace

class TestRunShellWithAuthorization : public QObject {
    Q_OBJECT

    QString helpers_;
    QTemporaryDir scratch_;
    QStringList systemLog_;
    VTSystemLogSink previousSink_;

    [[nodiscard]] QString askpassLog() const { return scratch_.filePath(QStringLiteral("prompts.log")); }
    [[nodiscard]] QString path(const QString& name) const { return scratch_.filePath(name); }

    [[nodiscard]] PrivilegedShellServices services(const QString& askpass,
                                                   std::optional<QByteArray> temporary = {},
                                                   std::optional<QByteArray> home = {}) const {
        return PrivilegedShellServices{SudoAuthorization(helpers_ + QLatin1Char('/') + askpass),
                                       [temporary] { return temporary; }, [home] { return home; }};
    }

    // The prompts the password programs were shown, in order, byte for byte.
    [[nodiscard]] QStringList promptsShown() const {
        QFile file(askpassLog());
        QStringList prompts;
        if (!file.open(QIODevice::ReadOnly))
            return prompts;
        const QByteArray log = file.readAll();
        qsizetype at = 0;
        while (at < log.size()) {
            const qsizetype lineEnd = log.indexOf('\n', at);
            if (lineEnd < 0)
                break;
            const qsizetype length = log.mid(at, lineEnd - at).toLongLong();
            prompts.append(QString::fromUtf8(log.mid(lineEnd + 1, length)));
            at = lineEnd + 1 + length + 1;
        }
        return prompts;
    }

    [[nodiscard]] QStringList logLinesStartingWith(const QString& start) const {
        QStringList lines;
        for (const QString& line : systemLog_) {
            if (line.startsWith(start))
                lines.append(line);
        }
        return lines;
    }

    [[nodiscard]] QByteArray contents(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("KEYLOFT_SUDO_TEST_PASSWORD"))
            QSKIP("needs the throw-away sudo user: run as root through ctest "
                  "(tst_RunShellWithAuthorization_as_admin)");
        helpers_ = qEnvironmentVariable("KEYLOFT_SUDO_TEST_HELPERS");
        QVERIFY(scratch_.isValid());
        QVERIFY(QFile::setPermissions(scratch_.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ExeOwner | QFile::ReadOther |
                                                           QFile::ExeOther));
        ::setenv("KEYLOFT_ASKPASS_LOG", askpassLog().toUtf8().constData(), 1);
        previousSink_ = vt_setSystemLogSink([this](const QString& message) { systemLog_.append(message); });
    }

    void cleanupTestCase() { vt_setSystemLogSink(previousSink_); }

    void init() {
        // Each case starts without cached credentials, so every password request shows.
        const pid_t pid = spawnShell("/usr/bin/sudo -K");
        QVERIFY(pid > 0);
        QCOMPARE(waitFor(pid), 0);
        QFile::remove(askpassLog());
        systemLog_.clear();
    }

    void runsAsAdministratorWithCallersEnvironment() {
        const QString prompt =
            QStringLiteral("Please enter your Mac OS X password.\n\nFolder 100% %u reset. ");
        setVariable("F1", QByteArray("/home/x/Library/Application Support/Keyloft"));
        setVariable("F2", QByteArray("/home/x/it's \"quoted\" $HOME"));
        setVariable("F3", QByteArray("/home/x/Library/LaunchAgents"));
        setVariable("THEUSER", QByteArray("x"));
        // A password program the desktop session names for itself is neither used nor changed.
        const QByteArray sessionAskpass = (helpers_ + QStringLiteral("/askpass_cancel")).toUtf8();
        setVariable("SUDO_ASKPASS", sessionAskpass);
        const QString command =
            QStringLiteral("umask 022; { id -u; printf '%s\\n' \"$PATH\" \"$F1\" \"$F2\" \"$F3\" "
                           "\"$THEUSER\"; } > ") +
            singleQuoted(path(QStringLiteral("seen")));

        QVERIFY(runShellWithAuthorization(services(QStringLiteral("askpass_right")), prompt, command));

        QCOMPARE(contents(QStringLiteral("seen")), QByteArray("0\n/bin:/usr/bin\n"
                                                              "/home/x/Library/Application Support/Keyloft\n"
                                                              "/home/x/it's \"quoted\" $HOME\n"
                                                              "/home/x/Library/LaunchAgents\nx\n"));
        // One password request covers the authorization and the run.
        QCOMPARE(promptsShown(), QStringList{prompt});
        QCOMPARE(logLinesStartingWith(QStringLiteral("Failed")), QStringList());
        QCOMPARE(variable("SUDO_ASKPASS"), std::optional<QByteArray>(sessionAskpass));
        ::unsetenv("SUDO_ASKPASS");
    }

    void bundledPasswordProgram_data() {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<bool>("granted");
        QTest::newRow("password typed")
            << QByteArray("xdotool type --delay 5 \"$KEYLOFT_SUDO_TEST_PASSWORD\"; "
                          "xdotool key Return")
            << true;
        QTest::newRow("cancelled") << QByteArray("xdotool key Escape") << false;
    }

    // The shipped password dialog, typed into on a real X server, grants the rights or cancels them.
    void bundledPasswordProgram() {
        QFETCH(QByteArray, keys);
        QFETCH(bool, granted);
        const QByteArray display = qgetenv("KEYLOFT_TEST_DISPLAY");
        if (display.isEmpty())
            QSKIP("needs the X server that scripts/test starts (KEYLOFT_TEST_DISPLAY)");
        if (!QFile::exists(QStringLiteral("/usr/bin/xdotool")))
            QSKIP("needs xdotool to type into the password dialog");
        const std::optional<QByteArray> platform = variable("QT_QPA_PLATFORM");
        setVariable("DISPLAY", display);
        setVariable("QT_QPA_PLATFORM", QByteArray("xcb"));
        const QString marker = path(QStringLiteral("ran"));
        QFile::remove(marker);
        // The dialog must be gone soon after the keys; one that stays is closed, so the case fails
        // instead of hanging.
        const pid_t person = spawnShell(
            "w=$(timeout 60 xdotool search --sync --onlyvisible --classname keyloft-askpass | "
            "head -n 1) && xdotool windowfocus --sync \"$w\" && " +
            keys +
            "; for i in $(seq 50); do xdotool search --classname keyloft-askpass >/dev/null || "
            "exit 0; sleep 0.1; done; xdotool search --classname keyloft-askpass windowkill; exit 1");
        QVERIFY(person > 0);

        const bool result = runShellWithAuthorization(services(QStringLiteral("keyloft-askpass")),
                                                      QStringLiteral("Please enter your password.\n\nTest. "),
                                                      QStringLiteral("touch ") + singleQuoted(marker));

        const int personStatus = waitFor(person);
        setVariable("QT_QPA_PLATFORM", platform);
        ::unsetenv("DISPLAY");
        QVERIFY(WIFEXITED(personStatus) && WEXITSTATUS(personStatus) == 0);
        QCOMPARE(result, granted);
        QCOMPARE(QFile::exists(marker), granted);
    }

    void failureLeavesProcessStateAlone_data() {
        QTest::addColumn<QString>("askpass");
        QTest::addColumn<QString>("commandTail");
        QTest::addColumn<bool>("commandRuns");
        QTest::addColumn<int>("loggedStatus");
        QTest::addColumn<int>("promptCount");
        QTest::newRow("cancelled") << "askpass_cancel"
                                   << "" << false << 1 << 1;
        QTest::newRow("wrong password") << "askpass_wrong"
                                        << "" << false << 1 << 1;
        QTest::newRow("command exits 1") << "askpass_right"
                                         << "; exit 1" << true << 0 << 1;
        QTest::newRow("shell killed by a signal") << "askpass_right"
                                                  << "; kill -KILL $$" << true << 0 << 1;
    }

    void failureLeavesProcessStateAlone() {
        QFETCH(QString, askpass);
        QFETCH(QString, commandTail);
        QFETCH(bool, commandRuns);
        QFETCH(int, loggedStatus);
        QFETCH(int, promptCount);
        const QString marker = path(QStringLiteral("ran"));
        QFile::remove(marker);
        const QString command = QStringLiteral("touch ") + singleQuoted(marker) + commandTail;
        const QByteArray path("/opt/keyloft-test/bin:/usr/bin:/bin");
        const QByteArray tmpdir = scratch_.path().toUtf8();
        setVariable("PATH", path);
        setVariable("TMPDIR", tmpdir);
        setChildSignalHandler(onChildSignal);

        const bool result = runShellWithAuthorization(services(askpass), QStringLiteral("Prompt"), command);

        const Handler handlerAfter = childSignalHandler();
        setChildSignalHandler(SIG_DFL);
        QVERIFY(!result);
        QCOMPARE(logLinesStartingWith(QStringLiteral("Failed")),
                 QStringList{failureLine(command, loggedStatus)});
        QCOMPARE(QFile::exists(marker), commandRuns);
        QCOMPARE(promptsShown().size(), promptCount);
        QCOMPARE(variable("PATH"), std::optional<QByteArray>(path));
        QCOMPARE(variable("TMPDIR"), std::optional<QByteArray>(tmpdir));
        QVERIFY(handlerAfter == onChildSignal);
    }

    void pathIsPutBack_data() {
        QTest::addColumn<QByteArray>("pathBefore");
        QTest::addColumn<bool>("wasSet");
        QTest::addColumn<QByteArray>("pathAfter");
        QTest::newRow("unset stays the shell's") << QByteArray() << false << QByteArray("/bin:/usr/bin");
        QTest::newRow("set") << QByteArray("/opt/keyloft-test/bin:/usr/bin:/bin") << true
                             << QByteArray("/opt/keyloft-test/bin:/usr/bin:/bin");
        QTest::newRow("empty") << QByteArray("") << true << QByteArray("");
    }

    void pathIsPutBack() {
        QFETCH(QByteArray, pathBefore);
        QFETCH(bool, wasSet);
        QFETCH(QByteArray, pathAfter);
        const std::optional<QByteArray> original = variable("PATH");
        setVariable("PATH", wasSet ? std::optional<QByteArray>(pathBefore) : std::nullopt);

        const bool result = runShellWithAuthorization(services(QStringLiteral("askpass_right")),
                                                      QStringLiteral("Prompt"), QStringLiteral("exit 0"));

        const std::optional<QByteArray> after = variable("PATH");
        setVariable("PATH", original);
        QVERIFY(result);
        QCOMPARE(after, std::optional<QByteArray>(pathAfter));
    }

    void temporaryFolderProbe_data() {
        QTest::addColumn<QString>("tmpdirBefore");
        QTest::addColumn<QString>("temporaryFolder");
        QTest::addColumn<QString>("homeFolder");
        QTest::addColumn<int>("failedProbes");
        QTest::addColumn<QString>("shellTmpdir");
        // "@name" stands for a folder in the scratch folder; "good" ones exist, "gone" ones do not;
        // an empty text is a folder the system does not know.
        QTest::newRow("usable") << "@good1"
                                << "@good2"
                                << "@good2" << 0 << "@good1";
        QTest::newRow("fails once") << "@gone1"
                                    << "@good1"
                                    << "@good2" << 1 << "@good1";
        QTest::newRow("fails twice") << "@gone1"
                                     << "@gone2"
                                     << "@good2" << 2 << "@good2";
        QTest::newRow("fails three times") << "@gone1"
                                           << "@gone2"
                                           << "@gone3" << 3 << "@gone3";
        QTest::newRow("no folder to try") << "@gone1"
                                          << ""
                                          << "" << 3 << "@gone1";
    }

    void temporaryFolderProbe() {
        QFETCH(QString, tmpdirBefore);
        QFETCH(QString, temporaryFolder);
        QFETCH(QString, homeFolder);
        QFETCH(int, failedProbes);
        QFETCH(QString, shellTmpdir);
        QTemporaryDir folders;
        QVERIFY(folders.isValid());
        QVERIFY(QDir(folders.path()).mkpath(QStringLiteral("good1")));
        QVERIFY(QDir(folders.path()).mkpath(QStringLiteral("good2")));
        const auto resolve = [&](const QString& name) -> std::optional<QByteArray> {
            if (name.isEmpty())
                return std::nullopt;
            return folders.filePath(name.mid(1)).toUtf8();
        };
        const QString seen = path(QStringLiteral("tmpdir"));
        const QString command =
            QStringLiteral("umask 022; printf '%s' \"${TMPDIR-unset}\" > ") + singleQuoted(seen);
        setVariable("TMPDIR", resolve(tmpdirBefore));
        const int descriptorsBefore = openDescriptorCount();

        const bool result = runShellWithAuthorization(
            services(QStringLiteral("askpass_right"), resolve(temporaryFolder), resolve(homeFolder)),
            QStringLiteral("Prompt"), command);

        const std::optional<QByteArray> tmpdirAfter = variable("TMPDIR");
        ::unsetenv("TMPDIR");
        QVERIFY(result);
        const QStringList notices{QStringLiteral("tmpfile failed. Trying again with NSTemporaryDirectory()"),
                                  QStringLiteral("tmpfile failed. Trying again with NSHomeDirectory()"),
                                  QStringLiteral("tmpfile failed. Giving up.")};
        QCOMPARE(logLinesStartingWith(QStringLiteral("tmpfile failed.")), notices.mid(0, failedProbes));
        QCOMPARE(contents(QStringLiteral("tmpdir")), *resolve(shellTmpdir));
        QCOMPARE(tmpdirAfter, resolve(tmpdirBefore));
        // The probes leave no file and no descriptor behind.
        QCOMPARE(QDir(folders.filePath(QStringLiteral("good1")))
                     .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        QCOMPARE(QDir(folders.filePath(QStringLiteral("good2")))
                     .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        QCOMPARE(openDescriptorCount(), descriptorsBefore);
    }

    void collectsOnlyItsOwnShell_data() {
        QTest::addColumn<int>("shellExit");
        QTest::addColumn<int>("otherChildExit");
        QTest::newRow("other child succeeds, shell fails") << 1 << 0;
        QTest::newRow("other child fails, shell succeeds") << 0 << 3;
    }

    // Another child of the tool that ends while the shell still runs is neither taken for the shell nor
    // collected in its place.
    void collectsOnlyItsOwnShell() {
        QFETCH(int, shellExit);
        QFETCH(int, otherChildExit);
        const pid_t other = spawnShell("sleep 0.2; exit " + QByteArray::number(otherChildExit));
        QVERIFY(other > 0);

        const bool result =
            runShellWithAuthorization(services(QStringLiteral("askpass_right")), QStringLiteral("Prompt"),
                                      QStringLiteral("sleep 1.5; exit %1").arg(shellExit));

        const int otherStatus = waitFor(other);
        QCOMPARE(result, shellExit == 0);
        QVERIFY(WIFEXITED(otherStatus));
        QCOMPARE(WEXITSTATUS(otherStatus), otherChildExit);
    }

    void childSignalDispositionIsPutBack_data() {
        QTest::addColumn<int>("disposition");
        QTest::newRow("default") << 0;
        QTest::newRow("ignored") << 1;
        QTest::newRow("handled") << 2;
    }

    // Even a tool that ignores SIGCHLD gets its shell's exit status, and keeps its disposition.
    void childSignalDispositionIsPutBack() {
        QFETCH(int, disposition);
        const Handler before = disposition == 0 ? SIG_DFL : disposition == 1 ? SIG_IGN : onChildSignal;
        setChildSignalHandler(before);

        const bool succeeded = runShellWithAuthorization(services(QStringLiteral("askpass_right")),
                                                         QStringLiteral("Prompt"), QStringLiteral("exit 0"));
        const Handler after = childSignalHandler();
        const bool failed = runShellWithAuthorization(services(QStringLiteral("askpass_right")),
                                                      QStringLiteral("Prompt"), QStringLiteral("exit 4"));

        setChildSignalHandler(SIG_DFL);
        QVERIFY(succeeded);
        QVERIFY(!failed);
        QVERIFY(after == before);
    }
};

QTEST_GUILESS_MAIN(TestRunShellWithAuthorization)
#include "tst_RunShellWithAuthorization.moc"
