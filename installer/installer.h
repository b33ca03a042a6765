// CInstaller: the environment checks of a setup run and the primitive install
// operations, each of which records what it changed in the install journal so
// that a failed installation can be undone. CInstallProcess derives from it.
#pragma once

#include "folder_access.h"
#include "handles.h"
#include "install_journal.h"
#include "journal_file.h"
#include "packed_tools.h"
#include "setup_error.h"
#include "setup_log_api.h"
#include "system_changes.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A GUID in its registry form, "{36FC9E60-C465-11CF-8056-444553540000}".
bool ParseClassGuid(const std::string& text, GUID* guid);

// Device setup classes are told apart by their bytes; their order in the table
// does not matter to anyone.
struct GuidLess {
    bool operator()(const GUID& left, const GUID& right) const {
        return std::memcmp(&left, &right, sizeof left) < 0;
    }
};
// Device setup class -> name of the upper-filter driver added to it.
using ClassFilterTable = std::map<GUID, std::string, GuidLess>;

class CInstaller {
public:
    // Performs the start-up checks in a fixed order and throws CSetupError on
    // the first that fails, after logging which one. `logFile` stays owned by
    // the caller. The install process passes (log, FALSE, TRUE, FALSE, FALSE).
    CInstaller(HANDLE logFile, BOOL loadPackage, BOOL requireAdministrator, BOOL refuse32On64,
               BOOL captureSetupApiLog);
    // Releases the Service Control Manager, the journal, the log object and
    // the package reader. It deletes no backup and no journal file: what is
    // still on record when the installer goes was neither committed nor
    // rolled back, and the next start of setup recovers it from the journal.
    virtual ~CInstaller();
    CInstaller(const CInstaller&) = delete;
    CInstaller& operator=(const CInstaller&) = delete;

    // Whether BUILTIN\Administrators is among the process token's groups,
    // enabled or not.
    bool IsAdministrator() const;
    // Sets the Windows version class (os_version.h) and returns whether setup
    // may run on this Windows.
    bool DetectOsVersion();
    bool IsVistaOrLater() const;
    bool IsWindows10OrLater() const;
    // True for a 32-bit process on 64-bit Windows.
    bool IsWow64System() const;
    // Reads the package appended to the running program; returns the reader's
    // status (0 when loaded).
    int LoadPackage();

    // One setup-log line: `message` directly followed by `text`, if any. Never
    // throws and does nothing without a log object.
    void Log(const char* message, const char* text = nullptr);
    // `message` followed by "(0x%x)" of `code`.
    void LogCode(const char* message, uint32_t code);
    // Makes sure HKLM\...\CurrentVersion\RunOnce exists; ignores every failure.
    void EnsureRunOnceKey();

    CPackedTools* GetPackedTools() const { return m_pPackedTools.get(); }
    int GetOsVersionCode() const { return osVersionCode; }
    // Where operations store 1 when a restart is needed. The install procedure
    // points it at the application's flag before the first step; null points
    // it back at the installer's own flag.
    void SetRestartFlagPointer(int* flag) { m_pRestartFlag = flag ? flag : &m_nOwnRestartFlag; }
    int* GetRestartFlagPointer() const { return m_pRestartFlag; }

    // Journal recorders.
    void RecordCreatedFile(const std::string& path);
    void RecordCreatedDirectory(const std::string& path);

    // File operations. Failures throw CSetupError {installer, location,
    // GetLastError()}. `result` receives a name in `folder` that did not exist
    // a moment ago (the file itself is not kept).
    void MakeTempFileName(const char* prefix, const char* folder, std::string& result);
    // Copies folder\name to a new backup beside it and records the pair.
    void BackupFile(const char* name, const char* folder);
    // Writes `size` bytes to folder\name: a new file is journaled as created,
    // an existing one is backed up first, and one that is in use is written to
    // a temporary file that replaces it at the next restart.
    void InstallFile(const char* name, const char* folder, const void* data, uint32_t size);
    // Creates one folder (its parent must exist); an existing folder is
    // accepted and not recorded, so rollback never removes it. An existing
    // folder that is a link is refused (location 979): what is written into
    // it would land elsewhere.
    void MakeDirectory(const char* path);

