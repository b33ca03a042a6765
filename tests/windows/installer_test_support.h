// Helpers of the installer's Windows-side tests: scratch folders and keys, a
// setup log to read back, restart-time operations, and an installer fixture.
#pragma once

#include "installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace installer_test {

inline constexpr char kRebootWarning[] = "Warning: === Reboot required to complete operation ===";

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The build names its files with Linux paths; Wine shows the Linux root as Z:.
inline std::string FromBuild(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path[0] == '\\' ? "Z:" + path : path;
}

// Read and written as bytes; the reader lets writers keep their handles open.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << "cannot open " << path;
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    EXPECT_TRUE(file.write(content.data(), content.size()).flush()) << "cannot write " << path;
}

// `text` cut at each `separator`; a last piece without one is kept as it is.
inline std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    for (size_t start = 0, end = 0; start < text.size(); start = end + separator.size()) {
        end = std::min(text.find(separator, start), text.size());
        pieces.push_back(text.substr(start, end - start));
    }
    return pieces;
}

// Names of the entries of `folder`, sorted.
inline std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder below the temp folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        static unsigned counter = 0;
        do {
            m_path = std::string(temp) + "corvane-installer-test-" +
                     std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        } while (!CreateDirectoryA(m_path.c_str(), nullptr) &&
                 GetLastError() == ERROR_ALREADY_EXISTS);
        EXPECT_TRUE(FileExists(m_path)) << "cannot create scratch folder " << m_path;
    }
    ~ScratchFolder() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// A setup log opened as the application opens it: append access, readers
// allowed, emptied on creation. (Not "SetupLogFile": setupapi.h takes that
// name for a macro.)
class TestSetupLog {
public:
    explicit TestSetupLog(const std::string& path)
        : m_path(path),
          m_file(CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        EXPECT_TRUE(m_file) << "cannot create log " << path;
    }

    HANDLE Handle() const { return m_file.get(); }
    std::string Content() const { return ReadWholeFile(m_path); }
    std::vector<std::string> Lines() const { return SplitAt(Content(), "\r\n"); }

private:
    std::string m_path;
    UniqueFile m_file;
};

// A registry value as stored, or its absence.
struct RegValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::string data;
    bool operator==(const RegValue& other) const {
        return exists == other.exists && (!exists || (type == other.type && data == other.data));
    }
};

inline RegValue Sz(const std::string& text) {
    return {true, REG_SZ, text + '\0'};
}

// HKLM\`subkey`'s value in the registry view `view` (0: this process's own).
inline RegValue ReadValue(const std::string& subkey, const char* name, REGSAM view = 0) {
    RegValue value;
    UniqueHkey key;
    DWORD size = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) ==
            ERROR_SUCCESS &&
        RegQueryValueExA(key.get(), name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.assign(size + 1, '\0');
        value.exists =
            RegQueryValueExA(key.get(), name, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value.data[0]), &size) == ERROR_SUCCESS;
        value.data.resize(size);
    }
    return value;
}

// Creates the key if need be; a value that does not exist is deleted.
inline void WriteValue(const std::string& subkey, const char* name, const RegValue& value,
                       REGSAM view = 0) {
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr),
              ERROR_SUCCESS)
        << subkey;
    if (!value.exists) {
        RegDeleteValueA(key.get(), name);
        return;
    }
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, value.type,
                             reinterpret_cast<const BYTE*>(value.data.data()),
                             DWORD(value.data.size())),
              ERROR_SUCCESS)
        << name;
}

inline bool KeyExists(const std::string& subkey, REGSAM view = 0) {
    UniqueHkey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, key.put()) ==
           ERROR_SUCCESS;
}

// Deletes HKLM\`subkey` with everything below it, in the registry view `view`.
inline void DeleteKeyTree(const std::string& subkey, REGSAM view = 0) {
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) ==
        ERROR_SUCCESS) {
        RegDeleteTreeA(key.get(), nullptr);
        key.reset();
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), view, 0);
    }
}

// Saves PendingFileRenameOperations and puts it back, so no restart-time
// operation a test caused outlives it.
class PendingRenamesGuard {
public:
    ~PendingRenamesGuard() { WriteValue(kKey, kValue, m_saved); }

    // Whether the restart moves `source` to `destination` ("": deletes it;
    // `replace`: with the "!" that lets it overwrite an existing file).
    bool Scheduled(const std::string& source, const std::string& destination,
                   bool replace = false) const {
        const std::vector<std::string> strings =
            SplitAt(ReadValue(kKey, kValue).data, std::string(1, '\0'));
        const std::string to =
            destination.empty() ? "" : (replace ? "!\\??\\" : "\\??\\") + destination;
        for (size_t index = 0; index + 1 < strings.size(); index += 2) {
            if (strings[index] == "\\??\\" + source && strings[index + 1] == to) {
                return true;
            }
        }
        return false;
    }

private:
    static constexpr char kKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
    static constexpr char kValue[] = "PendingFileRenameOperations";
    const RegValue m_saved = ReadValue(kKey, kValue);
};

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

    // The journal kind recorded for `path`, or -1.
    int JournalKind(const std::string& path) const {
        const auto found = installer->GetJournalEntries().find(path);
        return found == installer->GetJournalEntries().end() ? -1 : found->second;
    }
};

} // namespace installer_test
