// Which device log the SetupAPI capture watches, at which level, and how much of it.
#include "setupapi_log_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(ChooseSetupApiLog, PicksTheLogAndLevel) {
    const std::string logs("D:\\Logs\0", 8), logsWithoutZero("D:\\Logs"),
        path260(std::string(259, 'p') + '\0'), path261(std::string(260, 'p') + '\0');
    const struct {
        const char* what;
        unsigned major;
        const char* windowsFolder;
        const std::string* logPath; // null: no LogPath value
        std::string expectedPath;
        uint32_t expectedLevel;
    } rows[] = {
        {"Windows 2000", 5, "C:\\WINNT", nullptr, "C:\\WINNT\\setupapi.log", 0xFFFF},
        // Before Vista there is no LogPath: a value left by someone is ignored.
        {"XP ignores LogPath", 5, "C:\\WINDOWS", &logs, "C:\\WINDOWS\\setupapi.log", 0xFFFF},
        {"Vista without LogPath", 6, "C:\\Windows", nullptr, "C:\\Windows\\inf\\setupapi.dev.log",
         0x5050},
        {"Windows folder at a root", 6, "C:\\", nullptr, "C:\\inf\\setupapi.dev.log", 0x5050},
        {"LogPath", 6, "C:\\Windows", &logs, "D:\\Logs\\setupapi.dev.log", 0x5050},
        {"LogPath without its zero", 6, "C:\\Windows", &logsWithoutZero,
         "D:\\Logs\\setupapi.dev.log", 0x5050},
        {"LogPath of 260 bytes", 6, "C:\\Windows", &path260,
         std::string(259, 'p') + "\\setupapi.dev.log", 0x5050},
        // Too long for a path: nothing is watched rather than a cut path.
        {"LogPath of 261 bytes", 6, "C:\\Windows", &path261, "", 0x5050},
    };
    for (const auto& row : rows) {
        const SetupApiLogChoice choice =
            ChooseSetupApiLog(row.major, row.windowsFolder, row.logPath);
        EXPECT_EQ(choice.path, row.expectedPath) << row.what;
        EXPECT_EQ(choice.level, row.expectedLevel) << row.what;
    }
}

// Only a modest growth is copied; sizes past 4 GiB are compared whole.
TEST(CapturedGrowth, CopiesOnlyAModestGrowth) {
    const struct {
        uint64_t start, current, expected;
    } rows[] = {{1000, 1500, 500},
                {0, 42, 42},
                {1000, 1000, 0},
                {1000, 10, 0},
                {7, 7 + 0x1FFFFF, 0x1FFFFF},
                {7, 7 + 0x200000, 0},
                {0, 0x300000, 0},
                {0x100000010ull, 0x100000020ull, 0x10},
                {0xFFFFFFF0ull, 0x100000010ull, 0x20}};
    for (const auto& row : rows) {
        EXPECT_EQ(CapturedGrowth(row.start, row.current), row.expected)
            << row.start << " to " << row.current;
    }
}

} // namespace
