// Programs built on the framework, run as child processes: the exit code the
// application object gives reaches whoever started the program, and a DLL
// planted beside the program or in its current folder is never loaded once
// the DLL search is hardened.
//
// The planted DLL is the canary (tests/harness/canary_dll.c), copied under the
// name riched32.dll: it writes a marker file when something loads it. Wine
// would quietly use its own built-in riched32 instead of any file of that
// name, which would make the test pass for the wrong reason, so the children
// get a native-first override for riched32. Wine takes WINEDLLOVERRIDES from
// the Unix environment it started with, not from the environment block of
// CreateProcess, so the override is set in Wine's per-program registry key
// (HKCU\Software\Wine\AppDefaults\<program>\DllOverrides) for uniquely
// named copies of the probes; on Windows the key means nothing. The "plain"
// case proves the canary is really loaded when nothing protects the program.
#include "framework_test_support.h"
#include "handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadTextFile(const std::string& path) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

// This process's environment block with some variables replaced.
std::vector<char> EnvironmentWith(const std::vector<std::string>& settings) {
    std::vector<char> block;
    char* current = GetEnvironmentStringsA();
    for (const char* entry = current; *entry != '\0'; entry += strlen(entry) + 1) {
        const std::string text = entry;
        bool replaced = false;
        for (const std::string& setting : settings) {
            const std::string name = setting.substr(0, setting.find('=') + 1);
            replaced = replaced || _strnicmp(text.c_str(), name.c_str(), name.size()) == 0;
        }
        if (!replaced) {
            block.insert(block.end(), text.begin(), text.end() + 1);
        }
    }
    FreeEnvironmentStringsA(current);
    for (const std::string& setting : settings) {
        block.insert(block.end(), setting.c_str(), setting.c_str() + setting.size() + 1);
    }
    block.push_back('\0');
    return block;
}

// Runs a program and returns its exit code, or a failure.
testing::AssertionResult RunProgram(const std::string& program, const std::string& arguments,
                                    const std::string& currentFolder,
                                    const std::vector<std::string>& environment, DWORD* exitCode) {
    std::string commandLine = "\"" + program + "\" " + arguments;
    std::vector<char> block = EnvironmentWith(environment);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, block.data(),
                        currentFolder.c_str(), &startup, &process)) {
        return testing::AssertionFailure()
               << "cannot start " << program << ": error " << GetLastError();
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), 1);
        return testing::AssertionFailure() << program << " " << arguments << " did not end";
    }
    GetExitCodeProcess(processHandle.get(), exitCode);
    return testing::AssertionSuccess();
}

// A folder of its own with copies of the probe programs and a planted
// riched32.dll beside them, and a current folder with another planted copy.
// The copies' names are unique to the test, so that tests running at the
// same time in one Wine prefix do not share the per-program override.
class PlantedDll : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string unique = std::to_string(GetCurrentProcessId());
        m_root = std::string(temp) + "corvane-dll-planting-" + unique;
        m_programFolder = m_root + "\\downloads";
        m_currentFolder = m_root + "\\current";
        m_marker = m_root + "\\canary-loaded.txt";
        m_dllProbe = "dll-probe-" + unique + ".exe";
        m_appProbe = "app-probe-" + unique + ".exe";
        ASSERT_TRUE(CreateDirectoryA(m_root.c_str(), nullptr)) << m_root;
        ASSERT_TRUE(CreateDirectoryA(m_programFolder.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(m_currentFolder.c_str(), nullptr));
        Copy(ProgramFolder() + "framework_dll_probe.exe", m_programFolder + "\\" + m_dllProbe);
        Copy(ProgramFolder() + "framework_app_probe.exe", m_programFolder + "\\" + m_appProbe);
        Copy(CanaryPath(), m_programFolder + "\\riched32.dll");
        Copy(CanaryPath(), m_currentFolder + "\\riched32.dll");
        for (const std::string& program : {m_dllProbe, m_appProbe}) {
            UniqueHkey key;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, OverrideKey(program).c_str(), 0, nullptr,
                                      0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
                      ERROR_SUCCESS);
            const char value[] = "native,builtin";
            ASSERT_EQ(RegSetValueExA(key.get(), "riched32", 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value), sizeof value),
                      ERROR_SUCCESS);
        }
    }

    void TearDown() override {
        for (const std::string& program : {m_dllProbe, m_appProbe}) {
            RegDeleteKeyA(HKEY_CURRENT_USER, OverrideKey(program).c_str());
            RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + program).c_str());
        }
        for (const std::string& file :
             {m_programFolder + "\\" + m_dllProbe, m_programFolder + "\\" + m_appProbe,
              m_programFolder + "\\riched32.dll", m_currentFolder + "\\riched32.dll", m_marker}) {
            DeleteFileA(file.c_str());
        }
        RemoveDirectoryA(m_programFolder.c_str());
        RemoveDirectoryA(m_currentFolder.c_str());
        RemoveDirectoryA(m_root.c_str());
    }

    static std::string OverrideKey(const std::string& program) {
        return "Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides";
    }

    void Copy(const std::string& from, const std::string& to) {
        ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE))
            << from << " -> " << to << ": error " << GetLastError();
    }

    testing::AssertionResult Run(const std::string& program, const std::string& arguments,
                                 DWORD* exitCode) {
        return RunProgram(m_programFolder + "\\" + program, arguments, m_currentFolder,
                          {"CORVANE_CANARY_MARKER=" + m_marker}, exitCode);
    }

    std::string m_root, m_programFolder, m_currentFolder, m_marker, m_dllProbe, m_appProbe;
};

struct LoadCase {
    const char* mode;
    bool canaryExpected;
};

TEST_F(PlantedDll, OnlyAnUnprotectedLoadTakesThePlantedDll) {
    const LoadCase cases[] = {
        // The control: without protection the planted copy beside the program
        // wins. If it did not, the other cases would prove nothing.
        {"plain", true},
        {"hardened-plain", false},
        {"system", false},
        {"system-by-path", false},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.mode);
        DeleteFileA(m_marker.c_str());
        DWORD exitCode = 0xFFFFFFFF;
        ASSERT_TRUE(Run(m_dllProbe, std::string(c.mode) + " Riched32.dll", &exitCode));
        EXPECT_EQ(exitCode, 0u) << "the DLL did not load at all";
        EXPECT_EQ(FileExists(m_marker), c.canaryExpected) << "loaded: " << ReadTextFile(m_marker);
    }
}

TEST_F(PlantedDll, ProgramEntryHardensBeforeTheApplicationRuns) {
    // The application loads "Riched32.dll" by bare name, as the wizard does;
    // the framework's WinMain has hardened the search before InitInstance.
    DWORD exitCode = 0;
    ASSERT_TRUE(Run(m_appProbe, "load-riched", &exitCode));
    EXPECT_EQ(exitCode, DWORD(-10)) << "Riched32.dll did not load";
    EXPECT_FALSE(FileExists(m_marker)) << "loaded: " << ReadTextFile(m_marker);
}

TEST(ProgramExitCode, ComesFromTheApplicationObject) {
    const struct {
        const char* arguments;
        int expected;
    } cases[] = {
        {"", -10},     // InitInstance returns FALSE
        {"loop", -12}, // message loop until WM_QUIT
        {"throw", -1}, // an escaping C++ exception
    };
    const std::string program = ProgramFolder() + "framework_app_probe.exe";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        DWORD exitCode = 0;
        ASSERT_TRUE(RunProgram(program, c.arguments, ProgramFolder(), {}, &exitCode));
        EXPECT_EQ(exitCode, DWORD(c.expected));
    }
}

} // namespace
