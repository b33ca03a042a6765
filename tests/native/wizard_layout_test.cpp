// The pages' font size and side picture size: the picture climbs its ladder
// only while every rung fits strictly, and never goes below the first.
#include "page_layout.h"

#include <gtest/gtest.h>

namespace {

using corvane::wizard::ChooseSidePictureSize;
using corvane::wizard::FontPointSize;

TEST(WizardLayout, SidePictureTakesTheLargestRungThatFitsWithAllBelowIt) {
    const struct {
        int areaBottom, pictureLimit, width, height;
    } cases[] = {
        {100, 100, 180, 240},   // nothing fits: the first rung all the same
        {273, 205, 204, 272},   // the second fits by one pixel each way
        {272, 205, 180, 240},   // ... and not when the height only touches
        {273, 204, 180, 240},   // ... or the width
        {330, 250, 240, 320},   // tall enough for the third
        {900, 250, 240, 320},   // a narrow area stops the climb whatever the height
        {561, 421, 420, 560},   // the top rung
        {2000, 2000, 420, 560}, // never the bitmap's own 480 x 640
    };
    for (const auto& c : cases) {
        const auto size = ChooseSidePictureSize(c.areaBottom, c.pictureLimit);
        EXPECT_EQ(size.width, c.width) << c.areaBottom << " x " << c.pictureLimit;
        EXPECT_EQ(size.height, c.height) << c.areaBottom << " x " << c.pictureLimit;
    }
}

TEST(WizardLayout, FontHeightsBecomePoints) {
    EXPECT_EQ(FontPointSize(-12, 96), 9);  // the usual message font
    EXPECT_EQ(FontPointSize(-15, 120), 9); // the same at 125 %
    EXPECT_EQ(FontPointSize(-16, 96), 12);
    EXPECT_EQ(FontPointSize(-11, 96), 8);  // 8.25 rounds down
    EXPECT_EQ(FontPointSize(-13, 96), 10); // 9.75 rounds up
    EXPECT_EQ(FontPointSize(10, 96), 10);  // a cell height is taken as it is
    EXPECT_EQ(FontPointSize(-12, 0), 0);   // no screen resolution: no guess
}

} // namespace
