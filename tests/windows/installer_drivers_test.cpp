// Driver and service operations on real objects under Wine: INF sections
// through SetupAPI, a device class's UpperFilters, services run by the Service
// Control Manager (tests/harness/test_service.c) and root-enumerated devices.
// Wine can make neither an INF install nor a device removal ask for a restart,
// so those branches have no case here. The rollback walkers over what the
// child installer adds are covered end to end (its error, the rollback table).
#include "device_ids.h"
#include "installer_test_support.h"

#include <setupapi.h>
#include <winsvc.h>

#include <optional>
#include <ostream>
#include <tuple>

using namespace std::string_literals;
using installer_test::FileExists;
using installer_test::FromBuild;
using installer_test::KeyExists;
using installer_test::kRebootWarning;
using installer_test::ReadValue;

namespace {

constexpr char kInfService[] = "CorvaneInfTestService"; // named in corvane-test-service.inf
constexpr char kInfValuesKey[] = "Software\\Corvane Test\\Inf";
// Device setup classes of our own, so no real class is touched.
constexpr GUID TestClass(unsigned char last) {
    return {0x3c1f5a2e, 0x7b4d, 0x4c8a, {0x9e, 0x21, 0x5d, 0x6f, 0x70, 0x81, 0x92, last}};
}
constexpr GUID kFilterClass = TestClass(0xa3), kDeviceClass = TestClass(0xa5);

std::string ClassKey(const GUID& classGuid) {
    char key[128];
    snprintf(key, sizeof key,
             "SYSTEM\\CurrentControlSet\\Control\\Class\\{3C1F5A2E-7B4D-4C8A-9E21-5D6F708192%02X}",
             classGuid.Data4[7]);
    return key;
}

UniqueScHandle OpenTestService(const std::string& name, DWORD access = SERVICE_ALL_ACCESS) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return UniqueScHandle(OpenServiceA(manager.get(), name.c_str(), access));
}

bool ServiceInstalled(const std::string& name) {
    return bool(OpenTestService(name, SERVICE_QUERY_STATUS));
}

SERVICE_STATUS_PROCESS Status(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                         sizeof status, &needed);
    return status;
}

// Ends a service of that name left by this or an earlier run, and waits until
// the manager lets it go: one marked for deletion cannot be created again.
void RemoveServiceIfPresent(const std::string& name) {
    if (UniqueScHandle service = OpenTestService(name)) {
        UniqueHandle process(
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, Status(service.get()).dwProcessId));
        if (process && TerminateProcess(process.get(), 1)) {
            WaitForSingleObject(process.get(), 5000);
        }
        DeleteService(service.get());
    }
    for (int attempt = 0; attempt < 50 && ServiceInstalled(name); ++attempt) {
        Sleep(100);
    }
}

// A service of the test's own running test_service.exe in `mode`, created stopped.
class TestService {
public:
    TestService(std::string name, const std::string& mode) : m_name(std::move(name)) {
        RemoveServiceIfPresent(m_name);
        const std::string command = "\"" + FromBuild(CORVANE_TEST_SERVICE) + "\" " + mode;
        UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        EXPECT_TRUE(UniqueScHandle(
            CreateServiceA(manager.get(), m_name.c_str(), m_name.c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)))
            << "cannot create service " << m_name << ", error " << GetLastError();
    }
    ~TestService() { RemoveServiceIfPresent(m_name); }

    const std::string& Name() const { return m_name; }

