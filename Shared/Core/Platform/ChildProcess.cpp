// Starting the child, the running children and stopping them, and the run from start to end; serving
// its streams is in ChildProcessServe.cpp, keeping what it writes in ChildProcessCollectors.cpp.

#include "ChildProcess.h"

#include "ChildCollector.h"
#include "ChildProcessStreams.h"
#include "ChildWait.h"
#include "SpawnSetup.h"
#include "VantleFormat.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using vt_child_process_detail::Collector;
using vt_child_process_detail::collectorFor;
using vt_child_process_detail::OutputStream;
using vt_child_process_detail::OwnedFd;
using vt_child_process_detail::serve;

struct Pipe {
    OwnedFd readEnd;
    OwnedFd writeEnd;
};

[[nodiscard]] QString errorText(int error) {
    if (const char* text = ::strerrordesc_np(error))
        return QString::fromUtf8(text);
    return vt_format("error %d", error);
}

// The child's dup2 targets are 0, 1 and 2; with every end of ours above them no dup2 in the child
// can overwrite an end before it has been copied, even when this process runs with a standard
// stream closed.
[[nodiscard]] int liftAboveStandardStreams(int fd) {
    if (fd > STDERR_FILENO)
        return fd;
    const int lifted = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    ::close(fd);
    errno = error;
    return lifted;
}

// Answers 0 or the errno of the failure.
[[nodiscard]] int makePipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    pipe.readEnd.reset(liftAboveStandardStreams(fds[0]));
    pipe.writeEnd.reset(liftAboveStandardStreams(fds[1]));
    if (!pipe.readEnd.isOpen() || !pipe.writeEnd.isOpen())
        return errno != 0 ? errno : EMFILE;
    return 0;
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// The system may refuse a larger pipe (per-user pipe limits); the pipe then keeps its default size.
void enlargePipe(int fd, int size) {
    if (size > 0)
        (void)::fcntl(fd, F_SETPIPE_SZ, size);
}

// ---------------------------------------------------------------------------------------------
// Starting the child
// ---------------------------------------------------------------------------------------------

// argv for posix_spawn: argument 0 is the program path, then the arguments; the byte arrays own
// the texts the pointers refer to.
class ArgumentVector {
public:
    ArgumentVector(const QByteArray& program, const QStringList& arguments) {
        texts_.reserve(static_cast<size_t>(arguments.size()) + 1);
        texts_.push_back(program);
        for (const QString& argument : arguments)
            texts_.push_back(argument.toUtf8());
        pointers_.reserve(texts_.size() + 1);
        for (QByteArray& text : texts_)
            pointers_.push_back(text.data());
        pointers_.push_back(nullptr);
    }

    [[nodiscard]] char* const* data() const { return pointers_.data(); }

private:
    std::vector<QByteArray> texts_;
    std::vector<char*> pointers_;
};

// ---------------------------------------------------------------------------------------------
// The running children, and stopping them
// ---------------------------------------------------------------------------------------------

// Every child leads a process group of its own and is listed here from its start until it is
// collected. Only lock-free atomics, so that a signal handler may read the list.
constexpr size_t kListedChildrenLimit = 256;
static_assert(std::atomic<pid_t>::is_always_lock_free);
std::atomic<pid_t> listedChildren[kListedChildrenLimit];
// Set by the first stop: from then on no child is started.
std::atomic<bool> stopRequested{false};
// Stops that may be signalling right now. A child that ends meanwhile is not collected until they are
// done: its zombie keeps its pid, and so its group id, from being reused by an unrelated process.
std::atomic<int> stopsSignalling{0};

// How long a stopped child may take to clean up after SIGTERM before SIGKILL ends what is left.
constexpr time_t kStopGraceSeconds = 2;

[[nodiscard]] bool enlist(pid_t pid) {
    for (std::atomic<pid_t>& slot : listedChildren) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid))
            return true;
    }
    return false;
}

void delist(pid_t pid) {
    for (std::atomic<pid_t>& slot : listedChildren) {
        pid_t listed = pid;
        if (slot.compare_exchange_strong(listed, 0))
            return;
    }
}

void signalListedGroups(int signalNumber) {
    for (const std::atomic<pid_t>& slot : listedChildren) {
        if (const pid_t pid = slot.load(); pid > 0)
            ::kill(-pid, signalNumber);
    }
}

[[nodiscard]] bool anyListedChildRunning() {
    for (const std::atomic<pid_t>& slot : listedChildren) {
        if (const pid_t pid = slot.load(); pid > 0 && vt_childState(pid) == VTChildState::Running)
            return true;
    }
    return false;
}

