// The frame-loop thread: every wait time it takes the newest complete frame from the device, unpacks it
// into the raw image, measures the frame rate, processes the frame, draws it into the preview window,
// copies it into the caller's buffer and tells the caller's window.

#include <windows.h>
#include <mmsystem.h>

#include "camera/FrameLoop.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"
#include "output/PreviewWindow.h"
#include "pipeline/ApplyKernel.h"
#include "pipeline/Restride.h"

int FrameRateTenths(int framesCounted, DWORD elapsedMs) {
    if (elapsedMs == 0) return 0;
    // 32-bit product, divided in double precision, truncated: 25 frames over 1010 ms give 247.
    const int scaled = static_cast<int>(static_cast<unsigned>(framesCounted) * 10000u);
    return static_cast<int>(static_cast<double>(scaled) / static_cast<double>(elapsedMs));
}

bool CTovira::FrameFitsImage(const CDibImage& raw) const {
    const tovira::FrameGeometry& g = device->GetFrameGeometry();
    const bool wide = device->GetTransferWidth() == 1;
    return g.activeWidth == raw.Width() && g.activeLines == raw.Height() && raw.BitCount() == (wide ? 16 : 8);
}

void CTovira::RestrideRawImage(CDibImage& raw) {
    // The device copies rows back to back; the image's rows are padded to a multiple of 4 bytes.
    const int packed = raw.Width() * raw.BytesPerPixel();
    if (packed == raw.Stride()) return;
    const tovira::ImageView view = raw.View();
    tovira::ApplyKernel(view, raw.BitCount() == 16 ? tovira::RestrideRows16 : tovira::RestrideRows8, view);
}

bool CTovira::FitImagesToFrames(int mode) {
    CDibImage* raw = RawImageFor(mode);
    if (!raw || raw->IsEmpty()) return false;
    if (FrameFitsImage(*raw)) return true;
    // The capture window changed after the preparation: the device rebuilt its buffers for the new
    // size and the images follow (once per change, never per frame). A transfer width that does not
    // match the colour mode's raw image (mode changed after the preparation) gives no frames.
    const tovira::FrameGeometry g = device->GetFrameGeometry();
    const bool wide = device->GetTransferWidth() == 1;
    if (wide != (raw->BitCount() == 16)) return false;
    if (!CreateFrameImages(g.activeWidth, g.activeLines, mode)) {
        RecordError(TOVIRA_ERR_BUFFER);
        return false;
    }
    return FrameFitsImage(*raw);
}

void CTovira::FrameLoop() {
    while (loopRun) {
        // The wait time between polls, cut short by a stop request: a stop never waits it out.
        if (frameLoopWake) WaitForSingleObject(frameLoopWake, static_cast<DWORD>(waitTime > 0 ? waitTime : 0));
        if (!loopRun) break;

        const int poll = device->PollNewestFrame();
        if (poll == 1) {
            // The transfer ended (camera gone): told once, then the loop ends; the instance stays Lost
            // until the application stops or starts again.
            CameraLost(CameraState::Streaming);
            break;
        }
        if (poll != 3) continue;

        std::lock_guard<std::recursive_mutex> guard(frameLock);
        const int mode = colorMode;
        CDibImage* raw = RawImageFor(mode);
        if (!raw || raw->IsEmpty()) continue;
        if (!FitImagesToFrames(mode)) continue;
        raw = RawImageFor(mode);
        const int read = device->ReadNewestFrame(raw->Bits(), raw->ByteSize());
        // A window change between the poll and the read (2), or one during the read that left a frame of
        // another size, is no frame and no failure: the next pass takes a frame of the new stream.
        if (read == 2) continue;
        if (read == 0 && !FrameFitsImage(*raw)) continue;
        if (read != 0) {
            if (callbackWindow) PostMessageA(callbackWindow, WM_TOVIRA_FRAME, 0, TOVIRA_ERR_TRANSFER);
            RecordError(TOVIRA_ERR_TRANSFER);
            acquisition.FrameLost(*this, tovira::FrameLoss::ReadFailed);
            continue;
        }
        RestrideRawImage(*raw);

        frameInfo.size = sizeof(TOVIRA_FRAME_INFO);
        frameInfo.width = raw->Width();
        frameInfo.height = raw->Height();
        frameInfo.bitsPerPixel = kColourModeBits[mode];
        frameInfo.buffer = callerBuffer;

        ++framesCounted;
        if (timeGetTime() - lastRateUpdate > 1000) {
            frameRate = FrameRateTenths(framesCounted, timeGetTime() - lastRateUpdate);
            framesCounted = 0;
            lastRateUpdate = timeGetTime();
        }
        frameInfo.frameRate = frameRate;

        ProcessFrame();
        ++frameSequence;
        newFrame = 1;
        if (recording && recordWake) SetEvent(recordWake);
        DrawPreviewFrame(*this);
        acquisition.FrameProcessed(*this, OutputImageFor(mode));

        if (callerBuffer && callerBufferSize != 0 &&
            !CopyFrameToCaller(OutputImageFor(mode), rowOrder, callerBuffer, callerBufferSize))
            continue;
        if (callbackWindow) PostMessageA(callbackWindow, WM_TOVIRA_FRAME, reinterpret_cast<WPARAM>(&frameInfo), 0);
    }
}
