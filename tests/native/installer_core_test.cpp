// The setup program's pure parts: the command line, the installed version that stops it,
// version classes, file names, journal rules, string lists, what a child installer changed
// and which device log the SetupAPI capture watches.
#include "command_line.h"
#include "file_names.h"
#include "installed_version.h"
#include "install_journal.h"
#include "multi_strings.h"
#include "os_version.h"
#include "setupapi_log_rules.h"
#include "system_changes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using List = std::vector<std::string>;

// Payload variants are keyed by the class number: a wrong one installs the wrong driver.
TEST(ClassifyWindowsVersion, GivesTheClassAndTheVerdict) {
    const struct {
        unsigned major, minor, servicePack;
        bool isWorkstation;
        int code;
        bool supported;
    } rows[] = {
        {4, 0, 6, true, -1, false}, {5, 0, 3, false, 0, false}, {5, 0, 4, true, 0, true},
        {5, 1, 0, true, 1, true},   {5, 2, 0, false, 2, true},  {5, 2, 2, true, 2, true},
        {5, 3, 0, true, -1, true},  {6, 0, 0, true, 3, true},   {6, 0, 1, false, 4, true},
        {6, 1, 1, true, 5, true},   {6, 1, 0, false, 6, true},  {6, 2, 0, true, 7, true},
        {6, 2, 0, false, 8, true},  {6, 3, 0, true, 9, true},   {6, 3, 0, false, 10, true},
        {6, 4, 0, true, -1, true},  {10, 0, 0, true, 11, true}, {10, 0, 0, false, 12, true},
        {10, 1, 0, true, 13, true}, {7, 0, 0, true, 13, true},
    };
    for (const auto& row : rows) {
        int code = 1234;
        EXPECT_EQ(
            ClassifyWindowsVersion(row.major, row.minor, row.servicePack, row.isWorkstation, &code),
            row.supported)
            << row.major << "." << row.minor << " SP" << row.servicePack;
        EXPECT_EQ(code, row.code) << row.major << "." << row.minor << " SP" << row.servicePack;
    }
}

// Clock fields run together unpadded; a name too long for a path buffer is refused, not cut.
TEST(FallbackTempName, RunsTheClockFieldsTogetherAndFitsAPathBuffer) {
    std::string name = "left over";
    ASSERT_TRUE(FormatFallbackTempName("C:\\Corvane", "hxvhub.sys", 7, 5, 32, &name));
    EXPECT_EQ(name, "C:\\Corvane\\hxvhub.sys-7532.tmp");
    // 245-byte folder, "\", 5-byte prefix and "-000.tmp" make 259 characters.
    const std::string folder = "C:\\" + std::string(242, 'f');
    ASSERT_TRUE(FormatFallbackTempName(folder, "abcde", 0, 0, 0, &name));
    EXPECT_EQ(name.size(), 259u);
    EXPECT_FALSE(FormatFallbackTempName(folder, "abcdef", 0, 0, 0, &name));
    EXPECT_TRUE(name.empty());
}

// Every empty created folder goes, inner first, each announced once; a user's file stays.
TEST(RemoveCreatedFolders, RemovesEveryEmptyFolderAndAnnouncesEachOnceInJournalOrder) {
    const struct {
        List created;
        std::set<std::string> others, remaining;
    } rows[] = {
        {{"C:\\A", "C:\\A\\B", "C:\\A\\B\\C"}, {}, {}},
        // A blank sorts before the backslash: a sibling comes between a folder and its insides.
        {{"C:\\App\\x86", "C:\\App Data", "C:\\App"}, {}, {}},
        {{"C:\\Corvane", "C:\\Corvane\\amd64", "C:\\Start\\Corvane"},
         {"C:\\Corvane\\amd64\\user.log", "C:\\Start"},
         {"C:\\Corvane", "C:\\Corvane\\amd64", "C:\\Corvane\\amd64\\user.log", "C:\\Start"}},
    };
    for (const auto& row : rows) {
        JournalEntryTable journal = {{"C:\\unrelated.dll", kJournalCreatedFile}};
        std::set<std::string> disk = row.others;
        for (const std::string& folder : row.created) {
            journal[folder] = kJournalCreatedDirectory;
            disk.insert(folder);
        }
        const List folders = JournalKeysOfKind(journal, kJournalCreatedDirectory);
        List announced;
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
        EXPECT_EQ(announced, folders) << row.created[0];
        EXPECT_EQ(disk, row.remaining) << row.created[0];
        EXPECT_LE(attempts, 2 * int(folders.size())) << "each is tried at most twice";
    }
}

