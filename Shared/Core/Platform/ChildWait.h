#pragma once

// Waiting for one child of this process and collecting it: the one place where the tool learns how a
// child ended.
//
// A child is waited for by its own pid, so no other child of the process is ever taken for it. An
// interrupted wait (EINTR) is resumed. "No such child" is never read as an exit status: a child that
// was collected elsewhere (also by the kernel itself while SIGCHLD is ignored), or a pid that names no
// child of this process, has ended Lost. Callers turn the ending into their own documented status.

#include <chrono>
#include <optional>

#include <sys/types.h>

// How a child ended.
struct VTChildEnding {
    enum class Kind {
        Exited,   // `code` is its exit status
        Signaled, // `code` is the number of the signal that ended it
        Lost,     // how it ended cannot be known (see above); `code` is 0
    };
    Kind kind = Kind::Lost;
    int code = 0;

    [[nodiscard]] bool exitedWithZero() const { return kind == Kind::Exited && code == 0; }
};

// Where a child stands, before it is collected.
enum class VTChildState {
    Running,
    // Ended and not yet collected: a zombie that still holds its pid, and so its process group id.
    Ended,
    // No child this process can wait for (see above).
    Unknown,
};

// How a wait passes the time.
enum class VTChildWait {
    // Blocks the calling thread.
    Blocking,
    // On the application's main thread: runs a local event loop meanwhile that serves painting, timers
    // and posted work but leaves user input for later, so the window stays alive and the action that
    // waits is not entered again. On any other thread, or without an application, the same as Blocking.
    ServingEvents,
};

// Where the child stands now. Does not wait and collects nothing. Async-signal-safe.
[[nodiscard]] VTChildState vt_childState(pid_t pid) noexcept;

// Waits until the child is no longer Running, or until `patience` has passed (absent: no limit), and
// answers where it stands then; collects nothing.
[[nodiscard]] VTChildState vt_awaitChildEnd(pid_t pid, VTChildWait wait,
                                            std::optional<std::chrono::milliseconds> patience = std::nullopt);

// Collects a child that has Ended (as vt_childState or vt_awaitChildEnd said) and answers how it ended;
// Lost when it is no ended child of this process. Does not wait. Async-signal-safe.
[[nodiscard]] VTChildEnding vt_reapChild(pid_t pid) noexcept;

// Waits until exactly this child has ended and collects it.
[[nodiscard]] VTChildEnding vt_collectChild(pid_t pid, VTChildWait wait = VTChildWait::Blocking);

// Puts SIGCHLD back to its default action. A launcher or shell may start the tool with SIGCHLD
// ignored; that survives exec and makes the kernel collect every child itself, so that no exit status
// could be read. Call first thing in main, before any thread starts.
void vt_resetChildSignal();
