// The setup log's line writer and CInstaller's construction and log lines, on
// real files in the test's Wine prefix.
#include "installer_test_support.h"
#include "setup_log_api.h"

#include <algorithm>
#include <thread>

using installer_test::ScratchFolder;
using installer_test::TestSetupLog;

namespace {

// Another writer's lines (the notification thread, the child's inherited
// handle) must not be overwritten: each line goes to the end of the file. An
// empty text still ends its line; without a first text nothing is written.
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
    mainThread.WriteLine(nullptr, "orphan");
    notificationThread.WriteLine("", "");
    EXPECT_EQ(installer_test::ReadWholeFile(folder / "shared.log"),
              "Install File: one.dll\r\nNotification thread is finished!\r\n"
              "Install File: two.dll\r\n\r\n");
}

// The child installer writes into the setup's log through the same handle
// while the notification thread logs what it reported: every line must come
// out whole, never with another writer's line in its middle.
TEST(WriteLine, LinesFromWritersSharingTheFileStayWhole) {
    ScratchFolder folder;
    TestSetupLog log(folder / "setup.log");
    constexpr int kLines = 300;
    const std::string longName(700, 'x');
    const auto writeLines = [&](const char* text, const char* second) {
        CSetupLogApi api(log.Handle());
        for (int i = 0; i < kLines; ++i) {
            api.WriteLine(text, second);
        }
    };
    std::thread child(writeLines, "Internal error: ", "(0x0)");
    writeLines("Install File: ", longName.c_str());
    child.join();
    const auto lines = log.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Internal error: (0x0)"), kLines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Install File: " + longName), kLines);
    EXPECT_EQ(lines.size(), size_t(2 * kLines));
}

// Setup runs on when its log could not be created, whatever stands for "no
// log"; codes go out in lower-case hexadecimal (without leading zeros: end to end).
using InstallerLogTest = installer_test::InstallerTest;
TEST_F(InstallerLogTest, AppendsTheCodeInLowerCaseHexadecimalAndRunsWithoutALog) {
    installer->LogCode("failed on SetupDiCallClassInstaller()", 0xE000020B);
    EXPECT_EQ(OperationLines(),
              std::vector<std::string>{"failed on SetupDiCallClassInstaller()(0xe000020b)"});
    for (HANDLE none : {INVALID_HANDLE_VALUE, HANDLE(nullptr)}) {
        CInstaller withoutLog(none, FALSE, TRUE, FALSE, FALSE);
        withoutLog.Log("Install File: ", "C:\\nowhere");
        withoutLog.LogCode("Internal error: ", 31);
    }
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
};

// The line says the key was created: once after its removal, not again.
TEST_F(InstallerChecksTest, LogsTheRunOnceKeyOnlyWhenItCreatedIt) {
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
    try {
        CInstaller installer(log.Handle(), FALSE, TRUE, TRUE, FALSE);
        ADD_FAILURE() << "the installer was constructed";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 95);
        EXPECT_EQ(error.dwCode, 0xE0000233u);
    }
    EXPECT_EQ(CountLines("Error: Install 32-bit package into 64-bit system"), 1u);
}

} // namespace
