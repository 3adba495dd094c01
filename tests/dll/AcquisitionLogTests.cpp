// The log switch: run with TOVIRA_LOG naming a file (its own CTest entry), the library appends one line
// with date and time per recorded failure, state change and dropped frame.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "StreamSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

std::string LogPath() {
    char path[MAX_PATH] = {};
    GetEnvironmentVariableA("TOVIRA_LOG", path, MAX_PATH);
    return path;
}

// The lines appended to the file after byte `from`.
std::vector<std::string> LinesAfter(const std::string& path, std::streamoff from) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(from);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // the file has Windows line ends
        lines.push_back(line);
    }
    return lines;
}

std::streamoff SizeOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? std::streamoff(in.tellg()) : 0;
}

void Slow(int camera, void* buffer, const TOVIRAX_FRAME_META*, void*) {
    Sleep(100);
    ToviraX_ReturnBuffer(camera, buffer);
}

TEST(EnvAcquisitionLog, OneLinePerFailureStateChangeAndDrop) {
    const std::string path = LogPath();
    ASSERT_FALSE(path.empty()) << "run with TOVIRA_LOG set";
    const std::streamoff start = SizeOf(path);

    const int camera = OpenCamera(nullptr, 320, 240);
    ASSERT_NE(camera, 0);
    EXPECT_EQ(Tovira_SetColorMode(camera, 12), 0);  // error 9
    ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    // One buffer and a slow callback against a fast camera: frames are dropped.
    std::vector<uint8_t> buffer(size_t(320) * 240);
    void* buffers[1] = {buffer.data()};
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, Slow, nullptr, buffers, 1, int(buffer.size()), 1), 1);
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    TOVIRAX_FRAME_META meta;
    meta.size = sizeof meta;
    ASSERT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, 30000, nullptr, 0, 1, &meta), 1);
    TOVIRAX_COUNTERS counts;
    counts.size = sizeof counts;
    const DWORD begin = GetTickCount();
    do {
        Sleep(50);
        ASSERT_EQ(ToviraX_GetFrameMeta(camera, nullptr, &counts), 1);
    } while (counts.dropped == 0 && GetTickCount() - begin < 30000);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0), 1);
    ASSERT_EQ(Tovira_Release(camera), 1);

    const std::vector<std::string> lines = LinesAfter(path, start);
    ASSERT_FALSE(lines.empty());
    const std::regex stamped(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (error|state|drop) .+)");
    int errors = 0, streams = 0, drops = 0, callbacks = 0;
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
        errors += line.find("error 9 (parameter)") != std::string::npos;
        streams += line.find("stream started") != std::string::npos;
        drops += line.find("dropped") != std::string::npos;
        callbacks += line.find("frame callback") != std::string::npos;
        EXPECT_EQ(line.find("error 0 "), std::string::npos) << "code 0 is no failure";
    }
    EXPECT_EQ(errors, 1);
    EXPECT_GE(streams, 1);
    EXPECT_GE(drops, 1);
    EXPECT_EQ(callbacks, 2);  // set, removed
}

}  // namespace
