// The SetupAPI log capture against the real Setup key of the test's Wine
// prefix and real device-log files: the test plays SetupAPI's part and writes
// to the device log between the start and the end of the capture. Every test
// puts LogLevel, LogPath and the device logs it touched back as they were.
#include "installer.h"
#include "installer_test_support.h"
#include "setup_log_api.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>

using installer_test::FileExists;
using installer_test::ReadWholeFile;
using installer_test::ScratchFolder;
using installer_test::TestSetupLog;
using installer_test::WriteWholeFile;

namespace {

constexpr char kSetupKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
constexpr char kBegin[] = "==== SetupApi log begin ====\r\n";
constexpr char kEnd[] = "===== SetupApi log end =====\r\n";

// A registry value as it is stored, or its absence.
struct RegistryValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::string data;

    bool operator==(const RegistryValue& other) const {
        return exists == other.exists && (!exists || (type == other.type && data == other.data));
    }
};

std::ostream& operator<<(std::ostream& out, const RegistryValue& value) {
    if (!value.exists) {
        return out << "(no value)";
    }
    out << "type " << value.type << ", bytes";
    for (unsigned char byte : value.data) {
        out << ' ' << std::hex << unsigned(byte) << std::dec;
    }
    return out;
}

RegistryValue Absent() {
    return {};
}
RegistryValue Dword(DWORD number) {
    return {true, REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number)};
}
RegistryValue Text(const std::string& text) {
    return {true, REG_SZ, text + '\0'};
}

// The key SetupAPI reads, in its own (on 64-bit Windows the 64-bit) view.
UniqueHkey OpenSetupKey() {
    UniqueHkey key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()),
              ERROR_SUCCESS);
    return key;
}

RegistryValue ReadValue(const char* name) {
    const UniqueHkey key = OpenSetupKey();
    RegistryValue value;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
        return Absent();
    }
    value.exists = true;
    value.data.assign(size, '\0');
    RegQueryValueExA(key.get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(&value.data[0]),
                     &size);
    value.data.resize(size);
    return value;
}

void WriteValue(const char* name, const RegistryValue& value) {
    const UniqueHkey key = OpenSetupKey();
    if (!value.exists) {
        RegDeleteValueA(key.get(), name);
        return;
    }
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, value.type,
                             reinterpret_cast<const BYTE*>(value.data.data()),
                             DWORD(value.data.size())),
              ERROR_SUCCESS);
}

void Append(const std::string& path, const std::string& bytes) {
    WriteWholeFile(path, (FileExists(path) ? ReadWholeFile(path) : std::string()) + bytes);
}

unsigned MajorVersion() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwMajorVersion;
}

std::string WindowsFolder() {
    char folder[MAX_PATH];
    GetSystemWindowsDirectoryA(folder, MAX_PATH);
    return folder;
}

// A file the test may change, put back (or removed) afterwards.
class SavedFile {
public:
    explicit SavedFile(std::string path) : m_path(std::move(path)) {
        if (FileExists(m_path)) {
            m_content = ReadWholeFile(m_path);
        }
    }
    ~SavedFile() {
        if (m_content) {
            WriteWholeFile(m_path, *m_content);
        } else {
            DeleteFileA(m_path.c_str());
        }
    }
    SavedFile(const SavedFile&) = delete;
    SavedFile& operator=(const SavedFile&) = delete;

private:
    std::string m_path;
    std::optional<std::string> m_content;
};

class SetupApiCaptureTest : public ::testing::Test {
protected:
    ScratchFolder logFolder;
    TestSetupLog log{logFolder / "setup.log"};
    ScratchFolder deviceLogFolder;
    RegistryValue savedLevel;
    RegistryValue savedPath;

    void SetUp() override {
        savedLevel = ReadValue("LogLevel");
        savedPath = ReadValue("LogPath");
        if (MajorVersion() < 6) {
            GTEST_SKIP() << "LogPath and setupapi.dev.log are Vista's";
        }
        // The device log of every test is in a folder of its own.
        WriteValue("LogPath", Text(deviceLogFolder.Path()));
    }
    void TearDown() override {
        WriteValue("LogLevel", savedLevel);
        WriteValue("LogPath", savedPath);
    }

    std::string DeviceLog() const { return deviceLogFolder / "setupapi.dev.log"; }
    static std::string Copied(const std::string& bytes) { return kBegin + bytes + kEnd; }
};

struct GrowthRow {
    const char* what;
    std::optional<std::string> before; // none: no device log yet
    // The device log at the end; none: it was removed.
    std::optional<std::string> (*after)(const std::string& before);
    std::optional<std::string> copied; // none: nothing copied, no marker lines
};

void PrintTo(const GrowthRow& row, std::ostream* out) {
    *out << row.what;
}

class CaptureGrowthTest : public SetupApiCaptureTest,
                          public ::testing::WithParamInterface<GrowthRow> {};

