// Filter values, exposure in microseconds, auto iris, mirrors, I/O port, registers and serial ROM.

#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"

namespace {

// Inclusive range check as one unsigned comparison of the shifted value.
bool InRange(int value, int low, int high) {
    return static_cast<unsigned>(value) - static_cast<unsigned>(low) <=
           static_cast<unsigned>(high) - static_cast<unsigned>(low);
}

// Sensor registers of the four colour gains.
constexpr int kGainGreen1 = 0x3056;
constexpr int kGainBlue = 0x3058;
constexpr int kGainRed = 0x305A;
constexpr int kGainGreen2 = 0x305C;

// The I/O-port byte: bits 3 and 4 are the camera's two inputs, bit 6 its output.
constexpr uint8_t kOutputBit = 0x40;

// The Bayer phase of the raw image moves with the mirrors: a horizontal flip swaps the columns (mode
// 0 <-> 2, 1 <-> 3), a vertical flip the rows (0 <-> 1, 2 <-> 3).
int32_t ToggleBayerMode(int32_t mode, int32_t flip) { return mode >= 0 && mode <= 3 ? mode ^ flip : mode; }

}  // namespace

int CTovira::SetFilterValue(int filterId, int value) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    // Stored values, by id: the field and its inclusive range.
    struct Stored {
        int32_t* field;
        int low, high;
    };
    Stored stored = {nullptr, 0, 0};
    switch (filterId) {
        case TOVIRA_FILTER_BRIGHTNESS: stored = {&image.brightness, -255, 255}; break;
        case TOVIRA_FILTER_CONTRAST: stored = {&image.contrast, -127, 127}; break;
        case TOVIRA_FILTER_HUE: stored = {&image.hue, -360, 360}; break;
        case TOVIRA_FILTER_SATURATION: stored = {&image.saturation, -255, 255}; break;
        case TOVIRA_FILTER_SHARPNESS: stored = {&image.sharpness, 0, 30}; break;
        case TOVIRA_FILTER_BAYER_GAIN_RED: stored = {&image.bayerGainRed, 0, 400}; break;
        case TOVIRA_FILTER_BAYER_GAIN_GREEN: stored = {&image.bayerGainGreen, 0, 400}; break;
        case TOVIRA_FILTER_BAYER_GAIN_BLUE: stored = {&image.bayerGainBlue, 0, 400}; break;
        case TOVIRA_FILTER_GAMMA: stored = {&image.gamma, 0, 200}; break;
        case TOVIRA_FILTER_BAYER_MODE: stored = {&image.bayerMode, 0, 3}; break;
        case TOVIRA_FILTER_GRAY_MODE: stored = {&image.grayMode, 0, 2}; break;
        case TOVIRA_FILTER_GRAY_GAIN_R: stored = {&image.grayGain[0], 0, 255}; break;
        case TOVIRA_FILTER_GRAY_GAIN_G1: stored = {&image.grayGain[1], 0, 255}; break;
        case TOVIRA_FILTER_GRAY_GAIN_G2: stored = {&image.grayGain[2], 0, 255}; break;
        case TOVIRA_FILTER_GRAY_GAIN_B: stored = {&image.grayGain[3], 0, 255}; break;
        case TOVIRA_FILTER_GRAY_OFFSET_R: stored = {&image.grayOffset[0], -255, 255}; break;
        case TOVIRA_FILTER_GRAY_OFFSET_G1: stored = {&image.grayOffset[1], -255, 255}; break;
        case TOVIRA_FILTER_GRAY_OFFSET_G2: stored = {&image.grayOffset[2], -255, 255}; break;
        case TOVIRA_FILTER_GRAY_OFFSET_B: stored = {&image.grayOffset[3], -255, 255}; break;
        case TOVIRA_FILTER_GRAY_BALANCE: stored = {&image.grayBalanceRequest, 0, 1}; break;

        case TOVIRA_FILTER_BAYER_GAIN_RGB:
            // Red, green and blue in the three low bytes; no range check, a fourth byte is dropped.
            image.bayerGainRed = value & 0xFF;
            image.bayerGainGreen = (value >> 8) & 0xFF;
            image.bayerGainBlue = (value >> 16) & 0xFF;
            return 1;
        case TOVIRA_FILTER_BAYER_GAIN_AUTO:
            image.whiteBalanceAuto = value != 0 ? 1 : 0;
            return 1;

        // Analogue values: stored and sent to the sensor at once; the write's result is not examined.
        case TOVIRA_FILTER_GLOBAL_GAIN:
            if (!InRange(value, 0, 127)) break;
            globalGain = colorGainGreen1 = colorGainRed = colorGainBlue = colorGainGreen2 = value;
            device->SetGlobalGain(value);
            return 1;
        case TOVIRA_FILTER_COLOR_GAIN_RED:
        case TOVIRA_FILTER_COLOR_GAIN_GREEN1:
        case TOVIRA_FILTER_COLOR_GAIN_GREEN2:
        case TOVIRA_FILTER_COLOR_GAIN_BLUE: {
            if (!InRange(value, 0, 127)) break;
            int* field = nullptr;
            int reg = 0;
            switch (filterId) {
                case TOVIRA_FILTER_COLOR_GAIN_RED: field = &colorGainRed; reg = kGainRed; break;
                case TOVIRA_FILTER_COLOR_GAIN_GREEN1: field = &colorGainGreen1; reg = kGainGreen1; break;
                case TOVIRA_FILTER_COLOR_GAIN_GREEN2: field = &colorGainGreen2; reg = kGainGreen2; break;
                default: field = &colorGainBlue; reg = kGainBlue; break;
            }
            *field = value;
            device->SetColorGain(reg, value);
            return 1;
        }
        case TOVIRA_FILTER_EXPOSURE_TIME:
            if (!InRange(value, 0, 8192)) break;
            exposureLines = value;
            device->SetExposure(value);
            return 1;

        default:
            RecordError(TOVIRA_ERR_PARAMETER);  // id outside 1..28
            return 0;
    }
    if (stored.field && InRange(value, stored.low, stored.high)) {
        *stored.field = value;
        return 1;
    }
    RecordError(TOVIRA_ERR_PARAMETER);
    return 0;
}

