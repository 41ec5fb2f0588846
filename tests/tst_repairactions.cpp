// What the sudo service decides before sudo runs; the repairs with the privileged shell and the alert
// stubbed (the folder repair also run by real bash); then the privileged shell with a stand-in for sudo.
// The work with the real sudo: tst_runshellwithauthorization.

#include "Platform/SpawnSetup.h"
#include "RepairActions.h"
#include "RunShellWithAuthorization.h"
#include "VTScriptUtils.h"
#include "support/ProgramRuns.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

enum Repair { FolderPermissions, ExtendedAttributes, LaunchServices };
constexpr void (RepairActions::*kRepairs[])() const = {&RepairActions::resetFolderPermissions,
                                                       &RepairActions::repairExtendedAttributes,
                                                       &RepairActions::resetLaunchServicesDb};

// Marks every text that went through the localization lookup.
class MarkingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* sourceText, const char*, int) const override {
        return qstrcmp(context, "Localizable") == 0 ? QStringLiteral("[de] ") + QString::fromUtf8(sourceText)
                                                    : QString();
    }
    [[nodiscard]] bool isEmpty() const override { return false; }
};

// The privileged shell with `sudo` standing in for sudo and the password program that is never run.
RunShellWithAuthorizationServices standInServices(const QString& sudo) {
    return RunShellWithAuthorizationServices{SudoAuthorization(QStringLiteral("/bin/false"), sudo),
                                             [] { return std::nullopt; }, [] { return std::nullopt; }};
}

int mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

} // namespace

class TestRepairActions : public QObject {
    Q_OBJECT

    MarkingTranslator translator_;
    VTSystemLogSink previousSink_;
    QStringList events_; // everything the repairs did, in order: "kind|text|text"
    bool shellAnswer_ = true;
    bool runWithBash_ = false; // the stubbed shell runs the command with real bash, without sudo
    std::optional<UserAccount> account_;

    // Runs the repair; answers what happened, every localized text reduced to its mark.
    QStringList run(Repair repair) {
        events_.clear();
        const RepairActions actions(RepairServices{
            [this](const QString& prompt, const QString& command) {
                events_ << "shell|" + prompt + '|' + command;
                QProcess bash; // its complaints about options Linux lacks stay in the pipe
                if (runWithBash_)
                    bash.start(QStringLiteral("/bin/bash"), {"-c", command});
                bash.waitForFinished();
                return shellAnswer_;
            },
            [this](const QString& title, const QString& message) {
                events_ << "alert|" + title + '|' + message;
            },
            [this] { return account_; },
        });
        (actions.*kRepairs[repair])();
        return events_.replaceInStrings(QRegularExpression("\\[de\\] [^|]+"), "[de]");
    }

private slots:
    void initTestCase() {
        QVERIFY(QCoreApplication::installTranslator(&translator_));
        previousSink_ = vt_setSystemLogSink([this](const QString& line) { events_.append("log|" + line); });
    }

    void cleanupTestCase() { vt_setSystemLogSink(previousSink_); }

    void init() {
        shellAnswer_ = true;
        runWithBash_ = false;
        account_ = UserAccount{QStringLiteral("jdoe"), 501};
    }

