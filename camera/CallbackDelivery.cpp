#include "camera/CallbackDelivery.h"

#include <mutex>

#include "camera/Tovira.h"

CallbackSuspension::CallbackSuspension(CTovira& instance) : instance_(instance) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    CTovira::PausedCallback& paused = instance.pausedCallback;
    paused.window = instance.callbackWindow;
    paused.buffer = instance.callerBuffer;
    paused.bufferSize = instance.callerBufferSize;
    paused.rowOrder = instance.rowOrder;
    paused.active = true;
    instance.callbackWindow = nullptr;
    instance.callerBuffer = nullptr;
    instance.callerBufferSize = 0;
}

CallbackSuspension::~CallbackSuspension() {
    if (!kept_) ResumeCallbackDelivery(instance_);
}

void ResumeCallbackDelivery(CTovira& instance) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    CTovira::PausedCallback& paused = instance.pausedCallback;
    if (!paused.active) return;
    paused.active = false;
    // A CallBackPreview during the recording set a delivery of its own: that one stays.
    if (instance.callbackWindow || instance.callerBuffer) return;
    instance.callbackWindow = paused.window;
    instance.callerBuffer = paused.buffer;
    instance.callerBufferSize = paused.bufferSize;
    instance.rowOrder = paused.rowOrder;
}
