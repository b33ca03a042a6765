// Which package entry lands where for both profiles on every kind of system,
// and corvane-pack check-payload, which must ask for exactly those entries.
// The tables are written by hand from the rule lists, so a wrong rule or a
// wrong suffix order shows up as a named row.
#include "pack_tool_test_support.h"

#include "os_version.h"
#include "payload_plan.h"
#include "product_profile.h"

#include <algorithm>
#include <sstream>

namespace corvane::pack::testing {
namespace {

const struct {
    const char* label;
    PayloadSystem system;
} kSystems[] = {
    {"32-bit XP", {false, false, false}},       {"32-bit Windows 7", {false, true, false}},
    {"32-bit Windows 10", {false, true, true}}, {"64-bit XP", {true, false, false}},
    {"64-bit Windows 7", {true, true, false}},  {"64-bit Windows 10", {true, true, true}},
};

// One rule: the suffix of the entry it installs on each system above ("=": the
// bare name, "-": skipped) and its destination on 32-bit and 64-bit Windows
// (null: the rule's name).
struct RuleRow {
    const char* name;
    const char* suffixes;
    const char* destination32 = nullptr;
    const char* destination64 = nullptr;
};

constexpr const char* kNative = ".x86 .x86 .x86 .amd64 .amd64 .amd64";
constexpr const char* kOne = "= = = = = =";
constexpr const char* kX86 = ".x86 .x86 .x86 .x86 .x86 .x86";
constexpr const char* kWin10 = "= = .v10 = = .v10";

const std::vector<RuleRow> kWorkstationRows = {
    {"corvane-rdp-workstation-installer.exe", kNative},
    {"corvanewssrv.exe", kNative},
    {"corvane-rdp-workstation-uninstaller.exe", kNative},
    {"hxvwsh.exe", kNative},
    {"corvanews.exe", kNative},
    {"corvane-rdp-workstation-license.txt", kOne},
    {"readme.txt", kOne},
    {"corvane-rdp-workstation-help.chm", kOne},
    // A catalogue per Windows generation, the same for both word sizes.
    {"hxvhub.cat", ".xp .v7 .v10 .xp .v7 .v10"},
    {"hxvhub.inf", kWin10},
    // Architecture suffix before the generation suffix, into the word size's folder.
    {"hxvhub.sys", ".x86.xp .x86.v7 .x86.v10 .amd64.xp .amd64.v7 .amd64.v10", "x86\\hxvhub.sys",
     "amd64\\hxvhub.sys"},
    {"hxvplug.sys", ".x86 .x86 .x86.v10 .amd64 .amd64 .amd64.v10", "x86\\hxvplug.sys",
     "amd64\\hxvplug.sys"},
    {"hxvchan.dll", kNative},
    // The 32-bit companion exists on 64-bit Windows only, under its own name.
    {"hxvchan.dll", "- - - .x86 .x86 .x86", nullptr, "hxvchan_x86_64.dll"},
    {"hxvcitrix.dll", kX86},
    {"corvane-rdp-rde-installer.exe", kX86},
};

const std::vector<RuleRow> kServerRows = {
    {"corvane-rdp-server-installer.exe", kNative},
    {"corvanetssrv.exe", kNative},
    {"corvane-rdp-server-uninstaller.exe", kNative},
    {"hxvtsh.exe", kNative},
    {"corvanets.exe", kNative},
    {"corvane-rdp-server-license.txt", kOne},
    {"readme.txt", kOne},
    {"corvane-rdp-server-help.chm", kOne},
    // The bus driver has a Windows 10 form only, no XP one.
    {"hxvhubbus.cat", kWin10},
    {"hxvhubbus.inf", kWin10},
    {"hxvhubbus.sys", ".x86 .x86 .x86.v10 .amd64 .amd64 .amd64.v10", "x86\\hxvhubbus.sys",
     "amd64\\hxvhubbus.sys"},
};

const struct {
    const char* name;
    const ProductProfile* profile;
    const std::vector<RuleRow>* rows;
} kProfiles[] = {{"workstation", &kWorkstationProfile, &kWorkstationRows},
                 {"server", &kServerProfile, &kServerRows}};

// The entry of `row` on the system in `column`, empty when skipped.
std::string EntryOn(const RuleRow& row, size_t column) {
    std::istringstream suffixes(row.suffixes);
    std::string suffix;
    for (size_t i = 0; i <= column; ++i) {
        suffixes >> suffix;
    }
    return suffix == "-" ? "" : row.name + (suffix == "=" ? "" : suffix);
}

std::string Describe(const std::vector<PayloadFile>& files) {
    std::string text;
    for (const PayloadFile& file : files) {
        text += "  " + file.entryName + " -> " + file.destinationName + "\n";
    }
    return text;
}

TEST(PayloadPlan, EachProfileInstallsItsTableOnEverySystem) {
    for (const auto& profile : kProfiles) {
        ASSERT_EQ(profile.profile->payloadRules.count, profile.rows->size()) << profile.name;
        for (size_t column = 0; column < std::size(kSystems); ++column) {
            const PayloadSystem& system = kSystems[column].system;
            std::vector<PayloadFile> expected;
            for (const RuleRow& row : *profile.rows) {
                const char* destination = system.is64Bit ? row.destination64 : row.destination32;
                if (!EntryOn(row, column).empty()) {
                    expected.push_back(
                        {EntryOn(row, column), destination ? destination : row.name});
                }
            }
            EXPECT_EQ(Describe(ResolvePayloadPlan(profile.profile->payloadRules, system)),
                      Describe(expected))
                << profile.name << " on " << kSystems[column].label;
        }
    }
}

// The log names the entry a skipped rule leaves out.
TEST(PayloadPlan, SkippedRuleStillNamesTheEntryItLeavesOut) {
    const PayloadRule& companion = kWorkstationProfile.payloadRules.rules[13];
    const PayloadDecision decision = ResolvePayloadRule(companion, {false, true, true});
    EXPECT_TRUE(decision.skipped);
    EXPECT_EQ(decision.entryName, "hxvchan.dll.x86");
    // The install step creates this folder for the subfolder files of the table.
    EXPECT_STREQ(ArchitectureFolderName({false, true, true}), "x86");
    EXPECT_STREQ(ArchitectureFolderName({true, true, true}), "amd64");
}

// Rule shapes the two profiles do not use, which a later profile could.
TEST(PayloadPlan, RuleFormsBeyondTheProfiles) {
    const struct {
        const char* what;
        const char* name;
        bool architectureVariant, subfolder;
        int osVariant, wordSize;
        bool is64Bit, isVista, isWindows10;
        const char* entry;
        const char* destination;
        bool skipped;
    } cases[] = {
        {"companion without a dot keeps its name", "hxvtool", true, false, kOsVariantNone,
         kWordSizeCompanion, true, true, false, "hxvtool.x86", "hxvtool", false},
        {"companion marks the first dot, not the last", "hxv.chan.dll", true, false, kOsVariantNone,
         kWordSizeCompanion, true, false, false, "hxv.chan.dll.x86", "hxv_x86_64.chan.dll", false},
        {"companion in the x86 folder keeps the folder in front", "hxvchan.dll", true, true,
         kOsVariantGeneration, kWordSizeCompanion, true, true, false, "hxvchan.dll.x86.v7",
         "x86\\hxvchan_x86_64.dll", false},
        {"x86-only file with the subfolder flag goes to the x86 folder on 64-bit", "hxvplug.sys",
         true, true, kOsVariantNone, kWordSizeAlwaysX86, true, true, true, "hxvplug.sys.x86",
         "x86\\hxvplug.sys", false},
        {"subfolder flag without architecture variant is ignored", "hxvhub.inf", false, true,
         kOsVariantNone, kWordSizeNative, true, true, true, "hxvhub.inf", "hxvhub.inf", false},
        {"Windows 10 wins over every other generation fact", "hxvhub.cat", false, false,
         kOsVariantGeneration, kWordSizeNative, false, false, true, "hxvhub.cat.v10", "hxvhub.cat",
         false},
        {"companion without architecture variant is still skipped on 32-bit", "hxvchan.dll", false,
         false, kOsVariantNone, kWordSizeCompanion, false, true, true, "hxvchan.dll", "hxvchan.dll",
         true},
    };
    for (const auto& c : cases) {
        const PayloadDecision decision = ResolvePayloadRule(
            {c.name, c.architectureVariant, c.subfolder, c.osVariant, c.wordSize},
            {c.is64Bit, c.isVista, c.isWindows10});
        EXPECT_EQ(decision.entryName, c.entry) << c.what;
        EXPECT_EQ(decision.destinationName, c.destination) << c.what;
        EXPECT_EQ(decision.skipped, c.skipped) << c.what;
    }
}

// The server's copy of the system's usbd.sys, by version class: x86, then amd64.
const struct {
    int osVersionCode;
    const char* x86;
    const char* amd64;
} kUsbDriverEntries[] = {
    {kOsVersionUnknown, "usbd.sys.x86", "usbd.sys.amd64"},
    {kOsWindows2000, "usbd.sys.x86", "usbd.sys.amd64"},
    {kOsWindowsXp, "usbd.sys.x86.xp", "usbd.sys.amd64.xp"},
    {kOsWindows2003, "usbd.sys.x86.2k3", "usbd.sys.amd64.2k3"},
    {kOsWindowsVista, "usbd.sys.x86.v62", "usbd.sys.amd64.v62"},
    {kOsWindowsServer2008, "usbd.sys.x86.2k8", "usbd.sys.amd64.2k8"},
    {kOsWindows7, "usbd.sys.x86.v7", "usbd.sys.amd64.v7"},
    {kOsWindowsServer2008R2, "usbd.sys.x86", "usbd.sys.amd64"},
    {kOsWindows8, "usbd.sys.x86", "usbd.sys.amd64"},
    {kOsWindows10, "usbd.sys.x86", "usbd.sys.amd64"},
    {kOsWindowsServer2016, "usbd.sys.x86", "usbd.sys.amd64"},
    {kOsWindowsNewer, "usbd.sys.x86", "usbd.sys.amd64"},
};

TEST(PayloadPlan, SystemUsbDriverEntryByVersionClass) {
    for (const auto& c : kUsbDriverEntries) {
        EXPECT_EQ(SystemUsbDriverEntryName(false, c.osVersionCode), c.x86) << c.osVersionCode;
        EXPECT_EQ(SystemUsbDriverEntryName(true, c.osVersionCode), c.amd64) << c.osVersionCode;
    }
}

// Every entry a profile can ask for, from the tables above.
std::set<std::string> EntriesOf(const std::vector<RuleRow>& rows) {
    std::set<std::string> entries;
    for (const RuleRow& row : rows) {
        for (size_t column = 0; column < std::size(kSystems); ++column) {
            if (!EntryOn(row, column).empty()) {
                entries.insert(EntryOn(row, column));
            }
        }
    }
    return entries;
}

std::set<std::string> UsbDriverEntries() {
    std::set<std::string> entries;
    for (const auto& c : kUsbDriverEntries) {
        entries.insert({c.x86, c.amd64});
    }
    return entries;
}

class CheckPayloadTest : public PackToolTest {
protected:
    ToolRun Check(const char* profile, const std::set<std::string>& entries,
                  const std::string& subfolder = "") {
        fs::remove_all(Path("payload"));
        fs::create_directories(Path("payload/" + subfolder));
        for (const std::string& name : entries) {
            WriteFile("payload/" + name, "placeholder of " + name + "\r\n");
        }
        return Run({"check-payload", "--profile", profile, P("payload")});
    }
};

TEST_F(CheckPayloadTest, CompleteFoldersPassWithoutNotes) {
    std::set<std::string> server = EntriesOf(kServerRows);
    server.merge(UsbDriverEntries());
    for (const auto& [profile, entries] :
         {std::pair{"workstation", EntriesOf(kWorkstationRows)}, std::pair{"server", server}}) {
        const ToolRun run = Check(profile, entries);
        EXPECT_EQ(run.code, 0) << profile << "\n" << run.out << run.err;
        EXPECT_THAT(run.out, HasSubstr("complete: every entry the " + std::string(profile) +
                                       " profile can ask for is present"));
        EXPECT_THAT(run.out, Not(HasSubstr("note:"))) << profile;
        EXPECT_THAT(run.out, Not(HasSubstr("missing:"))) << profile;
    }
}

// The usbd.sys copies are optional: a note per variant, and the folder passes.
TEST_F(CheckPayloadTest, ServerWithoutUsbDriverCopiesPassesWithANotePerVariant) {
    const ToolRun run = Check("server", EntriesOf(kServerRows));
    EXPECT_EQ(run.code, 0) << run.out;
    for (const std::string& usbd : UsbDriverEntries()) {
        EXPECT_THAT(run.out, HasSubstr("note: no " + usbd +
                                       ": the server setup copies no "
                                       "usbd.sys on "));
    }
    EXPECT_THAT(run.out, HasSubstr("note: no usbd.sys.x86.2k3: the server setup copies no "
                                   "usbd.sys on 32-bit Windows Server 2003\n"));
}

// One entry taken away at a time: it is named with the systems that need it.
TEST_F(CheckPayloadTest, EachMissingEntryIsNamedWithTheSystemsThatNeedIt) {
    const struct {
        const char* profile;
        const char* removed;
        const char* systems;
    } cases[] = {
        {"workstation", "hxvhub.sys.amd64.v10", "64-bit Windows 10 and later"},
        {"workstation", "hxvhub.sys.x86.xp", "32-bit Windows 2000 to Server 2003"},
        {"workstation", "hxvhub.cat.v7", "every Windows Vista to 8.1"},
        {"workstation", "hxvhub.inf", "every Windows before 10"},
        {"workstation", "hxvplug.sys.amd64", "64-bit Windows before 10"},
        // The 32-bit build serves 32-bit Windows and, as the companion, 64-bit Windows too.
        {"workstation", "hxvchan.dll.x86", "every Windows"},
        {"workstation", "hxvchan.dll.amd64", "every 64-bit Windows"},
        {"workstation", "corvanews.exe.x86", "every 32-bit Windows"},
        {"server", "hxvhubbus.sys.x86.v10", "32-bit Windows 10 and later"},
        {"server", "hxvhubbus.cat", "every Windows before 10"},
        {"server", "corvane-rdp-server-installer.exe.amd64", "every 64-bit Windows"},
    };
    for (const auto& c : cases) {
        std::set<std::string> entries =
            EntriesOf(c.profile == std::string("server") ? kServerRows : kWorkstationRows);
        ASSERT_EQ(entries.erase(c.removed), 1u) << c.removed;
        const ToolRun run = Check(c.profile, entries);
        EXPECT_EQ(run.code, 1) << c.removed << "\n" << run.out;
        EXPECT_THAT(run.out, HasSubstr("missing: " + std::string(c.removed) + " (needed on " +
                                       c.systems + ")\n"));
        EXPECT_THAT(run.out, HasSubstr("INCOMPLETE: 1 entry missing")) << c.removed;
    }
}

// The reader looks entries up by their exact name: another letter case is never found.
TEST_F(CheckPayloadTest, NameInOtherLetterCaseIsMissingWithAHint) {
    std::set<std::string> entries = EntriesOf(kWorkstationRows);
    entries.erase("hxvhub.inf.v10");
    entries.insert("HXVHUB.INF.v10");
    const ToolRun run = Check("workstation", entries);
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr("missing: hxvhub.inf.v10 (needed on every Windows 10 and "
                                   "later); the folder has HXVHUB.INF.v10, which differs in "
                                   "letter case"));
}

TEST_F(CheckPayloadTest, ExtraFilesAndSubfoldersAreNotedWithoutFailing) {
    std::set<std::string> entries = EntriesOf(kWorkstationRows);
    entries.insert({"hxvhub.sys.amd64.v8", "usbd.sys.x86.xp"});
    const ToolRun run = Check("workstation", entries, "amd64");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("note: hxvhub.sys.amd64.v8 is not asked for by the "
                                   "workstation profile"));
    EXPECT_THAT(run.out, HasSubstr("note: usbd.sys.x86.xp is not asked for"));
    EXPECT_THAT(run.out, HasSubstr("note: the subfolder amd64 is not part of the payload"));
}

TEST_F(CheckPayloadTest, EmptyFolderListsEverythingAndCounts) {
    const ToolRun run = Check("server", {});
    const std::string count = std::to_string(EntriesOf(kServerRows).size());
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr("0 of " + count + " entries present"));
    EXPECT_THAT(run.out, HasSubstr("INCOMPLETE: " + count + " entries missing"));
}

TEST_F(CheckPayloadTest, UsageAndUnreadableFolders) {
    WriteFile("a-file", "not a folder");
    fs::create_directories(Path("payload"));
    const struct {
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {{"check-payload", P("payload")}, 2, "--profile workstation|server is required"},
        {{"check-payload", "--profile", "client", P("payload")}, 2, "unknown profile \"client\""},
        {{"check-payload", "--profile", "server"}, 2, "name the payload folder"},
        {{"check-payload", "--profile", "server", P("payload"), P("payload")},
         2,
         "unexpected argument"},
        {{"check-payload", "--profile", "server", P("nowhere")}, 1, "does not exist"},
        {{"check-payload", "--profile=server", P("a-file")}, 1, "is not a folder"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Run(c.args);
        EXPECT_EQ(run.code, c.code) << c.message << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.message));
    }
}

} // namespace
} // namespace corvane::pack::testing
