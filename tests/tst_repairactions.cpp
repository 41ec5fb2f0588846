// The three repairs with the privileged shell and the alert panel stubbed: what is handed over, in
// which order, and when the person is told; the folder repair's command run by real bash against a
// scratch home. Then the privileged shell with a stand-in for sudo: the window keeps turning while it
// waits, and a repair during a report changes nothing the report's children see.

#include "Platform/SpawnSetup.h"
#include "Platform/SystemLog.h"
#include "RepairActions.h"
#include "RunShellWithAuthorization.h"
#include "VTScriptUtils.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <atomic>
#include <pwd.h>
#include <sys/stat.h>
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

// The permission bits of a file (sticky bit included), or -1 when it is not there.
int mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

bool makeFile(const QString& path, int permissions) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && ::chmod(QFile::encodeName(path).constData(), permissions) == 0;
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

    void run(Repair repair) {
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
    }

private slots:
    void initTestCase() {
        QVERIFY(QCoreApplication::installTranslator(&translator_));
        previousSink_ = vt_setSystemLogSink([this](const QString& line) { events_.append("log|" + line); });
    }

    void cleanupTestCase() { vt_setSystemLogSink(previousSink_); }

    void init() {
        events_.clear();
        shellAnswer_ = true;
        runWithBash_ = false;
        account_ = UserAccount{QStringLiteral("jdoe"), 501};
    }

    // The prompt and the command go to the privileged shell once; the person hears of the repair only
    // when it succeeded (a cancelled password ends the same way as a failure). In order: the whole command
    // line is logged before the password is asked for. Every text the person sees is localized.
    void handsOverPromptAndCommand() {
        const QString overrides("/var/db/launchd.db/com.apple.launchd.peruser.501/overrides.plist");
        const std::pair<Repair, QString> repairs[] = {
            {FolderPermissions, RepairActions::folderPermissionsCommand()},
            {ExtendedAttributes, "/usr/sbin/chown jdoe:wheel " + overrides + "; /bin/chmod -N " + overrides},
            {LaunchServices, RepairActions::launchServicesCommand()}};
        for (const auto& [repair, command] : repairs) {
            for (const bool answer : {true, false}) {
                events_.clear();
                shellAnswer_ = answer;
                run(repair);
                QStringList expected;
                if (repair == ExtendedAttributes)
                    expected << "log|Running " + command;
                expected << "shell|[de]|" + command;
                if (answer)
                    expected << "alert|[de]|[de]";
                QCOMPARE(events_.replaceInStrings(QRegularExpression("\\[de\\] [^|]+"), "[de]"), expected);
            }
        }
    }

    void extendedAttributesWithoutAccount() {
        account_.reset();
        run(ExtendedAttributes);
        QCOMPARE(events_.replaceInStrings(QRegularExpression("\\[de\\] [^|]+"), "[de]"),
                 QStringList{"alert|[de]|[de]"});
    }

    // The folder repair run by real bash in a home whose name needs quoting: unreadable files become the
    // user's to read and write again, sticky bits go, the two private folders are closed to others and the
    // agent's settings file is readable. F1-F3 and THEUSER stay set afterwards.
    void folderPermissionsMendsTheFolders() {
        QTemporaryDir scratch;
        const QString home = scratch.filePath(QStringLiteral("J. \"Doe\" O'Neil $HOME"));
        const QString f1 = home + "/Library/Application Support/Keyloft",
                      f2 = home + "/Library/ScriptingAdditions", f3 = home + "/Library/LaunchAgents";
        const QString settings = f1 + "/sub/settings", addition = f2 + "/Keyloft Addition.osax/x",
                      agent = f3 + "/com.vantlesoft.KeyloftAgent.plist";
        QVERIFY(QDir().mkpath(f1 + "/sub") && QDir().mkpath(f2 + "/Keyloft Addition.osax") &&
                QDir().mkpath(f3));
        QVERIFY(makeFile(settings, 0) && makeFile(addition, 0) && makeFile(agent, 0600));
        QVERIFY(::chmod(QFile::encodeName(f2), 0777) == 0 && ::chmod(QFile::encodeName(f3), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(f1), 01500) == 0);
        const ScopedEnv homeEnv("HOME", home.toUtf8());
        runWithBash_ = true;

        run(FolderPermissions);

        for (const auto& [path, expected] :
             {std::pair{f1, 0700}, {settings, 0600}, {addition, 0600}, {f2, 0700}, {f3, 0700}, {agent, 0644}})
            QVERIFY2(mode(path) == expected, qPrintable(path + ": " + QString::number(mode(path), 8)));
        const passwd* entry = getpwuid(getuid());
        QVERIFY(entry);
        for (const auto& [name, value] : {std::pair{"F1", f1},
                                          {"F2", f2},
                                          {"F3", f3},
                                          {"THEUSER", QString::fromLocal8Bit(entry->pw_name)}})
            QCOMPARE(qEnvironmentVariable(name), value);
    }

    void theWindowKeepsTurningWhileTheShellWaits_data() {
        QTest::addColumn<QByteArray>("slowWhen"); // the stand-in takes its time when called with it
        QTest::newRow("asking for the password") << QByteArray("-v");
        QTest::newRow("running the shell") << QByteArray("-c");
    }
    // The stand-in takes a moment, as a person and a repair do; the event loop turns all the while (a
    // timer keeps firing).
    void theWindowKeepsTurningWhileTheShellWaits() {
        QFETCH(QByteArray, slowWhen);
        QTemporaryDir dir;
        QFile sudo(dir.filePath(QStringLiteral("sudo")));
        QVERIFY(sudo.open(QIODevice::WriteOnly) && sudo.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        sudo.write("#!/bin/sh\ncase \" $* \" in *\" " + slowWhen + " \"*) sleep 0.3 ;; esac\n");
        sudo.close();
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(20);

        QVERIFY(runShellWithAuthorization(standInServices(sudo.fileName()), QStringLiteral("Prompt"),
                                          QStringLiteral("true")));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    // Report-style runs on one thread while the main thread repairs the folders again and again, each
    // time as the first repair of a run (the repair's variables new to the environment): every run
    // starts, and every child sees the tool's own PATH.
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
