// ToviraSdk_Z400KX.hpp - a header-only C++17 layer over the C API of ToviraSdk_Z400KX.dll
// (ToviraSdk_Z400KX.h and ToviraSdk_Z400KX_ext.h). Link with the same import library as a C program.
//
//   tovira::Camera camera;                      // Tovira_Initialize; Tovira_Release at the end of scope
//   camera.setColorMode(24);
//   tovira::Stream stream = camera.stream();    // Tovira_StartPreview; Tovira_StopPreview at the end
//   tovira::Frame frame = stream.next();        // each new frame once, with its format and record
//
// Failures throw tovira::Error with the SDK's error code and its text. Objects that lend the library
// something stop it in their destructors in the one safe order: a FrameCallback unregisters (waiting for a
// running callback) before the buffers it lent are freed; a Stream stops before its Camera is released
// (declare them after the camera, so they end first).
//
// With OpenCV included before this header, Frame::mat() views a frame as a cv::Mat without copying; this
// header does not depend on OpenCV otherwise.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ToviraSdk_Z400KX_ext.h"

namespace tovira {

// ---- errors ------------------------------------------------------------------------------------------

// The text of an SDK error code, in the user's language (English or Japanese).
inline std::string ErrorText(int code) {
    char text[512] = "";
    ToviraX_GetErrorText(code, text, static_cast<int>(sizeof text));
    return text;
}

class Error : public std::runtime_error {
public:
    Error(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    // The SDK's error code (TOVIRA_ERR_...), 0 when the call recorded none.
    int code() const noexcept { return code_; }

private:
    int code_;
};

namespace detail {

[[noreturn]] inline void Fail(int handle, const char* call, const std::string& detail = std::string()) {
    const int code = handle ? Tovira_GetLastError(handle) : 0;
    std::string what = std::string(call) + " failed: error " + std::to_string(code) + " (" + ErrorText(code) + ")";
    if (!detail.empty()) what += ": " + detail;
    throw Error(code, what);
}

inline void Check(int result, int handle, const char* call) {
    if (result == 0) Fail(handle, call);
}

}  // namespace detail

// ---- frames ------------------------------------------------------------------------------------------

using FrameFormat = TOVIRAX_FRAME_FORMAT;
using FrameMeta = TOVIRAX_FRAME_META;

// A frame's pixels with its format and record. A Frame either owns its pixels (Stream::next,
// Camera::snapshot) or views a buffer lent to it (the frame callback's LentFrame).
class Frame {
public:
    Frame() = default;
    const std::uint8_t* data() const { return data_; }
    std::uint8_t* data() { return data_; }
    std::size_t size() const { return data_ ? static_cast<std::size_t>(format_.bytesPerFrame) : 0; }
    bool empty() const { return data_ == nullptr; }
    int width() const { return format_.width; }
    int height() const { return format_.height; }
    int stride() const { return format_.stride; }
    int bitsPerPixel() const { return format_.bitsPerPixel; }
    const FrameFormat& format() const { return format_; }
    // The record of the frame: id, time stamp, exposure and gains it was taken with, counts.
    const FrameMeta& meta() const { return meta_; }
    const std::uint8_t* row(int y) const { return data_ + static_cast<std::size_t>(y) * format_.stride; }

#if defined(CV_VERSION_MAJOR)
    // The frame as a cv::Mat header over the same memory (no copy): CV_8UC1 / CV_16UC1 for the raw modes,
    // CV_8UC3 / CV_8UC4 / CV_16UC3 / CV_16UC4 (BGR, as OpenCV expects) for colour. Valid while the frame is.
    cv::Mat mat() const {
        const int depth = format_.bitsPerSample > 8 ? CV_16U : CV_8U;
        return cv::Mat(format_.height, format_.width, CV_MAKETYPE(depth, format_.channels), const_cast<std::uint8_t*>(data_),
                       static_cast<std::size_t>(format_.stride));
    }
#endif

protected:
    Frame(std::uint8_t* data, const FrameFormat& format, const FrameMeta& meta) : data_(data), format_(format), meta_(meta) {}
    std::uint8_t* data_ = nullptr;
    FrameFormat format_{};
    FrameMeta meta_{};
    friend class Camera;
    friend class Stream;
    friend class FrameCallback;
};

// A frame that owns its pixels.
class OwnedFrame : public Frame {
public:
    OwnedFrame() = default;
    OwnedFrame(const OwnedFrame& other) : Frame(other), pixels_(other.pixels_) { data_ = pixels_.empty() ? nullptr : pixels_.data(); }
    OwnedFrame(OwnedFrame&& other) noexcept : Frame(other), pixels_(std::move(other.pixels_)) {
        data_ = pixels_.empty() ? nullptr : pixels_.data();
        other.data_ = nullptr;
    }
    OwnedFrame& operator=(OwnedFrame other) noexcept {
        static_cast<Frame&>(*this) = other;
        pixels_.swap(other.pixels_);
        data_ = pixels_.empty() ? nullptr : pixels_.data();
        return *this;
    }

private:
    explicit OwnedFrame(const FrameFormat& format) { reshape(format); }
    void reshape(const FrameFormat& format) {
        pixels_.resize(static_cast<std::size_t>(format.bytesPerFrame));
        format_ = format;
        meta_ = FrameMeta{};
        meta_.size = sizeof meta_;
        data_ = pixels_.data();
    }
    std::vector<std::uint8_t> pixels_;
    friend class Camera;
    friend class Stream;
};

// A frame in a buffer lent to the library's frame callback. The buffer goes back to the library when the
// LentFrame ends (or with giveBack()); keep it as long as you need, but not beyond its FrameCallback.
class LentFrame : public Frame {
public:
    LentFrame(LentFrame&& other) noexcept : Frame(other), handle_(other.handle_) { other.data_ = nullptr; }
    LentFrame& operator=(LentFrame&& other) noexcept {
        if (this != &other) {
            giveBack();
            static_cast<Frame&>(*this) = other;
            handle_ = other.handle_;
            other.data_ = nullptr;
        }
        return *this;
    }
    LentFrame(const LentFrame&) = delete;
    LentFrame& operator=(const LentFrame&) = delete;
    ~LentFrame() { giveBack(); }
    void giveBack() noexcept {
        if (data_) ToviraX_ReturnBuffer(handle_, data_);
        data_ = nullptr;
    }

private:
    LentFrame(int handle, void* buffer, const FrameFormat& format, const FrameMeta& meta)
        : Frame(static_cast<std::uint8_t*>(buffer), format, meta), handle_(handle) {}
    int handle_ = 0;
    friend class FrameCallback;
};

// ---- settings ----------------------------------------------------------------------------------------

// Every setting of a camera, as ToviraX_SaveSettings writes them. Camera::settings() reads them,
// Camera::apply() sets them all.
struct Settings {
    int colorMode = 24;  // 8, 16, 24, 32, 48, 64 (bits per pixel as set)
    int subSample = 0, halfClock = 0, waitTimeMs = 10;
    int windowX = 0, windowY = 0, windowWidth = 3840, windowHeight = 2748;
    int globalGain = 64, gainGreen1 = 64, gainRed = 64, gainBlue = 64, gainGreen2 = 64;
    int exposureLines = 2748;
    bool mirrorH = false, mirrorV = false;
    int autoIris = 0;
    int brightness = 0, contrast = 0, hue = 0, saturation = 0, sharpness = 0;
    int bayerGainRed = 100, bayerGainGreen = 100, bayerGainBlue = 100;
    bool whiteBalanceAuto = false;
    int gamma = 100, bayerMode = 3;
    int grayMode = 0;
    int grayGain[4] = {128, 128, 128, 128};    // R, G1, G2, B
    int grayOffset[4] = {128, 128, 128, 128};  // R, G1, G2, B
};

class Camera;

// ---- streaming ---------------------------------------------------------------------------------------

// A running stream (Tovira_StartPreview); stops when it ends. next() returns each new frame once.
class Stream {
public:
    Stream(Stream&& other) noexcept : handle_(std::exchange(other.handle_, 0)), rowOrder_(other.rowOrder_), last_(other.last_) {}
    Stream& operator=(Stream&& other) noexcept {
        if (this != &other) {
            stop();
            handle_ = std::exchange(other.handle_, 0);
            rowOrder_ = other.rowOrder_;
            last_ = other.last_;
        }
        return *this;
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { stop(); }

    // The next frame after the one returned last (any new frame the first time); nothing when timeoutMs
    // passed first. Throws when the stream stopped or the camera was lost.
    std::optional<OwnedFrame> tryNext(int timeoutMs) {
        OwnedFrame frame;
        if (!tryNext(frame, timeoutMs)) return std::nullopt;
        return frame;
    }
    // The same into `frame`, reusing its pixels when the size is unchanged (no allocation per frame);
    // false when timeoutMs passed first.
    bool tryNext(OwnedFrame& frame, int timeoutMs) {
        FrameFormat format{};
        format.size = sizeof format;
        detail::Check(ToviraX_GetFrameFormat(handle_, rowOrder_, &format), handle_, "ToviraX_GetFrameFormat");
        frame.reshape(format);
        const int r = ToviraX_WaitFrame(handle_, last_, timeoutMs, frame.data_, format.bytesPerFrame, rowOrder_, &frame.meta_);
        if (r == 0) return false;
        if (r < 0) detail::Fail(handle_, "ToviraX_WaitFrame");
        last_ = frame.meta_.frameId;
        return true;
    }
    // As tryNext, but a time-out throws (code 0).
    OwnedFrame next(int timeoutMs = 10000) {
        std::optional<OwnedFrame> frame = tryNext(timeoutMs);
        if (!frame) throw Error(0, "no frame within " + std::to_string(timeoutMs) + " ms");
        return std::move(*frame);
    }
    void stop() noexcept {
        if (handle_) Tovira_StopPreview(handle_);
        handle_ = 0;
    }

private:
    Stream(int handle, int rowOrder) : handle_(handle), rowOrder_(rowOrder) {}
    int handle_ = 0;
    int rowOrder_ = 1;
    unsigned long long last_ = TOVIRAX_NEXT_FRAME;
    friend class Camera;
};

// A frame callback with its pool of buffers (ToviraX_SetFrameCallback). The callback runs on the library's
// callback thread with a LentFrame; the pool's buffers are owned here. The destructor unregisters (which
// waits for a running callback and takes every buffer back) and only then frees the buffers.
class FrameCallback {
public:
    using Function = std::function<void(LentFrame)>;
    FrameCallback(FrameCallback&&) = delete;  // the library holds a pointer to this object
    FrameCallback(const FrameCallback&) = delete;
    FrameCallback& operator=(const FrameCallback&) = delete;
    ~FrameCallback() { unregister(); }
    void unregister() noexcept {
        if (handle_) ToviraX_SetFrameCallback(handle_, nullptr, nullptr, nullptr, 0, 0, 0);
        handle_ = 0;
    }

private:
    FrameCallback(int handle, Function function, int bufferCount, int rowOrder) : function_(std::move(function)) {
        format_.size = sizeof format_;
        detail::Check(ToviraX_GetFrameFormat(handle, rowOrder, &format_), handle, "ToviraX_GetFrameFormat");
        std::vector<void*> pointers;
        for (int i = 0; i < bufferCount; ++i) {
            buffers_.emplace_back(static_cast<std::size_t>(format_.bytesPerFrame));
            pointers.push_back(buffers_.back().data());
        }
        detail::Check(ToviraX_SetFrameCallback(handle, &FrameCallback::Called, this, pointers.data(), bufferCount,
                                               format_.bytesPerFrame, rowOrder),
                      handle, "ToviraX_SetFrameCallback");
        handle_ = handle;
    }
    static void Called(int handle, void* buffer, const TOVIRAX_FRAME_META* meta, void* user) {
        auto* self = static_cast<FrameCallback*>(user);
        FrameFormat format = self->format_;
        format.width = meta->width;
        format.height = meta->height;
        format.stride = meta->stride;
        format.bitsPerPixel = meta->bitsPerPixel;
        format.bytesPerFrame = meta->stride * meta->height;
        LentFrame frame(handle, buffer, format, *meta);
        // No exception may leave into the library's thread: an exception of the callback ends here.
        try {
            self->function_(std::move(frame));
        } catch (...) {
        }
    }
    int handle_ = 0;
    Function function_;
    FrameFormat format_{};
    std::vector<std::vector<std::uint8_t>> buffers_;
    friend class Camera;
};

// ---- the camera --------------------------------------------------------------------------------------

class Camera {
public:
    struct Options {
        HWND notifyWindow = nullptr;  // receives WM_TOVIRA_ERROR
        bool storedSettings = true;   // false: neither read nor write the settings in the registry
    };

