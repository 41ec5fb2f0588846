#pragma once

// The controller of the tool's one window: it drives the two-stage action button (first press makes
// the diagnostics report on a worker thread, every later press creates a mail message to support),
// serves the report icon its bytes, opens the report folder, and carries the three repair commands.
//
// It never owns the controls: the window and its controls are set through the accessors by whoever
// loads the main interface and must outlive the controller's use of them. The references are atomic
// so the report worker can read them; the controls themselves are touched on the main thread only.
// Bodies live by topic: DiagnosticsController.cpp (window, report location, icon data source),
// DiagnosticsControllerReport.cpp, DiagnosticsControllerMail.cpp, DiagnosticsControllerRepairs.cpp.

#include "DraggableFileImageView.h"
#include "VTError.h"

#include <QByteArray>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <optional>

class ProgressIndicator;

class DiagnosticsController : public QObject, public DraggableFileDataSource {
    Q_OBJECT
public:
    explicit DiagnosticsController(QObject* parent = nullptr);
    ~DiagnosticsController() override;

    // Called once the main interface is loaded and every reference is set: the run starts with no report.
    void awakeFromNib();

    // True once a report was made in this run; written by the report worker before it re-enables the
    // action button, read on the main thread at the next press.
    [[nodiscard]] bool diagsLoaded() const { return diagsLoaded_.load(); }
    void setDiagsLoaded(bool loaded) { diagsLoaded_.store(loaded); }

    // True from the first press of the action button until the report worker has finished.
    [[nodiscard]] bool isGeneratingDiagnostics() const { return workerRunning_.load(); }

    // Non-owning references to the window and its controls; null until set.
    [[nodiscard]] QWidget* window() const { return window_.load(); }
    void setWindow(QWidget* window) { window_.store(window); }
    [[nodiscard]] ProgressIndicator* indicator() const { return indicator_.load(); }
    void setIndicator(ProgressIndicator* indicator) { indicator_.store(indicator); }
    [[nodiscard]] DraggableFileImageView* draggableFileView() const { return draggableFileView_.load(); }
    void setDraggableFileView(DraggableFileImageView* view) { draggableFileView_.store(view); }
    [[nodiscard]] QPushButton* diagnosticsPerformActionButton() const { return actionButton_.load(); }
    void setDiagnosticsPerformActionButton(QPushButton* button) { actionButton_.store(button); }
    [[nodiscard]] QLabel* descriptionField() const { return descriptionField_.load(); }
    void setDescriptionField(QLabel* field) { descriptionField_.store(field); }
    // The line under the report icon that names the report file and its size; empty until a report is made.
    [[nodiscard]] QLabel* reportFileField() const { return reportFileField_.load(); }
    void setReportFileField(QLabel* field) { reportFileField_.store(field); }

    // The report file's complete content, read at the moment of asking, for the controller's own report
    // icon only; absent for any other view, when there is no report, or when it cannot be read.
    [[nodiscard]] std::optional<QByteArray>
    fileDataForDraggableFileImageView(DraggableFileImageView* view) override;
    // The report file of this moment (generatedReportZipURL), for the controller's own report icon only:
    // a drop or a paste hands over the report itself (mode 0600, kept as long as the user keeps it).
    [[nodiscard]] std::optional<QUrl> fileURLForDraggableFileImageView(DraggableFileImageView* view) override;

    // The report folder: "<XDG data home>/Keyloft 4/Diagnostics" as a file URL. Absent when the data home
    // is empty or not an absolute path. Never created here. Looked up anew at each call; any thread.
    [[nodiscard]] static std::optional<QUrl> outputFolderURL();
    // The report file: the newest regular, non-hidden file in the report folder (equal times: the greater
    // name). Absent when there is no folder or no such file. Lists the folder at each call; any thread.
    [[nodiscard]] static std::optional<QUrl> generatedReportZipURL();
    // The newest-report rule applied to a given folder (absent when it holds no candidate).
    [[nodiscard]] static std::optional<QUrl> newestReportInFolder(const QString& folder);

    // What one run of the diagnostics script came to.
    struct ReportOutcome {
        // The report the run made; absent when it made none.
        std::optional<QString> reportPath;
        // Otherwise why not, as the failure alert says it: the script's error output, or a fixed sentence.
        QString failure;
        // Nothing was run: no Ruby interpreter was found.
        bool interpreterMissing = false;
    };
    // Runs the shipped diagnostics script (see generateDiagnostics) and waits for it; no window involved.
    // standardInput absent: the script reads this process's standard input; present: exactly these
    // bytes. A run counts as a report only when the script exited 0 and a new report lies in the report
    // folder. Blocks the calling thread; any thread.
    [[nodiscard]] static ReportOutcome makeReport(const std::optional<QByteArray>& standardInput);
    // The title of the failure alert, localized.
    [[nodiscard]] static QString reportFailureTitle();

    // Makes the report: runs the shipped diagnostics script, waits for it, and updates the window. Runs on
    // the worker thread started by the first press of the action button; posts its window changes to the
    // main thread in order. A run that leaves no new report (no interpreter, a non-zero exit, or nothing
    // written) shows an alert with the script's error output, waits for it to be dismissed, and closes
    // the window, which ends the application.
    void generateDiagnostics();
    // For tests only: the bundle path generateDiagnostics runs the script from instead of the running
    // executable's bundle; absent restores the real one. Set it before the run starts.
    static void setBundlePathForTesting(const std::optional<QString>& bundlePath);
    // Creates a new, visible mail message to support with the report attached; main thread, blocks until
    // the mail program has been handed the message. Then the description field says what to check in the
    // message, or a sheet on the window says what failed.
    void createMailMessage();
    // Hands one message to the mail client. False with error filled (domain "KLTroubleshooting",
    // code 100) when it could not; error may be null.
    bool sendEmailWithSubject(const QString& subject, const QString& body,
                              const std::optional<QUrl>& attachment, VTError* error);

public slots:
    // The action button: first press starts the report worker (disabling the pressed button; when no
    // thread can be had, the report is made on the calling thread), every press after a report creates a
    // mail message.
    void diagnosticsActionButtonPressed();
    // The report icon's click: opens the report folder with the desktop's file manager (xdg-open), and
    // when none opens it, tells the user in a sheet that names the folder's path; nothing when the folder
    // does not exist. Returns once xdg-open has ended or a few seconds have passed, the window kept alive.
    void showDiagnostics();
    // The tool is ending (connected to the application's aboutToQuit): a report run still going is
    // stopped with everything its script started, and given a few seconds to wind down without touching
    // the window again.
    void applicationWillTerminate();
    // The repair commands, each run with administrator rights after a password prompt.
    void resetFolderPermissions();
    void repairExtendedAttributes();
    void resetLaunchServicesDb();

signals:
    // On the main thread, once the report made by this run is shown in the window.
    void reportShown();

private:
    std::atomic<bool> diagsLoaded_{false};
    std::atomic<bool> workerRunning_{false};
    // Set once the tool is ending: a report run that ends now changes nothing in the window.
    std::atomic<bool> ending_{false};
    std::atomic<QWidget*> window_{nullptr};
    std::atomic<ProgressIndicator*> indicator_{nullptr};
    std::atomic<DraggableFileImageView*> draggableFileView_{nullptr};
    std::atomic<QPushButton*> actionButton_{nullptr};
    std::atomic<QLabel*> descriptionField_{nullptr};
    std::atomic<QLabel*> reportFileField_{nullptr};
};