    // Install folder protection (installer_security.cpp). Makes the install
    // folder as MakeDirectory does, but with an access list of its own
    // (SYSTEM and Administrators full control, Users read and execute,
    // nothing inherited), so no standard user can change the programs the
    // setup writes there and then starts. Refused, before anything is
    // written: a folder above that standard users can change (location 977)
    // or an existing folder that they can change (978), with
    // ERROR_ACCESS_DENIED, and an existing folder that is a link (979); each
    // with a log line naming the folder.
    void MakeProtectedDirectory(const char* path);
    // The first of the install folder itself (when it exists) and the folders
    // above it that users without administrator rights can change (add to,
    // remove, rename or re-permission); empty when there is none. A path that
    // is not full is returned as it is.
    std::string FindChangeableFolder(const std::string& installFolder);
    // Whether writing through the open file or the path would change a file
    // with another name too: a reparse point (symbolic link, junction) or a
    // file with more than one name (hard link). Undeterminable counts as yes.
    static bool IsLinkHandle(HANDLE file);
    static bool IsLinkPath(const std::string& path);

    // Shortcuts (installer_shortcuts.cpp). A shell link
    // shortcutFolder\shortcutName.lnk to targetFolder\targetFileName, started
    // in the target's folder, with the shortcut name as description, the
    // target's first icon and `arguments` (null for none). An existing link is
    // backed up before it is overwritten, so rollback puts it back; a new one
    // is journaled as created once it is saved, so rollback deletes it.
    // Failures throw CSetupError {installer, location of the failed step,
    // GetLastError()} and journal no link; an old link is put back at once,
    // or, when it is held open elsewhere, left to rollback through its backup.
    void CreateShortcut(const char* targetFileName, const char* targetFolder,
                        const char* shortcutFolder, const char* shortcutName,
                        const char* arguments);
    // The file CreateShortcut makes for a shortcut of that name there.
    static std::string ShortcutPath(const std::string& shortcutFolder,
                                    const std::string& shortcutName);
    // An Internet shortcut folder\fileName (".url" included) to `address`,
    // installed and journaled like any other file (InstallFile).
    void CreateUrlShortcut(const char* fileName, const char* folder, const char* address);

    // The commit: deletes every backup still on record and forgets the file and
    // registry backups. Failures are ignored. Only a successful installation
    // calls it; a rollback that leaves a backup to be moved back at restart
    // takes that backup off the record all the same.
    void DiscardBackups();

    // The durable journal (installer_journal_file.cpp). While one is open,
    // every operation here writes the record that undoes its change to disk,
    // and flushes it, before it makes the change; the tables above stay what
    // rollback walks, the file is their copy for a setup started after this
    // one was stopped. Without one (unpack mode, tests) nothing is written.
    //
    // The folder every journal lives in: below the Windows folder, where only
    // administrators may create anything, made with an access list that
    // admits SYSTEM and the Administrators only.
    static std::string JournalFolder();
    // Creates the journal file `path` (and its folder when missing) and writes
    // the beginning record with `places`. Throws CSetupError {installer, 1510,
    // error} when it cannot; an existing file is never overwritten.
    void BeginDurableJournal(const std::string& path, const JournalPlaces& places);
    // Appends one record and flushes it; throws {installer, 1511, error}.
    void WriteJournalRecord(const JournalRecord& record);
    // Before a step that makes many files and folders: the records of those
    // not there yet, written and flushed at once, so the step costs one flush
    // instead of one per creation. Each creation then finds its record
    // written; one that finds its name taken withdraws it. A record whose
    // creation never came is harmless: recovery passes over what is not
    // there.
    void AnnounceCreations(const std::vector<std::string>& folders,
                           const std::vector<std::string>& files);
    // The same for notes that must not stop anything (rollback's own).
    void TryWriteJournalRecord(const JournalRecord& record);
    bool HasDurableJournal() const { return bool(m_journalFile); }
    const std::string& GetJournalPath() const { return m_strJournalPath; }
    // Closes the journal and deletes it, and its folder when that is empty.
    void DeleteDurableJournal();
    // Closes the journal and leaves it for the next start of setup.
    void CloseDurableJournal();
    // Takes over an open journal file found at start-up, so that it stays
    // locked while it is rolled back and can be deleted afterwards.
    void AdoptDurableJournal(const std::string& path, UniqueFile file);
    // Fills the tables from a journal found at start-up, leaving out what is
    // undone already: created files and folders that are gone, backups that
    // were moved back. Backups begun for files that were never overwritten are
    // deleted here and now.
    void LoadRecoveredJournal(const ReplayedJournal& journal);
    // Forgets every table (after a recovery, before the installation).
    void ClearJournalTables();

