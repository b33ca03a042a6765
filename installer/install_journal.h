// The install journal's tables: what the installer created or overwrote, kept
// so that a failed installation can be undone table by table. No Windows types
// here except in the class-filter table, which lives with CInstaller.
#pragma once

#include <cstdint>
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
};

struct SavedRegistryValue {
    std::string name;
    std::string data; // raw bytes; the size is the data's length
    uint32_t type = 0;
};

// Keys are compared byte by byte (std::string uses memcmp order): case matters,
// a prefix sorts before its extensions, and rollback walks every table in this
// ascending order. A key occurs once; recording it again replaces its value.
using JournalEntryTable = std::map<std::string, int32_t>;
// Overwritten target file -> its backup copy beside it.
using FileBackupTable = std::map<std::string, std::string>;
// Subkey below HKEY_LOCAL_MACHINE -> its saved values, in the order they were saved.
using RegistryBackupTable = std::map<std::string, std::vector<SavedRegistryValue>>;