    // First, while this process has no child yet. A NUL would cut the text short on sudo's command line, and
    // /bin/true would grant anything: the refusal must come before sudo runs.
    void sudoIsNotStartedForTextsWithNul_data() {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("command");
        QTest::newRow("command") << "Prompt" << QString::fromUtf16(u"true\0; rm -rf /tmp/x", 20);
        QTest::newRow("prompt") << QString::fromUtf16(u"Pro\0mpt", 7) << "true";
    }
    void sudoIsNotStartedForTextsWithNul() {
        QFETCH(QString, prompt);
        QFETCH(QString, command);
        const SudoAuthorization authorization(QStringLiteral("/bin/false"), QStringLiteral("/bin/true"));
        const SudoStart start = authorization.startShell(prompt, command, std::nullopt);
        QVERIFY(start.status == EINVAL && start.pid == -1);
        QVERIFY(!prompt.contains(QChar(u'\0')) || authorization.preauthorize(prompt) == -1);
        QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1); // no child was started
    }

    void missingSudoIsAFailure() {
        const SudoAuthorization authorization(QStringLiteral("/bin/false"),
                                              QStringLiteral("/nonexistent/sudo"));
        QCOMPARE(authorization.preauthorize(QStringLiteral("Prompt")), -1);
        const SudoStart start =
            authorization.startShell(QStringLiteral("Prompt"), QStringLiteral("true"), {});
        QVERIFY(start.status == ENOENT && start.pid == -1);
    }

    void sudoPromptReachesPasswordProgramUnexpanded() {
        QCOMPARE(SudoAuthorization::sudoPromptArgument(u"%u für %h %p %U %H %%"_qs),
                 QString("%%u für %%h %%p %%U %%H %%%%").toUtf8());
    }

    // The person hears of a repair only when it succeeded (a cancelled password is a failure); the
    // command line is logged before the password is asked for.
    void handsOverPromptAndCommand() {
        const QString overrides("/var/db/launchd.db/com.apple.launchd.peruser.501/overrides.plist");
        const std::pair<Repair, QString> repairs[] = {
            {FolderPermissions, RepairActions::folderPermissionsCommand()},
            {ExtendedAttributes, "/usr/sbin/chown jdoe:wheel " + overrides + "; /bin/chmod -N " + overrides},
            {LaunchServices, RepairActions::launchServicesCommand()}};
        for (const auto& [repair, command] : repairs) {
            for (const bool answer : {true, false}) {
                shellAnswer_ = answer;
                QStringList expected{"shell|[de]|" + command};
                if (repair == ExtendedAttributes)
                    expected.prepend("log|Running " + command);
                if (answer)
                    expected << "alert|[de]|[de]";
                QCOMPARE(run(repair), expected);
            }
        }
    }

    void extendedAttributesWithoutAccount() {
        account_.reset();
        QCOMPARE(run(ExtendedAttributes), QStringList{"alert|[de]|[de]"});
    }

    // Run by real bash in a home whose name needs quoting; F1-F3 and THEUSER stay set afterwards.
    void folderPermissionsMendsTheFolders() {
        QTemporaryDir scratch;
        const QString home = scratch.filePath(QStringLiteral("J. \"Doe\" O'Neil $HOME"));
        const QString f1 = home + "/Library/Application Support/Keyloft",
                      f2 = home + "/Library/ScriptingAdditions", f3 = home + "/Library/LaunchAgents";
        const QString settings = f1 + "/sub/settings", addition = f2 + "/Keyloft Addition.osax/x",
                      agent = f3 + "/com.vantlesoft.KeyloftAgent.plist";
        QVERIFY(writeFile(settings, {}, {}) && writeFile(addition, {}, {}) && writeFile(agent, {}));
        for (const auto& [folder, permissions] : {std::pair{f2, 0777}, {f3, 0755}, {f1, 01500}})
            QCOMPARE(::chmod(QFile::encodeName(folder), permissions), 0);
        const ScopedEnv homeEnv("HOME", home.toUtf8());
        runWithBash_ = true;

        run(FolderPermissions);

        for (const auto& [path, expected] :
             {std::pair{f1, 0700}, {settings, 0600}, {addition, 0600}, {f2, 0700}, {f3, 0700}, {agent, 0644}})
            QVERIFY2(mode(path) == expected, qPrintable(path + ": " + QString::number(mode(path), 8)));
        const QStringList variables{qEnvironmentVariable("F1"), qEnvironmentVariable("F2"),
                                    qEnvironmentVariable("F3"), qEnvironmentVariable("THEUSER")};
        QCOMPARE(variables, (QStringList{f1, f2, f3, QString::fromLocal8Bit(getpwuid(getuid())->pw_name)}));
    }

    void theWindowKeepsTurningWhileTheShellWaits_data() {
        QTest::addColumn<QByteArray>("slowWhen"); // the stand-in takes its time when called with it
        QTest::newRow("asking for the password") << QByteArray("-v");
        QTest::newRow("running the shell") << QByteArray("-c");
    }
    // The stand-in takes its time, as a person and a repair do; a timer keeps firing meanwhile.
    void theWindowKeepsTurningWhileTheShellWaits() {
        QFETCH(QByteArray, slowWhen);
        QTemporaryDir dir;
        const QString sudo = dir.filePath(QStringLiteral("sudo"));
        QVERIFY(writeFile(sudo, "#!/bin/sh\ncase \" $* \" in *\" " + slowWhen + " \"*) sleep 0.3 ;; esac\n",
                          QFile::ReadOwner | QFile::ExeOwner));
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(20);

        QVERIFY(runShellWithAuthorization(standInServices(sudo), QStringLiteral("Prompt"),
                                          QStringLiteral("true")));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    // Repairs, each as the first of a run (its variables new to the environment), while a thread runs
    // report-style children: every child starts and sees the tool's own PATH.
    void aRepairDuringAReportChangesNothingItsChildrenSee() {
        const QByteArray path = qgetenv("PATH");
        const RepairActions actions(RepairServices{
            [](const QString& prompt, const QString& command) {
                return runShellWithAuthorization(standInServices(QStringLiteral("/bin/true")), prompt,
                                                 command);
            },
            [](const QString&, const QString&) {},
            [] { return std::nullopt; },
        });
        std::atomic<bool> reportDone{false};
        QStringList faults;
        std::thread report([&] {
            for (int i = 0; i < 400; ++i) {
                const QVariantMap result = runScriptWaitForExit(QStringLiteral("printf '%s' \"$PATH\""),
                                                                std::nullopt, std::nullopt, true);
                if (result.value("status") != QVariant(0) || result.value("out").toString().toUtf8() != path)
                    faults << result.value("err").toString() + result.value("out").toString();
            }
            reportDone = true;
        });
        int repairs = 0;
        for (; !reportDone; ++repairs) {
            for (const char* name : {"F1", "F2", "F3", "THEUSER"})
                vt_unsetEnvironmentVariable(name);
            actions.resetFolderPermissions();
        }
        report.join();
        QVERIFY(repairs > 10);
        QVERIFY2(faults.isEmpty(), qPrintable(QString::number(faults.size()) + ": " + faults.value(0)));
    }
};

QTEST_MAIN(TestRepairActions)
#include "tst_repairactions.moc"