    // File rollback walkers (installer_files.cpp), in journal key order; none
    // throws and every entry is attempted. What cannot be done now is left to
    // the next restart and sets the restart flag.
    // Deletes every file the installer created.
    void RemoveInstallFiles();
    // Moves every backup back over its target. A pair is taken off the record
    // once its backup was moved back or its move scheduled for the restart, so
    // the commit never deletes the only copy of a user's file.
    void RollBackInstallFiles();
    // Removes every folder the installer created, as far as it is empty.
    void DeleteDirectory();
    // Takes the restart-time replacements of files in use off the system's
    // list again; their temporary files are deleted as created files.
    void CancelRestartReplacements();
    // Deletes folder\name now or at the next restart; a missing file is no
    // error. Journals nothing, and a created file that is gone now leaves the
    // journal, so rollback has nothing left to do for it.
    void DeleteInstalledFile(const char* folder, const char* name);

    // Registry (installer_registry.cpp). Subkeys are below HKEY_LOCAL_MACHINE,
    // in the registry view of this 32-bit process.
    // Saves the current data of value `valueName` of `subkey` so that rollback
    // writes it back; true when there was a value to save. Only the first save
    // of a value counts: it holds what was there before the installation.
    bool SaveRegistryValue(const char* subkey, const char* valueName);
    void RecordRegistryValue(const std::string& subkey, const SavedRegistryValue& value);
    // Saves that value `valueName` of `subkey` did not exist, so that rollback
    // deletes it again.
    void SaveAbsentRegistryValue(const char* subkey, const char* valueName);
    // Rollback walker: writes every saved value back (deletes the ones that
    // were not there), then forgets them; then deletes the keys the
    // installer created.
    void RestoreRegistryValues();
    // The product's entry in the list of installed programs, below HKLM.
    static std::string UninstallKey(const std::string& productCode);
    // The product's entry in the list of installed programs: six REG_SZ values
    // under ...\CurrentVersion\Uninstall\<productCode>. Silent: a key or value
    // that cannot be written leaves the entry incomplete.
    void WriteUninstallRegistration(const char* productCode, const char* installLocation,
                                    const char* startMenuLocation, const char* uninstallerName,
                                    const char* displayName, const char* displayVersion,
                                    const char* publisher);

    // Drivers and services (installer_drivers.cpp). None of these throws: a
    // failure is logged where it says so and ends the operation with false,
    // and a change that needs a restart sets the restart flag.
    //
    // Installs section `section` of the INF at `infPath` (files, registry, INI,
    // registrations, then the section's ".Services"); true only when every
    // step succeeded. A section other than "DefaultUninstall" journals the INF
    // (so rollback runs its "DefaultUninstall" section) and every service its
    // ".Services" section created.
    bool InstallFromInf(const char* infPath, const char* section);
    // Takes `filterName` out of the class's UpperFilters, every occurrence in
    // any letter case; removing the last entry deletes the value.
    bool UninstallClassFilterDriver(const GUID& classGuid, const char* filterName);
    // Stops the service (waiting up to 10 s) and deletes it; true when it
    // could be opened, whatever stopping and deleting achieved.
    bool UninstallService(const char* serviceName);
    // Removes every present device carrying `hardwareId` (exact case); true
    // when one was removed without needing a restart.
    bool UninstallWdmDriver(const char* hardwareId);
    // Recorders for what those operations undo; recording a key again
    // replaces its kind, recording a class again replaces its filter name.
    void RecordService(const std::string& serviceName);
    void RecordDevice(const std::string& hardwareId);
    void RecordInfInstall(const std::string& infPath);
    void RecordClassFilter(const GUID& classGuid, const std::string& filterName);
    void RecordDriverStoreInf(const std::string& infPath);

