#include "install_app.h"

#include "dll_safety.h"
#include "folder_path.h"
#include "install_observer.h"
#include "install_process.h"
#include "installed_version_check.h"
#include "message_box.h"
#include "product_profile.h"
#include "ready_summary.h"
#include "resource_ids.h"
#include "seh_guard.h"
#include "setup_error.h"
#include "strings.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Copies `text` into a MAX_PATH buffer; false when it does not fit.
bool CopyPath(char (&buffer)[MAX_PATH], const std::string& text) {
    if (text.size() >= MAX_PATH) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

void RemoveOneTrailingBackslash(std::string* path) {
    if (!path->empty() && path->back() == '\\') {
        path->pop_back();
    }
}

std::string FolderOfProgram() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return {};
    }
    char* lastBackslash = std::strrchr(path, '\\');
    if (lastBackslash == nullptr) {
        return {};
    }
    *lastBackslash = '\0';
    return path;
}

// The root of a local volume mounted at a drive letter from C to Z, or "".
std::string UsableVolumeRoot(const char* volumeName) {
    const size_t length = std::strlen(volumeName);
    if (length < 5 || length > 259 || std::strncmp(volumeName, "\\\\?\\", 4) != 0 ||
        volumeName[length - 1] != '\\') {
        return {};
    }
    char mountPaths[MAX_PATH] = {};
    DWORD returned = 0;
    if (!GetVolumePathNamesForVolumeNameA(volumeName, mountPaths, sizeof mountPaths, &returned) ||
        returned <= 2) {
        return {};
    }
    const char drive = mountPaths[0];
    if (!((drive >= 'C' && drive <= 'Z') || (drive >= 'c' && drive <= 'z'))) {
        return {};
    }
    return std::string(volumeName, length - 1);
}

} // namespace

CInstallApp::CInstallApp() = default;

CInstallApp::~CInstallApp() = default;

int CInstallApp::ExitInstance() {
    CWinApp::ExitInstance();
    return m_nExitCode;
}

void CInstallApp::ShowMessageIfAllowed(const std::string& text, UINT type, HWND owner) const {
    if (m_bShowMessages) {
        ShowMessage(text, type, owner);
    }
}

BOOL CInstallApp::InitInstance() {
    const ProductProfile& profile = CurrentProfile();

    m_strStartMenuFolder = profile.displayName;
    m_bDesktopIcon = 1;
    m_bQuickLaunchIcon = 1;
    m_bFirewallRules = 1;
    m_bLicenseAccepted = 0;
    m_bLaunchProgram = 1;
    m_bOpenQuickStart = 1;
    m_bRestartNeeded = 0;
    m_bRestartPageShown = 0;
    m_nExitCode = kExitSuccess;

    m_options = ParseCommandLine(SplitCommandLine(GetCommandLineA()));
    m_bShowMessages = m_options.silent ? m_options.showMessages : 1;

    try {
        LoadLicenseText();
        ChooseWorkFolder();
        m_hLogFile = CreateLogFile();
        m_pInstallProcess = new CInstallProcess(m_hLogFile, m_options.setupApiLog, this, this);
    } catch (const CSetupError& error) {
        // The log stays open and in the work folder: it holds the failed check.
        ReportStartupError(error);
        return FALSE;
    }

    if (m_options.unpack) {
        // A package that is damaged or missing is reported as the other modes
        // report it, not taken for an empty one.
        std::string message;
        if (PreparePackage(&message) != 0) {
            m_nExitCode = kExitPackageNotReady;
            ShowMessageIfAllowed(FormatText(message.c_str(), profile.displayName), MB_ICONWARNING);
            return FALSE;
        }
        m_bInstallFailed = m_pInstallProcess->UnpackAllFiles(m_bShowMessages) ? 0 : 1;
        EndOfRun();
        return FALSE;
    }

    // An installation that was stopped before its end (power cut, killed
    // setup) is rolled back before anything else happens on this machine.
    m_pInstallProcess->RecoverInterruptedInstallation();

    ComputeDefaultFolders();
    if (m_options.silent) {
        RunSilentMode();
    } else {
        RunWizardMode();
    }
    return FALSE;
}

