// Lists of zero-terminated strings as the registry holds them: taking a filter
// driver's name out of a device class's upper filters, and looking a hardware
// id up in a device's list. Registry data is not always well formed, so the
// malformed shapes are here too.
#include "multi_strings.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using namespace std::string_literals;

namespace {

struct RemovalRow {
    const char* description;
    std::string before;
    const char* name;
    std::string after;
    size_t removed;
};

std::ostream& operator<<(std::ostream& out, const RemovalRow& row) {
    return out << row.description;
}

class RemoveFromMultiStringTest : public ::testing::TestWithParam<RemovalRow> {};

TEST_P(RemoveFromMultiStringTest, LeavesExactlyTheOtherStrings) {
    const RemovalRow& row = GetParam();
    std::string data = row.before;
    EXPECT_EQ(RemoveFromMultiString(data, row.name), row.removed);
    EXPECT_EQ(data, row.after);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RemoveFromMultiStringTest,
    ::testing::Values(
        RemovalRow{"the only entry", "corvflt\0\0"s, "corvflt", "\0"s, 1},
        RemovalRow{"first of several", "corvflt\0kbdclass\0\0"s, "corvflt", "kbdclass\0\0"s, 1},
        RemovalRow{"last of several", "kbdclass\0corvflt\0\0"s, "corvflt", "kbdclass\0\0"s, 1},
        RemovalRow{"twice, once in another case", "CorvFlt\0kbdclass\0corvflt\0\0"s, "corvflt",
                   "kbdclass\0\0"s, 2},
        RemovalRow{"twice in a row", "corvflt\0CORVFLT\0mouclass\0\0"s, "corvflt", "mouclass\0\0"s,
                   2},
        RemovalRow{"a longer name that begins with it", "corvfltx\0kbdclass\0\0"s, "corvflt",
                   "corvfltx\0kbdclass\0\0"s, 0},
        RemovalRow{"a shorter name that it begins with", "corv\0kbdclass\0\0"s, "corvflt",
                   "corv\0kbdclass\0\0"s, 0},
        RemovalRow{"absent", "kbdclass\0mouclass\0\0"s, "corvflt", "kbdclass\0mouclass\0\0"s, 0},
        RemovalRow{"after the list's end", "kbdclass\0\0corvflt\0\0"s, "corvflt",
                   "kbdclass\0\0corvflt\0\0"s, 0},
        RemovalRow{"no final empty string", "kbdclass\0corvflt\0"s, "corvflt", "kbdclass\0"s, 1},
        RemovalRow{"last string cut off by the data's end", "kbdclass\0corvflt"s, "corvflt",
                   "kbdclass\0"s, 1},
        RemovalRow{"cut-off string shorter than the name", "kbdclass\0corv"s, "corvflt",
                   "kbdclass\0corv"s, 0},
        RemovalRow{"an empty name", "kbdclass\0\0"s, "", "kbdclass\0\0"s, 0},
        RemovalRow{"no data", ""s, "corvflt", ""s, 0},
        // Only ASCII letters fold: the registry's own comparison of driver
        // names, and code-page letters are not names a driver carries.
        RemovalRow{"letters beyond ASCII are compared as they are", "corv\xC9\0\0"s, "corv\xE9",
                   "corv\xC9\0\0"s, 0}));

TEST(RemoveFromMultiString, RemovesFromAListLongerThanTheFirstReadBuffer) {
    // Longer than the 256 bytes of the first registry read.
    std::string before;
    std::string expected;
    for (int index = 0; index < 40; ++index) {
        const std::string name = "filter" + std::to_string(index);
        before += name + '\0';
        expected += name + '\0';
        if (index == 20 || index == 39) {
            before += "CORVFLT"s + '\0';
        }
    }
    before += '\0';
    expected += '\0';
    ASSERT_GT(before.size(), 256u);

    EXPECT_EQ(RemoveFromMultiString(before, "corvflt"), 2u);
    EXPECT_EQ(before, expected);
}

struct ContainsRow {
    const char* description;
    std::string ids;
    const char* id;
    bool contained;
};

std::ostream& operator<<(std::ostream& out, const ContainsRow& row) {
    return out << row.description;
}

class MultiStringContainsTest : public ::testing::TestWithParam<ContainsRow> {};

TEST_P(MultiStringContainsTest, MatchesWholeIdsByteForByte) {
    const ContainsRow& row = GetParam();
    EXPECT_EQ(MultiStringContains(row.ids.data(), row.ids.size(), row.id), row.contained);
}

INSTANTIATE_TEST_SUITE_P(
    HardwareIds, MultiStringContainsTest,
    ::testing::Values(
        ContainsRow{"first id", "USB\\VID_1234&PID_5678\0USB\\VID_1234\0\0"s,
                    "USB\\VID_1234&PID_5678", true},
        ContainsRow{"second id", "USB\\VID_1234&PID_5678\0USB\\VID_1234\0\0"s, "USB\\VID_1234",
                    true},
        ContainsRow{"another letter case", "USB\\VID_12AB\0\0"s, "usb\\vid_12ab", false},
        ContainsRow{"a prefix of an id", "USB\\VID_1234&PID_5678\0\0"s, "USB\\VID_1234", false},
        ContainsRow{"an id with more at its end", "USB\\VID_1234\0\0"s, "USB\\VID_1234&PID_5678",
                    false},
        ContainsRow{"after the list's end", "ROOT\\A\0\0ROOT\\B\0\0"s, "ROOT\\B", false},
        ContainsRow{"last id without terminator", "ROOT\\A\0ROOT\\B"s, "ROOT\\B", true},
        ContainsRow{"cut-off id shorter than the one asked for", "ROOT\\A\0ROOT\\B"s, "ROOT\\BC",
                    false},
        ContainsRow{"an empty id", "ROOT\\A\0\0"s, "", false},
        ContainsRow{"no data", ""s, "ROOT\\A", false}));

TEST(MultiStringContains, NeverReadsPastTheGivenSize) {
    // The id continues in memory beyond the size the caller was told.
    const char memory[] = "ROOT\\ABC\0";
    EXPECT_FALSE(MultiStringContains(memory, 6, "ROOT\\ABC"));
    EXPECT_TRUE(MultiStringContains(memory, 6, "ROOT\\A"));
    EXPECT_FALSE(MultiStringContains(nullptr, 0, "ROOT\\A"));
}

} // namespace
