#include "MainInterface.h"

#include "ui_MainWindow.h"

#include <QApplication>
#include <QIcon>

// The embedded artwork lives in this static library; it must be registered by name before first use.
static void registerResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

MainInterface::MainInterface()
    : window_(std::make_unique<QMainWindow>()), ui_(std::make_unique<Ui::MainWindow>()) {
    registerResources();
    ui_->setupUi(window_.get());
    window_->setWindowIcon(applicationIcon());
    // The tool has one size that fits its text; no need to let it grow into a large empty window.
    window_->layout()->setSizeConstraint(QLayout::SetFixedSize);
    connectControls();
}

MainInterface::~MainInterface() = default;

QIcon MainInterface::applicationIcon() {
    registerResources();
    return QIcon(QStringLiteral(":/artwork/AppIcon.svg"));
}

void MainInterface::connectControls() {
    delegate_.setWindow(window_.get());
    controller_.setWindow(window_.get());
    controller_.setIndicator(ui_->indicator);
    controller_.setDraggableFileView(ui_->draggableFileView);
    controller_.setDiagnosticsPerformActionButton(ui_->diagnosticsPerformActionButton);
    controller_.setDescriptionField(ui_->descriptionField);

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
}
