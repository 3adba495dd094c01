#include "camera/ControlGate.h"

#include <algorithm>

namespace tovira {

ControlGate::Entry ControlGate::Enter() {
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> guard(lock_);
    if (owner_ == self) {
        ++depth_;
        return Entry::Entered;
    }
    // In the order of arrival: a thread that leaves and comes straight back (a snapshot loop) never
    // keeps the others out.
    queue_.push_back(self);
    for (;;) {
        Entry result = Entry::Entered;
        bool decided = false;
        if (closed_) {
            result = Entry::Closed;
            decided = true;
        } else if (awaited_ == self) {
            // The thread inside is waiting for this one to end: waiting here would never end.
            result = Entry::Refused;
            decided = true;
        } else if (owner_ == 0 && queue_.front() == self) {
            owner_ = self;
            depth_ = 1;
            decided = true;
        }
        if (decided) {
            queue_.erase(std::find(queue_.begin(), queue_.end(), self));
            if (result != Entry::Entered) {
                guard.unlock();
                changed_.notify_all();  // the next in line may be free to enter now
            }
            return result;
        }
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
