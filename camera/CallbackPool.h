// The caller's buffer pool and the callback thread of the frame callback.
//
// The caller lends N buffers. The frame loop copies a frame into a free buffer and queues it; the callback
// thread takes queued buffers in order and calls back with each. From the callback on the buffer is the
// caller's ("held") until it comes back through Return; only free buffers are ever written. When no
// buffer is free the frame is not copied at all and the caller of Offer counts it as dropped.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "ToviraSdk_Z400KX_ext.h"
#include "camera/ControlGate.h"
#include "camera/LibraryThread.h"

class CDibImage;

namespace tovira {

class CallbackPool {
public:
    static constexpr int kMaxBuffers = 64;

    CallbackPool() = default;
    CallbackPool(const CallbackPool&) = delete;
    CallbackPool& operator=(const CallbackPool&) = delete;
    ~CallbackPool() { Stop(nullptr); }

    // Takes the buffers and starts the callback thread; false when the thread cannot be started.
    bool Start(int handle, TOVIRAX_FRAME_CALLBACK callback, void* user, void* const* buffers, int count,
               std::size_t bufferBytes, int rowOrder);
    // Ends the callback thread after a running callback returned; frames queued but not yet called back are
    // discarded. Returns how many were discarded. From the callback thread itself (the application
    // releases its handle inside the callback) the thread is let go instead and ends when the callback
    // returns. With a gate, the thread's calls into it are refused while it is waited for.
    int Stop(ControlGate* gate);
    bool Active() const;
    bool OnCallbackThread() const;

    enum class Result { Queued, NoFreeBuffer, TooSmall, Inactive };
    // Copies `image` into a free buffer and queues it with `meta`.
    Result Offer(const CDibImage& image, const TOVIRAX_FRAME_META& meta);
    // A held buffer becomes free again; false when the caller does not hold it.
    bool Return(void* buffer);

private:
    enum class State { Free, Queued, Held };
    struct Slot {
        void* data = nullptr;
        State state = State::Free;
        TOVIRAX_FRAME_META meta{};
    };
    // Shared by the pool and its thread, so that a thread let go from inside its callback never reaches
    // a pool that is gone.
    struct Shared {
        std::mutex lock;
        std::condition_variable wake;
        std::vector<Slot> slots;
        std::deque<int> queue;  // slots in the order their frames were processed
        bool active = false;
        bool stopping = false;
        int handle = 0;
        TOVIRAX_FRAME_CALLBACK callback = nullptr;
        void* user = nullptr;
        std::size_t bufferBytes = 0;
        int rowOrder = 0;
        DWORD threadId = 0;
    };

    static void Run(const std::shared_ptr<Shared>& shared);

    // The shared part in use; replaced (under pointerLock_) when the callback unregisters itself, while the
    // frame loop may be offering a frame.
    std::shared_ptr<Shared> Current() const {
        std::lock_guard<std::mutex> guard(pointerLock_);
        return shared_;
    }
    mutable std::mutex pointerLock_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    LibraryThread thread_;
};

}  // namespace tovira
