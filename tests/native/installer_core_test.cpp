// The installer's pure parts: version classes, file names, journal rules, string lists,
// folder paths and who can change them, and what a child installer changed.
#include "file_names.h"
#include "folder_access.h"
#include "folder_path.h"
#include "install_journal.h"
#include "multi_strings.h"
#include "os_version.h"
#include "system_changes.h"

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
    // A class's filters read as a list: up to the first empty string, a cut-off last one kept.
    using List = std::vector<std::string>;
    const std::string filters = "kbdclass\0corvflt\0\0after\0\0"s;
    EXPECT_EQ(SplitMultiString(filters.data(), filters.size()), (List{"kbdclass", "corvflt"}));
    EXPECT_EQ(SplitMultiString("kbdclass\0corv", 13), (List{"kbdclass", "corv"}));
    EXPECT_EQ(SplitMultiString(nullptr, 4), List{});
}

// Every record and the registration are built from the install folder: it must be full,
// with single separators, and fit every path the engine writes below it.
TEST(ResolveFolderPath, MakesTheFolderFullOrSaysWhyNot) {
    using P = FolderPathProblem;
    const std::string current = "C:\\Users\\admin\\Downloads";
    const struct {
        const char* text;
        const char* path; // expected path; null when refused
        P problem;
    } rows[] = {
        {"C:\\Program Files\\Corvane", "C:\\Program Files\\Corvane", P::kNone},
        {"C:\\Program Files\\Corvane\\", "C:\\Program Files\\Corvane", P::kNone},
        {"C:\\Program Files\\\\Corvane\\\\\\", "C:\\Program Files\\Corvane", P::kNone},
        {"c:/Tools/Corvane/", "c:\\Tools\\Corvane", P::kNone},
        {"Corvane", "C:\\Users\\admin\\Downloads\\Corvane", P::kNone},
        {".\\sub\\.\\Corvane", "C:\\Users\\admin\\Downloads\\sub\\Corvane", P::kNone},
        {"..\\..\\Corvane", "C:\\Users\\Corvane", P::kNone},
        {"\\Apps\\Corvane", "C:\\Apps\\Corvane", P::kNone},
        {"C:Corvane", "C:\\Users\\admin\\Downloads\\Corvane", P::kNone},
        {"D:Corvane", "D:\\Corvane", P::kNone},
        {"C:\\..\\..\\Corvane", "C:\\Corvane", P::kNone},
        {"C:\\Corvane. . ", "C:\\Corvane", P::kNone},
        {"\\\\server\\share\\Corvane\\", "\\\\server\\share\\Corvane", P::kNone},
        {"", nullptr, P::kEmpty},
        {"C:\\", nullptr, P::kDriveRoot},
        {"C:", nullptr, P::kNone}, // the current folder of its drive
        {"..\\..\\..\\..", nullptr, P::kDriveRoot},
        {"\\\\server\\share", nullptr, P::kDriveRoot},
        {"C:\\Pro|gram", nullptr, P::kInvalidName},
        {"C:\\a:b", nullptr, P::kInvalidName},
        {"C:\\Corvane\\NUL", nullptr, P::kInvalidName},
        {"C:\\com1.txt\\x", nullptr, P::kInvalidName},
        {"C:\\...", nullptr, P::kInvalidName},
        {"C:\\tab\there", nullptr, P::kInvalidName},
        {"\\\\?\\C:\\Corvane", nullptr, P::kInvalidName},
        {"\\\\.\\pipe\\x", nullptr, P::kInvalidName},
        {"\\\\server", nullptr, P::kInvalidName},
        {"1:\\Corvane", nullptr, P::kInvalidName},
    };
    for (const auto& row : rows) {
        const ResolvedFolderPath result = ResolveFolderPath(row.text, current, 200);
        const std::string expected =
            row.path ? row.path : (std::string(row.text) == "C:" ? current : "");
        EXPECT_EQ(result.problem, row.problem) << row.text;
        EXPECT_EQ(result.path, expected) << row.text;
    }
    // The length counts the full path; one byte more is refused.
    const std::string name(200 - current.size() - 1, 'n');
    EXPECT_EQ(ResolveFolderPath(name, current, 200).path.size(), 200u);
    EXPECT_EQ(ResolveFolderPath(name + "n", current, 200).problem, P::kTooLong);
    // Without a usable current folder a relative path has nothing to stand on.
    EXPECT_EQ(ResolveFolderPath("Corvane", "", 200).problem, P::kInvalidName);
    EXPECT_EQ(ResolveFolderPath("Corvane", "relative", 200).problem, P::kInvalidName);
}

