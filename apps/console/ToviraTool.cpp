// tovira_tool: a console sample for the Z400KX SDK.
//
//   tovira_tool list                                 cameras and their information
//   tovira_tool stream <seconds> [bits]              stream, report the delivered frame rate
//   tovira_tool snapshot <bits> <file type> <file>   one frame in a colour mode, saved as a file type
//   tovira_tool record <milliseconds> <file.avi>     record an AVI
//   tovira_tool reg read <register>                  read a sensor register (16-bit address)
//   tovira_tool reg write <register> <value>         write a sensor register
//   tovira_tool demo [folder]                        all of the above in one run
//   tovira_tool help                                 the usage (also --help, -h)
//
// Without a camera, set TOVIRA_VIRTUAL_CAMERAS=0 to use the SDK's virtual camera.
// Exit codes: 0 when everything the command did worked, 1 when something failed, 2 for a command line
// that was refused (nothing was done then).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ToviraSdk_Z400KX_ext.h"
#include "ErrorNames.h"
#include "ToolArguments.h"

namespace {

int g_failures = 0;

// Prints a failed call with the newest code in the handle's history.
bool Check(int handle, int result, const char* what) {
    if (result) return true;
    const int code = Tovira_GetLastError(handle);
    std::printf("  FAILED: %s (error %d: %s, %s)\n", what, code, ToviraErrorMeaning(code), ToviraErrorName(code));
    ++g_failures;
    return false;
}

void DrainErrors(int handle) {
    for (int i = 0; i < 20; ++i) Tovira_GetLastError(handle);
}

// A message-only window receives the SDK's posted messages.
struct MessageWindow {
    HWND hwnd = nullptr;
    MessageWindow() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ToviraToolMessages";
        RegisterClassA(&wc);
        hwnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~MessageWindow() {
        if (hwnd) DestroyWindow(hwnd);
    }
};

int BytesPerFrame(int width, int height, int bits) {
    const int stride = ((width * bits / 8) + 3) & ~3;
    return stride * height;
}

int CommandList(int h) {
    char names[10][256] = {};
    const int count = Tovira_EnumDevice(h, &names[0][0]);
    std::printf("cameras: %d\n", count);
    for (int i = 0; i < count; ++i) std::printf("  %s\n", names[i]);
    TOVIRA_CAMERA_INFO info = {};
    info.size = sizeof(info);
    if (Check(h, Tovira_GetCameraInfo(h, &info), "Tovira_GetCameraInfo")) {
        std::printf("sensor %d x %d, gain %d..%d, colour gain %d..%d, exposure %d..%d lines\n", info.sensorWidth,
                    info.sensorHeight, info.gainMin, info.gainMax, info.colorGainMin, info.colorGainMax,
                    info.exposureMin, info.exposureMax);
    }
    std::printf("capture window %d x %d, colour mode %d, wait time %d ms\n", Tovira_Width(h), Tovira_Height(h),
                Tovira_GetColorMode(h), Tovira_GetWaitTime(h));
    return count > 0 ? 0 : 1;
}

int CommandStream(int h, double seconds, int bits) {
    if (!Check(h, Tovira_SetColorMode(h, bits), "Tovira_SetColorMode")) return 1;
    std::vector<unsigned char> buffer(static_cast<size_t>(BytesPerFrame(Tovira_Width(h), Tovira_Height(h), bits)));
    MessageWindow messages;
    if (!messages.hwnd) {
        std::printf("  FAILED: cannot create a message window\n");
        return 1;
    }
    std::printf("streaming %.1f s at %d bits per pixel ...\n", seconds, bits);
    if (!Check(h, Tovira_CallBackPreview(h, messages.hwnd, buffer.data(), static_cast<int>(buffer.size()), 1),
               "Tovira_CallBackPreview"))
        return 1;
    const DWORD start = GetTickCount();
    DWORD lastReport = start, firstFrame = 0, lastFrame = 0;
    int frames = 0, lastRate = 0, problems = 0;
    // The records of the first and the last frame handed on: ids, counts and transfer time stamps.
    TOVIRAX_FRAME_META firstRecord = {}, lastRecord = {};
    firstRecord.size = lastRecord.size = sizeof(TOVIRAX_FRAME_META);
    while (GetTickCount() - start < static_cast<DWORD>(seconds * 1000)) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TOVIRA_FRAME) {
                if (msg.lParam == 0 && msg.wParam) {
                    lastFrame = GetTickCount();
                    ToviraX_GetFrameMeta(h, &lastRecord, nullptr);
                    if (frames++ == 0) {
                        firstFrame = lastFrame;
                        firstRecord = lastRecord;
                    }
                    lastRate = reinterpret_cast<TOVIRA_FRAME_INFO*>(msg.wParam)->frameRate;
                } else {
                    ++problems;
                    std::printf("  frame message with lParam %d\n", static_cast<int>(msg.lParam));
                }
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (GetTickCount() - lastReport >= 1000) {
            lastReport = GetTickCount();
            std::printf("  %5.1f s: %d frames, %.1f fps\n", (lastReport - start) / 1000.0, frames, lastRate / 10.0);
            std::fflush(stdout);
        }
        Sleep(2);
    }
    Check(h, Tovira_StopPreview(h), "Tovira_StopPreview");
    Tovira_Close(h);
    // The rate counts from the first frame to the last, so the start-up (preparing the camera, the first
    // exposure) does not lower it; the start-up is shown on its own. It is taken from the frames' own time
    // stamps: message arrival times would count a late first message as a faster rate. Without records
    // (no frame was processed), the message times are all there is.
    const double elapsed = (GetTickCount() - start) / 1000.0;
    const bool stamped = frames >= 2 && lastRecord.timestampUs > firstRecord.timestampUs;
    const double rate = stamped ? ToolStampedRate(lastRecord.delivered - firstRecord.delivered, firstRecord.timestampUs,
                                                  lastRecord.timestampUs)
                                : ToolDeliveredRate(frames, firstFrame, lastFrame);
    if (frames >= 2)
        std::printf("delivered %d frames in %.1f s: %.2f fps from the first frame to the last (start-up %.2f s "
                    "not included; the sensor made %.2f fps; SDK measured %.1f fps)\n",
                    frames, elapsed, rate, (firstFrame - start) / 1000.0,
                    stamped ? ToolStampedRate(lastRecord.frameId - firstRecord.frameId, firstRecord.timestampUs,
                                              lastRecord.timestampUs)
                            : rate,
                    lastRate / 10.0);
    else
        std::printf("delivered %d frame(s) in %.1f s: too few for a rate\n", frames, elapsed);
    if (frames == 0 || problems) {
        ++g_failures;
        return 1;
    }
    return 0;
}

