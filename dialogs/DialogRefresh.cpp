// Posting refreshes from the frame-loop thread to the open dialogs.

#include "dialogs/DialogRefresh.h"

#include "camera/Tovira.h"

#include <atomic>
#include <mutex>

namespace {

struct RefreshSlot {
    std::mutex lock;  // held only around PostMessage and the attach/detach, never while waiting
    CTovira* camera = nullptr;
    HWND window = nullptr;
    std::atomic<bool> pending[3] = {false, false, false};
    std::atomic<int> value[3] = {0, 0, 0};  // newest value carried, per message
};

RefreshSlot& Slot(tovira::RefreshTarget target) {
    static RefreshSlot analog, image;
    return target == tovira::RefreshTarget::Analog ? analog : image;
}

int PendingIndex(UINT message) { return static_cast<int>(message - tovira::kRefreshAnalogGain); }

void Post(tovira::RefreshTarget target, CTovira& camera, UINT message, int value) {
    RefreshSlot& slot = Slot(target);
    std::lock_guard<std::mutex> guard(slot.lock);
    if (slot.camera != &camera || !slot.window) return;
    slot.value[PendingIndex(message)] = value;
    // One message in flight per kind of update: the handler reads the newest values anyway.
    if (slot.pending[PendingIndex(message)].exchange(true)) return;
    if (!PostMessageA(slot.window, message, 0, 0)) slot.pending[PendingIndex(message)] = false;
}

}  // namespace

void NotifyAnalogDialogGainChanged(CTovira& camera, int globalGain) {
    Post(tovira::RefreshTarget::Analog, camera, tovira::kRefreshAnalogGain, globalGain);
}

void NotifyAnalogDialogGainChanged(CTovira& camera) { NotifyAnalogDialogGainChanged(camera, camera.globalGain); }

void NotifyAnalogDialogExposureChanged(CTovira& camera, int exposureLines) {
    Post(tovira::RefreshTarget::Analog, camera, tovira::kRefreshAnalogExposure, exposureLines);
}

void NotifyAnalogDialogExposureChanged(CTovira& camera) {
    NotifyAnalogDialogExposureChanged(camera, camera.exposureLines);
}

void NotifyImageDialogValuesChanged(CTovira& camera) {
    Post(tovira::RefreshTarget::Image, camera, tovira::kRefreshImageValues, 0);
}

namespace tovira {

void AttachRefreshWindow(RefreshTarget target, CTovira* camera, HWND window) {
    RefreshSlot& slot = Slot(target);
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.camera = camera;
    slot.window = window;
    for (auto& flag : slot.pending) flag = false;
}

void DetachRefreshWindow(RefreshTarget target, HWND window) {
    RefreshSlot& slot = Slot(target);
    std::lock_guard<std::mutex> guard(slot.lock);
    if (slot.window != window) return;
    slot.camera = nullptr;
    slot.window = nullptr;
}

int AcknowledgeRefresh(RefreshTarget target, UINT message) {
    RefreshSlot& slot = Slot(target);
    // Cleared before the value is read: a notification arriving meanwhile posts again, never lost.
    slot.pending[PendingIndex(message)] = false;
    return slot.value[PendingIndex(message)];
}

}  // namespace tovira
