// Helpers of the installer's Windows-side tests: a scratch folder per test, a
// setup log to read back, and file and registry access that states what failed.
#pragma once

#include "installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace installer_test {

inline bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file, read through a handle that lets writers keep theirs open.
inline std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open " << path << " for reading, error " << GetLastError();
        return {};
    }
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return content;
}

inline void WriteWholeFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE)
        << "cannot create " << path << ", error " << GetLastError();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok && written == content.size()) << "cannot write " << path;
}

// Names of the entries of `folder`, without "." and "..".
inline std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

inline void DeleteTree(const std::string& folder) {
    for (const std::string& name : ListFolder(folder)) {
        const std::string path = folder + "\\" + name;
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DeleteTree(path);
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    RemoveDirectoryA(folder.c_str());
}

// A fresh folder below the temp folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        std::string base = temp;
        if (!base.empty() && base.back() == '\\') {
            base.pop_back();
        }
        static unsigned counter = 0;
        do {
            m_path = base + "\\corvane-installer-test-" + std::to_string(GetCurrentProcessId()) +
                     "-" + std::to_string(++counter);
        } while (!CreateDirectoryA(m_path.c_str(), nullptr) &&
                 GetLastError() == ERROR_ALREADY_EXISTS);
        EXPECT_TRUE(FileExists(m_path)) << "cannot create scratch folder " << m_path;
    }
    ~ScratchFolder() { DeleteTree(m_path); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// A setup log opened the way the application opens it: write access, readers
// allowed, emptied on creation.
// (Not "SetupLogFile": setupapi.h, which the handle kit includes, takes that
// name for a macro.)
class TestSetupLog {
public:
    explicit TestSetupLog(const std::string& path) : m_path(path) {
        m_handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(m_handle, INVALID_HANDLE_VALUE) << "cannot create log " << path;
    }
    ~TestSetupLog() {
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }
    TestSetupLog(const TestSetupLog&) = delete;
    TestSetupLog& operator=(const TestSetupLog&) = delete;

    HANDLE Handle() const { return m_handle; }
    std::string Content() const { return ReadWholeFile(m_path); }
    // The log split at CR LF; a last line without CR LF is kept as it is.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        const std::string content = Content();
        size_t start = 0;
        while (start < content.size()) {
            const size_t end = content.find("\r\n", start);
            if (end == std::string::npos) {
                lines.push_back(content.substr(start));
                break;
            }
            lines.push_back(content.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

private:
    std::string m_path;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// What the system will do at the next restart: the (source, destination)
// pairs of PendingFileRenameOperations, in order, as "\??\C:\..." paths. An
// empty destination deletes the source; one that begins with "!" replaces an
// existing file. A test that schedules such work takes it back with this
// guard: the value is saved on construction and put back on destruction.
class PendingRenamesGuard {
public:
    PendingRenamesGuard() {
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, &m_key),
                  ERROR_SUCCESS)
            << "cannot open the Session Manager key";
        m_hadValue = ReadRaw(&m_saved);
    }
    ~PendingRenamesGuard() {
        if (!m_key) {
            return;
        }
        if (m_hadValue) {
            RegSetValueExA(m_key, kValueName, 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(m_saved.data()), DWORD(m_saved.size()));
        } else {
            RegDeleteValueA(m_key, kValueName);
        }
        RegCloseKey(m_key);
    }
    PendingRenamesGuard(const PendingRenamesGuard&) = delete;
    PendingRenamesGuard& operator=(const PendingRenamesGuard&) = delete;

    std::vector<std::pair<std::string, std::string>> Pairs() const {
        std::vector<std::pair<std::string, std::string>> pairs;
        std::string raw;
        if (!ReadRaw(&raw)) {
            return pairs;
        }
        size_t position = 0;
        auto next = [&]() {
            const size_t end = std::min(raw.find('\0', position), raw.size());
            std::string piece = raw.substr(position, end - position);
            position = end + 1;
            return piece;
        };
        while (position < raw.size()) {
            std::string source = next();
            if (source.empty()) {
                break;
            }
            pairs.emplace_back(std::move(source), position < raw.size() ? next() : "");
        }
        return pairs;
    }

    // Whether the restart will move `source` to `destination` ("" deletes it;
    // `replace` expects the "!" that lets it overwrite an existing file).
    bool Scheduled(const std::string& source, const std::string& destination,
                   bool replace = false) const {
        const std::pair<std::string, std::string> wanted(
            "\\??\\" + source,
            destination.empty() ? "" : (replace ? "!" : "") + std::string("\\??\\") + destination);
        for (const auto& pair : Pairs()) {
            if (pair == wanted) {
                return true;
            }
        }
        return false;
    }

private:
    static constexpr const char* kSessionManagerKey =
        "System\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const char* kValueName = "PendingFileRenameOperations";

    bool ReadRaw(std::string* value) const {
        DWORD type = 0, size = 0;
        if (!m_key ||
            RegQueryValueExA(m_key, kValueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return false;
        }
        value->assign(size, '\0');
        if (RegQueryValueExA(m_key, kValueName, nullptr, &type,
                             reinterpret_cast<BYTE*>(value->empty() ? nullptr : &(*value)[0]),
                             &size) != ERROR_SUCCESS) {
            return false;
        }
        value->resize(size);
        return true;
    }

    HKEY m_key = nullptr;
    bool m_hadValue = false;
    std::string m_saved;
};

// Deletes `subkey` of `root` with everything below it, in the registry view of
// `view` (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY).
inline void DeleteKeyTree(HKEY root, const std::string& subkey, REGSAM view = 0) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return;
    }
    std::vector<std::string> children;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        children.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const std::string& child : children) {
        DeleteKeyTree(root, subkey + "\\" + child, view);
    }
    using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);
    static const auto deleteKeyEx = reinterpret_cast<DeleteKeyEx>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA")));
    if (view != 0 && deleteKeyEx) {
        deleteKeyEx(root, subkey.c_str(), view, 0);
    } else {
        RegDeleteKeyA(root, subkey.c_str());
    }
}

