// The installed-version check's decision: which DisplayVersion values stop the
// setup (a newer version is installed) and which let it go on.
#include "installed_version.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <ostream>
#include <string>

namespace {

constexpr char kOwnVersion[] = "3.12.0.3230";

// A REG_SZ as the registry stores it: the text and its terminating zero.
std::string Stored(const std::string& text) {
    return text + '\0';
}

struct VersionRow {
    const char* what;
    std::string stored; // the value's bytes
    bool newer;
};

void PrintTo(const VersionRow& row, std::ostream* out) {
    *out << row.what;
}

class InstalledVersionTest : public ::testing::TestWithParam<VersionRow> {};

TEST_P(InstalledVersionTest, StopsTheSetupOnlyForANewerVersion) {
    const VersionRow& row = GetParam();
    EXPECT_EQ(IsNewerVersionInstalled(row.stored.data(), row.stored.size(), kOwnVersion),
              row.newer);
}

INSTANTIATE_TEST_SUITE_P(
    DisplayVersions, InstalledVersionTest,
    ::testing::Values(
        VersionRow{"the same version", Stored("3.12.0.3230"), false},
        VersionRow{"the same build with another fourth number", Stored("3.12.0.9999"), false},
        VersionRow{"a newer minor version", Stored("3.13.0.1"), true},
        VersionRow{"a newer major version", Stored("4.0.0.0"), true},
        VersionRow{"a newer build", Stored("3.12.1.0"), true},
        VersionRow{"an older major version with a larger minor", Stored("2.15.0.7"), false},
        VersionRow{"an older minor version with a larger build", Stored("3.11.99.9999"), false},
        // No build number: taken as 0, the same version as our 3.12.0.
        VersionRow{"two numbers, the same version", Stored("3.12"), false},
        VersionRow{"two numbers, a newer version", Stored("3.13"), true},
        VersionRow{"three numbers, a newer build", Stored("3.12.1"), true},
        VersionRow{"one number only", Stored("4"), false},
        VersionRow{"an empty text", Stored(""), false},
        VersionRow{"a text without numbers", Stored("unknown"), false},
        VersionRow{"a letter before the numbers", Stored("v4.0.0.0"), false},
        VersionRow{"commas instead of dots", Stored("4,0,0,0"), false},
        VersionRow{"blanks before the numbers", Stored(" 4. 0.0.0"), true},
        VersionRow{"words after the numbers", Stored("4.0.0.0 beta"), true},
        VersionRow{"a negative major number", Stored("-4.0.0.0"), false},
        VersionRow{"a major number too large for an int", Stored("99999999999.0"), true},
        VersionRow{"the text ends at its first zero byte",
                   std::string("3.12\0"
                               "9.9",
                               8),
                   false},
        VersionRow{"a string stored without its zero", "4.0.0.0", true},
        VersionRow{"a DWORD value", std::string("\x04\0\0\0", 4), false},
        // The longest value read is 63 bytes; 63 characters and their zero
        // make 64.
        VersionRow{"62 characters and the zero", Stored("4.0.0.0" + std::string(55, ' ')), true},
        VersionRow{"63 characters and the zero", Stored("4.0.0.0" + std::string(56, ' ')), false},
        VersionRow{"63 bytes without a zero", "4.0.0.0" + std::string(56, ' '), true}));

TEST(InstalledVersion, NeedsTwoNumbersInTheOwnVersionToo) {
    const std::string installed = Stored("4.0.0.0");
    EXPECT_FALSE(IsNewerVersionInstalled(installed.data(), installed.size(), "4"));
    EXPECT_FALSE(IsNewerVersionInstalled(installed.data(), installed.size(), ""));
    EXPECT_TRUE(IsNewerVersionInstalled(installed.data(), installed.size(), "3.12"));
}

// The numbers are read as the C library reads "%d.%d.%d.%d"; its own sscanf
// is the reference for every text whose numbers fit an int.
TEST(ParseVersionNumbers, CountsTheNumbersAsTheCLibraryDoes) {
    const char* const texts[] = {
        "3.12.0.3230",
        "1.2.3.4.5",
        "1..2",
        "1.2.",
        ".1",
        " 7 . 8",
        "\t7.\n8",
        "+1.-2.+3.-0",
        "-",
        "1.-",
        "12abc.3",
        "1.2,3",
        "",
        "   ",
        "2147483647.1",
        "-2147483648.1",
        "0x10.1",
        "1e5.2",
        "4. 5 .6",
    };
    for (const char* text : texts) {
        int expected[4] = {-7, -7, -7, -7};
        int count = std::sscanf(text, "%d.%d.%d.%d", &expected[0], &expected[1], &expected[2],
                                &expected[3]);
        if (count == EOF) {
            count = 0;
        }
        int numbers[4] = {-7, -7, -7, -7};
        ASSERT_EQ(ParseVersionNumbers(text, numbers), count) << '"' << text << '"';
        for (int index = 0; index < 4; ++index) {
            EXPECT_EQ(numbers[index], expected[index]) << '"' << text << "\" number " << index;
        }
    }
}

TEST(ParseVersionNumbers, TakesNumbersBeyondAnIntAsTheLargestInt) {
    int numbers[4] = {};
    ASSERT_EQ(ParseVersionNumbers("99999999999999999999.-99999999999999999999.2147483648", numbers),
              3);
    EXPECT_EQ(numbers[0], INT_MAX);
    EXPECT_EQ(numbers[1], INT_MIN);
    EXPECT_EQ(numbers[2], INT_MAX);
}

} // namespace