TEST_P(CaptureGrowthTest, CopiesWhatTheDeviceLogGained) {
    const GrowthRow& row = GetParam();
    if (row.before) {
        WriteWholeFile(DeviceLog(), *row.before);
    }
    {
        CSetupLogApi capture(log.Handle());
        ASSERT_TRUE(capture.BeginSetupApiCapture());
        const auto after = row.after(row.before.value_or(""));
        if (after) {
            WriteWholeFile(DeviceLog(), *after);
        } else {
            DeleteFileA(DeviceLog().c_str());
        }
    }
    const std::string content = log.Content();
    if (row.copied) {
        // Compared by size first: a 2 MiB difference is unreadable.
        ASSERT_EQ(content.size(), Copied(*row.copied).size());
        EXPECT_EQ(content, Copied(*row.copied));
    } else {
        EXPECT_EQ(content, "");
    }
}

const std::string kOldLines = ">>>  [Device Install (Hardware initiated) - USB\\VID_1234]\r\n"
                              "<<<  [Exit status: SUCCESS]\r\n";
const std::string kNewLines = ">>>  [Device Install (DiInstallDriver) - hxvhub.inf]\r\n"
                              "     inf: Driver package 'hxvhub.inf' is signed.\r\n"
                              "<<<  [Exit status: SUCCESS]\r\n";
// Whatever SetupAPI wrote goes over unchanged: no conversion, no line splitting.
const std::string kRawBytes = std::string("bare\nfeed\rzero\0byte\xff\xfe\r\n", 24);
constexpr size_t kLimit = 0x200000;

INSTANTIATE_TEST_SUITE_P(
    Growth, CaptureGrowthTest,
    ::testing::Values(
        GrowthRow{"GrownLog", kOldLines,
                  [](const std::string& before) -> std::optional<std::string> {
                      return before + kNewLines;
                  },
                  kNewLines},
        GrowthRow{"CreatedDuringTheInstallation", std::nullopt,
                  [](const std::string&) -> std::optional<std::string> { return kNewLines; },
                  kNewLines},
        GrowthRow{"RawBytesUnchanged", kOldLines,
                  [](const std::string& before) -> std::optional<std::string> {
                      return before + kRawBytes;
                  },
                  kRawBytes},
        GrowthRow{"ReplacedByAShorterLog", kOldLines + kNewLines,
                  [](const std::string&) -> std::optional<std::string> { return kOldLines; },
                  std::nullopt},
        // Dropped as a whole, not cut to the limit.
        GrowthRow{"GrewBy2MiB", kOldLines,
                  [](const std::string& before) -> std::optional<std::string> {
                      return before + std::string(kLimit, 'g');
                  },
                  std::nullopt}),
    [](const ::testing::TestParamInfo<GrowthRow>& info) { return std::string(info.param.what); });

struct LevelRow {
    const char* what;
    RegistryValue before;
    RegistryValue during;
    bool startedTwice;
};

void PrintTo(const LevelRow& row, std::ostream* out) {
    *out << row.what;
}

class CaptureLevelTest : public SetupApiCaptureTest,
                         public ::testing::WithParamInterface<LevelRow> {};

// The level is raised for the capture and put back exactly as it was; a
// system without a level is not given one.
TEST_P(CaptureLevelTest, RaisesTheLevelAndPutsItBack) {
    const LevelRow& row = GetParam();
    WriteValue("LogLevel", row.before);
    const RegistryValue path = ReadValue("LogPath");
    {
        CSetupLogApi capture(log.Handle());
        ASSERT_TRUE(capture.BeginSetupApiCapture());
        if (row.startedTwice) {
            EXPECT_TRUE(capture.BeginSetupApiCapture());
        }
        EXPECT_EQ(ReadValue("LogLevel"), row.during);
    }
    EXPECT_EQ(ReadValue("LogLevel"), row.before);
    EXPECT_EQ(ReadValue("LogPath"), path) << "LogPath is only read";
}

INSTANTIATE_TEST_SUITE_P(
    Levels, CaptureLevelTest,
    ::testing::Values(LevelRow{"Existing", Dword(0x20000000), Dword(0x5050), false},
                      LevelRow{"Missing", Absent(), Absent(), false},
                      // A second start must not take the raised level for the one to restore.
                      LevelRow{"StartedTwice", Dword(0x20000000), Dword(0x5050), true},
                      // Not a 4-byte number: it could not be put back as it was.
                      LevelRow{"Text", Text("verbose"), Text("verbose"), false}),
    [](const ::testing::TestParamInfo<LevelRow>& info) { return std::string(info.param.what); });

