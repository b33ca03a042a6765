#include "product_profile.h"

// The vendor's web site; the quick-start page and the web shortcut point into it.
#define CORVANE_WEB_SITE "https://www.marrowfend.example"

namespace {

// Columns: name, ".x86"/".amd64" entries, "x86\\"/"amd64\\" subfolder, OS variant,
// word-size mode. The order is the install order.
const PayloadRule kWorkstationPayloadRules[] = {
    {"corvane-rdp-workstation-installer.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvanewssrv.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvane-rdp-workstation-uninstaller.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"hxvwsh.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvanews.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvane-rdp-workstation-license.txt", false, false, kOsVariantNone, kWordSizeNative},
    {"readme.txt", false, false, kOsVariantNone, kWordSizeNative},
    {"corvane-rdp-workstation-help.chm", false, false, kOsVariantNone, kWordSizeNative},
    {"hxvhub.cat", false, false, kOsVariantGeneration, kWordSizeNative},
    {"hxvhub.inf", false, false, kOsVariantWindows10, kWordSizeNative},
    {"hxvhub.sys", true, true, kOsVariantGeneration, kWordSizeNative},
    {"hxvplug.sys", true, true, kOsVariantWindows10, kWordSizeNative},
    {"hxvchan.dll", true, false, kOsVariantNone, kWordSizeNative},
    {"hxvchan.dll", true, false, kOsVariantNone, kWordSizeCompanion},
    {"hxvcitrix.dll", true, false, kOsVariantNone, kWordSizeAlwaysX86},
    {"corvane-rdp-rde-installer.exe", true, false, kOsVariantNone, kWordSizeAlwaysX86},
};

const PayloadRule kServerPayloadRules[] = {
    {"corvane-rdp-server-installer.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvanetssrv.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvane-rdp-server-uninstaller.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"hxvtsh.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvanets.exe", true, false, kOsVariantNone, kWordSizeNative},
    {"corvane-rdp-server-license.txt", false, false, kOsVariantNone, kWordSizeNative},
    {"readme.txt", false, false, kOsVariantNone, kWordSizeNative},
    {"corvane-rdp-server-help.chm", false, false, kOsVariantNone, kWordSizeNative},
    {"hxvhubbus.cat", false, false, kOsVariantWindows10, kWordSizeNative},
    {"hxvhubbus.inf", false, false, kOsVariantWindows10, kWordSizeNative},
    {"hxvhubbus.sys", true, true, kOsVariantWindows10, kWordSizeNative},
};

// Universal Serial Bus controllers: the product's filter drivers sit above
// the USB devices it redirects.
const char* const kDeviceClasses[] = {"{36FC9E60-C465-11CF-8056-444553540000}"};

template <size_t N> constexpr TextList Texts(const char* const (&texts)[N]) {
    return {texts, N};
}

template <size_t N> constexpr PayloadRuleList RuleList(const PayloadRule (&rules)[N]) {
    return {rules, N};
}

} // namespace

const ProductProfile kWorkstationProfile = {
    "Corvane RDP Edition - Workstation",
    "Corvane RDP Edition",
    "Corvane RDP Edition - Workstation Version 3.12",
    "3.12.0.3230",
    "Marrowfend LLC",
    "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}",
    "corvane-rdp-workstation-setup.log",
    "corvanews.exe",
    "corvanewssrv.exe",
    "Corvane RDP Edition Workstation Service",
    "hxvwsh.exe",
    "corvane-rdp-workstation-installer.exe",
    "corvane-rdp-workstation-uninstaller.exe",
    "corvane-rdp-workstation-help.chm",
    "corvane-rdp-workstation-license.txt",
    "readme.txt",
    "Corvane RDP Edition - Workstation on Web.url",
    "Corvane",
    "Version 3.12",
    CORVANE_WEB_SITE "/corvane-rdp.html#quick-start",
    CORVANE_WEB_SITE "/",
    false,
    RuleList(kWorkstationPayloadRules),
    "corvane-rdp-rde-installer.exe",
    "Global\\{3D7B1F58-9C2A-4E63-8B05-A4E6D2F1C798}",
    Texts(kDeviceClasses),
};

const ProductProfile kServerProfile = {
    "Corvane RDP Edition - Server",
    "Corvane RDP Edition",
    "Corvane RDP Edition - Server Version 3.12",
    "3.12.0.3230",
    "Marrowfend LLC",
    "{4B8D2E61-7F3A-4C95-B0D4-6E2A9C1F5B37}",
    "corvane-rdp-server-setup.log",
    "corvanets.exe",
    "corvanetssrv.exe",
    "Corvane RDP Edition Server Service",
    "hxvtsh.exe",
    "corvane-rdp-server-installer.exe",
    "corvane-rdp-server-uninstaller.exe",
    "corvane-rdp-server-help.chm",
    "corvane-rdp-server-license.txt",
    "readme.txt",
    "Corvane RDP Edition - Server on Web.url",
    "Corvane",
    "Version 3.12",
    CORVANE_WEB_SITE "/corvane-rdp.html#quick-start",
    CORVANE_WEB_SITE "/",
    true,
    RuleList(kServerPayloadRules),
    nullptr,
    nullptr,
    Texts(kDeviceClasses),
};
