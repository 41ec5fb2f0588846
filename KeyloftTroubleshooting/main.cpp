#include "AppResources.h"
#include "MainInterface.h"
#include "Platform/Localization.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// For the startup benchmark: with KEYLOFT_REPORT_FIRST_FRAME set, prints "first-frame <ns>" (wall clock,
// nanoseconds since the epoch) on standard output once the window's first frame has been painted.
class FirstFrameReporter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Painting ends with the frame going to the screen; report on the next turn of the loop.
            QTimer::singleShot(0, this, [] {
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                std::printf("first-frame %lld\n",
                            static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
            });
        }
        return false;
    }
};

} // namespace

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