    Camera() : Camera(Options{}) {}
    explicit Camera(const Options& options) {
        handle_ = options.storedSettings ? Tovira_Initialize(options.notifyWindow)
                                         : ToviraX_InitializeEx(options.notifyWindow, TOVIRAX_INIT_NO_STORED_SETTINGS);
        if (!handle_) throw Error(0, "Tovira_Initialize failed (out of memory)");
        // Initialisation notes (a first run's 12, a replaced stored value) are not failures.
        while (Tovira_GetLastError(handle_) != 0) {
        }
    }
    Camera(Camera&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    Camera& operator=(Camera&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = std::exchange(other.handle_, 0);
        }
        return *this;
    }
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;
    ~Camera() { release(); }
    void release() noexcept {
        if (handle_) Tovira_Release(handle_);
        handle_ = 0;
    }
    // The C handle, for the calls this layer does not wrap.
    int handle() const { return handle_; }

    // ---- devices
    std::vector<std::string> devices() const {
        char names[10][256] = {};
        const int n = Tovira_EnumDevice(handle_, &names[0][0]);
        std::vector<std::string> list;
        for (int i = 0; i < n && i < 10; ++i) list.emplace_back(names[i]);
        return list;
    }
    void selectDevice(int slot) { check(Tovira_SetDeviceNumber(handle_, slot), "Tovira_SetDeviceNumber"); }

