#include "AppResources.h"
#include "CommandLine.h"
#include "FirstFrameReporter.h"
#include "MainInterface.h"
#include "Platform/ChildWait.h"
#include "Platform/Localization.h"

#include <QApplication>

#include <csignal>
#include <cstdlib>

int main(int argc, char* argv[]) {
    vt_resetChildSignal();
    // A child that stops reading its input must not end the tool.
    std::signal(SIGPIPE, SIG_IGN);
    // --report, --help, --version and wrong arguments end here, with no window and no display needed.
    if (const std::optional<int> status = vt_runCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keyloft Troubleshooting"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.vantle.KeyloftTroubleshooting"));
    vt_installTranslations(app);

    MainInterface interface;
    QApplication::setWindowIcon(vt_applicationIcon());
    QApplication::setQuitOnLastWindowClosed(
        interface.delegate().applicationShouldTerminateAfterLastWindowClosed());
    interface.controller().awakeFromNib();
    if (qEnvironmentVariableIsSet("KEYLOFT_REPORT_FIRST_FRAME"))
        interface.window().installEventFilter(new FirstFrameReporter(&interface.window()));
    interface.window().show();
    interface.delegate().closeWindowOnTerminationSignals();
    interface.delegate().applicationDidFinishLaunching();
    const int status = QApplication::exec();
    // A report worker may still run when the window closes. End the process the way the desktop ends an
    // application, with the window and its controller still in place, so the worker never meets them
    // destroyed; otherwise tear down in order.
    if (interface.controller().isGeneratingDiagnostics())
        std::exit(status);
    return status;
}
