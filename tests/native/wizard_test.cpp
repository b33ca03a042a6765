// The wizard's platform-free rules; the pages themselves are the Windows tests' part.
#include "color_blend.h"
#include "dialog_template.h"
#include "folder_paths.h"
#include "page_layout.h"
#include "progress_animation.h"
#include "ready_summary.h"
#include "shift_jis.h"
#include "text_wrap.h"
#include "tga_image.h"
#include "welcome_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace corvane::wizard;
using namespace corvane::dialog_template;
using Bytes = std::vector<std::uint8_t>;

// A TGA of width x height pixels, each `pixel` (blue, green, red, alpha).
Bytes MakeTga(int width, int height, Bytes pixel = {1, 2, 3, 255}, std::uint8_t type = 2) {
    Bytes tga(kTgaHeaderSize, 0);
    tga[2] = type;
    tga[12] = std::uint8_t(width);
    tga[14] = std::uint8_t(height);
    tga[16] = std::uint8_t(pixel.size() * 8);
    tga[17] = 8; // alpha bits
    for (int i = 0; i < width * height; ++i) {
        tga.insert(tga.end(), pixel.begin(), pixel.end());
    }
    return tga;
}

TEST(TgaImage, RefusesWhatItCannotShow) {
    Bytes withImageId = MakeTga(2, 2), withColourMap = MakeTga(2, 2), huge = MakeTga(1, 1),
          oneByteShort = MakeTga(2, 2);
    oneByteShort.pop_back();
    withImageId[0] = 4;
    withColourMap[1] = 1;
    huge[12] = huge[13] = huge[14] = huge[15] = 0xFF; // 16 GiB wraps a 32-bit size_t
    for (const Bytes& refused :
         {MakeTga(2, 2, {1, 2, 3, 4}, 10), MakeTga(2, 2, {1, 2, 3}), withImageId, withColourMap,
          MakeTga(0, 2), oneByteShort, huge, Bytes(17, 0)}) {
        EXPECT_FALSE(DecodeTgaImage(refused.data(), refused.size())) << refused.size() << " bytes";
    }
}

