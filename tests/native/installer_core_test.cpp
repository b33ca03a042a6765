// The installer's pure parts: version classes, file names, journal rules, string lists.
#include "file_names.h"
#include "install_journal.h"
#include "multi_strings.h"
#include "os_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Payload variants are keyed by the class number: a wrong one installs the wrong driver.
TEST(ClassifyWindowsVersion, GivesTheClassAndTheVerdict) {
    const struct {
        const char* name;
        unsigned major, minor, servicePack;
        bool isWorkstation;
        int code;
        bool supported;
    } rows[] = {
        {"NT 4.0", 4, 0, 6, true, -1, false},
        {"NT 3.51", 3, 51, 5, false, -1, false},
        {"2000 SP3", 5, 0, 3, true, 0, false},
        {"2000 Server SP3", 5, 0, 3, false, 0, false},
        {"2000 SP4", 5, 0, 4, true, 0, true},
        {"2000 SP5 (never shipped)", 5, 0, 5, false, 0, true},
        {"XP RTM", 5, 1, 0, true, 1, true},
        {"Server 2003 RTM", 5, 2, 0, false, 2, true},
        {"XP x64", 5, 2, 2, true, 2, true},
        {"5.3", 5, 3, 0, true, -1, true},
        {"Vista", 6, 0, 0, true, 3, true},
        {"Server 2008", 6, 0, 1, false, 4, true},
        {"7", 6, 1, 1, true, 5, true},
        {"Server 2008 R2", 6, 1, 0, false, 6, true},
        {"8", 6, 2, 0, true, 7, true},
        {"Server 2012", 6, 2, 0, false, 8, true},
        {"8.1", 6, 3, 0, true, 9, true},
        {"Server 2012 R2", 6, 3, 0, false, 10, true},
        {"6.4", 6, 4, 0, true, -1, true},
        {"6.4 server", 6, 4, 0, false, -1, true},
        {"10", 10, 0, 0, true, 11, true},
        {"Server 2016 and later", 10, 0, 0, false, 12, true},
        {"10.1", 10, 1, 0, true, 13, true},
        {"7.0", 7, 0, 0, true, 13, true},
        {"9.0", 9, 0, 0, false, 13, true},
        {"11.0", 11, 0, 0, true, 13, true},
    };
    for (const auto& row : rows) {
        int code = 1234;
        EXPECT_EQ(
            ClassifyWindowsVersion(row.major, row.minor, row.servicePack, row.isWorkstation, &code),
            row.supported)
            << row.name;
        EXPECT_EQ(code, row.code) << row.name;
    }
}

// Clock fields run together unpadded; a name too long for a path buffer is refused, not cut.
TEST(FallbackTempName, RunsTheClockFieldsTogetherAndFitsAPathBuffer) {
    const struct {
        unsigned minute, second, millisecond;
        const char* expected;
    } rows[] = {{7, 5, 32, "C:\\Program Files\\Corvane\\hxvhub.sys-7532.tmp"},
                {0, 0, 0, "C:\\Program Files\\Corvane\\hxvhub.sys-000.tmp"},
                {59, 59, 999, "C:\\Program Files\\Corvane\\hxvhub.sys-5959999.tmp"}};
    std::string name = "left over";
    for (const auto& row : rows) {
        ASSERT_TRUE(FormatFallbackTempName("C:\\Program Files\\Corvane", "hxvhub.sys", row.minute,
                                           row.second, row.millisecond, &name));
        EXPECT_EQ(name, row.expected);
    }
    // 245-byte folder, "\", 5-byte prefix and "-000.tmp" make 259 characters.
    const std::string folder = "C:\\" + std::string(242, 'f');
    ASSERT_TRUE(FormatFallbackTempName(folder, "abcde", 0, 0, 0, &name));
    EXPECT_EQ(name.size(), 259u);
    EXPECT_FALSE(FormatFallbackTempName(folder, "abcdef", 0, 0, 0, &name));
    EXPECT_TRUE(name.empty());
}

TEST(JoinPath, PutsExactlyOneBackslashBetween) {
    EXPECT_EQ(JoinPath("C:\\Dir", "file.txt"), "C:\\Dir\\file.txt");
    EXPECT_EQ(JoinPath("C:", "file.txt"), "C:\\file.txt");
    EXPECT_EQ(JoinPath("C:\\Dir", "x86\\hxvhub.sys"), "C:\\Dir\\x86\\hxvhub.sys");
}

