// The three repairs with the privileged shell and the alert panel stubbed: what is handed over, in
// which order, and when the person is told. Then the privileged shell with a stand-in for sudo: the
// window keeps turning while it waits, and a repair during a report changes nothing the report's
// children see.

#include "Platform/SpawnSetup.h"
#include "Platform/SystemLog.h"
#include "RepairActions.h"
#include "RunShellWithAuthorization.h"
#include "VTScriptUtils.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <atomic>
#include <pwd.h>
#include <thread>
#include <unistd.h>

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

QString env(const char* name) {
    return qEnvironmentVariable(name, QStringLiteral("<unset>"));
}

// The privileged shell with `sudo` standing in for sudo and the password program that is never run.
RunShellWithAuthorizationServices standInServices(const QString& sudo) {
    return RunShellWithAuthorizationServices{SudoAuthorization(QStringLiteral("/bin/false"), sudo),
                                             [] { return std::nullopt; }, [] { return std::nullopt; }};
}

} // namespace

class TestRepairActions : public QObject {
    Q_OBJECT

    MarkingTranslator translator_;
    VTSystemLogSink previousSink_;
    QStringList events_; // everything the repairs did, in order: "kind|text|text"
    bool shellAnswer_ = true;
    std::optional<UserAccount> account_;

    void run(Repair repair) {
        const RepairActions actions(RepairServices{
            [this](const QString& prompt, const QString& command) {
                events_ << "shell|" + prompt + '|' + command
                        << QStringList{"env", env("F1"), env("F2"), env("F3"), env("THEUSER")}.join('|');
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
        account_ = UserAccount{QStringLiteral("jdoe"), 501};
    }

    void handsOverPromptAndCommand_data() {
        QTest::addColumn<int>("repair");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("shellAnswer");
        const QString folders = QStringLiteral(
            "mkdir \"$F1\";chmod -R u+rw,-t \"$F1\"; chmod -R -N \"$F1\"; chown -R \"$THEUSER:staff\" "
            "\"$F1\";mkdir \"$F2\";chmod 700 \"$F2\";chown \"$THEUSER:staff\" \"$F2\";chmod -a \"everyone "
            "deny add_subdirectory\" \"$F2\";chmod -a \"everyone deny delete_child\" \"$F2\";chmod -a "
            "\"everyone deny list\" \"$F2\";chmod -R u+rw,-t \"$F2/Keyloft Addition.osax\";chmod -R u+rw,-t "
            "\"$F2/Keyloft Addition Leopard.osax\";mkdir \"$F3\";chmod 700 \"$F3\";chown \"$THEUSER:staff\" "
            "\"$F3\";chmod -a \"everyone deny delete_child\" \"$F3\";chmod -a \"everyone deny add_file\" "
            "\"$F3\";chmod -a \"everyone deny list\" \"$F3\";chmod 644 "
            "\"$F3/com.vantlesoft.KeyloftAgent.plist\";chmod -N \"$F3/com.vantlesoft.KeyloftAgent.plist\"");
        const QString attributes =
            QStringLiteral("/usr/sbin/chown jdoe:wheel %1; /bin/chmod -N %1")
                .arg("/var/db/launchd.db/com.apple.launchd.peruser.501/overrides.plist");
        const QString launchServices =
            QStringLiteral("/System/Library/Frameworks/CoreServices.framework/Frameworks/"
                           "LaunchServices.framework/Versions/A/Support/lsregister -kill -seed -r -f");
        const QString password = QStringLiteral("Please enter your password.\n\n");
        const QString restart = QStringLiteral("Please restart Keyloft.");
        for (const bool answer : {true, false}) {
            const auto row = [answer](const char* name, Repair repair, const QString& prompt,
                                      const QString& command, const char* title, const QString& message) {
                QTest::addRow("%s %s", name, answer ? "succeeds" : "fails")
                    << int(repair) << prompt << command << QString::fromLatin1(title) << message << answer;
            };
            row("folder permissions", FolderPermissions, password + "Folder permissions will be reset. ",
                folders, "The folder permissions have been reset successfully.", restart);
            row("extended attributes", ExtendedAttributes,
                password + "Extended Attributes will be repaired. ", attributes,
                "The extended attributes have been repaired successfully.", restart);
            row("launch services", LaunchServices, password + "The Launch Services database will be reset,",
                launchServices, "The Launch Services database has been successfully reset.",
                QStringLiteral("You can now install Keyloft from the App Store."));
        }
    }

    // The localized prompt and the exact command go to the privileged shell once; the person hears of
    // the repair only when it succeeded (a cancelled password ends the same way as a failure). In order:
    // the whole command line is logged before the password is asked for.
    void handsOverPromptAndCommand() {
        QFETCH(int, repair);
        QFETCH(QString, prompt);
        QFETCH(QString, command);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(bool, shellAnswer);
        shellAnswer_ = shellAnswer;

        run(Repair(repair));

        QStringList expected;
        if (repair == ExtendedAttributes)
            expected << "log|Running " + command;
        expected << "shell|[de] " + prompt + '|' + command;
        if (shellAnswer)
            expected << "alert|[de] " + title + "|[de] " + message;
        QCOMPARE(events_.filter(QRegularExpression(QStringLiteral("^(?!env\\|)"))), expected);
    }

    void extendedAttributesWithoutAccount() {
        account_.reset();

        run(ExtendedAttributes);

        QCOMPARE(events_,
                 QStringList{QStringLiteral("alert|[de] Failed to obtain user attributes.|[de] Please "
                                            "contact Vantlesoft support.")});
    }

    // F1, F2, F3 and THEUSER are in the environment when the shell starts and stay there afterwards,
    // with the home folder in place of the tilde.
    void folderVariables() {
        const QByteArray home("/home/J. \"Doe\" O'Neil");
        const QByteArray originalHome = qgetenv("HOME");
        qputenv("HOME", home);
        shellAnswer_ = false;

        run(FolderPermissions);

        qputenv("HOME", originalHome);
        const passwd* entry = getpwuid(getuid());
        QVERIFY(entry);
        const QString h = QString::fromUtf8(home);
        const QStringList expected{"env", h + "/Library/Application Support/Keyloft",
                                   h + "/Library/ScriptingAdditions", h + "/Library/LaunchAgents",
                                   QString::fromLocal8Bit(entry->pw_name)};
        QCOMPARE(events_.filter(QRegularExpression(QStringLiteral("^env\\|"))),
                 QStringList{expected.join('|')});
        QCOMPARE((QStringList{"env", env("F1"), env("F2"), env("F3"), env("THEUSER")}), expected);
    }

    // The stand-in takes a moment for the password and for the shell, as a person and a repair do; the
    // event loop turns all the while (a timer keeps firing). The outcome rules are the real-sudo test's.
    void theWindowKeepsTurningWhileTheShellWaits() {
        QTemporaryDir dir;
        QFile sudo(dir.filePath(QStringLiteral("sudo")));
        QVERIFY(sudo.open(QIODevice::WriteOnly) && sudo.write("#!/bin/sh\nsleep 0.3\n") > 0);
        sudo.close();
        QVERIFY(sudo.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
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
