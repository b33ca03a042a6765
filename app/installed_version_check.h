// The installed-version check the Welcome page runs before it lets the user
// go on: a newer version of the product, found through its uninstall
// registration, must be uninstalled first.
#pragma once

#include <string>

// Reads DisplayVersion of the product's uninstall entry (HKLM, subkey
// Software\Microsoft\Windows\CurrentVersion\Uninstall\<productCode>) in
// the registry view of this 32-bit process, where the installation writes it.
// Returns 1 when it names a newer version than `ownVersion` and fills
// `message` with string 59 (the own version first, the installed text
// second); otherwise 0, leaving `message` as it was. Every failure (no key, no
// value, a value too long, a text without two numbers, a fault inside the
// system calls) counts as no newer version.
int CheckInstalledVersion(const char* productCode, const char* ownVersion, std::string* message);