// A second save kept would let rollback write back the value the installation changed.
TEST(AddSavedRegistryValue, KeepsTheFirstSaveOfEachValue) {
    RegistryBackupTable table;
    const std::string setup = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
    EXPECT_TRUE(AddSavedRegistryValue(table, setup, {"LogLevel", "\0\0\0\0"s, 4}));
    EXPECT_TRUE(AddSavedRegistryValue(table, setup, {"LogPath", "C:\\Windows", 1}));
    EXPECT_FALSE(AddSavedRegistryValue(table, setup, {"LogLevel", "\xFF\xFF\0\0"s, 4}));
    EXPECT_FALSE(AddSavedRegistryValue(table, setup, {"LOGPATH", "C:\\Temp", 1}));
    EXPECT_TRUE(AddSavedRegistryValue(table, "Software\\Other", {"LogLevel", "x", 1}));
    ASSERT_EQ(table.size(), 2u);
    const auto& saved = table.at(setup);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].data, "\0\0\0\0"s);
    EXPECT_EQ(saved[1].data, "C:\\Windows");
}

// A filter driver out of a class's upper filters, malformed registry data included.
TEST(RemoveFromMultiString, LeavesExactlyTheOtherStrings) {
    const struct {
        std::string before;
        const char* name;
        std::string after;
        size_t removed;
    } rows[] = {
        {"corvflt\0\0"s, "corvflt", "\0"s, 1},
        {"CorvFlt\0kbdclass\0corvflt\0\0"s, "corvflt", "kbdclass\0\0"s, 2},
        {"corvflt\0CORVFLT\0mouclass\0\0"s, "corvflt", "mouclass\0\0"s, 2},
        {"corvfltx\0corv\0\0"s, "corvflt", "corvfltx\0corv\0\0"s, 0},
        {"kbdclass\0\0corvflt\0\0"s, "corvflt", "kbdclass\0\0corvflt\0\0"s, 0},
        {"kbdclass\0corvflt"s, "corvflt", "kbdclass\0"s, 1},
        {"kbdclass\0corv"s, "corvflt", "kbdclass\0corv"s, 0},
        // Only ASCII letters fold, as the registry compares driver names.
        {"corv\xC9\0\0"s, "corv\xE9", "corv\xC9\0\0"s, 0},
    };
    for (const auto& row : rows) {
        std::string data = row.before;
        EXPECT_EQ(RemoveFromMultiString(data, row.name), row.removed) << row.before;
        EXPECT_EQ(data, row.after) << row.before;
    }
}

// Looking a hardware id up in a device's list: whole ids, byte for byte.
TEST(MultiStringContains, MatchesWholeIdsByteForByte) {
    const struct {
        std::string ids;
        const char* id;
        bool contained;
    } rows[] = {
        {"USB\\VID_1234&PID_5678\0USB\\VID_1234\0\0"s, "USB\\VID_1234", true},
        {"USB\\VID_12AB\0\0"s, "usb\\vid_12ab", false},
        {"USB\\VID_1234&PID_5678\0\0"s, "USB\\VID_1234", false},
        {"ROOT\\A\0\0ROOT\\B\0\0"s, "ROOT\\B", false},
        {"ROOT\\A\0ROOT\\B"s, "ROOT\\B", true},
        {"ROOT\\A\0ROOT\\B"s, "ROOT\\BC", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MultiStringContains(row.ids.data(), row.ids.size(), row.id), row.contained)
            << row.id;
    }
    // The id continues in memory beyond the size given.
    EXPECT_FALSE(MultiStringContains("ROOT\\ABC", 6, "ROOT\\ABC"));
    EXPECT_FALSE(MultiStringContains(nullptr, 0, "ROOT\\A"));
    // A class's filters read as a list: up to the first empty string, a cut-off last one kept.
    const std::string filters = "kbdclass\0corvflt\0\0after\0\0"s;
    EXPECT_EQ(SplitMultiString(filters.data(), filters.size()), (List{"kbdclass", "corvflt"}));
    EXPECT_EQ(SplitMultiString("kbdclass\0corv", 13), (List{"kbdclass", "corv"}));
}