    // ---- format
    void setColorMode(int bits) { check(Tovira_SetColorMode(handle_, bits), "Tovira_SetColorMode"); }
    void setSubSample(int code) { check(Tovira_SetSubSample(handle_, code), "Tovira_SetSubSample"); }
    // The capture window on the sensor: top-left pixel and size before sub-sampling.
    void setWindow(int x, int y, int width, int height) {
        check(Tovira_SetCaptureWindowEx(handle_, 3840, x, width, 2748, y, height), "Tovira_SetCaptureWindowEx");
    }
    FrameFormat format(int rowOrder = 1) const {
        FrameFormat f{};
        f.size = sizeof f;
        check(ToviraX_GetFrameFormat(handle_, rowOrder, &f), "ToviraX_GetFrameFormat");
        return f;
    }

    // ---- the sensor and the image
    void setExposureLines(int lines) { check(Tovira_SetExposureTime(handle_, lines), "Tovira_SetExposureTime"); }
    void setGlobalGain(int gain) { check(Tovira_SetGlobalGain(handle_, gain), "Tovira_SetGlobalGain"); }
    void setMirrors(bool horizontal, bool vertical) {
        check(Tovira_SetMirrorH(handle_, horizontal ? 1 : 0), "Tovira_SetMirrorH");
        check(Tovira_SetMirrorV(handle_, vertical ? 1 : 0), "Tovira_SetMirrorV");
    }
    // Any filter value by id (TOVIRA_FILTER_...).
    void setFilter(int id, int value) { check(Tovira_SetFilterValue(handle_, id, value), "Tovira_SetFilterValue"); }
    int filter(int id) const {
        int ok = 0;
        const int value = Tovira_GetFilterValue(handle_, id, &ok);
        if (!ok) detail::Fail(handle_, "Tovira_GetFilterValue");
        return value;
    }

