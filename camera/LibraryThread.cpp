#include "camera/LibraryThread.h"

#include <memory>

namespace tovira {

namespace {

thread_local bool t_libraryThread = false;

struct Start {
    std::function<void()> body;
    HMODULE module = nullptr;
};

DWORD WINAPI Run(void* argument) {
    std::unique_ptr<Start> start(static_cast<Start*>(argument));
    t_libraryThread = true;
    try {
        start->body();
    } catch (...) {
        // An allocation failure or any other exception ends this thread's work, not the application.
    }
    const HMODULE module = start->module;
    start.reset();
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

LibraryThread StartLibraryThread(std::function<void()> body) {
    LibraryThread thread;
    std::unique_ptr<Start> start;
    try {
        start = std::make_unique<Start>();
        start->body = std::move(body);
    } catch (...) {
        return thread;
    }
    // The module that holds this code: the DLL, or the program when the library is linked into it.
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Run), &start->module);
    HMODULE module = start->module;
    thread.handle = CreateThread(nullptr, 0, Run, start.get(), 0, &thread.id);
    if (thread.handle) {
        start.release();
    } else {
        thread.id = 0;
        if (module) FreeLibrary(module);
    }
    return thread;
}

bool OnLibraryThread() { return t_libraryThread; }

}  // namespace tovira
