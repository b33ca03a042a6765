// The installer's registry work: the journal of saved values that rollback
// writes back, and the product's entry in the list of installed programs.
// Every key is opened below HKEY_LOCAL_MACHINE without a view flag, so a
// 32-bit setup on 64-bit Windows reads and writes the 32-bit view
// (Wow6432Node), where the installed-version check looks as well.
#include "installer.h"

#include "ascii_case.h"
#include "file_names.h"

#include <exception>
#include <utility>

namespace {

constexpr char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

const char* AsText(const char* text) {
    return text ? text : "";
}

// The stored size includes the terminating zero byte.
void SetText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   DWORD(std::strlen(text) + 1));
}

// The data of a value as stored; false when the value cannot be read. The
// value may grow between asking for its size and reading it, so a read that
// finds too little room asks again.
bool ReadValue(HKEY key, const char* name, std::string* data, DWORD* type) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = 0;
        LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
        if (status != ERROR_SUCCESS) {
            return false;
        }
        data->assign(size, '\0');
        status =
            RegQueryValueExA(key, name, nullptr, type,
                             reinterpret_cast<BYTE*>(data->empty() ? nullptr : &(*data)[0]), &size);
        if (status == ERROR_SUCCESS) {
            data->resize(size);
            return true;
        }
        if (status != ERROR_MORE_DATA) {
            return false;
        }
    }
    return false;
}

} // namespace

std::string CInstaller::UninstallKey(const std::string& productCode) {
    return kUninstallKeyPrefix + productCode;
}

bool CInstaller::SaveRegistryValue(const char* subkey, const char* valueName) {
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AsText(subkey), 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    SavedRegistryValue value;
    value.name = AsText(valueName);
    DWORD type = REG_NONE;
    if (!ReadValue(key.get(), value.name.c_str(), &value.data, &type)) {
        return false;
    }
    value.type = type;
    // Only the first save of a value is kept, in the journal as in the table.
    for (const SavedRegistryValue& earlier : registryBackups[AsText(subkey)]) {
        if (EqualsIgnoringAsciiCase(earlier.name, value.name)) {
            return true;
        }
    }
    WriteJournalRecord(MakeJournalRecord(
        kRecordRegistryValueSaved,
        {AsText(subkey), value.name, EncodeJournalNumber(value.type), value.data}));
    AddSavedRegistryValue(registryBackups, AsText(subkey), std::move(value));
    return true;
}

void CInstaller::SaveAbsentRegistryValue(const char* subkey, const char* valueName) {
    for (const SavedRegistryValue& earlier : registryBackups[AsText(subkey)]) {
        if (EqualsIgnoringAsciiCase(earlier.name, AsText(valueName))) {
            return;
        }
    }
    WriteJournalRecord(
        MakeJournalRecord(kRecordRegistryValueAbsent, {AsText(subkey), AsText(valueName)}));
    SavedRegistryValue absent;
    absent.name = AsText(valueName);
    absent.absent = true;
    AddSavedRegistryValue(registryBackups, AsText(subkey), std::move(absent));
}

void CInstaller::RecordRegistryValue(const std::string& subkey, const SavedRegistryValue& value) {
    AddSavedRegistryValue(registryBackups, subkey, value);
}

void CInstaller::RestoreRegistryValues() {
    for (const auto& [subkey, values] : registryBackups) {
        UniqueHkey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS, key.put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        for (const SavedRegistryValue& value : values) {
            if (value.absent) {
                RegDeleteValueA(key.get(), value.name.c_str());
            } else {
                RegSetValueExA(key.get(), value.name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE*>(value.data.data()),
                               DWORD(value.data.size()));
            }
        }
        RollbackActionDone();
    }
    registryBackups.clear();
    // Keys the installer created go with everything in them; inner keys sort
    // after their parents, so the walk from the end takes them first.
    for (auto entry = journalEntries.rbegin(); entry != journalEntries.rend(); ++entry) {
        if (entry->second != kJournalRegistryKey) {
            continue;
        }
        Log("DeleteRegistryKey: ", entry->first.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, entry->first.c_str());
        RollbackActionDone();
    }
}

void CInstaller::WriteUninstallRegistration(const char* productCode, const char* installLocation,
                                            const char* startMenuLocation,
                                            const char* uninstallerName, const char* displayName,
                                            const char* displayVersion, const char* publisher) {
    try {
        const std::string subkey = UninstallKey(AsText(productCode));
        // An earlier registration's values are saved before they are
        // overwritten; a key made now is deleted as a whole by rollback.
        UniqueHkey existing;
        const bool existed = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_QUERY_VALUE,
                                           existing.put()) == ERROR_SUCCESS;
        existing.reset();
        if (!existed) {
            WriteJournalRecord(MakeJournalRecord(kRecordRegistryKeyCreated, {subkey}));
        }
        UniqueHkey key;
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, key.put(), &disposition) != ERROR_SUCCESS) {
            return;
        }
        if (disposition == REG_CREATED_NEW_KEY) {
            journalEntries[subkey] = kJournalRegistryKey;
        }
        const std::string uninstallString =
            JoinPath(AsText(installLocation), AsText(uninstallerName));
        const std::pair<const char*, const char*> values[] = {
            {"InstallLocation", AsText(installLocation)},
            {"UninstallString", uninstallString.c_str()},
            {"StartMenuLocation", AsText(startMenuLocation)},
            {"DisplayName", AsText(displayName)},
            {"DisplayVersion", AsText(displayVersion)},
            {"Publisher", AsText(publisher)},
        };
        for (const auto& [name, text] : values) {
            if (disposition != REG_CREATED_NEW_KEY && !SaveRegistryValue(subkey.c_str(), name)) {
                SaveAbsentRegistryValue(subkey.c_str(), name);
            }
            SetText(key.get(), name, text);
        }
    } catch (const std::exception&) {
        // Out of memory for a path: the entry stays incomplete, as with any
        // other failure here.
    }
}
