// The setup log's line writer and the installer's code lines on real files.
#include "installer_test_support.h"
#include "setup_log_api.h"

#include <ostream>

using installer_test::ScratchFolder;
using installer_test::TestSetupLog;

namespace {

struct LineRow {
    const char* what;
    const char* text;
    const char* second;
    const char* expected;
};

void PrintTo(const LineRow& row, std::ostream* out) {
    *out << row.what;
}

class WriteLineTest : public ::testing::TestWithParam<LineRow> {};

TEST_P(WriteLineTest, WritesTheBytesOfOneLine) {
    ScratchFolder folder;
    TestSetupLog log(folder / "setup.log");
    CSetupLogApi(log.Handle()).WriteLine(GetParam().text, GetParam().second);
    EXPECT_EQ(log.Content(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WriteLineTest,
    ::testing::Values(LineRow{"no blank is added between the two texts", "source file:",
                              "hxvhub.sys.amd64.v10", "source file:hxvhub.sys.amd64.v10\r\n"},
                      LineRow{"a text alone", "=== Rollback process ===", nullptr,
                              "=== Rollback process ===\r\n"},
                      LineRow{"line feeds inside a text stay as they are", "Error.\nCode = 0x5",
                              "\nnext", "Error.\nCode = 0x5\nnext\r\n"},
                      LineRow{"an empty text still ends its line", "", "", "\r\n"},
                      LineRow{"without a first text nothing is written", nullptr, "orphan", ""}));

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
TEST(InstallerLog, AppendsTheCodeInLowerCaseHexadecimal) {
    ScratchFolder folder;
    TestSetupLog log(folder / "setup.log");
    CInstaller installer(log.Handle(), FALSE, TRUE, FALSE, FALSE);
    installer.LogCode("Internal error: ", 0);
    installer.LogCode("failed on SetupDiCallClassInstaller()", 0xE000020B);
    auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    lines.erase(lines.begin(), lines.end() - 2);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"Internal error: (0x0)",
                                        "failed on SetupDiCallClassInstaller()(0xe000020b)"}));
}

} // namespace