    // ---- settings
    Settings settings() const {
        Settings s;
        static const int kBits[] = {8, 12, 24, 32, 44, 60};
        static const int kSet[] = {8, 16, 24, 32, 48, 64};
        const int reported = Tovira_GetColorMode(handle_);
        for (int i = 0; i < 6; ++i)
            if (kBits[i] == reported) s.colorMode = kSet[i];
        s.subSample = Tovira_GetSubSample(handle_);
        s.halfClock = Tovira_GetHalfClock(handle_);
        s.waitTimeMs = Tovira_GetWaitTime(handle_);
        int hTotal = 0, vTotal = 0;
        Tovira_GetCaptureWindowEx(handle_, &hTotal, &s.windowX, &s.windowWidth, &vTotal, &s.windowY, &s.windowHeight);
        s.globalGain = filter(TOVIRA_FILTER_GLOBAL_GAIN);
        s.gainGreen1 = filter(TOVIRA_FILTER_COLOR_GAIN_GREEN1);
        s.gainRed = filter(TOVIRA_FILTER_COLOR_GAIN_RED);
        s.gainBlue = filter(TOVIRA_FILTER_COLOR_GAIN_BLUE);
        s.gainGreen2 = filter(TOVIRA_FILTER_COLOR_GAIN_GREEN2);
        s.exposureLines = filter(TOVIRA_FILTER_EXPOSURE_TIME);
        s.mirrorH = Tovira_GetMirrorH(handle_) != 0;
        s.mirrorV = Tovira_GetMirrorV(handle_) != 0;
        int ok = 0;
        s.autoIris = Tovira_GetAutoIris(handle_, &ok);
        s.brightness = filter(TOVIRA_FILTER_BRIGHTNESS);
        s.contrast = filter(TOVIRA_FILTER_CONTRAST);
        s.hue = filter(TOVIRA_FILTER_HUE);
        s.saturation = filter(TOVIRA_FILTER_SATURATION);
        s.sharpness = filter(TOVIRA_FILTER_SHARPNESS);
        s.bayerGainRed = filter(TOVIRA_FILTER_BAYER_GAIN_RED);
        s.bayerGainGreen = filter(TOVIRA_FILTER_BAYER_GAIN_GREEN);
        s.bayerGainBlue = filter(TOVIRA_FILTER_BAYER_GAIN_BLUE);
        s.whiteBalanceAuto = filter(TOVIRA_FILTER_BAYER_GAIN_AUTO) != 0;
        s.gamma = filter(TOVIRA_FILTER_GAMMA);
        s.bayerMode = filter(TOVIRA_FILTER_BAYER_MODE);
        s.grayMode = filter(TOVIRA_FILTER_GRAY_MODE);
        for (int i = 0; i < 4; ++i) {
            s.grayGain[i] = filter(TOVIRA_FILTER_GRAY_GAIN_R + i);
            s.grayOffset[i] = filter(TOVIRA_FILTER_GRAY_OFFSET_R + i);
        }
        return s;
    }
    // Sets every value of s, the mirrors before the Bayer mode they move.
    void apply(const Settings& s) {
        setColorMode(s.colorMode);
        setSubSample(s.subSample);
        check(Tovira_SetHalfClock(handle_, s.halfClock), "Tovira_SetHalfClock");
        check(Tovira_SetWaitTime(handle_, s.waitTimeMs), "Tovira_SetWaitTime");
        setWindow(s.windowX, s.windowY, s.windowWidth, s.windowHeight);
        setFilter(TOVIRA_FILTER_GLOBAL_GAIN, s.globalGain);
        setFilter(TOVIRA_FILTER_COLOR_GAIN_GREEN1, s.gainGreen1);
        setFilter(TOVIRA_FILTER_COLOR_GAIN_RED, s.gainRed);
        setFilter(TOVIRA_FILTER_COLOR_GAIN_BLUE, s.gainBlue);
        setFilter(TOVIRA_FILTER_COLOR_GAIN_GREEN2, s.gainGreen2);
        setExposureLines(s.exposureLines);
        setMirrors(s.mirrorH, s.mirrorV);
        check(Tovira_SetAutoIris(handle_, s.autoIris), "Tovira_SetAutoIris");
        setFilter(TOVIRA_FILTER_BRIGHTNESS, s.brightness);
        setFilter(TOVIRA_FILTER_CONTRAST, s.contrast);
        setFilter(TOVIRA_FILTER_HUE, s.hue);
        setFilter(TOVIRA_FILTER_SATURATION, s.saturation);
        setFilter(TOVIRA_FILTER_SHARPNESS, s.sharpness);
        setFilter(TOVIRA_FILTER_BAYER_GAIN_RED, s.bayerGainRed);
        setFilter(TOVIRA_FILTER_BAYER_GAIN_GREEN, s.bayerGainGreen);
        setFilter(TOVIRA_FILTER_BAYER_GAIN_BLUE, s.bayerGainBlue);
        setFilter(TOVIRA_FILTER_BAYER_GAIN_AUTO, s.whiteBalanceAuto ? 1 : 0);
        setFilter(TOVIRA_FILTER_GAMMA, s.gamma);
        setFilter(TOVIRA_FILTER_BAYER_MODE, s.bayerMode);
        setFilter(TOVIRA_FILTER_GRAY_MODE, s.grayMode);
        for (int i = 0; i < 4; ++i) {
            setFilter(TOVIRA_FILTER_GRAY_GAIN_R + i, s.grayGain[i]);
            setFilter(TOVIRA_FILTER_GRAY_OFFSET_R + i, s.grayOffset[i]);
        }
    }
    void resetSettings() { check(ToviraX_ResetSettings(handle_), "ToviraX_ResetSettings"); }
    void saveSettings(const std::string& file) { check(ToviraX_SaveSettings(handle_, file.c_str()), "ToviraX_SaveSettings"); }
    // All or nothing; a refused file throws with the line and the problem.
    void loadSettings(const std::string& file) {
        char message[512] = "";
        if (!ToviraX_LoadSettings(handle_, file.c_str(), message, static_cast<int>(sizeof message)))
            detail::Fail(handle_, "ToviraX_LoadSettings", message);
    }

