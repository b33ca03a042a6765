// Shortcuts: shell links made by the shell's own COM link object, and Internet
// shortcuts, which are small text files installed like any other file.
#include "installer.h"

#include "file_names.h"
#include "handles.h"

#include <objbase.h>
#include <shlobj.h>

#include <optional>

namespace {

constexpr char kInternetShortcutHead[] = "[InternetShortcut]\r\nURL=";

const char* AsText(const char* text) {
    return text ? text : "";
}

// Which step failed, with the system's error code as it was right then: the
// interfaces are released and COM is left before the error is thrown, and
// either may change the thread's last error.
struct StepFailure {
    uint16_t location;
    DWORD code;
};

StepFailure FailedAt(uint16_t location) {
    return StepFailure{location, GetLastError()};
}

// Steps 4 to 11 of a shell link, inside the caller's COM apartment. The
// interfaces are released on the way out, before the caller leaves COM.
std::optional<StepFailure> SaveShellLink(const std::string& linkPath, const std::string& targetPath,
                                         const char* targetFolder, const char* description,
                                         const char* arguments) {
    ComPtr<IShellLinkA> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                link.put_void()))) {
        return FailedAt(1071);
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link.QueryInterface(IID_IPersistFile, &file))) {
        return FailedAt(1075);
    }
    if (FAILED(link->SetPath(targetPath.c_str()))) {
        return FailedAt(1079);
    }
    if (FAILED(link->SetDescription(description))) {
        return FailedAt(1085);
    }
    if (arguments != nullptr) {
        // A link without its arguments still starts the program.
        link->SetArguments(arguments);
    }
    if (FAILED(link->SetWorkingDirectory(targetFolder))) {
        return FailedAt(1097);
    }
    if (FAILED(link->SetIconLocation(targetPath.c_str(), 0))) {
        return FailedAt(1102);
    }
    // Save takes the only wide string. A path that does not fit (or does not
    // convert) must not be saved cut short somewhere else: it fails as the
    // save itself would.
    wchar_t widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH) == 0) {
        return FailedAt(1113);
    }
    if (FAILED(file->Save(widePath, FALSE))) {
        return FailedAt(1113);
    }
    return std::nullopt;
}

} // namespace

std::string CInstaller::ShortcutPath(const std::string& shortcutFolder,
                                     const std::string& shortcutName) {
    return JoinPath(shortcutFolder, shortcutName + ".lnk");
}

void CInstaller::CreateShortcut(const char* targetFileName, const char* targetFolder,
                                const char* shortcutFolder, const char* shortcutName,
                                const char* arguments) {
    const std::string linkName = std::string(AsText(shortcutName)) + ".lnk";
    const std::string linkPath = ShortcutPath(AsText(shortcutFolder), AsText(shortcutName));
    const std::string targetPath = JoinPath(AsText(targetFolder), AsText(targetFileName));
    Log("CreateShortcuts: ", linkPath.c_str());

    // A link already there (an earlier installation's, or the user's own) is
    // saved over, so it is backed up first as any overwritten file is: a
    // rollback that deleted it would not leave the machine as it was. A link
    // this run already made or backed up is covered as it is.
    const DWORD attributes = GetFileAttributesA(linkPath.c_str());
    const auto created = journalEntries.find(linkPath);
    const bool covered =
        fileBackups.count(linkPath) != 0 ||
        (created != journalEntries.end() && created->second == kJournalCreatedFile);
    bool backedUpNow = false;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        WithdrawAnnouncement(linkPath);
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !covered) {
        BackupFile(linkName.c_str(), AsText(shortcutFolder));
        backedUpNow = true;
        WriteJournalRecord(MakeJournalRecord(kRecordOverwriteStarted, {linkPath}));
    } else if (attributes == INVALID_FILE_ATTRIBUTES) {
        // The table records a new link only once it is saved; the journal on
        // disk must know of it before the save can leave anything there.
        JournalCreation(kRecordCreatedFile, linkPath);
    }

    std::optional<StepFailure> failure;
    {
        // Entered and left around every link: the install worker thread has
        // no apartment of its own otherwise. A thread that is already in one
        // gets S_FALSE, which is balanced the same way.
        ComInitScope com;
        if (!com.succeeded()) {
            failure = FailedAt(1063);
        } else {
            failure = SaveShellLink(linkPath, targetPath, AsText(targetFolder),
                                    AsText(shortcutName), arguments);
        }
        if (!failure && fileBackups.count(linkPath) == 0) {
            // New: rollback deletes it. One with a backup is put back instead.
            RecordCreatedFile(linkPath);
        }
    }
    if (failure) {
        // A save that failed may have cut the old link short first, so its
        // backup goes back over it now, and then nothing of the attempt is
        // left. A link held open elsewhere cannot be replaced: its backup
        // stays on record, and rollback (or the commit) deals with it.
        if (backedUpNow) {
            const auto backup = fileBackups.find(linkPath);
            if (backup != fileBackups.end() &&
                MoveFileExA(backup->second.c_str(), linkPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                fileBackups.erase(backup);
            }
        }
        throw CSetupError{kModuleInstaller, failure->location, failure->code};
    }
}

void CInstaller::CreateUrlShortcut(const char* fileName, const char* folder, const char* address) {
    // No line break after the address and no terminating zero byte.
    const std::string content = kInternetShortcutHead + std::string(AsText(address));
    InstallFile(fileName, folder, content.data(), uint32_t(content.size()));
}
