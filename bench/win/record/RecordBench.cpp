// What recording costs and writes, per codec: frames written and left out, MB/s to the file, and the
// process's CPU time per processed frame against streaming alone in the same run. Black-box: the DLL
// through its headers. The virtual camera's pace comes from the environment, so run it once per pace:
//
//   TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=sensor record_bench.exe <folder> 3840 2748 10
//   TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast   record_bench.exe <folder> 640 480 10
//
// and, for a long Motion JPEG recording alone (its file is kept for FFmpeg):
//
//   record_bench.exe <folder> 3840 2748 600 mjpeg
//
// The files are written into <folder> (Windows path) and deleted after each run, except the long one.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ToviraSdk_Z400KX_ext.h"

namespace {

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

unsigned long long Processed(int h) {
    TOVIRAX_COUNTERS c = {sizeof c};
    ToviraX_GetFrameMeta(h, nullptr, &c);
    return c.delivered + c.failed;
}

struct Run {
    const char* name;
    int bits, codec, quality;
    double seconds = 0, cpu = 0;
    unsigned long long processed = 0, dropped = 0, bytes = 0, fileBytes = 0;
    int written = 0;
};

unsigned long long FileBytes(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &a)) return 0;
    return (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

// Streams (codec < 0: no recording) for `seconds` once the stream runs; counts frames and CPU.
void Measure(int h, Run& run, const std::string& file, int seconds) {
    Tovira_SetColorMode(h, run.bits);
    Tovira_StartPreview(h);
    TOVIRAX_FRAME_META meta = {sizeof meta};
    ToviraX_WaitFrame(h, TOVIRAX_NEXT_FRAME, 60000, nullptr, 0, 1, &meta);  // warmed up
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    const unsigned long long before = Processed(h);
    const double cpu0 = CpuSeconds();
    QueryPerformanceCounter(&t0);
    TOVIRAX_RECORD_STATUS status = {sizeof status};
    if (run.codec >= 0) {
        DeleteFileA(file.c_str());
        if (!ToviraX_RecordEx(h, file.c_str(), seconds * 1000, 0, run.codec, run.quality)) {
            std::printf("%s: recording refused, error %d\n", run.name, Tovira_GetLastError(h));
            Tovira_StopPreview(h);
            return;
        }
        do {
            Sleep(100);
            ToviraX_GetRecordStatus(h, &status);
        } while (status.recording);
    } else {
        Sleep(DWORD(seconds) * 1000);
    }
    QueryPerformanceCounter(&t1);
    run.cpu = CpuSeconds() - cpu0;
    run.processed = Processed(h) - before;
    run.seconds = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
    run.written = status.framesWritten;
    run.dropped = status.framesDropped;
    run.bytes = status.bytesWritten;
    Tovira_StopPreview(h);
    run.fileBytes = run.codec >= 0 ? FileBytes(file) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: record_bench.exe <folder> [width height seconds [mjpeg]]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int width = argc > 2 ? std::atoi(argv[2]) : 3840;
    const int height = argc > 3 ? std::atoi(argv[3]) : 2748;
    const int seconds = argc > 4 ? std::atoi(argv[4]) : 10;
    const bool longOnly = argc > 5 && std::strcmp(argv[5], "mjpeg") == 0;
    const int h = Tovira_Initialize(nullptr);
    if (!h || !Tovira_SetCaptureWindowEx(h, 3840, 0, width, 2748, 0, height)) {
        std::printf("set-up failed\n");
        return 1;
    }
    CreateDirectoryA(folder.c_str(), nullptr);
    const char* pace = std::getenv("TOVIRA_VIRTUAL_PACE");
    if (longOnly) {
        Run run{"Motion JPEG q90", 24, TOVIRAX_CODEC_MJPEG, 90};
        const std::string file = folder + "\\long-mjpeg.avi";
        Measure(h, run, file, seconds);
        const double uncompressed = double(run.written) * (double((width * 3 + 3) & ~3) * height + 8 + 16) + 232 + 8;
        std::printf("%d x %d, %s pace, %.0f s: %d frames written, %llu left out; file %.2f GB, the same frames "
                    "uncompressed %.2f GB (ratio %.3f); %.1f MB/s; CPU %.1f ms per processed frame\n",
                    width, height, pace ? pace : "default", run.seconds, run.written, run.dropped,
                    run.fileBytes / 1e9, uncompressed / 1e9, run.fileBytes / uncompressed,
                    run.fileBytes / 1e6 / run.seconds, 1000 * run.cpu / double(run.processed ? run.processed : 1));
        Tovira_Release(h);
        return 0;
    }
    Run runs[] = {
        {"streaming alone (24 bits)", 24, -1, 0},
        {"uncompressed (24 bits)", 24, TOVIRAX_CODEC_UNCOMPRESSED, 0},
        {"Motion JPEG q90", 24, TOVIRAX_CODEC_MJPEG, 90},
        {"Motion JPEG q75", 24, TOVIRAX_CODEC_MJPEG, 75},
        {"streaming alone (8 bits)", 8, -1, 0},
        {"grey 8-bit (mode 8)", 8, TOVIRAX_CODEC_GREY8, 0},
    };
    for (Run& run : runs) Measure(h, run, folder + "\\bench.avi", seconds);
    DeleteFileA((folder + "\\bench.avi").c_str());
    std::printf("%d x %d, %s pace, %d s per run\n", width, height, pace ? pace : "default", seconds);
    std::printf("%-28s %8s %8s %8s %9s %9s %10s %11s\n", "run", "frames/s", "written", "left out", "MB/s",
                "MB/frame", "CPU ms/fr", "vs alone");
    for (const Run& run : runs) {
        const Run& alone = run.bits == 24 ? runs[0] : runs[4];
        const double cpuPerFrame = 1000 * run.cpu / double(run.processed ? run.processed : 1);
        const double alonePerFrame = 1000 * alone.cpu / double(alone.processed ? alone.processed : 1);
        std::printf("%-28s %8.2f %8d %8llu %9.1f %9.3f %10.1f %11.2f\n", run.name, run.processed / run.seconds,
                    run.written, run.dropped, run.fileBytes / 1e6 / run.seconds,
                    run.written ? run.bytes / 1e6 / run.written : 0.0, cpuPerFrame, cpuPerFrame / alonePerFrame);
    }
    Tovira_Release(h);
    return 0;
}
