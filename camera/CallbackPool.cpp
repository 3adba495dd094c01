// The caller's buffer pool and the callback thread (see CallbackPool.h).

#include "camera/CallbackPool.h"

#include "camera/FrameCopy.h"
#include "output/DibImage.h"

namespace tovira {

bool CallbackPool::Start(int handle, TOVIRAX_FRAME_CALLBACK callback, void* user, void* const* buffers, int count,
                         std::size_t bufferBytes, int rowOrder) {
    Stop();
    Shared& s = *shared_;
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
    try {
        thread_ = std::thread(Run, shared_);
    } catch (...) {
        s.slots.clear();
        return false;
    }
    s.threadId = thread_.get_id();
    s.active = true;
    return true;
}

int CallbackPool::Stop() {
    std::shared_ptr<Shared> shared = shared_;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (!thread_.joinable()) return 0;
        shared->stopping = true;
        shared->active = false;  // no frame is offered from here on
    }
    shared->wake.notify_all();
    if (std::this_thread::get_id() == thread_.get_id()) {
        // Inside the callback: the thread cannot wait for itself. It keeps the shared part alive and
        // ends when the callback returns; the pool starts afresh.
        thread_.detach();
        shared_ = std::make_shared<Shared>();
    } else {
        thread_.join();
    }
    std::lock_guard<std::mutex> guard(shared->lock);
    const int discarded = static_cast<int>(shared->queue.size());
    shared->queue.clear();
    shared->slots.clear();  // every buffer is the caller's again
    shared->threadId = std::thread::id();
    return discarded;
}

bool CallbackPool::Active() const {
    std::lock_guard<std::mutex> guard(shared_->lock);
    return shared_->active;
}

bool CallbackPool::OnCallbackThread() const {
    std::lock_guard<std::mutex> guard(shared_->lock);
    return shared_->active && std::this_thread::get_id() == shared_->threadId;
}

CallbackPool::Result CallbackPool::Offer(const CDibImage& image, const TOVIRAX_FRAME_META& meta) {
    Shared& s = *shared_;
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
    Shared& s = *shared_;
    std::lock_guard<std::mutex> guard(s.lock);
    if (buffer == nullptr) return false;
    for (Slot& slot : s.slots) {
        if (slot.data != buffer || slot.state != State::Held) continue;
        slot.state = State::Free;
        return true;
    }
    return false;
}

void CallbackPool::Run(std::shared_ptr<Shared> shared) {
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
