// Recordings read back as an application would find them: after their duration, after a lost camera,
// on a full disk, past the RIFF limit (large-file layout), and after the process ended without a stop.
// Each file is checked by AviCheck, which shares no code with the SDK.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "AviCheck.h"
#include "StreamSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
}

std::wstring TempFolder(const wchar_t* leaf) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"tovira_rec_" + std::to_wstring(GetCurrentProcessId()) + L"_" + leaf;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool Exists(const std::wstring& name) { return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Contains(const std::vector<int>& codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Pumps until the recording finished on its own: the file reads back complete.
AviReadBack WaitForFinishedFile(MessageSink& sink, const std::wstring& name, DWORD limitMs) {
    AviReadBack file;
    sink.pumpUntil([&] {
        file = ReadFinishedAvi(name);
        return file.problem.empty() && file.Frames() > 0;
    }, limitMs);
    return file;
}

class RecordFiles : public ::testing::Test {
protected:
    void TearDown() override {
        if (camera) Tovira_Release(camera);
    }
    MessageSink sink;
    int camera = 0;
};

TEST_F(RecordFiles, DurationsBelowOneMillisecondAreRefusedWithError9) {
    camera = OpenCamera(sink.window(), 64, 48);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    const std::wstring name = TempFolder(L"duration") + L"\\short.avi";
    DeleteFileW(name.c_str());
    for (int ms : {0, -1, INT_MIN}) {
        EXPECT_EQ(Tovira_RecordW(camera, name.c_str(), ms, 0), 0) << ms;
        EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_PARAMETER) << ms;
        EXPECT_FALSE(Exists(name)) << ms;
    }
    // One millisecond records (at least the first frame).
    ASSERT_EQ(Tovira_RecordW(camera, name.c_str(), 1, 0), 1);
    const AviReadBack file = WaitForFinishedFile(sink, name, 30000);
    EXPECT_EQ(file.problem, "");
    EXPECT_GE(file.Frames(), 1u);
    EXPECT_FALSE(file.large);
    sink.pumpFor(50);
    EXPECT_TRUE(Contains(sink.errors, TOVIRA_ERR_PARAMETER));  // posted as well as recorded
}

// The record notice runs on the recording thread while the stop that ended the recording waits for that
// thread: the counts are readable from inside it, and agree with the notice and the file.
struct NoticeCounts {
    int result = -1, framesWritten = -1, reportedFrames = -1;
    TOVIRAX_RECORD_STATUS status{};
};
void ReadCountsInNotice(int h, int framesWritten, int, void* user) {
    auto* counts = static_cast<NoticeCounts*>(user);
    counts->status.size = sizeof counts->status;
    counts->reportedFrames = framesWritten;
    counts->result = ToviraX_GetRecordStatus(h, &counts->status);
    counts->framesWritten = counts->status.framesWritten;
}

TEST_F(RecordFiles, TheCountsAreReadableFromTheNoticeWhileTheStopWaitsForIt) {
    camera = OpenCamera(sink.window(), 320, 240);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    const std::wstring name = TempFolder(L"notice") + L"\\counts.avi";
    NoticeCounts counts;
    ASSERT_EQ(ToviraX_SetRecordNotify(camera, nullptr, ReadCountsInNotice, &counts), 1);
    ASSERT_EQ(ToviraX_RecordExW(camera, name.c_str(), 600000, 0, TOVIRAX_CODEC_MJPEG, 70), 1);
    TOVIRAX_RECORD_STATUS status{};
    status.size = sizeof status;
    sink.pumpUntil([&] { return ToviraX_GetRecordStatus(camera, &status) == 1 && status.framesWritten >= 3; }, 60000);
    EXPECT_EQ(status.recording, 1);
    EXPECT_EQ(status.codec, TOVIRAX_CODEC_MJPEG);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);  // the notice has run when the stop returns
    EXPECT_EQ(counts.result, 1);
    EXPECT_EQ(counts.status.recording, 0);
    EXPECT_EQ(counts.framesWritten, counts.reportedFrames);
    const AviReadBack file = ReadFinishedAvi(name);
    ASSERT_EQ(file.problem, "");
    EXPECT_EQ(static_cast<int>(file.Frames()), counts.reportedFrames);
    uint64_t bytes = 0;
    for (const AviReadBack::Frame& f : file.frames) bytes += f.bytes;
    EXPECT_EQ(counts.status.bytesWritten, bytes);
    ToviraX_SetRecordNotify(camera, nullptr, nullptr, nullptr);
    DeleteFileW(name.c_str());
}

