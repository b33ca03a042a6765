// The setup log's line writer on a real file.
#include "installer_test_support.h"
#include "setup_log_api.h"

#include <gtest/gtest.h>

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

// Names the row in test listings, so ctest shows what each case checks.
void PrintTo(const LineRow& row, std::ostream* out) {
    *out << row.what;
}

class WriteLineTest : public ::testing::TestWithParam<LineRow> {};

TEST_P(WriteLineTest, WritesTheBytesOfOneLine) {
    const LineRow& row = GetParam();
    ScratchFolder folder;
    TestSetupLog log(folder / "setup.log");
    {
        CSetupLogApi writer(log.Handle());
        writer.WriteLine(row.text, row.second);
    }
    EXPECT_EQ(log.Content(), row.expected) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WriteLineTest,
    ::testing::Values(LineRow{"no blank is added between the two texts", "source file:",
                              "hxvhub.sys.amd64.v10", "source file:hxvhub.sys.amd64.v10\r\n"},
                      LineRow{"a first text carries its own blank",
                              "Install File: ", "C:\\P\\a.dll", "Install File: C:\\P\\a.dll\r\n"},
                      LineRow{"a text alone", "=== Rollback process ===", nullptr,
                              "=== Rollback process ===\r\n"},
                      LineRow{"line feeds inside a text stay as they are",
                              "Error during installation.\nError code = 0x00000005", "\nnext",
                              "Error during installation.\nError code = 0x00000005\nnext\r\n"},
                      LineRow{"an empty text still ends its line", "", "", "\r\n"},
                      LineRow{"without a first text nothing is written", nullptr, "orphan", ""}));

// Pieces of lines from other writers (another thread, the child installer's
// inherited handle) must not be overwritten: each piece goes to the end of the
// file as it is then, wherever this handle's own position was.
TEST(WriteLine, AppendsAfterWhatOtherWritersAdded) {
    ScratchFolder folder;
    const std::string path = folder / "shared.log";
    HANDLE first = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    {
        CSetupLogApi mainThread(first);
        CSetupLogApi notificationThread(second);
        mainThread.WriteLine("Install File: ", "C:\\P\\one.dll");
        notificationThread.WriteLine("Notification thread is finished!");
        mainThread.WriteLine("Install File: ", "C:\\P\\two.dll");
    }
    CloseHandle(second);
    CloseHandle(first);
    EXPECT_EQ(installer_test::ReadWholeFile(path), "Install File: C:\\P\\one.dll\r\n"
                                                   "Notification thread is finished!\r\n"
                                                   "Install File: C:\\P\\two.dll\r\n");
}

} // namespace
