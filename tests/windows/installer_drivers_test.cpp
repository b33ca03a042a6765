// The installer's driver and service operations on real Windows objects under
// Wine: INF sections installed through SetupAPI, a device class's UpperFilters
// in the registry, services run by the Service Control Manager (the program
// is tests/harness/test_service.c), root-enumerated devices, and the rollback
// walkers over them. Every test creates its own objects and removes them
// again, also those a crashed earlier run may have left in the prefix.
#include "installer.h"
#include "installer_test_support.h"

#include <gtest/gtest.h>

#include <setupapi.h>
#include <winsvc.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace std::string_literals;
using installer_test::FileExists;
using installer_test::ReadWholeFile;
using installer_test::ScratchFolder;
using installer_test::TestSetupLog;

namespace {

using installer_test::kRebootWarning;
constexpr char kInfService[] = "CorvaneInfTestService"; // named in corvane-test-service.inf
constexpr char kInfValuesKey[] = "Software\\Corvane Test\\Inf";
constexpr char kFilter[] = "corvflt";
// Device setup classes of our own, so no real class is touched.
constexpr GUID kFilterClass = {
    0x3c1f5a2e, 0x7b4d, 0x4c8a, {0x9e, 0x21, 0x5d, 0x6f, 0x70, 0x81, 0x92, 0xa3}};
constexpr GUID kOtherFilterClass = {
    0x3c1f5a2e, 0x7b4d, 0x4c8a, {0x9e, 0x21, 0x5d, 0x6f, 0x70, 0x81, 0x92, 0xa4}};
constexpr GUID kDeviceClass = {
    0x3c1f5a2e, 0x7b4d, 0x4c8a, {0x9e, 0x21, 0x5d, 0x6f, 0x70, 0x81, 0x92, 0xa5}};
constexpr char kDeviceName[] = "CorvaneTestDevice";
constexpr DWORD kDeviceIdLength = 200; // MAX_DEVICE_ID_LEN of cfgmgr32.h

// The build names its files with Linux paths; Wine shows the Linux root as Z:.
std::string FromBuild(const std::string& linuxPath) {
    std::string path = linuxPath[0] == '/' ? "Z:" + linuxPath : linuxPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string TestServiceProgram() {
    return FromBuild(CORVANE_TEST_SERVICE);
}

std::string DataFile(const std::string& name) {
    return FromBuild(CORVANE_DRIVERS_TEST_DATA) + "\\" + name;
}

std::string ClassKeyPath(const GUID& classGuid) {
    char text[64];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             classGuid.Data1, classGuid.Data2, classGuid.Data3, classGuid.Data4[0],
             classGuid.Data4[1], classGuid.Data4[2], classGuid.Data4[3], classGuid.Data4[4],
             classGuid.Data4[5], classGuid.Data4[6], classGuid.Data4[7]);
    return "SYSTEM\\CurrentControlSet\\Control\\Class\\"s + text;
}

struct RegistryValue {
    DWORD type = 0;
    std::string data;
};

std::optional<RegistryValue> ReadValue(const std::string& keyPath, const char* name) {
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    RegistryValue value;
    if (RegQueryValueExA(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.data.assign(size, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, &value.type,
                         reinterpret_cast<BYTE*>(&value.data[0]), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.data.resize(size);
    return value;
}

bool KeyExists(const std::string& keyPath) {
    UniqueHkey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

// Milliseconds that `action` took.
template <typename Action> DWORD Timed(Action action) {
    const DWORD start = GetTickCount();
    action();
    return GetTickCount() - start;
}

using DriversTest = installer_test::InstallerTest;

// ---------------------------------------------------------------------------
// Services

UniqueScHandle OpenManager() {
    return UniqueScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

bool ServiceInstalled(const std::string& name) {
    const UniqueScHandle manager = OpenManager();
    return bool(UniqueScHandle(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)));
}

void EndProcess(DWORD processId) {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (process) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

// Ends a service of that name left by this or an earlier run: its process,
// then the service itself. Waits until the manager has let it go, because a
// service marked for deletion cannot be created again.
void RemoveServiceIfPresent(const std::string& name) {
    const UniqueScHandle manager = OpenManager();
    {
        UniqueScHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
        if (!service) {
            return;
        }
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                 reinterpret_cast<BYTE*>(&status), sizeof status, &needed) &&
            status.dwProcessId != 0) {
            EndProcess(status.dwProcessId);
        }
        DeleteService(service.get());
    }
    for (int attempt = 0; attempt < 50 && ServiceInstalled(name); ++attempt) {
        Sleep(100);
    }
}

// A service of the test's own, created stopped; Start runs its program under
// the Service Control Manager. The destructor ends its process if it still runs
// and deletes the service if it is still there.
class TestService {
public:
    TestService(std::string name, const std::string& mode) : m_name(std::move(name)) {
        RemoveServiceIfPresent(m_name);
        const std::string command = "\"" + TestServiceProgram() + "\" " + mode;
        const UniqueScHandle manager = OpenManager();
        UniqueScHandle service(
            CreateServiceA(manager.get(), m_name.c_str(), m_name.c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_TRUE(service) << "cannot create service " << m_name << ", error " << GetLastError();
    }
    ~TestService() {
        if (m_process) {
            TerminateProcess(m_process.get(), 1);
            WaitForSingleObject(m_process.get(), 5000);
        }
        RemoveServiceIfPresent(m_name);
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    const std::string& Name() const { return m_name; }

    // Starts the service and waits until it reports running.
    ::testing::AssertionResult Start() {
        const UniqueScHandle manager = OpenManager();
        UniqueScHandle service(OpenServiceA(manager.get(), m_name.c_str(), SERVICE_ALL_ACCESS));
        if (!service || !StartServiceA(service.get(), 0, nullptr)) {
            return ::testing::AssertionFailure()
                   << "cannot start " << m_name << ", error " << GetLastError();
        }
        SERVICE_STATUS_PROCESS status{};
        for (int attempt = 0; attempt < 100; ++attempt) {
            DWORD needed = 0;
            if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<BYTE*>(&status), sizeof status, &needed) &&
                status.dwCurrentState == SERVICE_RUNNING) {
                m_process.reset(
                    OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
                return ::testing::AssertionSuccess();
            }
            Sleep(50);
        }
        return ::testing::AssertionFailure()
               << m_name << " did not report running; state " << status.dwCurrentState;
    }

    bool ProcessRunning() const {
        return m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
    }
    // Waits up to `milliseconds` for the service's process to end.
    bool ProcessEndsWithin(DWORD milliseconds) const {
        return m_process && WaitForSingleObject(m_process.get(), milliseconds) == WAIT_OBJECT_0;
    }

private:
    std::string m_name;
    UniqueHandle m_process;
};

class UninstallServiceTest : public DriversTest {};

TEST_F(UninstallServiceTest, DeletesAStoppedService) {
    TestService service("CorvaneTestStopped", "stops");

    EXPECT_TRUE(installer->UninstallService(service.Name().c_str()));

    EXPECT_FALSE(ServiceInstalled(service.Name()));
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Uninstall Service: CorvaneTestStopped"});
    EXPECT_EQ(restartNeeded, 0);
}

TEST_F(UninstallServiceTest, StopsARunningServiceBeforeDeletingIt) {
    TestService service("CorvaneTestRunning", "stops");
    ASSERT_TRUE(service.Start());

    EXPECT_TRUE(installer->UninstallService(service.Name().c_str()));

    EXPECT_TRUE(service.ProcessEndsWithin(5000)) << "the service program still runs";
    EXPECT_FALSE(ServiceInstalled(service.Name()));
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Uninstall Service: CorvaneTestRunning"});
    EXPECT_EQ(restartNeeded, 0);
}

// Also tells that the wait really waits: the service leaves the Control
// Manager only when it stops, so the call may not return before ten seconds.
TEST_F(UninstallServiceTest, WaitsTenSecondsForAServiceThatIgnoresTheStopAndDeletesItAnyway) {
    TestService service("CorvaneTestIgnoresStop", "ignores-stop");
    ASSERT_TRUE(service.Start());

    bool result = false;
    const DWORD took = Timed([&] { result = installer->UninstallService(service.Name().c_str()); });

    EXPECT_TRUE(result);
    EXPECT_GE(took, 9500u);
    EXPECT_LT(took, 14000u);
    EXPECT_TRUE(service.ProcessRunning());
    // No line for a service left running, and no restart request either.
    EXPECT_EQ(OperationLines(),
              std::vector<std::string>{"Uninstall Service: CorvaneTestIgnoresStop"});
    EXPECT_EQ(restartNeeded, 0);
}

TEST_F(UninstallServiceTest, AServiceThatRefusesToStopNeedsARestart) {
    TestService service("CorvaneTestRefusesStop", "refuses-stop");
    ASSERT_TRUE(service.Start());

    bool result = false;
    const DWORD took = Timed([&] { result = installer->UninstallService(service.Name().c_str()); });

    EXPECT_TRUE(result);
    EXPECT_LT(took, 5000u) << "a refused stop is not waited for";
    EXPECT_TRUE(service.ProcessRunning());
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Uninstall Service: CorvaneTestRefusesStop",
                                        "Warning: Service can't be stoped!", kRebootWarning}));
    EXPECT_EQ(restartNeeded, 1);
}

TEST_F(UninstallServiceTest, AServiceAlreadyMarkedForDeletionNeedsARestart) {
    TestService service("CorvaneTestMarked", "stops");
    // Someone deleted it while holding it open: it stays until that handle goes.
    const UniqueScHandle manager = OpenManager();
    UniqueScHandle held(OpenServiceA(manager.get(), service.Name().c_str(), SERVICE_ALL_ACCESS));
    ASSERT_TRUE(held);
    ASSERT_TRUE(DeleteService(held.get()));

    EXPECT_TRUE(installer->UninstallService(service.Name().c_str()));

    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Uninstall Service: CorvaneTestMarked",
                                        "Warning: Service marked for delete!", kRebootWarning}));
    EXPECT_EQ(restartNeeded, 1);
}

