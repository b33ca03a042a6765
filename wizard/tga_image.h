// The images of the wizard: uncompressed 32-bit TGA with an alpha channel,
// kept as raw resources. Decoding needs no Windows API, so it is tested
// natively and fuzzed; the control copies the result into a DIB section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct TgaImage {
    int width = 0;
    int height = 0;
    // 4 bytes per pixel, blue, green, red, alpha, with the colours already
    // multiplied by alpha (what AlphaBlend with AC_SRC_ALPHA expects). Rows
    // run from the bottom row upward, as the file stores them and as a
    // bottom-up DIB section wants them.
    std::vector<std::uint8_t> pixels;
};

// The TGA header is 18 bytes; with no image id the pixels follow it at once.
inline constexpr std::size_t kTgaHeaderSize = 18;

// Decodes `size` bytes at `data`. Refused (nullopt): an image id, a colour
// map, any image type but 2 (uncompressed true-colour), a depth other than
// 32 bits, a width or height of 0, and data shorter than the header plus
// width * height * 4 bytes. Bytes after the pixels (a TGA 2.0 footer) are
// ignored. The origin bit of the descriptor is not looked at: rows are always
// taken as bottom-up.
std::optional<TgaImage> DecodeTgaImage(const std::uint8_t* data, std::size_t size);
