#include "PasswordDiagnosticsAppDelegate.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The self-pipe that carries a termination signal from its handler to the event loop.
std::array<int, 2> wakePipe{-1, -1};

extern "C" void onTerminationSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

bool installHandler(int signalNumber) {
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(signalNumber, &action, nullptr) == 0;
}

} // namespace

bool PasswordDiagnosticsAppDelegate::closeWindowOnTerminationSignals() {
    if (wakePipe[0] >= 0)
        return true;
    if (::pipe2(wakePipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe = {-1, -1};
        return false;
    }
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this,
            &PasswordDiagnosticsAppDelegate::terminationRequested);
    return installHandler(SIGTERM) && installHandler(SIGINT) && installHandler(SIGHUP);
}

void PasswordDiagnosticsAppDelegate::terminationRequested() {
    char buffer[64];
    while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {
    }
    if (window_ != nullptr && window_->isVisible())
        window_->close();
    else
        QCoreApplication::quit();
}
