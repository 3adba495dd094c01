// The library's entry point. As the library is unloaded, or the process exits without stopping a
// recording, every AVI file still open is finished, so it keeps its index and sizes. Other threads have
// ended by then (at process exit they were stopped wherever they were); a writer whose thread was stopped
// in the middle of a write is left with the headers of its last rewrite.

#include <windows.h>

#include "output/AviWriter.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) AviWriter::FinishAllOpen();
    return TRUE;
}