// What the child installer added, and only that, reaches the journal; the real installation
// of a driver package is the Windows tests' part, the letter case and the devices are here.
TEST(CompareSystemFacts, FindsWhatCameInBetween) {
    const std::string usb = "{36FC9E60-C465-11CF-8056-444553540000}";
    const std::string catalogs = "C:\\Windows\\system32\\catroot\\{F750E6C3}";
    SystemFacts before;
    before.services = {"Eventlog", "corvanewssrv"};
    before.classFilters = {{usb, {"kbdfilter"}}};
    before.driverStoreFiles = {"C:\\Windows\\inf\\oem1.inf"};
    before.devices = {{"ROOT\\SYSTEM\\0000", {"ROOT\\OLDBUS"}}};
    SystemFacts after;
    after.services = {"eventlog", "hxvhub", "CORVANEWSSRV"};
    after.classFilters = {
        {"{36fc9e60-c465-11cf-8056-444553540000}", {"KbdFilter", "hxvhub", "hxvhub"}}};
    after.driverStoreFiles = {"C:\\Windows\\INF\\OEM1.INF", "C:\\Windows\\inf\\oem2.inf",
                              catalogs + "\\oem2.cat"};
    after.driverStoreFolders = {catalogs};
    after.devices = {
        {"ROOT\\HXVHUBBUS\\0000", {"ROOT\\HXVHUBBUS", "ROOT\\BUS"}},
        {"ROOT\\HXVHUBBUS\\0001", {"ROOT\\HXVHUBBUS"}}, // the same id once
        {"ROOT\\SYSTEM\\0001", {"root\\oldbus"}},       // an id there before
        {"USB\\VID_2\\7", {"USB\\VID_2"}},              // plugged in meanwhile
        {"ROOT\\NOIDS\\0000", {}},
    };
    const SystemChanges changes = CompareSystemFacts(before, after);
    EXPECT_EQ(changes.services, List{"hxvhub"});
    EXPECT_EQ(changes.classFilters, (std::vector<std::pair<std::string, std::string>>{
                                        {"{36fc9e60-c465-11cf-8056-444553540000}", "hxvhub"}}));
    EXPECT_EQ(changes.driverStoreInfs, List{"C:\\Windows\\inf\\oem2.inf"});
    EXPECT_EQ(changes.driverStoreFiles, List{catalogs + "\\oem2.cat"});
    EXPECT_EQ(changes.driverStoreFolders, List{catalogs});
    EXPECT_EQ(changes.deviceIds, List{"ROOT\\HXVHUBBUS"});
    // A class whose key did not exist before.
    before.classFilters.clear();
    EXPECT_EQ(CompareSystemFacts(before, after).classFilters.size(), 2u);
}

// A folder kept only by files the restart deletes must follow them, inner folders first.
TEST(FoldersToRemoveAtRestart, FollowsWhatGoesAtTheRestartInnermostFirst) {
    const List folders = {"C:\\Corvane", "C:\\Corvane\\amd64", "C:\\Menu\\Corvane"};
    EXPECT_EQ(FoldersToRemoveAtRestart(folders, {"C:\\Corvane\\amd64\\hxvhub.sys"}),
              (List{"C:\\Corvane\\amd64", "C:\\Corvane"}));
    EXPECT_EQ(FoldersToRemoveAtRestart(folders, {"c:\\corvane\\corvanews.exe"}),
              (List{"C:\\Corvane"}));
    EXPECT_EQ(FoldersToRemoveAtRestart(folders, {"C:\\Corvane2\\x.exe", "C:\\Corvane"}), List{})
        << "a sibling's file, or the folder itself, keeps nothing";
}

TEST(ChooseSetupApiLog, PicksTheLogAndLevel) {
    const std::string logs("D:\\Logs\0", 8), logsWithoutZero("D:\\Logs"),
        path260(std::string(259, 'p') + '\0'), path261(std::string(260, 'p') + '\0');
    const struct {
        unsigned major;
        const char* windowsFolder;
        const std::string* logPath; // null: no LogPath value
        std::string expectedPath;
        uint32_t expectedLevel;
    } rows[] = {
        // Before Vista there is no LogPath: a value left by someone is ignored.
        {5, "C:\\WINDOWS", &logs, "C:\\WINDOWS\\setupapi.log", 0xFFFF},
        {6, "C:\\Windows", nullptr, "C:\\Windows\\inf\\setupapi.dev.log", 0x5050},
        {6, "C:\\Windows", &logsWithoutZero, "D:\\Logs\\setupapi.dev.log", 0x5050},
        {6, "C:\\Windows", &path260, std::string(259, 'p') + "\\setupapi.dev.log", 0x5050},
        // Too long for a path: nothing is watched rather than a cut path.
        {6, "C:\\Windows", &path261, "", 0x5050},
    };
    for (const auto& row : rows) {
        const SetupApiLogChoice choice =
            ChooseSetupApiLog(row.major, row.windowsFolder, row.logPath);
        EXPECT_EQ(choice.path, row.expectedPath) << row.windowsFolder;
        EXPECT_EQ(choice.level, row.expectedLevel) << row.windowsFolder;
    }
}

// Only a modest growth is copied; sizes past 4 GiB are compared whole.
TEST(CapturedGrowth, CopiesOnlyAModestGrowth) {
    EXPECT_EQ(CapturedGrowth(1000, 1500), 500u);
    EXPECT_EQ(CapturedGrowth(1000, 10), 0u);
    EXPECT_EQ(CapturedGrowth(7, 7 + 0x1FFFFF), 0x1FFFFFu);
    EXPECT_EQ(CapturedGrowth(7, 7 + 0x200000), 0u);
    EXPECT_EQ(CapturedGrowth(0xFFFFFFF0ull, 0x100000010ull), 0x20u);
}

