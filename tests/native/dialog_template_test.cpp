// Replacing a dialog template's font: the new font is read back, the items
// arrive byte for byte on a 4-byte boundary, and a template that is cut short
// anywhere is refused instead of read past its end.
#include "dialog_template.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using corvane::dialog_template::FontInfo;
using corvane::dialog_template::ReadFont;
using corvane::dialog_template::SetFont;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kStyle = 0x80C800C0; // popup, caption, system menu, modal frame, set font

class TemplateBuilder {
public:
    void Word(uint16_t value) {
        m_bytes.push_back(uint8_t(value));
        m_bytes.push_back(uint8_t(value >> 8));
    }
    void Dword(uint32_t value) {
        Word(uint16_t(value));
        Word(uint16_t(value >> 16));
    }
    void Text(const std::u16string& text) {
        for (char16_t unit : text) {
            Word(uint16_t(unit));
        }
        Word(0);
    }
    void Align() { m_bytes.resize((m_bytes.size() + 3) & ~size_t(3), 0); }
    Bytes& bytes() { return m_bytes; }

private:
    Bytes m_bytes;
};

// An extended template as the resource compiler writes it: a push button (class
// by ordinal), a static showing a bitmap (title by ordinal) and a rich-edit
// control (class by name) with four bytes of creation data.
Bytes ExtendedTemplate(bool withFont, const std::u16string& face = u"Segoe UI") {
    TemplateBuilder b;
    b.Word(1);
    b.Word(0xFFFF);
    b.Dword(0); // help id
    b.Dword(0); // extended style
    b.Dword(withFont ? kStyle : kStyle & ~0x40u);
    b.Word(3); // items
    for (uint16_t v : {0, 0, 320, 200}) {
        b.Word(v);
    }
    b.Word(0); // no menu
    b.Word(0); // the dialog class
    b.Text(u"Dialog");
    if (withFont) {
        b.Word(9);
        b.Word(700);
        b.Word(0x0101); // italic, character set 1
        b.Text(face);
    }
    const struct {
        std::u16string className;
        uint16_t classOrdinal;
        uint16_t titleOrdinal;
        std::u16string title;
        uint16_t extra;
    } items[] = {
        {u"", 0x80, 0, u"Next>", 0}, {u"", 0x82, 139, u"", 0}, {u"RICHEDIT", 0, 0, u"", 4}};
    uint16_t id = 1;
    for (const auto& item : items) {
        b.Align();
        b.Dword(0);
        b.Dword(0);
        b.Dword(0x50010000);
        for (uint16_t v : {7, 185, 124, 8}) {
            b.Word(v);
        }
        b.Dword(id++);
        if (item.classOrdinal != 0) {
            b.Word(0xFFFF);
            b.Word(item.classOrdinal);
        } else {
            b.Text(item.className);
        }
        if (item.titleOrdinal != 0) {
            b.Word(0xFFFF);
            b.Word(item.titleOrdinal);
        } else {
            b.Text(item.title);
        }
        b.Word(item.extra);
        for (uint16_t i = 0; i < item.extra; ++i) {
            b.bytes().push_back(uint8_t(0xA0 + i));
        }
    }
    return b.bytes();
}

// A classic template with the font style: point size and face only.
Bytes ClassicTemplate() {
    TemplateBuilder b;
    b.Dword(kStyle);
    b.Dword(0);
    b.Word(1);
    for (uint16_t v : {0, 0, 200, 100}) {
        b.Word(v);
    }
    b.Text(u"MENU"); // a menu by name
    b.Word(0);
    b.Text(u"");
    b.Word(8);
    b.Text(u"MS Shell Dlg");
    b.Align();
    b.Dword(0x50010000);
    b.Dword(0);
    for (uint16_t v : {1, 2, 3, 4}) {
        b.Word(v);
    }
    b.Word(1);
    b.Word(0xFFFF);
    b.Word(0x80);
    b.Text(u"OK");
    b.Word(0);
    return b.bytes();
}

// The bytes of the items: from the first 4-byte boundary after the font.
Bytes ItemsOf(const Bytes& bytes, size_t fontEnd) {
    return Bytes(bytes.begin() + ((fontEnd + 3) & ~size_t(3)), bytes.end());
}

size_t FontEnd(const FontInfo& font, size_t fontStart, bool extended) {
    return font.present ? fontStart + (extended ? 6 : 2) + 2 * (font.faceName.size() + 1)
                        : fontStart;
}

// Header (26) + no menu (2) + dialog class (2) + "Dialog" and its null (14).
constexpr size_t kExtendedFontStart = 44;

