#include "SystemLog.h"

#include <QByteArray>

#include <cerrno>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

VTSystemLogSink& installedSink() {
    static VTSystemLogSink sink;
    return sink;
}

void writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

void defaultSink(const QString& message) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog(program_invocation_short_name, LOG_PID, LOG_USER); });
    const QByteArray utf8 = message.toUtf8();
    syslog(LOG_NOTICE, "%s", utf8.constData());

    const QString line =
        vt_systemLogLine(QDateTime::currentDateTime(), QString::fromLocal8Bit(program_invocation_short_name),
                         getpid(), gettid(), message);
    // One write, so lines from several threads never interleave.
    writeAll(STDERR_FILENO, line.toUtf8() + '\n');
}

} // namespace

QString vt_systemLogLine(const QDateTime& when, const QString& processName, qint64 pid, qint64 threadId,
                         const QString& message) {
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QLatin1Char(' ') + processName +
           QLatin1Char('[') + QString::number(pid) + QLatin1Char(':') + QString::number(threadId) +
           QStringLiteral("] ") + message;
}

void vt_systemLog(const QString& message) {
    VTSystemLogSink sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = installedSink();
    }
    if (sink)
        sink(message);
    else
        defaultSink(message);
}

VTSystemLogSink vt_setSystemLogSink(VTSystemLogSink sink) {
    std::lock_guard lock(sinkMutex());
    VTSystemLogSink previous = std::move(installedSink());
    installedSink() = std::move(sink);
    return previous;
}
