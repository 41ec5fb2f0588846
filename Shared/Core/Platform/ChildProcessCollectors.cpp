#include "ChildProcessStreams.h"

#include "DecodingThread.h"
#include "PagePrefault.h"
#include "VTStreamDecoder.h"

#include <cerrno>
#include <cstddef>

namespace vt_child_process_detail {

namespace {

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

} // namespace

std::unique_ptr<Collector> collectorFor(VTChildProcessOutput output) {
    if (output == VTChildProcessOutput::Text)
        return std::make_unique<TextCollector>();
    return std::make_unique<ByteCollector>();
}

} // namespace vt_child_process_detail
