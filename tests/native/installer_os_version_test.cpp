// Which Windows versions setup accepts and which class each one gets. Every
// row of the table is here, with the class as its number: payload variants and
// other steps' tables are keyed by these numbers, and a wrong one installs the
// wrong driver.
#include "os_version.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

struct VersionRow {
    const char* name;
    unsigned major;
    unsigned minor;
    unsigned servicePack;
    bool isWorkstation;
    int code;
    bool supported;
};

constexpr VersionRow kRows[] = {
    {"NT 4.0", 4, 0, 6, true, -1, false},  {"NT 3.51", 3, 51, 5, false, -1, false},
    {"2000 SP3", 5, 0, 3, true, 0, false}, {"2000 Server SP3", 5, 0, 3, false, 0, false},
    {"2000 SP4", 5, 0, 4, true, 0, true},  {"2000 SP5 (never shipped)", 5, 0, 5, false, 0, true},
    {"XP RTM", 5, 1, 0, true, 1, true},    {"Server 2003 RTM", 5, 2, 0, false, 2, true},
    {"XP x64", 5, 2, 2, true, 2, true},    {"5.3", 5, 3, 0, true, -1, true},
    {"Vista", 6, 0, 0, true, 3, true},     {"Server 2008", 6, 0, 1, false, 4, true},
    {"7", 6, 1, 1, true, 5, true},         {"Server 2008 R2", 6, 1, 0, false, 6, true},
    {"8", 6, 2, 0, true, 7, true},         {"Server 2012", 6, 2, 0, false, 8, true},
    {"8.1", 6, 3, 0, true, 9, true},       {"Server 2012 R2", 6, 3, 0, false, 10, true},
    {"6.4", 6, 4, 0, true, -1, true},      {"6.4 server", 6, 4, 0, false, -1, true},
    {"10", 10, 0, 0, true, 11, true},      {"Server 2016 and later", 10, 0, 0, false, 12, true},
    {"10.1", 10, 1, 0, true, 13, true},    {"7.0", 7, 0, 0, true, 13, true},
    {"9.0", 9, 0, 0, false, 13, true},     {"11.0", 11, 0, 0, true, 13, true},
};

class ClassifyWindowsVersionTest : public ::testing::TestWithParam<VersionRow> {};

TEST_P(ClassifyWindowsVersionTest, GivesTheClassAndTheVerdict) {
    const VersionRow& row = GetParam();
    int code = 1234;
    const bool supported =
        ClassifyWindowsVersion(row.major, row.minor, row.servicePack, row.isWorkstation, &code);
    EXPECT_EQ(code, row.code);
    EXPECT_EQ(supported, row.supported);
}

INSTANTIATE_TEST_SUITE_P(EveryVersion, ClassifyWindowsVersionTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<VersionRow>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c) {
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             }
                             return name;
                         });

} // namespace