int CTovira::GetFilterValue(int filterId, int* success) {
    if (!device) {
        if (success) *success = 0;
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (success) *success = 1;
    // The device getters read the sensor; a failed read gives 0 while the flag still says success.
    int gain = 0;
    switch (filterId) {
        case TOVIRA_FILTER_BRIGHTNESS: return image.brightness;
        case TOVIRA_FILTER_CONTRAST: return image.contrast;
        case TOVIRA_FILTER_HUE: return image.hue;
        case TOVIRA_FILTER_SATURATION: return image.saturation;
        case TOVIRA_FILTER_SHARPNESS: return image.sharpness;
        case TOVIRA_FILTER_BAYER_GAIN_RGB:
            return (image.bayerGainRed & 0xFF) | (image.bayerGainGreen & 0xFF) << 8 | (image.bayerGainBlue & 0xFF) << 16;
        case TOVIRA_FILTER_BAYER_GAIN_RED: return image.bayerGainRed;
        case TOVIRA_FILTER_BAYER_GAIN_GREEN: return image.bayerGainGreen;
        case TOVIRA_FILTER_BAYER_GAIN_BLUE: return image.bayerGainBlue;
        case TOVIRA_FILTER_BAYER_GAIN_AUTO: return image.whiteBalanceAuto;
        case TOVIRA_FILTER_GAMMA: return image.gamma;
        case TOVIRA_FILTER_BAYER_MODE: return image.bayerMode;
        case TOVIRA_FILTER_GLOBAL_GAIN: return device->GetGlobalGain();
        case TOVIRA_FILTER_COLOR_GAIN_RED: device->GetColorGain(kGainRed, &gain); return gain;
        case TOVIRA_FILTER_COLOR_GAIN_GREEN1: device->GetColorGain(kGainGreen1, &gain); return gain;
        case TOVIRA_FILTER_COLOR_GAIN_GREEN2: device->GetColorGain(kGainGreen2, &gain); return gain;
        case TOVIRA_FILTER_COLOR_GAIN_BLUE: device->GetColorGain(kGainBlue, &gain); return gain;
        case TOVIRA_FILTER_EXPOSURE_TIME: {
            int lines = 0;
            return device->GetExposure(&lines) ? lines : 0;
        }
        case TOVIRA_FILTER_GRAY_MODE: return image.grayMode;
        case TOVIRA_FILTER_GRAY_GAIN_R: return image.grayGain[0];
        case TOVIRA_FILTER_GRAY_GAIN_G1: return image.grayGain[1];
        case TOVIRA_FILTER_GRAY_GAIN_G2: return image.grayGain[2];
        case TOVIRA_FILTER_GRAY_GAIN_B: return image.grayGain[3];
        case TOVIRA_FILTER_GRAY_OFFSET_R: return image.grayOffset[0];
        case TOVIRA_FILTER_GRAY_OFFSET_G1: return image.grayOffset[1];
        case TOVIRA_FILTER_GRAY_OFFSET_G2: return image.grayOffset[2];
        case TOVIRA_FILTER_GRAY_OFFSET_B: return image.grayOffset[3];
        case TOVIRA_FILTER_GRAY_BALANCE: return image.grayBalanceRequest;
        default:
            if (success) *success = 0;
            RecordError(TOVIRA_ERR_PARAMETER);
            return 0;
    }
}

// ---- exposure in microseconds: line and frame length come from the last capture preparation

int CTovira::GetRealExposureTime(int* success) {
    const double micros =
        (static_cast<double>(lineLength) * static_cast<double>(exposureLines) + static_cast<double>(frameLength)) *
        exposureScale;
    lastRealExposure = static_cast<int>(micros);
    if (success) *success = 1;
    return lastRealExposure;
}

int CTovira::SetRealExposureTime(int microseconds) {
    if (exposureScale == 0.0 || lineLength == 0) {  // no capture prepared yet
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    lastRealExposure = microseconds;
    const double total = static_cast<double>(microseconds) / exposureScale - static_cast<double>(frameLength);
    // Far outside the sensor's reach the quotient does not fit 32 bits; such requests are out of range.
    if (!(total > 0.0) || total >= 2147483648.0) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    const int lines = static_cast<int>(total) / static_cast<int>(lineLength);
    if (lines <= 0 || lines >= device->GetMaxExposure()) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    // The exposure setter stores the lines only when it accepts them (0..8192): a rejected request must
    // not reach the sensor at the next preparation either.
    return SetFilterValue(TOVIRA_FILTER_EXPOSURE_TIME, lines);
}

// ---- auto iris and mirrors

int CTovira::SetAutoIris(int mode) {
    if (mode < 0 || mode > 2) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    autoIrisMode = static_cast<unsigned>(mode);
    return 1;
}

int CTovira::GetAutoIris(int* success) {
    if (success) *success = 1;
    return static_cast<int>(autoIrisMode);
}

int CTovira::SetMirrorH(int on) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    // The Bayer phase flips only when the mirror changes: setting a mirror to the state it has leaves the
    // stored phase, and so the colours, as they are.
    const unsigned wanted = on != 0 ? 1 : 0;
    if (wanted != mirrorH) image.bayerMode = ToggleBayerMode(image.bayerMode, 2);
    mirrorH = wanted;
    device->SetMirrorH(static_cast<int>(mirrorH));
    return 1;
}

int CTovira::SetMirrorV(int on) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    const unsigned wanted = on != 0 ? 1 : 0;
    if (wanted != mirrorV) image.bayerMode = ToggleBayerMode(image.bayerMode, 1);
    mirrorV = wanted;
    device->SetMirrorV(static_cast<int>(mirrorV));
    return 1;
}

