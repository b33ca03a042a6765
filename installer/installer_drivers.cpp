// The installer's driver and service operations: installing an INF section
// through SetupAPI, taking an upper-filter driver out of a device setup class,
// stopping and deleting a service, and removing present devices by hardware
// id; with the journal records they undo and the rollback walkers that call
// them. None of them throws: rollback must get through every entry.
#include "installer.h"
#include "device_ids.h"

#include "handles.h"
#include "multi_strings.h"

#include <setupapi.h>
#include <winsvc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kUninstallSection[] = "DefaultUninstall";
constexpr char kUpperFilters[] = "UpperFilters";
constexpr DWORD kInstallEverythingButFiles = SPINST_LOGCONFIG | SPINST_INIFILES | SPINST_REGISTRY |
                                             SPINST_INI2REG | SPINST_BITREG | SPINST_REGSVR |
                                             SPINST_UNREGSVR | SPINST_PROFILEITEMS | SPINST_COPYINF;
static_assert(kInstallEverythingButFiles == 0x3EF, "the files were queued and committed already");
constexpr int kStopWaitAttempts = 20;
constexpr DWORD kStopWaitStepMs = 500;
constexpr DWORD kRestartNeededFlags = DI_NEEDRESTART | DI_NEEDREBOOT;

struct FileQueueTraits {
    using pointer = HSPFILEQ;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) noexcept { SetupCloseFileQueue(value); }
};
struct QueueCallbackTraits {
    using pointer = void*;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { SetupTermDefaultQueueCallback(value); }
};
using UniqueFileQueue = UniqueResource<FileQueueTraits>;
using UniqueQueueCallback = UniqueResource<QueueCallbackTraits>;

const char* AsText(const char* text) {
    return text ? text : "";
}

bool IsUninstallSection(const char* section) {
    // INF section names are case-insensitive.
    return lstrcmpiA(AsText(section), kUninstallSection) == 0;
}

bool ServiceExists(SC_HANDLE manager, const std::string& name) {
    if (!manager) {
        return false;
    }
    UniqueScHandle service(OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS));
    return bool(service);
}

// The services that the AddService lines of `servicesSection` name and that
// are not installed yet: the ones an install of that section would create.
std::vector<std::string> ServicesToBeCreated(HINF inf, const std::string& servicesSection,
                                             SC_HANDLE manager) {
    std::vector<std::string> names;
    INFCONTEXT line{};
    bool found = SetupFindFirstLineA(inf, servicesSection.c_str(), "AddService", &line);
    while (found) {
        char name[MAX_PATH] = {};
        if (SetupGetStringFieldA(&line, 1, name, sizeof name, nullptr) && name[0] != '\0' &&
            !ServiceExists(manager, name)) {
            names.push_back(name);
        }
        found = SetupFindNextMatchLineA(&line, "AddService", &line);
    }
    return names;
}

} // namespace

