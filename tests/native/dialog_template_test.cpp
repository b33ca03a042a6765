// Replacing a dialog template's font: the new font is read back, the items arrive byte for
// byte on a 4-byte boundary, and a template cut short anywhere is refused instead of read
// past its end. The pages' templates are extended ones; a real one is shown by the Windows
// tests, and the fuzzer feeds arbitrary bytes, classic templates included.
#include "dialog_template.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace corvane::dialog_template;
using Bytes = std::vector<uint8_t>;

// Header (26) + no menu (2) + dialog class (2) + "Dialog" and its null (14).
constexpr size_t kFontStart = 44;

// An extended template as the resource compiler writes it: a push button (class by
// ordinal), a static showing a bitmap (title by ordinal) and a rich-edit control (class by
// name) with four bytes of creation data.
Bytes ExtendedTemplate(bool withFont) {
    Bytes b;
    const auto words = [&b](std::initializer_list<uint16_t> values) {
        for (uint16_t value : values) {
            b.insert(b.end(), {uint8_t(value), uint8_t(value >> 8)});
        }
    };
    const auto text = [&words](const std::u16string& text) {
        for (char16_t unit : text) {
            words({uint16_t(unit)});
        }
        words({0});
    };
    // Version, signature, help id, extended style, style (popup, caption, system menu,
    // modal frame and, with a font, set font), 3 items, position and size, no menu, class.
    words(
        {1, 0xFFFF, 0, 0, 0, 0, uint16_t(withFont ? 0xC0 : 0x80), 0x80C8, 3, 0, 0, 320, 200, 0, 0});
    text(u"Dialog");
    if (withFont) {
        words({9, 700, 0x0101}); // weight 700, italic, character set 1
        text(u"Segoe UI");
    }
    for (uint16_t id = 1; id <= 3; ++id) {
        b.resize((b.size() + 3) & ~size_t(3), 0);
        words({0, 0, 0, 0, 0, 0x5001, 7, 185, 124, 8, id, 0});
        if (id == 1) {
            words({0xFFFF, 0x80});
            text(u"Next>");
            words({0});
        } else if (id == 2) {
            words({0xFFFF, 0x82, 0xFFFF, 139, 0});
        } else {
            text(u"RICHEDIT");
            words({0, 4, 0xA1A0, 0xA3A2});
        }
    }
    return b;
}

// The bytes of the items: from the first 4-byte boundary after the font.
Bytes ItemsOf(const Bytes& bytes, const FontInfo& font) {
    const size_t end = font.present ? kFontStart + 6 + 2 * (font.faceName.size() + 1) : kFontStart;
    return Bytes(bytes.begin() + ((end + 3) & ~size_t(3)), bytes.end());
}

TEST(DialogTemplate, NewFaceOfEveryLengthKeepsTheItemsAlignedAndUnchanged) {
    for (bool withFont : {true, false}) {
        const Bytes original = ExtendedTemplate(withFont);
        FontInfo before;
        ASSERT_TRUE(ReadFont(original.data(), original.size(), &before));
        EXPECT_EQ(before.present, withFont);
        // Four lengths cover every remainder of the font block modulo four.
        for (const std::u16string face : {u"A", u"Ta", u"Arial", u"Tahoma"}) {
            Bytes changed;
            ASSERT_TRUE(SetFont(original.data(), original.size(), face, 12, &changed));
            FontInfo after;
            ASSERT_TRUE(ReadFont(changed.data(), changed.size(), &after)) << "not a template";
            EXPECT_EQ(after.faceName, face);
            EXPECT_EQ(after.pointSize, 12);
            // The design font's weight and italic flag stay; a new font is a normal one.
            EXPECT_EQ(after.weight, withFont ? 700 : 400);
            EXPECT_EQ(after.italic, withFont ? 1 : 0);
            EXPECT_EQ(after.charset, 1);
            EXPECT_EQ(changed[12], original[12] | 0x40) << "the style makes Windows read it";
            EXPECT_EQ(ItemsOf(changed, after), ItemsOf(original, before));
        }
    }
}

TEST(DialogTemplate, TemplateCutShortAnywhereOrABadFaceIsRefused) {
    for (const Bytes& whole : {ExtendedTemplate(true), ExtendedTemplate(false)}) {
        for (size_t length = 0; length < whole.size(); ++length) {
            FontInfo font;
            Bytes out = {0x55};
            EXPECT_FALSE(ReadFont(whole.data(), length, &font)) << "cut at " << length;
            EXPECT_FALSE(SetFont(whole.data(), length, u"Tahoma", 8, &out)) << length;
            EXPECT_EQ(out, Bytes{0x55}) << "a refused template must leave the output alone";
        }
    }
    const Bytes original = ExtendedTemplate(true);
    Bytes out;
    EXPECT_FALSE(SetFont(original.data(), original.size(), u"", 8, &out));
    EXPECT_FALSE(SetFont(original.data(), original.size(), std::u16string(u"Ta\0ma", 5), 8, &out));
}

} // namespace
