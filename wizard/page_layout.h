// The arithmetic of the wizard pages' look, apart from any window: the point
// size of the system's message font, and how big the side picture is drawn
// in the white area left of the page's text.
#pragma once

namespace corvane::wizard {

// Points of a font whose LOGFONT height is `height` on a screen of `dpi`
// pixels per inch: a negative height is a character height in pixels, a
// positive one is taken as it is.
int FontPointSize(long height, int dpi);

struct PictureSize {
    int width;
    int height;
};

// The largest rung of the picture ladder (all 3:4, from 180 x 240 to
// 420 x 560) that fits strictly under `areaBottom` and left of `pictureLimit`
// together with every rung below it; the smallest when none fits.
PictureSize ChooseSidePictureSize(int areaBottom, int pictureLimit);

} // namespace corvane::wizard
