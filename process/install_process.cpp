#include "install_process.h"

#include "file_names.h"
#include "folder_path.h"
#include "install_observer.h"
#include "message_box.h"
#include "package_format.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "seh_guard.h"
#include "setup_error.h"
#include "strings.h"

#include <shlobj.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <string>

namespace {

// The process's current folder, or "" when it does not fit a path buffer.
std::string CurrentFolder() {
    char folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    return length != 0 && length < sizeof folder ? std::string(folder, length) : std::string();
}

} // namespace

CInstallProcess::CInstallProcess(HANDLE logFile, int setupApiLog, IInstallProgress* progress,
                                 const InstallChoices* choices)
    : CInstaller(logFile, FALSE, TRUE, FALSE, FALSE), m_pProgress(progress), m_pChoices(choices),
      m_bSetupApiLog(setupApiLog), m_hChildStandardError(logFile) {}

CInstallProcess::~CInstallProcess() = default;

bool CInstallProcess::UnpackAllFiles(int showMessages) {
    Log("=== unpack files process ===");
    try {
        // The application has loaded and checked the package already; a
        // reader without entries gets one more try, whose status is not a
        // reason to stop (an empty table writes nothing).
        if (GetPackedTools()->GetEntryCount() == 0) {
            LoadPackage();
        }

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
        // Every entry is written: what they replaced goes. After a failure
        // the backups stay beside the files, so nothing of the user's is lost.
        DiscardBackups();
        return true;
    } catch (const CSetupError& error) {
        const std::string text = FormatResourceString(
            IDS_ERROR_DURING_INSTALLATION, unsigned(error.dwCode), unsigned(error.Arg0()));
        if (showMessages) {
            ShowMessage(text, MB_ICONERROR);
        }
        // Two lines, as the install's failure and its rollback heading are.
        Log(text.c_str());
        Log("=== === ===");
        return false;
    }
}

namespace {

// What ended an installation early, as it is shown and logged.
std::string SetupErrorText(const CSetupError& error) {
    return FormatResourceString(IDS_ERROR_DURING_INSTALLATION, unsigned(error.dwCode),
                                unsigned(error.Arg0()));
}

// Exceptions that are not the install error get an error record of their own
// so that the message and the log say the same kind of thing for every
// failure: module 0x1000, location 1701 for running out of memory (code
// ERROR_NOT_ENOUGH_MEMORY), 1702 for anything else (ERROR_INTERNAL_ERROR).
constexpr uint16_t kLocationOutOfMemory = 1701;
constexpr uint16_t kLocationUnexpectedException = 1702;

} // namespace

void CInstallProcess::Install(int* restartNeeded, int* installFailed, HWND owner,
                              int showMessages) {
    SetRestartFlagPointer(restartNeeded);
    m_bCommitted = false;

    // Filled by whatever stopped the forward steps.
    std::string failure;
    EXCEPTION_RECORD fault = {};
    bool faulted = false;
    try {
        faulted = !RunGuarded(
            [&] {
                try {
                    OSVERSIONINFOA version = {};
                    version.dwOSVersionInfoSize = sizeof version;
                    GetVersionExA(&version);
                    Log(CurrentProfile().versionBanner);
                    char line[256];
                    snprintf(line, sizeof line, "Windows %d.%d build %d %s",
                             int(version.dwMajorVersion), int(version.dwMinorVersion),
                             int(version.dwBuildNumber), IsWow64System() ? "x64" : "x86");
                    Log(line);
                    std::srand(GetTickCount());
                    PerformInstallSteps();
                } catch (const CSetupError& error) {
                    failure = SetupErrorText(error);
                } catch (const std::bad_alloc&) {
                    failure = SetupErrorText(CSetupError{
                        kModuleInstallProcess, kLocationOutOfMemory, ERROR_NOT_ENOUGH_MEMORY});
                } catch (const std::exception& error) {
                    Log("Error: ", error.what());
                    failure = SetupErrorText(CSetupError{
                        kModuleInstallProcess, kLocationUnexpectedException, kCodeInternalError});
                } catch (...) {
                    failure = SetupErrorText(CSetupError{
                        kModuleInstallProcess, kLocationUnexpectedException, kCodeInternalError});
                }
            },
            &fault);
        if (faulted) {
            failure =
                FormatResourceString(IDS_EXCEPTION_DURING_INSTALL, unsigned(fault.ExceptionCode),
                                     unsigned(uintptr_t(fault.ExceptionAddress)));
        }
    } catch (...) {
        // Out of memory for the message itself: the rollback matters more.
        failure = "Error during installation.";
    }
    if (failure.empty()) {
        return;
    }
    if (m_bCommitted) {
        // Everything is in place and its backups are gone: a rollback could
        // only half undo it. The installation stands.
        Log("Warning: ");
        Log(failure.c_str());
        return;
    }

    m_pProgress->SetProgressPosition(50);
    m_pProgress->SetProgress(50, 6);
    m_pProgress->SetProgressDirection(0);
    if (showMessages) {
        ShowMessage(failure, MB_ICONERROR, owner);
    }
    Log(failure.c_str());
    Log("=== Rollback process ===");
    PerformRollbackSteps();
    *installFailed = 1;
}

