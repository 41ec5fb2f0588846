// The privileged shell against the real sudo. Needs the throw-away administrator that
// run_as_sudo_user.sh creates (as root); fake password programs stand in for the person typing.

#include "Platform/SystemLog.h"
#include "PrivilegedShell.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Handler = void (*)(int);
using Variable = std::optional<QByteArray>;

void onChildSignal(int) {}

Handler setChildSignalHandler(Handler handler) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = handler;
    sigaction(SIGCHLD, &action, &previous);
    return previous.sa_handler;
}

Variable variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? Variable(value) : std::nullopt;
}

void setVariable(const char* name, const Variable& value) {
    value ? ::setenv(name, value->constData(), 1) : ::unsetenv(name);
}

pid_t spawnShell(QByteArray script) {
    QByteArray shell("/bin/sh"), dashC("-c");
    char* argv[] = {shell.data(), dashC.data(), script.data(), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) == -1)
        if (errno != EINTR)
            return -1;
    return status;
}

QString quoted(const QString& path) {
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

} // namespace

class TestRunShellWithAuthorization : public QObject {
    Q_OBJECT

    QString helpers_;
    QTemporaryDir scratch_;
    QStringList systemLog_;
    VTSystemLogSink previousSink_;

    [[nodiscard]] QString path(const QString& name) const { return scratch_.filePath(name); }

    [[nodiscard]] PrivilegedShellServices services(const QString& askpass, Variable temporary = {},
                                                   Variable home = {}) const {
        return PrivilegedShellServices{SudoAuthorization(helpers_ + QLatin1Char('/') + askpass),
                                       [temporary] { return temporary; }, [home] { return home; }};
    }

    // The prompts the password programs were shown, in order, byte for byte ("length\nprompt\n" each).
    [[nodiscard]] QStringList promptsShown() const {
        QFile file(path(QStringLiteral("prompts.log")));
        QStringList prompts;
        const QByteArray log = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        for (qsizetype at = 0, lineEnd; (lineEnd = log.indexOf('\n', at)) >= 0;) {
            const qsizetype length = log.mid(at, lineEnd - at).toLongLong();
            prompts.append(QString::fromUtf8(log.mid(lineEnd + 1, length)));
            at = lineEnd + 1 + length + 1;
        }
        return prompts;
    }

