// The caller's buffer pool and the callback thread (see CallbackPool.h).

#include "camera/CallbackPool.h"

#include "camera/FrameCopy.h"
#include "output/DibImage.h"

namespace tovira {

bool CallbackPool::Start(int handle, TOVIRAX_FRAME_CALLBACK callback, void* user, void* const* buffers, int count,
                         std::size_t bufferBytes, int rowOrder) {
    Stop(nullptr);
    std::shared_ptr<Shared> shared = Current();
    Shared& s = *shared;
    std::lock_guard<std::mutex> guard(s.lock);
    s.slots.assign(static_cast<std::size_t>(count), Slot{});
    for (int i = 0; i < count; ++i) s.slots[static_cast<std::size_t>(i)].data = buffers[i];
    s.queue.clear();
    s.handle = handle;
    s.callback = callback;
    s.user = user;
    s.bufferBytes = bufferBytes;
    s.rowOrder = rowOrder;
    s.stopping = false;
    thread_ = StartLibraryThread([shared] { Run(shared); });
    if (!thread_.handle) {
        s.slots.clear();
        return false;
    }
    s.threadId = thread_.id;
    s.active = true;
    return true;
}

int CallbackPool::Stop(ControlGate* gate) {
    std::shared_ptr<Shared> shared = Current();
    const LibraryThread thread = thread_;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (!thread.handle) return 0;
        shared->stopping = true;
        shared->active = false;  // no frame is offered from here on
    }
    shared->wake.notify_all();
    thread_ = LibraryThread{};
    if (thread.id == GetCurrentThreadId()) {
        // Inside the callback: the thread cannot wait for itself. It keeps the shared part alive and
        // ends when the callback returns; the pool starts afresh.
        auto fresh = std::make_shared<Shared>();
        std::lock_guard<std::mutex> guard(pointerLock_);
        shared_ = std::move(fresh);
    } else if (gate) {
        gate->WaitForThread(thread.handle, thread.id);
    } else {
        WaitForSingleObject(thread.handle, INFINITE);
    }
    CloseHandle(thread.handle);
    std::lock_guard<std::mutex> guard(shared->lock);
    const int discarded = static_cast<int>(shared->queue.size());
    shared->queue.clear();
    shared->slots.clear();  // every buffer is the caller's again
    shared->threadId = 0;
    return discarded;
}

bool CallbackPool::Active() const {
    const std::shared_ptr<Shared> shared = Current();
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->active;
}

bool CallbackPool::OnCallbackThread() const {
    const std::shared_ptr<Shared> shared = Current();
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->active && GetCurrentThreadId() == shared->threadId;
}

CallbackPool::Result CallbackPool::Offer(const CDibImage& image, const TOVIRAX_FRAME_META& meta) {
    const std::shared_ptr<Shared> shared = Current();
    Shared& s = *shared;
    std::unique_lock<std::mutex> guard(s.lock);
    if (!s.active) return Result::Inactive;
    if (image.IsEmpty() || ImageBytes(image) > s.bufferBytes) return Result::TooSmall;
    for (std::size_t i = 0; i < s.slots.size(); ++i) {
        Slot& slot = s.slots[i];
        if (slot.state != State::Free) continue;
        // Copied under the pool's lock: Stop cannot hand the buffer back while it is being written.
        CopyImageRows(image, s.rowOrder, slot.data);
        slot.meta = meta;
        slot.state = State::Queued;
        s.queue.push_back(static_cast<int>(i));
        guard.unlock();
        s.wake.notify_one();
        return Result::Queued;
    }
    return Result::NoFreeBuffer;
}

bool CallbackPool::Return(void* buffer) {
    const std::shared_ptr<Shared> shared = Current();
    Shared& s = *shared;
    std::lock_guard<std::mutex> guard(s.lock);
    if (buffer == nullptr) return false;
    for (Slot& slot : s.slots) {
        if (slot.data != buffer || slot.state != State::Held) continue;
        slot.state = State::Free;
        return true;
    }
    return false;
}

void CallbackPool::Run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    std::unique_lock<std::mutex> guard(s.lock);
    for (;;) {
        s.wake.wait(guard, [&s] { return s.stopping || !s.queue.empty(); });
        if (s.stopping) return;
        const int index = s.queue.front();
        s.queue.pop_front();
        Slot& slot = s.slots[static_cast<std::size_t>(index)];
        slot.state = State::Held;
        void* data = slot.data;
        const TOVIRAX_FRAME_META meta = slot.meta;
        const int handle = s.handle;
        TOVIRAX_FRAME_CALLBACK callback = s.callback;
        void* user = s.user;
        // The caller's code runs without the pool's lock, so it may return buffers (this one too).
        guard.unlock();
        try {
            callback(handle, data, &meta, user);
        } catch (...) {
            // A C++ exception from the caller's callback must not end the process from this thread.
        }
        guard.lock();
    }
}

}  // namespace tovira
