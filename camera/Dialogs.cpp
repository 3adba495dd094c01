// The three settings dialogs, as the exports open them: modal on the caller's thread, owned by the
// caller's window. Each returns 1 whenever the instance has a device object, whatever the user pressed,
// also when the dialog cannot be shown (or another dialog of its kind is already open).

#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "dialogs/AnalogDialog.h"
#include "dialogs/CameraDialog.h"
#include "dialogs/ImageDialog.h"

int CTovira::SetCameraDlg(HWND parent) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    tovira::CameraDialog dialog;
    if (!dialog.Claimed()) return 1;

    // Streaming stops while the dialog is open; the same mode comes back afterwards, in the same
    // preview window and with the same delivery. The dialog holds the camera meanwhile: starts from
    // other threads are refused, and the control gate is open to them for everything else.
    CollectLostStream();
    const CameraState state = State();
    if (state == CameraState::Streaming || state == CameraState::Capture) StopStream(false);
    dialogHoldsCamera_ = true;
    const int depth = gate_.Suspend();
    const int shown = dialog.Show(parent);
    if (!gate_.Resume(depth)) return 1;  // released while the dialog was open
    dialogHoldsCamera_ = false;
    if (shown == 1) {
        LoadCaptureWindowSettings();
        LoadCameraSettings();
    }
    if (state == CameraState::Streaming) StartPreview();
    else if (state == CameraState::Capture) Capture();
    return 1;
}

int CTovira::SetAnalogDlg(HWND parent) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    tovira::AnalogFrame frame(*this);
    if (!frame.Claimed()) return 1;

    const int savedBayerMode = image.bayerMode;
    globalGain = device->GetGlobalGain();
    device->GetColorGain(0x3056, &colorGainGreen1);
    device->GetColorGain(0x305A, &colorGainRed);
    device->GetColorGain(0x3058, &colorGainBlue);
    device->GetColorGain(0x305C, &colorGainGreen2);
    device->GetExposure(&exposureLines);
    const int gains[5] = {globalGain, colorGainGreen1, colorGainRed, colorGainBlue, colorGainGreen2};
    const int savedExposure = exposureLines;
    const unsigned savedMirrorV = mirrorV, savedMirrorH = mirrorH, savedAutoIris = autoIrisMode;

    analogDialog = &frame;
    // Other threads' calls go on while the dialog is open (its message loop may run for minutes).
    const int depth = gate_.Suspend();
    const int shown = frame.Show(parent);
    const bool back = gate_.Resume(depth);
    if (back && shown != 1) {
        device->SetGlobalGain(gains[0]);
        device->SetColorGain(0x3056, gains[1]);
        device->SetColorGain(0x305A, gains[2]);
        device->SetColorGain(0x3058, gains[3]);
        device->SetColorGain(0x305C, gains[4]);
        device->SetExposure(savedExposure);
        device->SetMirrorV(static_cast<int>(savedMirrorV));
        device->SetMirrorH(static_cast<int>(savedMirrorH));
        globalGain = gains[0];
        colorGainGreen1 = gains[1];
        colorGainRed = gains[2];
        colorGainBlue = gains[3];
        colorGainGreen2 = gains[4];
        exposureLines = savedExposure;
        mirrorV = savedMirrorV;
        mirrorH = savedMirrorH;
        autoIrisMode = savedAutoIris;
        image.bayerMode = savedBayerMode;
    }
    analogDialog = nullptr;
    return 1;
}

int CTovira::SetImageDlg(HWND parent) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    tovira::ImageFrame frame(image, tovira::ImageEnableFlagsFor(colorMode), this);
    if (!frame.Claimed()) return 1;

    const ImageParameters saved = image;
    imageDialog = &frame;
    const int depth = gate_.Suspend();
    const int shown = frame.Show(parent);
    if (gate_.Resume(depth) && shown != 1) image = saved;
    imageDialog = nullptr;
    return 1;
}
