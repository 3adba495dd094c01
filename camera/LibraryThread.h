// The threads the library starts for a camera instance (frame loop, recording, frame callback, status,
// destruction).
//
// Each holds a reference to the library's module while it runs and drops it as its very last act, so an
// application that unloads the library right after Tovira_Release never unloads code a thread of ours is
// still running. An exception that escapes the thread's body ends that body, never the process. The
// threads are marked: code that must not wait for a library thread (destroying an instance) asks
// OnLibraryThread.
#pragma once

#include <windows.h>

#include <functional>

namespace tovira {

struct LibraryThread {
    HANDLE handle = nullptr;  // the owner waits for it and closes it
    DWORD id = 0;
};

// Starts `body` on a new thread; a null handle when the thread could not be started.
LibraryThread StartLibraryThread(std::function<void()> body);

// True on a thread StartLibraryThread started.
bool OnLibraryThread();

}  // namespace tovira