TEST_F(UninstallServiceTest, AnOldErrorCodeIsNotTakenForAServiceMarkedForDeletion) {
    TestService service("CorvaneTestStaleError", "stops");

    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_TRUE(installer->UninstallService(service.Name().c_str()));

    EXPECT_FALSE(ServiceInstalled(service.Name()));
    EXPECT_EQ(OperationLines(),
              std::vector<std::string>{"Uninstall Service: CorvaneTestStaleError"});
    EXPECT_EQ(restartNeeded, 0);
}

TEST_F(UninstallServiceTest, AServiceThatIsNotInstalledOnlyLogsItsName) {
    RemoveServiceIfPresent("CorvaneTestNotInstalled");

    EXPECT_FALSE(installer->UninstallService("CorvaneTestNotInstalled"));

    EXPECT_EQ(OperationLines(),
              std::vector<std::string>{"Uninstall Service: CorvaneTestNotInstalled"});
    EXPECT_EQ(restartNeeded, 0);
}

// ---------------------------------------------------------------------------
// Class filters

// A device setup class key of the test's own, with an UpperFilters value or none.
class ClassKey {
public:
    explicit ClassKey(const GUID& classGuid) : m_path(ClassKeyPath(classGuid)) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_path.c_str());
        UniqueHkey key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.put(), nullptr),
                  ERROR_SUCCESS)
            << "cannot create " << m_path;
    }
    ~ClassKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_path.c_str()); }
    ClassKey(const ClassKey&) = delete;
    ClassKey& operator=(const ClassKey&) = delete;

    void SetUpperFilters(const std::string& data, DWORD type = REG_MULTI_SZ) {
        UniqueHkey key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_SET_VALUE, key.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.get(), "UpperFilters", 0, type,
                                 reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size())),
                  ERROR_SUCCESS);
    }
    std::optional<RegistryValue> UpperFilters() const { return ReadValue(m_path, "UpperFilters"); }

