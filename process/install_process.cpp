#include "install_process.h"

#include "folder_path.h"
#include "install_app.h"
#include "message_box.h"
#include "package_format.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "setup_error.h"
#include "strings.h"

#include <shlobj.h>

#include <cstdlib>
#include <string>

namespace {

// The process's current folder, or "" when it does not fit a path buffer.
std::string CurrentFolder() {
    char folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    return length != 0 && length < sizeof folder ? std::string(folder, length) : std::string();
}

} // namespace

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
    const bool server = CurrentProfile().isServer;
    m_pApp->SetProgress(1, 13);
    Sleep(200);
    m_pApp->SetProgress(10, 0);
    CreateInstallDirectory();
    Sleep(200);
    m_pApp->SetProgress(20, 0);
    CopyPayloadFiles();
    if (server) {
        CopySystemUsbDriver();
    }
    Sleep(200);
    RunChildInstallerJournaled();
    if (!server) {
        m_pApp->SetProgress(85, 3);
        RegisterCitrixSupport(true);
    }
    m_pApp->SetProgressPosition(87);
    m_pApp->SetProgress(90, 4);
    CreateProductShortcuts();
    RegisterUninstallInfo();
    m_pApp->SetProgress(95, 5);
    DiscardBackups();
    Sleep(1000);
    m_pApp->SetProgress(100, 5);
}

void CInstallProcess::PerformRollbackSteps() {
    Sleep(2000);
    m_pApp->SetProgress(40, 7);
    RunInfDefaultUninstall();
    RemoveClassFilters();
    Sleep(500);
    m_pApp->SetProgressPosition(40);
    m_pApp->SetProgress(35, 7);
    RemoveServicesAndDevices();
    Sleep(500);
    m_pApp->SetProgressPosition(27);
    m_pApp->SetProgress(25, 8);
    RestoreRegistryValues();
    Sleep(500);
    if (!CurrentProfile().isServer && m_bUnregisterCitrixOnRollback) {
        RegisterCitrixSupport(false);
    }
    m_pApp->SetProgressPosition(16);
    m_pApp->SetProgress(15, 10);
    RemoveInstallFiles();
    Sleep(500);
    m_pApp->SetProgressPosition(11);
    m_pApp->SetProgress(10, 11);
    RollBackInstallFiles();
    Sleep(500);
    m_pApp->SetProgress(1, 12);
    DeleteDirectory();
    Sleep(1000);
    m_pApp->SetProgress(0, 5);
}

void CInstallProcess::CreateInstallDirectory() {
    // Every file, record and the registration are built from this folder: it
    // must be full, without a separator at its end, and short enough for
    // every file the engine writes there.
    const ProductProfile& profile = CurrentProfile();
    const ResolvedFolderPath folder =
        ResolveFolderPath(m_pApp->m_strInstallDir, CurrentFolder(),
                          MaxInstallFolderLength(profile.payloadRules, profile.logFileName),
                          [](unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; });
    if (folder.problem != FolderPathProblem::kNone) {
        Log("Error: Install folder is not usable: ", m_pApp->m_strInstallDir.c_str());
        throw CSetupError{kModuleInstallProcess, 1002,
                          folder.problem == FolderPathProblem::kTooLong
                              ? DWORD(ERROR_FILENAME_EXCED_RANGE)
                              : DWORD(ERROR_BAD_PATHNAME)};
    }
    m_pApp->m_strInstallDir = folder.path;
    MakeProtectedDirectory(folder.path.c_str());
}

void CInstallProcess::CopyPayloadFiles() {
    const std::string& folder = m_pApp->m_strInstallDir;
    const PayloadSystem system{IsWow64System(), IsVistaOrLater(), IsWindows10OrLater()};
    MakeDirectory((folder + "\\" + ArchitectureFolderName(system)).c_str());
    for (const PayloadRule& rule : CurrentProfile().payloadRules) {
        const PayloadDecision decision = ResolvePayloadRule(rule, system);
        if (decision.skipped) {
            Log("skip copy of file:", decision.entryName.c_str());
            continue;
        }
        Log("source file:", decision.entryName.c_str());
        InstallPayloadFile(decision.entryName.c_str(), decision.destinationName.c_str(),
                           folder.c_str());
    }
}

