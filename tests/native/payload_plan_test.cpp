// Which package entry lands where, for both profiles on every kind of system
// the product supports. The tables are written out by hand from the rule
// lists, so a wrong rule or a wrong suffix order shows up as a named row.
#include "os_version.h"
#include "payload_plan.h"
#include "product_profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SystemCase {
    const char* label;
    PayloadSystem system;
};

// Column order of the tables below.
const SystemCase kSystems[] = {
    {"32-bit XP", {false, false, false}},       {"32-bit Windows 7", {false, true, false}},
    {"32-bit Windows 10", {false, true, true}}, {"64-bit XP", {true, false, false}},
    {"64-bit Windows 7", {true, true, false}},  {"64-bit Windows 10", {true, true, true}},
};

// One rule on the six systems: the entry each installs (nullptr: skipped) and
// the destination on 32-bit and on 64-bit Windows.
struct RuleRow {
    const char* entries[6];
    const char* destination32;
    const char* destination64;
};

const RuleRow kWorkstationRows[] = {
    // 1-5: programs, one build per word size.
    {{"corvane-rdp-workstation-installer.exe.x86", "corvane-rdp-workstation-installer.exe.x86",
      "corvane-rdp-workstation-installer.exe.x86", "corvane-rdp-workstation-installer.exe.amd64",
      "corvane-rdp-workstation-installer.exe.amd64", "corvane-rdp-workstation-installer.exe.amd64"},
     "corvane-rdp-workstation-installer.exe",
     "corvane-rdp-workstation-installer.exe"},
    {{"corvanewssrv.exe.x86", "corvanewssrv.exe.x86", "corvanewssrv.exe.x86",
      "corvanewssrv.exe.amd64", "corvanewssrv.exe.amd64", "corvanewssrv.exe.amd64"},
     "corvanewssrv.exe",
     "corvanewssrv.exe"},
    {{"corvane-rdp-workstation-uninstaller.exe.x86", "corvane-rdp-workstation-uninstaller.exe.x86",
      "corvane-rdp-workstation-uninstaller.exe.x86",
      "corvane-rdp-workstation-uninstaller.exe.amd64",
      "corvane-rdp-workstation-uninstaller.exe.amd64",
      "corvane-rdp-workstation-uninstaller.exe.amd64"},
     "corvane-rdp-workstation-uninstaller.exe",
     "corvane-rdp-workstation-uninstaller.exe"},
    {{"hxvwsh.exe.x86", "hxvwsh.exe.x86", "hxvwsh.exe.x86", "hxvwsh.exe.amd64", "hxvwsh.exe.amd64",
      "hxvwsh.exe.amd64"},
     "hxvwsh.exe",
     "hxvwsh.exe"},
    {{"corvanews.exe.x86", "corvanews.exe.x86", "corvanews.exe.x86", "corvanews.exe.amd64",
      "corvanews.exe.amd64", "corvanews.exe.amd64"},
     "corvanews.exe",
     "corvanews.exe"},
    // 6-8: one file for every system.
    {{"corvane-rdp-workstation-license.txt", "corvane-rdp-workstation-license.txt",
      "corvane-rdp-workstation-license.txt", "corvane-rdp-workstation-license.txt",
      "corvane-rdp-workstation-license.txt", "corvane-rdp-workstation-license.txt"},
     "corvane-rdp-workstation-license.txt",
     "corvane-rdp-workstation-license.txt"},
    {{"readme.txt", "readme.txt", "readme.txt", "readme.txt", "readme.txt", "readme.txt"},
     "readme.txt",
     "readme.txt"},
    {{"corvane-rdp-workstation-help.chm", "corvane-rdp-workstation-help.chm",
      "corvane-rdp-workstation-help.chm", "corvane-rdp-workstation-help.chm",
      "corvane-rdp-workstation-help.chm", "corvane-rdp-workstation-help.chm"},
     "corvane-rdp-workstation-help.chm",
     "corvane-rdp-workstation-help.chm"},
    // 9: a catalogue per Windows generation, the same for both word sizes.
    {{"hxvhub.cat.xp", "hxvhub.cat.v7", "hxvhub.cat.v10", "hxvhub.cat.xp", "hxvhub.cat.v7",
      "hxvhub.cat.v10"},
     "hxvhub.cat",
     "hxvhub.cat"},
    // 10: Windows 10 has an INF of its own.
    {{"hxvhub.inf", "hxvhub.inf", "hxvhub.inf.v10", "hxvhub.inf", "hxvhub.inf", "hxvhub.inf.v10"},
     "hxvhub.inf",
     "hxvhub.inf"},
    // 11: architecture suffix before the generation suffix, into the word size's folder.
    {{"hxvhub.sys.x86.xp", "hxvhub.sys.x86.v7", "hxvhub.sys.x86.v10", "hxvhub.sys.amd64.xp",
      "hxvhub.sys.amd64.v7", "hxvhub.sys.amd64.v10"},
     "x86\\hxvhub.sys",
     "amd64\\hxvhub.sys"},
    {{"hxvplug.sys.x86", "hxvplug.sys.x86", "hxvplug.sys.x86.v10", "hxvplug.sys.amd64",
      "hxvplug.sys.amd64", "hxvplug.sys.amd64.v10"},
     "x86\\hxvplug.sys",
     "amd64\\hxvplug.sys"},
    {{"hxvchan.dll.x86", "hxvchan.dll.x86", "hxvchan.dll.x86", "hxvchan.dll.amd64",
      "hxvchan.dll.amd64", "hxvchan.dll.amd64"},
     "hxvchan.dll",
     "hxvchan.dll"},
    // 14: the 32-bit companion exists on 64-bit Windows only, under its own name.
    {{nullptr, nullptr, nullptr, "hxvchan.dll.x86", "hxvchan.dll.x86", "hxvchan.dll.x86"},
     "hxvchan.dll",
     "hxvchan_x86_64.dll"},
    // 15-16: 32-bit on every system, in the install folder itself.
    {{"hxvcitrix.dll.x86", "hxvcitrix.dll.x86", "hxvcitrix.dll.x86", "hxvcitrix.dll.x86",
      "hxvcitrix.dll.x86", "hxvcitrix.dll.x86"},
     "hxvcitrix.dll",
     "hxvcitrix.dll"},
    {{"corvane-rdp-rde-installer.exe.x86", "corvane-rdp-rde-installer.exe.x86",
      "corvane-rdp-rde-installer.exe.x86", "corvane-rdp-rde-installer.exe.x86",
      "corvane-rdp-rde-installer.exe.x86", "corvane-rdp-rde-installer.exe.x86"},
     "corvane-rdp-rde-installer.exe",
     "corvane-rdp-rde-installer.exe"},
};