int CommandSnapshot(int h, int bits, int type, const char* file) {
    if (!Check(h, Tovira_SetColorMode(h, bits), "Tovira_SetColorMode")) return 1;
    if (!Check(h, Tovira_SnapShot(h, nullptr, 0, 1), "Tovira_SnapShot")) return 1;
    const DWORD start = GetTickCount();
    if (!Check(h, Tovira_SaveImage(h, file, type), "Tovira_SaveImage")) return 1;
    std::printf("  wrote %s (%d bits per pixel, file type %d %s, %.2f s)\n", file, bits, type,
                ToolFileTypeName(type), (GetTickCount() - start) / 1000.0);
    return 0;
}

int CommandRecord(int h, int milliseconds, const char* file) {
    std::printf("recording %d ms into %s ...\n", milliseconds, file);
    if (!Check(h, Tovira_Record(h, file, milliseconds, 0), "Tovira_Record")) return 1;
    // The recording ends by itself after its duration; wait for it, showing progress.
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(milliseconds) + 500) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(250);
        std::printf("  %.1f s\r", (GetTickCount() - start) / 1000.0);
        std::fflush(stdout);
    }
    Check(h, Tovira_StopPreview(h), "Tovira_StopPreview");
    Tovira_Close(h);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(file, GetFileExInfoStandard, &data)) {
        std::printf("  FAILED: %s was not written\n", file);
        ++g_failures;
        return 1;
    }
    std::printf("  wrote %s (%llu bytes)\n", file,
                static_cast<unsigned long long>(ToolFileSize(data.nFileSizeHigh, data.nFileSizeLow)));
    return 0;
}

int CommandRegisterRead(int h, int reg) {
    int ok = 0;
    const int value = Tovira_ReadRegisterEx(h, reg, &ok);
    if (!Check(h, ok, "Tovira_ReadRegisterEx")) return 1;
    std::printf("register 0x%04X = 0x%04X (%d)\n", reg, value, value);
    return 0;
}

int CommandRegisterWrite(int h, int reg, int value) {
    if (!Check(h, Tovira_WriteRegisterEx(h, reg, value), "Tovira_WriteRegisterEx")) return 1;
    std::printf("register 0x%04X := 0x%04X\n", reg, value);
    return 0;
}

