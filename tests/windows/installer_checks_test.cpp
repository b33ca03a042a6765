// CInstaller's construction and environment checks in the test's Wine prefix.
// Wine always runs as an administrator, so the refusal of a user without
// BUILTIN\Administrators cannot be produced here; neither can Windows 2000
// SP3. Both verdicts come from code covered natively (the version table) or
// from the token query alone.
#include "installer.h"
#include "installer_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <memory>

using installer_test::ScratchFolder;
using installer_test::TestSetupLog;

namespace {

constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kRunOnceLine[] = "Create 'RunOnce' registry key entry";

class InstallerChecksTest : public ::testing::Test {
protected:
    ScratchFolder folder;
    TestSetupLog log{folder / "setup.log"};

    // The install process's choice: administrator required, nothing else.
    std::unique_ptr<CInstaller> Construct() {
        return std::make_unique<CInstaller>(log.Handle(), FALSE, TRUE, FALSE, FALSE);
    }

    size_t CountLines(const std::string& line) const {
        const auto lines = log.Lines();
        return size_t(std::count(lines.begin(), lines.end(), line));
    }
};

TEST_F(InstallerChecksTest, ConstructsForTheInstallProcess) {
    std::unique_ptr<CInstaller> installer;
    try {
        installer = Construct();
    } catch (const CSetupError& error) {
        FAIL() << "construction threw module " << error.wModule << " location " << error.wLocation
               << " code " << error.dwCode;
    }
    EXPECT_TRUE(installer->IsAdministrator());
    ASSERT_NE(installer->GetPackedTools(), nullptr);
    EXPECT_EQ(installer->GetPackedTools()->GetEntryCount(), 0u);
    ASSERT_NE(installer->GetRestartFlagPointer(), nullptr);
    EXPECT_EQ(*installer->GetRestartFlagPointer(), 0);
    EXPECT_TRUE(installer->GetJournalEntries().empty());
    // Nothing but the RunOnce line may come from a successful construction.
    for (const std::string& line : log.Lines()) {
        EXPECT_EQ(line, kRunOnceLine);
    }
}

// The line says the key had to be created, so it appears once: on the first
// construction after the key was removed, not on the next.
TEST_F(InstallerChecksTest, LogsTheRunOnceKeyOnlyWhenItCreatedIt) {
    if (!installer_test::RunningUnderWine()) {
        GTEST_SKIP() << "removes HKLM RunOnce: only in a throwaway Wine prefix";
    }
    // Other tests of this program construct installers at the same time and
    // may re-create the key between its removal and our construction: retry.
    for (int attempt = 0; attempt < 5 && CountLines(kRunOnceLine) == 0; ++attempt) {
        HKEY existing = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, &existing) ==
            ERROR_SUCCESS) {
            DWORD subkeys = 0, values = 0;
            RegQueryInfoKeyA(existing, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(existing);
            if (subkeys != 0 || values != 0) {
                GTEST_SKIP() << "RunOnce holds entries of this prefix; not removing it";
            }
            ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunOnceKey), ERROR_SUCCESS);
        }
        Construct();
    }
    EXPECT_EQ(CountLines(kRunOnceLine), 1u);
    HKEY created = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, &created), ERROR_SUCCESS);
    RegCloseKey(created);

    Construct();
    EXPECT_EQ(CountLines(kRunOnceLine), 1u);
}

// An independent view of the same fact: the kernel's answer for this process.
TEST_F(InstallerChecksTest, TellsA64BitSystemApart) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(Construct()->IsWow64System(), bool(wow64));
}

TEST_F(InstallerChecksTest, RefusesA64BitSystemWhenAskedTo) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    if (!wow64) {
        GTEST_SKIP() << "needs a 64-bit prefix";
    }
    try {
        CInstaller installer(log.Handle(), FALSE, TRUE, TRUE, FALSE);
        FAIL() << "a 32-bit setup was allowed on 64-bit Windows";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 95);
        EXPECT_EQ(error.dwCode, 0xE0000233u);
    }
    EXPECT_EQ(CountLines("Error: Install 32-bit package into 64-bit system"), 1u);
}