private:
    std::string m_path;
};

struct FilterRow {
    const char* description;
    std::optional<std::string> before; // nullopt: no UpperFilters value
    std::optional<std::string> after;  // nullopt: no UpperFilters value
};

std::ostream& operator<<(std::ostream& out, const FilterRow& row) {
    return out << row.description;
}

std::string LongFilterList(bool withOurs) {
    std::string list;
    for (int index = 0; index < 30; ++index) {
        list += "vendorfilter" + std::to_string(index) + '\0';
    }
    if (withOurs) {
        list += "CORVFLT"s + '\0';
    }
    return list + '\0';
}

class UninstallClassFilterTest : public DriversTest,
                                 public ::testing::WithParamInterface<FilterRow> {};

TEST_P(UninstallClassFilterTest, LeavesTheOtherFiltersOfTheClass) {
    const FilterRow& row = GetParam();
    ClassKey classKey(kFilterClass);
    if (row.before) {
        classKey.SetUpperFilters(*row.before);
    }

    EXPECT_TRUE(installer->UninstallClassFilterDriver(kFilterClass, kFilter));

    const auto upperFilters = classKey.UpperFilters();
    ASSERT_EQ(upperFilters.has_value(), row.after.has_value());
    if (upperFilters) {
        EXPECT_EQ(upperFilters->data, *row.after);
        EXPECT_EQ(upperFilters->type, DWORD(REG_MULTI_SZ));
    }
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Uninstall ClassFilterDriver: corvflt"});
    EXPECT_EQ(restartNeeded, 0);
}

