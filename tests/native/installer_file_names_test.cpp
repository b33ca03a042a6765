// File-name forms of the installer and the order in which rollback walks its
// journal.
#include "file_names.h"
#include "install_journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct FallbackRow {
    unsigned minute;
    unsigned second;
    unsigned millisecond;
    const char* expected;
};

class FallbackTempNameTest : public ::testing::TestWithParam<FallbackRow> {};

TEST_P(FallbackTempNameTest, RunsTheClockFieldsTogetherWithoutLeadingZeros) {
    const FallbackRow& row = GetParam();
    std::string name = "left over";
    ASSERT_TRUE(FormatFallbackTempName("C:\\Program Files\\Corvane", "hxvhub.sys", row.minute,
                                       row.second, row.millisecond, &name));
    EXPECT_EQ(name, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ClockValues, FallbackTempNameTest,
    ::testing::Values(FallbackRow{7, 5, 32, "C:\\Program Files\\Corvane\\hxvhub.sys-7532.tmp"},
                      FallbackRow{0, 0, 0, "C:\\Program Files\\Corvane\\hxvhub.sys-000.tmp"},
                      FallbackRow{59, 59, 999,
                                  "C:\\Program Files\\Corvane\\hxvhub.sys-5959999.tmp"}));

TEST(FallbackTempName, RefusesANameThatDoesNotFitAPathBuffer) {
    // folder + "\" + prefix + "-000.tmp" is 259 characters with a 245-byte
    // folder and a 5-byte prefix: the longest name that still fits.
    const std::string folder = "C:\\" + std::string(242, 'f');
    std::string name;
    ASSERT_TRUE(FormatFallbackTempName(folder, "abcde", 0, 0, 0, &name));
    EXPECT_EQ(name.size(), 259u);

    name = "left over";
    EXPECT_FALSE(FormatFallbackTempName(folder, "abcdef", 0, 0, 0, &name));
    EXPECT_TRUE(name.empty());
}

TEST(JoinPath, PutsExactlyOneBackslashBetween) {
    EXPECT_EQ(JoinPath("C:\\Dir", "file.txt"), "C:\\Dir\\file.txt");
    EXPECT_EQ(JoinPath("C:", "file.txt"), "C:\\file.txt");
    EXPECT_EQ(JoinPath("C:\\Dir", "x86\\hxvhub.sys"), "C:\\Dir\\x86\\hxvhub.sys");
}

// Rollback deletes created entries in ascending key order, so the order is
// what users see: which of two files goes first, and that a folder's own key
// comes before the files inside it. Windows paths are case-insensitive, but
// the journal must not be: two spellings are two records.
TEST(JournalOrder, IsByteWiseCaseSensitiveAndPrefixFirst) {
    JournalEntryTable journal;
    journal["C:\\App\\readme.txt"] = kJournalCreatedFile;
    journal["C:\\App\\Readme.txt"] = kJournalCreatedFile;
    journal["C:\\App\\x86\\hxvhub.sys"] = kJournalCreatedFile;
    journal["C:\\App"] = kJournalCreatedDirectory;
    journal["C:\\App\\x86"] = kJournalCreatedDirectory;
    journal["C:\\App\\\xE9t\xE9.txt"] = kJournalCreatedFile; // bytes above 0x7F sort last
    journal["C:\\App\\zeta.txt"] = kJournalCreatedFile;

    std::vector<std::string> order;
    for (const auto& entry : journal) {
        order.push_back(entry.first);
    }
    const std::vector<std::string> expected = {
        "C:\\App",
        "C:\\App\\Readme.txt",
        "C:\\App\\readme.txt",
        "C:\\App\\x86",
        "C:\\App\\x86\\hxvhub.sys",
        "C:\\App\\zeta.txt",
        "C:\\App\\\xE9t\xE9.txt",
    };
    EXPECT_EQ(order, expected);
}

} // namespace
