// The durable journal's format, replay and the checks a journal found at
// start-up must pass before anything is undone on its word.
#include "journal_file.h"
#include "multi_strings.h"
#include "notification_record.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

const std::string kFolder = "C:\\Program Files\\Corvane RDP Edition - Workstation";
const std::string kPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
const std::string kMenu = kPrograms + "\\Corvane RDP Edition - Workstation";
const std::string kDesktop = "C:\\Users\\Public\\Desktop";
const std::string kQuickLaunch =
    "C:\\Users\\admin\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
const std::string kCode = "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}";
const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCode;
const std::string kUsbClass = "{36FC9E60-C465-11CF-8056-444553540000}";
const std::string kCatalogs =
    "C:\\windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";
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
    EXPECT_EQ(journal.backups,
              (FileBackupTable{{kFolder + "\\readme.txt", kFolder + "\\rea1F.tmp"}}));
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

// A power cut can stop the file anywhere in its last record. Whatever the cut,
// the whole records before it are read and nothing is taken for damage.
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
        {"an empty file (stopped before the first write)", ""s, false},
    };
    for (const auto& row : rows) {
        const DecodedJournal decoded = DecodeJournalFile(row.bytes);
        EXPECT_EQ(!decoded.problem.empty(), row.damaged) << row.what;
        if (row.damaged) {
            EXPECT_TRUE(decoded.records.empty()) << row.what << ": nothing may be read from it";
        }
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

// Nothing is deleted or restored on a journal's word outside the places an
// installation of this product writes to.
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

// Only the install worker may end the Progress page: a child's goal never
// reaches the position that ends it.
TEST(ChildProgressGoal, StaysBelowThePagesEnd) {
    EXPECT_EQ(ChildProgressGoal(40), 40);
    EXPECT_EQ(ChildProgressGoal(99), 99);
    EXPECT_EQ(ChildProgressGoal(100), 99);
    EXPECT_EQ(ChildProgressGoal(0xFFFFFFFF), 99);
}

} // namespace
