#include "install_process.h"

#include "install_app.h"
#include "message_box.h"
#include "package_format.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "setup_error.h"
#include "strings.h"

#include <cstdlib>
#include <string>

CInstallProcess::CInstallProcess(HANDLE logFile, int setupApiLog, CInstallApp* app)
    : CInstaller(logFile, FALSE, TRUE, FALSE, FALSE), m_pApp(app), m_bSetupApiLog(setupApiLog),
      m_hChildStandardError(logFile) {}

CInstallProcess::~CInstallProcess() = default;

bool CInstallProcess::UnpackAllFiles(int showMessages) {
    Log("=== unpack files process ===");
    try {
        // After a failed load the table is empty and nothing is written; the
        // status itself is not a reason to stop.
        LoadPackage();

        char folder[MAX_PATH];
        const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
        if (length == 0 || length >= sizeof folder) {
            throw CSetupError{kModuleInstallProcess, 423, GetLastError()};
        }
        CPackedTools* reader = GetPackedTools();
        const uint32_t count = reader->GetEntryCount();
        for (uint32_t index = 0; index < count; ++index) {
            char name[MAX_PATH];
            const uint8_t* data = nullptr;
            uint32_t size = 0;
            if (!reader->GetEntryAt(index, name, sizeof name, &data, &size)) {
                continue;
            }
            // The package decides the names; a name that would climb out of
            // the current folder or name another place is never written.
            if (!corvane::package::IsPlainEntryName(name)) {
                Log("Warning: skip entry with unsafe name: ", name);
                continue;
            }
            InstallFile(name, folder, data, size);
        }
        return true;
    } catch (const CSetupError& error) {
        const std::string text = FormatResourceString(
            IDS_ERROR_DURING_INSTALLATION, unsigned(error.dwCode), unsigned(error.Arg0()));
        if (showMessages) {
            ShowMessage(text, MB_ICONERROR);
        }
        Log(text.c_str(), "=== === ===");
        return false;
    }
}

void CInstallProcess::Install(int* restartNeeded, int* installFailed, HWND owner,
                              int showMessages) {
    SetRestartFlagPointer(restartNeeded);

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    Log(CurrentProfile().versionBanner);
    char line[256];
    snprintf(line, sizeof line, "Windows %d.%d build %d %s", int(version.dwMajorVersion),
             int(version.dwMinorVersion), int(version.dwBuildNumber),
             IsWow64System() ? "x64" : "x86");
    Log(line);
    std::srand(GetTickCount());

    try {
        PerformInstallSteps();
    } catch (const CSetupError& error) {
        m_pApp->SetProgressPosition(50);
        m_pApp->SetProgress(50, 6);
        m_pApp->SetProgressDirection(0);
        const std::string text = FormatResourceString(
            IDS_ERROR_DURING_INSTALLATION, unsigned(error.dwCode), unsigned(error.Arg0()));
        if (showMessages) {
            ShowMessage(text, MB_ICONERROR, owner);
        }
        Log(text.c_str());
        Log("=== Rollback process ===");
        PerformRollbackSteps();
        *installFailed = 1;
    }
}

void CInstallProcess::PerformInstallSteps() {
    // The install steps arrive with the payload plan; until then an install
    // must fail honestly rather than report a success that did not happen.
    throw CSetupError{kModuleInstallProcess, 1, ERROR_CALL_NOT_IMPLEMENTED};
}

void CInstallProcess::PerformRollbackSteps() {}

void CInstallProcess::RestartSystem() {
    Log("Restart System");
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        TOKEN_PRIVILEGES privileges = {};
        if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
            privileges.PrivilegeCount = 1;
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        }
        CloseHandle(token);
    }
    ExitWindowsEx(EWX_REBOOT, 0);
}
