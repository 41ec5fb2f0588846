#pragma once

// What the parts of the child-process unit share (ChildProcess.cpp starts the child and ends it,
// ChildProcessServe.cpp serves its three streams, ChildProcessCollectors.cpp keeps what it writes).
// Not for use outside them: the unit's contract is ChildProcess.h.

#include "ChildProcess.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

#include <poll.h>
#include <unistd.h>

namespace vt_child_process_detail {

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

// The collector for one output stream, keeping what the request asks for.
[[nodiscard]] std::unique_ptr<Collector> collectorFor(VTChildProcessOutput output);

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
void serve(OwnedFd& input, const std::optional<QByteArray>& standardInput, OutputStream (&outputs)[2]);

} // namespace vt_child_process_detail