    ::testing::AssertionResult Start() {
        UniqueScHandle service = OpenTestService(m_name);
        if (!service || !StartServiceA(service.get(), 0, nullptr)) {
            return ::testing::AssertionFailure()
                   << "cannot start " << m_name << ", error " << GetLastError();
        }
        for (int attempt = 0; attempt < 100; ++attempt, Sleep(50)) {
            const SERVICE_STATUS_PROCESS status = Status(service.get());
            if (status.dwCurrentState == SERVICE_RUNNING) {
                m_process.reset(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
                return ::testing::AssertionSuccess();
            }
        }
        return ::testing::AssertionFailure() << m_name << " did not report running";
    }
    // Whether its process ends within `milliseconds`.
    bool ProcessEnds(DWORD milliseconds) const {
        return m_process && WaitForSingleObject(m_process.get(), milliseconds) == WAIT_OBJECT_0;
    }

private:
    std::string m_name;
    UniqueHandle m_process;
};

std::vector<std::string> PresentTestDevices() {
    std::vector<std::string> ids;
    UniqueDevInfo devices(SetupDiGetClassDevsA(&kDeviceClass, nullptr, nullptr, DIGCF_PRESENT));
    SP_DEVINFO_DATA device{sizeof device};
    char instance[200]; // MAX_DEVICE_ID_LEN
    for (DWORD index = 0; devices && SetupDiEnumDeviceInfo(devices.get(), index, &device);
         ++index) {
        if (SetupDiGetDeviceInstanceIdA(devices.get(), &device, instance, sizeof instance,
                                        nullptr)) {
            ids.push_back(instance);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Registers a present root device carrying `hardwareIds` (a multi-string).
std::string AddTestDevice(const std::string& hardwareIds) {
    UniqueDevInfo devices(SetupDiCreateDeviceInfoList(&kDeviceClass, nullptr));
    SP_DEVINFO_DATA device{sizeof device};
    char instance[200] = {};
    EXPECT_TRUE(
        devices &&
        SetupDiCreateDeviceInfoA(devices.get(), "CorvaneTestDevice", &kDeviceClass, nullptr,
                                 nullptr, DICD_GENERATE_ID, &device) &&
        SetupDiSetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_HARDWAREID,
                                          reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                          DWORD(hardwareIds.size())) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices.get(), &device) &&
        SetupDiGetDeviceInstanceIdA(devices.get(), &device, instance, sizeof instance, nullptr))
        << "cannot register a test device, error " << GetLastError();
    return instance;
}

// Every test starts and ends without the objects of these tests.
class DriversTest : public installer_test::InstallerTest {
protected:
    installer_test::ScratchFolder folder;

    void SetUp() override {
        CleanUp();
        InstallerTest::SetUp();
    }
    void TearDown() override {
        InstallerTest::TearDown();
        CleanUp();
    }
    static void CleanUp() {
        UniqueDevInfo devices(SetupDiGetClassDevsA(&kDeviceClass, nullptr, nullptr, 0));
        SP_DEVINFO_DATA device{sizeof device};
        for (DWORD index = 0; devices && SetupDiEnumDeviceInfo(devices.get(), index, &device);
             ++index) {
            SetupDiCallClassInstaller(DIF_REMOVE, devices.get(), &device);
        }
        for (const GUID* classGuid : {&kFilterClass, &kDeviceClass}) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, ClassKey(*classGuid).c_str());
        }
        RemoveServiceIfPresent(kInfService);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInfValuesKey);
    }

    // The INF, its payload file and the service program it registers, in the test's folder.
    std::string CopyPackage(const std::string& infName) {
        const std::string data = FromBuild(CORVANE_DRIVERS_TEST_DATA) + "\\";
        for (const auto& [from, to] :
             {std::pair(data + infName, infName),
              std::pair(data + "corvane-test-payload.txt", "corvane-test-payload.txt"s),
              std::pair(FromBuild(CORVANE_TEST_SERVICE), "test_service.exe"s)}) {
            EXPECT_TRUE(CopyFileA(from.c_str(), (folder / to).c_str(), FALSE)) << from;
        }
        return folder / infName;
    }
    std::string InstalledPayload() const { return folder / "installed\\corvane-test-payload.txt"; }
};

struct ServiceRow {
    const char* what;
    const char* name;
    const char* mode; // null: no such service
    bool start;
    bool markedBefore;   // someone deleted it while holding it open
    DWORD staleError;    // the thread's last error before the call
    const char* warning; // null: none, and no restart
    bool stillRunning;
    DWORD minimumMs, maximumMs;
};

void PrintTo(const ServiceRow& row, std::ostream* out) {
    *out << row.what;
}

class UninstallServiceTest : public DriversTest,
                             public ::testing::WithParamInterface<ServiceRow> {};

