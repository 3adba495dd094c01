// Helpers for the display and output tests: an instance whose images the test owns, picture patterns
// and window read-back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "CameraTestSupport.h"
#include "camera/Tovira.h"
#include "output/DibImage.h"

namespace outtest {

// A camera instance without a device whose eight image slots are filled with images the test owns
// (slots the instance already filled are used as they are).
class InstanceWithImages {
public:
    InstanceWithImages() : instance(std::make_unique<CTovira>()) {
        CDibImage** slots[] = {&instance->rawImage8,    &instance->rawImage16,    &instance->colorImage24,
                               &instance->colorImage32, &instance->colorImage48,  &instance->colorImage64,
                               &instance->sharpnessImage, &instance->displayImage};
        for (int i = 0; i < 8; ++i) {
            if (!*slots[i]) {
                owned[i] = std::make_unique<CDibImage>();
                *slots[i] = owned[i].get();
            }
            slots_[i] = slots[i];
        }
    }
    ~InstanceWithImages() {
        for (int i = 0; i < 8; ++i)
            if (owned[i]) *slots_[i] = nullptr;
    }
    // The output image of a colour mode index (0..5).
    CDibImage* Output(int mode) const { return *slots_[mode]; }
    // Creates the images PrepareCapture would create for `mode` at width x height.
    bool Prepare(int mode, int width, int height) {
        colorModeIndex(mode);
        bool ok = true;
        if (mode <= 3) ok &= instance->rawImage8->Create(width, height, 8) == 1;
        if (mode == 1 || mode == 4 || mode == 5) ok &= instance->rawImage16->Create(width, height, 16) == 1;
        if (mode != 1) ok &= instance->colorImage24->Create(width, height, 24) == 1;
        if (mode == 3) ok &= instance->colorImage32->Create(width, height, 32) == 1;
        if (mode == 4) ok &= instance->colorImage48->Create(width, height, 48) == 1;
        if (mode == 5) ok &= instance->colorImage64->Create(width, height, 64) == 1;
        return ok;
    }
    void colorModeIndex(int mode) { instance->colorMode = mode; }

    std::unique_ptr<CTovira> instance;

private:
    std::unique_ptr<CDibImage> owned[8];
    CDibImage** slots_[8] = {};
};

// Deterministic sample at picture position (x, y) and channel c (0 blue, 1 green, 2 red, 3 fourth), in
// the range of `bits` per sample (8 or 12).
inline uint16_t Sample(int x, int y, int c, int bits) {
    const uint32_t v = static_cast<uint32_t>(x * 37 + y * 101 + c * 59 + ((x * y) % 13) * 7);
    return static_cast<uint16_t>(bits == 8 ? v % 256 : v % 4096);
}

// Fills the output image of `mode` with the pattern: storage row 0 is picture row 0 (the top line).
inline void FillPattern(CDibImage& image) {
    const int bpp = image.BytesPerPixel();
    for (int y = 0; y < image.Height(); ++y) {
        uint8_t* row = image.Bits() + static_cast<size_t>(y) * image.Stride();
        for (int x = 0; x < image.Width(); ++x) {
            if (bpp == 1 || bpp == 3 || bpp == 4) {
                for (int c = 0; c < bpp; ++c) row[x * bpp + c] = static_cast<uint8_t>(Sample(x, y, c, 8));
            } else {
                for (int c = 0; c < bpp / 2; ++c) {
                    const uint16_t v = Sample(x, y, c, 12);
                    row[x * bpp + 2 * c] = static_cast<uint8_t>(v);
                    row[x * bpp + 2 * c + 1] = static_cast<uint8_t>(v >> 8);
                }
            }
        }
    }
}

// A client area read back from the screen as blue, green, red, top line first.
struct Capture {
    int width = 0, height = 0;
    CDibImage image;
    const uint8_t* Pixel(int x, int y) const {
        // The capture is a bottom-up bitmap: picture row y is storage row height - 1 - y.
        return image.Bits() + static_cast<size_t>(height - 1 - y) * image.Stride() + 3 * x;
    }
};

inline bool CaptureClient(HWND window, Capture& capture) {
    RECT client{};
    GetClientRect(window, &client);
    capture.width = client.right;
    capture.height = client.bottom;
    if (!capture.image.Create(capture.width, capture.height, 24)) return false;
    HDC dc = GetDC(window);
    const BOOL ok = BitBlt(capture.image.Dc(), 0, 0, capture.width, capture.height, dc, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
    GdiFlush();
    return ok != 0;
}

inline void PumpMessages(int rounds = 5) {
    for (int i = 0; i < rounds; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

// A streaming instance of the virtual camera that records into a temporary file, deleted afterwards.
class RecordingTest : public CameraInstanceTest {
protected:
    void SetUp() override {
        CameraInstanceTest::SetUp();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        name = std::string(temp) + "tovira_" + std::to_string(GetCurrentProcessId()) + "_record.avi";
        DeleteFileA(name.c_str());
    }
    void TearDown() override {
        CameraInstanceTest::TearDown();
        DeleteFileA(name.c_str());
    }
    CTovira& camera(int mode, int width, int height) {
        CTovira& c = initialize();
        const int bits[6] = {8, 16, 24, 32, 48, 64};
        EXPECT_EQ(c.SetColorMode(bits[mode]), 1);
        EXPECT_EQ(c.SetCaptureWindowEx(3840, 0, width, 2748, 0, height), 1);
        return c;
    }
    // Waits (pumping messages) until the record thread finished the file on its own.
    bool waitForCompletion(CTovira& c, DWORD limitMs) {
        const DWORD start = GetTickCount();
        while (c.recording && GetTickCount() - start < limitMs) PumpMessages(1);
        return c.recording == 0;
    }
    std::wstring wideName() const { return std::wstring(name.begin(), name.end()); }
    std::string name;
};

}  // namespace outtest