[[nodiscard]] bool isBefore(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// ---------------------------------------------------------------------------------------------
// Ending the child
// ---------------------------------------------------------------------------------------------

// Takes an ended child off the list before it is collected, once no stop is signalling: until then its
// zombie keeps its pid, and so its group id, from going to an unrelated process that a stop would reach.
void delistBeforeCollect(pid_t pid) noexcept {
    delist(pid);
    const timespec pause{0, 1000 * 1000};
    while (stopsSignalling.load() > 0)
        ::nanosleep(&pause, nullptr);
}

// The exit code, or the number of the ending signal; -1 when the end could not be observed.
[[nodiscard]] int waitForExit(pid_t pid) {
    (void)vt_awaitChildEnd(pid, VTChildWait::Blocking);
    delistBeforeCollect(pid);
    const VTChildEnding ending = vt_reapChild(pid);
    return ending.kind == VTChildEnding::Kind::Lost ? -1 : ending.code;
}

[[nodiscard]] VTChildProcessResult startFailure(const char* format, const QString& executable, int error) {
    VTChildProcessResult result;
    result.startFailure = vt_format(format, executable, errorText(error));
    result.startError = error;
    return result;
}

struct ChildPipes {
    Pipe input;
    Pipe output;
    Pipe error;
};

// Answers 0 or the errno of the failure. Our ends are non-blocking and enlarged as asked.
[[nodiscard]] int makePipes(ChildPipes& pipes, bool withInput, int pipeSize) {
    int failure = withInput ? makePipe(pipes.input) : 0;
    if (failure == 0)
        failure = makePipe(pipes.output);
    if (failure == 0)
        failure = makePipe(pipes.error);
    if (failure != 0)
        return failure;
    for (OwnedFd* fd : {&pipes.input.writeEnd, &pipes.output.readEnd, &pipes.error.readEnd}) {
        if (!fd->isOpen())
            continue;
        enlargePipe(fd->get(), pipeSize);
        setNonBlocking(fd->get());
    }
    return 0;
}

// Starts the child on the pipes. Answers the failure when no child was started.
[[nodiscard]] std::optional<VTChildProcessResult> startChild(const VTChildProcessRequest& request,
                                                             ChildPipes& pipes, pid_t& pid) {
    if (const int failure = makePipes(pipes, request.standardInput.has_value(), request.pipeSize))
        return startFailure("Could not create a pipe to run '%@': %@", request.executable, failure);
    VTSpawnSetup setup;
    setup.leadOwnProcessGroup();
    if (request.standardInput)
        setup.redirect(pipes.input.readEnd.get(), STDIN_FILENO);
    setup.redirect(pipes.output.writeEnd.get(), STDOUT_FILENO);
    if (const int failure = setup.redirect(pipes.error.writeEnd.get(), STDERR_FILENO))
        return startFailure("Could not prepare to run '%@': %@", request.executable, failure);
    const QByteArray path = QFile::encodeName(request.executable);
    const ArgumentVector argv(path, request.arguments);
    if (stopRequested.load())
        return startFailure("Could not start '%@': %@", request.executable, ECANCELED);
    if (const int failure = setup.spawn(pid, path.constData(), argv.data(), nullptr))
        return startFailure("Could not start '%@': %@", request.executable, failure);
    if (!enlist(pid)) {
        // A child no stop could reach is not run at all.
        ::kill(-pid, SIGKILL);
        (void)vt_collectChild(pid);
        return startFailure("Could not start '%@': %@", request.executable, EAGAIN);
    }
    // A stop that began while the child was starting may have missed it.
    if (stopRequested.load())
        ::kill(-pid, SIGKILL);

    // Only the child keeps the ends it uses; ours must close so that its exit ends our reads.
    pipes.input.readEnd.reset();
    pipes.output.writeEnd.reset();
    pipes.error.writeEnd.reset();
    return std::nullopt;
}

} // namespace

VTChildProcessResult vt_runChildProcess(const VTChildProcessRequest& request) {
    vt_collectEndedChildren();

    ChildPipes pipes;
    pid_t pid = -1;
    if (std::optional<VTChildProcessResult> failure = startChild(request, pipes, pid))
        return std::move(*failure);

    const std::unique_ptr<Collector> output = collectorFor(request.output);
    const std::unique_ptr<Collector> error = collectorFor(request.output);
    OutputStream outputs[2] = {{pipes.output.readEnd, *output}, {pipes.error.readEnd, *error}};
    serve(pipes.input.writeEnd, request.standardInput, outputs);

    VTChildProcessResult result;
    output->takeInto(result.standardOutput, result.standardOutputText, result.standardOutputLength);
    error->takeInto(result.standardError, result.standardErrorText, result.standardErrorLength);
    if (request.waitForExit)
        result.terminationStatus = waitForExit(pid);
    else
        vt_collectChildLater(pid, delistBeforeCollect);
    return result;
}

void vt_stopChildProcesses() noexcept {
    const int savedErrno = errno;
    stopRequested.store(true);
    stopsSignalling.fetch_add(1);
    signalListedGroups(SIGTERM);
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += kStopGraceSeconds;
    const timespec pause{0, 10 * 1000 * 1000};
    while (anyListedChildRunning()) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if (!isBefore(now, deadline))
            break;
        ::nanosleep(&pause, nullptr);
    }
    // Whatever is left of each group: children of the child, or a child that would not end.
    signalListedGroups(SIGKILL);
    stopsSignalling.fetch_sub(1);
    errno = savedErrno;
}
