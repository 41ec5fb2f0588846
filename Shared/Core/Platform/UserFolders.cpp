#include "UserFolders.h"

#include <QByteArray>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

std::optional<QString> nonEmptyEnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return QString::fromLocal8Bit(value);
}

// getpwuid_r with a buffer that grows when the entry does not fit; absent when there is no entry.
std::optional<passwd> lookUpAccount(uid_t uid, QByteArray& buffer) {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    buffer.resize(suggested > 0 ? static_cast<qsizetype>(suggested) : 4096);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = getpwuid_r(uid, &entry, buffer.data(), static_cast<size_t>(buffer.size()), &found);
        if (error == ERANGE && buffer.size() < (1 << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || !found)
            return std::nullopt;
        return entry;
    }
}

} // namespace

std::optional<UserAccount> UserFolders::currentAccount() {
    QByteArray buffer;
    const uid_t uid = getuid();
    const std::optional<passwd> entry = lookUpAccount(uid, buffer);
    if (!entry || !entry->pw_name || !*entry->pw_name)
        return std::nullopt;
    return UserAccount{QString::fromLocal8Bit(entry->pw_name), uid};
}

std::optional<QString> UserFolders::loginName() {
    const std::optional<UserAccount> account = currentAccount();
    if (!account)
        return std::nullopt;
    return account->loginName;
}

std::optional<QString> UserFolders::homeDirectory() {
    if (std::optional<QString> home = nonEmptyEnvironmentValue("HOME"))
        return home;
    QByteArray buffer;
    const std::optional<passwd> entry = lookUpAccount(getuid(), buffer);
    if (!entry || !entry->pw_dir || !*entry->pw_dir)
        return std::nullopt;
    return QString::fromLocal8Bit(entry->pw_dir);
}

QString UserFolders::temporaryDirectory() {
    return nonEmptyEnvironmentValue("TMPDIR").value_or(QStringLiteral("/tmp"));
}

QString UserFolders::expandingTilde(const QString& path) {
    if (path != QLatin1String("~") && !path.startsWith(QLatin1String("~/")))
        return path;
    const std::optional<QString> home = homeDirectory();
    if (!home)
        return path;
    return *home + path.mid(1);
}
