#include "product_profile.h"

// The vendor's web site; the quick-start page and the web shortcut point into it.
#define CORVANE_WEB_SITE "https://www.marrowfend.example"

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
};
