#include "camera/ControlGate.h"

namespace tovira {

ControlGate::Entry ControlGate::Enter() {
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        if (owner_ == self) {
            ++depth_;
            return Entry::Entered;
        }
        if (closed_) return Entry::Closed;
        if (owner_ == 0) {
            owner_ = self;
            depth_ = 1;
            return Entry::Entered;
        }
        // The thread inside is waiting for this one to end: waiting here would never end.
        if (awaited_ == self) return Entry::Refused;
        changed_.wait(guard);
    }
}

void ControlGate::Leave() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (owner_ != GetCurrentThreadId() || depth_ <= 0) return;
        if (--depth_ > 0) return;
        owner_ = 0;
    }
    changed_.notify_all();
}

int ControlGate::Suspend() {
    int depth = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (owner_ != GetCurrentThreadId()) return 0;
        depth = depth_;
        owner_ = 0;
        depth_ = 0;
    }
    changed_.notify_all();
    return depth;
}

bool ControlGate::Resume(int depth) {
    if (depth <= 0) return true;
    if (Enter() != Entry::Entered) return false;
    std::lock_guard<std::mutex> guard(lock_);
    depth_ = depth;
    return true;
}

void ControlGate::Close() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool ControlGate::Closed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
}

bool ControlGate::HeldByCaller() const {
    std::lock_guard<std::mutex> guard(lock_);
    return owner_ == GetCurrentThreadId();
}

void ControlGate::WaitForThread(HANDLE thread, DWORD threadId) {
    if (!thread || threadId == GetCurrentThreadId()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        awaited_ = threadId;
    }
    // A call of that thread already waiting at the door is woken to be refused.
    changed_.notify_all();
    WaitForSingleObject(thread, INFINITE);
    std::lock_guard<std::mutex> guard(lock_);
    awaited_ = 0;
}

}  // namespace tovira
