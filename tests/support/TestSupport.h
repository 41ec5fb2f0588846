#pragma once

// Small scoped helpers shared by the test programs.

#include "Platform/SystemLog.h"

#include <QtCore>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

// The whole file, or `missing` when it cannot be read.
inline QByteArray readFile(const QString& path, const QByteArray& missing = {}) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}

// Switches the C library and Qt to a user locale (as QCoreApplication does from LANG) and back.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name)
        : previousC_(std::setlocale(LC_ALL, nullptr)), previousQt_(QLocale()),
          active_(std::setlocale(LC_ALL, name) != nullptr) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name).section(QLatin1Char('.'), 0, 0)));
    }
    ~ScopedLocale() {
        std::setlocale(LC_ALL, previousC_.c_str());
        QLocale::setDefault(previousQt_);
    }
    Q_DISABLE_COPY(ScopedLocale)
    // False when the machine lacks the locale (the test then proves nothing and should say so).
    [[nodiscard]] bool active() const { return active_; }

private:
    std::string previousC_;
    QLocale previousQt_;
    bool active_;
};

// Sets or (absent) unsets an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value)
        : name_(name),
          previous_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        set(value);
    }
    ~ScopedEnv() { set(previous_); }
    Q_DISABLE_COPY(ScopedEnv)

private:
    void set(const std::optional<QByteArray>& value) {
        value ? qputenv(name_.c_str(), *value) : qunsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<QByteArray> previous_;
};

// Sends a standard stream of the process to a file for the scope; text() ends the capture and reads it.
template <int Fd> class CapturedStream {
public:
    CapturedStream() {
        file_.open();
        flush();
        saved_ = dup(Fd);
        dup2(file_.handle(), Fd);
    }
    ~CapturedStream() { restore(); }
    Q_DISABLE_COPY(CapturedStream)

    QByteArray text() {
        restore();
        return readFile(file_.fileName());
    }

private:
    static void flush() { std::fflush(Fd == STDOUT_FILENO ? stdout : stderr); }
    void restore() {
        if (saved_ < 0)
            return;
        flush();
        dup2(saved_, Fd);
        close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};
using CapturedStdout = CapturedStream<STDOUT_FILENO>;
using CapturedStderr = CapturedStream<STDERR_FILENO>;

// True once the process has installed its handler for sig (it shows in the "SigCgt" mask), so a test can send
// the signal without killing a process that is still starting.
inline bool catchesSignal(qint64 pid, int sig) {
    for (const QByteArray& line : readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1U;
    return false;
}

// Collects what reaches the system log for the scope instead of sending it to syslog.
class SystemLogCapture {
public:
    SystemLogCapture()
        : previous_(vt_setSystemLogSink([this](const QString& message) {
              std::lock_guard lock(mutex_);
              messages_ << message;
          })) {}
    ~SystemLogCapture() { vt_setSystemLogSink(std::move(previous_)); }
    Q_DISABLE_COPY(SystemLogCapture)

    QStringList messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    mutable std::mutex mutex_;
    QStringList messages_;
    VTSystemLogSink previous_;
};

// An X server (Xvfb) of the test's own, for a test that takes a whole display (window manager, pointer,
// keyboard, clipboard, or programs whose windows a test ctest runs beside it could take for its own). It
// tries the numbers KEYLOFT_XVFB_DISPLAYS ("FIRST LAST") names, else takes the first free one, and never
// resets: Xvfb otherwise starts afresh when its last client leaves, refusing those connecting meanwhile.
// display() is empty when no server came up; the server ends with the object, or with this process.
class PrivateXServer {
public:
    PrivateXServer() {
        const QStringList range =
            qEnvironmentVariable("KEYLOFT_XVFB_DISPLAYS").split(u' ', Qt::SkipEmptyParts);
        QStringList numbers;
        for (int n = range.value(0).toInt(); range.size() == 2 && n <= range.value(1).toInt(); ++n)
            numbers << u':' + QString::number(n);
        if (range.size() != 2)
            numbers << QString();
        server_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        for (const QString& number : numbers) {
            // The server writes its number once it takes clients; it ends at once on a number in use.
            const QStringList arguments =
                QStringLiteral("-displayfd 1 -noreset -nolisten tcp -screen 0 1280x800x24").split(u' ');
            server_.start(u"Xvfb"_qs, number.isEmpty() ? arguments : QStringList{number} + arguments);
            if (server_.waitForReadyRead(10000)) {
                display_ = ':' + server_.readLine().trimmed();
                return;
            }
            server_.kill();
            server_.waitForFinished();
        }
    }
    ~PrivateXServer() {
        server_.terminate();
        server_.waitForFinished();
    }
    Q_DISABLE_COPY(PrivateXServer)
    [[nodiscard]] QByteArray display() const { return display_; }

private:
    QProcess server_;
    QByteArray display_;
};

// main() for a test program that runs as a client of a PrivateXServer of its own; fails without one.
#define KEYLOFT_TEST_MAIN_ON_PRIVATE_X_SERVER(TestClass)                                                     \
    int main(int argc, char* argv[]) {                                                                       \
        const PrivateXServer server;                                                                         \
        if (server.display().isEmpty()) {                                                                    \
            std::fprintf(stderr, "Xvfb could not be started\n");                                             \
            return 1;                                                                                        \
        }                                                                                                    \
        qputenv("DISPLAY", server.display());                                                                \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                                   \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
