// The constants that make one build the workstation setup or the server setup.
// Each program links exactly one profile definition; nothing here is read at
// run time from a file or from the package.
#pragma once

#include "payload_plan.h"

// A fixed list of texts of a profile.
struct TextList {
    const char* const* items;
    size_t count;

    const char* const* begin() const { return items; }
    const char* const* end() const { return items + count; }
};

struct ProductProfile {
    const char* displayName;       // message box caption, default folder names
    const char* familyDisplayName; // "Launch %s now."
    const char* versionBanner;     // first line of an installation's log
    const char* productVersion;    // uninstall DisplayVersion, installed-version check
    const char* publisher;
    const char* productCode; // uninstall key name
    const char* logFileName;
    const char* mainProgram;
    const char* serviceProgram;
    const char* serviceDisplayName;
    const char* consoleTool;
    const char* childInstaller;
    const char* uninstaller;
    const char* helpFile;
    const char* licenseFile;
    const char* readmeFile;
    const char* webShortcutFileName;
    const char* shortFamilyName;
    const char* versionLabel;
    const char* quickStartUrl;
    const char* homePageUrl;
    bool isServer;
    PayloadRuleList payloadRules;       // the payload files, in install order
    const char* citrixSupportInstaller; // none (nullptr) in the server profile
    const char* citrixRestartEventName; // signalled by it when a restart is needed
    // The device setup classes ("{GUID}") whose upper filters the child
    // installer may change; rollback takes out what it added there.
    TextList deviceClasses;
};

// The profile this program was built with.
const ProductProfile& CurrentProfile();

extern const ProductProfile kWorkstationProfile;
extern const ProductProfile kServerProfile;
