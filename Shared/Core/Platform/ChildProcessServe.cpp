#include "ChildProcessStreams.h"

#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>

namespace vt_child_process_detail {

namespace {

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

} // namespace

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

} // namespace vt_child_process_detail