INSTANTIATE_TEST_SUITE_P(
    UpperFilters, UninstallClassFilterTest,
    ::testing::Values(
        FilterRow{"one of several", "kbdclass\0corvflt\0mouclass\0\0"s, "kbdclass\0mouclass\0\0"s},
        FilterRow{"twice, once in another letter case", "CorvFlt\0kbdclass\0corvflt\0\0"s,
                  "kbdclass\0\0"s},
        FilterRow{"the only entry", "corvflt\0\0"s, std::nullopt},
        FilterRow{"longer than the first read", LongFilterList(true), LongFilterList(false)},
        FilterRow{"no value at all", std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<FilterRow>& info) {
        std::string name = info.param.description;
        for (char& c : name) {
            if (!isalnum(static_cast<unsigned char>(c))) {
                c = '_';
            }
        }
        return name;
    });

TEST_F(DriversTest, UninstallClassFilterDriverFailsWithoutTheClassKeyAndCreatesNone) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ClassKeyPath(kFilterClass).c_str());

    EXPECT_FALSE(installer->UninstallClassFilterDriver(kFilterClass, kFilter));

    EXPECT_FALSE(KeyExists(ClassKeyPath(kFilterClass)));
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Uninstall ClassFilterDriver: corvflt"});
}

// ---------------------------------------------------------------------------
// Devices
//
// Wine registers root-enumerated devices of a class of our own
// (SetupDiCreateDeviceInfo, the hardware ids, DIF_REGISTERDEVICE) and lists
// them as present. It cannot make a removal that asks for a restart
// (DI_NEEDRESTART), so that branch has no test here.

void RemoveTestDevices() {
    UniqueDevInfo devices(SetupDiGetClassDevsA(&kDeviceClass, nullptr, nullptr, 0));
    if (!devices) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        SetupDiCallClassInstaller(DIF_REMOVE, devices.get(), &device);
    }
}

