// How an export reaches its camera instance: resolve the handle, hold a share of the instance for the
// call, and run one operation; no C++ exception leaves the library (a caught one becomes the failure
// value). An unregistered handle gives the failure value and records nothing.
//
// Control calls (WithCamera) run inside the instance's control gate, so concurrent calls on one handle
// are serialised; a call the gate refuses (the handle was released meanwhile, or the call comes from a
// library thread the call inside is waiting for) fails with error 1. Data-plane calls that wait or must
// never wait behind a control call (WithCameraUngated) run outside it.
#pragma once

#include <memory>

#include "ToviraSdk_Z400KX.h"
#include "api/SdkChain.h"
#include "camera/Tovira.h"

namespace tovira {

template <typename Operation>
int WithCameraUngated(int handle, int failure, Operation&& operation) noexcept {
    try {
        CSDKDATA entry;
        if (!SdkChain().GetEntry(handle, &entry) || !entry.pCamera) return failure;
        const std::shared_ptr<CTovira> camera = std::move(entry.pCamera);
        return operation(*camera);
    } catch (...) {
        return failure;
    }
}

template <typename Operation>
int WithCamera(int handle, int failure, Operation&& operation) noexcept {
    return WithCameraUngated(handle, failure, [&](CTovira& camera) {
        GateEntry entry(camera.Gate());
        if (!entry.Entered()) {
            camera.RecordError(TOVIRA_ERR_NOT_READY);
            return failure;
        }
        return operation(camera);
    });
}

}  // namespace tovira
