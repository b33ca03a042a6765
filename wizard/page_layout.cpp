#include "page_layout.h"

#include <cstdint>

namespace corvane::wizard {

int FontPointSize(long height, int dpi) {
    if (height >= 0) {
        return int(height);
    }
    if (dpi <= 0) {
        return 0;
    }
    // MulDiv: rounded to the nearest point.
    const int64_t product = int64_t(-height) * 72;
    return int((product + dpi / 2) / dpi);
}

PictureSize ChooseSidePictureSize(int areaBottom, int pictureLimit) {
    static constexpr PictureSize kLadder[] = {{180, 240}, {204, 272}, {240, 320}, {276, 368},
                                              {300, 400}, {324, 432}, {360, 480}, {420, 560}};
    PictureSize chosen = kLadder[0];
    for (const PictureSize& rung : kLadder) {
        if (&rung == &kLadder[0]) {
            continue;
        }
        if (!(rung.height < areaBottom && rung.width < pictureLimit)) {
            break;
        }
        chosen = rung;
    }
    return chosen;
}

} // namespace corvane::wizard