void CInstallApp::ReportStartupError(const CSetupError& error) {
    UINT message = IDS_SETUP_INIT_ERROR;
    switch (error.dwCode) {
    case kCodeNotAdministrator:
        message = IDS_NOT_ADMINISTRATOR;
        m_nExitCode = kExitNotAdministrator;
        break;
    case kCodeOldWindows:
        message = IDS_OLD_WINDOWS;
        m_nExitCode = kExitOldWindows;
        break;
    case kCodeServerOnly:
        message = IDS_SERVER_ONLY;
        m_nExitCode = kExitServerOnly;
        break;
    case kCodeWrongWordSize:
        message = IDS_USE_64BIT_SETUP;
        m_nExitCode = kExitWrongWordSize;
        break;
    default:
        m_nExitCode = kExitStartupError;
        break;
    }
    ShowMessageIfAllowed(LoadResourceString(message), MB_ICONERROR);
}

void CInstallApp::LoadLicenseText() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_LICENSE_RTF), "RTF");
    HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        throw CSetupError{kModuleApplication, 119, 26};
    }
    m_pLicenseRtf = static_cast<const BYTE*>(bytes);
    m_nLicenseRtfSize = SizeofResource(nullptr, resource);
}

int CInstallApp::GetLicenseText(const BYTE** bytes, DWORD* size) const {
    if (bytes != nullptr) {
        *bytes = m_pLicenseRtf;
    }
    if (size != nullptr) {
        *size = m_nLicenseRtfSize;
    }
    return 1;
}

int CInstallApp::ProbeFolder(const char* folder) {
    const std::string path = std::string(folder) + "\\" + CurrentProfile().logFileName;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    int written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        const char* line = CurrentProfile().versionBanner;
        DWORD count = 0;
        written = WriteFile(file, line, DWORD(std::strlen(line)), &count, nullptr) &&
                          count == std::strlen(line)
                      ? 1
                      : 0;
        CloseHandle(file);
    }
    DeleteFileA(path.c_str());
    return written;
}

void CInstallApp::ChooseWorkFolder() {
    char buffer[MAX_PATH];

    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length != 0 && length < sizeof buffer) {
        std::string folder(buffer, length);
        RemoveOneTrailingBackslash(&folder);
        if (ProbeFolder(folder.c_str()) && CopyPath(m_szWorkFolder, folder)) {
            return;
        }
    }

    length = GetSystemWindowsDirectoryA(buffer, sizeof buffer);
    if (length != 0 && length < sizeof buffer) {
        std::string folder(buffer, length);
        RemoveOneTrailingBackslash(&folder);
        folder += "\\Temp";
        if (ProbeFolder(folder.c_str()) && CopyPath(m_szWorkFolder, folder)) {
            return;
        }
    }

    char volume[MAX_PATH];
    HANDLE search = FindFirstVolumeA(volume, sizeof volume);
    if (search != INVALID_HANDLE_VALUE) {
        bool taken = false;
        do {
            const std::string root = UsableVolumeRoot(volume);
            if (!root.empty() && ProbeFolder(root.c_str()) && CopyPath(m_szWorkFolder, root)) {
                taken = true;
                break;
            }
        } while (FindNextVolumeA(search, volume, sizeof volume));
        FindVolumeClose(search);
        if (taken) {
            return;
        }
    }

    const std::string programFolder = FolderOfProgram();
    if (!programFolder.empty() && ProbeFolder(programFolder.c_str()) &&
        CopyPath(m_szWorkFolder, programFolder)) {
        return;
    }
    m_szWorkFolder[0] = '\0';
    throw CSetupError{kModuleApplication, 1348, GetLastError()};
}