// Colours premultiplied by alpha, truncated; rows stay bottom-up as stored.
TEST(TgaImage, PremultipliesAndKeepsTheStoredRowOrder) {
    const std::pair<Bytes, Bytes> cases[] = {{{200, 100, 255, 0}, {0, 0, 0, 0}},
                                             {{10, 20, 30, 255}, {10, 20, 30, 255}},
                                             {{200, 100, 50, 100}, {78, 39, 19, 100}}};
    for (const auto& [stored, premultiplied] : cases) {
        const Bytes tga = MakeTga(1, 1, stored);
        EXPECT_EQ(DecodeTgaImage(tga.data(), tga.size())->pixels, premultiplied);
    }
    Bytes tga = MakeTga(1, 2);
    tga[kTgaHeaderSize] = 10;
    const auto image = DecodeTgaImage(tga.data(), tga.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ((Bytes{image->pixels[0], image->pixels[4]}), (Bytes{10, 1}));
}

TEST(BlendColor, MixesEachChannel) {
    EXPECT_EQ(BlendColor(0xFFFFFF, 0x000000, 150), 0x696969u);     // the version label on white
    EXPECT_EQ(BlendColor(0x0000FF, 0xFF0000, 51), 0x3300CCu);      // channels kept apart
    EXPECT_EQ(BlendColor(0x010101, 0x010101, 128), 0u);            // each quotient truncated
    EXPECT_EQ(BlendColor(0xFF123456, 0xFF123456, 255), 0x123456u); // no top byte
}

// Stand-in font: 'W' 30 pixels wide, every other character 10, lines 16 high.
TEST(WrapText, BreaksAsTheLabelShowsIt) {
    const auto measure = [](std::string_view text) {
        int width = 0;
        for (char c : text) {
            width += c == 'W' ? 30 : 10;
        }
        return TextExtent{width, 16};
    };
    const struct {
        const char* text;
        int width, height, lineHeight;
        std::vector<std::string> lines; // one line height apart
    } cases[] = {
        {"one two three", 80, 100, 0, {"one two", "three"}},
        {"a\r\n\r\nb", 100, 100, 20, {"a", "", "b"}},
        {"abcdefghijkl xy", 50, 100, 0, {"abcdefghijkl", "xy"}},
        {"WWW a b c d e", 100, 100, 0, {"WWW", "a b c d e"}},
        {"a b c d WWWW", 100, 100, 0, {"a b c d", "WWWW"}},
        {"a\r\nb\r\nc", 100, 32, 0, {"a", "b"}}, // no line starts at the bottom
        {"aa bb cc dd", 20, 33, 0, {"aa", "bb", "cc"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        const std::vector<WrappedLine> wrapped =
            WrapText(c.text, c.width, c.height, c.lineHeight, measure);
        for (const WrappedLine& line : wrapped) {
            EXPECT_EQ(line.top, int(lines.size()) * (c.lineHeight ? c.lineHeight : 16)) << c.text;
            lines.push_back(std::string(c.text).substr(line.start, line.length));
        }
        EXPECT_EQ(lines, c.lines) << c.text;
    }
}

// The picture climbs its ladder only while every rung fits strictly, never below the first.
TEST(WizardLayout, SidePictureAndFontSizes) {
    const struct {
        int areaBottom, pictureLimit, width, height;
    } cases[] = {{100, 100, 180, 240}, {273, 205, 204, 272}, {272, 205, 180, 240},
                 {273, 204, 180, 240}, {900, 250, 240, 320}, {2000, 2000, 420, 560}};
    for (const auto& c : cases) {
        const auto size = ChooseSidePictureSize(c.areaBottom, c.pictureLimit);
        EXPECT_EQ(size.width, c.width) << c.areaBottom << " x " << c.pictureLimit;
        EXPECT_EQ(size.height, c.height) << c.areaBottom << " x " << c.pictureLimit;
    }
    EXPECT_EQ(FontPointSize(-15, 120), 9);
    EXPECT_EQ(FontPointSize(-11, 96), 8);  // 8.25 rounds down
    EXPECT_EQ(FontPointSize(-13, 96), 10); // 9.75 rounds up
    EXPECT_EQ(FontPointSize(10, 96), 10);  // a cell height is taken as it is
    EXPECT_EQ(FontPointSize(-12, 0), 0);
}

TEST(ProgressAnimation, StepsTowardTheGoalInTheInstallsDirectionOnly) {
    EXPECT_EQ(StepProgressPosition(60, 50, 1), 60);
    EXPECT_EQ(StepProgressPosition(30, 40, 0), 30);
    EXPECT_EQ(StepProgressPosition(5, 50, 2), 5);
    EXPECT_FALSE(ProgressEndsPage(99)); // 100 and 120 end it on the Windows side
}

// An installed version read from the registry may look like a format: printf would write
// memory (%n) or read missing arguments.
TEST(WelcomeText, InsertsTheNameAndHandsTheLicenceOverOnce) {
    EXPECT_EQ(InsertDisplayName("%s and %s, 100%%", "Corvane"), "Corvane and Corvane, 100%");
    EXPECT_EQ(InsertDisplayName("version 9.%n%x%d, %", "Corvane"), "version 9.%n%x%d, %");
    EXPECT_EQ(LicenseChunkSize(16174, 12288, 4096), 3886);
    EXPECT_EQ(LicenseChunkSize(16174, 20000, 4096), 0); // past the end never wraps round
    EXPECT_EQ(LicenseChunkSize(10, 0, -5), 0);
}

// A folder chosen with Browse; "\x95\x5C" is one Shift-JIS character, not a separator.
TEST(BrowseRules, FolderAndStartMenuName) {
    const auto shiftJis = IsShiftJisLeadByte;
    const struct {
        const char *chosen, *destination, *startMenu;
    } cases[] = {
        {"C:\\", "C:\\Corvane RDP", "Current"},
        {"D:\\Apps\\Corvane RDP", "D:\\Apps\\Corvane RDP\\Corvane RDP", "Corvane RDP\\Corvane RDP"},
        {"\\\\server\\share", "\\\\server\\share\\Corvane RDP", "share\\Corvane RDP"},
        {"C:\\\x95\x5C", "C:\\\x95\x5C\\Corvane RDP", "\x95\x5C\\Corvane RDP"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DestinationFromBrowse(c.chosen, "Corvane RDP", shiftJis), c.destination);
        EXPECT_EQ(StartMenuFolderFromBrowse(c.chosen, "Current", "Corvane RDP", shiftJis),
                  c.startMenu);
    }
    EXPECT_EQ(DestinationFromBrowse("C:\\\x95\x5C", "Corvane RDP"), "C:\\\x95\x5C"
                                                                    "Corvane RDP");
}

// Headings and tasks with their exact line ends and indents; folders are taken as they are.
TEST(ReadySummary, ListsExactlyTheChosenTasks) {
    using corvane::app::ComposeReadySummary;
    const corvane::app::ReadySummaryTexts texts = {
        "Destination:", "Start Menu:", "Tasks:",       "Firewall:",
        "Create rules", "Icons:",      "Desktop icon", "Quick Launch icon"};
    const std::string tasks = "Tasks:\r\n      ", icons = "Icons:\r\n            ";
    const struct {
        int desktop, quickLaunch, firewall;
        std::string tail; // what follows the two folders
    } cases[] = {
        {0, 0, 0, ""},
        {7, 0, 0, tasks + icons + "Desktop icon\r\n            "},
        {0, 0, 1, tasks + "Firewall:\r\n            Create rules\r\n      "},
        {1, 1, 1,
         tasks + "Firewall:\r\n            Create rules\r\n      " + icons +
             "Desktop icon\r\n            Quick Launch icon"},
    };
    for (const auto& c : cases) {
        corvane::app::ReadySummaryChoices choices;
        choices.installDir = "D:\\100%s\\%n";
        choices.desktopIcon = c.desktop;
        choices.quickLaunchIcon = c.quickLaunch;
        choices.firewallRules = c.firewall;
        EXPECT_EQ(ComposeReadySummary(texts, choices),
                  "Destination:\r\n      D:\\100%s\\%n\r\n\r\nStart Menu:\r\n      \r\n\r\n" +
                      c.tail)
            << c.desktop << c.quickLaunch << c.firewall;
    }
}

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

TEST(DialogTemplate, NewFaceKeepsTheItemsAlignedAndACutTemplateIsRefused) {
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
        for (size_t length = 0; length < original.size(); ++length) {
            FontInfo font;
            Bytes out = {0x55};
            EXPECT_FALSE(ReadFont(original.data(), length, &font)) << "cut at " << length;
            EXPECT_FALSE(SetFont(original.data(), length, u"Tahoma", 8, &out)) << length;
            EXPECT_EQ(out, Bytes{0x55}) << "a refused template must leave the output alone";
        }
        for (const std::u16string& face : {std::u16string(), std::u16string(u"Ta\0ma", 5)}) {
            Bytes out;
            EXPECT_FALSE(SetFont(original.data(), original.size(), face, 8, &out));
        }
    }
}

} // namespace
