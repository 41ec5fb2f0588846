#include "RepairActions.h"

#include "AppResources.h"
#include "Platform/Localization.h"
#include "Platform/SpawnSetup.h"
#include "Platform/SystemLog.h"
#include "RunShellWithAuthorization.h"
#include "VantleFormat.h"

#include <QMessageBox>

#include <cstdint>

namespace {

const char* const kPleaseRestart = QT_TRANSLATE_NOOP("Localizable", "Please restart Keyloft.");

void setVariable(const char* name, const QString& value) {
    vt_setEnvironmentVariable(name, value.toUtf8());
}

void showAlertPanel(const QString& title, const QString& message) {
    QMessageBox box;
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(vt_applicationTitle());
    box.setIcon(QMessageBox::Information);
    box.setText(title);
    box.setInformativeText(message);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace

RepairServices RepairServices::standard() {
    return RepairServices{
        [](const QString& prompt, const QString& command) {
            return ::runShellWithAuthorization(prompt, command);
        },
        showAlertPanel,
        [] { return UserFolders::currentAccount(); },
    };
}

RepairActions::RepairActions(RepairServices services) : services_(std::move(services)) {}

const QString& RepairActions::folderPermissionsCommand() {
    static const QString command = QStringLiteral(
        "mkdir \"$F1\";chmod -R u+rw,-t \"$F1\"; chmod -R -N \"$F1\"; chown -R \"$THEUSER:staff\" \"$F1\";"
        "mkdir \"$F2\";chmod 700 \"$F2\";chown \"$THEUSER:staff\" \"$F2\";"
        "chmod -a \"everyone deny add_subdirectory\" \"$F2\";chmod -a \"everyone deny delete_child\" \"$F2\";"
        "chmod -a \"everyone deny list\" \"$F2\";chmod -R u+rw,-t \"$F2/Keyloft Addition.osax\";"
        "chmod -R u+rw,-t \"$F2/Keyloft Addition Leopard.osax\";"
        "mkdir \"$F3\";chmod 700 \"$F3\";chown \"$THEUSER:staff\" \"$F3\";"
        "chmod -a \"everyone deny delete_child\" \"$F3\";chmod -a \"everyone deny add_file\" \"$F3\";"
        "chmod -a \"everyone deny list\" \"$F3\";chmod 644 \"$F3/com.vantlesoft.KeyloftAgent.plist\";"
        "chmod -N \"$F3/com.vantlesoft.KeyloftAgent.plist\"");
    return command;
}

QString RepairActions::extendedAttributesCommand(const UserAccount& account) {
    const QString overridesPath =
        vt_format("/var/db/launchd.db/com.apple.launchd.peruser.%jd/overrides.plist",
                  static_cast<intmax_t>(account.uid));
    const QByteArray loginName = account.loginName.toUtf8();
    return vt_format("/usr/sbin/chown %s:wheel %@; /bin/chmod -N %@", loginName.constData(), overridesPath,
                     overridesPath);
}

const QString& RepairActions::launchServicesCommand() {
    static const QString command = QStringLiteral(
        "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Versions/A/"
        "Support/lsregister -kill -seed -r -f");
    return command;
}

void RepairActions::runRepair(const char* prompt, const QString& command, const char* title,
                              const char* message) const {
    if (services_.runShellWithAuthorization(vt_localized(prompt), command))
        services_.showAlert(vt_localized(title), vt_localized(message));
}

void RepairActions::resetFolderPermissions() const {
    setVariable("F1", UserFolders::expandingTilde(QStringLiteral("~/Library/Application Support/Keyloft")));
    setVariable("F2", UserFolders::expandingTilde(QStringLiteral("~/Library/ScriptingAdditions")));
    setVariable("F3", UserFolders::expandingTilde(QStringLiteral("~/Library/LaunchAgents")));
    setVariable("THEUSER", UserFolders::loginName().value_or(QString()));
    runRepair(
        QT_TRANSLATE_NOOP("Localizable", "Please enter your password.\n\nFolder permissions will be reset. "),
        folderPermissionsCommand(),
        QT_TRANSLATE_NOOP("Localizable", "The folder permissions have been reset successfully."),
        kPleaseRestart);
}

void RepairActions::repairExtendedAttributes() const {
    const std::optional<UserAccount> account = services_.currentAccount();
    if (!account) {
        services_.showAlert(
            vt_localized(QT_TRANSLATE_NOOP("Localizable", "Failed to obtain user attributes.")),
            vt_localized(QT_TRANSLATE_NOOP("Localizable", "Please contact Vantlesoft support.")));
        return;
    }
    const QString command = extendedAttributesCommand(*account);
    vt_systemLogFormat("Running %@", command);
    runRepair(QT_TRANSLATE_NOOP("Localizable",
                                "Please enter your password.\n\nExtended Attributes will be repaired. "),
              command,
              QT_TRANSLATE_NOOP("Localizable", "The extended attributes have been repaired successfully."),
              kPleaseRestart);
}

void RepairActions::resetLaunchServicesDb() const {
    runRepair(QT_TRANSLATE_NOOP("Localizable",
                                "Please enter your password.\n\nThe Launch Services database will be reset,"),
              launchServicesCommand(),
              QT_TRANSLATE_NOOP("Localizable", "The Launch Services database has been successfully reset."),
              QT_TRANSLATE_NOOP("Localizable", "You can now install Keyloft from the App Store."));
}
