#include "installed_version_check.h"

#include "handles.h"
#include "installed_version.h"
#include "resource_ids.h"
#include "seh_guard.h"
#include "strings.h"

#include <windows.h>

namespace {

constexpr char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

} // namespace

int CheckInstalledVersion(const char* productCode, const char* ownVersion, std::string* message) {
    const std::string subkey = kUninstallKeyPrefix + std::string(productCode ? productCode : "");
    // One byte more than the check reads, and zeroed: whatever the value
    // holds, the text read from it ends within the buffer.
    char installed[kMaxDisplayVersionBytes + 1] = {};
    int result = 0;
    // The registry and parsing calls run inside a fault guard: a fault ends
    // the check with what it found so far (nothing, unless it got that far),
    // and setup goes on. The key's owner lives outside the guarded body, as
    // a fault abandons the body's own objects without closing them.
    UniqueHkey key;
    RunGuarded(
        [&] {
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
                ERROR_SUCCESS) {
                return;
            }
            DWORD size = kMaxDisplayVersionBytes;
            if (RegQueryValueExA(key.get(), "DisplayVersion", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(installed), &size) != ERROR_SUCCESS) {
                return;
            }
            result = IsNewerVersionInstalled(installed, size, ownVersion) ? 1 : 0;
        },
        nullptr);
    key.reset();
    if (result == 1 && message) {
        *message = FormatResourceString(IDS_OLDER_VERSION, ownVersion, installed);
    }
    return result;
}
