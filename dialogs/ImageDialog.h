// The image dialog: the page "Image Filter" (software filters, Bayer gains, white balance, Bayer mode)
// and, in the monochrome colour modes, the page "Gray Filter" (grey mode, gains and offsets, grey
// balance, Bayer mode). The pages write straight into the instance's image parameters.
#pragma once

#include <windows.h>

#include "dialogs/DialogFramework.h"

struct ImageParameters;

namespace tovira {

// Enable flags of the image-filter page: one per triplet (brightness, contrast, hue, saturation,
// sharpness, Bayer gains red, green, blue, gamma), then the white-balance and Bayer-mode controls.
struct ImageEnableFlags {
    int triplet[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    int whiteBalance = 1;
    int grayPagePresent = 0;
};
// The flags for a colour mode index (0..5): the monochrome modes 0 and 1 disable the colour controls
// and add the grey page.
ImageEnableFlags ImageEnableFlagsFor(int colorMode);

class ImageFilterPage : public DialogKind<ImageFilterPage> {
public:
    explicit ImageFilterPage(ImageParameters& values) : values_(values) {}
    HWND Create(HWND tab, const ImageEnableFlags& flags);
    HWND Window() const { return window_; }
    void Commit(int flag);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend class ImageFrame;
    ImageParameters& values_;
    ImageEnableFlags flags_;
    HWND window_ = nullptr;
    int ready_ = 0;
};

class GrayFilterPage : public DialogKind<GrayFilterPage> {
public:
    explicit GrayFilterPage(ImageParameters& values) : values_(values) {}
    HWND Create(HWND tab);
    HWND Window() const { return window_; }
    void Commit(int flag);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend class ImageFrame;
    ImageParameters& values_;
    HWND window_ = nullptr;
    int ready_ = 0;
};

class ImageFrame : public DialogKind<ImageFrame> {
public:
    // camera: the instance whose white and grey balance refresh this dialog (may be null).
    ImageFrame(ImageParameters& values, const ImageEnableFlags& flags, void* camera);
    ~ImageFrame();
    ImageFrame(const ImageFrame&) = delete;
    ImageFrame& operator=(const ImageFrame&) = delete;
    bool Claimed() const { return claimed_; }
    INT_PTR Show(HWND owner);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    ImageParameters& values_;
    ImageEnableFlags flags_;
    void* camera_;
    ImageFilterPage filterPage_;
    GrayFilterPage grayPage_;
    HWND window_ = nullptr;
    bool claimed_ = false;
};

}  // namespace tovira