// The test program carries no package, which looks to the reader like a
// damaged setup file: its status word becomes the error's module and location.
TEST_F(InstallerChecksTest, ReportsAMissingPackageWithTheReadersStatus) {
    try {
        CInstaller installer(log.Handle(), TRUE, TRUE, FALSE, FALSE);
        FAIL() << "a program without a package loaded one";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, 0xFFFF);
        EXPECT_EQ(error.wLocation, 0xFFFE); // -2: damaged
        EXPECT_EQ(error.dwCode, kCodeInternalError);
    }
    const auto lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Error: Init installer");
}

// Setup runs on when its log could not be created: every line is dropped,
// whatever handle value stands for "no log".
TEST_F(InstallerChecksTest, RunsWithoutALogFile) {
    for (HANDLE none : {INVALID_HANDLE_VALUE, HANDLE(nullptr)}) {
        CInstaller installer(none, FALSE, TRUE, FALSE, FALSE);
        installer.Log("Install File: ", "C:\\nowhere");
        installer.LogCode("Internal error: ", 31);
    }
    EXPECT_TRUE(log.Content().empty());
}

struct VersionClass {
    DWORD major;
    DWORD minor;
    bool workstation;
    int code;
};

// What Wine can be told to report (HKCU\Software\Wine, Version), with the
// class each must get. Without compatibility entries in a manifest, Windows
// 8.1 and 10 report 6.2 to this program, as real Windows does.
constexpr VersionClass kWineVersions[] = {
    {5, 0, true, 0},  {5, 1, true, 1},   {5, 2, false, 2},  {5, 2, true, 2},    {6, 0, true, 3},
    {6, 0, false, 4}, {6, 1, true, 5},   {6, 1, false, 6},  {6, 2, true, 7},    {6, 2, false, 8},
    {6, 3, true, 9},  {6, 3, false, 10}, {10, 0, true, 11}, {10, 0, false, 12},
};

TEST_F(InstallerChecksTest, ClassifiesTheWindowsThePrefixReports) {
    OSVERSIONINFOEXA reported{};
    reported.dwOSVersionInfoSize = sizeof reported;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&reported)));
    const bool workstation = reported.wProductType == VER_NT_WORKSTATION;
    const VersionClass* expected = nullptr;
    for (const VersionClass& row : kWineVersions) {
        if (row.major == reported.dwMajorVersion && row.minor == reported.dwMinorVersion &&
            row.workstation == workstation) {
            expected = &row;
        }
    }
    ASSERT_NE(expected, nullptr) << "no row for Windows " << reported.dwMajorVersion << "."
                                 << reported.dwMinorVersion;

    auto installer = Construct();
    EXPECT_EQ(installer->GetOsVersionCode(), expected->code);
    EXPECT_TRUE(installer->DetectOsVersion());
    EXPECT_EQ(installer->GetOsVersionCode(), expected->code);
    EXPECT_EQ(installer->IsVistaOrLater(), reported.dwMajorVersion >= 6);
    EXPECT_EQ(installer->IsWindows10OrLater(), reported.dwMajorVersion >= 10);
}

struct CodeRow {
    const char* message;
    uint32_t code;
    const char* line;
};

void PrintTo(const CodeRow& row, std::ostream* out) {
    *out << row.line;
}

class LogCodeTest : public InstallerChecksTest, public ::testing::WithParamInterface<CodeRow> {};

TEST_P(LogCodeTest, AppendsTheCodeInLowerCaseHexadecimal) {
    const CodeRow& row = GetParam();
    auto installer = Construct();
    installer->LogCode(row.message, row.code);
    const auto lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), row.line);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, LogCodeTest,
    ::testing::Values(CodeRow{"Internal error: ", 31, "Internal error: (0x1f)"},
                      CodeRow{"failed on SetupDiCallClassInstaller()", 0xE000020B,
                              "failed on SetupDiCallClassInstaller()(0xe000020b)"},
                      CodeRow{"Internal error: ", 0, "Internal error: (0x0)"},
                      CodeRow{"Internal error: ", 0xFFFFFFFF, "Internal error: (0xffffffff)"}));

} // namespace
