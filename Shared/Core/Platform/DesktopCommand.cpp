#include "DesktopCommand.h"

#include "SpawnSetup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 10ms;

// An owned file descriptor, closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// An anonymous in-memory file the child writes into, sealed at the output limit: whoever inherits it
// can fill it but never make it grow. -1 when the system has none to give.
int openCapture() {
    const int fd = memfd_create("keyloft-desktop-command", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    if (::ftruncate(fd, kVTDesktopCommandOutputLimit) != 0 ||
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What was written into a capture file from its start. The child writes through a copy of our
// descriptor, so the shared file offset says how far it got.
QByteArray readCapture(int fd) {
    QByteArray bytes;
    const off_t written = fd < 0 ? 0 : ::lseek(fd, 0, SEEK_CUR);
    if (written <= 0)
        return bytes;
    bytes.resize(std::min<qsizetype>(written, kVTDesktopCommandOutputLimit));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    return bytes;
}

// How the child ended. `collected` is false when its status cannot be known (no such child: someone else
// collected it, as the kernel does itself when SIGCHLD is ignored), which is never read as success.
struct Ending {
    bool collected = false;
    int waitStatus = 0;
};

// The child's ending once it has ended, collecting it; absent while it runs.
std::optional<Ending> collectIfEnded(pid_t pid) {
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(pid, &status, WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0)
        return std::nullopt;
    return rc == pid ? Ending{true, status} : Ending{};
}

// Collects a child that outlived our patience once it ends, without holding anyone up.
void collectLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool onApplicationThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Waits until the child ends or the deadline passes, keeping the window painted.
std::optional<Ending> waitServingEvents(pid_t pid, std::chrono::milliseconds patience) {
    std::optional<Ending> status = collectIfEnded(pid);
    if (status || patience <= 0ms)
        return status;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollInterval);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        status = collectIfEnded(pid);
        if (status || clock.elapsed() >= patience.count())
            loop.quit();
    });
    poll.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return status;
}

// The same wait for callers without an event loop of their own.
std::optional<Ending> waitBlocking(pid_t pid, std::chrono::milliseconds patience) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (std::optional<Ending> status = collectIfEnded(pid))
            return status;
        if (clock.elapsed() >= patience.count())
            return std::nullopt;
        std::this_thread::sleep_for(kPollInterval);
    }
}

VTDesktopCommandResult notStarted(int error) {
    VTDesktopCommandResult result;
    result.outcome = VTDesktopCommandResult::Outcome::NotStarted;
    result.startError = error;
    return result;
}

VTDesktopCommandResult ended(const Ending& ending, int outFd, int errFd) {
    VTDesktopCommandResult result;
    if (!ending.collected) {
        result.outcome = VTDesktopCommandResult::Outcome::Lost;
        return result;
    }
    const int waitStatus = ending.waitStatus;
    if (WIFSIGNALED(waitStatus)) {
        result.outcome = VTDesktopCommandResult::Outcome::Signaled;
        result.status = WTERMSIG(waitStatus);
    } else {
        result.outcome = VTDesktopCommandResult::Outcome::Exited;
        result.status = WEXITSTATUS(waitStatus);
    }
    result.standardOutput = readCapture(outFd);
    result.standardError = readCapture(errFd);
    return result;
}

} // namespace

VTDesktopCommandResult vt_runDesktopCommand(const QString& program, const QStringList& arguments,
                                            std::chrono::milliseconds patience) {
    Descriptor out(openCapture());
    Descriptor err(openCapture());
    Descriptor devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const int outFd = out.get() >= 0 ? out.get() : devNull.get();
    const int errFd = err.get() >= 0 ? err.get() : devNull.get();
    if (outFd < 0 || errFd < 0)
        return notStarted(errno ? errno : EMFILE);

    // A mail client may outlive the tool: it gets a session of its own.
    VTSpawnSetup setup(true);
    setup.readNothing(STDIN_FILENO);
    setup.redirect(outFd, STDOUT_FILENO);
    if (const int rc = setup.redirect(errFd, STDERR_FILENO))
        return notStarted(rc);

    std::vector<QByteArray> encoded;
    encoded.reserve(static_cast<size_t>(arguments.size()) + 1);
    encoded.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& bytes : encoded)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (const int rc = setup.spawn(pid, argv[0], argv.data(), nullptr, true))
        return notStarted(rc);

    const std::optional<Ending> ending =
        onApplicationThread() ? waitServingEvents(pid, patience) : waitBlocking(pid, patience);
    if (!ending) {
        collectLater(pid);
        VTDesktopCommandResult result;
        result.outcome = VTDesktopCommandResult::Outcome::StillRunning;
        return result;
    }
    return ended(*ending, out.get(), err.get());
}