    // What a program outside the engine (the child installer) changes, found
    // by comparing facts (installer_system_facts.cpp): services, the upper
    // filters of the device setup classes given as "{GUID}" texts, the files
    // of the driver store (published INFs and catalogues) and present devices.
    SystemFacts TakeSystemFacts(const std::vector<std::string>& classGuids);
    // Journals each change, with a "Record ...: " log line, so that the
    // rollback walkers undo it: new services, class filters, driver-store
    // INFs (their uninstall section, then out of the store), other new store
    // files and folders (deleted) and new root devices.
    void JournalSystemChanges(const SystemChanges& changes);
    // Rollback walkers, in key order; results are ignored and every entry is
    // attempted.
    void RunInfDefaultUninstall();
    void RemoveClassFilters();
    void RemoveServicesAndDevices();
    // Takes an INF this run added out of the driver store again, its
    // precompiled form and catalogue with it where the system does that.
    void RemoveFromDriverStore(const std::string& infPath);

    const JournalEntryTable& GetJournalEntries() const { return journalEntries; }
    const FileBackupTable& GetFileBackups() const { return fileBackups; }
    const RegistryBackupTable& GetRegistryBackups() const { return registryBackups; }
    const ClassFilterTable& GetClassFilters() const { return classFilters; }
    const std::vector<RestartReplacement>& GetRestartReplacements() const {
        return restartReplacements;
    }

protected:
    // Stores 1 through the restart flag pointer and logs the reboot warning.
    void RequireRestart();
    // Counts one undo action of a rollback walker and tells the observer.
    void RollbackActionDone();
    SC_HANDLE GetServiceManager() const { return m_scManager.get(); }

    // Members are destroyed in reverse order of declaration, which is the
    // order teardown needs: the Service Control Manager is closed first, then
    // the journal tables go, then the log object, and the package reader last.
    int* m_pRestartFlag = nullptr;
    int osVersionCode = -1;
    std::unique_ptr<CPackedTools> m_pPackedTools;
    std::unique_ptr<CSetupLogApi> m_pLog;
    ClassFilterTable classFilters;
    JournalEntryTable journalEntries;
    FileBackupTable fileBackups;
    RegistryBackupTable registryBackups;
    std::vector<RestartReplacement> restartReplacements;
    UniqueScHandle m_scManager;

private:
    using GetSystemWow64DirectoryAProc = UINT(WINAPI*)(LPSTR, UINT);

    // Throws {kModuleInstaller, location, code}, first logging `logLine` if given.
    [[noreturn]] void Fail(uint16_t location, uint32_t code, const char* logLine = nullptr);
    // Throws the package reader's status word as {high word, low word, 1359}.
    [[noreturn]] static void FailWithPackageStatus(int status);
    void OpenServiceManager();
    void LookUpWow64Probe();
    // The in-use branch of InstallFile: the data goes to a journaled temporary
    // file that the system moves over `target` at the next restart.
    void ReplaceAtRestart(const char* name, const char* folder, const std::string& target,
                          const void* data, uint32_t size);

    // An existing folder that is a link fails the step (location 979).
    void RefuseLinkedFolder(const char* path);
    // Schedules the deletion of `path` for the next restart, notes it for
    // the folders that must follow it, and asks for the restart.
    void DeleteAtRestart(const std::string& path);
    // Writes `bytes` at the journal's end and flushes them to disk.
    bool AppendToJournal(const std::string& bytes);
    // Appends `records` with one flush; throws {installer, 1511, error}.
    void WriteJournalRecords(const std::vector<JournalRecord>& records);
    // The record of a creation about to be made, unless it was announced.
    void JournalCreation(uint16_t kind, const std::string& path);
    // An announced creation whose name turned out to be taken is not ours.
    void WithdrawAnnouncement(const std::string& path);

    UniqueHmodule m_kernel32;
    GetSystemWow64DirectoryAProc m_pWow64Probe = nullptr;
    int m_nOwnRestartFlag = 0;
    // What this run left to the next restart to delete; a created folder
    // holding one of them has to go at the restart too.
    std::vector<std::string> m_deletedAtRestart;
    UniqueFile m_journalFile;
    std::string m_strJournalPath;
    uint32_t m_nJournalRecords = 0;
    uint32_t m_nRollbackActions = 0;
    // Announced creations whose operation has not come yet.
    std::set<std::string> m_announced;
};
