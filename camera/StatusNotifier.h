// Status events of a camera instance for programs without a window: the camera was lost, a stream ended,
// a recording ended. Events are queued by whichever thread notices them (never blocking it) and handed to
// the application's status callback in order on a thread of their own, so the callback may call any
// export, stop the stream or release the handle.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "ToviraSdk_Z400KX_ext.h"
#include "camera/ControlGate.h"
#include "camera/LibraryThread.h"

namespace tovira {

class StatusNotifier {
public:
    StatusNotifier() = default;
    StatusNotifier(const StatusNotifier&) = delete;
    StatusNotifier& operator=(const StatusNotifier&) = delete;
    ~StatusNotifier() { Stop(nullptr); }

    // Registers the callback (null: none) for `handle`, replacing an earlier one: that one's thread ends
    // after a running call returns, and events not yet told are dropped. False when no thread could be
    // started, or when called from the status thread itself.
    bool Set(int handle, TOVIRAX_STATUS_CALLBACK callback, void* user, ControlGate& gate);
    // Queues an event; without a callback it goes nowhere.
    void Post(int event, long long value, int detail);
    // Ends the thread (from the thread itself it is let go and ends when the callback returns). The
    // thread's own calls into the gate are refused while the gate's holder waits for it.
    void Stop(ControlGate* gate);
    bool OnStatusThread() const;

private:
    struct Event {
        int event;
        long long value;
        int detail;
    };
    struct Shared {
        std::mutex lock;
        std::condition_variable wake;
        std::deque<Event> queue;
        bool stopping = false;
        int handle = 0;
        TOVIRAX_STATUS_CALLBACK callback = nullptr;
        void* user = nullptr;
    };
    static void Run(const std::shared_ptr<Shared>& shared);

    mutable std::mutex lock_;  // guards shared_ and thread_
    std::shared_ptr<Shared> shared_;
    LibraryThread thread_;
};

}  // namespace tovira