TEST(DialogTemplate, NewFaceOfEveryLengthKeepsTheItemsAlignedAndUnchanged) {
    const Bytes original = ExtendedTemplate(true);
    FontInfo before;
    ASSERT_TRUE(ReadFont(original.data(), original.size(), &before));
    EXPECT_EQ(before.faceName, u"Segoe UI");
    const Bytes items = ItemsOf(original, FontEnd(before, kExtendedFontStart, true));

    // Four lengths cover every remainder of the font block modulo four.
    for (const std::u16string face : {u"A", u"Ta", u"Arial", u"Tahoma", u"Microsoft Sans Serif"}) {
        Bytes changed;
        ASSERT_TRUE(SetFont(original.data(), original.size(), face, 12, &changed));
        FontInfo after;
        ASSERT_TRUE(ReadFont(changed.data(), changed.size(), &after)) << "no longer a template";
        EXPECT_EQ(after.faceName, face);
        EXPECT_EQ(after.pointSize, 12);
        // The weight, italic flag and character set of the design font stay.
        EXPECT_EQ(after.weight, 700);
        EXPECT_EQ(after.italic, 1);
        EXPECT_EQ(after.charset, 1);
        EXPECT_EQ(ItemsOf(changed, FontEnd(after, kExtendedFontStart, true)), items);
        EXPECT_EQ(Bytes(changed.begin(), changed.begin() + kExtendedFontStart),
                  Bytes(original.begin(), original.begin() + kExtendedFontStart));
    }
}

TEST(DialogTemplate, TemplateWithoutAFontGainsTheStyleAndANormalFont) {
    const Bytes original = ExtendedTemplate(false);
    FontInfo before;
    ASSERT_TRUE(ReadFont(original.data(), original.size(), &before));
    EXPECT_FALSE(before.present);

    Bytes changed;
    ASSERT_TRUE(SetFont(original.data(), original.size(), u"Tahoma", 8, &changed));
    FontInfo after;
    ASSERT_TRUE(ReadFont(changed.data(), changed.size(), &after));
    EXPECT_TRUE(after.present);
    EXPECT_EQ(after.faceName, u"Tahoma");
    EXPECT_EQ(after.weight, 400);
    EXPECT_EQ(after.italic, 0);
    EXPECT_EQ(after.charset, 1);
    EXPECT_EQ(changed[12], original[12] | 0x40) << "the font style is what makes Windows read it";
    EXPECT_EQ(ItemsOf(changed, FontEnd(after, kExtendedFontStart, true)),
              ItemsOf(original, kExtendedFontStart));
}

TEST(DialogTemplate, ClassicTemplateGetsPointSizeAndFace) {
    const Bytes original = ClassicTemplate();
    Bytes changed;
    ASSERT_TRUE(SetFont(original.data(), original.size(), u"Segoe UI", 9, &changed));
    FontInfo after;
    ASSERT_TRUE(ReadFont(changed.data(), changed.size(), &after));
    EXPECT_EQ(after.faceName, u"Segoe UI");
    EXPECT_EQ(after.pointSize, 9);
    // Header (18) + "MENU" (10) + dialog class (2) + empty title (2).
    constexpr size_t kFontStart = 32;
    FontInfo before;
    ASSERT_TRUE(ReadFont(original.data(), original.size(), &before));
    EXPECT_EQ(ItemsOf(changed, FontEnd(after, kFontStart, false)),
              ItemsOf(original, FontEnd(before, kFontStart, false)));
}

TEST(DialogTemplate, TemplateCutShortAnywhereIsRefused) {
    for (const Bytes& whole :
         {ExtendedTemplate(true), ExtendedTemplate(false), ClassicTemplate()}) {
        for (size_t length = 0; length < whole.size(); ++length) {
            const Bytes cut(whole.begin(), whole.begin() + length);
            FontInfo font;
            Bytes out = {0x55};
            EXPECT_FALSE(ReadFont(cut.data(), cut.size(), &font)) << "cut at " << length;
            EXPECT_FALSE(SetFont(cut.data(), cut.size(), u"Tahoma", 8, &out))
                << "cut at " << length;
            EXPECT_EQ(out, Bytes{0x55}) << "a refused template must leave the output alone";
        }
    }
}

TEST(DialogTemplate, FaceNameMustBeAPlainNonEmptyName) {
    const Bytes original = ExtendedTemplate(true);
    Bytes out;
    EXPECT_FALSE(SetFont(original.data(), original.size(), u"", 8, &out));
    EXPECT_FALSE(SetFont(original.data(), original.size(), std::u16string(u"Ta\0ma", 5), 8, &out));
    EXPECT_FALSE(SetFont(nullptr, 0, u"Tahoma", 8, &out));
}

} // namespace
