#include "ChildWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How often a wait looks again when the system offers no descriptor that tells of the child's end.
constexpr auto kPollInterval = 10ms;

// With block, waits until the child is no longer running. Async-signal-safe.
[[nodiscard]] VTChildState stateOf(pid_t pid, bool block) noexcept {
    siginfo_t info{};
    int rc = 0;
    do {
        info.si_pid = 0;
        rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return VTChildState::Unknown;
    return info.si_pid == pid ? VTChildState::Ended : VTChildState::Running;
}

// A descriptor that turns readable when the child ends; closed with the object. -1 when the system
// has none to give.
class ChildEndDescriptor {
public:
    explicit ChildEndDescriptor(pid_t pid) : fd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    ChildEndDescriptor(const ChildEndDescriptor&) = delete;
    ChildEndDescriptor& operator=(const ChildEndDescriptor&) = delete;
    ~ChildEndDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

[[nodiscard]] bool onApplicationThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

[[nodiscard]] std::chrono::milliseconds timeLeft(Clock::time_point deadline) {
    return std::max(0ms, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
}

[[nodiscard]] VTChildState awaitBlocking(pid_t pid, std::optional<Clock::time_point> deadline) {
    if (!deadline)
        return stateOf(pid, true);
    const ChildEndDescriptor ended(pid);
    for (;;) {
        const VTChildState state = stateOf(pid, false);
        const std::chrono::milliseconds left = timeLeft(*deadline);
        if (state != VTChildState::Running || left <= 0ms)
            return state;
        if (ended.get() >= 0) {
            pollfd awaited{ended.get(), POLLIN, 0};
            (void)::poll(&awaited, 1,
                         static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 60000)));
        } else {
            const auto pause = std::min<std::chrono::milliseconds>(left, kPollInterval);
            const timespec interval{0, static_cast<long>(pause.count()) * 1000 * 1000};
            ::nanosleep(&interval, nullptr);
        }
    }
}

// Runs a local event loop that leaves user input for later until the child is no longer running or the
// deadline has passed. The child's end descriptor wakes the loop; without one, a short timer polls.
[[nodiscard]] VTChildState awaitServingEvents(pid_t pid, std::optional<Clock::time_point> deadline) {
    VTChildState state = stateOf(pid, false);
    if (state != VTChildState::Running)
        return state;
    QEventLoop loop;
    const ChildEndDescriptor ended(pid);
    std::optional<QSocketNotifier> endNotifier;
    QTimer poll;
    if (ended.get() >= 0) {
        endNotifier.emplace(ended.get(), QSocketNotifier::Read);
        QObject::connect(&*endNotifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    } else {
        QObject::connect(&poll, &QTimer::timeout, &loop, &QEventLoop::quit);
        poll.start(kPollInterval);
    }
    QTimer patience;
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, &loop, &QEventLoop::quit);
    // The loop also returns when the application asks every loop to end; the child has not ended then.
    while ((state = stateOf(pid, false)) == VTChildState::Running) {
        if (deadline) {
            const std::chrono::milliseconds left = timeLeft(*deadline);
            if (left <= 0ms)
                break;
            patience.start(left);
        }
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return state;
}

[[nodiscard]] VTChildEnding endingOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return {VTChildEnding::Kind::Exited, WEXITSTATUS(waitStatus)};
    if (WIFSIGNALED(waitStatus))
        return {VTChildEnding::Kind::Signaled, WTERMSIG(waitStatus)};
    return {};
}

} // namespace

VTChildState vt_childState(pid_t pid) noexcept {
    return stateOf(pid, false);
}

VTChildState vt_awaitChildEnd(pid_t pid, VTChildWait wait,
                              std::optional<std::chrono::milliseconds> patience) {
    std::optional<Clock::time_point> deadline;
    if (patience)
        deadline = Clock::now() + *patience;
    if (wait == VTChildWait::ServingEvents && onApplicationThread())
        return awaitServingEvents(pid, deadline);
    return awaitBlocking(pid, deadline);
}

VTChildEnding vt_reapChild(pid_t pid) noexcept {
    int status = 0;
    pid_t rc = 0;
    do {
        rc = ::waitpid(pid, &status, WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc != pid)
        return {};
    return endingOf(status);
}

VTChildEnding vt_collectChild(pid_t pid, VTChildWait wait) {
    if (vt_awaitChildEnd(pid, wait) != VTChildState::Ended)
        return {};
    return vt_reapChild(pid);
}

void vt_resetChildSignal() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGCHLD, &action, nullptr);
}