// Rollback deletes in key order: a folder before its files; two spellings, two records.
TEST(JournalOrder, IsByteWiseCaseSensitiveAndPrefixFirst) {
    const std::vector<std::string> expected = {
        "C:\\App",
        "C:\\App\\Readme.txt",
        "C:\\App\\readme.txt",
        "C:\\App\\x86",
        "C:\\App\\x86\\hxvhub.sys",
        "C:\\App\\zeta.txt",
        "C:\\App\\\xE9t\xE9.txt"}; // bytes above 0x7F sort last
    JournalEntryTable journal;
    for (auto key = expected.rbegin(); key != expected.rend(); ++key) {
        journal[*key] = kJournalCreatedFile;
    }
    std::vector<std::string> order;
    for (const auto& entry : journal) {
        order.push_back(entry.first);
    }
    EXPECT_EQ(order, expected);
}

// Every empty created folder goes, inner first, each announced once; a user's file stays.
TEST(RemoveCreatedFolders, RemovesEveryEmptyFolderAndAnnouncesEachOnceInJournalOrder) {
    const struct {
        const char* what;
        std::vector<std::string> created;
        std::set<std::string> others, remaining;
    } rows[] = {
        {"the install folder and its architecture folder",
         {"C:\\Corvane", "C:\\Corvane\\amd64"},
         {},
         {}},
        {"three levels, recorded outermost first", {"C:\\A", "C:\\A\\B", "C:\\A\\B\\C"}, {}, {}},
        // A blank sorts before the backslash: a sibling comes between a folder and its insides.
        {"a sibling whose name extends the folder's",
         {"C:\\App\\x86", "C:\\App Data", "C:\\App"},
         {},
         {}},
        {"a user's file keeps its folders, and only those",
         {"C:\\Corvane", "C:\\Corvane\\amd64", "C:\\Start\\Corvane"},
         {"C:\\Corvane\\amd64\\user.log", "C:\\Start"},
         {"C:\\Corvane", "C:\\Corvane\\amd64", "C:\\Corvane\\amd64\\user.log", "C:\\Start"}},
    };
    for (const auto& row : rows) {
        JournalEntryTable journal;
        std::set<std::string> disk = row.others;
        for (const std::string& folder : row.created) {
            journal[folder] = kJournalCreatedDirectory;
            disk.insert(folder);
        }
        journal["C:\\unrelated.dll"] = kJournalCreatedFile;
        const std::vector<std::string> folders =
            JournalKeysOfKind(journal, kJournalCreatedDirectory);
        std::vector<std::string> announced;
        int attempts = 0;
        // Like RemoveDirectory: only a folder with nothing below it goes.
        RemoveCreatedFolders(
            folders, [&](const std::string& folder) { announced.push_back(folder); },
            [&](const std::string& folder) {
                ++attempts;
                const bool holdsSomething = std::any_of(disk.begin(), disk.end(), [&](auto& path) {
                    return path.rfind(folder + "\\", 0) == 0;
                });
                return !holdsSomething && disk.erase(folder) == 1;
            });
        EXPECT_EQ(announced, folders) << row.what;
        EXPECT_EQ(disk, row.remaining) << row.what;
        EXPECT_LE(attempts, 2 * int(folders.size())) << row.what << ": each is tried at most twice";
    }
}

SavedRegistryValue Value(const char* name, const std::string& data, uint32_t type = 1) {
    SavedRegistryValue value;
    value.name = name;
    value.data = data;
    value.type = type;
    return value;
}

// A second save kept would let rollback write back the value the installation changed.
TEST(AddSavedRegistryValue, KeepsTheFirstSaveOfEachValue) {
    RegistryBackupTable table;
    const std::string setup = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
    EXPECT_TRUE(AddSavedRegistryValue(table, setup, Value("LogLevel", "\0\0\0\0"s, 4)));
    EXPECT_TRUE(AddSavedRegistryValue(table, setup, Value("LogPath", "C:\\Windows")));
    EXPECT_FALSE(AddSavedRegistryValue(table, setup, Value("LogLevel", "\xFF\xFF\0\0"s, 4)));
    EXPECT_FALSE(AddSavedRegistryValue(table, setup, Value("LOGPATH", "C:\\Temp")))
        << "value names are the same whatever their letter case";
    EXPECT_TRUE(AddSavedRegistryValue(table, "Software\\Other", Value("LogLevel", "x")));
    ASSERT_EQ(table.size(), 2u);
    const auto& saved = table.at(setup);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].name, "LogLevel");
    EXPECT_EQ(saved[0].data, "\0\0\0\0"s);
    EXPECT_EQ(saved[0].type, 4u);
    EXPECT_EQ(saved[1].name, "LogPath");
    EXPECT_EQ(saved[1].data, "C:\\Windows");
}

