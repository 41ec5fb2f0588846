// Report generation: runs the shipped diagnostics script and shows the report in the window.
//
// The worker thread builds the command, waits for the script and decides the outcome; every change to
// the window is posted to the main thread, in the order the user should see it. A run counts as a report
// only when the script exited 0 and a report that was not there before lies in the report folder.

#include "DiagnosticsController.h"

#include "AppResources.h"
#include "Platform/Bundle.h"
#include "Platform/Localization.h"
#include "ProgressIndicator.h"
#include "VTScriptUtils.h"
#include "VantleFormat.h"
#include "VantleString.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/stat.h>

namespace {

constexpr const char* kScriptPathFormat = "%@/Contents/Resources/Scripts/vantletools.rb";
constexpr const char* kDevelopmentSuffix = "/tmp/build/Debug/";
constexpr const char* kDevelopmentProjects = "Projects";
constexpr const char* kDevelopmentScript = "keyloft-troubleshooting/scripts/diagnostics-v3.rb";
constexpr const char* kScriptArgumentFormat = "BUNDLE_PATH=%@";

const char* const kFailureTitle = QT_TRANSLATE_NOOP("Localizable", "Diagnostic script failed.");
const char* const kStoppedWithoutReason =
    QT_TRANSLATE_NOOP("Localizable", "The diagnostics script stopped before it could create the report.");
const char* const kFinishedWithoutReport = QT_TRANSLATE_NOOP(
    "Localizable", "The diagnostics script finished, but no report was written to the report folder.");
const char* const kUnpassableBundlePath = QT_TRANSLATE_NOOP(
    "Localizable", "The application's folder has a name that cannot be passed to the diagnostics script.");

const char* const kMailButtonTitle = QT_TRANSLATE_NOOP("Localizable", "Create New Mail Message...");
const char* const kReportMadeDescription = QT_TRANSLATE_NOOP(
    "Localizable",
    "The report has been created. Click the Create New Mail Message button to create a new email message in "
    "your mail program to send to our Support Jedi. You can also drag and drop the icon into an email or "
    "click it to view the report in your file manager.");
//: The line under the report icon: the report's file name, a line break, its size.
const char* const kReportLineFormat = QT_TRANSLATE_NOOP("Localizable", "%@\n%@");

constexpr int kReportIconSide = 128;

std::mutex bundlePathOverrideMutex;
std::optional<QString> bundlePathOverride;

QString bundlePathForRun() {
    std::lock_guard lock(bundlePathOverrideMutex);
    return bundlePathOverride.value_or(vt_bundlePath());
}

// text as one shell word the shell reads back exactly: backslash-escaped where that is exact (the form
// support staff know from earlier versions), single-quoted otherwise. Absent when no command line can
// carry it (a U+0000 or a broken surrogate).
std::optional<QString> exactShellWord(const QString& text) {
    if (vt_stringAsLegalFilePathIsExact(text))
        return vt_stringAsLegalFilePath(text);
    return vt_stringAsShellQuotedWord(text);
}

// The script to run for this bundle, as a shell word: the shipped one, or the developer's working copy
// when the tool runs from a development build folder.
std::optional<QString> scriptCommandPath(const QString& bundlePath) {
    if (bundlePath.endsWith(QLatin1String(kDevelopmentSuffix))) {
        const QString projects = QDir(QDir::homePath()).filePath(QLatin1String(kDevelopmentProjects));
        return exactShellWord(projects + QLatin1Char('/') + QLatin1String(kDevelopmentScript));
    }
    const std::optional<QString> bundleWord = exactShellWord(bundlePath);
    if (!bundleWord)
        return std::nullopt;
    return vt_format(kScriptPathFormat, *bundleWord);
}

// "BUNDLE_PATH=<bundle path>" as one shell word.
std::optional<QString> scriptArgument(const QString& bundlePath) {
    return exactShellWord(vt_format(kScriptArgumentFormat, bundlePath));
}

// What identifies one report file: a report written again under the same name is a new file (the
// script renames a fresh file into place) or at least has a new modification time.
struct ReportIdentity {
    QString path;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};

