// The Ready page's summary: which headings and tasks appear for each
// combination of choices, with the exact line ends and indents.
#include "ready_summary.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using corvane::app::ComposeReadySummary;
using corvane::app::ReadySummaryChoices;
using corvane::app::ReadySummaryTexts;

const ReadySummaryTexts kTexts = {"Destination location:",
                                  "Start Menu folder:",
                                  "Additional Tasks:",
                                  "Additional Firewall and NAT setup:",
                                  "Create Windows Firewall rules",
                                  "Additionals Icons:",
                                  "Create a desktop icon",
                                  "Create a Quick Launch icon"};

const std::string kFolders = "Destination location:\r\n      C:\\Program Files\\Corvane RDP\r\n\r\n"
                             "Start Menu folder:\r\n      Corvane RDP\r\n\r\n";

struct SummaryCase {
    const char* name;
    int desktop;
    int quickLaunch;
    int firewall;
    std::string tail; // what follows the two folders
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SummaryCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadySummary : public testing::TestWithParam<SummaryCase> {};

TEST_P(ReadySummary, ListsExactlyTheChosenTasks) {
    const SummaryCase& c = GetParam();
    ReadySummaryChoices choices;
    choices.installDir = "C:\\Program Files\\Corvane RDP";
    choices.startMenuFolder = "Corvane RDP";
    choices.desktopIcon = c.desktop;
    choices.quickLaunchIcon = c.quickLaunch;
    choices.firewallRules = c.firewall;
    EXPECT_EQ(ComposeReadySummary(kTexts, choices), kFolders + c.tail);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, ReadySummary,
    testing::Values(
        // No task at all: no "Additional Tasks:" heading, nothing after the blank line.
        SummaryCase{"NoTask", 0, 0, 0, ""},
        SummaryCase{"DesktopOnly", 1, 0, 0,
                    "Additional Tasks:\r\n      Additionals Icons:\r\n            "
                    "Create a desktop icon\r\n            "},
        SummaryCase{"QuickLaunchOnly", 0, 1, 0,
                    "Additional Tasks:\r\n      Additionals Icons:\r\n            "
                    "Create a Quick Launch icon"},
        SummaryCase{"BothIcons", 1, 1, 0,
                    "Additional Tasks:\r\n      Additionals Icons:\r\n            "
                    "Create a desktop icon\r\n            Create a Quick Launch icon"},
        // The firewall task alone (silent defaults reach this): no icon heading.
        SummaryCase{"FirewallOnly", 0, 0, 1,
                    "Additional Tasks:\r\n      Additional Firewall and NAT setup:\r\n"
                    "            Create Windows Firewall rules\r\n      "},
        SummaryCase{"Everything", 1, 1, 1,
                    "Additional Tasks:\r\n      Additional Firewall and NAT setup:\r\n"
                    "            Create Windows Firewall rules\r\n      Additionals Icons:\r\n"
                    "            Create a desktop icon\r\n            "
                    "Create a Quick Launch icon"},
        // Any non-zero value counts as chosen.
        SummaryCase{"NonZeroIsSet", 7, 0, 0,
                    "Additional Tasks:\r\n      Additionals Icons:\r\n            "
                    "Create a desktop icon\r\n            "}),
    [](const testing::TestParamInfo<SummaryCase>& info) { return std::string(info.param.name); });

TEST(ReadySummaryFolders, TakesEmptyAndPercentSignedFoldersVerbatim) {
    ReadySummaryChoices choices;
    choices.installDir = "D:\\100%s\\%n";
    choices.startMenuFolder = "";
    EXPECT_EQ(ComposeReadySummary(kTexts, choices),
              "Destination location:\r\n      D:\\100%s\\%n\r\n\r\n"
              "Start Menu folder:\r\n      \r\n\r\n");
}

} // namespace
