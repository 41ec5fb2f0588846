#include "DecodingThread.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <system_error>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

VTDecodingThread::VTDecodingThread(VTStreamDecoder& decoder) : decoder_(decoder) {
    for (auto& slot : slots_)
        slot = std::make_unique_for_overwrite<char[]>(kSlotSize);
}

VTDecodingThread::~VTDecodingThread() {
    finish();
    if (wakeUp_ >= 0)
        ::close(wakeUp_);
}

// The thread starts with every signal blocked, so the application's signals keep going to the
// threads that expect them.
bool VTDecodingThread::start() {
    wakeUp_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeUp_ < 0)
        return false;
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        started = false;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

char* VTDecodingThread::slotToFill() {
    const std::lock_guard lock(mutex_);
    if (filled_ == kSlots) {
        readerWaiting_ = true;
        return nullptr;
    }
    return slots_[static_cast<size_t>(next_)].get();
}

void VTDecodingThread::acknowledgeWakeUp() {
    uint64_t count = 0;
    while (::read(wakeUp_, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

void VTDecodingThread::submit(size_t size) {
    {
        const std::lock_guard lock(mutex_);
        sizes_[static_cast<size_t>(next_)] = size;
        next_ = (next_ + 1) % kSlots;
        ++filled_;
    }
    changed_.notify_one();
}

void VTDecodingThread::finish() {
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

// Decodes the oldest filled slot outside the lock, so the reading thread can fill others meanwhile.
void VTDecodingThread::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return filled_ > 0 || finishing_; });
        if (filled_ == 0)
            return;
        const auto oldest = static_cast<size_t>((next_ - filled_ + kSlots) % kSlots);
        const QByteArrayView piece(slots_[oldest].get(), static_cast<qsizetype>(sizes_[oldest]));
        lock.unlock();
        decoder_.append(piece);
        lock.lock();
        --filled_;
        if (readerWaiting_) {
            readerWaiting_ = false;
            const uint64_t one = 1;
            while (::write(wakeUp_, &one, sizeof one) < 0 && errno == EINTR) {
            }
        }
    }
}