    // ---- frames
    // Streams until the Stream ends; rowOrder 1: top row first.
    Stream stream(int rowOrder = 1) {
        check(Tovira_StartPreview(handle_), "Tovira_StartPreview");
        return Stream(handle_, rowOrder);
    }
    // One frame read and processed on this thread (not while streaming).
    OwnedFrame snapshot(int rowOrder = 1) {
        OwnedFrame frame(format(rowOrder));
        check(Tovira_SnapShot(handle_, frame.data_, frame.format_.bytesPerFrame, rowOrder), "Tovira_SnapShot");
        ToviraX_GetFrameMeta(handle_, &frame.meta_, nullptr);  // the record of the last streamed frame, if any
        return frame;
    }
    // Calls f with every processed frame, in buffers of a pool of bufferCount, on the library's thread.
    std::unique_ptr<FrameCallback> onFrame(FrameCallback::Function f, int bufferCount = 4, int rowOrder = 1) {
        return std::unique_ptr<FrameCallback>(new FrameCallback(handle_, std::move(f), bufferCount, rowOrder));
    }
    // The frame last processed, in a file (TOVIRA_FILE_...).
    void saveImage(const std::string& file, int type) {
        check(Tovira_SaveImage(handle_, file.c_str(), type), "Tovira_SaveImage");
    }

    // ---- recording
    // Starts streaming (if it is not) and records for `milliseconds` into an AVI file in the codec
    // (TOVIRAX_CODEC_...; quality 1..100 for Motion JPEG) on the library's thread; returns at once.
    void record(const std::string& file, int milliseconds, int codec = TOVIRAX_CODEC_UNCOMPRESSED, int quality = 0) {
        check(ToviraX_RecordEx(handle_, file.c_str(), milliseconds, 0, codec, quality), "ToviraX_RecordEx");
    }
    // The running or last recording's counts: recording, frames written and left out, bytes.
    TOVIRAX_RECORD_STATUS recordStatus() const {
        TOVIRAX_RECORD_STATUS status{};
        status.size = static_cast<int>(sizeof status);
        check(ToviraX_GetRecordStatus(handle_, &status), "ToviraX_GetRecordStatus");
        return status;
    }

private:
    void check(int result, const char* call) const { detail::Check(result, handle_, call); }
    int handle_ = 0;
};

}  // namespace tovira