void CInstallProcess::InstallPayloadFile(const char* entryName, const char* destinationName,
                                         const char* folder) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!GetPackedTools()->FindEntry(entryName, &data, &size)) {
        throw CSetupError{kModuleInstallProcess, 798, GetLastError()};
    }
    InstallFile(destinationName, folder, data, size);
}

void CInstallProcess::CopySystemUsbDriver() {
    const std::string entry = SystemUsbDriverEntryName(IsWow64System(), GetOsVersionCode());
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    // Not every Windows has a copy in the package; the child then runs
    // without one.
    if (!GetPackedTools()->FindEntry(entry.c_str(), &data, &size)) {
        return;
    }
    Log("source file:", entry.c_str());
    InstallFile("usbd.sys", m_pApp->m_strInstallDir.c_str(), data, size);
}

int CInstallProcess::CreateShortcutOrWarn(const char* targetFileName, const char* targetFolder,
                                          const char* shortcutFolder, const char* shortcutName,
                                          const char* arguments) {
    try {
        CreateShortcut(targetFileName, targetFolder, shortcutFolder, shortcutName, arguments);
        return 1;
    } catch (const CSetupError& error) {
        const std::string text = FormatResourceString(
            IDS_ERROR_DURING_INSTALLATION, unsigned(error.dwCode), unsigned(error.Arg0()));
        Log("Warning: ");
        Log(text.c_str());
        return 0;
    }
}

void CInstallProcess::CreateProductShortcuts() {
    const ProductProfile& profile = CurrentProfile();
    const char* installDir = m_pApp->m_strInstallDir.c_str();

    char programs[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, programs, CSIDL_COMMON_PROGRAMS, TRUE)) {
        throw CSetupError{kModuleInstallProcess, 1010, GetLastError()};
    }
    const std::string menu = std::string(programs) + "\\" + m_pApp->m_strStartMenuFolder;
    MakeDirectory(menu.c_str());

    const std::string name = profile.displayName;
    CreateShortcut(profile.mainProgram, installDir, menu.c_str(), name.c_str(), nullptr);
    CreateShortcutOrWarn(profile.helpFile, installDir, menu.c_str(), (name + " Help").c_str(),
                         nullptr);
    CreateShortcutOrWarn(profile.licenseFile, installDir, menu.c_str(), (name + " License").c_str(),
                         nullptr);
    CreateShortcutOrWarn(profile.uninstaller, installDir, menu.c_str(),
                         (name + " Uninstall Wizard").c_str(), nullptr);
    CreateShortcutOrWarn(profile.consoleTool, installDir, menu.c_str(),
                         (name + " Console Command Line").c_str(), nullptr);
    CreateShortcutOrWarn(profile.mainProgram, installDir, menu.c_str(),
                         (name + " Command Line").c_str(), "-help");
    CreateUrlShortcut(profile.webShortcutFileName, menu.c_str(), profile.homePageUrl);
    if (profile.citrixSupportInstaller != nullptr) {
        CreateShortcutOrWarn(profile.citrixSupportInstaller, installDir, menu.c_str(),
                             ("Install Cirtix support for " + name).c_str(), nullptr);
    }

    if (m_pApp->m_bDesktopIcon) {
        char desktop[MAX_PATH] = {};
        if (SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, TRUE)) {
            CreateShortcutOrWarn(profile.mainProgram, installDir, desktop, name.c_str(), nullptr);
        }
    }
    if (m_pApp->m_bQuickLaunchIcon) {
        char appData[MAX_PATH] = {};
        if (SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE)) {
            const std::string quickLaunch =
                std::string(appData) + "\\" + "Microsoft\\Internet Explorer\\Quick Launch";
            WIN32_FIND_DATAA found;
            if (UniqueFindHandle(FindFirstFileA(quickLaunch.c_str(), &found))) {
                CreateShortcutOrWarn(profile.mainProgram, installDir, quickLaunch.c_str(),
                                     name.c_str(), nullptr);
            }
        }
    }
}

void CInstallProcess::RegisterUninstallInfo() {
    const ProductProfile& profile = CurrentProfile();
    WriteUninstallRegistration(profile.productCode, m_pApp->m_strInstallDir.c_str(),
                               m_pApp->m_strStartMenuFolder.c_str(), profile.uninstaller,
                               profile.displayName, profile.productVersion, profile.publisher);
}

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
