// The caller's buffer pool and the callback thread (see CallbackPool.h).

#include "camera/CallbackPool.h"

#include "camera/FrameCopy.h"
#include "output/DibImage.h"

namespace tovira {

bool CallbackPool::Start(int handle, TOVIRAX_FRAME_CALLBACK callback, void* user, void* const* buffers, int count,
                         std::size_t bufferBytes, int rowOrder) {
    Stop();
    std::lock_guard<std::mutex> guard(lock_);
    slots_.assign(static_cast<std::size_t>(count), Slot{});
    for (int i = 0; i < count; ++i) slots_[static_cast<std::size_t>(i)].data = buffers[i];
    queue_.clear();
    handle_ = handle;
    callback_ = callback;
    user_ = user;
    bufferBytes_ = bufferBytes;
    rowOrder_ = rowOrder;
    stopping_ = false;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        slots_.clear();
        return false;
    }
    threadId_ = thread_.get_id();
    active_ = true;
    return true;
}

int CallbackPool::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!thread_.joinable()) return 0;
        stopping_ = true;
        active_ = false;  // no frame is offered from here on
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard<std::mutex> guard(lock_);
    const int discarded = static_cast<int>(queue_.size());
    queue_.clear();
    slots_.clear();  // every buffer is the caller's again
    threadId_ = std::thread::id();
    return discarded;
}

bool CallbackPool::Active() const {
    std::lock_guard<std::mutex> guard(lock_);
    return active_;
}

bool CallbackPool::OnCallbackThread() const {
    std::lock_guard<std::mutex> guard(lock_);
    return active_ && std::this_thread::get_id() == threadId_;
}

CallbackPool::Result CallbackPool::Offer(const CDibImage& image, const TOVIRAX_FRAME_META& meta) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!active_) return Result::Inactive;
    if (image.IsEmpty() || ImageBytes(image) > bufferBytes_) return Result::TooSmall;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& slot = slots_[i];
        if (slot.state != State::Free) continue;
        // Copied under the pool's lock: Stop cannot hand the buffer back while it is being written.
        CopyImageRows(image, rowOrder_, slot.data);
        slot.meta = meta;
        slot.state = State::Queued;
        queue_.push_back(static_cast<int>(i));
        guard.unlock();
        wake_.notify_one();
        return Result::Queued;
    }
    return Result::NoFreeBuffer;
}

bool CallbackPool::Return(void* buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    if (buffer == nullptr) return false;
    for (Slot& slot : slots_) {
        if (slot.data != buffer || slot.state != State::Held) continue;
        slot.state = State::Free;
        return true;
    }
    return false;
}

void CallbackPool::Run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const int index = queue_.front();
        queue_.pop_front();
        Slot& slot = slots_[static_cast<std::size_t>(index)];
        slot.state = State::Held;
        void* data = slot.data;
        const TOVIRAX_FRAME_META meta = slot.meta;
        const int handle = handle_;
        TOVIRAX_FRAME_CALLBACK callback = callback_;
        void* user = user_;
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