std::string CInstallProcess::JournalPath() {
    // The log file's name with the journal's extension: one journal per
    // product, so the two setups never read each other's.
    std::string name = CurrentProfile().logFileName;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    const std::string folder = JournalFolder();
    return folder.empty() ? std::string() : folder + "\\" + name + ".journal";
}

void CInstallProcess::BeginJournal() {
    if (!NotifyInstallObserver(InstallEvent::kJournalOpening, 0)) {
        return;
    }
    const std::string path = JournalPath();
    if (path.empty()) {
        throw CSetupError{kModuleInstaller, 1510, GetLastError()};
    }
    JournalPlaces places;
    places.productCode = CurrentProfile().productCode;
    places.installFolder = m_pChoices->m_strInstallDir;
    char folder[MAX_PATH] = {};
    if (SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_PROGRAMS, FALSE)) {
        places.startMenuFolder = std::string(folder) + "\\" + m_pChoices->m_strStartMenuFolder;
    }
    if (SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE)) {
        places.desktopFolder = folder;
    }
    if (SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, FALSE)) {
        places.quickLaunchFolder =
            std::string(folder) + "\\" + "Microsoft\\Internet Explorer\\Quick Launch";
    }
    BeginDurableJournal(path, places);
}

void CInstallProcess::CommitInstallation() {
    // From this record on, a setup started after a stop finishes the commit
    // instead of rolling back: every step is done.
    WriteJournalRecord(MakeJournalRecord(kRecordCommitted, {}));
    m_bCommitted = true;
    DiscardBackups();
    DeleteDurableJournal();
}

void CInstallProcess::Pause(DWORD milliseconds) {
    if (NotifyInstallObserver(InstallEvent::kPause, milliseconds)) {
        Sleep(milliseconds);
    }
}

void CInstallProcess::PerformInstallSteps() {
    const bool server = CurrentProfile().isServer;
    ResolveInstallDirectory();
    BeginJournal();
    m_pProgress->SetProgress(1, 13);
    Pause(200);
    m_pProgress->SetProgress(10, 0);
    CreateInstallDirectory();
    Pause(200);
    m_pProgress->SetProgress(20, 0);
    CopyPayloadFiles();
    if (server) {
        CopySystemUsbDriver();
    }
    Pause(200);
    RunChildInstallerJournaled();
    if (!server) {
        m_pProgress->SetProgress(85, 3);
        RegisterCitrixSupport(true);
    }
    m_pProgress->SetProgressPosition(87);
    m_pProgress->SetProgress(90, 4);
    CreateProductShortcuts();
    RegisterUninstallInfo();
    m_pProgress->SetProgress(95, 5);
    CommitInstallation();
    Pause(1000);
    m_pProgress->SetProgress(100, 5);
}

bool CInstallProcess::RunRollbackStep(const char* name, void (CInstallProcess::*walker)()) {
    EXCEPTION_RECORD fault = {};
    try {
        if (RunGuarded([this, walker] { (this->*walker)(); }, &fault)) {
            return true;
        }
        Log("Warning: rollback step stopped by an exception: ", name);
        LogCode("Exception code: ", fault.ExceptionCode);
    } catch (const std::bad_alloc&) {
        Log("Warning: rollback step stopped, out of memory: ", name);
    } catch (...) {
        Log("Warning: rollback step stopped by an error: ", name);
    }
    return false;
}

