// The console sample as a user meets it: its command line (help, refused numbers and names, exit codes)
// run as its own process, and the pieces of its parsing and reporting checked directly.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../../apps/console/ToolArguments.h"
#include "CameraDllSupport.h"
#include "DllFile.h"

namespace {

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;  // stdout and stderr together
};

// Runs tovira_tool.exe (beside the test program) with `arguments`, collecting what it prints.
ToolRun RunTool(const std::string& arguments) {
    std::string exe = DllPath();
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "tovira_tool.exe";
    std::string line = "\"" + exe + "\" " + arguments;
    ToolRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    const BOOL started =
        CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (started) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) run.output.append(chunk, got);
        WaitForSingleObject(pi.hProcess, 120000);
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(readEnd);
    return run;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

class Tool : public ::testing::Test {
protected:
    void SetUp() override { DeleteToviraSettings(); }
    void TearDown() override { DeleteToviraSettings(); }
};

TEST_F(Tool, HelpPrintsTheUsageAndSucceeds) {
    for (const char* help : {"--help", "-h", "help"}) {
        const ToolRun run = RunTool(help);
        EXPECT_EQ(run.exitCode, 0u) << help << ":\n" << run.output;
        EXPECT_TRUE(Contains(run.output, "usage: tovira_tool")) << help << ":\n" << run.output;
        // The usage names the file types as well as their numbers.
        EXPECT_TRUE(Contains(run.output, "6 TIFF") && Contains(run.output, "0 BMP")) << run.output;
        // Nothing was done, so nothing is reported about the camera.
        EXPECT_FALSE(Contains(run.output, "error")) << help << ":\n" << run.output;
    }
}

TEST_F(Tool, RefusedCommandLinesExitWithTwoAndDoNothing) {
    const char* refused[] = {"",
                             "frobnicate",
                             "stream abc",
                             "stream 0",
                             "stream 1 12",
                             "stream 1 24 extra",
                             "reg read zz",
                             "reg read 0x",
                             "reg read 0x10000",
                             "reg write 0x3056 -1",
                             "reg write 0x3056 12x",
                             "reg erase 0x3056",
                             "snapshot abc 6 x.tif",
                             "snapshot 24 9 x.tif",
                             "snapshot 24 gif x.gif",
                             "record 5s x.avi",
                             "record 0 x.avi",
                             "list now"};
    for (const char* arguments : refused) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 2u) << "'" << arguments << "':\n" << run.output;
        EXPECT_TRUE(Contains(run.output, "usage: tovira_tool")) << "'" << arguments << "':\n" << run.output;
        // Refused before the SDK was used: no version line, no first-run message.
        EXPECT_FALSE(Contains(run.output, "version")) << "'" << arguments << "':\n" << run.output;
    }
}

TEST_F(Tool, CommandsReportTheirResultsByName) {
    // The window's horizontal start register holds the sensor column of the full frame's first column.
    ToolRun run = RunTool("reg read 0x0344");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(Contains(run.output, "register 0x0344 = 0x0038")) << run.output;
    // The first run's error 12 (defaults created) is explained, not reported as a pending error.
    EXPECT_TRUE(Contains(run.output, "first run")) << run.output;
    EXPECT_FALSE(Contains(run.output, "pending")) << run.output;

    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "tovira_tool_test.tif";
    DeleteFileA(file.c_str());
    run = RunTool("snapshot 24 tiff \"" + file + "\"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(Contains(run.output, "file type 6 TIFF")) << run.output;
    EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(file.c_str());

    // The rate counts from the first frame and says so.
    run = RunTool("stream 2 8");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(Contains(run.output, "from the first frame to the last (start-up")) << run.output;
}

TEST(ToolArguments, NumbersAreReadWholeAndWithinTheirRange) {
    long v = -1;
    EXPECT_TRUE(ParseToolInteger("0x0344", 0, 0xFFFF, &v));
    EXPECT_EQ(v, 0x344);
    EXPECT_TRUE(ParseToolInteger("0100", 0, 0xFFFF, &v));  // decimal, not octal
    EXPECT_EQ(v, 100);
    for (const char* bad : {"", "zz", "12x", "0x", "0x-1", " 5", "+5", "-1", "65536", "99999999999999999999"})
        EXPECT_FALSE(ParseToolInteger(bad, 0, 0xFFFF, &v)) << "'" << bad << "'";
    double s = 0;
    EXPECT_TRUE(ParseToolSeconds("2.5", &s));
    EXPECT_EQ(s, 2.5);
    for (const char* bad : {"", "abc", "0", "-1", "2s", "nan", "inf", "3601"})
        EXPECT_FALSE(ParseToolSeconds(bad, &s)) << "'" << bad << "'";
}

TEST(ToolArguments, FileTypesByNumberOrName) {
    int type = -1;
    for (int t = 0; t < kToolFileTypeCount; ++t) {
        EXPECT_TRUE(ParseToolFileType(std::to_string(t).c_str(), &type));
        EXPECT_EQ(type, t);
        EXPECT_TRUE(ParseToolFileType(ToolFileTypeName(t), &type));
        EXPECT_EQ(type, t);
    }
    EXPECT_TRUE(ParseToolFileType("jpeg-70", &type));
    EXPECT_EQ(type, TOVIRA_FILE_JPEG_70);
    EXPECT_TRUE(ParseToolFileType("Tiff", &type));
    EXPECT_EQ(type, TOVIRA_FILE_TIFF);
    for (const char* bad : {"7", "-1", "gif", "tif", "JPEG", ""}) EXPECT_FALSE(ParseToolFileType(bad, &type)) << bad;
}

TEST(ToolArguments, FileSizesUseBothHalvesAndRatesSkipTheStartUp) {
    EXPECT_EQ(ToolFileSize(0, 4000), 4000u);
    EXPECT_EQ(ToolFileSize(1, 0x2A05F200), 5000000000ull);  // a 5 GB recording
    EXPECT_EQ(ToolFileSize(0xFFFFFFFF, 0xFFFFFFFF), ~0ull);
    // 11 frames, the first at 1500 ms (after a slow start), the last at 2500 ms: 10 intervals in 1 s.
    EXPECT_DOUBLE_EQ(ToolDeliveredRate(11, 1500, 2500), 10.0);
    EXPECT_DOUBLE_EQ(ToolDeliveredRate(1, 1500, 1500), 0.0);
    // GetTickCount wraps after 49.7 days; the span still counts.
    EXPECT_DOUBLE_EQ(ToolDeliveredRate(3, 0xFFFFFF00u, 0x00000100u), 2 * 1000.0 / 512);
}

}  // namespace
