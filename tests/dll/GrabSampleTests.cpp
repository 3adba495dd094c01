// The grab sample as a user runs it: a console program that never creates a window, with the virtual
// camera of this test's environment; its report and its saved frame.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>

#include "DllFile.h"

namespace {

// Runs the sample with `arguments`; its exit code and everything it printed.
int RunGrab(const std::string& arguments, std::string* output) {
    std::string exe = DllPath();
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "tovira_grab.exe";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) return -1;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + exe + "\" " + arguments;
    const BOOL started =
        CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &process);
    CloseHandle(write);
    if (!started) {
        CloseHandle(read);
        return -1;
    }
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got > 0) output->append(chunk, got);
    CloseHandle(read);
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

TEST(GrabSample, PrintsEachNewFrameOnceAndSavesOne) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brenik\\ToviraZ400KXSdk");
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "tovira_grab_test.bmp";
    DeleteFileA(file.c_str());
    std::string output;
    ASSERT_EQ(RunGrab("4 8 \"" + file + "\"", &output), 0) << output;
    // One line per frame with a growing id.
    const std::regex frameLine(R"(frame (\d+)  t=[0-9.]+ ms  ids since the last (\d+)  mean [0-9.]+)");
    unsigned long long last = 0;
    int frames = 0;
    for (std::sregex_iterator it(output.begin(), output.end(), frameLine), end; it != end; ++it) {
        const unsigned long long id = std::stoull((*it)[1]);
        if (frames > 0) EXPECT_GT(id, last);
        EXPECT_GE(std::stoull((*it)[2]), 1u);
        last = id;
        ++frames;
    }
    EXPECT_EQ(frames, 4) << output;
    EXPECT_NE(output.find("delivered "), std::string::npos) << output;
    EXPECT_NE(output.find("saved "), std::string::npos) << output;
    // The saved frame is a bitmap of the full frame in 8 bits.
    FILE* saved = std::fopen(file.c_str(), "rb");
    ASSERT_NE(saved, nullptr);
    unsigned char header[54] = {};
    EXPECT_EQ(std::fread(header, 1, sizeof header, saved), sizeof header);
    std::fclose(saved);
    EXPECT_EQ(header[0], 'B');
    EXPECT_EQ(header[1], 'M');
    EXPECT_EQ(header[18] | header[19] << 8, 3840);
    EXPECT_EQ(header[28], 8);
    DeleteFileA(file.c_str());
}

TEST(GrabSample, ExplainsAFailureInWords) {
    std::string output;
    EXPECT_EQ(RunGrab("1 12 x.png", &output), 1);  // 12 bits per pixel is no colour mode
    EXPECT_NE(output.find("Tovira_SetColorMode failed: error 9, An argument is out of range."), std::string::npos)
        << output;
}

}  // namespace
