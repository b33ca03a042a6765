// The setup log's line writer and CInstaller's construction and log lines, on
// real files in the test's Wine prefix. Wine always runs as an administrator,
// so the refusal of other users cannot be produced here.
#include "installer_test_support.h"
#include "setup_log_api.h"

#include <algorithm>

using installer_test::ScratchFolder;
using installer_test::TestSetupLog;

namespace {

// Exact lines are compared end to end (tests/e2e); here the edges: an empty
// text still ends its line, and without a first text nothing is written.
TEST(WriteLine, EndsEveryLineItWrites) {
    ScratchFolder folder;
    TestSetupLog log(folder / "setup.log");
    CSetupLogApi writer(log.Handle());
    writer.WriteLine("", "");
    writer.WriteLine(nullptr, "orphan");
    EXPECT_EQ(log.Content(), "\r\n");
}

// Another writer's lines (the notification thread, the child's inherited
// handle) must not be overwritten: each line goes to the end of the file.
TEST(WriteLine, AppendsAfterWhatOtherWritersAdded) {
    ScratchFolder folder;
    UniqueFile handles[2];
    for (UniqueFile& handle : handles) {
        handle.reset(CreateFileA((folder / "shared.log").c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(handle);
    }
    CSetupLogApi mainThread(handles[0].get()), notificationThread(handles[1].get());
    mainThread.WriteLine("Install File: ", "one.dll");
    notificationThread.WriteLine("Notification thread is finished!");
    mainThread.WriteLine("Install File: ", "two.dll");
    EXPECT_EQ(installer_test::ReadWholeFile(folder / "shared.log"),
              "Install File: one.dll\r\nNotification thread is finished!\r\n"
              "Install File: two.dll\r\n");
}

// Setup runs on when its log could not be created, whatever stands for "no log".
TEST(InstallerLog, RunsWithoutALogFile) {
    for (HANDLE none : {INVALID_HANDLE_VALUE, HANDLE(nullptr)}) {
        CInstaller installer(none, FALSE, TRUE, FALSE, FALSE);
        installer.Log("Install File: ", "C:\\nowhere");
        installer.LogCode("Internal error: ", 31);
    }
}

// Codes go out in lower-case hexadecimal, without leading zeros.
using InstallerLogTest = installer_test::InstallerTest;
TEST_F(InstallerLogTest, AppendsTheCodeInLowerCaseHexadecimal) {
    installer->LogCode("Internal error: ", 0);
    installer->LogCode("failed on SetupDiCallClassInstaller()", 0xE000020B);
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Internal error: (0x0)",
                                        "failed on SetupDiCallClassInstaller()(0xe000020b)"}));
}

constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kRunOnceLine[] = "Create 'RunOnce' registry key entry";

class InstallerChecksTest : public ::testing::Test {
protected:
    ScratchFolder folder;
    TestSetupLog log{folder / "setup.log"};

    size_t CountLines(const std::string& line) const {
        const auto lines = log.Lines();
        return size_t(std::count(lines.begin(), lines.end(), line));
    }
    // The error the construction with these options threw.
    CSetupError Refusal(BOOL loadPackage, BOOL refuse64Bit) {
        try {
            CInstaller installer(log.Handle(), loadPackage, TRUE, refuse64Bit, FALSE);
        } catch (const CSetupError& error) {
            return error;
        }
        ADD_FAILURE() << "the installer was constructed";
        return {};
    }
};

// The line says the key was created: once after its removal, not again.
TEST_F(InstallerChecksTest, LogsTheRunOnceKeyOnlyWhenItCreatedIt) {
    if (!installer_test::RunningUnderWine()) {
        GTEST_SKIP() << "removes HKLM RunOnce: only in a throwaway Wine prefix";
    }
    // Other tests may re-create the key between its removal and our construction.
    for (int attempt = 0; attempt < 5 && CountLines(kRunOnceLine) == 0; ++attempt) {
        UniqueHkey existing;
        DWORD subkeys = 0, values = 0;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, existing.put()) ==
            ERROR_SUCCESS) {
            RegQueryInfoKeyA(existing.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr);
            if (subkeys != 0 || values != 0) {
                GTEST_SKIP() << "RunOnce holds entries of this prefix; not removing it";
            }
            ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunOnceKey), ERROR_SUCCESS);
        }
        CInstaller(log.Handle(), FALSE, TRUE, FALSE, FALSE);
    }
    EXPECT_EQ(CountLines(kRunOnceLine), 1u);
    CInstaller(log.Handle(), FALSE, TRUE, FALSE, FALSE);
    EXPECT_EQ(CountLines(kRunOnceLine), 1u);
}

TEST_F(InstallerChecksTest, RefusesA64BitSystemWhenAskedTo) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
        GTEST_SKIP() << "needs a 64-bit prefix";
    }
    const CSetupError error = Refusal(FALSE, TRUE);
    EXPECT_EQ(error.wModule, kModuleInstaller);
    EXPECT_EQ(error.wLocation, 95);
    EXPECT_EQ(error.dwCode, 0xE0000233u);
    EXPECT_EQ(CountLines("Error: Install 32-bit package into 64-bit system"), 1u);
}

// This program carries no package, which the reader takes for a damaged setup
// file (status -2): the status becomes the error's module and location.
TEST_F(InstallerChecksTest, ReportsAMissingPackageWithTheReadersStatus) {
    const CSetupError error = Refusal(TRUE, FALSE);
    EXPECT_EQ(error.wModule, 0xFFFF);
    EXPECT_EQ(error.wLocation, 0xFFFE);
    EXPECT_EQ(error.dwCode, kCodeInternalError);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back(), "Error: Init installer");
}

} // namespace
