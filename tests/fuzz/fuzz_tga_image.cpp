// Feeds arbitrary bytes to the wizard's TGA decoder as a raw resource: it may
// not read past them, and what it accepts must be whole and premultiplied.
#include "fuzz_support.h"
#include "tga_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<TgaImage> image = DecodeTgaImage(data, size);
    if (!image) {
        return 0;
    }
    const std::size_t pixelBytes = std::size_t(image->width) * image->height * 4;
    Require(image->width > 0 && image->height > 0 && image->pixels.size() == pixelBytes &&
            kTgaHeaderSize + pixelBytes <= size);
    for (std::size_t pixel = 0; pixel < pixelBytes; pixel += 4) {
        const std::uint8_t alpha = image->pixels[pixel + 3];
        Require(image->pixels[pixel] <= alpha && image->pixels[pixel + 1] <= alpha &&
                image->pixels[pixel + 2] <= alpha);
    }
    return 0;
}
