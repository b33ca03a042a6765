// A DLL planted in a program's current folder, under a name no system DLL has
// (Wine would use its own built-in copy of a system DLL instead): a plain load
// by name takes it, the hardened search and the system loads never do. Each
// load runs in a probe process of its own, as hardening is for a whole process.
#include "framework_test_support.h"
#include "handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

class PlantedDll : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        m_folder = std::string(temp) + "corvane-planted-" + std::to_string(GetCurrentProcessId());
        m_dll = m_folder + "\\corvane-planted.dll";
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr)) << m_folder;
        ASSERT_TRUE(CopyFileA(CanaryPath().c_str(), m_dll.c_str(), FALSE)) << GetLastError();
    }
    void TearDown() override {
        DeleteFileA(m_dll.c_str());
        RemoveDirectoryA(m_folder.c_str());
    }

    // The probe's exit code, run in the planted folder.
    DWORD Run(const char* probe, const std::string& arguments) {
        const std::string program = ProgramFolder() + probe;
        std::string commandLine = "\"" + program + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        DWORD exitCode = 0xFFFFFFFF;
        if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            m_folder.c_str(), &startup, &process)) {
            ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
            return exitCode;
        }
        UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.hProcess, &exitCode);
        return exitCode;
    }

    std::string m_folder, m_dll;
};

TEST_F(PlantedDll, OnlyAnUnprotectedLoadTakesIt) {
    ASSERT_EQ(Run("framework_dll_probe.exe", "plain corvane-planted.dll"), 0u)
        << "without protection the planted DLL must load, or the other cases prove nothing";
    for (const char* mode : {"system", "system-by-path"}) {
        EXPECT_EQ(Run("framework_dll_probe.exe", std::string(mode) + " corvane-planted.dll"), 1u)
            << mode;
    }
    // The framework's WinMain hardens the search before InitInstance loads it
    // by bare name.
    EXPECT_EQ(Run("framework_app_probe.exe", ""), DWORD(-11)) << "the application loaded it";
}

} // namespace
