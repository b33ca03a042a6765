// Facts about what a driver package installer changes, read before and after
// a program outside the engine runs (the product's child installer), and the
// journal records that let rollback undo the differences.
#include "installer.h"

#include "device_ids.h"
#include "multi_strings.h"

#include <setupapi.h>
#include <winsvc.h>

#include <cstdio>
#include <exception>

namespace {

// Where SetupAPI puts the catalogue of a published INF.
constexpr char kCatalogFolder[] = "\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";
// The first catalogue may make these folders.
constexpr const char* kCatalogFolders[] = {"\\catroot", kCatalogFolder};
// How often a list or value that changes while it is read is read again.
constexpr int kReadAttempts = 8;

std::vector<std::string> ServiceNames(SC_HANDLE manager) {
    std::vector<std::string> names;
    if (!manager) {
        return names;
    }
    std::vector<BYTE> buffer(64 * 1024);
    DWORD resume = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD needed = 0, count = 0;
        const BOOL done =
            EnumServicesStatusA(manager, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL,
                                reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data()),
                                DWORD(buffer.size()), &needed, &count, &resume);
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(buffer.data());
        for (DWORD index = 0; index < count; ++index) {
            names.push_back(entries[index].lpServiceName);
        }
        if (done || error != ERROR_MORE_DATA) {
            return names;
        }
        if (count == 0) {
            buffer.resize(buffer.size() + needed);
        }
    }
    return names;
}

std::vector<std::string> UpperFilters(const GUID& classGuid) {
    const HKEY opened =
        SetupDiOpenClassRegKeyExA(&classGuid, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
    if (opened == static_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        return {};
    }
    UniqueHkey key(opened);
    std::string data;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key.get(), "UpperFilters", nullptr, nullptr, nullptr, &size);
    for (int attempt = 0;
         attempt < kReadAttempts && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA);
         ++attempt) {
        data.assign(size, '\0');
        status =
            RegQueryValueExA(key.get(), "UpperFilters", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(data.empty() ? nullptr : &data[0]), &size);
        if (status == ERROR_SUCCESS) {
            return SplitMultiString(data.data(), std::min<size_t>(size, data.size()));
        }
    }
    return {};
}

void AddIfFolder(const std::string& folder, std::vector<std::string>* folders) {
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        folders->push_back(folder);
    }
}

// The full paths of the files (not folders) directly in `folder`.
void AddFilesOf(const std::string& folder, std::vector<std::string>* paths) {
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!search) {
        return;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            paths->push_back(folder + "\\" + found.cFileName);
        }
    } while (FindNextFileA(search.get(), &found));
}

// The hardware ids as the device's registry stores them (a multi-string) and
// the size stored; false when the device has none or is gone.
bool ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* device, std::vector<char>* ids,
                     size_t* stored) {
    DWORD needed = 0;
    bool read = SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr, nullptr,
                                                  0, &needed);
    // A device removed while it is read (Wine's own input devices come and
    // go with a desktop) answers "buffer too small" without a size, and would
    // be asked again for ever; a few tries are enough for a value that is
    // merely growing.
    for (int attempt = 0; attempt < kReadAttempts && !read && needed != 0 &&
                          GetLastError() == ERROR_INSUFFICIENT_BUFFER;
         ++attempt) {
        ids->assign(needed, '\0');
        read = SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                                 reinterpret_cast<BYTE*>(ids->data()),
                                                 DWORD(ids->size()), &needed);
    }
    *stored = std::min<size_t>(needed, ids->size());
    return read;
}

} // namespace

std::vector<std::string> DeviceHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* device) {
    std::vector<char> ids;
    size_t stored = 0;
    if (!ReadHardwareIds(set, device, &ids, &stored)) {
        return {};
    }
    return SplitMultiString(ids.data(), stored);
}

bool DeviceHasHardwareId(HDEVINFO set, SP_DEVINFO_DATA* device, std::string_view id) {
    std::vector<char> ids;
    size_t stored = 0;
    return ReadHardwareIds(set, device, &ids, &stored) &&
           MultiStringContains(ids.data(), stored, id);
}