// Without LogPath the device log is the one in the Windows folder's "inf"
// folder; a LogPath too long for a path leaves nothing to watch.
TEST_F(SetupApiCaptureTest, WatchesTheInfFolderWithoutLogPath) {
    const std::string infLog = WindowsFolder() + "\\inf\\setupapi.dev.log";
    SavedFile saved(infLog);
    struct {
        const char* what;
        RegistryValue logPath;
        bool copied;
    } const cases[] = {
        {"no LogPath", Absent(), true},
        {"LogPath of 261 bytes", Text(std::string(260, 'x')), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteValue("LogPath", c.logPath);
        WriteWholeFile(infLog, kOldLines);
        TestSetupLog caseLog(logFolder / "case.log");
        {
            CSetupLogApi capture(caseLog.Handle());
            ASSERT_TRUE(capture.BeginSetupApiCapture());
            Append(infLog, kNewLines);
        }
        EXPECT_EQ(caseLog.Content(), c.copied ? Copied(kNewLines) : "");
    }
}

// The installer starts the capture when it is constructed to, and its log
// object ends it when the installer goes.
TEST_F(SetupApiCaptureTest, RunsForTheLifetimeOfAnInstallerThatAsksForIt) {
    for (const BOOL capture : {TRUE, FALSE}) {
        SCOPED_TRACE(capture ? "asked" : "not asked");
        WriteValue("LogLevel", Dword(0));
        WriteWholeFile(DeviceLog(), kOldLines);
        TestSetupLog caseLog(logFolder / (capture ? "asked.log" : "not-asked.log"));
        {
            CInstaller installer(caseLog.Handle(), FALSE, TRUE, FALSE, capture);
            EXPECT_EQ(ReadValue("LogLevel"), capture ? Dword(0x5050) : Dword(0));
            Append(DeviceLog(), kNewLines);
            installer.Log("Install File: ", "C:\\Program Files\\Corvane RDP\\hxvhub.inf");
        }
        EXPECT_EQ(ReadValue("LogLevel"), Dword(0));
        const std::string content = caseLog.Content();
        EXPECT_NE(content.find("Install File: C:\\Program Files\\Corvane RDP\\hxvhub.inf\r\n"),
                  std::string::npos);
        EXPECT_EQ(content.find(kBegin) != std::string::npos, bool(capture)) << content;
        if (capture) {
            // The copy comes last: the capture ends when the installer goes.
            const std::string tail = Copied(kNewLines);
            ASSERT_GE(content.size(), tail.size());
            EXPECT_EQ(content.substr(content.size() - tail.size()), tail);
        }
    }
}

// Before Vista the log is setupapi.log in the Windows folder and the level
// 0xFFFF. Wine reports Windows XP to a program named in its per-program
// settings (HKCU\Software\Wine\AppDefaults\<program>\Version), so the capture
// runs in a copy of the probe program under a name of its own.
class CaptureOnWindowsXpTest : public ::testing::Test {
protected:
    ScratchFolder folder;
    RegistryValue savedLevel = ReadValue("LogLevel");
    std::string program = "setupapi-xp-" + std::to_string(GetCurrentProcessId()) + ".exe";

    void SetUp() override {
        if (!installer_test::RunningUnderWine()) {
            GTEST_SKIP() << "the reported version is chosen through Wine's settings";
        }
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string probe = self;
        probe = probe.substr(0, probe.rfind('\\') + 1) + "setupapi_capture_probe.exe";
        ASSERT_TRUE(CopyFileA(probe.c_str(), (folder / program).c_str(), FALSE)) << probe;
        UniqueHkey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, AppDefaults().c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.get(), "Version", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>("winxp"), 6),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, AppDefaults().c_str());
        WriteValue("LogLevel", savedLevel);
    }
    std::string AppDefaults() const { return "Software\\Wine\\AppDefaults\\" + program; }

    // Runs the probe and returns its report.
    std::string RunProbe(const std::string& setupLog, const std::string& deviceLog,
                         const std::string& text) {
        const std::string report = folder / "report.txt";
        std::string commandLine = "\"" + (folder / program) + "\" \"" + setupLog + "\" \"" +
                                  deviceLog + "\" \"" + text + "\" \"" + report + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            folder.Path().c_str(), &startup, &process)) {
            ADD_FAILURE() << "cannot start the probe: error " << GetLastError();
            return {};
        }
        UniqueHandle processHandle(process.hProcess);
        UniqueHandle threadHandle(process.hThread);
        EXPECT_EQ(WaitForSingleObject(processHandle.get(), 60000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        GetExitCodeProcess(processHandle.get(), &exitCode);
        EXPECT_EQ(exitCode, 0u);
        return FileExists(report) ? ReadWholeFile(report) : std::string();
    }
};

TEST_F(CaptureOnWindowsXpTest, WatchesSetupapiLogAtLevelFFFF) {
    const std::string deviceLog = WindowsFolder() + "\\setupapi.log";
    SavedFile saved(deviceLog);
    struct {
        const char* what;
        RegistryValue before;
        const char* levelDuring;
    } const cases[] = {
        {"existing level", Dword(0x10), "0xffff"},
        {"no level", Absent(), "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteValue("LogLevel", c.before);
        WriteWholeFile(deviceLog, "[2024/05/02 10:00:00 812.3]\r\n");
        const std::string setupLog = folder / "setup.log";
        const std::string report = RunProbe(setupLog, deviceLog, "#I123 hxvhub.inf installed.");
        EXPECT_EQ(report, std::string("major=5\nstarted=1\nlevel=") + c.levelDuring + "\n");
        EXPECT_EQ(ReadValue("LogLevel"), c.before);
        EXPECT_EQ(ReadWholeFile(setupLog),
                  std::string(kBegin) + "#I123 hxvhub.inf installed." + kEnd);
    }
}

} // namespace