int CTovira::GetMirrorH() {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    return device->GetMirrorH();
}

int CTovira::GetMirrorV() {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    return device->GetMirrorV();
}

// ---- I/O port

int CTovira::GetIOPort(unsigned char* value) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!value) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    uint8_t port = 0;
    if (!device->ReadIoPort(&port)) port = 0;
    *value = static_cast<unsigned char>((port >> 3) & 3);  // the two inputs
    return 1;
}

int CTovira::SetIOPort(int value) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    // Only the output bit changes; bit 2 of the value switches it.
    uint8_t port = 0;
    if (!device->ReadIoPort(&port)) port = 0;
    port = (value & 0x04) ? static_cast<uint8_t>(port | kOutputBit) : static_cast<uint8_t>(port & ~kOutputBit);
    return device->WriteIoPort(port);
}

// ---- registers and serial ROM: passed through, the instance's own fields are not updated

int CTovira::ReadRegister(uint16_t reg, int* success) {
    if (!device) {
        if (success) *success = 0;
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    uint16_t value = 0;
    if (!device->ReadSensorRegister(reg, &value)) {
        if (success) *success = 0;
        RecordError(TOVIRA_ERR_DEVICE_IO);
        return 0;
    }
    if (success) *success = 1;
    return value;
}

int CTovira::WriteRegister(uint16_t reg, uint16_t value) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!device->WriteSensorRegister(reg, value)) {
        RecordError(TOVIRA_ERR_DEVICE_IO);
        return 0;
    }
    return 1;
}

int CTovira::ReadSromID(int index, int* success) {
    uint8_t byte = 0;
    // Index above 7 (as an unsigned byte) and an unreachable device fail alike.
    if (!device || !device->ReadSromId(index, &byte)) {
        if (success) *success = 0;
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (success) *success = 1;
    return byte;
}

int CTovira::WriteSromID(int index, int value) {
    if (!device || !device->WriteSromId(index, static_cast<uint8_t>(value))) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    return 1;
}
