#include "VTScriptUtils.h"

#include "Platform/ChildProcess.h"
#include "Platform/Localization.h"
#include "VantleDictionary.h"
#include "VantleFormat.h"
#include "VantleString.h"

#include <QFileInfo>

#include <cerrno>
#include <mutex>

namespace {

const QString kShell = QStringLiteral("/bin/bash");
const QStringList kRubyFixedLocations = {QStringLiteral("/usr/bin/ruby"),
                                         QStringLiteral("/usr/local/bin/ruby")};

std::mutex fixedLocationsMutex;
QStringList fixedLocationsOverride;

// ---------------------------------------------------------------------------------------------
// The result dictionary
// ---------------------------------------------------------------------------------------------

// How the shell reports a command it could not run: 127 when there is nothing at the path, 126 when
// there is something it cannot execute.
[[nodiscard]] int statusForStartError(int error) {
    return (error == ENOENT || error == ENOTDIR) ? 127 : 126;
}

// Builds "out", "err" and, when storeStatus, "status" from what the child did; the child's output
// arrives already decoded. A failed start always stores a status, so no reader mistakes it for a
// run that succeeded.
[[nodiscard]] QVariantMap resultDictionary(VTChildProcessResult child, const QString& noOutputText,
                                           bool storeStatus) {
    QVariantMap result;
    const QString out = child.standardOutputLength == 0 ? noOutputText : std::move(child.standardOutputText);
    vt_setObject(result, out, QStringLiteral("out"));
    if (child.startFailure) {
        vt_setObject(result, *child.startFailure, QStringLiteral("err"));
        vt_setObject(result, statusForStartError(child.startError), QStringLiteral("status"));
        return result;
    }
    if (child.standardErrorLength > 0)
        vt_setObject(result, std::move(child.standardErrorText), QStringLiteral("err"));
    if (storeStatus && child.terminationStatus)
        vt_setObject(result, *child.terminationStatus, QStringLiteral("status"));
    return result;
}

// The child's output is decoded while it is being written: large outputs cost little more than
// reading them.
[[nodiscard]] VTChildProcessResult runDecoded(const QString& executable, const QStringList& arguments,
                                              const std::optional<QByteArray>& standardInput,
                                              bool waitForExit) {
    VTChildProcessRequest request{executable, arguments, standardInput, waitForExit};
    request.output = VTChildProcessOutput::Text;
    return vt_runChildProcess(request);
}

[[nodiscard]] QString shellCommandLine(const QString& script, const std::optional<QString>& parameters) {
    return parameters ? vt_format("%@ %@", script, *parameters) : script;
}

// ---------------------------------------------------------------------------------------------
// The interpreter
// ---------------------------------------------------------------------------------------------

[[nodiscard]] std::optional<QString> trimmedOutput(const QVariantMap& result) {
    if (!result.contains(QStringLiteral("out")))
        return std::nullopt;
    return vt_trim(result.value(QStringLiteral("out")).toString());
}

[[nodiscard]] std::optional<QString> firstExistingFixedLocation() {
    for (const QString& location : rubyFixedLocations()) {
        if (QFileInfo::exists(location))
            return location;
    }
    return std::nullopt;
}

[[nodiscard]] QString rubyCommand(const QString& interpreter, const QString& script) {
    const std::optional<QString> version = rubyVersion(interpreter);
    if (version && version->startsWith(QStringLiteral("2.")))
        return interpreter + vt_format(" -E utf-8:utf-8 %@", script);
    return interpreter + vt_format(" %@", script);
}

[[nodiscard]] QVariantMap missingInterpreterDictionary() {
    QVariantMap result;
    vt_setObject(result,
                 vt_localized(QT_TRANSLATE_NOOP(
                     "Localizable", "A Ruby interpreter is required to perform your request, however "
                                    "Ruby cannot be found on this system. Please contact Vantlesoft "
                                    "for assistance.")),
                 QStringLiteral("err"));
    vt_setObject(result, 1, QStringLiteral("status"));
    return result;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Runners
// ---------------------------------------------------------------------------------------------

QVariantMap runScriptWaitForExit(const QString& script, const std::optional<QString>& parameters,
                                 const std::optional<QByteArray>& standardInput, bool waitForExit) {
    const QString commandLine = shellCommandLine(script, parameters);
    VTChildProcessResult child =
        runDecoded(kShell, {QStringLiteral("-c"), commandLine}, standardInput, waitForExit);
    return resultDictionary(std::move(child),
                            vt_format("Did not receive any output from running the script:\n%@", commandLine),
                            waitForExit);
}

void vt_stopRunningScripts() noexcept {
    vt_stopChildProcesses();
}

QVariantMap runScript(const QString& script, const std::optional<QString>& parameters,
                      const std::optional<QByteArray>& standardInput) {
    return runScriptWaitForExit(script, parameters, standardInput, false);
}

QVariantMap runTask(const QString& launchPath, const QStringList& arguments,
                    const std::optional<QByteArray>& standardInput) {
    VTChildProcessResult child = runDecoded(launchPath, arguments, standardInput, true);
    return resultDictionary(std::move(child),
                            vt_format("There was no output after running the task '%@' with parameters %@",
                                      launchPath, arguments),
                            false);
}

// ---------------------------------------------------------------------------------------------
// Interpreter lookup
// ---------------------------------------------------------------------------------------------

std::optional<QString> rubyVersion(const QString& interpreter) {
    const std::optional<QString> reply = trimmedOutput(
        runScriptWaitForExit(vt_format("%@ --version", interpreter), std::nullopt, std::nullopt, true));
    if (!reply || !reply->startsWith(QStringLiteral("ruby")))
        return std::nullopt;
    const QStringList words = reply->split(QLatin1Char(' '));
    return words.size() < 2 ? *reply : words.at(1);
}

std::optional<QString> rubyPath() {
    const std::optional<QString> reply =
        trimmedOutput(runScriptWaitForExit(QStringLiteral("which ruby"), std::nullopt, std::nullopt, true));
    if (!reply || !vt_containsString(*reply, QStringLiteral("/")))
        return std::nullopt;
    return reply;
}

bool rubyExists() {
    return rubyPath() || firstExistingFixedLocation();
}

std::optional<QString> rubyInterpreter() {
    const QString bareName = QStringLiteral("ruby");
    if (rubyVersion(bareName))
        return bareName;
    if (std::optional<QString> path = rubyPath())
        return path;
    return firstExistingFixedLocation();
}

QStringList rubyFixedLocations() {
    const std::lock_guard lock(fixedLocationsMutex);
    return fixedLocationsOverride.isEmpty() ? kRubyFixedLocations : fixedLocationsOverride;
}

void setRubyFixedLocationsForTesting(const QStringList& locations) {
    const std::lock_guard lock(fixedLocationsMutex);
    fixedLocationsOverride = locations;
}

// ---------------------------------------------------------------------------------------------
// Script runs
// ---------------------------------------------------------------------------------------------

QVariantMap runRubyScriptWithStandarInputWaitForResponse(const QString& script,
                                                         const std::optional<QString>& parameters,
                                                         const std::optional<QByteArray>& standardInput,
                                                         bool waitForResponse) {
    const std::optional<QString> interpreter = rubyInterpreter();
    if (!interpreter)
        return missingInterpreterDictionary();
    return runScriptWaitForExit(rubyCommand(*interpreter, script), parameters, standardInput,
                                waitForResponse);
}

QVariantMap runRubyScript(const QString& script, const std::optional<QString>& parameters) {
    return runRubyScriptWithStandarInputWaitForResponse(script, parameters, std::nullopt, false);
}

QVariantMap runRubyScriptWithStandarInput(const QString& script, const std::optional<QString>& parameters,
                                          const std::optional<QByteArray>& standardInput) {
    return runRubyScriptWithStandarInputWaitForResponse(script, parameters, standardInput, false);
}

QVariantMap runRubyScriptWaitForResponse(const QString& script, const std::optional<QString>& parameters) {
    return runRubyScriptWithStandarInputWaitForResponse(script, parameters, std::nullopt, true);
}