bool CInstaller::InstallFromInf(const char* infPath, const char* section) {
    Log("Install FromInf: ", infPath);
    Log("Section: ", section);

    UniqueInf inf(SetupOpenInfFileA(AsText(infPath), nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf) {
        return false;
    }
    // The platform-decorated variant (".NT", ".NTx86"...) when the INF has one.
    char actualSection[MAX_PATH] = {};
    if (!SetupDiGetActualSectionToInstallA(inf.get(), AsText(section), actualSection,
                                           sizeof actualSection, nullptr, nullptr)) {
        return false;
    }
    UniqueFileQueue queue(SetupOpenFileQueue());
    if (!queue) {
        return false;
    }
    // No owner window and no progress window: setup may be silent, and the
    // wizard shows its own progress.
    UniqueQueueCallback callback(SetupInitDefaultQueueCallbackEx(
        nullptr, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr));
    if (!callback) {
        return false;
    }
    // Built as a string, not in the section buffer: a section name near the
    // buffer's length plus ".Services" would not fit there.
    const std::string servicesSection = std::string(actualSection) + ".Services";

    // The uninstall section is rollback's own tool and records nothing. Any
    // other section is journaled before it changes anything, so a section that
    // fails half-way is still undone; but only a section the INF has: the
    // actual-section lookup does not check that, and undoing an install that
    // never happened could remove what was there before.
    const bool journaled =
        !IsUninstallSection(section) && SetupGetLineCountA(inf.get(), actualSection) >= 0;
    std::vector<std::string> newServices;
    if (journaled) {
        RecordInfInstall(AsText(infPath));
        newServices = ServicesToBeCreated(inf.get(), servicesSection, GetServiceManager());
    }

    const bool installed =
        SetupInstallFilesFromInfSectionA(inf.get(), nullptr, queue.get(), actualSection, nullptr,
                                         SP_COPY_NOSKIP) &&
        SetupCommitFileQueueA(nullptr, queue.get(), SetupDefaultQueueCallbackA, callback.get()) &&
        SetupInstallFromInfSectionA(nullptr, inf.get(), actualSection, kInstallEverythingButFiles,
                                    nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr) &&
        SetupInstallServicesFromInfSectionA(inf.get(), servicesSection.c_str(), 0);
    const DWORD servicesError = GetLastError();

    // Whatever failed later, a service that now exists was created here.
    for (const std::string& name : newServices) {
        if (ServiceExists(GetServiceManager(), name)) {
            RecordService(name);
        }
    }
    if (installed && (SetupPromptReboot(queue.get(), nullptr, TRUE) > 0 ||
                      servicesError == ERROR_SUCCESS_REBOOT_REQUIRED)) {
        RequireRestart();
    }
    // The callback context, the queue and the INF are released in this order
    // by their owners' destructors.
    return installed;
}

bool CInstaller::UninstallClassFilterDriver(const GUID& classGuid, const char* filterName) {
    Log("Uninstall ClassFilterDriver: ", filterName);

    const HKEY opened = SetupDiOpenClassRegKeyExA(&classGuid, KEY_READ | KEY_WRITE, DIOCR_INSTALLER,
                                                  nullptr, nullptr);
    if (opened == static_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        return false;
    }
    UniqueHkey key(opened);

    std::string data(256, '\0');
    DWORD type = 0;
    DWORD size = DWORD(data.size());
    LONG status = RegQueryValueExA(key.get(), kUpperFilters, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&data[0]), &size);
    // The list may grow between the two reads; ask again until it fits.
    while (status == ERROR_MORE_DATA) {
        data.assign(size, '\0');
        status = RegQueryValueExA(key.get(), kUpperFilters, nullptr, &type,
                                  reinterpret_cast<BYTE*>(&data[0]), &size);
    }
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    data.resize(size);
    if (data.size() <= 2) {
        return true;
    }

    RemoveFromMultiString(data, AsText(filterName));
    if (data.size() >= 2) {
        return RegSetValueExA(key.get(), kUpperFilters, 0, type,
                              reinterpret_cast<const BYTE*>(data.data()),
                              DWORD(data.size())) == ERROR_SUCCESS;
    }
    // Nothing but at most a terminator is left: the class has no filters.
    return RegDeleteValueA(key.get(), kUpperFilters) == ERROR_SUCCESS;
}

bool CInstaller::UninstallService(const char* serviceName) {
    Log("Uninstall Service: ", serviceName);

    const SC_HANDLE manager = GetServiceManager();
    if (!manager) {
        return false;
    }
    UniqueScHandle service(OpenServiceA(manager, AsText(serviceName), SERVICE_ALL_ACCESS));
    if (!service) {
        return false;
    }

    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
            // A service that is still running after the wait is deleted all
            // the same; it goes when it stops.
            for (int attempt = 0; attempt < kStopWaitAttempts; ++attempt) {
                Sleep(kStopWaitStepMs);
                if (!QueryServiceStatus(service.get(), &status) ||
                    status.dwCurrentState == SERVICE_STOPPED) {
                    break;
                }
            }
        } else {
            Log("Warning: Service can't be stoped!");
            RequireRestart();
        }
    }

    // DeleteService does not clear the last error when it succeeds: an old
    // ERROR_SERVICE_MARKED_FOR_DELETE from elsewhere must not be read as its.
    SetLastError(ERROR_SUCCESS);
    DeleteService(service.get());
    if (GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
        Log("Warning: Service marked for delete!");
        RequireRestart();
    }
    return true;
}

bool CInstaller::UninstallWdmDriver(const char* hardwareId) {
    Log("Uninstall WDM Driver: ", hardwareId);
    const std::string wanted = AsText(hardwareId);

    UniqueDevInfo devices(
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!devices) {
        return false;
    }
    bool found = false;
    bool removed = false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        // A device whose ids cannot be read (gone in the meantime) is not
        // one to remove, and does not stop the walk over the others.
        if (!DeviceHasHardwareId(devices.get(), &device, wanted)) {
            continue;
        }
        found = true;
        if (!SetupDiCallClassInstaller(DIF_REMOVE, devices.get(), &device)) {
            LogCode("failed on SetupDiCallClassInstaller()", GetLastError());
            continue;
        }
        SP_DEVINSTALL_PARAMS_A parameters{};
        parameters.cbSize = sizeof parameters;
        if (SetupDiGetDeviceInstallParamsA(devices.get(), &device, &parameters) &&
            (parameters.Flags & kRestartNeededFlags) != 0) {
            Log("Reboot required to complete operation");
            if (int* restartFlag = GetRestartFlagPointer()) {
                *restartFlag = 1;
            }
        } else {
            removed = true;
        }
    }
    devices.reset();
    if (!found) {
        Log("Device with specified hardware ID not found: ", hardwareId);
    }
    return removed;
}