const RuleRow kServerRows[] = {
    {{"corvane-rdp-server-installer.exe.x86", "corvane-rdp-server-installer.exe.x86",
      "corvane-rdp-server-installer.exe.x86", "corvane-rdp-server-installer.exe.amd64",
      "corvane-rdp-server-installer.exe.amd64", "corvane-rdp-server-installer.exe.amd64"},
     "corvane-rdp-server-installer.exe",
     "corvane-rdp-server-installer.exe"},
    {{"corvanetssrv.exe.x86", "corvanetssrv.exe.x86", "corvanetssrv.exe.x86",
      "corvanetssrv.exe.amd64", "corvanetssrv.exe.amd64", "corvanetssrv.exe.amd64"},
     "corvanetssrv.exe",
     "corvanetssrv.exe"},
    {{"corvane-rdp-server-uninstaller.exe.x86", "corvane-rdp-server-uninstaller.exe.x86",
      "corvane-rdp-server-uninstaller.exe.x86", "corvane-rdp-server-uninstaller.exe.amd64",
      "corvane-rdp-server-uninstaller.exe.amd64", "corvane-rdp-server-uninstaller.exe.amd64"},
     "corvane-rdp-server-uninstaller.exe",
     "corvane-rdp-server-uninstaller.exe"},
    {{"hxvtsh.exe.x86", "hxvtsh.exe.x86", "hxvtsh.exe.x86", "hxvtsh.exe.amd64", "hxvtsh.exe.amd64",
      "hxvtsh.exe.amd64"},
     "hxvtsh.exe",
     "hxvtsh.exe"},
    {{"corvanets.exe.x86", "corvanets.exe.x86", "corvanets.exe.x86", "corvanets.exe.amd64",
      "corvanets.exe.amd64", "corvanets.exe.amd64"},
     "corvanets.exe",
     "corvanets.exe"},
    {{"corvane-rdp-server-license.txt", "corvane-rdp-server-license.txt",
      "corvane-rdp-server-license.txt", "corvane-rdp-server-license.txt",
      "corvane-rdp-server-license.txt", "corvane-rdp-server-license.txt"},
     "corvane-rdp-server-license.txt",
     "corvane-rdp-server-license.txt"},
    {{"readme.txt", "readme.txt", "readme.txt", "readme.txt", "readme.txt", "readme.txt"},
     "readme.txt",
     "readme.txt"},
    {{"corvane-rdp-server-help.chm", "corvane-rdp-server-help.chm", "corvane-rdp-server-help.chm",
      "corvane-rdp-server-help.chm", "corvane-rdp-server-help.chm", "corvane-rdp-server-help.chm"},
     "corvane-rdp-server-help.chm",
     "corvane-rdp-server-help.chm"},
    // The bus driver has a Windows 10 form only, no XP one.
    {{"hxvhubbus.cat", "hxvhubbus.cat", "hxvhubbus.cat.v10", "hxvhubbus.cat", "hxvhubbus.cat",
      "hxvhubbus.cat.v10"},
     "hxvhubbus.cat",
     "hxvhubbus.cat"},
    {{"hxvhubbus.inf", "hxvhubbus.inf", "hxvhubbus.inf.v10", "hxvhubbus.inf", "hxvhubbus.inf",
      "hxvhubbus.inf.v10"},
     "hxvhubbus.inf",
     "hxvhubbus.inf"},
    {{"hxvhubbus.sys.x86", "hxvhubbus.sys.x86", "hxvhubbus.sys.x86.v10", "hxvhubbus.sys.amd64",
      "hxvhubbus.sys.amd64", "hxvhubbus.sys.amd64.v10"},
     "x86\\hxvhubbus.sys",
     "amd64\\hxvhubbus.sys"},
};

