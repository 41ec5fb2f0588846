#pragma once

// The system log: where the tool's own problems and notable events go besides its logger lines.
//
// Each message goes to syslog(3) (ident: the process name, LOG_PID, facility LOG_USER, severity
// notice) and as one line on standard error in the usual layout
//   "2026-12-06 18:47:03.120 keyloft-troubleshooting[1234:1240] message"
// The message is never read as a format: a "%s" in it stays "%s". Use vt_systemLogFormat to format.
// Safe to call from any thread.

#include "VantleFormat.h"

#include <QDateTime>
#include <QString>

#include <functional>

using VTSystemLogSink = std::function<void(const QString& message)>;

void vt_systemLog(const QString& message);

template <class... Args> void vt_systemLogFormat(const char* format, const Args&... args) {
    vt_systemLog(vt_format(format, args...));
}

// Replaces where messages go (tests); an empty sink restores syslog plus standard error.
// Answers the sink that was installed before.
VTSystemLogSink vt_setSystemLogSink(VTSystemLogSink sink);

// The standard-error line for a message, without its final line feed.
[[nodiscard]] QString vt_systemLogLine(const QDateTime& when, const QString& processName, qint64 pid,
                                       qint64 threadId, const QString& message);
