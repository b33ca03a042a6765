// Which device log the SetupAPI capture watches, at which level, and how much
// of its growth reaches the setup log.
#include "setupapi_log_rules.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct ChoiceRow {
    const char* what;
    unsigned major;
    const char* windowsFolder;
    const std::string* logPath; // null: no LogPath value
    const char* expectedPath;
    uint32_t expectedLevel;
};

void PrintTo(const ChoiceRow& row, std::ostream* out) {
    *out << row.what;
}

class ChooseSetupApiLogTest : public ::testing::TestWithParam<ChoiceRow> {};

TEST_P(ChooseSetupApiLogTest, PicksTheLogAndLevel) {
    const ChoiceRow& row = GetParam();
    const SetupApiLogChoice choice = ChooseSetupApiLog(row.major, row.windowsFolder, row.logPath);
    EXPECT_EQ(choice.path, row.expectedPath);
    EXPECT_EQ(choice.level, row.expectedLevel);
}

const std::string kLogsWithTerminator("D:\\Logs\0", 8);
const std::string kLogsWithoutTerminator("D:\\Logs");
const std::string kLogPath260(std::string(259, 'p') + '\0');
const std::string kLogPath261(std::string(260, 'p') + '\0');

INSTANTIATE_TEST_SUITE_P(
    Versions, ChooseSetupApiLogTest,
    ::testing::Values(
        ChoiceRow{"Windows2000", 5, "C:\\WINNT", nullptr, "C:\\WINNT\\setupapi.log", 0xFFFF},
        // Before Vista there is no LogPath: a value left by someone is ignored.
        ChoiceRow{"XpIgnoresLogPath", 5, "C:\\WINDOWS", &kLogsWithTerminator,
                  "C:\\WINDOWS\\setupapi.log", 0xFFFF},
        ChoiceRow{"VistaWithoutLogPath", 6, "C:\\Windows", nullptr,
                  "C:\\Windows\\inf\\setupapi.dev.log", 0x5050},
        ChoiceRow{"WindowsFolderAtARoot", 6, "C:\\", nullptr, "C:\\inf\\setupapi.dev.log", 0x5050},
        ChoiceRow{"LogPath", 6, "C:\\Windows", &kLogsWithTerminator, "D:\\Logs\\setupapi.dev.log",
                  0x5050},
        ChoiceRow{"LogPathWithoutTerminator", 6, "C:\\Windows", &kLogsWithoutTerminator,
                  "D:\\Logs\\setupapi.dev.log", 0x5050},
        ChoiceRow{"LogPathOf260Bytes", 6, "C:\\Windows", &kLogPath260,
                  "ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp"
                  "ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp"
                  "ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp"
                  "pppppppppppppppppppppp\\setupapi.dev.log",
                  0x5050},
        // Too long for a path: nothing is watched rather than a cut path.
        ChoiceRow{"LogPathOf261Bytes", 6, "C:\\Windows", &kLogPath261, "", 0x5050}),
    [](const ::testing::TestParamInfo<ChoiceRow>& info) { return std::string(info.param.what); });

struct GrowthRow {
    const char* what;
    uint64_t start;
    uint64_t current;
    uint64_t expected;
};

void PrintTo(const GrowthRow& row, std::ostream* out) {
    *out << row.what;
}

class CapturedGrowthTest : public ::testing::TestWithParam<GrowthRow> {};

TEST_P(CapturedGrowthTest, CopiesOnlyAModestGrowth) {
    const GrowthRow& row = GetParam();
    EXPECT_EQ(CapturedGrowth(row.start, row.current), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CapturedGrowthTest,
    ::testing::Values(GrowthRow{"Grew", 1000, 1500, 500}, GrowthRow{"NewLog", 0, 42, 42},
                      GrowthRow{"Unchanged", 1000, 1000, 0}, GrowthRow{"Shrank", 1000, 10, 0},
                      GrowthRow{"JustUnder2MiB", 7, 7 + 0x1FFFFF, 0x1FFFFF},
                      GrowthRow{"Exactly2MiB", 7, 7 + 0x200000, 0},
                      GrowthRow{"Over2MiB", 0, 0x300000, 0},
                      // Sizes past 4 GiB are compared whole, not by their low halves.
                      GrowthRow{"Past4GiB", 0x100000010ull, 0x100000020ull, 0x10},
                      GrowthRow{"LowHalfWrapped", 0xFFFFFFF0ull, 0x100000010ull, 0x20}),
    [](const ::testing::TestParamInfo<GrowthRow>& info) { return std::string(info.param.what); });

} // namespace
