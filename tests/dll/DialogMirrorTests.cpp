// The analogue dialog's mirror boxes move the Bayer phase only when the mirror changes: a box clicked into
// the state the camera already has (the application set the mirror while the dialog was open) leaves
// the phase, and the colours, as they are.

#include <gtest/gtest.h>
#include <windows.h>

#include "DialogDriver.h"
#include "ToviraSdk_Z400KX.h"

namespace {

constexpr int kMirrorV = 1028;
constexpr int kMirrorH = 1030;

int BayerMode(int h) {
    int ok = 0;
    const int mode = Tovira_GetBayerMode(h, &ok);
    EXPECT_EQ(ok, 1);
    return mode;
}

TEST(DialogMirror, ABoxClickedIntoTheCamerasStateKeepsThePhase) {
    InitDialogControls();
    DeleteSettingsKey();
    const int h = Tovira_Initialize(nullptr);
    ASSERT_NE(h, 0);
    ASSERT_EQ(BayerMode(h), 3);
    {
        DialogThread dialog([=] { return Tovira_SetAnalogDlg(h, nullptr); });
        const HWND frame = dialog.WaitForFrame();
        ASSERT_NE(frame, nullptr);
        const HWND page = PagesOf(frame).at(0);
        for (const int box : {kMirrorH, kMirrorV}) {
            const int flip = box == kMirrorH ? 2 : 1;
            const int before = BayerMode(h);
            EXPECT_FALSE(Checked(page, box));
            // The application switches the mirror on meanwhile; the box still shows it off.
            ASSERT_EQ(box == kMirrorH ? Tovira_SetMirrorH(h, 1) : Tovira_SetMirrorV(h, 1), 1);
            EXPECT_EQ(BayerMode(h), before ^ flip);
            Click(page, box);  // on, as the camera already is
            EXPECT_TRUE(Checked(page, box));
            EXPECT_EQ(BayerMode(h), before ^ flip) << "box " << box << " clicked on while the mirror was on";
            Click(page, box);  // off: a change
            EXPECT_EQ(BayerMode(h), before) << "box " << box << " clicked off";
            EXPECT_EQ(box == kMirrorH ? Tovira_GetMirrorH(h) : Tovira_GetMirrorV(h), 0);
        }
        Click(frame, IDOK);
        EXPECT_EQ(dialog.Finish(), 1);
    }
    EXPECT_EQ(BayerMode(h), 3);
    Tovira_Release(h);
    DeleteSettingsKey();
}

}  // namespace
