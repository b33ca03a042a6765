#include "tga_image.h"

namespace {

unsigned ReadLittleEndian16(const std::uint8_t* bytes) {
    return bytes[0] | (bytes[1] << 8);
}

} // namespace

std::optional<TgaImage> DecodeTgaImage(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kTgaHeaderSize) {
        return std::nullopt;
    }
    const bool noImageId = data[0] == 0;
    const bool noColourMap = data[1] == 0;
    const bool uncompressedTrueColour = data[2] == 2;
    const bool thirtyTwoBits = data[16] == 32;
    if (!noImageId || !noColourMap || !uncompressedTrueColour || !thirtyTwoBits) {
        return std::nullopt;
    }
    const unsigned width = ReadLittleEndian16(data + 12);
    const unsigned height = ReadLittleEndian16(data + 14);
    // 64-bit arithmetic: 65535 x 65535 x 4 does not fit the 32-bit size_t of
    // the setup program, and a wrapped product would pass the length check.
    const std::uint64_t pixelBytes = std::uint64_t{width} * height * 4;
    if (width == 0 || height == 0 || pixelBytes > size - kTgaHeaderSize) {
        return std::nullopt;
    }

    TgaImage image;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.pixels.assign(data + kTgaHeaderSize, data + kTgaHeaderSize + pixelBytes);
    for (std::size_t pixel = 0; pixel < image.pixels.size(); pixel += 4) {
        const unsigned alpha = image.pixels[pixel + 3];
        for (std::size_t channel = 0; channel < 3; ++channel) {
            image.pixels[pixel + channel] =
                static_cast<std::uint8_t>(image.pixels[pixel + channel] * alpha / 255);
        }
    }
    return image;
}