    [[nodiscard]] bool sameAs(const ReportIdentity& other) const {
        return path == other.path && device == other.device && inode == other.inode &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

std::optional<ReportIdentity> currentReport() {
    const std::optional<QUrl> report = DiagnosticsController::generatedReportZipURL();
    if (!report)
        return std::nullopt;
    ReportIdentity identity;
    identity.path = report->toLocalFile();
    struct stat info {};
    if (::stat(QFile::encodeName(identity.path).constData(), &info) != 0)
        return std::nullopt;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.modified = info.st_mtim;
    return identity;
}

[[nodiscard]] bool isNewReport(const std::optional<ReportIdentity>& before,
                               const std::optional<ReportIdentity>& after) {
    return after && !(before && before->sameAs(*after));
}

// The alert's message for a run that made no report, or absent when the run made one. The script's
// own error output explains best; the fixed sentences stand in when it wrote none.
[[nodiscard]] std::optional<QString> failureMessage(const QVariantMap& result,
                                                    const std::optional<ReportIdentity>& before,
                                                    const std::optional<ReportIdentity>& after) {
    const bool exitedCleanly = result.value(QStringLiteral("status")).toInt() == 0;
    if (exitedCleanly && isNewReport(before, after))
        return std::nullopt;
    const QString errors = result.value(QStringLiteral("err")).toString();
    if (!errors.trimmed().isEmpty())
        return errors;
    return vt_localized(exitedCleanly ? kFinishedWithoutReport : kStoppedWithoutReason);
}

// Runs step on the main thread and returns once it has run (at once when already there).
template <class Step> void runOnMainThreadAndWait(QObject* mainThreadObject, Step step) {
    if (QThread::currentThread() == mainThreadObject->thread())
        step();
    else
        QMetaObject::invokeMethod(mainThreadObject, std::move(step), Qt::BlockingQueuedConnection);
}

// Queues step for the main thread after every step queued before it; dropped when target is gone.
template <class Step> void postToMainThread(QObject* target, Step step) {
    if (target != nullptr)
        QMetaObject::invokeMethod(target, std::move(step), Qt::QueuedConnection);
}

// The modal alert that tells the user the report could not be made. The message is shown as plain
// text: whatever the script wrote is neither a format nor markup.
void showFailureAlert(QWidget* window, const QString& message) {
    QMessageBox box(window);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(vt_applicationTitle());
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);
    box.setText(DiagnosticsController::reportFailureTitle());
    box.setInformativeText(message);
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

// "<file name>\n<size>" for the line under the report icon.
[[nodiscard]] QString reportFileDescription(const QString& path) {
    const QFileInfo file(path);
    return vt_format(
        vt_localized(kReportLineFormat), file.fileName(),
        vt_humanReadableSizeStringForBytes(static_cast<uint64_t>(std::max<qint64>(file.size(), 0))));
}

// For the report benchmark and the end-to-end test, which watch the tool from outside: with
// KEYLOFT_REPORT_MAIL_BUTTON set, prints "mail-button <ns> <enabled> <title>" on standard output (wall
// clock in nanoseconds since the epoch, 1 or 0, the button's title) once the report run has handed the
// button back.
void reportMailButtonIfAsked(const QPushButton& button) {
    if (!qEnvironmentVariableIsSet("KEYLOFT_REPORT_MAIL_BUTTON"))
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::printf("mail-button %lld %d %s\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                button.isEnabled() ? 1 : 0, button.text().toUtf8().constData());
    std::fflush(stdout);
}

struct ScriptRun {
    QVariantMap result;
    bool interpreterMissing = false;
};

// Runs the bundle's diagnostics script (or the developer's working copy) and waits for it to end.
ScriptRun runDiagnosticsScript(const QString& bundlePath, const std::optional<QByteArray>& standardInput) {
    const std::optional<QString> script = scriptCommandPath(bundlePath);
    const std::optional<QString> argument = scriptArgument(bundlePath);
    if (!script || !argument)
        return {QVariantMap{{QStringLiteral("err"), vt_localized(kUnpassableBundlePath)},
                            {QStringLiteral("status"), 1}}};
    QVariantMap result = runRubyScriptWithStandarInputWaitForResponse(*script, argument, standardInput, true);
    // Every run has "out"; the runner answers without it only when it found no interpreter to run.
    const bool interpreterMissing = !result.contains(QStringLiteral("out"));
    return {std::move(result), interpreterMissing};
}

// The failure path: the alert, and once the user has dismissed it the window closes, which ends the tool.
void endWithAlert(DiagnosticsController& controller, const QString& message) {
    runOnMainThreadAndWait(&controller,
                           [&controller, message] { showFailureAlert(controller.window(), message); });
    postToMainThread(controller.window(), [window = controller.window()] { window->close(); });
}

// The success path: the icon stands for the report, and the button comes back last, as the mail button.
void showReport(DiagnosticsController& controller, const QString& reportPath) {
    const QString reportLine = reportFileDescription(reportPath);
    postToMainThread(
        controller.draggableFileView(), [&controller, view = controller.draggableFileView(), reportPath] {
            view->configureWithFileIcon(vt_reportArtwork(kReportIconSide, view->devicePixelRatioF()),
                                        QUrl::fromLocalFile(reportPath), &controller);
        });
    postToMainThread(controller.reportFileField(),
                     [field = controller.reportFileField(), reportLine] { field->setText(reportLine); });
    // Set before the button comes back: the next press reads it.
    controller.setDiagsLoaded(true);

    postToMainThread(controller.indicator(),
                     [spinner = controller.indicator()] { spinner->stopAnimation(); });
    QPushButton* button = controller.diagnosticsPerformActionButton();
    postToMainThread(button, [button] { button->setText(vt_localized(kMailButtonTitle)); });
    postToMainThread(controller.descriptionField(), [field = controller.descriptionField()] {
        field->setText(vt_localized(kReportMadeDescription));
    });
    postToMainThread(button, [button] {
        button->setEnabled(true);
        reportMailButtonIfAsked(*button);
    });
    postToMainThread(&controller, [&controller] { emit controller.reportShown(); });
}

} // namespace

void DiagnosticsController::setBundlePathForTesting(const std::optional<QString>& bundlePath) {
    std::lock_guard lock(bundlePathOverrideMutex);
    bundlePathOverride = bundlePath;
}

QString DiagnosticsController::reportFailureTitle() {
    return vt_localized(kFailureTitle);
}

DiagnosticsController::ReportOutcome
DiagnosticsController::makeReport(const std::optional<QByteArray>& standardInput) {
    const std::optional<ReportIdentity> before = currentReport();
    const ScriptRun run = runDiagnosticsScript(bundlePathForRun(), standardInput);
    const std::optional<ReportIdentity> after = currentReport();
    ReportOutcome outcome;
    if (const std::optional<QString> failure = failureMessage(run.result, before, after)) {
        outcome.failure = *failure;
        outcome.interpreterMissing = run.interpreterMissing;
    } else {
        outcome.reportPath = after->path;
    }
    return outcome;
}

void DiagnosticsController::generateDiagnostics() {
    postToMainThread(indicator(), [spinner = indicator()] { spinner->startAnimation(); });
    const ReportOutcome outcome = makeReport(std::nullopt);
    // Stopped because the tool is ending: there is no window left to tell.
    if (ending_.load())
        return;
    if (!outcome.reportPath) {
        endWithAlert(*this, outcome.failure);
        return;
    }
    showReport(*this, *outcome.reportPath);
}
