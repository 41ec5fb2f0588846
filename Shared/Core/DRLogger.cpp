#include "DRLogger.h"

#include "KeyloftVersion.h"

#include <QDir>
#include <QFileInfo>

#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <execinfo.h>
#include <filesystem>
#include <memory>

namespace {

std::recursive_mutex __drloggerMutex;
std::unique_ptr<DRLogger> __drlogger;
std::optional<QString> __logFileName;
double __launchTime = 0;

double secondsNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QString expandTilde(const QString& path) {
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

// The ctime text without its final line feed.
QByteArray timeText() {
    const time_t now = std::time(nullptr);
    std::array<char, 64> buffer{};
    if (!ctime_r(&now, buffer.data()))
        return {};
    QByteArray text(buffer.data());
    if (!text.isEmpty())
        text.chop(1);
    return text;
}

} // namespace

DRLogger::DRLogger() : version_(QStringLiteral(KEYLOFT_BUILD_VERSION)) {}

DRLogger::~DRLogger() {
    closeLogFile();
}

void DRLogger::setFileName(const std::optional<QString>& name) {
    std::lock_guard lock(__drloggerMutex);
    if (name == __logFileName)
        return;
    __logFileName = name;
    if (__drlogger)
        __drlogger->openLogFile(name);
}

DRLogger* DRLogger::logger() {
    std::lock_guard lock(__drloggerMutex);
    if (__drlogger)
        return __drlogger.get();
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(shutdownLogger); });
    __drlogger.reset(new DRLogger());
    __drlogger->openLogFile(__logFileName);
    __launchTime = secondsNow();
    return __drlogger.get();
}

void DRLogger::shutdown() {
    std::unique_ptr<DRLogger> doomed;
    {
        std::lock_guard lock(__drloggerMutex);
        doomed = std::move(__drlogger);
    }
}

std::optional<QString> DRLogger::fileName() const {
    std::lock_guard lock(mutex_);
    return filename_;
}

void DRLogger::openLogFile(const std::optional<QString>& path) {
    {
        std::lock_guard lock(mutex_);
        if (path == filename_)
            return;
    }
    closeLogFile();
    {
        std::lock_guard lock(mutex_);
        output_ = stdout;
        ownsOutput_ = false;
        filename_ = path ? std::optional<QString>(expandTilde(*path)) : std::nullopt;
        if (filename_ && !filename_->isEmpty()) {
            std::error_code error;
            std::filesystem::create_directories(
                QFile::encodeName(QFileInfo(*filename_).absolutePath()).toStdString(), error);
            if (error) {
                vt_systemLogFormat("Failed to create directory for '%@': %@", *filename_,
                                   QString::fromLocal8Bit(error.message()));
            } else {
                output_ = std::fopen(QFile::encodeName(*filename_).constData(), "a");
                ownsOutput_ = output_ != nullptr;
            }
        }
    }
    log(7, "== Opening log session ==");
}

void DRLogger::closeLogFile() {
    std::lock_guard lock(mutex_);
    if (filename_ && !filename_->isEmpty() && output_ && ownsOutput_) {
        if (std::fclose(output_) != 0)
            vt_systemLogFormat("Failed to close the log file: %@", *filename_);
        output_ = nullptr;
    }
    ownsOutput_ = false;
    filename_.reset();
}

FILE* DRLogger::stream() const {
    return output_ ? output_ : stdout;
}

void DRLogger::logMessage(int32_t /*level: carried, never printed*/, const QString& message) {
    const QByteArray version = version_ ? version_->toUtf8() : QByteArrayLiteral("(null)");
    const QByteArray time = timeText();
    const QByteArray text = message.toUtf8();
    std::lock_guard lock(mutex_);
    FILE* out = stream();
    std::fprintf(out, "[%s] %s| %s\n", version.constData(), time.constData(), text.constData());
    std::fflush(out);
}

void DRLogger::logEnter(const QString& object, const QString& command) {
    log(7, "%@ > %@", object, command);
}

void DRLogger::logAt(const QString& object, const char* where) {
    log(7, "%@ - %s", object, where);
}

void DRLogger::logReturn(const QString& object, const QString& result) {
    log(7, "%@ < %@", object, result);
}

void DRLogger::logException(const QString& description, const QStringList& callStackSymbols, const char* file,
                            int32_t line) {
    const QString text = vt_format("Exception caught in (%s:%d): %@\n\t%@", file, line, description,
                                   callStackSymbols.join(QStringLiteral("\n\t")));
    vt_systemLog(text);
    logMessage(3, text);
}

void DRLogger::logException(const std::exception& exception, const char* file, int32_t line) {
    std::array<void*, 64> frames{};
    const int count = backtrace(frames.data(), static_cast<int>(frames.size()));
    QStringList symbols;
    if (char** names = backtrace_symbols(frames.data(), count)) {
        for (int i = 0; i < count; ++i)
            symbols << QString::fromLocal8Bit(names[i]);
        std::free(names);
    }
    logException(QString::fromUtf8(exception.what()), symbols, file, line);
}

void DRLogger::logTime(const QString& label) {
    double launch = 0;
    {
        std::lock_guard lock(__drloggerMutex);
        launch = __launchTime;
    }
    log(6, "%@: %.2f", label, secondsNow() - launch);
}

void DRLogger::appWillTerminate() {
    log(7, "== Application will terminate ==");
}

extern "C" void shutdownLogger() {
    DRLogger::shutdown();
}