int CommandDemo(int h, const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    std::printf("== cameras\n");
    CommandList(h);
    std::printf("== registers\n");
    CommandRegisterRead(h, 0x0344);  // the horizontal start of the capture window
    std::printf("== streaming\n");
    CommandStream(h, 3.0, 24);

    // Every colour mode once and every file type once.
    struct Shot {
        int bits, type;
        const char* name;
    };
    const Shot shots[] = {{8, TOVIRA_FILE_BMP, "mode08.bmp"},      {16, TOVIRA_FILE_TIFF, "mode16.tif"},
                          {24, TOVIRA_FILE_JPEG_100, "mode24_q100.jpg"}, {24, TOVIRA_FILE_JPEG_70, "mode24_q70.jpg"},
                          {24, TOVIRA_FILE_JPEG_20, "mode24_q20.jpg"}, {32, TOVIRA_FILE_PNG, "mode32.png"},
                          {48, TOVIRA_FILE_RAW, "mode48.raw"},       {64, TOVIRA_FILE_TIFF, "mode64.tif"}};
    std::printf("== snapshots\n");
    for (const Shot& shot : shots) {
        const std::string path = folder + "\\" + shot.name;
        CommandSnapshot(h, shot.bits, shot.type, path.c_str());
    }
    Tovira_StopPreview(h);
    std::printf("== recording\n");
    Tovira_SetColorMode(h, 24);
    CommandRecord(h, 2000, (folder + "\\recording.avi").c_str());
    return g_failures ? 1 : 0;
}

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: tovira_tool <command>\n"
                 "  list                               cameras and their information\n"
                 "  stream <seconds> [bits]            stream (default 24 bits), report the delivered frame rate\n"
                 "  snapshot <bits> <file type> <file> one frame saved as a file\n"
                 "  record <milliseconds> <file.avi>   record an uncompressed AVI\n"
                 "  reg read <register>                read a sensor register (decimal or 0x hex)\n"
                 "  reg write <register> <value>       write a sensor register\n"
                 "  demo [folder]                      all of the above, files in the folder (default out)\n"
                 "  help, --help, -h                   this text\n"
                 "bits: 8, 16, 24, 32, 48 or 64 (colour mode)\n"
                 "file types, by number or name:");
    for (int type = 0; type < kToolFileTypeCount; ++type) std::fprintf(out, " %d %s", type, ToolFileTypeName(type));
    std::fprintf(out,
                 "\nexit code: 0 done, 1 something failed, 2 command line refused\n"
                 "Without a camera, set TOVIRA_VIRTUAL_CAMERAS=0 to use the SDK's virtual camera.\n");
}

}  // namespace

int main(int argc, char** argv) {
    // The command line is checked before the SDK is loaded into use: a refused line changes nothing.
    const ToolCommand command = ParseToolCommand(argc, argv);
    if (command.kind == ToolCommand::kHelp) {
        Usage(stdout);
        return 0;
    }
    if (command.kind == ToolCommand::kInvalid) {
        std::fprintf(stderr, "tovira_tool: %s\n", command.error.c_str());
        Usage(stderr);
        return 2;
    }
    std::printf("ToviraSdk_Z400KX.dll version 0x%06X\n", Tovira_GetDllVersion());
    const int h = Tovira_Initialize(nullptr);
    if (!h) {
        std::printf("FAILED: Tovira_Initialize returned 0\n");
        return 1;
    }
    const int initCode = Tovira_GetLastError(h);
    if (initCode == TOVIRA_ERR_STORAGE)
        std::printf("first run on this account: default settings were created in the registry\n");
    else if (initCode)
        std::printf("initialisation reported error %d: %s (%s)\n", initCode, ToviraErrorMeaning(initCode),
                    ToviraErrorName(initCode));
    DrainErrors(h);

    int result = 1;
    switch (command.kind) {
    case ToolCommand::kList: result = CommandList(h); break;
    case ToolCommand::kStream: result = CommandStream(h, command.seconds, command.bits); break;
    case ToolCommand::kSnapshot:
        result = CommandSnapshot(h, command.bits, command.fileType, command.path.c_str());
        break;
    case ToolCommand::kRecord: result = CommandRecord(h, command.milliseconds, command.path.c_str()); break;
    case ToolCommand::kRegisterRead: result = CommandRegisterRead(h, command.reg); break;
    case ToolCommand::kRegisterWrite: result = CommandRegisterWrite(h, command.reg, command.value); break;
    case ToolCommand::kDemo: result = CommandDemo(h, command.path); break;
    default: break;
    }
    // Codes still in the history: what failed without being reported above (a failed call printed its own).
    const int last = Tovira_GetLastError(h);
    if (last) std::printf("error still pending: %d: %s (%s)\n", last, ToviraErrorMeaning(last), ToviraErrorName(last));
    Tovira_Release(h);
    if (command.kind == ToolCommand::kDemo)
        std::printf("demo %s: %d failure(s)\n", result == 0 ? "passed" : "FAILED", g_failures);
    return result;
}
