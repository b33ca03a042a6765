// The setup program's pure parts, on made-up journals, registry data and file systems; what
// they do to a real system is the Windows and end-to-end tests' part.
#include "command_line.h"
#include "destination_check.h"
#include "file_names.h"
#include "folder_access.h"
#include "folder_path.h"
#include "install_journal.h"
#include "installed_version.h"
#include "journal_file.h"
#include "multi_strings.h"
#include "notification_record.h"
#include "os_version.h"
#include "setupapi_log_rules.h"
#include "shift_jis.h"
#include "system_changes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using namespace corvane::process;
using List = std::vector<std::string>;
const std::string kUsbClass = "{36FC9E60-C465-11CF-8056-444553540000}";
const std::string kCatalogs =
    "C:\\windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";

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
    SystemFacts before;
    before.services = {"Eventlog", "corvanewssrv"};
    before.classFilters = {{kUsbClass, {"kbdfilter"}}};
    before.driverStoreFiles = {"C:\\Windows\\inf\\oem1.inf"};
    before.devices = {{"ROOT\\SYSTEM\\0000", {"ROOT\\OLDBUS"}}};
    SystemFacts after;
    after.services = {"eventlog", "hxvhub", "CORVANEWSSRV"};
    after.classFilters = {
        {"{36fc9e60-c465-11cf-8056-444553540000}", {"KbdFilter", "hxvhub", "hxvhub"}}};
    after.driverStoreFiles = {"C:\\Windows\\INF\\OEM1.INF", "C:\\Windows\\inf\\oem2.inf",
                              kCatalogs + "\\oem2.cat"};
    after.driverStoreFolders = {kCatalogs};
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
    EXPECT_EQ(changes.driverStoreFiles, List{kCatalogs + "\\oem2.cat"});
    EXPECT_EQ(changes.driverStoreFolders, List{kCatalogs});
    EXPECT_EQ(changes.deviceIds, List{"ROOT\\HXVHUBBUS"});
    // A class whose key did not exist before.
    before.classFilters.clear();
    EXPECT_EQ(CompareSystemFacts(before, after).classFilters.size(), 2u);
}

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
    EXPECT_EQ(CapturedGrowth(7, 7 + 0x1FFFFF), 0x1FFFFFu);
    EXPECT_EQ(CapturedGrowth(7, 7 + 0x200000), 0u);
    EXPECT_EQ(CapturedGrowth(0xFFFFFFF0ull, 0x100000010ull), 0x20u);
}