struct ProfileCase {
    const char* name;
    const ProductProfile* profile;
    const RuleRow* rows;
    size_t rowCount;
};

const ProfileCase kProfiles[] = {
    {"workstation", &kWorkstationProfile, kWorkstationRows, std::size(kWorkstationRows)},
    {"server", &kServerProfile, kServerRows, std::size(kServerRows)},
};

std::string Describe(const std::vector<PayloadFile>& files) {
    std::string text;
    for (const PayloadFile& file : files) {
        text += "  " + file.entryName + " -> " + file.destinationName + "\n";
    }
    return text;
}

TEST(PayloadPlan, EachProfileInstallsItsTableOnEverySystem) {
    for (const ProfileCase& profile : kProfiles) {
        ASSERT_EQ(profile.profile->payloadRules.count, profile.rowCount) << profile.name;
        for (size_t column = 0; column < std::size(kSystems); ++column) {
            const SystemCase& system = kSystems[column];
            std::vector<PayloadFile> expected;
            for (size_t row = 0; row < profile.rowCount; ++row) {
                const RuleRow& rule = profile.rows[row];
                if (rule.entries[column] != nullptr) {
                    expected.push_back({rule.entries[column], system.system.is64Bit
                                                                  ? rule.destination64
                                                                  : rule.destination32});
                }
            }
            const std::vector<PayloadFile> actual =
                ResolvePayloadPlan(profile.profile->payloadRules, system.system);
            EXPECT_EQ(Describe(actual), Describe(expected))
                << profile.name << " on " << system.label;
        }
    }
}

