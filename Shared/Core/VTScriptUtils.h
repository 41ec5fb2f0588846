#pragma once

// Running other programs and the Ruby interpreter, with the outcome as a result dictionary.
//
// Result dictionary (a new QVariantMap owned by the caller):
//   "out"    QString, always: the child's standard output as text; when the child wrote nothing, a
//            fixed text naming what was run ("Did not receive any output from running the script:\n"
//            + command line, or "There was no output after running the task '…' with parameters …").
//   "err"    QString, only when the child wrote to standard error (or could not be started).
//   "status" int, only where a runner says so: the exit code, or the number of the ending signal
//            (-1 when the exit could not be observed because another part of the process collected
//            the child). value("status").toInt() reads a missing status as 0.
// Output is decoded as UTF-8 when it is valid UTF-8 and as Latin-1 otherwise; it is kept whole, with
// its blanks and line feeds, and there is no size limit.
//
// A program that cannot be started at all gives "out" with the no-output text, "err" saying what
// failed and why, and "status" 127 (not found) or 126 (found but not runnable) from every runner,
// so that a reader never takes a failed start for success.
//
// Blocking: every function blocks the calling thread until the child (and anything it left running
// with its output streams) has closed standard output and standard error, and where stated until it
// has exited. No time-out. No state is kept between calls (only a stop lasts); any thread may call them
// at once. Children inherit the environment and current directory of the moment they start, and each
// leads a process group of its own. A child that is not waited for is collected in the background
// when it exits.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// Stops the scripts and programs these runners are running, for a tool that is ending: each run's
// process group gets SIGTERM, then SIGKILL after a short grace; no runner starts anything afterwards.
// Async-signal-safe, so a SIGINT handler may call it (see vt_stopChildProcesses in Platform/ChildProcess.h).
void vt_stopRunningScripts() noexcept;

// Runs "/bin/bash" "-c" with the command line: script alone when parameters is absent, otherwise
// script, one space and parameters (no quoting: both must already be safe for the shell).
// standardInput absent: the child reads this process's standard input; present (even empty): exactly
// these bytes, then end of input. With waitForExit the child's exit is awaited and "status" stored.
QVariantMap runScriptWaitForExit(const QString& script, const std::optional<QString>& parameters,
                                 const std::optional<QByteArray>& standardInput, bool waitForExit);

// runScriptWaitForExit without waiting: no "status".
QVariantMap runScript(const QString& script, const std::optional<QString>& parameters,
                      const std::optional<QByteArray>& standardInput);

// Runs the program at launchPath (no shell, no PATH search) with these arguments and waits for its
// exit, but stores no "status".
QVariantMap runTask(const QString& launchPath, const QStringList& arguments,
                    const std::optional<QByteArray>& standardInput);

// The version the interpreter reports for "<interpreter> --version": the second word of a trimmed
// reply that begins with "ruby" (the whole reply when it is one word), or absent.
[[nodiscard]] std::optional<QString> rubyVersion(const QString& interpreter);

// The interpreter path that "which ruby" prints (trimmed, and only when it holds a "/"), or absent.
[[nodiscard]] std::optional<QString> rubyPath();

// Whether rubyPath finds an interpreter or a file exists at one of the fixed locations.
[[nodiscard]] bool rubyExists();

// The interpreter the script runners use: "ruby" when it answers with a version, else rubyPath,
// else the first fixed location holding a file; absent when none applies.
[[nodiscard]] std::optional<QString> rubyInterpreter();

// The fixed locations tried after "which ruby", in order: /usr/bin/ruby and /usr/local/bin/ruby.
[[nodiscard]] QStringList rubyFixedLocations();

// For tests only: replaces the fixed locations with these; an empty list restores the real ones.
void setRubyFixedLocationsForTesting(const QStringList& locations);

// Runs the script file with the interpreter of rubyInterpreter through runScriptWaitForExit:
// "<interpreter> [-E utf-8:utf-8 ]<script>[ <parameters>]", the encoding option only when the
// interpreter's version begins with "2.". script and parameters must already be safe for the shell.
// Without an interpreter: {"err": the localized missing-interpreter message, "status": 1}, no "out",
// and nothing is run.
QVariantMap runRubyScriptWithStandarInputWaitForResponse(const QString& script,
                                                         const std::optional<QString>& parameters,
                                                         const std::optional<QByteArray>& standardInput,
                                                         bool waitForResponse);

// The same with no standard input, not waiting.
QVariantMap runRubyScript(const QString& script, const std::optional<QString>& parameters);

// The same with standard input, not waiting.
QVariantMap runRubyScriptWithStandarInput(const QString& script, const std::optional<QString>& parameters,
                                          const std::optional<QByteArray>& standardInput);

// The same with no standard input, waiting: "status" holds the script's exit status.
QVariantMap runRubyScriptWaitForResponse(const QString& script, const std::optional<QString>& parameters);