TEST_P(UninstallServiceTest, StopsDeletesAndAsksForARestartOnlyWhenNeeded) {
    const ServiceRow& row = GetParam();
    const std::string name = "CorvaneTest"s + row.name;
    std::optional<TestService> service;
    UniqueScHandle held;
    RemoveServiceIfPresent(name);
    if (row.mode) {
        service.emplace(name, row.mode);
    }
    if (row.start) {
        ASSERT_TRUE(service->Start());
    }
    if (row.markedBefore) {
        held = OpenTestService(name);
        ASSERT_TRUE(held && DeleteService(held.get()));
    }
    SetLastError(row.staleError);
    const DWORD start = GetTickCount();
    EXPECT_EQ(installer->UninstallService(name.c_str()), row.mode != nullptr);
    const DWORD took = GetTickCount() - start;

    EXPECT_GE(took, row.minimumMs);
    EXPECT_LT(took, row.maximumMs);
    std::vector<std::string> lines{"Uninstall Service: " + name};
    if (row.warning) {
        lines.insert(lines.end(), {row.warning, kRebootWarning});
    }
    EXPECT_EQ(OperationLines(), lines);
    EXPECT_EQ(restartNeeded, row.warning ? 1 : 0);
    if (row.start) {
        EXPECT_EQ(service->ProcessEnds(row.stillRunning ? 0 : 5000), !row.stillRunning);
    }
    if (!row.stillRunning && !row.markedBefore) {
        EXPECT_FALSE(ServiceInstalled(name));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Services, UninstallServiceTest,
    ::testing::Values(
        ServiceRow{"a running service is stopped and deleted", "Running", "stops", true, false, 0,
                   nullptr, false, 0, 10000},
        // The service leaves the manager only when it stops: the wait is real.
        ServiceRow{"a service ignoring the stop is waited for ten seconds, without a restart",
                   "IgnoresStop", "ignores-stop", true, false, 0, nullptr, true, 9500, 14000},
        ServiceRow{"a service refusing the stop is not waited for and needs a restart",
                   "RefusesStop", "refuses-stop", true, false, 0,
                   "Warning: Service can't be stoped!", true, 0, 5000},
        ServiceRow{"a service already marked for deletion needs a restart", "Marked", "stops",
                   false, true, 0, "Warning: Service marked for delete!", false, 0, 5000},
        ServiceRow{"a stopped service is deleted, an old error code not taken for a marked one",
                   "StaleError", "stops", false, false, ERROR_SERVICE_MARKED_FOR_DELETE, nullptr,
                   false, 0, 5000},
        ServiceRow{"a service that is not installed only logs its name", "NotInstalled", nullptr,
                   false, false, 0, nullptr, false, 0, 5000}));

struct FilterRow {
    const char* what;
    std::optional<std::string> before; // nullopt: no UpperFilters value
    std::optional<std::string> after;
    bool classKey = true;
};

void PrintTo(const FilterRow& row, std::ostream* out) {
    *out << row.what;
}

std::string LongFilterList(bool withOurs) {
    std::string list;
    for (int index = 0; index < 30; ++index) {
        list += "vendorfilter" + std::to_string(index) + '\0';
    }
    return list + (withOurs ? "CORVFLT\0\0"s : "\0"s);
}

class UninstallClassFilterTest : public DriversTest,
                                 public ::testing::WithParamInterface<FilterRow> {};

// Our filter goes, in any letter case; the class's other filters stay.
TEST_P(UninstallClassFilterTest, LeavesTheOtherFiltersOfTheClass) {
    const FilterRow& row = GetParam();
    if (row.classKey) {
        installer_test::WriteValue(ClassKey(kFilterClass), "UpperFilters",
                                   {bool(row.before), REG_MULTI_SZ, row.before.value_or("")});
    }
    EXPECT_EQ(installer->UninstallClassFilterDriver(kFilterClass, "corvflt"), row.classKey);

    EXPECT_EQ(ReadValue(ClassKey(kFilterClass), "UpperFilters"),
              (installer_test::RegValue{bool(row.after), REG_MULTI_SZ, row.after.value_or("")}));
    EXPECT_EQ(KeyExists(ClassKey(kFilterClass)), row.classKey)
        << "a missing class key is not created";
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Uninstall ClassFilterDriver: corvflt"});
    EXPECT_EQ(restartNeeded, 0);
}

INSTANTIATE_TEST_SUITE_P(
    UpperFilters, UninstallClassFilterTest,
    ::testing::Values(FilterRow{"twice, once in another letter case",
                                "CorvFlt\0kbdclass\0corvflt\0\0"s, "kbdclass\0\0"s},
                      FilterRow{"the only entry", "corvflt\0\0"s, std::nullopt},
                      FilterRow{"longer than the first read", LongFilterList(true),
                                LongFilterList(false)},
                      FilterRow{"no class key", std::nullopt, std::nullopt, false}));

// Every present device carrying the exact id, also as its second id, goes and
// no other; an id that no device carries exactly is said to be missing.
// A device removed while its ids are read has none, and must not hold up the
// reading (Wine answers such a read "buffer too small" without a size).
TEST_F(DriversTest, ADeviceGoneWhileItsIdsAreReadHasNone) {
    AddTestDevice("CORVANE\\TESTHUB\0CORVANE\\HUB\0\0"s);
    UniqueDevInfo devices(SetupDiGetClassDevsA(&kDeviceClass, nullptr, nullptr, 0));
    SP_DEVINFO_DATA device{sizeof device};
    ASSERT_TRUE(devices && SetupDiEnumDeviceInfo(devices.get(), 0, &device));
    EXPECT_EQ(DeviceHardwareIds(devices.get(), &device),
              (std::vector<std::string>{"CORVANE\\TESTHUB", "CORVANE\\HUB"}));
    CleanUp();
    EXPECT_EQ(DeviceHardwareIds(devices.get(), &device), std::vector<std::string>{});
}

TEST_F(DriversTest, UninstallWdmDriverRemovesTheDevicesCarryingTheExactId) {
    AddTestDevice("CORVANE\\TESTHUB\0\0"s);
    const std::string other = AddTestDevice("CORVANE\\OTHERHUB\0\0"s);
    AddTestDevice("CORVANE\\TESTHUB&REV_02\0CORVANE\\TESTHUB\0\0"s);
    const auto before = PresentTestDevices();
    ASSERT_EQ(before.size(), 3u);
    std::vector<std::string> lines;
    for (const char* id : {"CORVANE\\NOSUCHHUB", "Corvane\\TestHub", "CORVANE\\TEST"}) {
        EXPECT_FALSE(installer->UninstallWdmDriver(id)) << id;
        lines.insert(lines.end(), {"Uninstall WDM Driver: "s + id,
                                   "Device with specified hardware ID not found: "s + id});
    }
    EXPECT_EQ(PresentTestDevices(), before);

    EXPECT_TRUE(installer->UninstallWdmDriver("CORVANE\\TESTHUB"));

    EXPECT_EQ(PresentTestDevices(), std::vector<std::string>{other});
    lines.push_back("Uninstall WDM Driver: CORVANE\\TESTHUB");
    EXPECT_EQ(OperationLines(), lines);
    EXPECT_EQ(restartNeeded, 0);
}

// A section failing half-way, with no ".Services" section or at an AddService
// line after one that created its service, leaves its work in place, journaled
// all the same; the uninstall section takes it away.
TEST_F(DriversTest, ASectionFailingHalfWayIsJournaledAndUndone) {
    JournalEntryTable journaled;
    for (const auto& [infName, section, service] :
         {std::tuple("corvane-test-files-only.inf", "DefaultInstall", false),
          std::tuple("corvane-test-service.inf", "HalfInstall", true)}) {
        SCOPED_TRACE(section);
        const std::string inf = CopyPackage(infName);
        EXPECT_FALSE(installer->InstallFromInf(inf.c_str(), section));
        EXPECT_TRUE(FileExists(InstalledPayload()));
        EXPECT_TRUE(ReadValue(kInfValuesKey, "Installed").exists);
        EXPECT_EQ(ServiceInstalled(kInfService), service);
        journaled[inf] = kJournalInfFile;
        if (service) {
            journaled[kInfService] = kJournalService;
        }
        EXPECT_EQ(installer->GetJournalEntries(), journaled);

        installer->InstallFromInf(inf.c_str(), "DefaultUninstall");
        EXPECT_FALSE(FileExists(InstalledPayload()));
        EXPECT_FALSE(KeyExists(kInfValuesKey));
        EXPECT_FALSE(ServiceInstalled(kInfService));
    }
    EXPECT_EQ(restartNeeded, 0);
}

// The ".NT" variant is installed, with its own ".Services" section; a service
// that was there before belongs to someone else and is not journaled.
TEST_F(DriversTest, InstallsThePlatformVariantOverAnExistingService) {
    const std::string inf = CopyPackage("corvane-test-service.inf");
    TestService existing(kInfService, "stops");

    EXPECT_TRUE(installer->InstallFromInf(inf.c_str(), "DecoratedInstall"));

    EXPECT_TRUE(ReadValue(kInfValuesKey, "DecoratedNT").exists);
    EXPECT_FALSE(ReadValue(kInfValuesKey, "Undecorated").exists);
    EXPECT_EQ(
        ReadValue("System\\CurrentControlSet\\Services\\CorvaneInfTestService", "ImagePath").data,
        folder / "test_service.exe" + '\0');
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Install FromInf: " + inf, "Section: DecoratedInstall"}));
    EXPECT_EQ(installer->GetJournalEntries(), (JournalEntryTable{{inf, kJournalInfFile}}));
}

// No such file, no such section, not an INF: each fails with the two lines and
// changes nothing.
TEST_F(DriversTest, AnUnusableInfChangesNothing) {
    const std::string missing = folder / "corvane-missing.inf";
    std::vector<std::string> lines;
    for (const auto& [inf, section] :
         {std::pair(missing, "DefaultInstall"),
          std::pair(CopyPackage("corvane-test-service.inf"), "NoSuchInstall"),
          std::pair(CopyPackage("corvane-test-payload.txt"), "DefaultInstall")}) {
        EXPECT_FALSE(installer->InstallFromInf(inf.c_str(), section)) << inf << " " << section;
        lines.insert(lines.end(), {"Install FromInf: " + inf, "Section: "s + section});
    }
    EXPECT_EQ(OperationLines(), lines);
    EXPECT_TRUE(installer->GetJournalEntries().empty());
    EXPECT_FALSE(FileExists(InstalledPayload()));
    EXPECT_FALSE(KeyExists(kInfValuesKey));
    EXPECT_EQ(restartNeeded, 0);
}

} // namespace
