#include "AviCheck.h"

#include <windows.h>
#include <ole2.h>
#include <vfw.h>

#include <cstring>

namespace {

std::vector<uint8_t> ReadAll(const std::wstring& name) {
    std::vector<uint8_t> data;
    HANDLE f = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return data;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    data.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 26));
        if (!ReadFile(f, data.data() + done, want, &n, nullptr) || n == 0) break;
        done += n;
    }
    data.resize(done);
    CloseHandle(f);
    return data;
}

struct Reader {
    const std::vector<uint8_t>& d;
    AviReadBack r;
    uint32_t frameBytes = 0;     // of an uncompressed frame
    const char* chunkId = "00db";
    bool compressed = false;
    uint64_t superIndex = 0;  // position of the "indx" data

    uint32_t U32(uint64_t at) const {
        uint32_t v = 0;
        if (at + 4 <= d.size()) std::memcpy(&v, &d[at], 4);
        return v;
    }
    uint64_t U64(uint64_t at) const {
        uint64_t v = 0;
        if (at + 8 <= d.size()) std::memcpy(&v, &d[at], 8);
        return v;
    }
    bool Is(uint64_t at, const char* id) const { return at + 4 <= d.size() && std::memcmp(&d[at], id, 4) == 0; }
    // The chunk at `at` holds one frame of the stream's kind: an uncompressed one of the frame size, or
    // one whole JPEG image (start and end markers).
    bool FrameChunk(uint64_t at) const {
        if (!Is(at, chunkId)) return false;
        const uint32_t size = U32(at + 4);
        if (!compressed) return size == frameBytes;
        return size >= 4 && at + 8 + size <= d.size() && d[at + 8] == 0xFF && d[at + 9] == 0xD8 &&
               d[at + 8 + size - 2] == 0xFF && d[at + 8 + size - 1] == 0xD9;
    }
    bool Fail(const std::string& why) {
        if (r.problem.empty()) r.problem = why;
        return false;
    }

    bool Headers() {
        if (!Is(0, "RIFF") || !Is(8, "AVI ") || !Is(12, "LIST") || !Is(20, "hdrl") || !Is(24, "avih"))
            return Fail("no RIFF AVI with hdrl/avih at the start");
        r.mainFrames = U32(48);
        r.width = U32(64);
        r.height = U32(68);
        const uint64_t hdrlEnd = 20 + static_cast<uint64_t>(U32(16));
        uint64_t at = 88;
        while (at + 8 <= hdrlEnd) {
            const uint64_t size = U32(at + 4);
            if (Is(at, "LIST") && Is(at + 8, "strl")) {
                uint64_t in = at + 12;
                while (in + 8 <= at + 8 + size) {
                    if (Is(in, "strh")) {
                        r.streamLength = U32(in + 8 + 32);
                        r.handler.assign(reinterpret_cast<const char*>(&d[in + 12]), 4);
                    }
                    if (Is(in, "strf")) {
                        uint16_t bits = 0;
                        std::memcpy(&bits, &d[in + 8 + 14], 2);
                        r.bitCount = bits;
                        compressed = Is(in + 8 + 16, "MJPG");
                        bool grey = bits == 8 && U32(in + 4) >= 40 + 1024;
                        for (uint32_t i = 0; grey && i < 256; ++i) {
                            const uint64_t e = in + 8 + 40 + 4 * i;
                            grey = d[e] == i && d[e + 1] == i && d[e + 2] == i;
                        }
                        r.greyPalette = grey;
                    }
                    if (Is(in, "indx")) superIndex = in + 8;
                    in += 8 + ((U32(in + 4) + 1) & ~1u);
                }
            } else if (Is(at, "LIST") && Is(at + 8, "odml") && Is(at + 12, "dmlh")) {
                r.large = true;
                r.totalFrames = U32(at + 20);
            }
            at += 8 + ((size + 1) & ~1u);
        }
        if (!r.large) r.totalFrames = r.streamLength;
        if (compressed != (r.handler == "MJPG")) return Fail("stream handler and bitmap compression differ");
        if (r.bitCount != 24 && !(r.bitCount == 8 && r.greyPalette && !compressed))
            return Fail("neither 24 bits nor 8-bit grey");
        chunkId = compressed ? "00dc" : "00db";
        frameBytes = ((r.width * (r.bitCount / 8) + 3) & ~3u) * r.height;
        return true;
    }