// Instance ids of the present devices of the test's class.
std::vector<std::string> PresentTestDevices() {
    std::vector<std::string> ids;
    UniqueDevInfo devices(SetupDiGetClassDevsA(&kDeviceClass, nullptr, nullptr, DIGCF_PRESENT));
    if (!devices) {
        return ids;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        char instance[kDeviceIdLength] = {};
        if (SetupDiGetDeviceInstanceIdA(devices.get(), &device, instance, sizeof instance,
                                        nullptr)) {
            ids.push_back(instance);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Registers a present root device carrying `hardwareIds` (a list of
// zero-terminated strings) and returns its instance id.
std::string AddTestDevice(const std::string& hardwareIds) {
    UniqueDevInfo devices(SetupDiCreateDeviceInfoList(&kDeviceClass, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    char instance[kDeviceIdLength] = {};
    const bool made =
        devices &&
        SetupDiCreateDeviceInfoA(devices.get(), kDeviceName, &kDeviceClass, nullptr, nullptr,
                                 DICD_GENERATE_ID, &device) &&
        SetupDiSetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_HARDWAREID,
                                          reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                          DWORD(hardwareIds.size())) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices.get(), &device) &&
        SetupDiGetDeviceInstanceIdA(devices.get(), &device, instance, sizeof instance, nullptr);
    EXPECT_TRUE(made) << "cannot register a test device, error " << GetLastError();
    return instance;
}

class UninstallWdmDriverTest : public DriversTest {
protected:
    void SetUp() override {
        DriversTest::SetUp();
        RemoveTestDevices();
    }
    void TearDown() override {
        RemoveTestDevices();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, ClassKeyPath(kDeviceClass).c_str());
        DriversTest::TearDown();
    }
};

TEST_F(UninstallWdmDriverTest, RemovesEveryPresentDeviceCarryingTheIdAndNoOther) {
    const std::string first = AddTestDevice("CORVANE\\TESTHUB\0\0"s);
    const std::string other = AddTestDevice("CORVANE\\OTHERHUB\0\0"s);
    // Carries it as its second, compatible-looking id.
    const std::string second = AddTestDevice("CORVANE\\TESTHUB&REV_02\0CORVANE\\TESTHUB\0\0"s);
    ASSERT_EQ(PresentTestDevices().size(), 3u);

    EXPECT_TRUE(installer->UninstallWdmDriver("CORVANE\\TESTHUB"));

    EXPECT_EQ(PresentTestDevices(), std::vector<std::string>{other});
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Uninstall WDM Driver: CORVANE\\TESTHUB"});
    EXPECT_EQ(restartNeeded, 0);
}

struct MissingIdRow {
    const char* description;
    const char* hardwareId;
};

std::ostream& operator<<(std::ostream& out, const MissingIdRow& row) {
    return out << row.description;
}

class UninstallWdmDriverMissingTest : public UninstallWdmDriverTest,
                                      public ::testing::WithParamInterface<MissingIdRow> {};

TEST_P(UninstallWdmDriverMissingTest, RemovesNothingAndSaysSo) {
    const std::string device = AddTestDevice("CORVANE\\TESTHUB\0\0"s);
    const char* id = GetParam().hardwareId;

    EXPECT_FALSE(installer->UninstallWdmDriver(id));

    EXPECT_EQ(PresentTestDevices(), std::vector<std::string>{device});
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Uninstall WDM Driver: "s + id,
                                        "Device with specified hardware ID not found: "s + id}));
    EXPECT_EQ(restartNeeded, 0);
}

INSTANTIATE_TEST_SUITE_P(
    HardwareIds, UninstallWdmDriverMissingTest,
    ::testing::Values(MissingIdRow{"an id no device has", "CORVANE\\NOSUCHHUB"},
                      MissingIdRow{"another letter case", "Corvane\\TestHub"},
                      MissingIdRow{"the start of a device's id", "CORVANE\\TEST"}));

// ---------------------------------------------------------------------------
// INF sections
//
// Wine cannot make an INF install ask for a restart: a target file held open
// during the queue commit is skipped without a restart-time replacement, and
// SetupPromptReboot answers 0. So the restart branch has no test here.

// A copy of a test INF in a folder of its own, beside its payload file and the
// service program it registers.
class InfTest : public DriversTest {
protected:
    ScratchFolder folder;

    void SetUp() override {
        DriversTest::SetUp();
        RemoveServiceIfPresent(kInfService);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInfValuesKey);
    }
    void TearDown() override {
        RemoveServiceIfPresent(kInfService);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kInfValuesKey);
        DriversTest::TearDown();
    }

    std::string CopyPackage(const std::string& infName) {
        for (const std::string& name : {infName, "corvane-test-payload.txt"s}) {
            EXPECT_TRUE(CopyFileA(DataFile(name).c_str(), (folder / name).c_str(), FALSE))
                << "cannot copy " << DataFile(name) << ", error " << GetLastError();
        }
        EXPECT_TRUE(
            CopyFileA(TestServiceProgram().c_str(), (folder / "test_service.exe").c_str(), FALSE))
            << "cannot copy " << TestServiceProgram() << ", error " << GetLastError();
        return folder / infName;
    }

    std::string InstalledPayload() const { return folder / "installed\\corvane-test-payload.txt"; }

    static std::optional<std::string> ServiceProgram(const std::string& name) {
        const UniqueScHandle manager = OpenManager();
        UniqueScHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
        if (!service) {
            return std::nullopt;
        }
        DWORD needed = 0;
        QueryServiceConfigA(service.get(), nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (!QueryServiceConfigA(service.get(), config, needed, &needed)) {
            return std::nullopt;
        }
        return std::string(config->lpBinaryPathName);
    }

    static std::vector<std::string> InfLines(const std::string& inf, const std::string& section) {
        return {"Install FromInf: " + inf, "Section: " + section};
    }
};

