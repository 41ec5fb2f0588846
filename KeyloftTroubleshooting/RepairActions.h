#pragma once

// The three repairs of the window's menu. Each runs one shell command line as administrator after the
// person has typed an administrator password, and tells the person only when it succeeded.
//
// Every repair runs on the main thread and returns once the password has been asked for and the command
// has run; the window stays alive meanwhile. resetFolderPermissions sets F1, F2, F3 and THEUSER in the
// process environment, under the environment lock (the command refers to them), and leaves them set:
// every later child process inherits them, and a child started meanwhile on another thread starts with
// an intact environment.

#include "Platform/UserFolders.h"

#include <QString>

#include <functional>
#include <optional>

struct RepairServices {
    // Runs the command line as administrator, asking with the prompt; true when it exited with 0.
    std::function<bool(const QString& prompt, const QString& command)> runShellWithAuthorization;
    // Shows a modal alert and returns when it is dismissed.
    std::function<void(const QString& title, const QString& message)> showAlert;
    // The password-database entry of the user running the tool; absent when there is none.
    std::function<std::optional<UserAccount>()> currentAccount;

    // The real privileged shell, an application-modal message box and the password database.
    [[nodiscard]] static RepairServices standard();
};

class RepairActions {
public:
    explicit RepairActions(RepairServices services = RepairServices::standard());

    void resetFolderPermissions() const;
    void repairExtendedAttributes() const;
    void resetLaunchServicesDb() const;

    // The command line of resetFolderPermissions (the shell expands F1, F2, F3 and THEUSER).
    [[nodiscard]] static const QString& folderPermissionsCommand();
    // The command line of repairExtendedAttributes for that user; nothing in it is quoted.
    [[nodiscard]] static QString extendedAttributesCommand(const UserAccount& account);
    [[nodiscard]] static const QString& launchServicesCommand();

private:
    // Runs the command with the prompt and shows the alert when it succeeded.
    void runRepair(const char* prompt, const QString& command, const char* title, const char* message) const;

    RepairServices services_;
};
