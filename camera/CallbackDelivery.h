#pragma once
// A recording takes the stream for itself: callback delivery (the window that gets WM_TOVIRA_FRAME and
// the caller's buffer) pauses while it runs and resumes as it was when the recording ends.

class CTovira;

// Pauses the instance's callback delivery for a recording that is starting, unless the caller keeps the
// recording (Keep) before this object goes: a recording that fails to start gives delivery back at once.
class CallbackSuspension {
public:
    explicit CallbackSuspension(CTovira& instance);
    ~CallbackSuspension();
    CallbackSuspension(const CallbackSuspension&) = delete;
    CallbackSuspension& operator=(const CallbackSuspension&) = delete;
    // The recording started: delivery stays paused until ResumeCallbackDelivery.
    void Keep() { kept_ = true; }

private:
    CTovira& instance_;
    bool kept_ = false;
};

// Called when a recording ends (its thread's last act): the paused delivery resumes, unless the caller
// chose another callback window or buffer while the recording ran.
void ResumeCallbackDelivery(CTovira& instance);
