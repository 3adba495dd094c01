#include "api/SdkChain.h"

#include <windows.h>

#include <cstdlib>

#include "camera/LibraryThread.h"
#include "camera/Tovira.h"

bool CSdkChain::IsLive(int32_t handle) const {
    const Node* node = head;
    for (int i = 0; node && i < count; ++i, node = node->next) {
        if (static_cast<int32_t>(node->data.hCamera) == handle) return true;
    }
    return false;
}

CSdkChain::~CSdkChain() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    const Node* node = head;
    for (int i = 0; node && i < count; ++i, node = node->next)
        if (node->data.pCamera) new std::shared_ptr<CTovira>(node->data.pCamera);  // deliberately kept
}

int CSdkChain::CreateInstance() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    const uint32_t tick = GetTickCount();
    int32_t handle = 0;
    do {
        handle = static_cast<int32_t>(tick + static_cast<uint32_t>(std::rand()) + static_cast<uint32_t>(count));
    } while (handle == 0 || IsLive(handle));
    CSDKDATA entry;
    entry.hCamera = handle;
    try {
        // The last share of an instance may be dropped on one of its own threads (the application calls
        // an export inside its callback while another thread releases the handle): it is destroyed on a
        // thread of its own then, never on a thread its destruction would wait for.
        entry.pCamera = std::shared_ptr<CTovira>(new CTovira(), [](CTovira* camera) {
            if (!tovira::OnLibraryThread()) {
                delete camera;
                return;
            }
            const tovira::LibraryThread reaper = tovira::StartLibraryThread([camera] { delete camera; });
            if (reaper.handle) CloseHandle(reaper.handle);
            else delete camera;  // no thread to be had: the instance's threads have all ended or let go
        });
        Add(entry);
    } catch (...) {
        return 0;
    }
    return handle;
}

bool CSdkChain::GetEntry(int handle, CSDKDATA* entry) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (!Find(handle)) return false;
    *entry = head->data;
    return true;
}

int CSdkChain::Delete(int handle) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (!Find(handle)) return 0;
    return RemoveCurrent();
}

std::shared_ptr<CTovira> CSdkChain::Release(int handle, bool* found) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    *found = Find(handle) != 0;
    if (!*found) return nullptr;
    // The entry leaves the ring before its instance is destroyed, so no other thread can resolve the
    // handle to an instance that is being torn down.
    std::shared_ptr<CTovira> camera = std::move(head->data.pCamera);
    Delete(handle);
    return camera;
}

CSdkChain& SdkChain() {
    static CSdkChain chain;
    return chain;
}