bool CInstallProcess::PerformRollbackSteps(bool paced) {
    // The journal learns that its installation is being undone, so that a
    // setup started after a stop in the middle finishes the rollback.
    TryWriteJournalRecord(MakeJournalRecord(kRecordRollbackStarted, {}));
    const auto pause = [this, paced](DWORD milliseconds) {
        if (paced) {
            Pause(milliseconds);
        }
    };
    const auto progress = [this, paced](int goal, int phase) {
        if (paced) {
            m_pProgress->SetProgress(goal, phase);
        }
    };
    const auto position = [this, paced](int value) {
        if (paced) {
            m_pProgress->SetProgressPosition(value);
        }
    };
    bool complete = true;
    pause(2000);
    progress(40, 7);
    complete &= RunRollbackStep("RunInfDefaultUninstall", &CInstallProcess::RunInfDefaultUninstall);
    complete &= RunRollbackStep("RemoveClassFilters", &CInstallProcess::RemoveClassFilters);
    pause(500);
    position(40);
    progress(35, 7);
    complete &=
        RunRollbackStep("RemoveServicesAndDevices", &CInstallProcess::RemoveServicesAndDevices);
    pause(500);
    position(27);
    progress(25, 8);
    complete &= RunRollbackStep("RestoreRegistryValues", &CInstallProcess::RestoreRegistryValues);
    pause(500);
    if (!CurrentProfile().isServer) {
        complete &=
            RunRollbackStep("UnregisterCitrixSupport", &CInstallProcess::UnregisterCitrixSupport);
    }
    position(16);
    progress(15, 10);
    complete &= RunRollbackStep("RemoveInstallFiles", &CInstallProcess::RemoveInstallFiles);
    pause(500);
    position(11);
    progress(10, 11);
    complete &= RunRollbackStep("RollBackInstallFiles", &CInstallProcess::RollBackInstallFiles);
    pause(500);
    progress(1, 12);
    complete &= RunRollbackStep("DeleteDirectory", &CInstallProcess::DeleteDirectory);
    pause(1000);
    progress(0, 5);
    if (complete) {
        DeleteDurableJournal();
    } else if (HasDurableJournal()) {
        Log("Warning: rollback incomplete, its journal is kept for the next start: ",
            GetJournalPath().c_str());
        CloseDurableJournal();
    }
    return complete;
}

void CInstallProcess::UnregisterCitrixSupport() {
    if (!m_bRecovering) {
        // Only a registration of this run's own is taken away: over an
        // earlier installation it was there before, and the restored files
        // need it.
        if (m_bUnregisterCitrixOnRollback) {
            RegisterCitrixSupport(false);
        }
    } else if (m_bRecoveredCitrix) {
        RunCitrixSupportInstaller(m_strRecoveredInstallDir, false);
    }
}

void CInstallProcess::ResolveInstallDirectory() {
    // Every file, record, the journal's places and the registration are built
    // from this folder: it must be full, without a separator at its end, and short enough for
    // every file the engine writes there.
    const ProductProfile& profile = CurrentProfile();
    const ResolvedFolderPath folder =
        ResolveFolderPath(m_pChoices->m_strInstallDir, CurrentFolder(),
                          MaxInstallFolderLength(profile.payloadRules, profile.logFileName),
                          [](unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; });
    // Both modes make the folder full before the install starts; one that is
    // not full here is refused rather than resolved against whatever the
    // current folder is now.
    if (folder.problem != FolderPathProblem::kNone || folder.path != m_pChoices->m_strInstallDir) {
        Log("Error: Install folder is not usable: ", m_pChoices->m_strInstallDir.c_str());
        throw CSetupError{kModuleInstallProcess, 1002,
                          folder.problem == FolderPathProblem::kTooLong
                              ? DWORD(ERROR_FILENAME_EXCED_RANGE)
                              : DWORD(ERROR_BAD_PATHNAME)};
    }
}

void CInstallProcess::CreateInstallDirectory() {
    MakeProtectedDirectory(m_pChoices->m_strInstallDir.c_str());
}