    // Walks one RIFF from `start`; counts frame chunks; checks idx1 (first RIFF). Returns its end.
    uint64_t Riff(uint64_t start, size_t number, bool finished) {
        const uint64_t end = start + 8 + static_cast<uint64_t>(U32(start + 4));
        if (end > d.size()) return Fail("RIFF " + std::to_string(number) + " reaches past the end"), 0;
        uint64_t at = start + 12;
        uint32_t frames = 0;
        uint64_t moviId = 0;
        while (at + 8 <= end) {
            const uint64_t size = U32(at + 4);
            if (Is(at, "LIST") && Is(at + 8, "movi")) {
                moviId = at + 8;
                const uint64_t moviEnd = at + 8 + size;
                if (moviEnd > end) return Fail("movi list past its RIFF"), 0;
                uint64_t c = at + 12;
                while (c + 8 <= moviEnd) {
                    const uint32_t chunk = U32(c + 4);
                    if (Is(c, chunkId)) {
                        if (!FrameChunk(c)) return Fail("frame chunk of another size or not one image"), 0;
                        r.frames.push_back({c + 8, chunk});
                        ++frames;
                    } else if (!Is(c, "ix00") && !Is(c, "JUNK")) {
                        return Fail("unknown chunk in movi"), 0;
                    }
                    c += 8 + ((static_cast<uint64_t>(chunk) + 1) & ~1ull);
                }
                if (c != moviEnd) return Fail("movi list does not end on a chunk"), 0;
            } else if (Is(at, "idx1")) {
                if (number != 0) return Fail("idx1 outside the first RIFF"), 0;
                r.idx1Entries = static_cast<uint32_t>(size / 16);
                for (uint32_t i = 0; i < r.idx1Entries; ++i) {
                    const uint64_t e = at + 8 + 16ull * i;
                    const uint64_t chunk = moviId + U32(e + 8);
                    if (!Is(e, chunkId) || !FrameChunk(chunk) || U32(e + 12) != U32(chunk + 4) ||
                        (i < r.frames.size() && r.frames[i].data != chunk + 8))
                        return Fail("idx1 entry " + std::to_string(i) + " points elsewhere"), 0;
                }
            }
            at += 8 + ((size + 1) & ~1ull);
        }
        if (finished && number == 0 && r.idx1Entries != frames) return Fail("idx1 does not list every frame"), 0;
        r.framesPerRiff.push_back(frames);
        return end;
    }

    bool SuperIndex() {
        if (!superIndex) return Fail("large file without super index");
        const uint32_t entries = U32(superIndex + 4);
        if (entries != r.framesPerRiff.size()) return Fail("super index does not list every RIFF");
        for (uint32_t k = 0; k < entries; ++k) {
            const uint64_t e = superIndex + 24 + 16ull * k;
            const uint64_t ix = U64(e);
            if (!Is(ix, "ix00") || U32(e + 12) != r.framesPerRiff[k] || U32(ix + 12) != r.framesPerRiff[k])
                return Fail("super index entry " + std::to_string(k) + " does not fit its RIFF");
            const uint64_t base = U64(ix + 20);
            for (uint32_t i = 0; i < r.framesPerRiff[k]; ++i) {
                const uint64_t data = base + U32(ix + 32 + 8ull * i);
                if (data < 8 || !FrameChunk(data - 8) || U32(ix + 36 + 8ull * i) != U32(data - 4))
                    return Fail("standard index entry points elsewhere");
            }
        }
        return true;
    }
};

}  // namespace

