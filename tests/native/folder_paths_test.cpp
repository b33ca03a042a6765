// What the folder pages make of a folder chosen with Browse: the backslash
// and name rules, and two-byte characters whose second byte is 0x5C.
#include "folder_paths.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using corvane::wizard::DestinationFromBrowse;
using corvane::wizard::StartMenuFolderFromBrowse;

const std::string kName = "Corvane RDP";

// Shift-JIS (code page 932) lead bytes; "\x95\x5C" is one character.
bool IsShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct PathCase {
    const char* chosen;
    const char* destination;
    const char* startMenu; // from the current name "Current"
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PathCase& c, std::ostream* out) {
    *out << c.chosen;
}

class BrowseRules : public testing::TestWithParam<PathCase> {};

TEST_P(BrowseRules, FolderAndStartMenuName) {
    const PathCase& c = GetParam();
    EXPECT_EQ(DestinationFromBrowse(c.chosen, kName, IsShiftJisLeadByte), c.destination);
    EXPECT_EQ(StartMenuFolderFromBrowse(c.chosen, "Current", kName, IsShiftJisLeadByte),
              c.startMenu);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BrowseRules,
    testing::Values(PathCase{"C:\\Tools", "C:\\Tools\\Corvane RDP", "Tools\\Corvane RDP"},
                    // A drive root gets no second backslash; it has no last component.
                    PathCase{"C:\\", "C:\\Corvane RDP", "Current"},
                    // The name is appended even when the folder already ends with it.
                    PathCase{"D:\\Apps\\Corvane RDP", "D:\\Apps\\Corvane RDP\\Corvane RDP",
                             "Corvane RDP\\Corvane RDP"},
                    // Only the last component of a deep Start-menu folder survives.
                    PathCase{"C:\\ProgramData\\Programs\\Tools\\Utilities",
                             "C:\\ProgramData\\Programs\\Tools\\Utilities\\Corvane RDP",
                             "Utilities\\Corvane RDP"},
                    // No backslash at all (a share-less shell location): the name stays.
                    PathCase{"Folder", "Folder\\Corvane RDP", "Current"},
                    PathCase{"\\\\server\\share", "\\\\server\\share\\Corvane RDP",
                             "share\\Corvane RDP"},
                    // "\x95\x5C" is one character: not a trailing backslash, not a separator.
                    PathCase{"C:\\\x95\x5C", "C:\\\x95\x5C\\Corvane RDP", "\x95\x5C\\Corvane RDP"},
                    PathCase{"C:\\a\x95\x5C"
                             "b",
                             "C:\\a\x95\x5C"
                             "b\\Corvane RDP",
                             "a\x95\x5C"
                             "b\\Corvane RDP"}));

TEST(BrowseRulesSingleByte, WithoutLeadBytesEveryBackslashCounts) {
    EXPECT_EQ(DestinationFromBrowse("C:\\\x95\x5C", kName), "C:\\\x95\x5C"
                                                            "Corvane RDP");
    EXPECT_EQ(StartMenuFolderFromBrowse("C:\\x\\y", "Current", kName), "y\\Corvane RDP");
}

} // namespace
