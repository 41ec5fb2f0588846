#include "DiagnosticsController.h"

#include "ProgressIndicator.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <thread>

namespace {

constexpr const char* kProductFolder = "Keyloft 4";
constexpr const char* kReportFolder = "Diagnostics";

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
    std::thread([this] {
        generateDiagnostics();
        workerRunning_.store(false);
    }).detach();
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
    // A folder the script has not made yet would only earn an error from the file browser.
    const auto folder = outputFolderURL();
    if (folder && QFileInfo(folder->toLocalFile()).isDir())
        QDesktopServices::openUrl(*folder);
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