namespace {

std::vector<DeviceFacts> PresentDevices() {
    std::vector<DeviceFacts> devices;
    UniqueDevInfo set(
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set) {
        return devices;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        DeviceFacts facts;
        char instance[512] = {}; // MAX_DEVICE_ID_LEN is 200
        if (!SetupDiGetDeviceInstanceIdA(set.get(), &device, instance, sizeof instance, nullptr)) {
            continue;
        }
        facts.instanceId = instance;
        facts.hardwareIds = DeviceHardwareIds(set.get(), &device);
        devices.push_back(std::move(facts));
    }
    return devices;
}

} // namespace

bool ParseClassGuid(const std::string& text, GUID* guid) {
    unsigned long data1 = 0;
    unsigned int data2 = 0, data3 = 0, bytes[8] = {};
    char end = 0;
    if (std::sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &data1, &data2,
                    &data3, &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4], &bytes[5],
                    &bytes[6], &bytes[7], &end) != 11) {
        return false;
    }
    guid->Data1 = data1;
    guid->Data2 = static_cast<unsigned short>(data2);
    guid->Data3 = static_cast<unsigned short>(data3);
    for (int index = 0; index < 8; ++index) {
        guid->Data4[index] = static_cast<unsigned char>(bytes[index]);
    }
    return true;
}

SystemFacts CInstaller::TakeSystemFacts(const std::vector<std::string>& classGuids) {
    SystemFacts facts;
    try {
        facts.services = ServiceNames(GetServiceManager());
        for (const std::string& text : classGuids) {
            GUID classGuid;
            if (ParseClassGuid(text, &classGuid)) {
                facts.classFilters.push_back({text, UpperFilters(classGuid)});
            }
        }
        // The system's own folders, not a Terminal Server user's: the INF
        // folder holds the published INFs and their precompiled forms.
        // catroot is not redirected for 32-bit programs on 64-bit Windows.
        char folder[MAX_PATH] = {};
        const UINT windowsLength = GetSystemWindowsDirectoryA(folder, sizeof folder);
        if (windowsLength != 0 && windowsLength < sizeof folder) {
            AddFilesOf(std::string(folder) + "\\inf", &facts.driverStoreFiles);
        }
        const UINT systemLength = GetSystemDirectoryA(folder, sizeof folder);
        if (systemLength != 0 && systemLength < sizeof folder) {
            for (const char* catalogFolder : kCatalogFolders) {
                AddIfFolder(std::string(folder) + catalogFolder, &facts.driverStoreFolders);
            }
            AddFilesOf(std::string(folder) + kCatalogFolder, &facts.driverStoreFiles);
        }
        facts.devices = PresentDevices();
    } catch (const std::exception&) {
        // Out of memory: what was read so far is what there is. A change the
        // facts miss stays after a rollback, which is no reason to fail.
    }
    return facts;
}

void CInstaller::JournalSystemChanges(const SystemChanges& changes) {
    // Into the tables first, then one record for all of them: the changes are
    // made already, so a record that cannot be written must still leave them
    // to this run's rollback.
    for (const std::string& name : changes.services) {
        Log("Record Service: ", name.c_str());
        journalEntries[name] = kJournalService;
    }
    for (const auto& [classText, filter] : changes.classFilters) {
        GUID classGuid;
        if (ParseClassGuid(classText, &classGuid)) {
            Log("Record ClassFilterDriver: ", filter.c_str());
            classFilters[classGuid] = filter;
        }
    }
    for (const std::string& path : changes.driverStoreInfs) {
        Log("Record DriverStore INF: ", path.c_str());
        journalEntries[path] = kJournalDriverStoreInf;
    }
    // Rollback removes the folders after their files, inner first.
    for (const std::string& path : changes.driverStoreFolders) {
        Log("Record DriverStore Folder: ", path.c_str());
        RecordCreatedDirectory(path);
    }
    for (const std::string& path : changes.driverStoreFiles) {
        Log("Record DriverStore File: ", path.c_str());
        RecordCreatedFile(path);
    }
    for (const std::string& id : changes.deviceIds) {
        Log("Record WDM Driver: ", id.c_str());
        journalEntries[id] = kJournalDevice;
    }
    WriteJournalRecord(JournalRecord{kRecordChildChanges, 0, EncodeSystemChanges(changes)});
}