TEST_F(InfTest, InstallsFilesRegistryAndServiceAndJournalsWhatRollbackUndoes) {
    const std::string inf = CopyPackage("corvane-test-service.inf");

    EXPECT_TRUE(installer->InstallFromInf(inf.c_str(), "DefaultInstall"));

    EXPECT_EQ(ReadWholeFile(InstalledPayload()), "Corvane test payload\r\n");
    const auto installed = ReadValue(kInfValuesKey, "Installed");
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->data, "DefaultInstall\0"s);
    EXPECT_EQ(ServiceProgram(kInfService), folder / "test_service.exe");
    EXPECT_EQ(OperationLines(), InfLines(inf, "DefaultInstall"));
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_EQ(installer->GetJournalEntries(),
              (JournalEntryTable{{inf, kJournalInfFile}, {kInfService, kJournalService}}));
}

TEST_F(InfTest, RollbackRunsTheDefaultUninstallSectionOfAnInstalledInf) {
    const std::string inf = CopyPackage("corvane-test-service.inf");
    ASSERT_TRUE(installer->InstallFromInf(inf.c_str(), "DefaultInstall"));
    const auto journal = installer->GetJournalEntries();

    installer->RunInfDefaultUninstall();

    EXPECT_FALSE(FileExists(InstalledPayload()));
    EXPECT_FALSE(KeyExists(kInfValuesKey));
    EXPECT_FALSE(ServiceInstalled(kInfService));
    auto expected = InfLines(inf, "DefaultInstall");
    for (const std::string& line : InfLines(inf, "DefaultUninstall")) {
        expected.push_back(line);
    }
    EXPECT_EQ(OperationLines(), expected);
    EXPECT_EQ(installer->GetJournalEntries(), journal) << "the uninstall records nothing";
}

// Without a ".Services" section the last step fails: the section's files and
// registry entries are in place all the same, and rollback still undoes them.
TEST_F(InfTest, ASectionWithoutServicesDoesItsWorkAndReportsFailure) {
    const std::string inf = CopyPackage("corvane-test-files-only.inf");

    EXPECT_FALSE(installer->InstallFromInf(inf.c_str(), "DefaultInstall"));

    EXPECT_TRUE(FileExists(InstalledPayload()));
    EXPECT_TRUE(ReadValue(kInfValuesKey, "Installed"));
    EXPECT_EQ(installer->GetJournalEntries(), (JournalEntryTable{{inf, kJournalInfFile}}));

    EXPECT_FALSE(installer->InstallFromInf(inf.c_str(), "DefaultUninstall"));

    EXPECT_FALSE(FileExists(InstalledPayload()));
    EXPECT_FALSE(KeyExists(kInfValuesKey));
    EXPECT_EQ(restartNeeded, 0);
}

TEST_F(InfTest, InstallsThePlatformVariantOfASection) {
    const std::string inf = CopyPackage("corvane-test-service.inf");

    EXPECT_TRUE(installer->InstallFromInf(inf.c_str(), "DecoratedInstall"));

    EXPECT_TRUE(ReadValue(kInfValuesKey, "DecoratedNT"));
    EXPECT_FALSE(ReadValue(kInfValuesKey, "Undecorated"));
    EXPECT_TRUE(ServiceInstalled(kInfService)) << "the variant's own .Services section";
    EXPECT_EQ(OperationLines(), InfLines(inf, "DecoratedInstall"));
}

// Rollback deletes what the journal names: a service that was there before the
// INF updated it belongs to someone else.
TEST_F(InfTest, AServiceThatExistedBeforeIsNotJournaled) {
    const std::string inf = CopyPackage("corvane-test-service.inf");
    TestService existing(kInfService, "stops");

    EXPECT_TRUE(installer->InstallFromInf(inf.c_str(), "DefaultInstall"));

    EXPECT_EQ(installer->GetJournalEntries(), (JournalEntryTable{{inf, kJournalInfFile}}));
}

struct UnusableInfRow {
    const char* description;
    const char* infName; // copied into the test's folder; null: no file there
    const char* section;
};

