// The install journal on disk: created before the first change, one record
// appended and flushed before each change, deleted after the commit or a
// finished rollback. A setup started after a power cut finds it and rolls the
// installation back from it.
#include "installer.h"

#include "install_observer.h"
#include "multi_strings.h"

#include <sddl.h>

namespace {

constexpr char kJournalFolderName[] = "Corvane Setup Journal";
constexpr char kPendingRenamesKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenamesValue[] = "PendingFileRenameOperations";

// Full control for SYSTEM and the Administrators, inherited by the journal
// files, and nothing inherited from the Windows folder ("P"): no other account
// may read, plant or change a journal that an elevated setup would act on.
constexpr char kJournalFolderAccess[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

class SecurityDescriptor {
public:
    SecurityDescriptor() {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
                kJournalFolderAccess, SDDL_REVISION_1, &m_descriptor, nullptr)) {
            m_descriptor = nullptr;
        }
    }
    ~SecurityDescriptor() {
        if (m_descriptor) {
            LocalFree(m_descriptor);
        }
    }
    SecurityDescriptor(const SecurityDescriptor&) = delete;
    SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
    PSECURITY_DESCRIPTOR get() const { return m_descriptor; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
};

std::string FolderOf(const std::string& path) {
    const size_t last = path.rfind('\\');
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::string CInstaller::JournalFolder() {
    char windows[MAX_PATH] = {};
    // The system's Windows folder, not a Terminal Server user's own one.
    const UINT length = GetSystemWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows) {
        return std::string();
    }
    std::string folder(windows, length);
    if (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
    }
    return folder + "\\" + kJournalFolderName;
}

void CInstaller::BeginDurableJournal(const std::string& path, const JournalPlaces& places) {
    if (m_journalFile) {
        Fail(1510, ERROR_ALREADY_EXISTS);
    }
    const std::string folder = FolderOf(path);
    const SecurityDescriptor access;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, access.get(), FALSE};
    if (!CreateDirectoryA(folder.c_str(), access.get() ? &attributes : nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            Fail(1510, error);
        }
        // Only an administrator can have made it; its access list is put
        // back all the same, in case someone widened it.
        if (access.get()) {
            SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, access.get());
        }
    }
    // A journal already there belongs to another setup that runs right now,
    // or was kept for recovery: it is never overwritten.
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        RemoveDirectoryA(folder.c_str());
        Fail(1510, error);
    }
    m_journalFile = std::move(file);
    m_strJournalPath = path;
    m_nJournalRecords = 0;
    m_announced.clear();
    const JournalRecord begin = MakeJournalRecord(
        kRecordBegin, {places.productCode, places.installFolder, places.startMenuFolder,
                       places.desktopFolder, places.quickLaunchFolder});
    if (!AppendToJournal(EncodeJournalHeader() + EncodeJournalRecord(begin))) {
        const DWORD error = GetLastError();
        DeleteDurableJournal();
        Fail(1510, error);
    }
    NotifyInstallObserver(InstallEvent::kJournalRecordWritten, ++m_nJournalRecords);
}

