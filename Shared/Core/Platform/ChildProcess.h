#pragma once

// Runs one child program and collects what it writes, serving its three standard streams at once.
//
// The child is started with posix_spawn (never fork, so a large application starts children as
// cheaply as a small one) with this process's environment and current directory at that moment.
// Its standard output and standard error are pipes that are read until every writer has closed them
// (the child and anything it left running with the same streams); its standard input is a pipe fed
// with the given bytes at the same time, or this process's own standard input when none is given.
// A child that fills one pipe while the runner waits on another can therefore not block either side.
//
// The runner's own pipe ends are close-on-exec, so a child started meanwhile on another thread does
// not inherit them. In the child SIGPIPE and SIGCHLD are back at their defaults and no signal is
// blocked. The child leads a process group of its own, so that it can be stopped together with
// whatever it starts (vt_stopChildProcesses) and a terminal's Ctrl+C for this process does not reach it
// directly; like any background job, it is stopped by the terminal if it reads a terminal it inherited
// as standard input, so give such a child its input. A child that stops reading its input ends the feeding;
// it never raises SIGPIPE in this process, whatever this process does with that signal.
//
// Blocking: vt_runChildProcess blocks the calling thread until both output pipes are closed and,
// when asked, until the child has exited (no time-out). It keeps no state between calls and may run
// on several threads at once. A child it does not wait for is collected in the background once it
// exits (ChildCollector.h), so no finished child is left behind. An output kept as text that grows past a few
// megabytes is decoded on a thread of its own for the rest of the call (signals blocked there), so that
// reading and decoding overlap, and two large outputs are decoded side by side.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What the runner keeps of each output stream.
enum class VTChildProcessOutput {
    // Every byte, as it arrived.
    Bytes,
    // Only the text of the bytes (as vt_utf8stringWithData decodes them), decoded while the child is
    // still writing; the bytes themselves are not kept.
    Text,
};

struct VTChildProcessRequest {
    // Path of the program; used as it stands (no PATH search) and also passed as its argument 0.
    QString executable;
    // The arguments after the program's own name.
    QStringList arguments;
    // Absent: the child reads this process's standard input. Present (even empty): a pipe that
    // carries exactly these bytes and then ends.
    std::optional<QByteArray> standardInput;
    // Whether to wait for the child's exit after its output pipes are closed.
    bool waitForExit = true;
    // The size asked for each pipe, best effort (the system may refuse it); 0 keeps the system's
    // default. A larger pipe means fewer wake-ups per megabyte.
    int pipeSize = 1 << 20;
    VTChildProcessOutput output = VTChildProcessOutput::Bytes;
};

struct VTChildProcessResult {
    // Every byte the child and its descendants wrote to standard output and standard error; empty
    // when only the text was asked for.
    QByteArray standardOutput;
    QByteArray standardError;
    // The text of those bytes when it was asked for; empty otherwise.
    QString standardOutputText;
    QString standardErrorText;
    // How many bytes arrived on each stream, whichever form was kept.
    qsizetype standardOutputLength = 0;
    qsizetype standardErrorLength = 0;
    // After a wait: the exit code of a child that exited, or the number of the signal that ended it;
    // -1 when the exit could not be observed (another part of the process collected the child).
    // Absent when the child was not waited for or was never started.
    std::optional<int> terminationStatus;
    // Present when no child was started: what failed and why, in one line.
    std::optional<QString> startFailure;
    // The errno behind startFailure; 0 when a child was started.
    int startError = 0;
};

[[nodiscard]] VTChildProcessResult vt_runChildProcess(const VTChildProcessRequest& request);

// Stops every child vt_runChildProcess has running, for a process that is ending (a window closed
// during a report, Ctrl+C on a command line), and keeps it from starting more: each child's process
// group gets SIGTERM, then SIGKILL for whatever is left of it once the child has ended or after a
// grace of two seconds. Returns when that is done; the runs it stopped report the ending signal or the
// child's own exit status as usual. Every later run starts nothing and reports a failed start
// (ECANCELED, "status" 126).
// Async-signal-safe and keeps errno: a signal handler may call it, on any thread, also on the thread
// whose run it stops.
void vt_stopChildProcesses() noexcept;
