#include "setup_log_api.h"

#include "setupapi_log_rules.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char kSetupKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
constexpr char kLogLevelValue[] = "LogLevel";
constexpr char kLogPathValue[] = "LogPath";
constexpr char kBeginMarker[] = "==== SetupApi log begin ====";
constexpr char kEndMarker[] = "===== SetupApi log end =====";

unsigned MajorWindowsVersion() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) ? version.dwMajorVersion : 0;
}

// The device log is written by the system's own SetupAPI, which on 64-bit
// Windows is 64-bit and reads its settings from the 64-bit registry view.
REGSAM NativeRegistryView() {
    using IsWow64ProcessProc = BOOL(WINAPI*)(HANDLE, PBOOL);
    // Not there before XP SP2, where there is no WOW64 either.
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessProc>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64) {
        return KEY_WOW64_64KEY;
    }
    return 0;
}

// The shared Windows folder: on a terminal server GetWindowsDirectory may
// answer a per-user folder, where no SetupAPI log is ever written.
std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryA(folder, sizeof folder);
    return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string();
}

// The raw bytes of a value, or false when there is no such value.
bool ReadRawValue(HKEY key, const char* name, std::string* data) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    data->assign(size, '\0');
    if (size > 0 &&
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&(*data)[0]),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    data->resize(size);
    return true;
}

// The log's size now; false when it is not there.
bool FileSize(const std::string& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes)) {
        return false;
    }
    *size = uint64_t(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow;
    return true;
}

// A block from the system's virtual memory, released with its owner.
struct VirtualBlock {
    explicit VirtualBlock(size_t size)
        : address(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)) {}
    ~VirtualBlock() {
        if (address) {
            VirtualFree(address, 0, MEM_RELEASE);
        }
    }
    VirtualBlock(const VirtualBlock&) = delete;
    VirtualBlock& operator=(const VirtualBlock&) = delete;

    void* address;
};

// Every writer in this process (the install worker, the notification thread,
// the interface thread) takes its turn: finding the end and writing there are
// two steps, and under Wine even an append-only handle does not join them.
struct LineLock {
    LineLock() { InitializeCriticalSection(&section); }
    ~LineLock() { DeleteCriticalSection(&section); }
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

    CRITICAL_SECTION section;
} g_lineLock;

struct LineTurn {
    LineTurn() { EnterCriticalSection(&g_lineLock.section); }
    ~LineTurn() { LeaveCriticalSection(&g_lineLock.section); }
    LineTurn(const LineTurn&) = delete;
    LineTurn& operator=(const LineTurn&) = delete;
};

} // namespace

CSetupLogApi::CSetupLogApi(HANDLE logFile) : m_hLogFile(logFile) {}

CSetupLogApi::~CSetupLogApi() {
    if (m_bCaptureStarted) {
        EndSetupApiCapture();
    }
    // The application object may copy the file right after the installer is
    // gone; what was written must be on disk by then.
    if (HasLogFile()) {
        FlushFileBuffers(m_hLogFile);
    }
}

bool CSetupLogApi::HasLogFile() const {
    return m_hLogFile != INVALID_HANDLE_VALUE && m_hLogFile != nullptr;
}

bool CSetupLogApi::WritePiece(const char* bytes, DWORD length) {
    // Another thread may have appended since our last piece. (The setup's own
    // log is opened for appending only, where every write lands at the end
    // anyway; this is for a log handed over with plain write access.)
    SetFilePointer(m_hLogFile, 0, nullptr, FILE_END);
    DWORD written = 0;
    return WriteFile(m_hLogFile, bytes, length, &written, nullptr) && written == length;
}

void CSetupLogApi::WriteLine(const char* text, const char* second) {
    if (!HasLogFile() || text == nullptr) {
        return;
    }
    // One write per line: the child installer and the notification thread
    // append to the same file at the same time, and a line written in pieces
    // would have their lines wedged into its middle.
    const size_t textLength = std::strlen(text);
    const size_t secondLength = second != nullptr ? std::strlen(second) : 0;
    const size_t length = textLength + secondLength + 2;
    char small[512];
    std::unique_ptr<char[]> large;
    char* line = small;
    if (length > sizeof small) {
        large.reset(new (std::nothrow) char[length]);
        line = large.get();
    }
    const LineTurn turn;
    if (line == nullptr || length > MAXDWORD) {
        // Out of memory: the line still goes out, if only in pieces.
        if (WritePiece(text, DWORD(textLength)) &&
            (second == nullptr || WritePiece(second, DWORD(secondLength)))) {
            WritePiece("\r\n", 2);
        }
        return;
    }
    std::memcpy(line, text, textLength);
    if (secondLength != 0) {
        std::memcpy(line + textLength, second, secondLength);
    }
    std::memcpy(line + textLength + secondLength, "\r\n", 2);
    WritePiece(line, DWORD(length));
}