bool CInstaller::AppendToJournal(const std::string& bytes) {
    DWORD written = 0;
    // The record must be on the disk, not only in the system's cache, before
    // the change it undoes begins: a power cut in between would leave a
    // change without its record.
    return WriteFile(m_journalFile.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(m_journalFile.get());
}

void CInstaller::WriteJournalRecord(const JournalRecord& record) {
    WriteJournalRecords({record});
}

void CInstaller::WriteJournalRecords(const std::vector<JournalRecord>& records) {
    if (!m_journalFile || records.empty()) {
        return;
    }
    std::string bytes;
    for (const JournalRecord& record : records) {
        bytes += EncodeJournalRecord(record);
    }
    if (!AppendToJournal(bytes)) {
        Fail(1511, GetLastError());
    }
    m_nJournalRecords += uint32_t(records.size());
    NotifyInstallObserver(InstallEvent::kJournalRecordWritten, m_nJournalRecords);
}

void CInstaller::AnnounceCreations(const std::vector<std::string>& folders,
                                   const std::vector<std::string>& files) {
    if (!m_journalFile) {
        return;
    }
    std::vector<JournalRecord> records;
    std::vector<std::string> announced;
    const auto announce = [&](uint16_t kind, const std::string& path) {
        // What is there already is never announced, as it is never recorded.
        if (m_announced.count(path) != 0 || journalEntries.count(path) != 0 ||
            GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return;
        }
        records.push_back(MakeJournalRecord(kind, {path}));
        announced.push_back(path);
    };
    for (const std::string& folder : folders) {
        announce(kRecordCreatedFolder, folder);
    }
    for (const std::string& file : files) {
        announce(kRecordCreatedFile, file);
    }
    WriteJournalRecords(records);
    m_announced.insert(announced.begin(), announced.end());
}

void CInstaller::JournalCreation(uint16_t kind, const std::string& path) {
    if (m_announced.erase(path) == 0) {
        WriteJournalRecord(MakeJournalRecord(kind, {path}));
    }
}

void CInstaller::WithdrawAnnouncement(const std::string& path) {
    if (m_announced.erase(path) != 0) {
        WriteJournalRecord(MakeJournalRecord(kRecordWithdrawn, {path}));
    }
}

void CInstaller::TryWriteJournalRecord(const JournalRecord& record) {
    if (m_journalFile && AppendToJournal(EncodeJournalRecord(record))) {
        ++m_nJournalRecords;
    }
}

void CInstaller::DeleteDurableJournal() {
    if (m_strJournalPath.empty()) {
        return;
    }
    m_journalFile.reset();
    DeleteFileA(m_strJournalPath.c_str());
    // Another product's journal may still be in it; then it stays.
    RemoveDirectoryA(FolderOf(m_strJournalPath).c_str());
    m_strJournalPath.clear();
}

void CInstaller::CloseDurableJournal() {
    m_journalFile.reset();
    m_strJournalPath.clear();
}

void CInstaller::AdoptDurableJournal(const std::string& path, UniqueFile file) {
    m_journalFile = std::move(file);
    m_strJournalPath = path;
    m_nJournalRecords = 0;
}

void CInstaller::LoadRecoveredJournal(const ReplayedJournal& journal) {
    ClearJournalTables();
    for (const auto& [key, kind] : journal.entries) {
        // Announced but never made, or undone before the stop: nothing to do.
        if ((kind == kJournalCreatedFile && !IsFile(key)) ||
            (kind == kJournalCreatedDirectory && !IsFolder(key))) {
            continue;
        }
        journalEntries[key] = kind;
    }
    for (const auto& [target, backup] : journal.backups) {
        // A backup that is gone was moved back over its file already.
        if (IsFile(backup)) {
            fileBackups[target] = backup;
        }
    }
    for (const auto& [target, backup] : journal.unfinishedBackups) {
        // The file itself was never touched; the copy may be incomplete.
        if (IsFile(backup)) {
            Log("RemoveBackup: ", backup.c_str());
            DeleteFileA(backup.c_str());
            RollbackActionDone();
        }
    }
    registryBackups = journal.registry;
    restartReplacements = journal.restartReplacements;
    for (const auto& [classText, filter] : journal.classFilters) {
        GUID classGuid;
        if (ParseClassGuid(classText, &classGuid)) {
            classFilters[classGuid] = filter;
        }
    }
}

void CInstaller::ClearJournalTables() {
    journalEntries.clear();
    fileBackups.clear();
    registryBackups.clear();
    classFilters.clear();
    restartReplacements.clear();
}

void CInstaller::RollbackActionDone() {
    NotifyInstallObserver(InstallEvent::kRollbackActionDone, ++m_nRollbackActions);
}

void CInstaller::CancelRestartReplacements() {
    if (restartReplacements.empty()) {
        return;
    }
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingRenamesKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      key.put()) != ERROR_SUCCESS) {
        return;
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), kPendingRenamesValue, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return;
    }
    std::string data(size, '\0');
    if (RegQueryValueExA(key.get(), kPendingRenamesValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS) {
        return;
    }
    data.resize(size);
    size_t removed = 0;
    for (const RestartReplacement& replacement : restartReplacements) {
        Log("CancelRestartReplacement: ", replacement.target.c_str());
        removed += RemoveRenameOperation(data, replacement.temporary, replacement.target);
        RollbackActionDone();
    }
    if (removed == 0) {
        return;
    }
    // The value was made for these operations alone when nothing else is left.
    if (data.find_first_not_of('\0') == std::string::npos) {
        RegDeleteValueA(key.get(), kPendingRenamesValue);
    } else {
        RegSetValueExA(key.get(), kPendingRenamesValue, 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
    }
}