// The quoted join of any tokens splitting back to them is the fuzzer's check.
TEST(SplitCommandLine, GivesTheExpectedTokens) {
    const struct {
        const char* text;
        List expected;
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
        {"3.12\0"s, false}, // no build number: 0, the same version
        {"3.12.1\0"s, true},
        {"4\0"s, false},
        {" 4. 0.0.0 beta\0"s, true},
        {"-4.0.0.0\0"s, false},
        {"99999999999.0\0"s, true},
        {"3.12\0009.9\0"s, false}, // the text ends at its first zero byte
        {"4.0.0.0", true},         // stored without its zero
        // The longest value read is 63 bytes (with its zero, the Windows test's case).
        {"4.0.0.0" + std::string(56, ' '), true},
        {"4.0.0.0" + std::string(57, ' '), false},
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

const std::string kFolder = "C:\\Program Files\\Corvane RDP Edition - Workstation";
const std::string kPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
const std::string kMenu = kPrograms + "\\Corvane RDP Edition - Workstation";
const std::string kDesktop = "C:\\Users\\Public\\Desktop";
const std::string kQuickLaunch =
    "C:\\Users\\admin\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
const std::string kCode = "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}";
const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCode;
const MachinePlaces kMachine{kCode, kUninstall, "C:\\windows", kPrograms, kDesktop, {kUsbClass}};

JournalRecord Begin() {
    return MakeJournalRecord(kRecordBegin, {kCode, kFolder, kMenu, kDesktop, kQuickLaunch});
}

// An installation over an earlier one's readme, stopped after its registration. What a
// child installer changes is recorded as one record, replayed below.
std::vector<JournalRecord> TypicalRecords() {
    return {
        Begin(),
        MakeJournalRecord(kRecordCreatedFolder, {kFolder + "\\amd64"}),
        MakeJournalRecord(kRecordBackupStarted,
                          {kFolder + "\\readme.txt", kFolder + "\\rea1F.tmp"}),
        MakeJournalRecord(kRecordOverwriteStarted, {kFolder + "\\readme.txt"}),
        MakeJournalRecord(kRecordCreatedFile, {kFolder + "\\hxv2.tmp"}),
        MakeJournalRecord(kRecordRestartReplacement,
                          {kFolder + "\\hxv2.tmp", kFolder + "\\hxvsrv.exe"}),
        MakeJournalRecord(kRecordInfInstall, {kFolder + "\\hxvhub.inf"}),
        MakeJournalRecord(kRecordCitrixRegistered, {}),
        MakeJournalRecord(kRecordBackupStarted,
                          {kQuickLaunch + "\\Corvane.lnk", kQuickLaunch + "\\Cor3.tmp"}),
        MakeJournalRecord(kRecordRegistryKeyCreated, {kUninstall}),
        MakeJournalRecord(kRecordRegistryValueSaved,
                          {kUninstall, "DisplayName", EncodeJournalNumber(1), "old\0"s}),
        MakeJournalRecord(kRecordRegistryValueAbsent, {kUninstall, "Publisher"}),
    };
}

std::string FileOf(const std::vector<JournalRecord>& records) {
    std::string bytes = EncodeJournalHeader();
    for (const JournalRecord& record : records) {
        bytes += EncodeJournalRecord(record);
    }
    return bytes;
}

SystemChanges ChildChanges() {
    SystemChanges changes;
    changes.services = {"hxvhub"};
    changes.classFilters = {{kUsbClass, "hxvhub"}};
    changes.driverStoreInfs = {"C:\\windows\\inf\\oem1.inf"};
    changes.driverStoreFiles = {kCatalogs + "\\oem1.cat"};
    changes.driverStoreFolders = {kCatalogs};
    changes.deviceIds = {"ROOT\\HXVHUBBUS"};
    return changes;
}

// What a real installation writes is replayed and compared with the installer's own tables
// under Wine; here the rules those runs rarely meet. A backup whose target may have been
// touched is put back, one still being copied only removed; a folder someone else made
// before its creation came is never removed.
TEST(JournalFile, ReplaysIntoTheTablesRollbackWalks) {
    ReplayedJournal journal;
    std::string problem;
    ASSERT_TRUE(ReplayJournal(TypicalRecords(), &journal, &problem)) << problem;
    EXPECT_EQ(journal.places.installFolder, kFolder);
    EXPECT_EQ(journal.entries.at(kFolder + "\\hxvhub.inf"), kJournalInfFile);
    EXPECT_EQ(journal.unfinishedBackups,
              (FileBackupTable{{kQuickLaunch + "\\Corvane.lnk", kQuickLaunch + "\\Cor3.tmp"}}));
    ASSERT_EQ(journal.registry.at(kUninstall).size(), 2u);
    EXPECT_EQ(journal.registry.at(kUninstall)[0].data, "old\0"s);
    EXPECT_TRUE(journal.registry.at(kUninstall)[1].absent);
    EXPECT_TRUE(journal.citrixRegistered);
    EXPECT_FALSE(journal.rollbackStarted || journal.committed);

    // The child installer's changes come in one record once it ended, after the facts from
    // before it; each becomes what rollback undoes of its kind.
    SystemFacts before;
    before.services = {"Eventlog", "PlugPlay"};
    ASSERT_TRUE(ReplayJournal({Begin(),
                               MakeJournalRecord(kRecordCreatedFolder, {kFolder}),
                               MakeJournalRecord(kRecordWithdrawn, {kFolder}),
                               {kRecordChildStarting, 0, EncodeSystemFacts(before)},
                               {kRecordChildChanges, 0, EncodeSystemChanges(ChildChanges())},
                               MakeJournalRecord(kRecordRollbackStarted, {}),
                               MakeJournalRecord(kRecordCommitted, {})},
                              &journal, &problem))
        << problem;
    EXPECT_EQ(journal.entries, (JournalEntryTable{
                                   {"hxvhub", kJournalService},
                                   {"C:\\windows\\inf\\oem1.inf", kJournalDriverStoreInf},
                                   {kCatalogs + "\\oem1.cat", kJournalCreatedFile},
                                   {kCatalogs, kJournalCreatedDirectory},
                                   {"ROOT\\HXVHUBBUS", kJournalDevice},
                               }));
    EXPECT_EQ(journal.classFilters, (std::map<std::string, std::string>{{kUsbClass, "hxvhub"}}));
    EXPECT_FALSE(journal.childRunning);
    EXPECT_TRUE(journal.rollbackStarted && journal.committed);
    EXPECT_TRUE(CheckJournalPlaces(journal, kMachine, &problem)) << problem;
}

// Whatever a power cut leaves of the last record, nothing is taken for damage.
TEST(JournalFile, ACutAnywhereKeepsTheWholeRecordsBeforeIt) {
    const std::vector<JournalRecord> records = TypicalRecords();
    const std::string bytes = FileOf(records);
    std::vector<size_t> ends = {EncodeJournalHeader().size()};
    for (const JournalRecord& record : records) {
        ends.push_back(ends.back() + EncodeJournalRecord(record).size());
    }
    for (size_t length = 0; length <= bytes.size(); ++length) {
        const DecodedJournal cut = DecodeJournalFile(std::string_view(bytes).substr(0, length));
        ASSERT_EQ(cut.problem, "") << length;
        size_t whole = 0;
        while (whole + 1 < ends.size() && ends[whole + 1] <= length) {
            ++whole;
        }
        ASSERT_EQ(cut.records.size(), whole) << length;
        EXPECT_EQ(cut.unfinishedTail, length != ends[whole]) << length;
        if (length >= ends[0]) {
            EXPECT_EQ(cut.wholeBytes, ends[whole]) << length;
        }
    }
    // Room the system gave the file before a crash but never wrote.
    const DecodedJournal zeros = DecodeJournalFile(bytes + std::string(300, '\0'));
    EXPECT_EQ(zeros.problem, "");
    EXPECT_EQ(zeros.records.size(), records.size());
}

TEST(JournalFile, DamageBeforeTheLastRecordRefusesTheWholeFile) {
    const std::string good = FileOf(TypicalRecords());
    const size_t header = EncodeJournalHeader().size();
    const size_t lastStart = good.size() - EncodeJournalRecord(TypicalRecords().back()).size();
    const auto changed = [&good](size_t at, char byte) {
        std::string bytes = good;
        bytes[at] = byte;
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
        bool damaged;
    } rows[] = {
        {"a flipped bit in the first record", changed(header + 10, good[header + 10] ^ 0x20), true},
        {"a flipped bit in a middle record", changed(lastStart - 5, good[lastStart - 5] ^ 1), true},
        {"an impossible size in the middle", changed(header + 3, '\x7F'), true},
        {"another signature", changed(0, 'X'), true},
        {"another format version", changed(8, 2), true},
        {"a few bytes of something else", "MZ\x90"s, true},
        {"a flipped bit in the last record (its write was cut)",
         changed(good.size() - 6, good[good.size() - 6] ^ 1), false},
    };
    for (const auto& row : rows) {
        const DecodedJournal decoded = DecodeJournalFile(row.bytes);
        EXPECT_EQ(!decoded.problem.empty(), row.damaged) << row.what;
    }
}

TEST(JournalFile, ReplayRefusesRecordsThatAreNoInstallation) {
    JournalRecord skippable = MakeJournalRecord(200, {"x"});
    skippable.flags = kRecordMaySkip;
    std::vector<std::string> filterWithoutClass = EncodeSystemChanges(ChildChanges());
    filterWithoutClass[1] = "hxvhub";
    std::vector<std::string> fieldMissing = EncodeSystemChanges(ChildChanges());
    fieldMissing.pop_back();
    const struct {
        const char* what;
        std::vector<JournalRecord> records;
        bool accepted;
    } rows[] = {
        {"nothing", {}, false},
        {"no beginning", {MakeJournalRecord(kRecordCreatedFile, {kFolder + "\\a"})}, false},
        {"a second beginning", {Begin(), Begin()}, false},
        {"an overwrite without its backup",
         {Begin(), MakeJournalRecord(kRecordOverwriteStarted, {kFolder + "\\readme.txt"})},
         false},
        {"a registry type of 3 bytes",
         {Begin(), MakeJournalRecord(kRecordRegistryValueSaved, {kUninstall, "a", "123", ""})},
         false},
        {"a kind this program does not know", {Begin(), MakeJournalRecord(200, {"x"})}, false},
        {"a kind it does not know but may pass over", {Begin(), skippable}, true},
        {"a child's filter without its class",
         {Begin(), {kRecordChildChanges, 0, filterWithoutClass}},
         false},
        {"a child's changes with a field missing",
         {Begin(), {kRecordChildChanges, 0, fieldMissing}},
         false},
    };
    for (const auto& row : rows) {
        ReplayedJournal journal;
        std::string problem;
        EXPECT_EQ(ReplayJournal(row.records, &journal, &problem), row.accepted) << row.what;
        EXPECT_EQ(problem.empty(), row.accepted) << row.what << ": " << problem;
    }
}

TEST(JournalFile, PlacesOutsideTheInstallationAreRefused) {
    using Change = std::function<void(ReplayedJournal&)>;
    const auto entry = [](const std::string& path, int32_t kind = kJournalCreatedFile) {
        return Change([=](ReplayedJournal& j) { j.entries[path] = kind; });
    };
    const auto backup = [](const std::string& copy) {
        return Change([=](ReplayedJournal& j) { j.backups[kFolder + "\\readme.txt"] = copy; });
    };
    const auto installedIn = [](const std::string& path) {
        return Change([path](ReplayedJournal& j) { j.places.installFolder = path; });
    };
    const struct {
        Change change;
        bool accepted;
    } rows[] = {
        {entry(kFolder + "\\x86\\hxvhub.sys"), true},
        {entry(kDesktop + "\\Corvane.lnk"), true},
        {entry(kFolder, kJournalCreatedDirectory), true},
        {installedIn("\\\\server\\share\\Corvane"), true},
        {entry("C:\\Windows\\System32\\kernel32.dll"), false},
        {entry(kFolder + "\\..\\..\\Windows\\win.ini"), false},
        {entry(kDesktop + "\\evil.exe"), false},
        {backup(kFolder + "\\rea1.tmp"), true},
        {backup(kFolder + "\\readme.txt"), false},
        {installedIn("D:"), false},
        {installedIn("C:\\"), false},
        {[](ReplayedJournal& j) { j.places.productCode = "{0}"; }, false},
        {[](ReplayedJournal& j) { j.places.startMenuFolder = "C:\\Windows"; }, false},
        {[](ReplayedJournal& j) { j.places.startMenuFolder = kPrograms; }, false},
        {entry("Software\\Microsoft\\Windows", kJournalRegistryKey), false},
        {[](ReplayedJournal& j) {
             AddSavedRegistryValue(j.registry, "System\\CurrentControlSet", {"x", "", 1});
         },
         false},
        {entry("corvanewssrv", kJournalService), true},
        {entry("..\\corvane", kJournalService), false},
        {entry("C:\\windows\\inf\\oem12.pnf"), true},
        {entry(kCatalogs + "\\evil.exe"), false},
        {[](ReplayedJournal& j) { j.classFilters[kUsbClass] = "hxvhub"; }, true},
        {[](ReplayedJournal& j) {
             j.classFilters["{4D36E967-E325-11CE-BFC1-08002BE10318}"] = "hxvhub";
         },
         false},
        {[](ReplayedJournal& j) {
             j.restartReplacements.push_back({kFolder + "\\a.tmp", "C:\\Windows\\a.dll"});
         },
         false},
    };
    for (size_t row = 0; row < std::size(rows); ++row) {
        ReplayedJournal journal;
        std::string problem;
        ASSERT_TRUE(ReplayJournal({Begin()}, &journal, &problem));
        rows[row].change(journal);
        EXPECT_EQ(CheckJournalPlaces(journal, kMachine, &problem), rows[row].accepted)
            << "row " << row << ": " << problem;
    }
}

// The restart-time replacement of a file in use is called off again by
// rollback; the system's other restart-time work stays as it was.
TEST(RemoveRenameOperation, TakesOnlyThatPairOffTheList) {
    const struct {
        std::string before, after;
        size_t removed;
    } rows[] = {
        {"\\??\\C:\\x\0\0\\??\\C:\\a.tmp\0!\\??\\C:\\a.exe\0\\??\\C:\\y\0\\??\\C:\\z\0\0"s,
         "\\??\\C:\\x\0\0\\??\\C:\\y\0\\??\\C:\\z\0\0"s, 1},
        {"\\??\\c:\\A.TMP\0\\??\\c:\\a.EXE\0\0"s, "\0"s, 1}, // other letter case, without '!'
        {"\\??\\C:\\a.tmp\0!\\??\\C:\\b.exe\0\0"s, "\\??\\C:\\a.tmp\0!\\??\\C:\\b.exe\0\0"s, 0},
        {"\\??\\C:\\a.tmp\0\0\0"s, "\\??\\C:\\a.tmp\0\0\0"s, 0}, // its deletion, not its move
        {""s, ""s, 0},
    };
    for (size_t row = 0; row < std::size(rows); ++row) {
        std::string data = rows[row].before;
        EXPECT_EQ(RemoveRenameOperation(data, "C:\\a.tmp", "C:\\a.exe"), rows[row].removed) << row;
        EXPECT_EQ(data, rows[row].after) << row;
    }
}

TEST(ChildProgressGoal, StaysBelowThePagesEnd) {
    EXPECT_EQ(ChildProgressGoal(40), 40);
    EXPECT_EQ(ChildProgressGoal(99), 99);
    EXPECT_EQ(ChildProgressGoal(100), 99);
    EXPECT_EQ(ChildProgressGoal(0xFFFFFFFF), 99);
}

// Every record and the registration are built from the install folder. In a double-byte code
// page a second byte 0x5C or 0x7C is no separator and no forbidden character; a lead byte with
// nothing after it, ending the typed or the current folder, would swallow the next separator.
TEST(ResolveFolderPath, MakesTheFolderFullOrSaysWhyNot) {
    using P = FolderPathProblem;
    constexpr const char* kCurrent = "C:\\Users\\admin\\Downloads";
    const struct {
        const char* text;
        const char* path; // expected path; null when refused
        P problem;
        bool shiftJis = false;
        const char* current = kCurrent;
    } rows[] = {
        {"C:\\Program Files\\\\Corvane\\\\\\", "C:\\Program Files\\Corvane", P::kNone},
        {".\\sub\\.\\Corvane", "C:\\Users\\admin\\Downloads\\sub\\Corvane", P::kNone},
        {"..\\..\\Corvane", "C:\\Users\\Corvane", P::kNone},
        {"C:Corvane", "C:\\Users\\admin\\Downloads\\Corvane", P::kNone},
        {"D:Corvane", "D:\\Corvane", P::kNone},
        {"C:\\Corvane. . ", "C:\\Corvane", P::kNone},
        {"\\\\server\\share\\Corvane\\", "\\\\server\\share\\Corvane", P::kNone},
        {"", nullptr, P::kEmpty},
        {"\\\\server\\share", nullptr, P::kDriveRoot},
        {"C:\\com1.txt\\x", nullptr, P::kInvalidName},
        {"\\\\?\\C:\\Corvane", nullptr, P::kInvalidName},
        // Without a usable current folder a relative path has nothing to stand on.
        {"Corvane", nullptr, P::kInvalidName, false, "relative"},
        {"C:\\\x95\x5C\\", "C:\\\x95\x5C", P::kNone, true},
        {"C:\\\x95\x7C", "C:\\\x95\x7C", P::kNone, true},
        // Without the code page's knowledge the same bytes are a separator and a '|'.
        {"C:\\\x95\x5C\\", "C:\\\x95", P::kNone},
        {"C:\\\x95\x7C", nullptr, P::kInvalidName},
        {"C:\\Tools\x95", nullptr, P::kInvalidName, true},
        {"\\x", nullptr, P::kInvalidName, true, "\\\\\xF3\xF3\\\x9E"},
    };
    for (const auto& row : rows) {
        const ResolvedFolderPath result = ResolveFolderPath(
            row.text, row.current, 200, row.shiftJis ? IsShiftJisLeadByte : nullptr);
        EXPECT_EQ(result.problem, row.problem) << row.text;
        EXPECT_EQ(result.path, row.path ? row.path : "") << row.text;
    }
    EXPECT_EQ(ParentFolders("C:\\Tools\\Corvane"), (List{"C:\\Tools", "C:\\"}));
    EXPECT_EQ(ParentFolders("\\\\server\\share\\Corvane"), List{"\\\\server\\share\\"});
    EXPECT_EQ(ParentFolders("C:\\\x95\x5C\\x", IsShiftJisLeadByte), (List{"C:\\\x95\x5C", "C:\\"}));
}

// Anyone but the system, the administrators and the one running setup who may add to the
// install folder, or remove, rename or re-permission it or a folder above, can swap a
// program the elevated setup then starts.
TEST(StandardUsersCanChange, LooksForChangingRightsOfUntrustedAccountsOnly) {
    constexpr uint32_t kReadExecute = 0x1200A9, kFull = 0x1F01FF, kDelete = 0x10000;
    // The administrators have full control; users have `mask`.
    const auto users = [](uint32_t mask, bool inheritOnly = false) {
        return FolderAccess{
            true, true, {{true, false, true, kFull}, {true, inheritOnly, false, mask}}};
    };
    FolderAccess denied = users(kDelete);
    denied.entries.insert(denied.entries.begin(), {false, false, false, kFull});
    const struct {
        const char* what;
        FolderAccess access;
        bool installFolder, ancestor, root;
    } rows[] = {
        {"Program Files: users read and execute", users(kReadExecute), false, false, false},
        {"add files", users(kReadExecute | 0x2), true, false, false},
        {"generic write", users(0x40000000), true, false, false},
        {"delete the folder", users(kDelete), true, true, false},
        {"delete what is inside", users(0x40), true, true, true},
        {"rewrite the access list", users(0x40000), true, true, true},
        {"generic all", users(0x10000000), true, true, true},
        {"only for what is created below", users(kFull, true), false, false, false},
        {"a deny entry trusts nobody", denied, true, true, false},
        {"a user owns it", {false, true, {}}, true, true, true},
        {"no access list at all", {true, false, {}}, true, true, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(StandardUsersCanChange(row.access, FolderRole::kInstallFolder), row.installFolder)
            << row.what;
        EXPECT_EQ(StandardUsersCanChange(row.access, FolderRole::kAncestor), row.ancestor)
            << row.what;
        EXPECT_EQ(StandardUsersCanChange(row.access, FolderRole::kVolumeRoot), row.root)
            << row.what;
    }
}

// A workstation-like layout. Its subfolder decides the limit: "amd64" below
// a folder of 241 characters ends at 247, and so does everything else.
const DestinationLayout kLayout = {
    {"amd64"}, {{"amd64\\hxvhub.sys", 5000}, {"corvanews.exe", 70000}, {"setup.log", 0}}};

std::string FolderOfLength(size_t length) {
    return "C:\\" + std::string(length - 3, 'x');
}

TEST(DestinationCheck, PathExcessCountsTheDeepestFileAndTheFolders) {
    const struct {
        std::string folder;
        size_t excess;
    } cases[] = {
        {FolderOfLength(241), 0},
        {FolderOfLength(242), 1},
        // The folder passes 247 by 1, its subfolder by 7, the deepest file
        // ("amd64\hxvhub.sys") the file limit of 259 by 6.
        {FolderOfLength(248), 7},
        {FolderOfLength(240) + "\\", 0}, // a trailing backslash adds no second one
        // Two-byte characters count once: 241 characters in 243 bytes.
        {"C:\\" + std::string(236, 'x') + "\x95\x5C\x95\x5C", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathExcess(c.folder, kLayout, IsShiftJisLeadByte), c.excess)
            << c.folder.size() << " bytes";
    }
    EXPECT_EQ(PathExcess(FolderOfLength(220), {{}, {{std::string(40, 'n'), 1}}}), 2u);
    // Each file is rounded to whole clusters; gigabytes add up past 32 bits.
    const std::vector<PlannedFile> files = {{"a", 1}, {"b", 4096}, {"c", 4097}, {"d", 0}};
    EXPECT_EQ(SpaceNeeded(files, 4096), 4096u + 4096u + 8192u);
    EXPECT_EQ(SpaceNeeded(files, 0), 1u + 4096u + 4097u);
    EXPECT_EQ(SpaceNeeded({{"big", 3'000'000'000u}, {"big2", 3'000'000'000u}}, 512),
              6'000'000'000u);
}

// The verdict for a folder below C:\Apps, which exists, on a volume with 4 KB clusters.
TEST(DestinationCheck, VerdictNamesTheFirstProblem) {
    const VolumeFacts roomy = {0, 1u << 30, 4096};
    const uint64_t needed = 20 * 4096; // 5000 + 70000 bytes take 2 + 18 clusters
    const std::string tooLong = "C:\\Apps\\" + std::string(250, 'x');
    const struct {
        std::string folder;
        VolumeFacts facts;
        DestinationProblem problem;
        List asked;
    } cases[] = {
        {"C:\\Apps\\Corvane", {0, needed, 4096}, DestinationProblem::kNone, {"C:\\Apps"}},
        {"C:\\Apps\\Corvane",
         {0, needed - 1, 4096},
         DestinationProblem::kNotEnoughSpace,
         {"C:\\Apps"}},
        // Too long: the file system is not even asked.
        {tooLong, roomy, DestinationProblem::kPathTooLong, {}},
        // Not writable wins over a full volume.
        {"C:\\Apps\\Corvane", {5, 0, 4096}, DestinationProblem::kNotWritable, {"C:\\Apps"}},
        // Nothing of the path exists: not writable, nothing asked.
        {"Q:\\Corvane", roomy, DestinationProblem::kNotWritable, {}},
    };
    for (const auto& c : cases) {
        List asked;
        const DestinationVerdict verdict = JudgeDestination(
            c.folder, kLayout, [](const std::string& path) { return path == "C:\\Apps"; },
            [&](const std::string& path) {
                asked.push_back(path);
                return c.facts;
            });
        EXPECT_EQ(verdict.problem, c.problem) << c.folder;
        EXPECT_EQ(asked, c.asked) << c.folder;
        EXPECT_EQ(verdict.existingFolder, c.asked.empty() ? "" : "C:\\Apps") << c.folder;
        EXPECT_EQ(verdict.writeError, c.folder[0] == 'Q' ? kErrorPathNotFound : c.facts.writeError)
            << c.folder;
        // 258 characters: "amd64" below passes 247 by 17.
        EXPECT_EQ(verdict.excess, c.folder == tooLong ? 17u : 0u) << c.folder;
        if (c.problem == DestinationProblem::kNotEnoughSpace) {
            EXPECT_EQ(verdict.neededBytes, needed);
            EXPECT_EQ(verdict.freeBytes, needed - 1);
        }
    }
}

} // namespace