void CInstallProcess::CopyPayloadFiles() {
    const std::string& folder = m_pChoices->m_strInstallDir;
    const PayloadSystem system{IsWow64System(), IsVistaOrLater(), IsWindows10OrLater()};
    const std::string architectureFolder = JoinPath(folder, ArchitectureFolderName(system));
    std::vector<PayloadDecision> decisions;
    std::vector<std::string> targets;
    for (const PayloadRule& rule : CurrentProfile().payloadRules) {
        decisions.push_back(ResolvePayloadRule(rule, system));
        if (!decisions.back().skipped) {
            targets.push_back(JoinPath(folder, decisions.back().destinationName));
        }
    }
    AnnounceCreations({architectureFolder}, targets);
    MakeDirectory(architectureFolder.c_str());
    for (const PayloadDecision& decision : decisions) {
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
    InstallFile("usbd.sys", m_pChoices->m_strInstallDir.c_str(), data, size);
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
    const char* installDir = m_pChoices->m_strInstallDir.c_str();

    char programs[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, programs, CSIDL_COMMON_PROGRAMS, TRUE)) {
        throw CSetupError{kModuleInstallProcess, 1010, GetLastError()};
    }
    const std::string menu = std::string(programs) + "\\" + m_pChoices->m_strStartMenuFolder;
    const std::string name = profile.displayName;

    struct Shortcut {
        const char* target; // null: the web shortcut, name is its file name
        std::string folder;
        std::string name;
        const char* arguments;
    };
    // The first one is the product's own: without it the installation fails.
    std::vector<Shortcut> shortcuts = {
        {profile.mainProgram, menu, name, nullptr},
        {profile.helpFile, menu, name + " Help", nullptr},
        {profile.licenseFile, menu, name + " License", nullptr},
        {profile.uninstaller, menu, name + " Uninstall Wizard", nullptr},
        {profile.consoleTool, menu, name + " Console Command Line", nullptr},
        {profile.mainProgram, menu, name + " Command Line", "-help"},
        {nullptr, menu, profile.webShortcutFileName, nullptr},
    };
    if (profile.citrixSupportInstaller != nullptr) {
        shortcuts.push_back(
            {profile.citrixSupportInstaller, menu, "Install Cirtix support for " + name, nullptr});
    }
    if (m_pChoices->m_bDesktopIcon) {
        char desktop[MAX_PATH] = {};
        if (SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, TRUE)) {
            shortcuts.push_back({profile.mainProgram, desktop, name, nullptr});
        }
    }
    if (m_pChoices->m_bQuickLaunchIcon) {
        char appData[MAX_PATH] = {};
        if (SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE)) {
            const std::string quickLaunch =
                std::string(appData) + "\\" + "Microsoft\\Internet Explorer\\Quick Launch";
            WIN32_FIND_DATAA found;
            if (UniqueFindHandle(FindFirstFileA(quickLaunch.c_str(), &found))) {
                shortcuts.push_back({profile.mainProgram, quickLaunch, name, nullptr});
            }
        }
    }

    std::vector<std::string> links;
    for (const Shortcut& shortcut : shortcuts) {
        links.push_back(shortcut.target ? ShortcutPath(shortcut.folder, shortcut.name)
                                        : JoinPath(shortcut.folder, shortcut.name));
    }
    AnnounceCreations({menu}, links);
    MakeDirectory(menu.c_str());
    for (size_t index = 0; index < shortcuts.size(); ++index) {
        const Shortcut& shortcut = shortcuts[index];
        if (!shortcut.target) {
            CreateUrlShortcut(shortcut.name.c_str(), menu.c_str(), profile.homePageUrl);
        } else if (index == 0) {
            CreateShortcut(shortcut.target, installDir, shortcut.folder.c_str(),
                           shortcut.name.c_str(), shortcut.arguments);
        } else {
            CreateShortcutOrWarn(shortcut.target, installDir, shortcut.folder.c_str(),
                                 shortcut.name.c_str(), shortcut.arguments);
        }
    }
}

void CInstallProcess::RegisterUninstallInfo() {
    const ProductProfile& profile = CurrentProfile();
    WriteUninstallRegistration(profile.productCode, m_pChoices->m_strInstallDir.c_str(),
                               m_pChoices->m_strStartMenuFolder.c_str(), profile.uninstaller,
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
