// The door every control call of one camera instance goes through.
//
// One thread at a time is inside, the others come in in the order they arrived; the thread inside may
// come in again (a window procedure that calls back into the library from inside a modal dialog's
// message loop). A thread that finds another inside waits,
// with one exception that keeps the library from waiting for itself: while the thread inside waits for
// one of the instance's own threads (the recording thread, the frame-callback thread, the status thread)
// to end, a call that arrives on that very thread is refused at once instead of waiting, so the thread
// can return from the application's callback and end. After Close every call is refused.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tovira {

class ControlGate {
public:
    enum class Entry { Entered, Refused, Closed };

    ControlGate() = default;
    ControlGate(const ControlGate&) = delete;
    ControlGate& operator=(const ControlGate&) = delete;

    Entry Enter();
    void Leave();
    // From the thread inside: every later Enter is refused (the instance is being released). Threads
    // waiting to come in are refused as soon as the thread inside leaves.
    void Close();
    bool Closed() const;
    // True on the thread inside.
    bool HeldByCaller() const;

    // Opens the gate for a while on the thread inside (a modal dialog's message loop, during which other
    // threads' calls must go on): returns how deep the thread was inside, 0 when it was not. Resume
    // comes back in as deep (waiting like Enter); false when the gate was closed meanwhile.
    int Suspend();
    bool Resume(int depth);

    // Waits for `thread` to end; the thread inside calls this for the instance's own threads. Returns at
    // once when `thread` is the calling thread (nothing waits for itself) or null. The calls that thread
    // makes meanwhile are refused.
    void WaitForThread(HANDLE thread, DWORD threadId);

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<DWORD> queue_;  // threads waiting to come in, in the order they arrived
    DWORD owner_ = 0;
    int depth_ = 0;
    DWORD awaited_ = 0;  // the thread the one inside waits for, or 0
    bool closed_ = false;
};

// Enters in the constructor, leaves in the destructor when it got in.
class GateEntry {
public:
    explicit GateEntry(ControlGate& gate) : gate_(gate), entry_(gate.Enter()) {}
    ~GateEntry() {
        if (entry_ == ControlGate::Entry::Entered) gate_.Leave();
    }
    GateEntry(const GateEntry&) = delete;
    GateEntry& operator=(const GateEntry&) = delete;
    bool Entered() const { return entry_ == ControlGate::Entry::Entered; }
    ControlGate::Entry Result() const { return entry_; }

private:
    ControlGate& gate_;
    ControlGate::Entry entry_;
};

}  // namespace tovira