// Each Record* below is kept in the table first, then written to the durable
// journal: the engine's own steps record before they change anything, and
// what the child installer changed is recorded right after it, so a record
// that cannot be written fails the step with the change still undone.
void CInstaller::RecordService(const std::string& serviceName) {
    journalEntries[serviceName] = kJournalService;
    WriteJournalRecord(MakeJournalRecord(kRecordService, {serviceName}));
}

void CInstaller::RecordDevice(const std::string& hardwareId) {
    journalEntries[hardwareId] = kJournalDevice;
    WriteJournalRecord(MakeJournalRecord(kRecordDevice, {hardwareId}));
}

// One key holds one kind: an INF this run copied into place itself was
// journaled as a created file, and this record takes that one's place. Running
// its uninstall section matters more than the INF's own copy left behind.
void CInstaller::RecordInfInstall(const std::string& infPath) {
    journalEntries[infPath] = kJournalInfFile;
    WriteJournalRecord(MakeJournalRecord(kRecordInfInstall, {infPath}));
}

void CInstaller::RecordClassFilter(const GUID& classGuid, const std::string& filterName) {
    classFilters[classGuid] = filterName;
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(classGuid.Data1), classGuid.Data2, classGuid.Data3,
                  classGuid.Data4[0], classGuid.Data4[1], classGuid.Data4[2], classGuid.Data4[3],
                  classGuid.Data4[4], classGuid.Data4[5], classGuid.Data4[6], classGuid.Data4[7]);
    WriteJournalRecord(MakeJournalRecord(kRecordClassFilter, {text, filterName}));
}

void CInstaller::RecordDriverStoreInf(const std::string& infPath) {
    journalEntries[infPath] = kJournalDriverStoreInf;
    WriteJournalRecord(MakeJournalRecord(kRecordDriverStoreInf, {infPath}));
}

void CInstaller::RunInfDefaultUninstall() {
    for (const auto& [key, kind] : journalEntries) {
        if (kind == kJournalInfFile || kind == kJournalDriverStoreInf) {
            InstallFromInf(key.c_str(), kUninstallSection);
        }
        if (kind == kJournalDriverStoreInf) {
            RemoveFromDriverStore(key);
        }
    }
}

void CInstaller::RemoveFromDriverStore(const std::string& infPath) {
    Log("Remove From DriverStore: ", infPath.c_str());
    using UninstallOemInfProc = BOOL(WINAPI*)(PCSTR, DWORD, PVOID);
    constexpr DWORD kForceDelete = 0x1; // SUOI_FORCEDELETE
    // Windows XP and later; looked up so that the setup still starts on 2000.
    const HMODULE setupApi = GetModuleHandleA("setupapi.dll");
    const auto uninstall = setupApi ? reinterpret_cast<UninstallOemInfProc>(reinterpret_cast<void*>(
                                          GetProcAddress(setupApi, "SetupUninstallOEMInfA")))
                                    : nullptr;
    const size_t slash = infPath.find_last_of('\\');
    const std::string name = slash == std::string::npos ? infPath : infPath.substr(slash + 1);
    // Forced: the devices that still use it are removed later in the rollback.
    if (uninstall) {
        uninstall(name.c_str(), kForceDelete, nullptr);
    }
    // Where the system left the file (no such function, or one that only
    // pretends), it goes like any file this run created.
    if (GetFileAttributesA(infPath.c_str()) != INVALID_FILE_ATTRIBUTES &&
        !DeleteFileA(infPath.c_str())) {
        DeleteAtRestart(infPath);
    }
}

void CInstaller::RemoveClassFilters() {
    for (const auto& [classGuid, filterName] : classFilters) {
        UninstallClassFilterDriver(classGuid, filterName.c_str());
    }
}

void CInstaller::RemoveServicesAndDevices() {
    // One pass in key order: services and devices interleave by name.
    for (const auto& [key, kind] : journalEntries) {
        if (kind == kJournalService) {
            UninstallService(key.c_str());
        } else if (kind == kJournalDevice) {
            UninstallWdmDriver(key.c_str());
        }
    }
}