std::ostream& operator<<(std::ostream& out, const UnusableInfRow& row) {
    return out << row.description;
}

class UnusableInfTest : public InfTest, public ::testing::WithParamInterface<UnusableInfRow> {};

TEST_P(UnusableInfTest, FailsWithTheTwoLinesAndChangesNothing) {
    const UnusableInfRow& row = GetParam();
    const std::string inf = row.infName ? CopyPackage(row.infName) : folder / "corvane-missing.inf";

    EXPECT_FALSE(installer->InstallFromInf(inf.c_str(), row.section));

    EXPECT_EQ(OperationLines(), InfLines(inf, row.section));
    EXPECT_TRUE(installer->GetJournalEntries().empty());
    EXPECT_FALSE(FileExists(InstalledPayload()));
    EXPECT_FALSE(KeyExists(kInfValuesKey));
    EXPECT_EQ(restartNeeded, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Infs, UnusableInfTest,
    ::testing::Values(UnusableInfRow{"no such file", nullptr, "DefaultInstall"},
                      UnusableInfRow{"no such section", "corvane-test-service.inf",
                                     "NoSuchInstall"},
                      UnusableInfRow{"not an INF", "corvane-test-payload.txt", "DefaultInstall"}));

// ---------------------------------------------------------------------------
// Rollback of everything at once, in the order the install procedure walks it.

class DriverRollbackTest : public InfTest {
protected:
    void SetUp() override {
        InfTest::SetUp();
        RemoveTestDevices();
    }
    void TearDown() override {
        RemoveTestDevices();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, ClassKeyPath(kDeviceClass).c_str());
        InfTest::TearDown();
    }
};

TEST_F(DriverRollbackTest, UndoesInfClassFilterServicesAndDevicesInItsOrder) {
    const std::string inf = CopyPackage("corvane-test-service.inf");
    ASSERT_TRUE(installer->InstallFromInf(inf.c_str(), "DefaultInstall"));
    ClassKey classKey(kFilterClass);
    classKey.SetUpperFilters("kbdclass\0corvflt\0\0"s);
    installer->RecordClassFilter(kFilterClass, kFilter);
    ClassKey otherClassKey(kOtherFilterClass);
    otherClassKey.SetUpperFilters("corvmou\0\0"s);
    installer->RecordClassFilter(kOtherFilterClass, "corvmou");
    TestService alpha("CorvaneRollbackAlpha", "stops");
    ASSERT_TRUE(alpha.Start());
    TestService gamma("CorvaneRollbackGamma", "stops");
    installer->RecordService(alpha.Name());
    installer->RecordService(gamma.Name());
    // Between the two services in byte order.
    const std::string device = AddTestDevice("CorvaneRollbackBeta\\Hub\0\0"s);
    installer->RecordDevice("CorvaneRollbackBeta\\Hub");
    const size_t linesBefore = OperationLines().size();

    installer->RunInfDefaultUninstall();
    installer->RemoveClassFilters();
    installer->RemoveServicesAndDevices();

    EXPECT_FALSE(FileExists(InstalledPayload()));
    EXPECT_FALSE(ServiceInstalled(kInfService));
    ASSERT_TRUE(classKey.UpperFilters());
    EXPECT_EQ(classKey.UpperFilters()->data, "kbdclass\0\0"s);
    EXPECT_FALSE(otherClassKey.UpperFilters());
    EXPECT_FALSE(ServiceInstalled(alpha.Name()));
    EXPECT_FALSE(ServiceInstalled(gamma.Name()));
    EXPECT_TRUE(alpha.ProcessEndsWithin(5000));
    EXPECT_TRUE(PresentTestDevices().empty());
    const auto lines = OperationLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + linesBefore, lines.end()),
              (std::vector<std::string>{"Install FromInf: " + inf, "Section: DefaultUninstall",
                                        "Uninstall ClassFilterDriver: corvflt",
                                        "Uninstall ClassFilterDriver: corvmou",
                                        "Uninstall Service: CorvaneInfTestService",
                                        "Uninstall Service: CorvaneRollbackAlpha",
                                        "Uninstall WDM Driver: CorvaneRollbackBeta\\Hub",
                                        "Uninstall Service: CorvaneRollbackGamma"}));
    EXPECT_EQ(restartNeeded, 0);
}

} // namespace
