#include "SpawnSetup.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <shared_mutex>

extern char** environ;

namespace {

// Starts share it; changes take it alone.
std::shared_mutex environmentLock;

} // namespace

void vt_setEnvironmentVariable(const char* name, const QByteArray& value) {
    const std::unique_lock lock(environmentLock);
    qputenv(name, value);
}

void vt_unsetEnvironmentVariable(const char* name) {
    const std::unique_lock lock(environmentLock);
    qunsetenv(name);
}

std::optional<QByteArray> vt_environmentValue(const char* name) {
    const std::shared_lock lock(environmentLock);
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return QByteArray(value);
}

QList<QByteArray> vt_environmentEntries() {
    const std::shared_lock lock(environmentLock);
    QList<QByteArray> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        entries.append(QByteArray(*entry));
    return entries;
}

VTSpawnSetup::VTSpawnSetup(bool newSession) {
    actionsReady_ = step(posix_spawn_file_actions_init(&actions_)) == 0;
    attributesReady_ = step(posix_spawnattr_init(&attributes_)) == 0;
    if (status_ != 0)
        return;
    sigset_t defaults;
    sigfillset(&defaults);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (newSession)
        flags |= POSIX_SPAWN_SETSID;
    step(posix_spawnattr_setsigdefault(&attributes_, &defaults));
    step(posix_spawnattr_setsigmask(&attributes_, &noneBlocked));
    step(posix_spawnattr_setflags(&attributes_, flags));
}

VTSpawnSetup::~VTSpawnSetup() {
    if (actionsReady_)
        posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_)
        posix_spawnattr_destroy(&attributes_);
}

int VTSpawnSetup::step(int rc) {
    if (status_ == 0 && rc != 0)
        status_ = rc;
    return status_;
}

int VTSpawnSetup::redirect(int fd, int target) {
    if (status_ != 0)
        return status_;
    return step(posix_spawn_file_actions_adddup2(&actions_, fd, target));
}

int VTSpawnSetup::readNothing(int target) {
    if (status_ != 0)
        return status_;
    return step(posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", O_RDONLY, 0));
}

int VTSpawnSetup::leadOwnProcessGroup() {
    if (status_ != 0)
        return status_;
    short flags = 0;
    step(posix_spawnattr_getflags(&attributes_, &flags));
    step(posix_spawnattr_setpgroup(&attributes_, 0));
    return step(posix_spawnattr_setflags(&attributes_, static_cast<short>(flags | POSIX_SPAWN_SETPGROUP)));
}

int VTSpawnSetup::spawn(pid_t& pid, const char* path, char* const argv[], char* const envp[],
                        bool search) const {
    if (status_ != 0)
        return status_;
    // The child reads the environment (and for a search PATH) until it has started, which is when
    // posix_spawn returns; the process environment's array itself may move when a variable is added.
    const std::shared_lock lock(environmentLock);
    char* const* environment = envp != nullptr ? envp : environ;
    return search ? posix_spawnp(&pid, path, &actions_, &attributes_, argv, environment)
                  : posix_spawn(&pid, path, &actions_, &attributes_, argv, environment);
}
