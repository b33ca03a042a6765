// The install journal's tables: what the installer created or overwrote, kept
// so that a failed installation can be undone table by table. No Windows types
// here except in the class-filter table, which lives with CInstaller.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The kind stored with each journal key. 2 and 3 are unused but reserved:
// numbers are never reassigned.
enum JournalKind : int32_t {
    kJournalCreatedDirectory = 0, // key: full path of a folder the installer created
    kJournalCreatedFile = 1,      // key: full path of a file the installer created
    kJournalService = 4,          // key: service name
    kJournalDevice = 5,           // key: device hardware id
    kJournalInfFile = 6,          // key: full path of an INF file
    kJournalRegistryKey = 7,      // key: subkey below HKEY_LOCAL_MACHINE the installer created
    // key: full path of an INF this installation added to the driver store;
    // its uninstall section runs, then it leaves the store again
    kJournalDriverStoreInf = 8,
};

struct SavedRegistryValue {
    std::string name;
    std::string data; // raw bytes; the size is the data's length
    uint32_t type = 0;
    // The value did not exist before the installation: rollback deletes it.
    bool absent = false;
};

// Keys are compared byte by byte (std::string uses memcmp order): case matters,
// a prefix sorts before its extensions, and rollback walks every table in this
// ascending order. A key occurs once; recording it again replaces its value.
using JournalEntryTable = std::map<std::string, int32_t>;
// Overwritten target file -> its backup copy beside it.
using FileBackupTable = std::map<std::string, std::string>;
// Subkey below HKEY_LOCAL_MACHINE -> its saved values, in the order they were saved.
using RegistryBackupTable = std::map<std::string, std::vector<SavedRegistryValue>>;

// The keys of the entries of `kind`, in the table's order.
std::vector<std::string> JournalKeysOfKind(const JournalEntryTable& journal, int32_t kind);

// Removes the folders the installer created. Each folder is announced and
// tried in the order given (the journal's, which the setup log shows), but in
// that order a folder comes before the folders inside it and is still not
// empty at its turn; so every folder that could not be removed is tried once
// more afterwards, innermost first. `remove` returns whether the folder went.
// Nothing is announced twice; what still cannot be removed is left.
void RemoveCreatedFolders(const std::vector<std::string>& folders,
                          const std::function<void(const std::string&)>& announce,
                          const std::function<bool(const std::string&)>& remove);

// Adds `value` to the saved values of `subkey`, unless a value of the same name
// (names are compared without regard to ASCII letter case, as the registry
// does) was saved there already: the first save holds what was there before
// the installation, and rollback writes the saved values back in list order,
// so a later save would win. Returns whether the value was added.
bool AddSavedRegistryValue(RegistryBackupTable& table, const std::string& subkey,
                           SavedRegistryValue value);

// The created folders that rollback could not remove and that must go at the
// restart instead: those holding something that itself goes at the restart
// (`goingAtRestart`: files, and folders found here). Innermost first, the
// order in which the restart has to remove them; a folder that holds anything
// else stays (a user's file keeps its folder).
std::vector<std::string> FoldersToRemoveAtRestart(const std::vector<std::string>& remainingFolders,
                                                  std::vector<std::string> goingAtRestart);
