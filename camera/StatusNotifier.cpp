#include "camera/StatusNotifier.h"

namespace tovira {

bool StatusNotifier::Set(int handle, TOVIRAX_STATUS_CALLBACK callback, void* user, ControlGate& gate) {
    if (OnStatusThread()) return false;  // it cannot wait for itself to end
    Stop(&gate);
    if (!callback) return true;
    auto shared = std::make_shared<Shared>();
    shared->handle = handle;
    shared->callback = callback;
    shared->user = user;
    LibraryThread thread = StartLibraryThread([shared] { Run(shared); });
    if (!thread.handle) return false;
    std::lock_guard<std::mutex> guard(lock_);
    shared_ = shared;
    thread_ = thread;
    return true;
}

void StatusNotifier::Post(int event, long long value, int detail) {
    std::shared_ptr<Shared> shared;
    {
        std::lock_guard<std::mutex> guard(lock_);
        shared = shared_;
    }
    if (!shared) return;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->stopping) return;
        // A program that never returns from its callback must not make the queue grow without bound.
        if (shared->queue.size() >= 64) shared->queue.pop_front();
        shared->queue.push_back(Event{event, value, detail});
    }
    shared->wake.notify_one();
}

void StatusNotifier::Stop(ControlGate* gate) {
    std::shared_ptr<Shared> shared;
    LibraryThread thread;
    {
        std::lock_guard<std::mutex> guard(lock_);
        shared.swap(shared_);
        thread = thread_;
        thread_ = LibraryThread{};
    }
    if (!shared) return;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->stopping = true;
        shared->queue.clear();
    }
    shared->wake.notify_all();
    if (thread.id != GetCurrentThreadId()) {
        if (gate) gate->WaitForThread(thread.handle, thread.id);
        else WaitForSingleObject(thread.handle, INFINITE);
    }
    // From the thread itself: it holds the shared part and ends when the callback returns.
    CloseHandle(thread.handle);
}

bool StatusNotifier::OnStatusThread() const {
    std::lock_guard<std::mutex> guard(lock_);
    return thread_.handle && thread_.id == GetCurrentThreadId();
}

void StatusNotifier::Run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    std::unique_lock<std::mutex> guard(s.lock);
    for (;;) {
        s.wake.wait(guard, [&s] { return s.stopping || !s.queue.empty(); });
        if (s.stopping) return;
        const Event e = s.queue.front();
        s.queue.pop_front();
        guard.unlock();
        try {
            s.callback(s.handle, e.event, e.value, e.detail, s.user);
        } catch (...) {
        }
        guard.lock();
    }
}

}  // namespace tovira
