#include "MainInterface.h"

#include "AppResources.h"
#include "DefaultButtonKeyFilter.h"
#include "FirstFrameReporter.h"
#include "ReportPreviewWindow.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QIcon>

MainInterface::MainInterface()
    : window_(std::make_unique<QMainWindow>()), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(window_.get());
    window_->setWindowIcon(vt_applicationIcon());
    // The tool has one size that fits its text; no need to let it grow into a large empty window. Room for
    // six lines of explanation keeps the window from jumping when the text changes after the report.
    ui_->descriptionField->setMinimumHeight(ui_->descriptionField->fontMetrics().lineSpacing() * 6);
    window_->layout()->setSizeConstraint(QLayout::SetFixedSize);
    connectControls();
    setUpKeyboard();
    setUpReportPreview();
}

MainInterface::~MainInterface() = default;

void MainInterface::setUpKeyboard() {
    // Reading order: the report on the left, then the action button; the menus through their Alt keys.
    // The window opens with the button focused, since pressing it is the first thing to do.
    QWidget::setTabOrder(ui_->draggableFileView, ui_->diagnosticsPerformActionButton);
    DefaultButtonKeyFilter::install(window_.get(), ui_->diagnosticsPerformActionButton);
    ui_->diagnosticsPerformActionButton->setFocus(Qt::OtherFocusReason);
}

void MainInterface::connectControls() {
    delegate_.setWindow(window_.get());
    controller_.setWindow(window_.get());
    controller_.setIndicator(ui_->indicator);
    controller_.setDraggableFileView(ui_->draggableFileView);
    controller_.setDiagnosticsPerformActionButton(ui_->diagnosticsPerformActionButton);
    controller_.setDescriptionField(ui_->descriptionField);
    controller_.setReportFileField(ui_->reportFileField);

    QObject::connect(ui_->diagnosticsPerformActionButton, &QPushButton::clicked, &controller_,
                     &DiagnosticsController::diagnosticsActionButtonPressed);
    QObject::connect(ui_->draggableFileView, &DraggableFileImageView::clicked, &controller_,
                     &DiagnosticsController::showDiagnostics);
    QObject::connect(ui_->actionResetFolderPermissions, &QAction::triggered, &controller_,
                     &DiagnosticsController::resetFolderPermissions);
    QObject::connect(ui_->actionRepairExtendedAttributes, &QAction::triggered, &controller_,
                     &DiagnosticsController::repairExtendedAttributes);
    QObject::connect(ui_->actionResetLaunchServicesDb, &QAction::triggered, &controller_,
                     &DiagnosticsController::resetLaunchServicesDb);
    QObject::connect(ui_->actionQuit, &QAction::triggered, window_.get(), &QWidget::close);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &controller_,
                     &DiagnosticsController::applicationWillTerminate);
}

void MainInterface::setUpReportPreview() {
    QAction* command = ui_->actionShowReportContents;
    // The icon's context menu (right click, or the Menu key on the focused icon) offers the same command.
    ui_->draggableFileView->setContextMenuPolicy(Qt::ActionsContextMenu);
    ui_->draggableFileView->addAction(command);
    QObject::connect(&controller_, &DiagnosticsController::reportShown, command,
                     [command] { command->setEnabled(true); });
    QObject::connect(command, &QAction::triggered, window_.get(), [this] { showReportContents(); });
}

void MainInterface::showReportContents() {
    if (reportPreview_ == nullptr) {
        reportPreview_ = new ReportPreviewWindow(window_.get());
        // For the preview benchmark, as for the main window: the first painted frame, on standard output.
        if (qEnvironmentVariableIsSet("KEYLOFT_REPORT_FIRST_FRAME"))
            reportPreview_->installEventFilter(new FirstFrameReporter(reportPreview_));
    }
    const std::optional<QUrl> report = DiagnosticsController::generatedReportZipURL();
    reportPreview_->showReport(report ? std::optional<QString>(report->toLocalFile()) : std::nullopt);
    reportPreview_->show();
    reportPreview_->raise();
    reportPreview_->activateWindow();
}