    [[nodiscard]] QStringList logLinesStartingWith(const QString& start) const {
        return systemLog_.filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(start)));
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
        ::setenv("KEYLOFT_ASKPASS_LOG", path(QStringLiteral("prompts.log")).toUtf8().constData(), 1);
        previousSink_ = vt_setSystemLogSink([this](const QString& message) { systemLog_.append(message); });
    }

    void cleanupTestCase() { vt_setSystemLogSink(previousSink_); }

    void init() {
        // Each case starts without cached credentials, so every password request shows.
        QCOMPARE(waitFor(spawnShell("/usr/bin/sudo -K")), 0);
        QFile::remove(path(QStringLiteral("prompts.log")));
        QFile::remove(path(QStringLiteral("ran")));
        QFile::remove(path(QStringLiteral("seen")));
        systemLog_.clear();
    }

    void bundledPasswordProgram_data() {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<bool>("granted");
        QTest::newRow("password typed")
            << QByteArray("xdotool type --delay 5 \"$KEYLOFT_SUDO_TEST_PASSWORD\"; xdotool key Return")
            << true;
        QTest::newRow("cancelled") << QByteArray("xdotool key Escape") << false;
    }

    // The shipped password dialog, typed into on a real X server, grants the rights or cancels them.
    void bundledPasswordProgram() {
        QFETCH(QByteArray, keys);
        QFETCH(bool, granted);
        const QByteArray display = qgetenv("KEYLOFT_TEST_DISPLAY");
        if (display.isEmpty() || !QFile::exists(QStringLiteral("/usr/bin/xdotool")))
            QSKIP("needs xdotool and the X server that scripts/test starts (KEYLOFT_TEST_DISPLAY)");
        const Variable platform = variable("QT_QPA_PLATFORM");
        setVariable("DISPLAY", display);
        setVariable("QT_QPA_PLATFORM", QByteArray("xcb"));
        // A dialog that stays after the keys is closed, so the case fails instead of hanging.
        const pid_t person = spawnShell(
            "w=$(timeout 60 xdotool search --sync --onlyvisible --classname keyloft-askpass | head -n 1) && "
            "xdotool windowfocus --sync \"$w\" && " +
            keys +
            "; for i in $(seq 50); do xdotool search --classname keyloft-askpass >/dev/null || exit 0; "
            "sleep 0.1; done; xdotool search --classname keyloft-askpass windowkill; exit 1");
        QVERIFY(person > 0);

        const bool result =
            runShellWithAuthorization(services(QStringLiteral("keyloft-askpass")),
                                      QStringLiteral("Please enter your password.\n\nTest. "),
                                      QStringLiteral("touch ") + quoted(path(QStringLiteral("ran"))));

        const int personStatus = waitFor(person);
        setVariable("QT_QPA_PLATFORM", platform);
        ::unsetenv("DISPLAY");
        QVERIFY(WIFEXITED(personStatus) && WEXITSTATUS(personStatus) == 0);
        QCOMPARE(result, granted);
        QCOMPARE(QFile::exists(path(QStringLiteral("ran"))), granted);
    }

    void runsAsAdministratorAndLeavesProcessStateAlone_data() {
        QTest::addColumn<QString>("askpass");
        QTest::addColumn<QString>("commandTail");
        QTest::addColumn<int>("loggedStatus");      // -1: succeeds, nothing logged
        QTest::addColumn<QByteArray>("pathBefore"); // "-": unset
        QTest::addColumn<QByteArray>("pathAfter");
        QTest::addColumn<int>("sigchld"); // 0 default, 1 ignored, 2 handled
        const auto row = [](const char* name, const char* askpass, const char* tail, int status,
                            const QByteArray& before, const QByteArray& after, int sigchld) {
            QTest::newRow(name) << QString::fromLatin1(askpass) << QString::fromLatin1(tail) << status
                                << before << after << sigchld;
        };
        const QByteArray set("/opt/keyloft-test/bin:/usr/bin:/bin");
        row("succeeds, PATH unset stays the shell's, SIGCHLD ignored", "askpass_right", "", -1, "-",
            "/bin:/usr/bin", 1);
        row("succeeds, PATH set, SIGCHLD handled", "askpass_right", "", -1, set, set, 2);
        row("cancelled, PATH empty", "askpass_cancel", "", 1, "", "", 0);
        row("wrong password", "askpass_wrong", "", 1, set, set, 2);
        row("command exits 1, SIGCHLD ignored", "askpass_right", "; exit 1", 0, set, set, 1);
        row("shell killed by a signal", "askpass_right", "; kill -KILL $$", 0, set, set, 0);
    }

    // The shell runs as root with PATH "/bin:/usr/bin" and the caller's F1-F3 and THEUSER, after one
    // password request showing the prompt exactly. Whatever the outcome, PATH, TMPDIR, SUDO_ASKPASS and
    // the SIGCHLD disposition are as they were; the exit status is seen even by a process that ignores
    // SIGCHLD; a failure is one line with the status.
    void runsAsAdministratorAndLeavesProcessStateAlone() {
        QFETCH(QString, askpass);
        QFETCH(QString, commandTail);
        QFETCH(int, loggedStatus);
        QFETCH(QByteArray, pathBefore);
        QFETCH(QByteArray, pathAfter);
        QFETCH(int, sigchld);
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
            QStringLiteral(
                "umask 022; { id -u; printf '%s\\n' \"$PATH\" \"$F1\" \"$F2\" \"$F3\" \"$THEUSER\"; } > ") +
            quoted(path(QStringLiteral("seen"))) + commandTail;
        const Handler handler = sigchld == 0 ? SIG_DFL : sigchld == 1 ? SIG_IGN : onChildSignal;
        const Variable originalPath = variable("PATH");
        setVariable("PATH", pathBefore == "-" ? Variable() : Variable(pathBefore));
        setVariable("TMPDIR", scratch_.path().toUtf8());
        setChildSignalHandler(handler);

        const bool result = runShellWithAuthorization(services(askpass), prompt, command);

        const Handler handlerAfter = setChildSignalHandler(SIG_DFL);
        const Variable pathAfterCall = variable("PATH");
        setVariable("PATH", originalPath);
        QCOMPARE(result, loggedStatus < 0);
        const QString failure =
            QStringLiteral("Failed to run shell command '%1' with authorization, status: %2");
        QCOMPARE(logLinesStartingWith(QStringLiteral("Failed")),
                 loggedStatus < 0 ? QStringList() : QStringList{failure.arg(command).arg(loggedStatus)});
        QCOMPARE(contents(QStringLiteral("seen")),
                 askpass == QLatin1String("askpass_right")
                     ? QByteArray("0\n/bin:/usr/bin\n"
                                  "/home/x/Library/Application Support/Keyloft\n"
                                  "/home/x/it's \"quoted\" $HOME\n"
                                  "/home/x/Library/LaunchAgents\nx\n")
                     : QByteArray("<missing>"));
        QCOMPARE(promptsShown(), QStringList{prompt}); // one request covers the authorization and the run
        QCOMPARE(pathAfterCall, Variable(pathAfter));
        QCOMPARE(variable("TMPDIR"), Variable(scratch_.path().toUtf8()));
        QCOMPARE(variable("SUDO_ASKPASS"), Variable(sessionAskpass));
        QVERIFY(handlerAfter == handler);
        ::unsetenv("SUDO_ASKPASS");
    }

    void temporaryFolderProbe_data() {
        QTest::addColumn<QString>("tmpdirBefore");
        QTest::addColumn<QString>("temporaryFolder");
        QTest::addColumn<QString>("homeFolder");
        QTest::addColumn<int>("failedProbes");
        QTest::addColumn<QString>("shellTmpdir");
        // Folders in a scratch folder: "good" ones exist, "gone" ones do not; empty: the system knows none.
        const auto row = [](const char* name, const char* tmpdir, const char* temporary, const char* home,
                            int failed, const char* seen) {
            QTest::newRow(name) << QString::fromLatin1(tmpdir) << QString::fromLatin1(temporary)
                                << QString::fromLatin1(home) << failed << QString::fromLatin1(seen);
        };
        row("usable", "good1", "good2", "good2", 0, "good1");
        row("fails once", "gone1", "good1", "good2", 1, "good1");
        row("fails twice", "gone1", "gone2", "good2", 2, "good2");
        row("fails three times", "gone1", "gone2", "gone3", 3, "gone3");
        row("no folder to try", "gone1", "", "", 3, "gone1");
    }

    void temporaryFolderProbe() {
        QFETCH(QString, tmpdirBefore);
        QFETCH(QString, temporaryFolder);
        QFETCH(QString, homeFolder);
        QFETCH(int, failedProbes);
        QFETCH(QString, shellTmpdir);
        QTemporaryDir folders;
        QVERIFY(QDir(folders.path()).mkpath(QStringLiteral("good1")) &&
                QDir(folders.path()).mkpath(QStringLiteral("good2")));
        const auto resolve = [&](const QString& name) {
            return name.isEmpty() ? Variable() : Variable(folders.filePath(name).toUtf8());
        };
        setVariable("TMPDIR", resolve(tmpdirBefore));
        const int descriptorsBefore = QDir(QStringLiteral("/proc/self/fd")).count();

        const bool result = runShellWithAuthorization(
            services(QStringLiteral("askpass_right"), resolve(temporaryFolder), resolve(homeFolder)),
            QStringLiteral("Prompt"),
            QStringLiteral("umask 022; printf '%s' \"${TMPDIR-unset}\" > ") +
                quoted(path(QStringLiteral("tmpdir"))));

        const Variable tmpdirAfter = variable("TMPDIR");
        ::unsetenv("TMPDIR");
        QVERIFY(result);
        const QStringList notices{QStringLiteral("tmpfile failed. Trying again with NSTemporaryDirectory()"),
                                  QStringLiteral("tmpfile failed. Trying again with NSHomeDirectory()"),
                                  QStringLiteral("tmpfile failed. Giving up.")};
        QCOMPARE(logLinesStartingWith(QStringLiteral("tmpfile failed.")), notices.mid(0, failedProbes));
        QCOMPARE(contents(QStringLiteral("tmpdir")), *resolve(shellTmpdir));
        QCOMPARE(tmpdirAfter, resolve(tmpdirBefore));
        // The probes leave no file and no descriptor behind.
        for (const char* folder : {"good1", "good2"})
            QCOMPARE(QDir(folders.filePath(QLatin1String(folder)))
                         .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList());
        QCOMPARE(QDir(QStringLiteral("/proc/self/fd")).count(), descriptorsBefore);
    }

    // Another child of the tool that succeeds while the failing shell still runs is neither taken for the
    // shell nor collected in its place.
    void collectsOnlyItsOwnShell() {
        const pid_t other = spawnShell("sleep 0.2; exit 0");
        QVERIFY(other > 0);

        const bool result =
            runShellWithAuthorization(services(QStringLiteral("askpass_right")), QStringLiteral("Prompt"),
                                      QStringLiteral("sleep 1.5; exit 1"));

        const int otherStatus = waitFor(other);
        QVERIFY(!result);
        QVERIFY(WIFEXITED(otherStatus) && WEXITSTATUS(otherStatus) == 0);
    }
};

QTEST_GUILESS_MAIN(TestRunShellWithAuthorization)
#include "tst_RunShellWithAuthorization.moc"