AviReadBack ReadFinishedAvi(const std::wstring& name) {
    const std::vector<uint8_t> data = ReadAll(name);
    Reader reader{data, {}};
    reader.r.fileBytes = data.size();
    if (!reader.Headers()) return reader.r;
    uint64_t at = 0;
    for (size_t number = 0; at < data.size(); ++number) {
        if (number > 0 && (!reader.Is(at, "RIFF") || !reader.Is(at + 8, "AVIX"))) {
            reader.Fail("no RIFF AVIX where a RIFF ends");
            return reader.r;
        }
        const uint64_t end = reader.Riff(at, number, true);
        if (!end) return reader.r;
        if (number == 0) reader.r.firstRiffBytes = end;
        at = end;
    }
    if (at != data.size()) reader.Fail("the RIFFs do not tile the file");
    if (reader.r.large) reader.SuperIndex();
    const AviReadBack& r = reader.r;
    if (r.framesPerRiff.empty()) reader.Fail("no RIFF");
    else if (r.mainFrames != r.framesPerRiff[0]) reader.Fail("avih frame count differs from the first RIFF");
    else if (r.streamLength != r.Frames() || r.totalFrames != r.Frames()) reader.Fail("frame totals differ");
    return reader.r;
}

AviReadBack ReadUnfinishedAvi(const std::wstring& name) {
    const std::vector<uint8_t> data = ReadAll(name);
    Reader reader{data, {}};
    reader.r.fileBytes = data.size();
    if (!reader.Headers()) return reader.r;
    if (reader.Riff(0, 0, false) && reader.r.framesPerRiff[0] < reader.r.mainFrames)
        reader.Fail("the headers claim more frames than the first RIFF holds");
    return reader.r;
}

std::vector<uint8_t> ReadAviFrame(const std::wstring& name, const AviReadBack::Frame& frame) {
    const std::vector<uint8_t> data = ReadAll(name);
    if (frame.data + frame.bytes > data.size()) return {};
    return std::vector<uint8_t>(data.begin() + static_cast<ptrdiff_t>(frame.data),
                                data.begin() + static_cast<ptrdiff_t>(frame.data + frame.bytes));
}

long WindowsReaderFrames(const std::wstring& name, long lastRead) {
    // Loaded by name, so the test program needs no import library for it.
    HMODULE avifil = LoadLibraryW(L"avifil32.dll");
    if (!avifil) return -1;
    auto init = reinterpret_cast<void(WINAPI*)()>(GetProcAddress(avifil, "AVIFileInit"));
    auto exit = reinterpret_cast<void(WINAPI*)()>(GetProcAddress(avifil, "AVIFileExit"));
    auto open = reinterpret_cast<HRESULT(WINAPI*)(PAVIFILE*, LPCWSTR, UINT, LPCLSID)>(
        GetProcAddress(avifil, "AVIFileOpenW"));
    auto getStream = reinterpret_cast<HRESULT(WINAPI*)(PAVIFILE, PAVISTREAM*, DWORD, LONG)>(
        GetProcAddress(avifil, "AVIFileGetStream"));
    auto length = reinterpret_cast<LONG(WINAPI*)(PAVISTREAM)>(GetProcAddress(avifil, "AVIStreamLength"));
    auto read = reinterpret_cast<HRESULT(WINAPI*)(PAVISTREAM, LONG, LONG, LPVOID, LONG, LONG*, LONG*)>(
        GetProcAddress(avifil, "AVIStreamRead"));
    auto releaseStream = reinterpret_cast<ULONG(WINAPI*)(PAVISTREAM)>(GetProcAddress(avifil, "AVIStreamRelease"));
    auto releaseFile = reinterpret_cast<ULONG(WINAPI*)(PAVIFILE)>(GetProcAddress(avifil, "AVIFileRelease"));
    long frames = -1;
    if (init && exit && open && getStream && length && read && releaseStream && releaseFile) {
        init();
        PAVIFILE file = nullptr;
        if (open(&file, name.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0) {
            PAVISTREAM stream = nullptr;
            if (getStream(file, &stream, streamtypeVIDEO, 0) == 0) {
                const LONG n = length(stream);
                const LONG at = lastRead < 0 ? n - 1 : lastRead;
                LONG bytes = 0, samples = 0;
                if (n > 0 && at < n && read(stream, at, 1, nullptr, 0, &bytes, &samples) == 0 && bytes > 0) {
                    std::vector<uint8_t> frame(static_cast<size_t>(bytes));
                    if (read(stream, at, 1, frame.data(), bytes, &bytes, &samples) == 0 && samples == 1) frames = n;
                }
                releaseStream(stream);
            }
            releaseFile(file);
        }
        exit();
    }
    FreeLibrary(avifil);
    return frames;
}
