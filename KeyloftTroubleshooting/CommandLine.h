#pragma once

// The tool's command line, read before any window exists:
//   keyloft-troubleshooting              the window (Qt's own window options, such as -platform or -style,
//                                        are left for QApplication to read)
//   keyloft-troubleshooting --report     makes a report with no window and no display (a QCoreApplication
//                                        only): its path and a line feed on standard output, exit 0; on
//                                        failure the failure alert's title and message as one line on
//                                        standard error, exit 1, or 127 when no Ruby interpreter was found
//   --help (-h), --version (-v)          usage or "keyloft-troubleshooting <version>" on standard output, 0
//   anything else                        what is wrong and the usage on standard error, exit 2
// While --report runs, Ctrl+C (SIGINT), SIGTERM and SIGHUP stop the script's process group, and the
// process then ends by that signal; a report finished meanwhile is removed, so nothing is left behind.
// The script reads no input from the terminal (it gets an empty standard input).

#include <optional>

// Handles the command line when it asks for something other than the window: answers the exit status
// once that is done (blocking while a report is made). Absent when the window should open; then nothing
// was created and argc and argv are untouched. Call first in main, on the main thread, before any
// QCoreApplication exists.
[[nodiscard]] std::optional<int> vt_runCommandLine(int& argc, char** argv);