// ---- the camera goes away while recording (own CTest entry: the camera unplugs after some frames)

void RecordUntilTheCameraIsLost(int codec) {
    MessageSink sink;
    const int camera = OpenCamera(sink.window(), 160, 120);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    const std::wstring name = TempFolder(L"unplug") + L"\\lost.avi";
    ASSERT_EQ(ToviraX_RecordExW(camera, name.c_str(), 600000, 0, codec, 85), 1);
    sink.pumpUntil([&] { return Contains(sink.errors, TOVIRA_ERR_DEVICE_LOST); }, 60000);
    ASSERT_TRUE(Contains(sink.errors, TOVIRA_ERR_DEVICE_LOST));
    // Told of the loss, and nothing stopped yet: the file is finished, closed and complete.
    const AviReadBack file = ReadFinishedAvi(name);
    EXPECT_EQ(file.problem, "");
    EXPECT_GE(file.Frames(), 1u) << file.fileBytes << " bytes; errors " << ::testing::PrintToString(sink.errors);
    EXPECT_EQ(file.width, 160u);
    EXPECT_EQ(file.handler, codec == TOVIRAX_CODEC_MJPEG ? "MJPG" : "DIB ");
    EXPECT_EQ(WindowsReaderFrames(name), static_cast<long>(file.Frames()));
    EXPECT_TRUE(DeleteFileW(name.c_str())) << "the file is still held open";
    EXPECT_EQ(Tovira_StopPreview(camera), 0);  // the ended transfer is reported (6), as without recording
    EXPECT_EQ(Tovira_Release(camera), 1);
}

TEST(EnvRecordUnplug, TheFileIsCompleteWhenTheLossIsTold) { RecordUntilTheCameraIsLost(TOVIRAX_CODEC_UNCOMPRESSED); }

TEST(EnvRecordUnplugMotionJpeg, TheFileIsCompleteWhenTheLossIsTold) { RecordUntilTheCameraIsLost(TOVIRAX_CODEC_MJPEG); }

// ---- a full disk (own CTest entry: TOVIRA_FULL_DISK_DIR names a folder on a 20 MB file system)

std::wstring FullDiskFolder() {
    const std::wstring folder = Env(L"TOVIRA_FULL_DISK_DIR");
    ULARGE_INTEGER total{};
    if (folder.empty() || !GetDiskFreeSpaceExW(folder.c_str(), nullptr, &total, nullptr) ||
        total.QuadPart > 64ull << 20)
        return L"";
    return folder;
}

// Fills the file system up to `leave` bytes with one file, which the caller deletes.
bool FillDisk(const std::wstring& filler, uint64_t leave) {
    HANDLE f = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::vector<char> block(1 << 16, 'x');
    uint64_t written = 0;
    for (;;) {
        DWORD n = 0;
        if (!WriteFile(f, block.data(), static_cast<DWORD>(block.size()), &n, nullptr) || n == 0) break;
        written += n;
    }
    // Byte by byte at the end, so the file system is full to the last block.
    for (;;) {
        DWORD n = 0;
        if (!WriteFile(f, block.data(), 512, &n, nullptr) || n == 0) break;
        written += n;
    }
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written > leave ? written - leave : 0);
    const bool ok = SetFilePointerEx(f, end, nullptr, FILE_BEGIN) && SetEndOfFile(f);
    CloseHandle(f);
    return ok;
}

