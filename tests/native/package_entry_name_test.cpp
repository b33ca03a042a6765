// Entry names become file names when a package is unpacked into a folder: a
// name that is not a plain file name could write outside that folder.
#include "package_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using corvane::package::IsPlainEntryName;

TEST(PackageEntryNameTest, PlainFileNamesAreAccepted) {
    for (const std::string& name : std::initializer_list<std::string>{
             "readme.txt", "hxvhub.sys.amd64.v10", "corvane-rdp-workstation-installer.exe.x86", "a",
             ".hidden", "name with spaces.txt", "\xE9t\xE9.txt", "console.txt", "com10", "lpt",
             "nul_device.txt", "auxiliary.dll"}) {
        EXPECT_TRUE(IsPlainEntryName(name)) << name;
    }
}

TEST(PackageEntryNameTest, NamesThatReachOutsideTheFolderAreRefused) {
    for (const std::string& name : std::initializer_list<std::string>{
             "", ".", "..", "../evil.dll", "..\\evil.dll", "sub/file.txt", "sub\\file.txt",
             "/etc/passwd", "\\\\server\\share\\x", "C:evil.dll", "C:\\Windows\\evil.dll",
             "file.txt:stream", "new\nline", "tab\there", std::string("nul\0byte", 8), "\x1F"}) {
        EXPECT_FALSE(IsPlainEntryName(name)) << name;
    }
}

// Names Windows would not write as given: unpacking them would open a device
// or land under another name.
TEST(PackageEntryNameTest, NamesWindowsWouldNotWriteAsGivenAreRefused) {
    for (const std::string& name : std::initializer_list<std::string>{
             "CON", "con", "nul.txt", "NUL.tar.gz", "Com1", "LPT9.log", "aux .txt", "PRN", "conin$",
             "readme.txt.", "readme.txt ", "...", "a<b", "a>b", "say\"hi\"", "a|b", "what?",
             "star*", "del\x7F"}) {
        EXPECT_FALSE(IsPlainEntryName(name)) << name;
    }
}

} // namespace
