#include "DiagnosticsController.h"

#include "AppResources.h"
#include "Platform/DesktopCommand.h"
#include "Platform/Localization.h"
#include "Platform/SystemLog.h"
#include "ProgressIndicator.h"
#include "VTScriptUtils.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QStandardPaths>
#include <QThread>

#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

namespace {

constexpr const char* kProductFolder = "Keyloft 4";
constexpr const char* kReportFolder = "Diagnostics";

// A file manager that xdg-open starts in the foreground keeps it running as long as its window is open:
// still running after this long counts as opened.
constexpr std::chrono::milliseconds kFileManagerPatience{3000};
// How long the ending tool waits for a stopped report run to wind down before it leaves it behind.
constexpr std::chrono::seconds kStoppedRunPatience{5};

const char* const kFolderNotOpenedTitle =
    QT_TRANSLATE_NOOP("Localizable", "The report folder could not be opened.");
const char* const kFolderNotOpenedMessage =
    QT_TRANSLATE_NOOP("Localizable", "No file manager could open it. You can open the folder yourself:\n%@");

// Why xdg-open did not open the folder, for the log; absent when it did (or is still busy doing so).
std::optional<QString> folderOpeningFailure(const VTDesktopCommandResult& result) {
    using Outcome = VTDesktopCommandResult::Outcome;
    switch (result.outcome) {
    case Outcome::StillRunning:
        return std::nullopt;
    case Outcome::Exited:
        if (result.status == 0)
            return std::nullopt;
        return vt_format("exit status %d: %@", result.status,
                         QString::fromLocal8Bit(result.standardError).trimmed());
    case Outcome::Signaled:
        return vt_format("ended by signal %d", result.status);
    case Outcome::NotStarted:
        return vt_format("not started: %s", std::strerror(result.startError));
    case Outcome::Lost:
        return QStringLiteral("its end could not be observed");
    }
    return std::nullopt;
}

// Tells the user the folder did not open and where it is, as selectable plain text.
void showFolderNotOpened(QWidget* window, const QString& folder) {
    auto* box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(vt_applicationTitle());
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setText(vt_localized(kFolderNotOpenedTitle));
    box->setInformativeText(vt_format(vt_localized(kFolderNotOpenedMessage), folder));
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
        informative->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
}

// Starts work on a thread of its own; false when the system has no thread to give.
template <class Work> bool startDetachedThread(Work work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error& error) {
        vt_systemLogFormat("Could not start the report thread: %s", error.what());
        return false;
    }
}

// The user's data home, or absent when it names no usable folder: empty, relative, or Qt's "//.local/share"
// for an unset HOME (a path below the root's empty name, not a home folder).
std::optional<QString> dataHome() {
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (home.isEmpty() || QDir::isRelativePath(home) || home.startsWith(QLatin1String("//")))
        return std::nullopt;
    return home;
}

// Newer first; equal times: the greater name first.
bool isNewer(const QFileInfo& a, const QFileInfo& b) {
    const QDateTime ta = a.lastModified();
    const QDateTime tb = b.lastModified();
    if (ta != tb)
        return ta > tb;
    return a.fileName() > b.fileName();
}

} // namespace

DiagnosticsController::DiagnosticsController(QObject* parent) : QObject(parent) {}

DiagnosticsController::~DiagnosticsController() = default;

void DiagnosticsController::awakeFromNib() {
    setDiagsLoaded(false);
}

void DiagnosticsController::diagnosticsActionButtonPressed() {
    if (diagsLoaded()) {
        createMailMessage();
        return;
    }
    // Disabled before the worker exists, so a second press cannot start a second report run.
    auto* pressed = qobject_cast<QWidget*>(sender());
    if (pressed == nullptr)
        pressed = diagnosticsPerformActionButton();
    if (pressed != nullptr)
        pressed->setEnabled(false);
    workerRunning_.store(true);
    const auto run = [this] {
        generateDiagnostics();
        workerRunning_.store(false);
    };
    // Without a thread the report is made here: the window waits for it, but the report still comes.
    if (!startDetachedThread(run))
        run();
}

void DiagnosticsController::applicationWillTerminate() {
    if (!isGeneratingDiagnostics())
        return;
    ending_.store(true);
    vt_stopRunningScripts();
    const auto deadline = std::chrono::steady_clock::now() + kStoppedRunPatience;
    while (isGeneratingDiagnostics() && std::chrono::steady_clock::now() < deadline)
        QThread::msleep(10);
}

std::optional<QByteArray>
DiagnosticsController::fileDataForDraggableFileImageView(DraggableFileImageView* view) {
    if (view == nullptr || view != draggableFileView())
        return std::nullopt;
    const std::optional<QUrl> report = generatedReportZipURL();
    if (!report)
        return std::nullopt;
    QFile file(report->toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

std::optional<QUrl> DiagnosticsController::fileURLForDraggableFileImageView(DraggableFileImageView* view) {
    if (view == nullptr || view != draggableFileView())
        return std::nullopt;
    return generatedReportZipURL();
}

void DiagnosticsController::showDiagnostics() {
    // A folder the script has not made yet would only earn an error from the file manager.
    const auto folderURL = outputFolderURL();
    if (!folderURL || !QFileInfo(folderURL->toLocalFile()).isDir())
        return;
    const QString folder = folderURL->toLocalFile();
    const std::optional<QString> failure = folderOpeningFailure(
        vt_runDesktopCommand(QStringLiteral("xdg-open"), {folder}, kFileManagerPatience));
    if (!failure)
        return;
    vt_systemLogFormat("xdg-open did not open the report folder %@: %@", folder, *failure);
    showFolderNotOpened(window(), folder);
}

std::optional<QUrl> DiagnosticsController::outputFolderURL() {
    const auto home = dataHome();
    if (!home)
        return std::nullopt;
    const QString folder =
        QDir(*home).filePath(QLatin1String(kProductFolder) + QLatin1Char('/') + QLatin1String(kReportFolder));
    return QUrl::fromLocalFile(folder);
}

std::optional<QUrl> DiagnosticsController::generatedReportZipURL() {
    const auto folder = outputFolderURL();
    if (!folder)
        return std::nullopt;
    return newestReportInFolder(folder->toLocalFile());
}

std::optional<QUrl> DiagnosticsController::newestReportInFolder(const QString& folder) {
    // Regular files only (no folders, devices or dangling links), hidden ones left out.
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    if (entries.isEmpty())
        return std::nullopt;
    const auto newest = std::min_element(entries.cbegin(), entries.cend(), isNewer);
    return QUrl::fromLocalFile(newest->absoluteFilePath());
}
