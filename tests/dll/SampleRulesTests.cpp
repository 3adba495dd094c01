// Two rules of the sample programs that a user sees: the viewer saves in the type the typed extension
// names (x.png is a PNG whichever filter was chosen), and the console tool's frame rate comes from the
// frames' own time stamps, so a first frame handled late does not make the rate look faster.

#include <gtest/gtest.h>

#include "../../apps/console/ToolArguments.h"
#include "../../apps/viewer/SaveFileType.h"

namespace {

TEST(ViewerSaveAs, TheTypedExtensionDecidesAndTheFilterOnlyWhatItLeavesOpen) {
    constexpr int kBmpFilter = 1, kJpeg70Filter = 4, kPngFilter = 6, kTiffFilter = 7;
    EXPECT_EQ(SaveFileTypeFor("C:\\shots\\x.png", kBmpFilter), TOVIRA_FILE_PNG);
    EXPECT_EQ(SaveFileTypeFor("x.PNG", kTiffFilter), TOVIRA_FILE_PNG);
    EXPECT_EQ(SaveFileTypeFor("x.tiff", kPngFilter), TOVIRA_FILE_TIFF);
    EXPECT_EQ(SaveFileTypeFor("x.bmp", kPngFilter), TOVIRA_FILE_BMP);
    EXPECT_EQ(SaveFileTypeFor("x.raw", kPngFilter), TOVIRA_FILE_RAW);
    // JPEG: the quality of a chosen JPEG filter stays; another filter gives quality 100.
    EXPECT_EQ(SaveFileTypeFor("x.jpg", kJpeg70Filter), TOVIRA_FILE_JPEG_70);
    EXPECT_EQ(SaveFileTypeFor("x.jpeg", kPngFilter), TOVIRA_FILE_JPEG_100);
    // No extension, or one the SDK does not write: the filter.
    EXPECT_EQ(SaveFileTypeFor("x", kPngFilter), TOVIRA_FILE_PNG);
    EXPECT_EQ(SaveFileTypeFor("x.gif", kTiffFilter), TOVIRA_FILE_TIFF);
    // A dot in a folder name is not an extension.
    EXPECT_EQ(SaveFileTypeFor("C:\\v1.png\\shot", kTiffFilter), TOVIRA_FILE_TIFF);
    EXPECT_EQ(SaveFileTypeFor("shot", 0), TOVIRA_FILE_BMP);  // no filter chosen
}

TEST(ToolRate, StampsGiveTheRateWhateverTheMessagesDid) {
    // 20 frames handed on between two records 4.75 s apart (the sensor's 4.2 fps).
    EXPECT_NEAR(ToolStampedRate(20, 1000000, 5750000), 4.21, 0.01);
    // The messages of the same frames, the first handled 0.7 s late: the old count said 4.93.
    EXPECT_NEAR(ToolDeliveredRate(21, 1700, 5750), 4.94, 0.01);
    EXPECT_EQ(ToolStampedRate(5, 100, 100), 0.0);
    EXPECT_EQ(ToolStampedRate(5, 200, 100), 0.0);
}

}  // namespace
