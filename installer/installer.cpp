#include "installer.h"

#include "os_version.h"

#include <cstdio>
#include <new>

namespace {

constexpr char kRebootWarning[] = "Warning: === Reboot required to complete operation ===";

DWORD ReportedMajorVersion() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) ? version.dwMajorVersion : 0;
}

} // namespace

CInstaller::CInstaller(HANDLE logFile, BOOL loadPackage, BOOL requireAdministrator,
                       BOOL refuse32On64, BOOL captureSetupApiLog) {
    m_pLog.reset(new (std::nothrow) CSetupLogApi(logFile));
    if (!m_pLog) {
        Fail(56, GetLastError());
    }
    if (captureSetupApiLog) {
        m_pLog->BeginSetupApiCapture();
    }
    // Checked before anything is opened, so a refused user leaves no trace
    // but the one log line.
    if (requireAdministrator && !IsAdministrator()) {
        Fail(68, kCodeNotAdministrator, "Error: No such admin privilege");
    }
    OpenServiceManager();
    if (!DetectOsVersion()) {
        Fail(83, kCodeOldWindows, "Error: System OS version");
    }
    LookUpWow64Probe();
    if (refuse32On64 && IsWow64System()) {
        Fail(95, kCodeWrongWordSize, "Error: Install 32-bit package into 64-bit system");
    }
    m_pPackedTools.reset(new (std::nothrow) CPackedTools);
    if (!m_pPackedTools) {
        Fail(111, GetLastError(), "Error: Init installer");
    }
    if (m_pPackedTools->GetStatus() != CPackedTools::kReady) {
        FailWithPackageStatus(m_pPackedTools->GetStatus());
    }
    if (loadPackage) {
        const int status = LoadPackage();
        if (status != CPackedTools::kReady) {
            Log("Error: Init installer");
            FailWithPackageStatus(status);
        }
    }
    EnsureRunOnceKey();
    m_nOwnRestartFlag = 0;
    m_pRestartFlag = &m_nOwnRestartFlag;
}

CInstaller::~CInstaller() = default;

void CInstaller::Fail(uint16_t location, uint32_t code, const char* logLine) {
    if (logLine) {
        Log(logLine);
    }
    throw CSetupError{kModuleInstaller, location, code};
}

void CInstaller::FailWithPackageStatus(int status) {
    // The reader's status word carries module and location in its two halves.
    const uint32_t word = uint32_t(status);
    throw CSetupError{uint16_t(word >> 16), uint16_t(word & 0xFFFF), kCodeInternalError};
}

bool CInstaller::IsAdministrator() const {
    // Group attributes are not consulted: a deny-only Administrators entry (a
    // filtered token) still counts, because elevation is requested by the
    // manifest and the real checks are the access checks of each operation.
    // Wine always runs as an administrator, so the refusal is only reachable
    // on Windows itself.
    UniqueHandle token;
    {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            return false;
        }
        token.reset(raw);
    }
    // Asked for its size first: a token with many groups may not fit any
    // fixed buffer, and a truncated read would leave the group list unset.
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer || !GetTokenInformation(token.get(), TokenGroups, buffer.get(), needed, &needed)) {
        return false;
    }
    token.reset();

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    {
        PSID raw = nullptr;
        if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                      DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &raw)) {
            return false;
        }
        administrators.reset(raw);
    }
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.get());
    for (DWORD index = 0; index < groups->GroupCount; ++index) {
        if (EqualSid(groups->Groups[index].Sid, administrators.get())) {
            return true;
        }
    }
    return false;
}

void CInstaller::OpenServiceManager() {
    m_scManager.reset();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        Fail(77, GetLastError(), "Error: Init Service Control Manager");
    }
    m_scManager.reset(manager);
}

bool CInstaller::DetectOsVersion() {
    osVersionCode = kOsVersionUnknown;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwMajorVersion < 5) {
        return false;
    }
    // The extended form is asked for separately: only it carries the service
    // pack and whether this is a workstation.
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended));
    int code = kOsVersionUnknown;
    const bool supported = ClassifyWindowsVersion(
        version.dwMajorVersion, version.dwMinorVersion, extended.wServicePackMajor,
        extended.wProductType == VER_NT_WORKSTATION, &code);
    osVersionCode = code;
    return supported;
}

bool CInstaller::IsVistaOrLater() const {
    return ReportedMajorVersion() > 5;
}

bool CInstaller::IsWindows10OrLater() const {
    return ReportedMajorVersion() > 9;
}

void CInstaller::LookUpWow64Probe() {
    // kernel32 is always loaded from the system folder already; this only
    // takes a reference, so the probe stays valid while the installer lives.
    HMODULE kernel32 = LoadLibraryA("kernel32.dll");
    if (!kernel32) {
        return;
    }
    FARPROC probe = GetProcAddress(kernel32, "GetSystemWow64DirectoryA");
    if (!probe) {
        FreeLibrary(kernel32);
        return;
    }
    m_kernel32.reset(kernel32);
    m_pWow64Probe = reinterpret_cast<GetSystemWow64DirectoryAProc>(reinterpret_cast<void*>(probe));
}

bool CInstaller::IsWow64System() const {
    if (!m_pWow64Probe) {
        return false;
    }
    // 32-bit Windows has the entry point too but answers "not implemented".
    // The call may succeed without touching the last error, so an old 120
    // must not be left there to be misread.
    SetLastError(ERROR_SUCCESS);
    m_pWow64Probe(nullptr, 0);
    return GetLastError() != ERROR_CALL_NOT_IMPLEMENTED;
}

int CInstaller::LoadPackage() {
    const int loaded = m_pPackedTools->LoadFromModule();
    const int status = m_pPackedTools->GetStatus();
    // A reader that failed must never look ready to the caller.
    if (!loaded && status == CPackedTools::kReady) {
        return CPackedTools::kFileUnreadable;
    }
    return status;
}

void CInstaller::Log(const char* message, const char* text) {
    if (!m_pLog) {
        return;
    }
    try {
        m_pLog->WriteLine(message, text);
    } catch (...) {
        // A log line is never worth failing an installation for.
    }
}

void CInstaller::LogCode(const char* message, uint32_t code) {
    char text[32];
    std::snprintf(text, sizeof text, "(0x%x)", unsigned(code));
    Log(message, text);
}

void CInstaller::EnsureRunOnceKey() {
    HKEY rawParent = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                        nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &rawParent,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    UniqueHkey parent(rawParent);
    HKEY rawRunOnce = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(parent.get(), "RunOnce", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &rawRunOnce, &disposition) == ERROR_SUCCESS) {
        RegCloseKey(rawRunOnce);
        if (disposition == REG_CREATED_NEW_KEY) {
            Log("Create 'RunOnce' registry key entry");
        }
    }
}

void CInstaller::RequireRestart() {
    *(m_pRestartFlag ? m_pRestartFlag : &m_nOwnRestartFlag) = 1;
    Log(kRebootWarning);
}