// In a double-byte code page a character's second byte may be 0x5C or 0x7C: no separator,
// no forbidden character. (0x95 0x5C is one Shift-JIS character.)
TEST(ResolveFolderPath, StepsOverTwoByteCharacters) {
    const auto shiftJis = [](unsigned char byte) {
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    };
    const std::string table = "\x95\x5C";
    const std::string pipe = "\x95\x7C";
    EXPECT_EQ(ResolveFolderPath("C:\\" + table + "\\", "", 200, shiftJis).path, "C:\\" + table);
    EXPECT_EQ(ResolveFolderPath("C:\\" + pipe, "", 200, shiftJis).path, "C:\\" + pipe);
    // Without the code page's knowledge the same bytes are a separator and a '|'.
    EXPECT_EQ(ResolveFolderPath("C:\\" + table + "\\", "", 200).path, "C:\\\x95");
    EXPECT_EQ(ResolveFolderPath("C:\\" + pipe, "", 200).problem, FolderPathProblem::kInvalidName);
    EXPECT_EQ(ParentFolders("C:\\" + table + "\\x", shiftJis),
              (std::vector<std::string>{"C:\\" + table, "C:\\"}));
}

TEST(ParentFolders, GoesUpToTheRoot) {
    using List = std::vector<std::string>;
    EXPECT_EQ(ParentFolders("C:\\Tools\\Corvane\\x86"),
              (List{"C:\\Tools\\Corvane", "C:\\Tools", "C:\\"}));
    EXPECT_EQ(ParentFolders("C:\\Corvane"), (List{"C:\\"}));
    EXPECT_EQ(ParentFolders("\\\\server\\share\\Corvane"), (List{"\\\\server\\share\\"}));
    EXPECT_EQ(ParentFolders("Corvane"), List{});
}

