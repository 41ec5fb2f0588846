#pragma once

// Runs one of the desktop's helper programs (xdg-email, xdg-mime) without a shell and waits for it a
// bounded time while the window keeps repainting.
//
// The program is looked up in PATH and receives the arguments exactly as given (file-system encoding).
// Its standard input is /dev/null; its standard output and error go to anonymous in-memory files, not
// pipes: a mail client that the helper starts inherits them and may outlive this tool, and a closed pipe
// would kill it with SIGPIPE on its next diagnostic line. Each file is sealed at
// kVTDesktopCommandOutputLimit bytes, so a client that keeps writing for its whole life gets its writes
// refused past that point instead of growing the system's memory. The child gets a new session (a
// terminal's Ctrl-C for this tool does not reach the mail client), default signal handling and an empty
// signal mask.
//
// Blocking: the call returns when the child exits or when `patience` has passed, whichever comes first.
// While it waits on the main thread of a running application it spins a local event loop that skips user
// input (clicks and keys are delivered afterwards, so the action that called it is never re-entered)
// but serves painting, timers and the window manager. Elsewhere (another thread, no application) it
// simply blocks.
// A child still running when the patience ends is left to run and is collected in the background once it
// ends (ChildCollector.h), so it never stays a zombie.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>

struct VTDesktopCommandResult {
    enum class Outcome {
        Exited,       // `status` holds the exit status
        Signaled,     // `status` holds the signal number
        StillRunning, // the patience ended first; nothing is known yet about the outcome
        NotStarted,   // the program could not be started; `startError` holds the errno value
        Lost,         // the child ended but its status could not be collected (someone else reaped it)
    };
    Outcome outcome = Outcome::NotStarted;
    int status = 0;
    int startError = 0;
    // What the child wrote until it ended (empty unless Exited or Signaled); at most
    // kVTDesktopCommandOutputLimit bytes each.
    QByteArray standardOutput;
    QByteArray standardError;
};

inline constexpr qsizetype kVTDesktopCommandOutputLimit = 64 * 1024;

// Starts `program` with `arguments` and waits as described above. Never throws.
[[nodiscard]] VTDesktopCommandResult vt_runDesktopCommand(const QString& program,
                                                          const QStringList& arguments,
                                                          std::chrono::milliseconds patience);
