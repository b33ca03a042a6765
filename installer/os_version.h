// The Windows version class of the running system, decided from the numbers
// GetVersionExA reports. Kept free of the Windows API so the whole table can be
// checked natively, including versions no test machine runs any more.
#pragma once

// Values of the installer's osVersionCode. Later steps choose payload variants
// and log texts by these numbers, so they never change.
enum OsVersionCode : int {
    kOsVersionUnknown = -1, // not detected, or a minor version this build does not know
    kOsWindows2000 = 0,
    kOsWindowsXp = 1,
    kOsWindows2003 = 2, // 5.2: Server 2003 and XP x64
    kOsWindowsVista = 3,
    kOsWindowsServer2008 = 4,
    kOsWindows7 = 5,
    kOsWindowsServer2008R2 = 6,
    kOsWindows8 = 7,
    kOsWindowsServer2012 = 8,
    kOsWindows81 = 9,
    kOsWindowsServer2012R2 = 10,
    kOsWindows10 = 11,
    kOsWindowsServer2016 = 12, // and every later server that still reports 10.0
    kOsWindowsNewer = 13,      // a major version above 6 other than 10.0
};

// Sets *code to the class of Windows `major`.`minor` and returns whether setup
// runs there. Windows 2000 needs Service Pack 4; anything before 5.0 is refused.
// Unknown minor versions of 5 and 6 are accepted with kOsVersionUnknown, so a
// service release Windows ships later does not lock the product out.
bool ClassifyWindowsVersion(unsigned major, unsigned minor, unsigned servicePackMajor,
                            bool isWorkstation, int* code);
