#include "ChildProcess.h"

#include "ChildCollector.h"
#include "ChildWait.h"
#include "DecodingThread.h"
#include "PagePrefault.h"
#include "SpawnSetup.h"
#include "VTStreamDecoder.h"
#include "VantleFormat.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <unistd.h>

namespace {

// A file descriptor this call owns; closed when it goes out of scope or is reset.
class OwnedFd {
public:
    OwnedFd() = default;
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

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
// Serving the streams
// ---------------------------------------------------------------------------------------------

// What a collector answers after reading what the pipe holds now.
enum class Reading {
    // The stream goes on; poll its pipe again.
    Open,
    // The stream has ended (or failed to read).
    Ended,
    // The collector cannot take more yet; poll its wake-up descriptor, then read again.
    Paused,
};

// Collects one output stream.
class Collector {
public:
    Collector() = default;
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;
    virtual ~Collector() = default;

    [[nodiscard]] virtual Reading readAvailable(int fd) = 0;
    // While paused: the descriptor that turns readable once the collector can take more.
    [[nodiscard]] virtual int wakeUpDescriptor() const { return -1; }
    virtual void acknowledgeWakeUp() {}
    // Moves what was collected into the result's fields for this stream.
    virtual void takeInto(QByteArray& bytes, QString& text, qsizetype& length) = 0;
};

// Answers the read's count, or 0 at the end of the stream, or -1 when nothing waits (or on a read
// error, with stillOpen telling which).
[[nodiscard]] ssize_t readSome(int fd, char* into, size_t room, bool& stillOpen) {
    for (;;) {
        const ssize_t n = ::read(fd, into, room);
        if (n >= 0) {
            stillOpen = n > 0;
            return n;
        }
        if (errno == EINTR)
            continue;
        stillOpen = errno == EAGAIN || errno == EWOULDBLOCK;
        return -1;
    }
}

// Keeps the bytes in a single buffer that grows by doubling. The buffer's growth is a realloc,
// which for large buffers moves pages instead of copying them, and pages the child never filled are
// never touched: the memory in use stays close to the bytes received. The pages about to be read
// into are made present a window at a time, which costs less than faulting them in one by one.
class ByteCollector final : public Collector {
public:
    [[nodiscard]] Reading readAvailable(int fd) override {
        for (;;) {
            ensureRoom();
            prefault_.ahead(bytes_.data(), bytes_.size(), length_);
            const qsizetype room = bytes_.size() - length_;
            bool open = true;
            const ssize_t n = readSome(fd, bytes_.data() + length_, static_cast<size_t>(room), open);
            if (n <= 0)
                return open && n < 0 ? Reading::Open : Reading::Ended;
            length_ += n;
            if (n < room)
                return Reading::Open; // drained for now; a full read may mean more is waiting
        }
    }

    void takeInto(QByteArray& bytes, QString&, qsizetype& length) override {
        length = length_;
        if (length_ == 0)
            return;
        bytes_.resize(length_);
        if (bytes_.capacity() - length_ > kMinimumRoom)
            bytes_.squeeze();
        length_ = 0;
        bytes = std::move(bytes_);
    }

private:
    static constexpr qsizetype kMinimumRoom = 64 * 1024;

    void ensureRoom() {
        if (bytes_.size() - length_ >= kMinimumRoom)
            return;
        bytes_.resize(qMax<qsizetype>(bytes_.size() * 2, kMinimumRoom));
    }

    QByteArray bytes_;
    qsizetype length_ = 0;
    VTPagePrefault prefault_;
};

// Decodes each piece as it arrives, so the decoding runs while the child is still writing. Small
// outputs are read into one small buffer and decoded on the serving thread; once an output proves
// large, the decoding moves to a thread of its own. While that thread is behind, the collector
// pauses instead of waiting for it, so the serving thread keeps the other stream flowing.
class TextCollector final : public Collector {
public:
    [[nodiscard]] Reading readAvailable(int fd) override {
        for (;;) {
            startThreadWhenLarge();
            char* into = thread_ ? thread_->slotToFill() : piece();
            if (!into)
                return Reading::Paused;
            const size_t room = thread_ ? VTDecodingThread::kSlotSize : kPieceSize;
            bool open = true;
            const ssize_t n = readSome(fd, into, room, open);
            if (n <= 0)
                return open && n < 0 ? Reading::Open : Reading::Ended;
            if (thread_)
                thread_->submit(static_cast<size_t>(n));
            else
                decoder_.append(QByteArrayView(into, n));
            if (static_cast<size_t>(n) < room)
                return Reading::Open; // drained for now; a full read may mean more is waiting
        }
    }

    [[nodiscard]] int wakeUpDescriptor() const override { return thread_ ? thread_->wakeUpDescriptor() : -1; }
    void acknowledgeWakeUp() override {
        if (thread_)
            thread_->acknowledgeWakeUp();
    }

