// The privileged shell against the real sudo, as the throw-away administrator run_as_sudo_user.sh
// creates (as root); fake password programs stand in for the person typing.

#include "RunShellWithAuthorization.h"
#include "support/ProgramRuns.h"

#include <QtTest>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Handler = void (*)(int);
using Variable = std::optional<QByteArray>;

void onChildSignal(int) {}

// Without SA_RESTART (which std::signal would set), so that a wait the signal interrupts fails with EINTR.
Handler setChildSignalHandler(Handler handler) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = handler;
    sigaction(SIGCHLD, &action, &previous);
    return previous.sa_handler;
}

Variable variable(const char* name) {
    return std::getenv(name) ? Variable(std::getenv(name)) : std::nullopt;
}

pid_t spawnShell(QByteArray script) {
    QByteArray shell("/bin/sh"), dashC("-c");
    char* argv[] = {shell.data(), dashC.data(), script.data(), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

bool exitsWithZero(pid_t pid) {
    int status = -1;
    while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
    }
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

class TestRunShellWithAuthorization : public QObject {
    Q_OBJECT

    QString helpers_;
    QTemporaryDir scratch_;

    [[nodiscard]] QString path(const char* name) const { return scratch_.filePath(QLatin1String(name)); }
    [[nodiscard]] QString quoted(const char* name) const { return '\'' + path(name) + '\''; }

    [[nodiscard]] QByteArray contents(const char* name) const { return readFile(path(name), "<missing>"); }

    [[nodiscard]] RunShellWithAuthorizationServices services(const QString& askpass, Variable temporary = {},
                                                             Variable home = {}) const {
        return RunShellWithAuthorizationServices{SudoAuthorization(helpers_ + '/' + askpass),
                                                 [temporary] { return temporary; }, [home] { return home; }};
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("KEYLOFT_SUDO_TEST_PASSWORD"))
            QSKIP("needs the throw-away sudo user: run as root through ctest "
                  "(tst_runshellwithauthorization_as_admin)");
        helpers_ = qEnvironmentVariable("KEYLOFT_SUDO_TEST_HELPERS");
        QVERIFY(scratch_.isValid());
        QCOMPARE(::chmod(QFile::encodeName(scratch_.path()).constData(), 0705), 0);
        qputenv("KEYLOFT_ASKPASS_LOG", path("prompts.log").toUtf8());
    }

    // Each case starts without cached credentials, so every password request shows.
    void init() {
        QVERIFY(exitsWithZero(spawnShell("/usr/bin/sudo -K")));
        for (const char* name : {"prompts.log", "ran", "seen"})
            QFile::remove(path(name));
    }

    void bundledPasswordProgram_data() {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<bool>("granted");
        QTest::newRow("typed")
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
        const ScopedEnv onDisplay("DISPLAY", display), onX11("QT_QPA_PLATFORM", QByteArray("xcb"));
        // A dialog that stays after the keys is closed, so the case fails instead of hanging.
        const pid_t person = spawnShell(
            "w=$(timeout 60 xdotool search --sync --onlyvisible --classname keyloft-askpass | head -n 1) && "
            "xdotool windowfocus --sync \"$w\" && " +
            keys +
            "; for i in $(seq 50); do xdotool search --classname keyloft-askpass >/dev/null || exit 0; "
            "sleep 0.1; done; xdotool search --classname keyloft-askpass windowkill; exit 1");
        QVERIFY(person > 0);

        const bool result = runShellWithAuthorization(services(QStringLiteral("keyloft-askpass")),
                                                      QStringLiteral("Please enter your password.\n\nTest. "),
                                                      "touch " + quoted("ran"));

        QVERIFY(exitsWithZero(person));
        QCOMPARE(result, granted);
        QCOMPARE(QFile::exists(path("ran")), granted);
    }

    void runsAsAdministratorAndLeavesProcessStateAlone_data() {
        QTest::addColumn<QString>("askpass");
        QTest::addColumn<QString>("commandTail");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<int>("loggedStatus");
        QTest::addColumn<QByteArray>("pathBefore"); // "-": unset
        QTest::addColumn<int>("sigchld");           // 0 default, 1 ignored, 2 handled
        const auto row = [](const char* name, const char* askpass, const char* tail, bool succeeds,
                            int status, const QByteArray& path, int sigchld) {
            QTest::newRow(name) << QString::fromLatin1(askpass) << QString::fromLatin1(tail) << succeeds
                                << status << path << sigchld;
        };
        const QByteArray set("/opt/keyloft-test/bin:/usr/bin:/bin");
        row("succeeds, PATH unset", "askpass_right", "", true, 0, "-", 0);
        row("succeeds, PATH set, SIGCHLD handled", "askpass_right", "", true, 0, set, 2);
        row("cancelled, PATH empty", "askpass_cancel", "", false, 1, "", 0);
        row("command exits 1, SIGCHLD handled", "askpass_right", "; exit 1", false, 0, set, 2);
        row("shell killed by a signal", "askpass_right", "; kill -KILL $$", false, 0, set, 0);
        // The kernel collects sudo itself: its outcome is unknown, which is no success.
        row("SIGCHLD ignored", "askpass_right", "", false, -1, set, 1);
    }

    // The shell runs as root with PATH "/bin:/usr/bin" and the caller's F1-F3 and THEUSER. Whatever happens,
    // PATH, TMPDIR, SUDO_ASKPASS and the SIGCHLD disposition stay; a failure logs one line with its status.
    void runsAsAdministratorAndLeavesProcessStateAlone() {
        QFETCH(QString, askpass);
        QFETCH(QString, commandTail);
        QFETCH(bool, succeeds);
        QFETCH(int, loggedStatus);
        QFETCH(QByteArray, pathBefore);
        QFETCH(int, sigchld);
        const QString prompt = QStringLiteral("Please enter your password.\n\nFolder 100% %u reset. ");
        const QByteArrayList passed{"/home/x/Library/Application Support/Keyloft",
                                    "/home/x/it's \"quoted\" $HOME", "/home/x/Library/LaunchAgents", "x"};
        for (int i = 0; const char* name : {"F1", "F2", "F3", "THEUSER"})
            qputenv(name, passed[i++]);
        // A password program the desktop session names for itself is neither used nor changed.
        const QByteArray sessionAskpass = (helpers_ + QStringLiteral("/askpass_cancel")).toUtf8();
        const ScopedEnv askpassOfSession("SUDO_ASKPASS", sessionAskpass);
        const Variable path = pathBefore == "-" ? Variable() : Variable(pathBefore);
        const ScopedEnv pathEnv("PATH", path);
        const ScopedEnv tmpdir("TMPDIR", scratch_.path().toUtf8());
        const QString command =
            QStringLiteral(
                "umask 022; { id -u; printf '%s\\n' \"$PATH\" \"$F1\" \"$F2\" \"$F3\" \"$THEUSER\"; } > ") +
            quoted("seen") + commandTail;
        const Handler handler = sigchld == 0 ? SIG_DFL : sigchld == 1 ? SIG_IGN : onChildSignal;
        setChildSignalHandler(handler);
        const SystemLogCapture log;

        const bool result = runShellWithAuthorization(services(askpass), prompt, command);

        QVERIFY(setChildSignalHandler(SIG_DFL) == handler);
        QCOMPARE((QList<Variable>{variable("PATH"), variable("TMPDIR"), variable("SUDO_ASKPASS")}),
                 (QList<Variable>{path, scratch_.path().toUtf8(), sessionAskpass}));
        QCOMPARE(result, succeeds);
        const QString failure = u"Failed to run shell command '%1' with authorization, status: %2"_qs;
        QCOMPARE(log.messages().filter(QStringLiteral("Failed")),
                 succeeds ? QStringList() : QStringList{failure.arg(command).arg(loggedStatus)});
        const bool shellRan = askpass == QLatin1String("askpass_right") && sigchld != 1;
        QCOMPARE(contents("seen"),
                 shellRan ? "0\n/bin:/usr/bin\n" + passed.join('\n') + '\n' : QByteArray("<missing>"));
        // One request, shown byte for byte ("length\nprompt\n"), covers the authorization and the run.
        const QByteArray shown = prompt.toUtf8();
        QCOMPARE(contents("prompts.log"), QByteArray::number(shown.size()) + '\n' + shown + '\n');
    }

    void temporaryFolderProbe_data() {
        // TMPDIR before, the temporary folder, the home folder, failed probes, the TMPDIR the shell sees:
        // folders in a scratch folder, "good" ones exist, "gone" ones do not; "-": the system knows none.
        QTest::addColumn<QString>("plan");
        QTest::newRow("usable") << "good1 good2 good2 0 good1";
        QTest::newRow("fails once") << "gone1 good1 good2 1 good1";
        QTest::newRow("fails twice") << "gone1 gone2 good2 2 good2";
        QTest::newRow("fails three times") << "gone1 gone2 gone3 3 gone3";
        QTest::newRow("no folder to try") << "gone1 - - 3 gone1";
    }

    void temporaryFolderProbe() {
        QFETCH(QString, plan);
        const QStringList p = plan.split(' '); // before, temporary, home, failed, seen
        QTemporaryDir folders;
        QVERIFY(QDir(folders.path()).mkpath("good1") && QDir(folders.path()).mkpath("good2"));
        const auto resolve = [&](const QString& name) {
            return name == "-" ? Variable() : Variable(folders.filePath(name).toUtf8());
        };
        const ScopedEnv tmpdir("TMPDIR", resolve(p[0]));
        const int descriptorsBefore = QDir(QStringLiteral("/proc/self/fd")).count();
        const SystemLogCapture log;

        QVERIFY(runShellWithAuthorization(
            services(QStringLiteral("askpass_right"), resolve(p[1]), resolve(p[2])), QStringLiteral("Prompt"),
            "umask 022; printf '%s' \"${TMPDIR-unset}\" > " + quoted("tmpdir")));

        QCOMPARE(log.messages().filter(QStringLiteral("tmpfile failed")).size(), p[3].toInt());
        QCOMPARE(contents("tmpdir"), *resolve(p[4]));
        QCOMPARE(variable("TMPDIR"), resolve(p[0]));
        for (const char* folder : {"good1", "good2"})
            QVERIFY(QDir(folders.filePath(QLatin1String(folder))).isEmpty());
        QCOMPARE(QDir(QStringLiteral("/proc/self/fd")).count(), descriptorsBefore);
    }

    // Another child of the tool that succeeds while the failing shell still runs is neither taken for the
    // shell nor collected in its place.
    void collectsOnlyItsOwnShell() {
        const pid_t other = spawnShell("sleep 0.2; exit 0");
        QVERIFY(other > 0);
        QVERIFY(!runShellWithAuthorization(services(QStringLiteral("askpass_right")),
                                           QStringLiteral("Prompt"), QStringLiteral("sleep 1.5; exit 1")));
        QVERIFY(exitsWithZero(other));
    }
};

QTEST_GUILESS_MAIN(TestRunShellWithAuthorization)
#include "tst_runshellwithauthorization.moc"
