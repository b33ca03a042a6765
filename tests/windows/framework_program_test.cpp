// A DLL planted beside a framework program or in its current folder is never
// loaded once the DLL search is hardened. The planted DLL is the canary
// (tests/harness/canary_dll.c) named riched32.dll: it writes a marker file
// when loaded. Wine would quietly use its built-in riched32 instead, so the
// probes get a native-first override in Wine's per-program registry key (Wine
// reads WINEDLLOVERRIDES only from the environment it started with); the
// unprotected "plain" load proves the canary is really taken when nothing
// protects the program.
#include "framework_test_support.h"
#include "handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// A folder of its own with copies of the probes and a planted riched32.dll,
// and a current folder with another. The copies' names are unique, so that
// tests running at once in one prefix do not share the override.
class PlantedDll : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string unique = std::to_string(GetCurrentProcessId());
        m_root = std::string(temp) + "corvane-dll-planting-" + unique;
        m_marker = m_root + "\\canary-loaded.txt";
        m_probes = {"dll-probe-" + unique + ".exe", "app-probe-" + unique + ".exe"};
        for (const std::string& folder : {m_root, m_root + "\\downloads", m_root + "\\current"}) {
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        }
        m_files = {m_root + "\\downloads\\" + m_probes[0], m_root + "\\downloads\\" + m_probes[1],
                   m_root + "\\downloads\\riched32.dll", m_root + "\\current\\riched32.dll"};
        const std::string sources[] = {ProgramFolder() + "framework_dll_probe.exe",
                                       ProgramFolder() + "framework_app_probe.exe", CanaryPath(),
                                       CanaryPath()};
        for (size_t index = 0; index < 4; ++index) {
            ASSERT_TRUE(CopyFileA(sources[index].c_str(), m_files[index].c_str(), FALSE))
                << m_files[index] << ": error " << GetLastError();
        }
        for (const std::string& probe : m_probes) {
            UniqueHkey key;
            const char value[] = "native,builtin";
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, OverrideKey(probe).c_str(), 0, nullptr, 0,
                                      KEY_SET_VALUE, nullptr, key.put(), nullptr),
                      ERROR_SUCCESS);
            ASSERT_EQ(RegSetValueExA(key.get(), "riched32", 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value), sizeof value),
                      ERROR_SUCCESS);
        }
        SetEnvironmentVariableA("CORVANE_CANARY_MARKER", m_marker.c_str());
    }

    void TearDown() override {
        for (const std::string& probe : m_probes) {
            RegDeleteKeyA(HKEY_CURRENT_USER, OverrideKey(probe).c_str());
            RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + probe).c_str());
        }
        for (const std::string& file : m_files) {
            DeleteFileA(file.c_str());
        }
        DeleteFileA(m_marker.c_str());
        for (const char* folder : {"\\downloads", "\\current", ""}) {
            RemoveDirectoryA((m_root + folder).c_str());
        }
    }

    static std::string OverrideKey(const std::string& probe) {
        return "Software\\Wine\\AppDefaults\\" + probe + "\\DllOverrides";
    }

    // Runs a probe copy in the planted current folder; its exit code.
    DWORD Run(const std::string& program, const std::string& arguments) {
        std::string commandLine = "\"" + program + "\" " + arguments;
        const std::string current = m_root + "\\current";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            current.c_str(), &startup, &process)) {
            ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
            return 0xFFFFFFFF;
        }
        UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
        DWORD exitCode = 0xFFFFFFFF;
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.hProcess, &exitCode);
        return exitCode;
    }
    bool CanaryLoaded() const {
        return GetFileAttributesA(m_marker.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string m_root, m_marker;
    std::vector<std::string> m_probes, m_files;
};

TEST_F(PlantedDll, OnlyAnUnprotectedLoadTakesThePlantedDll) {
    const struct {
        const char* mode;
        bool canaryExpected;
    } cases[] = {
        {"plain", true}, {"hardened-plain", false}, {"system", false}, {"system-by-path", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        DeleteFileA(m_marker.c_str());
        EXPECT_EQ(Run(m_files[0], std::string(c.mode) + " Riched32.dll"), 0u) << "no DLL loaded";
        EXPECT_EQ(CanaryLoaded(), c.canaryExpected);
    }
}

// The framework's WinMain hardens the search before InitInstance, which loads
// "Riched32.dll" by bare name.
TEST_F(PlantedDll, ProgramEntryHardensBeforeTheApplicationRuns) {
    EXPECT_EQ(Run(m_files[1], ""), DWORD(-10)) << "Riched32.dll did not load";
    EXPECT_FALSE(CanaryLoaded());
}

} // namespace
