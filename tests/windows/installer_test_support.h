// Helpers of the installer's Windows-side tests: a scratch folder per test, a
// setup log to read back, and file and registry access that states what failed.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
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

} // namespace installer_test
