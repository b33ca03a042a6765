// The wizard controls' platform-free parts: the TGA images (what is refused,
// premultiplied alpha, row order), the label's colour mix and its word
// wrapping, measured with a stand-in font.
#include "color_blend.h"
#include "text_wrap.h"
#include "tga_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A TGA of width x height pixels, each `pixel` (blue, green, red, alpha),
// with the 26-byte TGA 2.0 footer after them.
Bytes MakeTga(int width, int height, Bytes pixel = {1, 2, 3, 255}, std::uint8_t type = 2,
              std::uint8_t depth = 32) {
    Bytes tga = {0,
                 0,
                 type,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 std::uint8_t(width),
                 std::uint8_t(width >> 8),
                 std::uint8_t(height),
                 std::uint8_t(height >> 8),
                 depth,
                 8};
    for (int i = 0; i < width * height; ++i) {
        tga.insert(tga.end(), pixel.begin(), pixel.end());
    }
    const std::string footer = std::string(8, '\0') + "TRUEVISION-XFILE." + '\0';
    tga.insert(tga.end(), footer.begin(), footer.end());
    return tga;
}

struct RefusedCase {
    const char* name;
    Bytes data;
};

TEST(TgaImage, RefusesWhatItCannotShow) {
    Bytes withImageId = MakeTga(2, 2);
    withImageId[0] = 4;
    Bytes withColourMap = MakeTga(2, 2);
    withColourMap[1] = 1;
    Bytes hugeHeader = MakeTga(1, 1);
    hugeHeader[12] = hugeHeader[13] = hugeHeader[14] = hugeHeader[15] = 0xFF;
    Bytes oneByteShort = MakeTga(2, 2);
    oneByteShort.resize(18 + 2 * 2 * 4 - 1);
    const RefusedCase cases[] = {
        {"run-length encoded", MakeTga(2, 2, {1, 2, 3, 4}, 10)},
        {"24 bits per pixel", MakeTga(2, 2, {1, 2, 3}, 2, 24)},
        {"image id before the pixels", withImageId},
        {"colour map", withColourMap},
        {"width 0", MakeTga(0, 2)},
        {"height 0", MakeTga(2, 0)},
        {"pixels one byte short", oneByteShort},
        // 65535 x 65535 x 4 wraps a 32-bit size_t to a small number.
        {"header announcing 16 GiB", hugeHeader},
        {"shorter than a header", Bytes(17, 0)},
    };
    for (const RefusedCase& refused : cases) {
        EXPECT_FALSE(DecodeTgaImage(refused.data.data(), refused.data.size())) << refused.name;
    }
    EXPECT_FALSE(DecodeTgaImage(nullptr, 0));
}

TEST(TgaImage, ExactSizeWithoutFooterIsEnough) {
    Bytes tga = MakeTga(3, 2);
    tga.resize(18 + 3 * 2 * 4);
    const auto image = DecodeTgaImage(tga.data(), tga.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->pixels.size(), 24u);
}

TEST(TgaImage, ColoursArePremultipliedByAlpha) {
    const struct {
        Bytes stored, premultiplied;
    } cases[] = {
        {{200, 100, 255, 0}, {0, 0, 0, 0}},       // transparent adds nothing
        {{0, 0, 255, 128}, {0, 0, 128, 128}},     // red 255 at half weight
        {{10, 20, 30, 255}, {10, 20, 30, 255}},   // opaque as stored
        {{200, 100, 50, 100}, {78, 39, 19, 100}}, // truncated, not rounded
    };
    for (const auto& c : cases) {
        const Bytes tga = MakeTga(1, 1, c.stored);
        const auto image = DecodeTgaImage(tga.data(), tga.size());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixels, c.premultiplied) << int(c.stored[3]);
    }
}

TEST(TgaImage, RowsStayInStoredBottomUpOrder) {
    // 1 x 3: the bottom row is stored first and must stay first for a
    // bottom-up DIB section.
    Bytes tga = MakeTga(1, 3);
    for (int row = 0; row < 3; ++row) {
        tga[18 + row * 4] = std::uint8_t(10 * (row + 1));
    }
    const auto image = DecodeTgaImage(tga.data(), tga.size());
    ASSERT_TRUE(image);
    EXPECT_EQ((Bytes{image->pixels[0], image->pixels[4], image->pixels[8]}), (Bytes{10, 20, 30}));
}

TEST(BlendColor, MixesEachChannel) {
    const struct {
        std::uint32_t a, b;
        std::uint8_t weight;
        std::uint32_t expected;
    } cases[] = {
        {0xFFFFFF, 0x000000, 150, 0x696969}, // the version label on white: 105, 105, 105
        {0x123456, 0xABCDEF, 0, 0x123456},       {0x123456, 0xABCDEF, 255, 0xABCDEF},
        {0x0000FF, 0xFF0000, 51, 0x3300CC},      // channels kept apart
        {0x010101, 0x010101, 128, 0x000000},     // each quotient truncated on its own
        {0xFF123456, 0xFF123456, 255, 0x123456}, // no top byte
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BlendColor(c.a, c.b, c.weight), c.expected)
            << std::hex << c.a << " " << c.b << " " << std::dec << int(c.weight);
    }
}

// Stand-in font: 'W' 30 pixels wide, every other character 10, lines 16 high.
TextExtent Measure(std::string_view text) {
    int width = 0;
    for (char c : text) {
        width += c == 'W' ? 30 : 10;
    }
    return {width, 16};
}

struct WrapCase {
    const char* name;
    const char* text;
    int width, height, lineHeight;
    std::vector<std::pair<std::string, int>> lines; // text, top
};

TEST(WrapText, BreaksAsTheLabelShowsIt) {
    const WrapCase cases[] = {
        {"fits on one line", "Version 3.12", 200, 16, 0, {{"Version 3.12", 0}}},
        {"break at the guessed space",
         "one two three",
         80,
         100,
         0,
         {{"one two", 0}, {"three", 16}}},
        {"every CR LF starts a line, an empty paragraph too",
         "a\r\n\r\nb",
         100,
         100,
         0,
         {{"a", 0}, {"", 16}, {"b", 32}}},
        {"a word wider than the label alone on its line",
         "abcdefghijkl xy",
         50,
         100,
         0,
         {{"abcdefghijkl", 0}, {"xy", 16}}},
        {"guess too long: back space by space",
         "WWW a b c d e",
         100,
         100,
         0,
         {{"WWW", 0}, {"a b c d e", 16}}},
        {"guess too short: forward word by word, the last wide word alone",
         "a b c d WWWW",
         100,
         100,
         0,
         {{"a b c d", 0}, {"WWWW", 16}}},
        {"given line height", "a\r\nb", 100, 100, 20, {{"a", 0}, {"b", 20}}},
        {"no line starts at the bottom", "a\r\nb\r\nc", 100, 32, 0, {{"a", 0}, {"b", 16}}},
        {"a line may start just above it",
         "a\r\nb\r\nc",
         100,
         33,
         0,
         {{"a", 0}, {"b", 16}, {"c", 32}}},
        {"stops inside a paragraph too",
         "aa bb cc dd",
         20,
         40,
         0,
         {{"aa", 0}, {"bb", 16}, {"cc", 32}}},
    };
    for (const WrapCase& c : cases) {
        const std::string_view text = c.text;
        std::vector<std::pair<std::string, int>> lines;
        for (const WrappedLine& line : WrapText(text, c.width, c.height, c.lineHeight, Measure)) {
            lines.emplace_back(std::string(text.substr(line.start, line.length)), line.top);
        }
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

} // namespace