// A fresh key HKLM\Software\corvane-test-<process>-<n> in this process's own
// (32-bit) view, deleted with everything below it.
class ScratchKey {
public:
    ScratchKey() {
        static unsigned counter = 0;
        m_subkey = "Software\\corvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(++counter);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_subkey.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << "cannot create " << m_subkey;
        if (key) {
            RegCloseKey(key);
        }
    }
    ~ScratchKey() { DeleteKeyTree(HKEY_LOCAL_MACHINE, m_subkey); }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    const std::string& Subkey() const { return m_subkey; }

private:
    std::string m_subkey;
};

inline constexpr char kRebootWarning[] = "Warning: === Reboot required to complete operation ===";

// An installer as the install process makes one, logging into a file of the
// test's own, with its restart flag pointed at `restartNeeded`.
class InstallerTest : public ::testing::Test {
protected:
    ScratchFolder logFolder;
    TestSetupLog log{logFolder / "setup.log"};
    std::unique_ptr<CInstaller> installer;
    int restartNeeded = 0;

    void SetUp() override {
        installer = std::make_unique<CInstaller>(log.Handle(), FALSE, TRUE, FALSE, FALSE);
        installer->SetRestartFlagPointer(&restartNeeded);
    }
    void TearDown() override { installer.reset(); }

    // Lines written after construction (which may have logged the RunOnce key).
    std::vector<std::string> OperationLines() const {
        auto lines = log.Lines();
        lines.erase(std::remove(lines.begin(), lines.end(), "Create 'RunOnce' registry key entry"),
                    lines.end());
        return lines;
    }

    // The journal kind recorded for `key`, or null.
    const int* JournalKind(const std::string& key) const {
        const auto& journal = installer->GetJournalEntries();
        const auto found = journal.find(key);
        return found == journal.end() ? nullptr : &found->second;
    }
};

} // namespace installer_test
