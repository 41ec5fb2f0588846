#pragma once

// What every child the tool starts gets: default dispositions for every signal and an empty signal mask,
// whatever the tool ignores or blocks (it ignores SIGPIPE, a privileged run may change SIGCHLD, serving
// threads block signals; an ignored signal or a blocked mask would otherwise survive exec), plus the
// redirections the caller adds. Released when it goes out of scope. Not shared between threads.
//
// The process environment is kept under one lock: every change made through the functions below and
// every start through VTSpawnSetup (the child's start reads the environment) take it, so a child always
// starts with one consistent environment, never with one another thread is changing at that moment.

#include <QByteArray>
#include <QList>

#include <optional>

#include <spawn.h>
#include <sys/types.h>

// Sets or removes a variable of the process environment under the environment lock (and Qt's own, so
// Qt's readers are safe too). Any thread.
void vt_setEnvironmentVariable(const char* name, const QByteArray& value);
void vt_unsetEnvironmentVariable(const char* name);
// A variable's value, or absent when it is not set; read under the environment lock.
[[nodiscard]] std::optional<QByteArray> vt_environmentValue(const char* name);
// A copy of every entry ("NAME=value"), in order, taken under the environment lock.
[[nodiscard]] QList<QByteArray> vt_environmentEntries();

class VTSpawnSetup {
public:
    // newSession: start the child in a session of its own (programs that may outlive the tool).
    explicit VTSpawnSetup(bool newSession = false);
    ~VTSpawnSetup();
    VTSpawnSetup(const VTSpawnSetup&) = delete;
    VTSpawnSetup& operator=(const VTSpawnSetup&) = delete;

    // 0, or the error number of the step that failed; every later call answers that error again.
    [[nodiscard]] int status() const { return status_; }

    // The child's descriptor target becomes a copy of fd.
    int redirect(int fd, int target);
    // The child's descriptor target reads from /dev/null.
    int readNothing(int target);
    // The child leads a process group of its own (its group id is its pid), so the group can be signalled
    // as a whole without reaching this process.
    int leadOwnProcessGroup();

    // Starts path (searched on PATH when search is true) with argv and envp, both null-terminated, under
    // the environment lock; a null envp gives the child the process environment as it is at that moment
    // (pass null rather than environ, which another thread may move meanwhile). Answers 0 and sets pid,
    // or the error number (the setup's own error first).
    int spawn(pid_t& pid, const char* path, char* const argv[], char* const envp[],
              bool search = false) const;

private:
    int step(int rc);

    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actionsReady_ = false;
    bool attributesReady_ = false;
    int status_ = 0;
};