TEST(PayloadPlan, SkippedRuleStillNamesTheEntryItLeavesOut) {
    // The workstation's 32-bit companion of hxvchan.dll on 32-bit Windows: the
    // log says which entry was not copied.
    const PayloadRule& companion = kWorkstationProfile.payloadRules.rules[13];
    const PayloadDecision decision = ResolvePayloadRule(companion, {false, true, true});
    EXPECT_TRUE(decision.skipped);
    EXPECT_EQ(decision.entryName, "hxvchan.dll.x86");
    EXPECT_FALSE(ResolvePayloadRule(companion, {true, true, true}).skipped);
}

// Rule shapes the two profiles do not use, which a later profile could.
TEST(PayloadPlan, RuleFormsBeyondTheProfiles) {
    struct Case {
        const char* what;
        PayloadRule rule;
        PayloadSystem system;
        const char* entry;
        const char* destination;
        bool skipped;
    };
    const Case cases[] = {
        {"companion without a dot keeps its name",
         {"hxvtool", true, false, kOsVariantNone, kWordSizeCompanion},
         {true, true, false},
         "hxvtool.x86",
         "hxvtool",
         false},
        {"companion marks the first dot, not the last",
         {"hxv.chan.dll", true, false, kOsVariantNone, kWordSizeCompanion},
         {true, false, false},
         "hxv.chan.dll.x86",
         "hxv_x86_64.chan.dll",
         false},
        {"companion in the x86 folder keeps the folder in front",
         {"hxvchan.dll", true, true, kOsVariantGeneration, kWordSizeCompanion},
         {true, true, false},
         "hxvchan.dll.x86.v7",
         "x86\\hxvchan_x86_64.dll",
         false},
        {"x86-only file with the subfolder flag goes to the x86 folder on 64-bit",
         {"hxvplug.sys", true, true, kOsVariantNone, kWordSizeAlwaysX86},
         {true, true, true},
         "hxvplug.sys.x86",
         "x86\\hxvplug.sys",
         false},
        {"subfolder flag without architecture variant is ignored",
         {"hxvhub.inf", false, true, kOsVariantNone, kWordSizeNative},
         {true, true, true},
         "hxvhub.inf",
         "hxvhub.inf",
         false},
        {"Windows 10 wins over every other generation fact",
         {"hxvhub.cat", false, false, kOsVariantGeneration, kWordSizeNative},
         {false, false, true},
         "hxvhub.cat.v10",
         "hxvhub.cat",
         false},
        {"companion without architecture variant is still skipped on 32-bit",
         {"hxvchan.dll", false, false, kOsVariantNone, kWordSizeCompanion},
         {false, true, true},
         "hxvchan.dll",
         "hxvchan.dll",
         true},
    };
    for (const Case& c : cases) {
        const PayloadDecision decision = ResolvePayloadRule(c.rule, c.system);
        EXPECT_EQ(decision.entryName, c.entry) << c.what;
        EXPECT_EQ(decision.destinationName, c.destination) << c.what;
        EXPECT_EQ(decision.skipped, c.skipped) << c.what;
    }
}

// The install step creates one per-architecture folder before copying; every
// file of either profile that goes into a subfolder must go into that one.
TEST(PayloadPlan, SubfolderFilesGoIntoTheFolderMadeForTheWordSize) {
    for (const ProfileCase& profile : kProfiles) {
        for (const SystemCase& system : kSystems) {
            const std::string folder = std::string(ArchitectureFolderName(system.system)) + "\\";
            for (const PayloadFile& file :
                 ResolvePayloadPlan(profile.profile->payloadRules, system.system)) {
                if (file.destinationName.find('\\') != std::string::npos) {
                    EXPECT_EQ(file.destinationName.rfind(folder, 0), 0u)
                        << profile.name << " on " << system.label << ": " << file.destinationName;
                }
            }
        }
    }
}

TEST(PayloadPlan, SystemUsbDriverEntryByVersionClass) {
    struct Case {
        int osVersionCode;
        const char* x86;
        const char* amd64;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        EXPECT_EQ(SystemUsbDriverEntryName(false, c.osVersionCode), c.x86) << c.osVersionCode;
        EXPECT_EQ(SystemUsbDriverEntryName(true, c.osVersionCode), c.amd64) << c.osVersionCode;
    }
}

} // namespace
