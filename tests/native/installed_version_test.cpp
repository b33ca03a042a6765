// Which installed DisplayVersion values stop the setup as newer, and which let it go on.
#include "installed_version.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

using namespace std::string_literals;

namespace {

TEST(InstalledVersion, StopsTheSetupOnlyForANewerVersion) {
    const std::string spaces55(55, ' '), spaces56(56, ' ');
    // The value's bytes as stored: a REG_SZ holds its text and a zero.
    const struct {
        const char* what;
        std::string stored;
        bool newer;
    } rows[] = {
        {"the same version", "3.12.0.3230\0"s, false},
        {"the same build with another fourth number", "3.12.0.9999\0"s, false},
        {"a newer minor version", "3.13.0.1\0"s, true},
        {"a newer major version", "4.0.0.0\0"s, true},
        {"a newer build", "3.12.1.0\0"s, true},
        {"an older major version with a larger minor", "2.15.0.7\0"s, false},
        {"an older minor version with a larger build", "3.11.99.9999\0"s, false},
        // No build number: taken as 0, the same version as our 3.12.0.
        {"two numbers, the same version", "3.12\0"s, false},
        {"two numbers, a newer version", "3.13\0"s, true},
        {"three numbers, a newer build", "3.12.1\0"s, true},
        {"one number only", "4\0"s, false},
        {"an empty text", "\0"s, false},
        {"a text without numbers", "unknown\0"s, false},
        {"a letter before the numbers", "v4.0.0.0\0"s, false},
        {"commas instead of dots", "4,0,0,0\0"s, false},
        {"blanks before the numbers", " 4. 0.0.0\0"s, true},
        {"words after the numbers", "4.0.0.0 beta\0"s, true},
        {"a negative major number", "-4.0.0.0\0"s, false},
        {"a major number too large for an int", "99999999999.0\0"s, true},
        {"the text ends at its first zero byte", "3.12\0009.9\0"s, false},
        {"a string stored without its zero", "4.0.0.0", true},
        {"a DWORD value", "\x04\0\0\0"s, false},
        // The longest value read is 63 bytes: 63 characters and their zero make 64.
        {"62 characters and the zero", "4.0.0.0" + spaces55 + '\0', true},
        {"63 characters and the zero", "4.0.0.0" + spaces56 + '\0', false},
        {"63 bytes without a zero", "4.0.0.0" + spaces56, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsNewerVersionInstalled(row.stored.data(), row.stored.size(), "3.12.0.3230"),
                  row.newer)
            << row.what;
    }
    // Our own version needs two numbers too.
    const std::string installed = "4.0.0.0\0"s;
    EXPECT_FALSE(IsNewerVersionInstalled(installed.data(), installed.size(), "4"));
    EXPECT_FALSE(IsNewerVersionInstalled(installed.data(), installed.size(), ""));
    EXPECT_TRUE(IsNewerVersionInstalled(installed.data(), installed.size(), "3.12"));
}

// Read as sscanf reads "%d.%d.%d.%d" where the numbers fit an int; beyond, the largest int.
TEST(ParseVersionNumbers, CountsTheNumbersAsTheCLibraryDoes) {
    for (const char* text : {"3.12.0.3230", "1.2.3.4.5", "1..2", "1.2.", ".1", " 7 . 8", "\t7.\n8",
                             "+1.-2.+3.-0", "-", "1.-", "12abc.3", "1.2,3", "", "   ",
                             "2147483647.1", "-2147483648.1", "0x10.1", "1e5.2", "4. 5 .6"}) {
        int expected[4] = {-7, -7, -7, -7}, numbers[4] = {-7, -7, -7, -7};
        const int count = std::sscanf(text, "%d.%d.%d.%d", &expected[0], &expected[1], &expected[2],
                                      &expected[3]);
        ASSERT_EQ(ParseVersionNumbers(text, numbers), count == EOF ? 0 : count)
            << '"' << text << '"';
        for (int index = 0; index < 4; ++index) {
            EXPECT_EQ(numbers[index], expected[index]) << '"' << text << "\" number " << index;
        }
    }
    int numbers[4] = {};
    ASSERT_EQ(ParseVersionNumbers("99999999999999999999.-99999999999999999999.2147483648", numbers),
              3);
    EXPECT_EQ(numbers[0], INT_MAX);
    EXPECT_EQ(numbers[1], INT_MIN);
    EXPECT_EQ(numbers[2], INT_MAX);
}

} // namespace