// A filter driver out of a class's upper filters, malformed registry data included.
TEST(RemoveFromMultiString, LeavesExactlyTheOtherStrings) {
    const struct {
        const char* what;
        std::string before;
        const char* name;
        std::string after;
        size_t removed;
    } rows[] = {
        {"the only entry", "corvflt\0\0"s, "corvflt", "\0"s, 1},
        {"first of several", "corvflt\0kbdclass\0\0"s, "corvflt", "kbdclass\0\0"s, 1},
        {"last of several", "kbdclass\0corvflt\0\0"s, "corvflt", "kbdclass\0\0"s, 1},
        {"twice, once in another case", "CorvFlt\0kbdclass\0corvflt\0\0"s, "corvflt",
         "kbdclass\0\0"s, 2},
        {"twice in a row", "corvflt\0CORVFLT\0mouclass\0\0"s, "corvflt", "mouclass\0\0"s, 2},
        {"a longer name that begins with it", "corvfltx\0kbdclass\0\0"s, "corvflt",
         "corvfltx\0kbdclass\0\0"s, 0},
        {"a shorter name that it begins with", "corv\0kbdclass\0\0"s, "corvflt",
         "corv\0kbdclass\0\0"s, 0},
        {"after the list's end", "kbdclass\0\0corvflt\0\0"s, "corvflt", "kbdclass\0\0corvflt\0\0"s,
         0},
        {"no final empty string", "kbdclass\0corvflt\0"s, "corvflt", "kbdclass\0"s, 1},
        {"last string cut off by the data's end", "kbdclass\0corvflt"s, "corvflt", "kbdclass\0"s,
         1},
        {"cut-off string shorter than the name", "kbdclass\0corv"s, "corvflt", "kbdclass\0corv"s,
         0},
        {"an empty name", "kbdclass\0\0"s, "", "kbdclass\0\0"s, 0},
        {"no data", ""s, "corvflt", ""s, 0},
        // Only ASCII letters fold, as the registry compares driver names.
        {"letters beyond ASCII as they are", "corv\xC9\0\0"s, "corv\xE9", "corv\xC9\0\0"s, 0},
    };
    for (const auto& row : rows) {
        std::string data = row.before;
        EXPECT_EQ(RemoveFromMultiString(data, row.name), row.removed) << row.what;
        EXPECT_EQ(data, row.after) << row.what;
    }
    // Longer than the 256 bytes of the first registry read.
    std::string before, expected;
    for (int index = 0; index < 40; ++index) {
        const std::string name = "filter" + std::to_string(index) + '\0';
        before += name + (index == 20 || index == 39 ? "CORVFLT\0"s : "");
        expected += name;
    }
    EXPECT_EQ(RemoveFromMultiString(before += '\0', "corvflt"), 2u);
    EXPECT_EQ(before, expected + '\0');
}

// Looking a hardware id up in a device's list: whole ids, byte for byte.
TEST(MultiStringContains, MatchesWholeIdsByteForByte) {
    const struct {
        const char* what;
        std::string ids;
        const char* id;
        bool contained;
    } rows[] = {
        {"first id", "USB\\VID_1234&PID_5678\0USB\\VID_1234\0\0"s, "USB\\VID_1234&PID_5678", true},
        {"second id", "USB\\VID_1234&PID_5678\0USB\\VID_1234\0\0"s, "USB\\VID_1234", true},
        {"another letter case", "USB\\VID_12AB\0\0"s, "usb\\vid_12ab", false},
        {"a prefix of an id", "USB\\VID_1234&PID_5678\0\0"s, "USB\\VID_1234", false},
        {"an id with more at its end", "USB\\VID_1234\0\0"s, "USB\\VID_1234&PID_5678", false},
        {"after the list's end", "ROOT\\A\0\0ROOT\\B\0\0"s, "ROOT\\B", false},
        {"last id without terminator", "ROOT\\A\0ROOT\\B"s, "ROOT\\B", true},
        {"cut-off id shorter than the one asked for", "ROOT\\A\0ROOT\\B"s, "ROOT\\BC", false},
        {"an empty id", "ROOT\\A\0\0"s, "", false},
        {"no data", ""s, "ROOT\\A", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MultiStringContains(row.ids.data(), row.ids.size(), row.id), row.contained)
            << row.what;
    }
    // The id continues in memory beyond the size given.
    EXPECT_FALSE(MultiStringContains("ROOT\\ABC", 6, "ROOT\\ABC"));
    EXPECT_TRUE(MultiStringContains("ROOT\\ABC", 6, "ROOT\\A"));
    EXPECT_FALSE(MultiStringContains(nullptr, 0, "ROOT\\A"));
}

} // namespace
