#pragma once

// The main interface: the window built from MainWindow.ui, the application delegate and the window's
// controller, with every reference and action connected. Stands in for loading the interface resource.
//
// Keyboard: Tab moves between the report icon and the action button, Enter anywhere clicks the action
// button unless the focused control uses it, and the menus open with their Alt keys. The focus starts
// on the action button and comes back to it whenever the button comes back (DefaultButtonKeyFilter).
// Once the run's report is shown, Ctrl+I (File menu, and the report icon's context menu) opens the
// report preview.
// Owns all three for its lifetime. Build it on the main thread after the QApplication exists; the caller
// then calls controller().awakeFromNib() and shows the window.

#include "DiagnosticsController.h"
#include "PasswordDiagnosticsAppDelegate.h"
#include "ReportPreviewWindow.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

namespace Ui {
class MainWindow;
}

class MainInterface {
public:
    MainInterface();
    ~MainInterface();
    MainInterface(const MainInterface&) = delete;
    MainInterface& operator=(const MainInterface&) = delete;

    [[nodiscard]] QMainWindow& window() { return *window_; }
    [[nodiscard]] PasswordDiagnosticsAppDelegate& delegate() { return delegate_; }
    [[nodiscard]] DiagnosticsController& controller() { return controller_; }
    // The window's named controls and menu actions.
    [[nodiscard]] Ui::MainWindow& ui() { return *ui_; }
    // The report preview, once the command has opened it (owned by the window); null before.
    [[nodiscard]] ReportPreviewWindow* reportPreview() const { return reportPreview_; }

private:
    void connectControls();
    void setUpKeyboard();
    void setUpReportPreview();
    // Shows the preview window with the newest report, read anew at every call.
    void showReportContents();

    PasswordDiagnosticsAppDelegate delegate_;
    DiagnosticsController controller_;
    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<Ui::MainWindow> ui_;
    QPointer<ReportPreviewWindow> reportPreview_;
};