bool CSetupLogApi::BeginSetupApiCapture() {
    // A second start would save our own raised level as the one to restore.
    if (m_bCaptureStarted) {
        return true;
    }
    try {
        const unsigned major = MajorWindowsVersion();
        UniqueHkey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, 0, KEY_ALL_ACCESS | NativeRegistryView(),
                          key.put()) != ERROR_SUCCESS) {
            return false;
        }
        std::string logPath;
        const bool hasLogPath = major >= 6 && ReadRawValue(key.get(), kLogPathValue, &logPath);
        const SetupApiLogChoice choice =
            ChooseSetupApiLog(major, WindowsFolder(), hasLogPath ? &logPath : nullptr);
        m_strSetupApiLogPath = choice.path;
        m_nStartSize = 0;
        FileSize(m_strSetupApiLogPath, &m_nStartSize);

        // Only a level the system already has is raised, and only one that can
        // be put back exactly: a missing value stays missing, and a value that
        // is not a 4-byte number is not ours to rewrite as one.
        DWORD type = 0;
        DWORD saved = 0;
        DWORD size = sizeof saved;
        m_bLevelChanged = false;
        if (RegQueryValueExA(key.get(), kLogLevelValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(&saved), &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof saved) {
            m_dwSavedLevel = saved;
            const DWORD level = choice.level;
            m_bLevelChanged = RegSetValueExA(key.get(), kLogLevelValue, 0, REG_DWORD,
                                             reinterpret_cast<const BYTE*>(&level),
                                             sizeof level) == ERROR_SUCCESS;
        }
        m_setupKey = std::move(key);
        m_bCaptureStarted = true;
        return true;
    } catch (...) {
        // Out of memory for a path: the installation goes on without a capture.
        return false;
    }
}

void CSetupLogApi::EndSetupApiCapture() {
    try {
        RestoreLogLevel();
        CopyLogGrowth();
    } catch (...) {
        // Nothing of the capture is worth failing an installation for.
    }
    m_bCaptureStarted = false;
}

void CSetupLogApi::RestoreLogLevel() {
    if (!m_bLevelChanged) {
        return;
    }
    m_bLevelChanged = false;
    const DWORD level = m_dwSavedLevel;
    RegSetValueExA(m_setupKey.get(), kLogLevelValue, 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&level), sizeof level);
}

void CSetupLogApi::CopyLogGrowth() {
    if (m_strSetupApiLogPath.empty()) {
        return;
    }
    // No sharing: nobody may append while the new part is read, or the copy
    // would end in the middle of a line.
    UniqueFile log(CreateFileA(m_strSetupApiLogPath.c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log) {
        return;
    }
    LARGE_INTEGER current{};
    if (!GetFileSizeEx(log.get(), &current)) {
        return;
    }
    const uint64_t growth = CapturedGrowth(m_nStartSize, uint64_t(current.QuadPart));
    if (growth == 0) {
        return;
    }
    LARGE_INTEGER start{};
    start.QuadPart = LONGLONG(m_nStartSize);
    if (!SetFilePointerEx(log.get(), start, nullptr, FILE_BEGIN)) {
        return;
    }
    VirtualBlock block{size_t(growth)};
    if (!block.address) {
        return;
    }
    DWORD read = 0;
    if (!ReadFile(log.get(), block.address, DWORD(growth), &read, nullptr)) {
        return;
    }
    // The copy stays in one piece between its markers (the turn can be taken
    // again by the thread that holds it).
    const LineTurn turn;
    WriteLine(kBeginMarker);
    if (HasLogFile()) {
        WritePiece(static_cast<const char*>(block.address), read);
    }
    WriteLine(kEndMarker);
}