using Tokens = std::vector<std::string>;

// The quoted join of any tokens splitting back to them is the fuzzer's check.
TEST(SplitCommandLine, GivesTheExpectedTokens) {
    const struct {
        const char* text;
        Tokens expected;
    } cases[] = {
        {" \t\r\n ", {}},
        {"\"C:\\Users\\Jo Doe\\setup.exe\" -silent", {"C:\\Users\\Jo Doe\\setup.exe", "-silent"}},
        {"a\tb\rc\nd  e", {"a", "b", "c", "d", "e"}},
        {"setup.exe -directory \"\"", {"setup.exe", "-directory", ""}},
        {"\"a b\tc\r\nd\"", {"a b\tc\r\nd"}},
        {"C:\\\"Program Files\"\\x", {"C:\\Program Files\\x"}},
        {"-directory \"C:\\My Folder -silent", {"-directory", "C:\\My Folder -silent"}},
        {"\"C:\\dir\\\" -silent", {"C:\\dir\\", "-silent"}}, // no escape character
        {"\xE4\xF6 \xA0x", {"\xE4\xF6", "\xA0x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.text), c.expected) << c.text;
    }
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

std::string Describe(const CommandLineOptions& o) {
    std::string text;
    const std::pair<bool, const char*> flags[] = {{o.setupApiLog, "setupapi-log"},
                                                  {o.unpack, "unpack"},
                                                  {o.silent, "silent"},
                                                  {o.showMessages, "im"},
                                                  {o.noRestart, "norestart"},
                                                  {o.licenseAccept, "licenseaccept"}};
    for (const auto& [on, name] : flags) {
        text += on ? std::string(name) + " " : "";
    }
    return text + "directory=" + o.directory;
}

// Split and parsed together, as the program does with GetCommandLineA().
TEST(ParseCommandLine, RecognisesTheExpectedOptions) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", "directory="},
        {"setup.exe -setupapi-log -unpack -silent -im -norestart -licenseaccept",
         "setupapi-log unpack silent im norestart licenseaccept directory="},
        {"setup.exe -im", "im directory="},
        {"setup.exe -SILENT -LicenseAccept -DiReCtOrY D:\\Apps",
         "silent licenseaccept directory=D:\\Apps"},
        {"-silent", "silent directory="}, // the program's own token is compared too
        {"setup.exe -silen -silentx -im=1 \"-silent \" silent /silent -log", "directory="},
        {"setup.exe -s\xC4\xB0lent -\xC3\x8Dm", "directory="},
        {"setup.exe -directory \"C:\\Program Files\\Corvane X\" -licenseaccept",
         "licenseaccept directory=C:\\Program Files\\Corvane X"},
        {"setup.exe -directory \"\" -silent", "silent directory="},
        {"setup.exe -directory -silent", "directory=-silent"},
        {"setup.exe -directory C:\\a -directory C:\\b", "directory=C:\\b"},
        {"setup.exe -directory C:\\a -directory \"\"", "directory=C:\\a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Describe(ParseCommandLine(SplitCommandLine(c.text))), c.expected) << c.text;
    }
}

TEST(InstalledVersion, StopsTheSetupOnlyForANewerVersion) {
    // The value's bytes as stored: a REG_SZ holds its text and a zero.
    const struct {
        std::string stored;
        bool newer;
    } rows[] = {
        {"3.12.0.9999\0"s, false}, // the fourth number does not count
        {"3.13.0.1\0"s, true},
        {"4.0.0.0\0"s, true},
        {"3.12.1.0\0"s, true},
        {"3.12\0"s, false}, // no build number: 0, the same version
        {"3.12.1\0"s, true},
        {"4\0"s, false},
        {" 4. 0.0.0 beta\0"s, true},
        {"-4.0.0.0\0"s, false},
        {"99999999999.0\0"s, true},
        {"3.12\0009.9\0"s, false}, // the text ends at its first zero byte
        {"4.0.0.0", true},         // stored without its zero
        // The longest value read is 63 bytes: 63 characters and their zero make 64.
        {"4.0.0.0" + std::string(55, ' ') + '\0', true},
        {"4.0.0.0" + std::string(56, ' ') + '\0', false},
        {"4.0.0.0" + std::string(56, ' '), true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsNewerVersionInstalled(row.stored.data(), row.stored.size(), "3.12.0.3230"),
                  row.newer)
            << row.stored;
    }
    // Our own version needs two numbers too.
    EXPECT_FALSE(IsNewerVersionInstalled("4.0.0.0", 7, "4"));
    EXPECT_TRUE(IsNewerVersionInstalled("4.0.0.0", 7, "3.12"));
}

} // namespace