// Anyone but the system, the administrators and the one running setup who may add to the
// install folder, or remove, rename or re-permission it or a folder above, can swap a
// program the elevated setup then starts.
TEST(StandardUsersCanChange, LooksForChangingRightsOfUntrustedAccountsOnly) {
    using R = FolderRole;
    constexpr uint32_t kReadExecute = 0x1200A9, kFull = 0x1F01FF, kModify = 0x1301BF;
    constexpr uint32_t kAddFile = 0x2, kDeleteChild = 0x40, kDelete = 0x10000, kWriteDac = 0x40000,
                       kGenericWrite = 0x40000000, kGenericAll = 0x10000000;
    const auto allow = [](bool trusted, uint32_t mask, bool inheritOnly = false) {
        FolderAccessEntry entry;
        entry.trusted = trusted;
        entry.mask = mask;
        entry.inheritOnly = inheritOnly;
        return entry;
    };
    FolderAccessEntry deny = allow(false, kFull);
    deny.allow = false;
    const struct {
        const char* what;
        FolderAccess access;
        bool installFolder, ancestor, root;
    } rows[] = {
        {"Program Files: users read and execute",
         {true, true, {allow(true, kFull), allow(false, kReadExecute)}},
         false,
         false,
         false},
        {"a user may add files",
         {true, true, {allow(false, kReadExecute | kAddFile)}},
         true,
         false,
         false},
        {"generic write", {true, true, {allow(false, kGenericWrite)}}, true, false, false},
        {"a user may delete the folder", {true, true, {allow(false, kDelete)}}, true, true, false},
        {"modify, as C:\\ gives its subfolders",
         {true, true, {allow(false, kModify)}},
         true,
         true,
         false},
        {"a user may delete what is inside",
         {true, true, {allow(false, kDeleteChild)}},
         true,
         true,
         true},
        {"a user may rewrite the access list",
         {true, true, {allow(false, kWriteDac)}},
         true,
         true,
         true},
        {"generic all", {true, true, {allow(false, kGenericAll)}}, true, true, true},
        {"only for what is created below",
         {true, true, {allow(false, kFull, true)}},
         false,
         false,
         false},
        {"a deny entry trusts nobody",
         {true, true, {deny, allow(false, kDelete)}},
         true,
         true,
         false},
        {"full control for trusted accounts only",
         {true, true, {allow(true, kFull)}},
         false,
         false,
         false},
        {"a user owns it", {false, true, {allow(true, kFull)}}, true, true, true},
        {"no access list at all", {true, false, {}}, true, true, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(StandardUsersCanChange(row.access, R::kInstallFolder), row.installFolder)
            << row.what;
        EXPECT_EQ(StandardUsersCanChange(row.access, R::kAncestor), row.ancestor) << row.what;
        EXPECT_EQ(StandardUsersCanChange(row.access, R::kVolumeRoot), row.root) << row.what;
    }
}

// What the child installer added, and only that, reaches the journal.
TEST(CompareSystemFacts, FindsWhatCameInBetween) {
    const std::string usb = "{36FC9E60-C465-11CF-8056-444553540000}";
    SystemFacts before;
    before.services = {"Eventlog", "corvanewssrv"};
    before.classFilters = {{usb, {"kbdfilter"}}};
    before.driverStoreFiles = {"C:\\Windows\\inf\\oem1.inf", "C:\\Windows\\inf\\oem1.pnf"};
    before.devices = {{"ROOT\\SYSTEM\\0000", {"ROOT\\OLDBUS"}}, {"USB\\VID_1\\5", {"USB\\VID_1"}}};
    SystemFacts after = before;
    after.services = {"eventlog", "hxvhub", "CORVANEWSSRV", "corvanewssrv2"};
    after.classFilters = {
        {"{36fc9e60-c465-11cf-8056-444553540000}", {"KbdFilter", "hxvhub", "hxvhub"}}};
    after.driverStoreFiles = {
        "C:\\Windows\\INF\\OEM1.INF", "C:\\Windows\\inf\\oem1.pnf", "C:\\Windows\\inf\\oem2.inf",
        "C:\\Windows\\inf\\oem2.pnf",
        "C:\\Windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem2.cat"};
    before.driverStoreFolders = {"C:\\Windows\\system32\\catroot"};
    after.driverStoreFolders = {
        "C:\\Windows\\system32\\catroot",
        "C:\\Windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}"};
    after.devices = {
        {"ROOT\\SYSTEM\\0000", {"ROOT\\OLDBUS"}},
        {"ROOT\\HXVHUBBUS\\0000", {"ROOT\\HXVHUBBUS", "ROOT\\BUS"}},
        {"ROOT\\HXVHUBBUS\\0001", {"ROOT\\HXVHUBBUS"}}, // the same id once
        {"ROOT\\SYSTEM\\0001", {"root\\oldbus"}},       // an id there before
        {"USB\\VID_2\\7", {"USB\\VID_2"}},              // plugged in meanwhile
        {"ROOT\\NOIDS\\0000", {}},
    };
    const SystemChanges changes = CompareSystemFacts(before, after);
    using List = std::vector<std::string>;
    EXPECT_EQ(changes.services, (List{"hxvhub", "corvanewssrv2"}));
    EXPECT_EQ(changes.classFilters, (std::vector<std::pair<std::string, std::string>>{
                                        {"{36fc9e60-c465-11cf-8056-444553540000}", "hxvhub"}}));
    EXPECT_EQ(changes.driverStoreInfs, (List{"C:\\Windows\\inf\\oem2.inf"}));
    EXPECT_EQ(
        changes.driverStoreFiles,
        (List{"C:\\Windows\\inf\\oem2.pnf",
              "C:\\Windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem2.cat"}));
    EXPECT_EQ(changes.driverStoreFolders,
              (List{"C:\\Windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}"}));
    EXPECT_EQ(changes.deviceIds, (List{"ROOT\\HXVHUBBUS"}));
    // A class whose key did not exist before.
    before.classFilters.clear();
    EXPECT_EQ(CompareSystemFacts(before, after).classFilters.size(), 2u);
    const SystemChanges none = CompareSystemFacts(after, after);
    EXPECT_TRUE(none.services.empty() && none.classFilters.empty() &&
                none.driverStoreInfs.empty() && none.driverStoreFiles.empty() &&
                none.driverStoreFolders.empty() && none.deviceIds.empty());
}

// A folder kept only by files the restart deletes must follow them, inner folders first.
TEST(FoldersToRemoveAtRestart, FollowsWhatGoesAtTheRestartInnermostFirst) {
    using List = std::vector<std::string>;
    const List folders = {"C:\\Corvane", "C:\\Corvane\\amd64", "C:\\Menu\\Corvane"};
    EXPECT_EQ(FoldersToRemoveAtRestart(folders, {"C:\\Corvane\\amd64\\hxvhub.sys"}),
              (List{"C:\\Corvane\\amd64", "C:\\Corvane"}));
    EXPECT_EQ(FoldersToRemoveAtRestart(folders, {"c:\\corvane\\corvanews.exe"}),
              (List{"C:\\Corvane"}));
    EXPECT_EQ(FoldersToRemoveAtRestart(folders, {"C:\\Corvane2\\x.exe", "C:\\Corvane"}), List{})
        << "a sibling's file, or the folder itself, keeps nothing";
    EXPECT_EQ(FoldersToRemoveAtRestart(folders, {}), List{});
}

} // namespace