std::vector<uint8_t> ReadBytes(const std::wstring& name) {
    std::vector<uint8_t> data;
    if (std::FILE* f = _wfopen(name.c_str(), L"rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return data;
}

int FilesIn(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return count;
}

TEST(EnvFullDisk, ASaveThatDoesNotFitLeavesTheOldFileAndNoTemporaryFile) {
    const std::wstring disk = FullDiskFolder();
    if (disk.empty()) GTEST_SKIP() << "no small file system to fill (TOVIRA_FULL_DISK_DIR)";
    MessageSink sink;
    const int camera = OpenCamera(sink.window(), 640, 480);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    ASSERT_EQ(Tovira_SnapShot(camera, nullptr, 0, 1), 1);
    const std::wstring folder = disk + L"\\save";
    CreateDirectoryW(folder.c_str(), nullptr);
    const wchar_t* const names[] = {L"old.bmp", L"old.raw", L"old.jpg", L"old.png", L"old.tif"};
    const int types[] = {0, 1, 2, 5, 6};
    // The earlier files: small pictures of another window.
    std::vector<std::vector<uint8_t>> before;
    for (int i = 0; i < 5; ++i) {
        const std::wstring name = folder + L"\\" + names[i];
        std::FILE* f = _wfopen(name.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "the earlier file %d", i);
        std::fclose(f);
        before.push_back(ReadBytes(name));
    }
    const std::wstring filler = disk + L"\\filler";
    ASSERT_TRUE(FillDisk(filler, 16 << 10));
    sink.pumpFor(20);
    while (Tovira_GetLastError(camera) != 0) {
    }
    sink.errors.clear();
    for (int i = 0; i < 5; ++i) {
        const std::wstring name = folder + L"\\" + names[i];
        EXPECT_EQ(Tovira_SaveImageW(camera, name.c_str(), types[i]), 0) << types[i];
        EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_STORAGE) << types[i];
        EXPECT_EQ(ReadBytes(name), before[i]) << "type " << types[i] << ": the earlier file changed";
    }
    EXPECT_EQ(FilesIn(folder), 5) << "a temporary file was left behind";
    sink.pumpFor(50);
    EXPECT_EQ(std::count(sink.errors.begin(), sink.errors.end(), TOVIRA_ERR_STORAGE), 5);
    // With room again, a save replaces the file completely.
    DeleteFileW(filler.c_str());
    EXPECT_EQ(Tovira_SaveImageW(camera, (folder + L"\\old.bmp").c_str(), 0), 1);
    EXPECT_EQ(ReadBytes(folder + L"\\old.bmp").size(), 54u + 640 * 480 * 3);
    EXPECT_EQ(FilesIn(folder), 5);
    for (const wchar_t* n : names) DeleteFileW((folder + L"\\" + n).c_str());
    RemoveDirectoryW(folder.c_str());
    EXPECT_EQ(Tovira_Release(camera), 1);
}

// Records until the disk is full: uncompressed 320 x 240 frames of 225 KiB (20 MB hold some 80), or
// Motion JPEG frames of a larger window at the highest quality.
void RecordUntilTheDiskIsFull(int codec) {
    const std::wstring disk = FullDiskFolder();
    if (disk.empty()) GTEST_SKIP() << "no small file system to fill (TOVIRA_FULL_DISK_DIR)";
    MessageSink sink;
    const bool jpeg = codec == TOVIRAX_CODEC_MJPEG;
    const int camera = OpenCamera(sink.window(), jpeg ? 1600 : 320, jpeg ? 1200 : 240);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    sink.pumpFor(20);
    sink.errors.clear();
    const std::wstring name = disk + L"\\full.avi";
    ASSERT_EQ(ToviraX_RecordExW(camera, name.c_str(), 600000, 0, codec, 100), 1);
    sink.pumpUntil([&] { return Contains(sink.errors, TOVIRA_ERR_STORAGE); }, 180000);
    ASSERT_TRUE(Contains(sink.errors, TOVIRA_ERR_STORAGE)) << "the failed write was not reported";
    const AviReadBack file = ReadFinishedAvi(name);
    EXPECT_EQ(file.problem, "");
    EXPECT_EQ(file.handler, jpeg ? "MJPG" : "DIB ");
    EXPECT_GE(file.Frames(), 10u);
    EXPECT_LE(file.fileBytes, 20u << 20);
    EXPECT_EQ(WindowsReaderFrames(name), static_cast<long>(file.Frames()));
    // The recording ended: a new one is accepted (and fails at once for want of room, or records).
    EXPECT_TRUE(DeleteFileW(name.c_str())) << "the file is still held open";
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    EXPECT_EQ(Tovira_Release(camera), 1);
}

TEST(EnvFullDisk, ARecordingThatFillsTheDiskEndsWithACompleteFileAndError12) {
    RecordUntilTheDiskIsFull(TOVIRAX_CODEC_UNCOMPRESSED);
}

TEST(EnvFullDisk, AMotionJpegRecordingThatFillsTheDiskEndsWithACompleteFileAndError12) {
    RecordUntilTheDiskIsFull(TOVIRAX_CODEC_MJPEG);
}

// ---- past the RIFF limit (own CTest entry: TOVIRA_TEST_AVI_RIFF_LIMIT lowers the limit)

TEST(EnvLargeAvi, ARecordingPastTheLimitContinuesInAvixRiffsAndAShortOneKeepsThePlainLayout) {
    const uint64_t limit = _wtoi64(Env(L"TOVIRA_TEST_AVI_RIFF_LIMIT").c_str());
    ASSERT_GT(limit, 0u) << "TOVIRA_TEST_AVI_RIFF_LIMIT is not set";
    MessageSink sink;
    const int camera = OpenCamera(sink.window(), 64, 48);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    std::wstring folder = Env(L"TOVIRA_LARGE_AVI_DIR");
    if (folder.empty()) folder = TempFolder(L"large");
    CreateDirectoryW(folder.c_str(), nullptr);

    // A recording that could not fit into one RIFF: the large-file layout.
    const std::wstring large = folder + L"\\large.avi";
    ASSERT_EQ(Tovira_RecordW(camera, large.c_str(), 3000, 0), 1);
    const AviReadBack file = WaitForFinishedFile(sink, large, 120000);
    ASSERT_EQ(file.problem, "");
    EXPECT_TRUE(file.large);
    EXPECT_GE(file.framesPerRiff.size(), 3u) << file.Frames() << " frames";
    EXPECT_LE(file.firstRiffBytes, limit);
    EXPECT_EQ(file.idx1Entries, file.framesPerRiff[0]);
    EXPECT_EQ(file.mainFrames, file.framesPerRiff[0]);
    EXPECT_EQ(file.totalFrames, file.Frames());
    for (uint32_t frames : file.framesPerRiff) EXPECT_GT(frames, 0u);
    // A reader that knows only the first RIFF (Wine's AVI functions) reads its frames up to the last.
    EXPECT_EQ(WindowsReaderFrames(large, static_cast<long>(file.framesPerRiff[0]) - 1),
              static_cast<long>(file.Frames()));
    // The count for the independent reader check.
    if (std::FILE* f = _wfopen((folder + L"\\large.txt").c_str(), L"w")) {
        std::fprintf(f, "%u %u\n", file.Frames(), file.framesPerRiff[0]);
        std::fclose(f);
    }

    // A recording that fits keeps the plain layout: "movi" at 228, no large-file headers.
    const std::wstring plain = folder + L"\\plain.avi";
    ASSERT_EQ(Tovira_RecordW(camera, plain.c_str(), 20, 0), 1);
    const AviReadBack small = WaitForFinishedFile(sink, plain, 60000);
    EXPECT_EQ(small.problem, "");
    EXPECT_FALSE(small.large);
    EXPECT_EQ(small.framesPerRiff.size(), 1u);
    EXPECT_EQ(WindowsReaderFrames(plain), static_cast<long>(small.Frames()));
    const std::vector<uint8_t> d = ReadBytes(plain);
    ASSERT_GE(d.size(), 232u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d[220]), 4), "LIST");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d[228]), 4), "movi");

    // A long recording (large layout expected) stopped soon after its first frame: when its file still
    // fits one RIFF it ends in the plain layout too; a large file has more than one RIFF. (How many
    // frames came before the stop depends on the machine; the rule holds either way.)
    const std::wstring stopped = folder + L"\\stopped.avi";
    ASSERT_EQ(Tovira_RecordW(camera, stopped.c_str(), 600000, 0), 1);
    TOVIRAX_RECORD_STATUS status{};
    status.size = sizeof status;
    sink.pumpUntil([&] { return ToviraX_GetRecordStatus(camera, &status) == 1 && status.framesWritten >= 1; }, 60000);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    const AviReadBack early = ReadFinishedAvi(stopped);
    EXPECT_EQ(early.problem, "");
    ASSERT_GE(early.Frames(), 1u);
    if (early.large) {
        EXPECT_GE(early.framesPerRiff.size(), 2u);
        EXPECT_EQ(WindowsReaderFrames(stopped, static_cast<long>(early.framesPerRiff[0]) - 1),
                  static_cast<long>(early.Frames()));
    } else {
        EXPECT_EQ(WindowsReaderFrames(stopped), static_cast<long>(early.Frames()));
        const std::vector<uint8_t> e = ReadBytes(stopped);
        ASSERT_GE(e.size(), 232u + 8 + 9216);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&e[228]), 4), "movi");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&e[232]), 4), "00db");
    }

    // Motion JPEG frames of any size continue in AVIX RIFFs the same way.
    ASSERT_EQ(Tovira_SetCaptureWindowEx(camera, 3840, 0, 640, 2748, 0, 480), 1);
    const std::wstring jpeg = folder + L"\\large-mjpeg.avi";
    ASSERT_EQ(ToviraX_RecordExW(camera, jpeg.c_str(), 3000, 0, TOVIRAX_CODEC_MJPEG, 95), 1);
    const AviReadBack compressed = WaitForFinishedFile(sink, jpeg, 120000);
    ASSERT_EQ(compressed.problem, "");
    EXPECT_EQ(compressed.handler, "MJPG");
    EXPECT_TRUE(compressed.large);
    EXPECT_GE(compressed.framesPerRiff.size(), 3u) << compressed.Frames() << " frames";
    EXPECT_LE(compressed.firstRiffBytes, limit);
    EXPECT_EQ(WindowsReaderFrames(jpeg, static_cast<long>(compressed.framesPerRiff[0]) - 1),
              static_cast<long>(compressed.Frames()));
    if (std::FILE* f = _wfopen((folder + L"\\large-mjpeg.txt").c_str(), L"w")) {
        std::fprintf(f, "%u %u\n", compressed.Frames(), compressed.framesPerRiff[0]);
        std::fclose(f);
    }
    EXPECT_EQ(Tovira_Release(camera), 1);
}