    void takeInto(QByteArray&, QString& text, qsizetype& length) override {
        if (thread_)
            thread_->finish();
        length = decoder_.byteCount();
        text = decoder_.finish();
    }

private:
    static constexpr size_t kPieceSize = 256 * 1024;
    // Below this a second thread costs more than it saves.
    static constexpr qsizetype kThreadAfter = 4 * 1024 * 1024;

    [[nodiscard]] char* piece() {
        if (!piece_)
            piece_ = std::make_unique_for_overwrite<char[]>(kPieceSize);
        return piece_.get();
    }

    // Without a thread the decoding simply stays on the serving thread.
    void startThreadWhenLarge() {
        if (thread_ || threadRefused_ || decoder_.byteCount() < kThreadAfter)
            return;
        thread_ = std::make_unique<VTDecodingThread>(decoder_);
        if (!thread_->start()) {
            thread_.reset();
            threadRefused_ = true;
            return;
        }
        piece_.reset();
    }

    VTStreamDecoder decoder_;
    std::unique_ptr<char[]> piece_;
    // Declared after the decoder it decodes into, so it ends first.
    std::unique_ptr<VTDecodingThread> thread_;
    bool threadRefused_ = false;
};

[[nodiscard]] std::unique_ptr<Collector> collectorFor(VTChildProcessOutput output) {
    if (output == VTChildProcessOutput::Text)
        return std::make_unique<TextCollector>();
    return std::make_unique<ByteCollector>();
}

// Feeds the given bytes into the child's input pipe as far as the pipe takes them.
class Feeder {
public:
    explicit Feeder(const QByteArray& bytes) : bytes_(bytes) {}

    // Answers false once everything is written or the reader is gone.
    [[nodiscard]] bool writeAvailable(int fd) {
        while (offset_ < bytes_.size()) {
            const ssize_t n =
                ::write(fd, bytes_.constData() + offset_, static_cast<size_t>(bytes_.size() - offset_));
            if (n > 0) {
                offset_ += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return true;
            brokePipe_ = n < 0 && errno == EPIPE;
            return false;
        }
        return false;
    }

    [[nodiscard]] bool brokePipe() const { return brokePipe_; }

private:
    const QByteArray& bytes_;
    qsizetype offset_ = 0;
    bool brokePipe_ = false;
};

// Keeps SIGPIPE away from this process while the calling thread writes to a child that may have
// stopped reading: blocked for the thread, and consumed again if our own write raised it.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
        sigset_t pending;
        sigemptyset(&pending);
        ::sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;
    ~SigpipeBlock() {
        if (raised_ && !wasPending_) {
            const timespec noWait{};
            while (::sigtimedwait(&pipeOnly_, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

    void noteRaised() { raised_ = true; }

private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool wasPending_ = false;
    bool raised_ = false;
};

// One output pipe and the collector that takes its bytes.
struct OutputStream {
    OwnedFd& pipe;
    Collector& collector;
    bool paused = false;

    // What to poll for: the pipe, or while the collector is paused its wake-up.
    [[nodiscard]] pollfd awaited() const {
        return pollfd{paused ? collector.wakeUpDescriptor() : pipe.get(), POLLIN, 0};
    }

    // Called once poll reported what was awaited; closes the pipe at the end of the stream.
    void serveReady() {
        if (paused)
            collector.acknowledgeWakeUp();
        const Reading reading = collector.readAvailable(pipe.get());
        paused = reading == Reading::Paused;
        if (reading == Reading::Ended)
            pipe.reset();
    }
};

// Serves the three pipes until both outputs have ended and the input is written (or refused).
void serve(OwnedFd& input, const std::optional<QByteArray>& standardInput, OutputStream (&outputs)[2]) {
    static const QByteArray noInput;
    Feeder feeder(standardInput ? *standardInput : noInput);
    SigpipeBlock sigpipeBlock;
    if (input.isOpen() && !feeder.writeAvailable(input.get()))
        input.reset();

    for (;;) {
        pollfd fds[3];
        // The output each entry serves; none for the input.
        OutputStream* servedOutput[3] = {};
        nfds_t count = 0;
        for (OutputStream& output : outputs) {
            if (!output.pipe.isOpen())
                continue;
            servedOutput[count] = &output;
            fds[count++] = output.awaited();
        }
        if (input.isOpen())
            fds[count++] = pollfd{input.get(), POLLOUT, 0};
        if (count == 0)
            break;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break; // cannot wait any more: keep what arrived so far
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (servedOutput[i])
                servedOutput[i]->serveReady();
            else if (!feeder.writeAvailable(input.get()))
                input.reset();
        }
    }
    if (feeder.brokePipe())
        sigpipeBlock.noteRaised();
}

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
