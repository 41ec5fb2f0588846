// The three repairs with the privileged shell and the alert panel stubbed: what is handed over, in
// which order, and when the person is told.

#include "Platform/SystemLog.h"
#include "RepairActions.h"

#include <QTranslator>
#include <QtTest>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

enum class Repair { FolderPermissions, ExtendedAttributes, LaunchServices };

// Marks every text that went through the localization lookup.
class MarkingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* sourceText, const char*, int) const override {
        if (qstrcmp(context, "Localizable") != 0)
            return {};
        return QStringLiteral("[de] ") + QString::fromUtf8(sourceText);
    }
    [[nodiscard]] bool isEmpty() const override { return false; }
};

QString localized(const QString& english) {
    return QStringLiteral("[de] ") + english;
}

QString env(const char* name) {
    return qEnvironmentVariable(name, QStringLiteral("<unset>"));
}

const QString kOverrides501 =
    QStringLiteral("/var/db/launchd.db/com.apple.launchd.peruser.501/overrides.plist");

} // namespace

class TestRepairActions : public QObject {
    Q_OBJECT

    MarkingTranslator translator_;
    VTSystemLogSink previousSink_;
    QStringList events_; // everything the repairs did, in order
    bool shellAnswer_ = true;
    std::optional<UserAccount> account_;

    RepairActions repairs() {
        return RepairActions(RepairServices{
            [this](const QString& prompt, const QString& command) {
                events_.append(QStringLiteral("shell|") + prompt + QLatin1Char('|') + command);
                events_.append(QStringLiteral("env|") + env("F1") + QLatin1Char('|') + env("F2") +
                               QLatin1Char('|') + env("F3") + QLatin1Char('|') + env("THEUSER"));
                return shellAnswer_;
            },
            [this](const QString& title, const QString& message) {
                events_.append(QStringLiteral("alert|") + title + QLatin1Char('|') + message);
            },
            [this] { return account_; },
        });
    }

    void run(Repair repair) {
        const RepairActions actions = repairs();
        switch (repair) {
        case Repair::FolderPermissions:
            actions.resetFolderPermissions();
            break;
        case Repair::ExtendedAttributes:
            actions.repairExtendedAttributes();
            break;
        case Repair::LaunchServices:
            actions.resetLaunchServicesDb();
            break;
        }
    }

    [[nodiscard]] QStringList eventsOfKind(const QString& kind) const {
        QStringList matching;
        for (const QString& event : events_) {
            if (event.startsWith(kind + QLatin1Char('|')))
                matching.append(event);
        }
        return matching;
    }

private slots:
    void initTestCase() {
        QVERIFY(QCoreApplication::installTranslator(&translator_));
        previousSink_ = vt_setSystemLogSink(
            [this](const QString& line) { events_.append(QStringLiteral("log|") + line); });
    }

    void cleanupTestCase() { vt_setSystemLogSink(previousSink_); }

    void init() {
        events_.clear();
        shellAnswer_ = true;
        account_ = UserAccount{QStringLiteral("jdoe"), 501};
    }

    void handsOverPromptAndCommand_data() {
        QTest::addColumn<Repair>("repair");
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
            QStringLiteral("/usr/sbin/chown jdoe:wheel %1; /bin/chmod -N %1").arg(kOverrides501);
        const QString launchServices =
            QStringLiteral("/System/Library/Frameworks/CoreServices.framework/Frameworks/"
                           "LaunchServices.framework/Versions/A/Support/lsregister -kill -seed -r -f");
        for (const bool answer : {true, false}) {
            const char* outcome = answer ? "succeeds" : "fails";
            QTest::addRow("folder permissions %s", outcome)
                << Repair::FolderPermissions
                << "Please enter your Mac OS X password.\n\nFolder permissions will be reset. " << folders
                << "The folder permissions have been reset successfully."
                << "Please restart Keyloft." << answer;
            QTest::addRow("extended attributes %s", outcome)
                << Repair::ExtendedAttributes
                << "Please enter your Mac OS X password.\n\nExtended Attributes will be repaired. "
                << attributes << "The extended attributes have been repaired successfully."
                << "Please restart Keyloft." << answer;
            QTest::addRow("launch services %s", outcome)
                << Repair::LaunchServices
                << "Please enter your Mac OS X password.\n\nThe Launch Services database will be reset,"
                << launchServices << "The Launch Services database has been successfully reset."
                << "You can now install Keyloft from the App Store." << answer;
        }
    }

