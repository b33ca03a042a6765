// The durable journal's format, replay and the checks a journal found at
// start-up must pass before anything is undone on its word.
#include "journal_file.h"
#include "multi_strings.h"
#include "notification_record.h"

#include <gtest/gtest.h>

#include <functional>
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

MachinePlaces Machine() {
    return MachinePlaces{kCode, kUninstall, "C:\\windows", kPrograms, kDesktop, {kUsbClass}};
}

JournalRecord Begin(const std::string& folder = kFolder) {
    return MakeJournalRecord(kRecordBegin, {kCode, folder, kMenu, kDesktop, kQuickLaunch});
}

// An installation over an earlier one's readme, stopped after its registration.
std::vector<JournalRecord> TypicalRecords() {
    return {
        Begin(),
        MakeJournalRecord(kRecordCreatedFolder, {kFolder + "\\amd64"}),
        MakeJournalRecord(kRecordCreatedFile, {kFolder + "\\corvanews.exe"}),
        MakeJournalRecord(kRecordBackupStarted,
                          {kFolder + "\\readme.txt", kFolder + "\\rea1F.tmp"}),
        MakeJournalRecord(kRecordOverwriteStarted, {kFolder + "\\readme.txt"}),
        MakeJournalRecord(kRecordCreatedFile, {kFolder + "\\hxvsrv.exe"}),
        MakeJournalRecord(kRecordCreatedFile, {kFolder + "\\hxv2.tmp"}),
        MakeJournalRecord(kRecordRestartReplacement,
                          {kFolder + "\\hxv2.tmp", kFolder + "\\hxvsrv.exe"}),
        // What the child installer registered, recorded once it ended.
        MakeJournalRecord(kRecordDriverStoreInf, {"C:\\windows\\inf\\oem3.inf"}),
        MakeJournalRecord(kRecordCreatedFile, {"C:\\windows\\inf\\oem3.PNF"}),
        MakeJournalRecord(kRecordCreatedFolder, {kCatalogs}),
        MakeJournalRecord(kRecordCreatedFile, {kCatalogs + "\\oem3.CAT"}),
        MakeJournalRecord(kRecordService, {"hxvhub"}),
        MakeJournalRecord(kRecordClassFilter, {kUsbClass, "hxvhub"}),
        MakeJournalRecord(kRecordDevice, {"ROOT\\HXVHUBBUS"}),
        MakeJournalRecord(kRecordInfInstall, {kFolder + "\\hxvhub.inf"}),
        MakeJournalRecord(kRecordCitrixRegistered, {}),
        MakeJournalRecord(kRecordCreatedFolder, {kMenu}),
        MakeJournalRecord(kRecordCreatedFile, {kMenu + "\\Corvane.lnk"}),
        MakeJournalRecord(kRecordCreatedFile, {kDesktop + "\\Corvane.lnk"}),
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

bool SameRecords(const std::vector<JournalRecord>& left, const std::vector<JournalRecord>& right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t index = 0; index < left.size(); ++index) {
        if (left[index].kind != right[index].kind || left[index].flags != right[index].flags ||
            left[index].fields != right[index].fields) {
            return false;
        }
    }
    return true;
}

TEST(JournalFile, ReplaysIntoTheTablesRollbackWalks) {
    const DecodedJournal decoded = DecodeJournalFile(FileOf(TypicalRecords()));
    ASSERT_EQ(decoded.problem, "");
    EXPECT_FALSE(decoded.unfinishedTail);
    ASSERT_TRUE(SameRecords(decoded.records, TypicalRecords()));

    ReplayedJournal journal;
    std::string problem;
    ASSERT_TRUE(ReplayJournal(decoded.records, &journal, &problem)) << problem;
    EXPECT_EQ(journal.places.installFolder, kFolder);
    EXPECT_EQ(journal.entries, (JournalEntryTable{
                                   {kFolder + "\\amd64", kJournalCreatedDirectory},
                                   {kFolder + "\\corvanews.exe", kJournalCreatedFile},
                                   {kFolder + "\\hxv2.tmp", kJournalCreatedFile},
                                   {kFolder + "\\hxvsrv.exe", kJournalCreatedFile},
                                   {kMenu, kJournalCreatedDirectory},
                                   {kMenu + "\\Corvane.lnk", kJournalCreatedFile},
                                   {kDesktop + "\\Corvane.lnk", kJournalCreatedFile},
                                   {kUninstall, kJournalRegistryKey},
                                   {"C:\\windows\\inf\\oem3.inf", kJournalDriverStoreInf},
                                   {"C:\\windows\\inf\\oem3.PNF", kJournalCreatedFile},
                                   {kCatalogs, kJournalCreatedDirectory},
                                   {kCatalogs + "\\oem3.CAT", kJournalCreatedFile},
                                   {"hxvhub", kJournalService},
                                   {"ROOT\\HXVHUBBUS", kJournalDevice},
                                   {kFolder + "\\hxvhub.inf", kJournalInfFile},
                               }));
    EXPECT_EQ(journal.classFilters, (std::map<std::string, std::string>{{kUsbClass, "hxvhub"}}));
    // Only a backup whose target may have been touched is put back; one that
    // was still being copied is only removed.
    EXPECT_EQ(journal.backups,
              (FileBackupTable{{kFolder + "\\readme.txt", kFolder + "\\rea1F.tmp"}}));
    EXPECT_EQ(journal.unfinishedBackups,
              (FileBackupTable{{kQuickLaunch + "\\Corvane.lnk", kQuickLaunch + "\\Cor3.tmp"}}));
    ASSERT_EQ(journal.registry.at(kUninstall).size(), 2u);
    EXPECT_EQ(journal.registry.at(kUninstall)[0].data, "old\0"s);
    EXPECT_EQ(journal.registry.at(kUninstall)[0].type, 1u);
    EXPECT_TRUE(journal.registry.at(kUninstall)[1].absent);
    ASSERT_EQ(journal.restartReplacements.size(), 1u);
    EXPECT_EQ(journal.restartReplacements[0].target, kFolder + "\\hxvsrv.exe");
    EXPECT_TRUE(journal.citrixRegistered);
    EXPECT_FALSE(journal.rollbackStarted);
    EXPECT_FALSE(journal.committed);
    EXPECT_TRUE(CheckJournalPlaces(journal, Machine(), &problem)) << problem;
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
    EXPECT_TRUE(zeros.unfinishedTail);
    EXPECT_EQ(zeros.records.size(), records.size());
}

TEST(JournalFile, DamageBeforeTheLastRecordRefusesTheWholeFile) {
    const std::vector<JournalRecord> records = TypicalRecords();
    const std::string good = FileOf(records);
    const size_t header = EncodeJournalHeader().size();
    const size_t lastStart = good.size() - EncodeJournalRecord(records.back()).size();
    const struct {
        const char* what;
        std::function<std::string()> bytes;
        bool damaged;
    } rows[] = {
        {"a flipped bit in the first record",
         [&] {
             std::string b = good;
             b[header + 10] ^= 0x20;
             return b;
         },
         true},
        {"a flipped bit in a middle record",
         [&] {
             std::string b = good;
             b[lastStart - 5] ^= 0x01;
             return b;
         },
         true},
        {"an impossible size in the middle",
         [&] {
             std::string b = good;
             b[header + 3] = '\x7F';
             return b;
         },
         true},
        {"another signature",
         [&] {
             std::string b = good;
             b[0] = 'X';
             return b;
         },
         true},
        {"another format version",
         [&] {
             std::string b = good;
             b[8] = 2;
             return b;
         },
         true},
        {"a few bytes of something else", [] { return "MZ\x90"s; }, true},
        {"a flipped bit in the last record (its write was cut)",
         [&] {
             std::string b = good;
             b[good.size() - 6] ^= 0x01;
             return b;
         },
         false},
        {"an empty file (stopped before the first write)", [] { return ""s; }, false},
    };
    for (const auto& row : rows) {
        const DecodedJournal decoded = DecodeJournalFile(row.bytes());
        EXPECT_EQ(!decoded.problem.empty(), row.damaged) << row.what;
        if (row.damaged) {
            EXPECT_TRUE(decoded.records.empty()) << row.what << ": nothing may be read from it";
        }
    }
}

TEST(JournalFile, ReplayRefusesRecordsThatAreNoInstallation) {
    JournalRecord unknown = MakeJournalRecord(200, {"x"});
    JournalRecord skippable = unknown;
    skippable.flags = kRecordMaySkip;
    const struct {
        const char* what;
        std::vector<JournalRecord> records;
        bool accepted;
    } rows[] = {
        {"nothing", {}, false},
        {"no beginning", {MakeJournalRecord(kRecordCreatedFile, {kFolder + "\\a"})}, false},
        {"a second beginning", {Begin(), Begin()}, false},
        {"a beginning short of a field",
         {MakeJournalRecord(kRecordBegin, {kCode, kFolder, kMenu, kDesktop})},
         false},
        {"a created file with two paths",
         {Begin(), MakeJournalRecord(kRecordCreatedFile, {kFolder + "\\a", kFolder + "\\b"})},
         false},
        {"an overwrite without its backup",
         {Begin(), MakeJournalRecord(kRecordOverwriteStarted, {kFolder + "\\readme.txt"})},
         false},
        {"a registry type of 3 bytes",
         {Begin(), MakeJournalRecord(kRecordRegistryValueSaved, {kUninstall, "a", "123", ""})},
         false},
        {"a kind this program does not know", {Begin(), unknown}, false},
        {"a kind it does not know but may pass over", {Begin(), skippable}, true},
        {"a beginning alone", {Begin()}, true},
    };
    for (const auto& row : rows) {
        ReplayedJournal journal;
        std::string problem;
        EXPECT_EQ(ReplayJournal(row.records, &journal, &problem), row.accepted) << row.what;
        EXPECT_EQ(problem.empty(), row.accepted) << row.what << ": " << problem;
    }
}

TEST(JournalFile, ReplayFollowsWithdrawalsAndTheEndState) {
    ReplayedJournal journal;
    std::string problem;
    ASSERT_TRUE(ReplayJournal({Begin(), MakeJournalRecord(kRecordCreatedFolder, {kFolder}),
                               MakeJournalRecord(kRecordWithdrawn, {kFolder}),
                               MakeJournalRecord(kRecordRollbackStarted, {}),
                               MakeJournalRecord(kRecordCommitted, {})},
                              &journal, &problem))
        << problem;
    EXPECT_TRUE(journal.entries.empty()) << "a folder someone else made is never removed";
    EXPECT_TRUE(journal.rollbackStarted);
    EXPECT_TRUE(journal.committed);
}

// The child installer is a program of its own: the facts before it go on disk
// before it starts, and its changes in one record once it ended. A journal cut
// in between still tells recovery what to compare the machine with.
TEST(JournalFile, ReplayKeepsTheFactsBeforeTheChildUntilItsChangesAreRecorded) {
    SystemFacts before;
    before.services = {"Eventlog", "PlugPlay"};
    before.classFilters = {{kUsbClass, {"usbfilter"}},
                           {"{4D36E97D-E325-11CE-BFC1-08002BE10318}", {}}};
    before.driverStoreFiles = {"C:\\windows\\inf\\oem0.inf"};
    before.driverStoreFolders = {"C:\\windows\\system32\\catroot"};
    before.devices = {{"ROOT\\LEGACY\\0000", {"ROOT\\LEGACY", "*LEGACY"}}, {"PCI\\X\\1", {}}};
    SystemChanges changes;
    changes.services = {"hxvhub", "corvanewssrv"};
    changes.classFilters = {{kUsbClass, "hxvhub"}};
    changes.driverStoreInfs = {"C:\\windows\\inf\\oem1.inf"};
    changes.driverStoreFiles = {kCatalogs + "\\oem1.cat"};
    changes.driverStoreFolders = {kCatalogs};
    changes.deviceIds = {"ROOT\\HXVHUBBUS"};
    const JournalRecord starting{kRecordChildStarting, 0, EncodeSystemFacts(before)};
    const JournalRecord ended{kRecordChildChanges, 0, EncodeSystemChanges(changes)};

    ReplayedJournal journal;
    std::string problem;
    ASSERT_TRUE(ReplayJournal({Begin(), starting}, &journal, &problem)) << problem;
    EXPECT_TRUE(journal.childRunning);
    EXPECT_EQ(EncodeSystemFacts(journal.childBefore), EncodeSystemFacts(before));
    EXPECT_EQ(journal.childBefore.devices[0].hardwareIds, before.devices[0].hardwareIds);

    ASSERT_TRUE(ReplayJournal({Begin(), starting, ended}, &journal, &problem)) << problem;
    EXPECT_FALSE(journal.childRunning);
    EXPECT_EQ(journal.entries, (JournalEntryTable{
                                   {"hxvhub", kJournalService},
                                   {"corvanewssrv", kJournalService},
                                   {"C:\\windows\\inf\\oem1.inf", kJournalDriverStoreInf},
                                   {kCatalogs + "\\oem1.cat", kJournalCreatedFile},
                                   {kCatalogs, kJournalCreatedDirectory},
                                   {"ROOT\\HXVHUBBUS", kJournalDevice},
                               }));
    EXPECT_EQ(journal.classFilters, (std::map<std::string, std::string>{{kUsbClass, "hxvhub"}}));
    EXPECT_TRUE(CheckJournalPlaces(journal, Machine(), &problem)) << problem;

    // Nothing changed is no entry; a field missing, or a filter without its
    // class, refuses the journal.
    SystemChanges none;
    EXPECT_TRUE(DecodeSystemChanges(EncodeSystemChanges(SystemChanges()), &none));
    EXPECT_TRUE(none.services.empty() && none.classFilters.empty());
    std::vector<std::string> fields = EncodeSystemChanges(changes);
    fields[1] = "hxvhub";
    EXPECT_FALSE(ReplayJournal({Begin(), JournalRecord{kRecordChildChanges, 0, fields}}, &journal,
                               &problem));
    fields.pop_back();
    EXPECT_FALSE(ReplayJournal({Begin(), JournalRecord{kRecordChildChanges, 0, fields}}, &journal,
                               &problem));
}

// Nothing is deleted or restored on a journal's word outside the places an
// installation of this product writes to.
TEST(JournalFile, PlacesOutsideTheInstallationAreRefused) {
    using Change = std::function<void(ReplayedJournal&)>;
    const auto file = [](const std::string& path) {
        return Change([path](ReplayedJournal& j) { j.entries[path] = kJournalCreatedFile; });
    };
    const auto folder = [](const std::string& path) {
        return Change([path](ReplayedJournal& j) { j.entries[path] = kJournalCreatedDirectory; });
    };
    const auto backup = [](const std::string& target, const std::string& copy) {
        return Change([=](ReplayedJournal& j) { j.backups[target] = copy; });
    };
    const auto installedIn = [](const std::string& path) {
        return Change([path](ReplayedJournal& j) { j.places.installFolder = path; });
    };
    const struct {
        const char* what;
        Change change;
        bool accepted;
    } rows[] = {
        {"a file in the install folder", file(kFolder + "\\x86\\hxvhub.sys"), true},
        {"a shortcut in the Start-menu folder", file(kMenu + "\\Help.lnk"), true},
        {"a shortcut on the common desktop", file(kDesktop + "\\Corvane.lnk"), true},
        {"a shortcut in Quick Launch", file(kQuickLaunch + "\\Corvane.lnk"), true},
        {"the install folder itself", folder(kFolder), true},
        {"a folder on a network share", installedIn("\\\\server\\share\\Corvane"), true},
        {"a file in another folder", file("C:\\Windows\\System32\\kernel32.dll"), false},
        {"a file whose path climbs out", file(kFolder + "\\..\\..\\Windows\\win.ini"), false},
        {"a file beside the install folder", file(kFolder + "-other\\a.exe"), false},
        {"a relative path", file("corvanews.exe"), false},
        {"a path with forward slashes", file(kFolder + "/a.exe"), false},
        {"a stream of a file", file(kFolder + "\\a.exe:stream"), false},
        {"a program on the desktop", file(kDesktop + "\\evil.exe"), false},
        {"the desktop folder itself", folder(kDesktop), false},
        {"the parent of the install folder", folder("C:\\Program Files"), false},
        {"a backup beside its file", backup(kFolder + "\\readme.txt", kFolder + "\\rea1.tmp"),
         true},
        {"a backup elsewhere", backup(kFolder + "\\readme.txt", "C:\\Windows\\rea1.tmp"), false},
        {"a backup that is no .tmp file",
         backup(kFolder + "\\readme.txt", kFolder + "\\corvanews.exe"), false},
        {"a backup that is its own target", backup(kFolder + "\\rea1.tmp", kFolder + "\\rea1.tmp"),
         false},
        {"an install folder at a drive's root", installedIn("D:"), false},
        {"an install folder holding the Windows folder", installedIn("C:\\"), false},
        {"the Windows folder as install folder", installedIn("C:\\WINDOWS"), false},
        {"another product's journal", [](ReplayedJournal& j) { j.places.productCode = "{0}"; },
         false},
        {"a Start-menu folder outside Programs",
         [](ReplayedJournal& j) { j.places.startMenuFolder = "C:\\Windows"; }, false},
        {"the Programs folder itself as Start-menu folder",
         [](ReplayedJournal& j) { j.places.startMenuFolder = kPrograms; }, false},
        {"a desktop that is not this machine's",
         [](ReplayedJournal& j) { j.places.desktopFolder = "C:\\Windows"; }, false},
        {"a Quick Launch folder that is none",
         [](ReplayedJournal& j) { j.places.quickLaunchFolder = "C:\\Windows"; }, false},
        {"another registry key",
         [](ReplayedJournal& j) {
             j.entries["Software\\Microsoft\\Windows"] = kJournalRegistryKey;
         },
         false},
        {"a value of another key",
         [](ReplayedJournal& j) {
             AddSavedRegistryValue(j.registry, "System\\CurrentControlSet", {"x", "", 1});
         },
         false},
        {"a service by its name",
         [](ReplayedJournal& j) { j.entries["corvanewssrv"] = kJournalService; }, true},
        {"a service name that is a path",
         [](ReplayedJournal& j) { j.entries["..\\corvane"] = kJournalService; }, false},
        {"a device id with a line break",
         [](ReplayedJournal& j) { j.entries["ROOT\\X\nY"] = kJournalDevice; }, false},
        {"a published INF and its precompiled form", file("C:\\windows\\inf\\oem12.pnf"), true},
        {"a file of the inf folder that is no INF", file("C:\\windows\\inf\\setupapi.log"), false},
        {"an INF below the inf folder", file("C:\\windows\\inf\\x\\a.inf"), false},
        {"a catalogue elsewhere in system32", file("C:\\windows\\system32\\oem1.cat"), false},
        {"a program among the catalogues", file(kCatalogs + "\\evil.exe"), false},
        {"an INF outside the store as store INF",
         [](ReplayedJournal& j) { j.entries[kFolder + "\\a.inf"] = kJournalDriverStoreInf; },
         false},
        {"an INF of the inf folder installed by the engine",
         [](ReplayedJournal& j) { j.entries["C:\\windows\\inf\\usb.inf"] = kJournalInfFile; },
         false},
        {"a filter of the product's class",
         [](ReplayedJournal& j) { j.classFilters[kUsbClass] = "hxvhub"; }, true},
        {"a filter of another class",
         [](ReplayedJournal& j) {
             j.classFilters["{4D36E967-E325-11CE-BFC1-08002BE10318}"] = "hxvhub";
         },
         false},
        {"a restart replacement of a file elsewhere",
         [](ReplayedJournal& j) {
             j.restartReplacements.push_back({kFolder + "\\a.tmp", "C:\\Windows\\a.dll"});
         },
         false},
    };
    for (const auto& row : rows) {
        ReplayedJournal journal;
        std::string problem;
        ASSERT_TRUE(ReplayJournal({Begin()}, &journal, &problem));
        row.change(journal);
        EXPECT_EQ(CheckJournalPlaces(journal, Machine(), &problem), row.accepted)
            << row.what << ": " << problem;
    }
}

// The restart-time replacement of a file in use is called off again by
// rollback; the system's other restart-time work stays as it was.
TEST(RemoveRenameOperation, TakesOnlyThatPairOffTheList) {
    const struct {
        const char* what;
        std::string before;
        std::string after;
        size_t removed;
    } rows[] = {
        {"the only pair", "\\??\\C:\\a.tmp\0!\\??\\C:\\a.exe\0\0"s, "\0"s, 1},
        {"between a deletion and another move",
         "\\??\\C:\\x\0\0\\??\\C:\\a.tmp\0!\\??\\C:\\a.exe\0\\??\\C:\\y\0\\??\\C:\\z\0\0"s,
         "\\??\\C:\\x\0\0\\??\\C:\\y\0\\??\\C:\\z\0\0"s, 1},
        {"other letter case, without '!'", "\\??\\c:\\A.TMP\0\\??\\c:\\a.EXE\0\0"s, "\0"s, 1},
        {"the same source to another target", "\\??\\C:\\a.tmp\0!\\??\\C:\\b.exe\0\0"s,
         "\\??\\C:\\a.tmp\0!\\??\\C:\\b.exe\0\0"s, 0},
        {"its deletion, not its move", "\\??\\C:\\a.tmp\0\0\0"s, "\\??\\C:\\a.tmp\0\0\0"s, 0},
        {"the target as a source", "\\??\\C:\\a.exe\0!\\??\\C:\\a.tmp\0\0"s,
         "\\??\\C:\\a.exe\0!\\??\\C:\\a.tmp\0\0"s, 0},
        {"no list", ""s, ""s, 0},
    };
    for (const auto& row : rows) {
        std::string data = row.before;
        EXPECT_EQ(RemoveRenameOperation(data, "C:\\a.tmp", "C:\\a.exe"), row.removed) << row.what;
        EXPECT_EQ(data, row.after) << row.what;
    }
}

// Only the install worker may end the Progress page: a child's goal never
// reaches the position that ends it.
TEST(ChildProgressGoal, StaysBelowThePagesEnd) {
    const struct {
        uint32_t reported;
        int goal;
    } rows[] = {{0, 0}, {40, 40}, {99, 99}, {100, 99}, {150, 99}, {0xFFFFFFFF, 99}};
    for (const auto& row : rows) {
        EXPECT_EQ(ChildProgressGoal(row.reported), row.goal) << row.reported;
    }
}

} // namespace