// ---- the process ends while recording. The parent starts this program again with a child test.

// In the child: records and ends the process the way TOVIRA_RECORD_EXIT_CHILD says ("exit" or "kill").
TEST(EnvRecordExitChild, RecordsThenEndsTheProcess) {
    const std::wstring how = Env(L"TOVIRA_RECORD_EXIT_CHILD"), name = Env(L"TOVIRA_RECORD_EXIT_FILE");
    if (how.empty()) GTEST_SKIP() << "runs as the child of EnvRecordExit only";
    const int codec = _wtoi(Env(L"TOVIRA_RECORD_EXIT_CODEC").c_str());
    MessageSink sink;
    const int camera = OpenCamera(sink.window(), 64, 48);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    ASSERT_EQ(ToviraX_RecordExW(camera, name.c_str(), 600000, 0, codec, 90), 1);
    sink.pumpFor(2500);  // past the first header rewrite
    if (how == L"kill") TerminateProcess(GetCurrentProcess(), 3);
    std::exit(0);  // no stop, no release
}

DWORD RunChild(const wchar_t* how, const std::wstring& name, int codec) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=EnvRecordExitChild.*";
    SetEnvironmentVariableW(L"TOVIRA_RECORD_EXIT_CHILD", how);
    SetEnvironmentVariableW(L"TOVIRA_RECORD_EXIT_FILE", name.c_str());
    SetEnvironmentVariableW(L"TOVIRA_RECORD_EXIT_CODEC", std::to_wstring(codec).c_str());
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableW(L"TOVIRA_RECORD_EXIT_CHILD", nullptr);
    if (!started) return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0xFFFFFFFE;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST(EnvRecordExit, AnExitFinishesTheFileAndAKilledProcessLeavesItReadableUpToTheLastRewrite) {
    const std::wstring folder = TempFolder(L"exit");
    const std::wstring exited = folder + L"\\exited.avi", killed = folder + L"\\killed.avi";
    for (const int codec : {TOVIRAX_CODEC_UNCOMPRESSED, TOVIRAX_CODEC_MJPEG}) {
        ASSERT_EQ(RunChild(L"exit", exited, codec), 0u) << codec;
        const AviReadBack finished = ReadFinishedAvi(exited);
        EXPECT_EQ(finished.problem, "") << codec;
        EXPECT_GE(finished.Frames(), 2u) << codec;
        EXPECT_EQ(WindowsReaderFrames(exited), static_cast<long>(finished.Frames())) << codec;

        ASSERT_EQ(RunChild(L"kill", killed, codec), 3u) << codec;
        const AviReadBack unfinished = ReadUnfinishedAvi(killed);
        EXPECT_EQ(unfinished.problem, "") << codec;
        EXPECT_GE(unfinished.mainFrames, 1u) << codec << ": no header rewrite in 2.5 s";
        EXPECT_EQ(unfinished.handler, codec == TOVIRAX_CODEC_MJPEG ? "MJPG" : "DIB ");
        DeleteFileW(exited.c_str());
        DeleteFileW(killed.c_str());
    }
}

}  // namespace
