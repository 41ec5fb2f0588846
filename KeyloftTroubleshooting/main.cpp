#include "AppResources.h"
#include "MainInterface.h"
#include "Platform/Localization.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[]) {
    // A child that stops reading its input must not end the tool.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keyloft Troubleshooting"));
    QGuiApplication::setDesktopFileName(QStringLiteral("keyloft-troubleshooting"));
    vt_installTranslations(app);

    MainInterface interface;
    QApplication::setWindowIcon(vt_applicationIcon());
    QApplication::setQuitOnLastWindowClosed(
        interface.delegate().applicationShouldTerminateAfterLastWindowClosed());
    interface.controller().awakeFromNib();
    interface.window().show();
    interface.delegate().closeWindowOnTerminationSignals();
    interface.delegate().applicationDidFinishLaunching();
    return QApplication::exec();
}