HANDLE CInstallApp::CreateLogFile() {
    const std::string path = std::string(m_szWorkFolder) + "\\" + CurrentProfile().logFileName;
    // Inheritable, so the child installer can write its own lines into it.
    // Append access only: the child and the setup's threads write at the same
    // time, and only the system's own append puts each write after the last
    // one; seeking to the end first leaves a moment in which another writer's
    // line is overwritten.
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    return CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, &security,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CInstallApp::ComputeDefaultFolders() {
    const ProductProfile& profile = CurrentProfile();
    char programFiles[MAX_PATH] = {};
    m_strInstallDir.clear();
    if (SHGetSpecialFolderPathA(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE)) {
        std::string base = programFiles;
        // A 32-bit program sees the x86 Program Files folder on 64-bit Windows;
        // the product's 64-bit parts belong in the native one.
        if (m_pInstallProcess->IsWow64System()) {
            char native[MAX_PATH] = {};
            const DWORD length = ExpandEnvironmentStringsA("%ProgramW6432%", native, sizeof native);
            if (length != 0 && length <= sizeof native && PathFileExistsA(native)) {
                base = native;
            }
        }
        m_strInstallDir = base + "\\" + profile.displayName;
    }
    m_strStartMenuFolder = profile.displayName;
}

int CInstallApp::PreparePackage(std::string* message) {
    // The Welcome page asks again at each showing. Loading again would gain
    // nothing and cost the whole payload each time: the reader keeps the
    // blocks of entries it replaces alive for pointers handed out earlier.
    if (!m_bPackagePrepared) {
        m_nPackageStatus = m_pInstallProcess->LoadPackage();
        m_bPackagePrepared = true;
    }
    const int status = m_nPackageStatus;
    UINT text = 0;
    switch (status) {
    case 0:
        break;
    case -1:
        text = IDS_UNPACK_ERROR;
        break;
    case -2:
        text = IDS_PACKAGE_DAMAGED;
        break;
    case -3:
        text = IDS_NOT_ENOUGH_RESOURCES;
        break;
    default:
        text = IDS_MODULES_INIT_ERROR;
        break;
    }
    if (message != nullptr) {
        *message = text != 0 ? LoadResourceString(text) : std::string();
    }
    return status;
}

int CInstallApp::CheckInstalledVersion(std::string* message) {
    const ProductProfile& profile = CurrentProfile();
    return ::CheckInstalledVersion(profile.productCode, profile.productVersion, message);
}

void CInstallApp::BuildReadySummary(std::string* text) {
    const corvane::app::ReadySummaryTexts texts = {
        LoadResourceString(IDS_SUMMARY_DESTINATION),
        LoadResourceString(IDS_SUMMARY_START_MENU),
        LoadResourceString(IDS_SUMMARY_TASKS),
        LoadResourceString(IDS_SUMMARY_FIREWALL),
        LoadResourceString(IDS_SUMMARY_FIREWALL_RULES),
        LoadResourceString(IDS_SUMMARY_ICONS),
        LoadResourceString(IDS_SUMMARY_DESKTOP_ICON),
        LoadResourceString(IDS_SUMMARY_QUICK_LAUNCH_ICON)};
    corvane::app::ReadySummaryChoices choices;
    choices.installDir = m_strInstallDir;
    choices.startMenuFolder = m_strStartMenuFolder;
    choices.desktopIcon = m_bDesktopIcon;
    choices.quickLaunchIcon = m_bQuickLaunchIcon;
    choices.firewallRules = m_bFirewallRules;
    *text = corvane::app::ComposeReadySummary(texts, choices);
}

bool CInstallApp::ConfirmDestination(HWND owner) {
    using corvane::process::DestinationProblem;
    const corvane::process::DestinationVerdict verdict =
        m_pInstallProcess->CheckDestination(m_strInstallDir);
    const auto kilobytes = [](uint64_t bytes) {
        const uint64_t rounded = (bytes + 1023) / 1024;
        return unsigned(rounded > UINT_MAX ? UINT_MAX : rounded);
    };
    const char* folder = m_strInstallDir.c_str();
    std::string text;
    switch (verdict.problem) {
    case DestinationProblem::kNone: {
        // Then, as in silent mode: a full path, and a folder no standard user
        // can change; the user may then choose another.
        if (CheckInstallFolder(&text)) {
            return true;
        }
        break;
    }
    case DestinationProblem::kPathTooLong:
        text = FormatResourceString(IDS_DESTINATION_TOO_LONG, unsigned(verdict.excess), folder);
        break;
    case DestinationProblem::kNotWritable:
        text = FormatResourceString(IDS_DESTINATION_NOT_WRITABLE, folder,
                                    unsigned(verdict.writeError));
        break;
    case DestinationProblem::kNotEnoughSpace:
        text = FormatResourceString(IDS_DESTINATION_NO_SPACE, CurrentProfile().displayName, folder,
                                    kilobytes(verdict.neededBytes), kilobytes(verdict.freeBytes));
        break;
    }
    ShowMessage(text, MB_ICONWARNING, owner);
    return false;
}

void CInstallApp::SetProgress(int goal, int phase) {
    static const struct {
        int phase;
        UINT text;
    } kPhaseTexts[] = {
        {0, IDS_PHASE_COPYING_FILES},     {1, IDS_PHASE_KERNEL_DRIVERS},
        {2, IDS_PHASE_MAIN_MODULE},       {3, IDS_PHASE_STARTING_DRIVERS},
        {4, IDS_PHASE_START_MENU},        {5, IDS_PHASE_FINISHING},
        {6, IDS_PHASE_STOPPING_SERVICES}, {7, IDS_PHASE_REMOVING_SERVICES},
        {8, IDS_PHASE_CLEARING_REGISTRY}, {10, IDS_PHASE_DELETING_FILES},
        {11, IDS_PHASE_RESTORING_FILES},  {12, IDS_PHASE_DELETING_DIRECTORY},
    };
    *m_pnProgressGoal = goal;
    std::string text;
    for (const auto& entry : kPhaseTexts) {
        if (entry.phase == phase) {
            text = LoadResourceString(entry.text);
        }
    }
    if (m_pStatusText != nullptr) {
        // The status control belongs to the progress page's thread; a message
        // crosses over safely where a direct call would not.
        SendMessageA(m_pStatusText, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void CInstallApp::SetProgressPosition(int value) {
    if (*m_pnProgressDirection == 1 || *m_pnProgressDisplayed < *m_pnProgressGoal) {
        *m_pnProgressDisplayed = value;
    }
}

void CInstallApp::SetProgressDirection(int value) {
    *m_pnProgressDirection = value;
}

void CInstallApp::RunInstall() {
    // Install rolls back whatever stops it and never lets anything escape.
    m_pInstallProcess->Install(&m_bRestartNeeded, &m_bInstallFailed, m_hWndProgress,
                               m_bShowMessages);
    if (!m_bInstallFailed) {
        *m_pnProgressDisplayed = 95;
        Sleep(500);
        if (m_bFirewallRules) {
            CreateFirewallRulesGuarded();
        }
        *m_pnProgressDisplayed = 100;
    } else {
        *m_pnProgressDisplayed = 120;
    }
}

void CInstallApp::CreateFirewallRulesGuarded() {
    // The installation is committed by now: whatever stops the firewall step
    // only costs the rules, as a firewall error does.
    EXCEPTION_RECORD record = {};
    try {
        if (RunGuarded([this] { m_pInstallProcess->CreateFirewallRules(); }, &record)) {
            return;
        }
        m_pInstallProcess->Log("=== Error creating firewall rules ===");
        m_pInstallProcess->LogCode("Exception code: ", record.ExceptionCode);
    } catch (...) {
        m_pInstallProcess->Log("=== Error creating firewall rules ===");
    }
}

void CInstallApp::RunInstallGuarded() {
    EXCEPTION_RECORD record = {};
    bool finished = false;
    try {
        finished = RunGuarded(
            [this] {
                NotifyInstallObserver(InstallEvent::kWorkerStarted, 0);
                RunInstall();
            },
            &record);
    } catch (...) {
        // Only a test build's observer throws this far (Install itself lets
        // nothing out); it ends the install as failed like a fault does.
        record.ExceptionCode = 0xE0000001;
    }
    if (!finished) {
        m_bInstallFailed = 1;
        *m_pnProgressDisplayed = 100;
        try {
            ShowMessageIfAllowed(FormatResourceString(IDS_EXCEPTION_DURING_INSTALL,
                                                      unsigned(record.ExceptionCode),
                                                      unsigned(uintptr_t(record.ExceptionAddress))),
                                 MB_ICONERROR);
        } catch (...) {
        }
    }
}

int CInstallApp::StartInstallThread(HWND owner) {
    m_hWndProgress = owner;
    // Set by the worker when it is done, whatever ended it: the wizard waits
    // for this before it ever considers stopping the thread.
    m_installEnded.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_installEnded) {
        ShowMessageIfAllowed(FormatResourceString(IDS_SYSTEM_ERROR, unsigned(GetLastError())),
                             MB_ICONERROR, owner);
        return -1;
    }
    auto worker = std::make_unique<CWorkerThread>();
    const HANDLE ended = m_installEnded.get();
    const auto body = [this, ended] {
        struct ReportEnd {
            HANDLE event;
            ~ReportEnd() { SetEvent(event); }
        } reportEnd{ended};
        RunInstallGuarded();
    };
    if (!worker->Create(body) || worker->Resume() == DWORD(-1)) {
        const DWORD error = GetLastError();
        if (worker->Handle() != nullptr) {
            // Created but never let run: it must not start installing later.
            TerminateThread(worker->Handle(), error);
        }
        ShowMessageIfAllowed(FormatResourceString(IDS_SYSTEM_ERROR, unsigned(error)), MB_ICONERROR,
                             owner);
        return -1;
    }
    m_pInstallThread = std::move(worker);
    return 0;
}

void CInstallApp::RunSilentMode() {
    const ProductProfile& profile = CurrentProfile();
    if (!m_options.directory.empty()) {
        m_strInstallDir = m_options.directory;
    }
    // A silent installation accepts the licence only when told so explicitly.
    if (!m_options.licenseAccept) {
        m_nExitCode = kExitLicenseNotAccepted;
        ShowMessageIfAllowed(FormatResourceString(IDS_LICENSE_NOT_ACCEPTED, profile.displayName),
                             MB_ICONWARNING);
        return;
    }
    if (!AcceptInstallFolder()) {
        return;
    }
    m_pnProgressGoal = &m_nSilentGoal;
    m_pnProgressDisplayed = &m_nSilentDisplayed;
    m_pnProgressDirection = &m_nSilentDirection;
    m_pStatusText = nullptr;

    std::string message;
    if (PreparePackage(&message) != 0) {
        m_nExitCode = kExitPackageNotReady;
        ShowMessageIfAllowed(FormatText(message.c_str(), profile.displayName), MB_ICONWARNING);
        return;
    }

    RunInstallGuarded();

    if (m_bRestartNeeded) {
        if (m_options.noRestart) {
            m_nExitCode = kExitRestartRequired;
            ShowMessageIfAllowed(FormatResourceString(IDS_RESTART_REQUIRED, profile.displayName),
                                 MB_ICONWARNING);
        } else if (m_bShowMessages) {
            if (ShowMessage(FormatResourceString(IDS_RESTART_QUESTION, profile.displayName),
                            MB_YESNO | MB_ICONQUESTION) == IDYES) {
                m_pInstallProcess->RestartSystem();
            }
        } else {
            m_pInstallProcess->RestartSystem();
        }
    }
    EndOfRun();
}

bool CInstallApp::AcceptInstallFolder() {
    std::string refusal;
    if (CheckInstallFolder(&refusal)) {
        return true;
    }
    m_nExitCode = kExitFolderRefused;
    ShowMessageIfAllowed(refusal, MB_ICONWARNING);
    return false;
}

bool CInstallApp::CheckInstallFolder(std::string* refusal) {
    const ProductProfile& profile = CurrentProfile();
    const size_t maxLength = MaxInstallFolderLength(profile.payloadRules, profile.logFileName);
    char current[MAX_PATH] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof current, current);
    const ResolvedFolderPath folder =
        ResolveFolderPath(m_strInstallDir, length < sizeof current ? current : "", maxLength,
                          [](unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; });
    if (folder.problem != FolderPathProblem::kNone) {
        m_pInstallProcess->Log("Error: Install folder is not usable: ", m_strInstallDir.c_str());
        *refusal = FormatResourceString(IDS_FOLDER_NOT_USABLE, profile.displayName,
                                        m_strInstallDir.c_str(), int(maxLength));
        return false;
    }
    m_strInstallDir = folder.path;
    const std::string changeable = m_pInstallProcess->FindChangeableFolder(m_strInstallDir);
    if (!changeable.empty()) {
        m_pInstallProcess->Log("Error: Users without administrator rights can change: ",
                               changeable.c_str());
        *refusal =
            FormatResourceString(IDS_FOLDER_NOT_PROTECTED, profile.displayName, changeable.c_str());
        return false;
    }
    return true;
}

void CInstallApp::EndOfRun() {
    delete m_pInstallProcess;
    m_pInstallProcess = nullptr;

    std::string logPath;
    if (m_hLogFile != INVALID_HANDLE_VALUE) {
        logPath = std::string(m_szWorkFolder) + "\\" + CurrentProfile().logFileName;
        CloseHandle(m_hLogFile);
        m_hLogFile = INVALID_HANDLE_VALUE;
    }

    if (m_bInstallFailed) {
        if (m_bShowMessages) {
            if (!logPath.empty()) {
                ShellExecuteA(nullptr, "open", logPath.c_str(), nullptr, nullptr, SW_SHOW);
            }
            ShowMessage(FormatResourceString(IDS_SEND_LOG, logPath.c_str()), MB_ICONWARNING);
        }
        m_nExitCode = kExitInstallFailed;
        return;
    }

    if (!logPath.empty()) {
        bool copied = true;
        if (!m_strInstallDir.empty()) {
            const std::string copy = m_strInstallDir + "\\" + CurrentProfile().logFileName;
            copied = CopyFileA(logPath.c_str(), copy.c_str(), FALSE) != 0;
        }
        // When the copy into the install folder failed, the work folder's log
        // is the only record of the run, so it stays.
        if (copied) {
            DeleteFileA(logPath.c_str());
        }
    }
    SetLastError(0);
}
