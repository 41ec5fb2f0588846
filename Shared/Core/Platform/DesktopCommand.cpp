#include "DesktopCommand.h"

#include "ChildCollector.h"
#include "ChildWait.h"
#include "SpawnSetup.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

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

VTDesktopCommandResult notStarted(int error) {
    VTDesktopCommandResult result;
    result.outcome = VTDesktopCommandResult::Outcome::NotStarted;
    result.startError = error;
    return result;
}

VTDesktopCommandResult ended(const VTChildEnding& ending, int outFd, int errFd) {
    VTDesktopCommandResult result;
    switch (ending.kind) {
    case VTChildEnding::Kind::Lost:
        result.outcome = VTDesktopCommandResult::Outcome::Lost;
        return result;
    case VTChildEnding::Kind::Signaled:
        result.outcome = VTDesktopCommandResult::Outcome::Signaled;
        break;
    case VTChildEnding::Kind::Exited:
        result.outcome = VTDesktopCommandResult::Outcome::Exited;
        break;
    }
    result.status = ending.code;
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

    const VTChildState state = vt_awaitChildEnd(pid, VTChildWait::ServingEvents, patience);
    if (state == VTChildState::Running) {
        vt_collectChildLater(pid);
        VTDesktopCommandResult result;
        result.outcome = VTDesktopCommandResult::Outcome::StillRunning;
        return result;
    }
    return ended(state == VTChildState::Ended ? vt_reapChild(pid) : VTChildEnding{}, out.get(), err.get());
}
