// Recovery of an installation that was stopped before its end: a power cut, a
// killed setup, a crash the install worker could not survive. Its journal is
// still on disk; the next start of setup rolls it back (or finishes its
// commit) before it does anything else.
#include "install_process.h"

#include "install_observer.h"
#include "product_profile.h"
#include "seh_guard.h"

#include <shlobj.h>

#include <exception>
#include <string>

namespace {

// Journals are small (a few kilobytes); anything past this is not one.
constexpr DWORD kLargestJournal = 64u << 20;

bool ReadWholeFile(HANDLE file, std::string* bytes) {
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kLargestJournal) {
        return false;
    }
    bytes->assign(size_t(size.QuadPart), '\0');
    DWORD total = 0;
    while (total < bytes->size()) {
        DWORD got = 0;
        if (!ReadFile(file, &(*bytes)[total], DWORD(bytes->size() - total), &got, nullptr) ||
            got == 0) {
            return false;
        }
        total += got;
    }
    return true;
}

std::string SpecialFolder(int id) {
    char folder[MAX_PATH] = {};
    return SHGetSpecialFolderPathA(nullptr, folder, id, FALSE) ? std::string(folder)
                                                               : std::string();
}

MachinePlaces ThisMachine() {
    MachinePlaces machine;
    machine.productCode = CurrentProfile().productCode;
    machine.uninstallKey = CInstaller::UninstallKey(machine.productCode);
    char windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryA(windows, sizeof windows);
    if (length != 0 && length < sizeof windows) {
        machine.windowsFolder.assign(windows, length);
    }
    machine.commonPrograms = SpecialFolder(CSIDL_COMMON_PROGRAMS);
    machine.commonDesktop = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    const ProductProfile& profile = CurrentProfile();
    machine.deviceClasses.assign(profile.deviceClasses.begin(), profile.deviceClasses.end());
    return machine;
}

} // namespace

void CInstallProcess::RecoverInterruptedInstallation() {
    std::string path;
    try {
        path = JournalPath();
    } catch (const std::exception&) {
        return;
    }
    if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    Log("=== Recovery process ===");
    Log("Journal: ", path.c_str());
    EXCEPTION_RECORD fault = {};
    bool finished = false;
    try {
        finished = RunGuarded(
            [&] {
                // Held without sharing while it is read and rolled back: a
                // second setup started meanwhile must not act on it too.
                UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (!file) {
                    const DWORD error = GetLastError();
                    if (error == ERROR_SHARING_VIOLATION) {
                        Log("Warning: journal in use by another setup, left alone");
                    } else {
                        LogCode("Error: journal cannot be opened ", error);
                    }
                    return;
                }
                std::string bytes;
                if (!ReadWholeFile(file.get(), &bytes)) {
                    LogCode("Error: journal cannot be read ", GetLastError());
                    return;
                }
                const DecodedJournal decoded = DecodeJournalFile(bytes);
                if (decoded.problem.empty() && decoded.records.empty()) {
                    // Stopped while its first record was written: no change
                    // can have been made.
                    Log("Journal holds no whole record, nothing to undo");
                    AdoptDurableJournal(path, std::move(file));
                    DeleteDurableJournal();
                    Log("=== Recovery finished ===");
                    return;
                }
                ReplayedJournal journal;
                std::string problem = decoded.problem;
                if (problem.empty()) {
                    ReplayJournal(decoded.records, &journal, &problem);
                }
                if (problem.empty()) {
                    CheckJournalPlaces(journal, ThisMachine(), &problem);
                }
                if (!problem.empty()) {
                    file.reset();
                    RefuseJournal(path, problem);
                    return;
                }
                if (decoded.unfinishedTail) {
                    // Cut off, so that what recovery itself appends follows
                    // the last whole record.
                    Log("Journal ends in a record that was never finished");
                    LARGE_INTEGER end = {};
                    end.QuadPart = LONGLONG(decoded.wholeBytes);
                    if (!SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) ||
                        !SetEndOfFile(file.get())) {
                        LogCode("Error: journal cannot be cut back ", GetLastError());
                        return;
                    }
                }
                AdoptDurableJournal(path, std::move(file));
                if (RollBackRecoveredJournal(journal)) {
                    DeleteDurableJournal();
                    Log("=== Recovery finished ===");
                } else {
                    Log("Warning: recovery incomplete, its journal is kept for the next start: ",
                        path.c_str());
                    CloseDurableJournal();
                }
            },
            &fault);
        if (!finished) {
            LogCode("Warning: recovery stopped by an exception ", fault.ExceptionCode);
        }
    } catch (...) {
        Log("Warning: recovery stopped by an error");
    }
    // Whatever happened, the installation that may follow starts afresh; a
    // journal that is still open is closed and stays for the next start.
    CloseDurableJournal();
    ClearJournalTables();
    m_bRecovering = false;
    SetRestartFlagPointer(nullptr);
    NotifyInstallObserver(InstallEvent::kRecoveryDone, 0);
}

bool CInstallProcess::RollBackRecoveredJournal(const ReplayedJournal& journal) {
    if (journal.committed) {
        // Every step had been done; only the backups were left to delete.
        Log("Recovery: the installation was complete, its backups are removed");
        for (const FileBackupTable* table : {&journal.backups, &journal.unfinishedBackups}) {
            for (const auto& [target, backup] : *table) {
                if (GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES) {
                    Log("RemoveBackup: ", backup.c_str());
                    DeleteFileA(backup.c_str());
                }
            }
        }
        return true;
    }
    Log(journal.rollbackStarted ? "Recovery: finishing the rollback of an interrupted installation"
                                : "Recovery: rolling back an interrupted installation");
    Log("Install folder: ", journal.places.installFolder.c_str());
    // Restart-time work is left to the restart and logged; it does not make
    // this run ask for one.
    SetRestartFlagPointer(nullptr);
    m_bRecovering = true;
    m_bRecoveredCitrix = journal.citrixRegistered;
    m_strRecoveredInstallDir = journal.places.installFolder;
    LoadRecoveredJournal(journal);
    if (journal.childRunning) {
        // Stopped while the child installer ran: what it had changed by then
        // is what the machine holds beyond the facts taken before it.
        Log("Recovery: the child installer was running; its changes are looked for");
        const ProductProfile& profile = CurrentProfile();
        const std::vector<std::string> classes(profile.deviceClasses.begin(),
                                               profile.deviceClasses.end());
        JournalSystemChanges(CompareSystemFacts(journal.childBefore, TakeSystemFacts(classes)));
    }
    Log("=== Rollback process ===");
    return PerformRollbackSteps(false);
}

void CInstallProcess::RefuseJournal(const std::string& path, const std::string& problem) {
    Log("Error: journal refused, nothing is undone: ", problem.c_str());
    // Set aside, not deleted: it is evidence, and it must not block the next
    // installation's own journal.
    const std::string aside = path + ".refused";
    if (MoveFileExA(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Log("Journal set aside as: ", aside.c_str());
    } else {
        LogCode("Warning: journal cannot be set aside ", GetLastError());
    }
}
