#pragma once

// The user's identity and standard folders, as the repairs and the privileged shell need them.
//
// Every answer is looked up anew at each call (the environment may change between calls) and is a
// value owned by the caller. Absent means the system has no answer; an empty text is never answered.
// Reads the process environment and the password database: do not call while another thread changes
// the environment.

#include <QString>

#include <optional>
#include <sys/types.h>

struct UserAccount {
    QString loginName; // pw_name
    uid_t uid = 0;
};

class UserFolders {
public:
    // The password-database entry of the real user id (getpwuid of getuid); absent when there is none.
    [[nodiscard]] static std::optional<UserAccount> currentAccount();
    // The login name of the user running the tool; absent without a password-database entry.
    [[nodiscard]] static std::optional<QString> loginName();
    // $HOME when set and not empty, else the password database's home folder; absent when neither.
    [[nodiscard]] static std::optional<QString> homeDirectory();
    // $TMPDIR when set and not empty, else "/tmp".
    [[nodiscard]] static QString temporaryDirectory();
    // path with a leading "~" (alone or followed by "/") replaced by homeDirectory(); unchanged when
    // it has no leading tilde or there is no home folder.
    [[nodiscard]] static QString expandingTilde(const QString& path);
};
