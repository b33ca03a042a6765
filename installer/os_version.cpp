#include "os_version.h"

bool ClassifyWindowsVersion(unsigned major, unsigned minor, unsigned servicePackMajor,
                            bool isWorkstation, int* code) {
    *code = kOsVersionUnknown;
    if (major < 5) {
        return false;
    }
    if (major == 5) {
        switch (minor) {
        case 0:
            *code = kOsWindows2000;
            // Service Pack 3 and older lack updates the drivers depend on.
            return servicePackMajor > 3;
        case 1:
            *code = kOsWindowsXp;
            return true;
        case 2:
            *code = kOsWindows2003;
            return true;
        default:
            return true;
        }
    }
    if (major == 6) {
        if (minor > 3) {
            return true;
        }
        // 6.0 to 6.3 each come as a workstation and a server class, in pairs.
        *code = kOsWindowsVista + int(minor) * 2 + (isWorkstation ? 0 : 1);
        return true;
    }
    if (major == 10 && minor == 0) {
        *code = isWorkstation ? kOsWindows10 : kOsWindowsServer2016;
        return true;
    }
    *code = kOsWindowsNewer;
    return true;
}
