#include "ready_summary.h"

namespace corvane::app {

namespace {

constexpr const char* kLineEnd = "\r\n";
const std::string kHeadingIndent(6, ' ');
const std::string kItemIndent(12, ' ');

} // namespace

std::string ComposeReadySummary(const ReadySummaryTexts& texts,
                                const ReadySummaryChoices& choices) {
    std::string text;
    text +=
        texts.destination + kLineEnd + kHeadingIndent + choices.installDir + kLineEnd + kLineEnd;
    text +=
        texts.startMenu + kLineEnd + kHeadingIndent + choices.startMenuFolder + kLineEnd + kLineEnd;
    const bool anyIcon = choices.desktopIcon != 0 || choices.quickLaunchIcon != 0;
    if (!anyIcon && choices.firewallRules == 0) {
        return text;
    }
    // Each line ends with the indent of the line that may follow, so the
    // text may end in blanks; the edit control does not show them.
    text += texts.tasks + kLineEnd + kHeadingIndent;
    if (choices.firewallRules != 0) {
        text += texts.firewall + kLineEnd + kItemIndent + texts.firewallRules + kLineEnd +
                kHeadingIndent;
    }
    if (anyIcon) {
        text += texts.icons + kLineEnd + kItemIndent;
        if (choices.desktopIcon != 0) {
            text += texts.desktopIcon + kLineEnd + kItemIndent;
        }
        if (choices.quickLaunchIcon != 0) {
            text += texts.quickLaunchIcon;
        }
    }
    return text;
}

} // namespace corvane::app
