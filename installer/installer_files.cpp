// The file and folder operations of an installation and the walkers that undo
// them: created files are deleted, overwritten files get their backups back,
// created folders go last. The journal's recorders and its commit live here
// too, since the file operations are what fills it.
#include "installer.h"

#include "file_names.h"

#include <exception>
#include <optional>

namespace {

const char* AsText(const char* text) {
    return text ? text : "";
}

// Every installed file is opened for writing without sharing, so nobody reads
// a half-written file. A new one is made only where nothing is: a name that
// turned up since it was looked at (a link planted there, say) is not
// written through.
HANDLE CreateNew(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// An existing file is opened as itself, a link included rather than what it
// points to, and left whole until it is known not to be a link.
HANDLE OpenExistingForWriting(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool WriteWhole(HANDLE file, const void* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written >= size;
}

bool FlushToDisk(const std::string& path) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

} // namespace

void CInstaller::RecordCreatedFile(const std::string& path) {
    journalEntries[path] = kJournalCreatedFile;
}

void CInstaller::RecordCreatedDirectory(const std::string& path) {
    journalEntries[path] = kJournalCreatedDirectory;
}

void CInstaller::DiscardBackups() {
    for (const auto& entry : fileBackups) {
        DeleteFileA(entry.second.c_str());
    }
    fileBackups.clear();
    registryBackups.clear();
}

void CInstaller::MakeTempFileName(const char* prefix, const char* folder, std::string& result) {
    char buffer[MAX_PATH] = {};
    // The system reserves the name by creating an empty file; the caller
    // creates its own file there, so that one goes again.
    if (GetTempFileNameA(AsText(folder), AsText(prefix), 0, buffer) != 0) {
        result = buffer;
        DeleteFileA(buffer);
        return;
    }
    const DWORD error = GetLastError();
    SYSTEMTIME now;
    GetSystemTime(&now);
    std::string name;
    if (!FormatFallbackTempName(AsText(folder), AsText(prefix), now.wMinute, now.wSecond,
                                now.wMilliseconds, &name)) {
        Fail(786, error);
    }
    // The name only changes with the clock: the pause keeps the next call
    // from drawing the same one.
    Sleep(100);
    result = name;
}

void CInstaller::BackupFile(const char* name, const char* folder) {
    const std::string target = JoinPath(AsText(folder), AsText(name));
    std::string backup;
    MakeTempFileName(name, folder, backup);
    WriteJournalRecord(MakeJournalRecord(kRecordBackupStarted, {target, backup}));
    if (!CopyFileA(target.c_str(), backup.c_str(), TRUE)) {
        const DWORD error = GetLastError();
        // The name was ours; whatever the copy left there is not a backup.
        DeleteFileA(backup.c_str());
        Fail(660, error);
    }
    // The journal is about to let the target be overwritten on the word of
    // this copy: it must be on the disk first, not only in the cache.
    if (HasDurableJournal() && !FlushToDisk(backup)) {
        const DWORD error = GetLastError();
        DeleteFileA(backup.c_str());
        Fail(660, error);
    }
    fileBackups[target] = backup;
}

void CInstaller::InstallFile(const char* name, const char* folder, const void* data,
                             uint32_t size) {
    const std::string target = JoinPath(AsText(folder), AsText(name));
    Log("Install File: ", target.c_str());

    WIN32_FIND_DATAA found;
    const bool exists = bool(UniqueFindHandle(FindFirstFileA(target.c_str(), &found)));

    UniqueFile file;
    if (!exists) {
        JournalCreation(kRecordCreatedFile, target);
        file.reset(CreateNew(target));
        if (!file) {
            Fail(871, GetLastError());
        }
        RecordCreatedFile(target);
    } else {
        WithdrawAnnouncement(target);
        // Written through, a link would change a file with another name,
        // which no backup covers.
        const std::string linkRefused = "Error: Not written through a link: " + target;
        if (IsLinkPath(target)) {
            Fail(875, ERROR_CANT_ACCESS_FILE, linkRefused.c_str());
        }
        // A file this run already created or backed up is covered: another
        // backup would be of our own data, and rollback would put that back
        // (or lose the original the first backup holds).
        const auto created = journalEntries.find(target);
        const bool covered =
            fileBackups.count(target) != 0 ||
            (created != journalEntries.end() && created->second == kJournalCreatedFile);
        if (!covered) {
            BackupFile(name, folder);
            WriteJournalRecord(MakeJournalRecord(kRecordOverwriteStarted, {target}));
        }
        file.reset(OpenExistingForWriting(target));
        if (!file) {
            ReplaceAtRestart(name, folder, target, data, size);
            return;
        }
        // Looked at again through the handle that writes: a link swapped in
        // since the first look is caught here.
        if (IsLinkHandle(file.get())) {
            Fail(875, ERROR_CANT_ACCESS_FILE, linkRefused.c_str());
        }
    }
    // Written, then cut where the new data ends.
    if (!WriteWhole(file.get(), data, size) || !SetEndOfFile(file.get())) {
        Fail(929, GetLastError());
    }
}

void CInstaller::ReplaceAtRestart(const char* name, const char* folder, const std::string& target,
                                  const void* data, uint32_t size) {
    std::string temporary;
    MakeTempFileName(name, folder, temporary);
    WriteJournalRecord(MakeJournalRecord(kRecordCreatedFile, {temporary}));
    UniqueFile file(CreateNew(temporary));
    if (!file) {
        Fail(893, GetLastError());
    }
    RecordCreatedFile(temporary);

    std::optional<CSetupError> error;
    if (!WriteWhole(file.get(), data, size)) {
        error = CSetupError{kModuleInstaller, 903, GetLastError()};
    }
    file.reset();
    RequireRestart();
    WriteJournalRecord(MakeJournalRecord(kRecordRestartReplacement, {temporary, target}));
    restartReplacements.push_back(RestartReplacement{temporary, target});
    if (!MoveFileExA(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        error = CSetupError{kModuleInstaller, 912, GetLastError()};
    }
    if (error) {
        throw *error;
    }
}

void CInstaller::MakeDirectory(const char* path) {
    Log("CreateDirectory: ", path);
    // Whatever is there already (a file of that name counts, as it does for
    // CreateDirectory) is never recorded, so that no journal could ever name
    // a folder of the user's as one to remove.
    if (GetFileAttributesA(AsText(path)) != INVALID_FILE_ATTRIBUTES) {
        WithdrawAnnouncement(AsText(path));
        RefuseLinkedFolder(path);
        return;
    }
    JournalCreation(kRecordCreatedFolder, AsText(path));
    if (CreateDirectoryA(AsText(path), nullptr)) {
        RecordCreatedDirectory(AsText(path));
        return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
        Fail(976, error);
    }
    // Someone else made it in the meantime: not ours after all.
    WriteJournalRecord(MakeJournalRecord(kRecordWithdrawn, {AsText(path)}));
    RefuseLinkedFolder(path);
}

void CInstaller::RefuseLinkedFolder(const char* path) {
    // What is written into a folder that is a link would land elsewhere.
    if (IsLinkPath(AsText(path))) {
        Fail(979, ERROR_CANT_ACCESS_FILE,
             ("Error: Not written through a link: " + std::string(AsText(path))).c_str());
    }
}

void CInstaller::RemoveInstallFiles() {
    // The system would move a temporary file over its target at the restart:
    // that is called off before the temporary file goes.
    CancelRestartReplacements();
    for (const auto& [path, kind] : journalEntries) {
        if (kind != kJournalCreatedFile) {
            continue;
        }
        Log("RemoveInstallFiles: ", path.c_str());
        // A file that is gone already (the server's usbd.sys copy, or one
        // someone else removed) is done; asking for a restart for it would
        // restart a machine for nothing.
        const DWORD error = DeleteFileA(path.c_str()) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND &&
            error != ERROR_PATH_NOT_FOUND) {
            // In use: the restart deletes it, and the user is told that one
            // is needed.
            DeleteAtRestart(path);
        }
        RollbackActionDone();
    }
}

void CInstaller::RollBackInstallFiles() {
    for (auto pair = fileBackups.begin(); pair != fileBackups.end();) {
        const std::string& target = pair->first;
        const std::string& backup = pair->second;
        Log("RollBackInstallFiles: ", target.c_str());
        if (!MoveFileExA(backup.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            MoveFileExA(backup.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
            RequireRestart();
        }
        // The backup is now either the target again or the only copy of the
        // user's file, waiting for the restart: off the record, so that
        // nothing that deletes backups could take it. That holds even if the
        // restart-time move could not be registered: then the backup is left
        // where it is rather than lost.
        pair = fileBackups.erase(pair);
        RollbackActionDone();
    }
}

void CInstaller::DeleteDirectory() {
    try {
        const std::vector<std::string> folders =
            JournalKeysOfKind(journalEntries, kJournalCreatedDirectory);
        RemoveCreatedFolders(
            folders,
            [this](const std::string& folder) {
                Log("DeleteDirectory: ", folder.c_str());
                RollbackActionDone();
            },
            // Not empty or in use: left as it is, without a word in the log.
            [](const std::string& folder) { return RemoveDirectoryA(folder.c_str()) != FALSE; });
        // A folder kept only by files the restart deletes goes after them,
        // innermost first: the restart that the user is asked for must leave
        // nothing of the product behind.
        std::vector<std::string> remaining;
        for (const std::string& folder : folders) {
            if (GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
                remaining.push_back(folder);
            }
        }
        for (const std::string& folder : FoldersToRemoveAtRestart(remaining, m_deletedAtRestart)) {
            DeleteAtRestart(folder);
        }
    } catch (const std::exception&) {
        // Out of memory for the list of folders: the folders stay, which a
        // rollback may do anyway.
        Log("Warning: DeleteDirectory stopped: out of memory");
    }
}

void CInstaller::DeleteInstalledFile(const char* folder, const char* name) {
    std::string path;
    try {
        path = JoinPath(AsText(folder), AsText(name));
    } catch (const std::exception&) {
        return;
    }
    Log("DeleteFile: ", path.c_str());
    const DWORD error = DeleteFileA(path.c_str()) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        // Gone: a created file has nothing left for rollback to do, and a
        // record of it would only be found missing there.
        const auto created = journalEntries.find(path);
        if (created != journalEntries.end() && created->second == kJournalCreatedFile) {
            journalEntries.erase(created);
        }
        return;
    }
    DeleteAtRestart(path);
}

void CInstaller::DeleteAtRestart(const std::string& path) {
    // The result is not looked at: nothing better can be done about it, and
    // the user is asked for the restart either way.
    MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    try {
        m_deletedAtRestart.push_back(path);
    } catch (const std::exception&) {
        // Its folder then stays after the restart, which is all this costs.
    }
    RequireRestart();
}
