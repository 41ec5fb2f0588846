#pragma once

// Decodes a stream's pieces on a thread of its own while the thread that reads them goes on
// reading, so that reading a large output and decoding it (with the fresh memory its text needs)
// run on two processors at once.
//
// The reading thread asks for a slot, reads into it and submits it; the pieces are decoded in the
// order submitted. Asking never blocks: while every slot still waits to be decoded there is none,
// and the wake-up descriptor turns readable once the decoding thread has freed one, so a thread that
// serves several streams with poll() can go on serving the others meanwhile.
// Between start() and finish() the decoder belongs to the decoding thread; the caller must not
// touch it. finish() (or the destructor) waits until every submitted piece is decoded.

#include "VTStreamDecoder.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class VTDecodingThread {
public:
    static constexpr size_t kSlotSize = 256 * 1024;

    // decoder must outlive this object.
    explicit VTDecodingThread(VTStreamDecoder& decoder);
    VTDecodingThread(const VTDecodingThread&) = delete;
    VTDecodingThread& operator=(const VTDecodingThread&) = delete;
    ~VTDecodingThread();

    // Answers false when no thread could be started; the decoder then stays the caller's.
    [[nodiscard]] bool start();

    // A slot of kSlotSize bytes to read into, kept until submitted; nullptr while every slot waits to
    // be decoded.
    [[nodiscard]] char* slotToFill();
    // Turns readable (for poll) once a slot is free again after slotToFill answered nullptr; valid
    // from a successful start() until this object ends.
    [[nodiscard]] int wakeUpDescriptor() const { return wakeUp_; }
    // Consumes the wake-up, after the descriptor was reported readable.
    void acknowledgeWakeUp();
    // Hands the slot's first size bytes over for decoding.
    void submit(size_t size);

    // Waits until every submitted piece is decoded and the thread has ended.
    void finish();

private:
    static constexpr int kSlots = 4;

    void run();

    VTStreamDecoder& decoder_;
    std::array<std::unique_ptr<char[]>, kSlots> slots_;
    std::array<size_t, kSlots> sizes_{};
    // The slot to fill next, and how many slots before it wait to be decoded.
    int next_ = 0;
    int filled_ = 0;
    bool finishing_ = false;
    bool readerWaiting_ = false;
    int wakeUp_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};
