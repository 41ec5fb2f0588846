#pragma once

// The process-wide logger.
//
// One shared instance, created by the first logger() call. Each message becomes one line
// "[version] ctime-text| message\n", written with one formatted write and flushed, to the configured
// log file (appended to) or, when none is configured or it cannot be opened, to standard output.
// The level is carried but never printed or filtered. log2 also sends the message to the system log.
// Formats follow vt_format ("%@" and printf conversions). No operation reports failure to its caller;
// the logger's own problems go to the system log only.
//
// Thread safety: creation, file switching and shutdown are serialised; lines from several threads
// never interleave. shutdown() while another thread still logs through an old pointer is not allowed
// (it happens only at process exit).

#include "Platform/SystemLog.h"
#include "VantleFormat.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>

class DRLogger {
public:
    // Records the log file name; a live logger switches to it at once. The same name again does nothing.
    static void setFileName(const std::optional<QString>& name);
    // The shared logger, created on first use.
    static DRLogger* logger();
    // Destroys the shared logger (closing its file); the next logger() call creates a fresh one.
    static void shutdown();

    DRLogger(const DRLogger&) = delete;
    DRLogger& operator=(const DRLogger&) = delete;
    ~DRLogger();

    // Closes the current file and opens path ("~/" expands to the home folder; missing folders are
    // created), then writes the opening line there. An empty path sends lines to standard output.
    void openLogFile(const std::optional<QString>& path);
    void closeLogFile();

    template <class... Args> void log(int32_t level, const char* format, const Args&... args) {
        logMessage(level, vt_format(format, args...));
    }
    template <class... Args> void log2(int32_t level, const char* format, const Args&... args) {
        const QString message = vt_format(format, args...);
        vt_systemLog(message);
        logMessage(level, message);
    }
    // Writes one line with an already formatted message (never read as a format).
    void logMessage(int32_t level, const QString& message);

    void logEnter(const QString& object, const QString& command);
    void logAt(const QString& object, const char* where);
    void logReturn(const QString& object, const QString& result);
    void logException(const QString& description, const QStringList& callStackSymbols, const char* file,
                      int32_t line);
    void logException(const std::exception& exception, const char* file, int32_t line);
    void logTime(const QString& label);
    void appWillTerminate();

    // The destination path after "~/" expansion; absent before the first opening and after closing.
    [[nodiscard]] std::optional<QString> fileName() const;

private:
    DRLogger();
    [[nodiscard]] FILE* stream() const;

    mutable std::mutex mutex_;
    FILE* output_ = nullptr;
    bool ownsOutput_ = false;
    std::optional<QString> filename_;
    std::optional<QString> version_;
};

// Runs DRLogger::shutdown(); registered to run once at normal process exit.
extern "C" void shutdownLogger();