    // The localized prompt and the exact command go to the privileged shell once; the person hears of
    // the repair only when it succeeded (a cancelled password ends the same way as a failure).
    void handsOverPromptAndCommand() {
        QFETCH(Repair, repair);
        QFETCH(QString, prompt);
        QFETCH(QString, command);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(bool, shellAnswer);
        shellAnswer_ = shellAnswer;

        run(repair);

        QCOMPARE(eventsOfKind(QStringLiteral("shell")),
                 QStringList{QStringLiteral("shell|") + localized(prompt) + QLatin1Char('|') + command});
        const QStringList alerts = shellAnswer ? QStringList{QStringLiteral("alert|") + localized(title) +
                                                             QLatin1Char('|') + localized(message)}
                                               : QStringList{};
        QCOMPARE(eventsOfKind(QStringLiteral("alert")), alerts);
    }

    // The whole command line is in the system log before the password is asked for.
    void extendedAttributesLogsTheCommandFirst() {
        run(Repair::ExtendedAttributes);

        QCOMPARE(events_.size(), 4);
        QCOMPARE(
            events_.at(0),
            QStringLiteral("log|Running /usr/sbin/chown jdoe:wheel %1; /bin/chmod -N %1").arg(kOverrides501));
        QVERIFY(events_.at(1).startsWith(QStringLiteral("shell|")));
    }

    void extendedAttributesWithoutAccount() {
        account_.reset();

        run(Repair::ExtendedAttributes);

        QCOMPARE(events_,
                 QStringList{QStringLiteral("alert|[de] Failed to obtain user attributes.|[de] Please "
                                            "contact Vantlesoft support.")});
    }

    // Every text the person sees has its German translation (the keys match the texts exactly).
    void germanTexts() {
        QTranslator german;
        QVERIFY(german.load(QStringLiteral(":/i18n/keyloft_de.qm")));
        QCoreApplication::removeTranslator(&translator_);
        QCoreApplication::installTranslator(&german);
        for (const Repair repair :
             {Repair::FolderPermissions, Repair::ExtendedAttributes, Repair::LaunchServices})
            run(repair);
        account_.reset();
        run(Repair::ExtendedAttributes);
        QCoreApplication::removeTranslator(&german);
        QCoreApplication::installTranslator(&translator_);

        QStringList shown;
        for (const QString& event : eventsOfKind(QStringLiteral("shell")))
            shown.append(event.section(QLatin1Char('|'), 1, 1));
        for (const QString& event : eventsOfKind(QStringLiteral("alert")))
            shown.append(event.section(QLatin1Char('|'), 1));
        QCOMPARE(shown.size(), 7);
        for (const QString& text : shown)
            QVERIFY2(!text.contains(QLatin1String("Please")) && !text.contains(QLatin1String(" have been")) &&
                         !text.contains(QLatin1String(" has been")) &&
                         !text.contains(QLatin1String("Failed")),
                     qPrintable(text));
    }

    void folderVariables_data() {
        QTest::addColumn<QByteArray>("home");
        QTest::newRow("plain") << QByteArray("/home/jdoe");
        QTest::newRow("spaces and quotes") << QByteArray("/home/J. \"Doe\" O'Neil");
    }

    // F1, F2, F3 and THEUSER are in the environment when the shell starts and stay there afterwards,
    // with the home folder in place of the tilde.
    void folderVariables() {
        QFETCH(QByteArray, home);
        const QByteArray originalHome = qgetenv("HOME");
        qputenv("HOME", home);
        shellAnswer_ = false;

        run(Repair::FolderPermissions);

        qputenv("HOME", originalHome);
        const passwd* entry = getpwuid(getuid());
        QVERIFY(entry);
        const QString expected = QStringList{QString::fromUtf8(home) + "/Library/Application Support/Keyloft",
                                             QString::fromUtf8(home) + "/Library/ScriptingAdditions",
                                             QString::fromUtf8(home) + "/Library/LaunchAgents",
                                             QString::fromLocal8Bit(entry->pw_name)}
                                     .join(QLatin1Char('|'));
        QCOMPARE(eventsOfKind(QStringLiteral("env")), QStringList{QStringLiteral("env|") + expected});
        QCOMPARE(QStringList({env("F1"), env("F2"), env("F3"), env("THEUSER")}).join(QLatin1Char('|')),
                 expected);
        QVERIFY(!env("F1").contains(QLatin1Char('~')));
    }
};

QTEST_MAIN(TestRepairActions)
#include "tst_RepairActions.moc"
