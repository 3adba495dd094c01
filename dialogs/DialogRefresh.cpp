// Posting refreshes from the frame-loop thread to the open dialogs.

#include "dialogs/DialogRefresh.h"

#include <atomic>
#include <mutex>

namespace {

struct RefreshSlot {
    std::mutex lock;  // held only around PostMessage and the attach/detach, never while waiting
    CTovira* camera = nullptr;
    HWND window = nullptr;
    std::atomic<bool> pending[3] = {false, false, false};
};

RefreshSlot& Slot(tovira::RefreshTarget target) {
    static RefreshSlot analog, image;
    return target == tovira::RefreshTarget::Analog ? analog : image;
}

int PendingIndex(UINT message) { return static_cast<int>(message - tovira::kRefreshAnalogGain); }

void Post(tovira::RefreshTarget target, CTovira& camera, UINT message) {
    RefreshSlot& slot = Slot(target);
    std::lock_guard<std::mutex> guard(slot.lock);
    if (slot.camera != &camera || !slot.window) return;
    // One message in flight per kind of update: the handler reads the newest values anyway.
    if (slot.pending[PendingIndex(message)].exchange(true)) return;
    if (!PostMessageA(slot.window, message, 0, 0)) slot.pending[PendingIndex(message)] = false;
}

}  // namespace

void NotifyAnalogDialogGainChanged(CTovira& camera) {
    Post(tovira::RefreshTarget::Analog, camera, tovira::kRefreshAnalogGain);
}

void NotifyAnalogDialogExposureChanged(CTovira& camera) {
    Post(tovira::RefreshTarget::Analog, camera, tovira::kRefreshAnalogExposure);
}

void NotifyImageDialogValuesChanged(CTovira& camera) {
    Post(tovira::RefreshTarget::Image, camera, tovira::kRefreshImageValues);
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

void AcknowledgeRefresh(RefreshTarget target, UINT message) {
    Slot(target).pending[PendingIndex(message)] = false;
}

}  // namespace tovira
