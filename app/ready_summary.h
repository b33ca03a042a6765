// The Ready page's summary of the user's choices, composed from the string
// table's headings without any window, so the text is tested natively.
#pragma once

#include <string>

namespace corvane::app {

// The headings and task names, as the string table holds them.
struct ReadySummaryTexts {
    std::string destination;     // "Destination location:"
    std::string startMenu;       // "Start Menu folder:"
    std::string tasks;           // "Additional Tasks:"
    std::string firewall;        // "Additional Firewall and NAT setup:"
    std::string firewallRules;   // "Create Windows Firewall rules"
    std::string icons;           // "Additionals Icons:"
    std::string desktopIcon;     // "Create a desktop icon"
    std::string quickLaunchIcon; // "Create a Quick Launch icon"
};

struct ReadySummaryChoices {
    std::string installDir;
    std::string startMenuFolder;
    int desktopIcon = 0;
    int quickLaunchIcon = 0;
    int firewallRules = 0;
};

// The summary with CR LF line ends: both folders, each under its heading and
// indented by 6 blanks, then the chosen tasks (indented by 6, their items by
// 12) when any task is chosen.
std::string ComposeReadySummary(const ReadySummaryTexts& texts, const ReadySummaryChoices& choices);

} // namespace corvane::app
