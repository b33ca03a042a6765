// The durable copy of the install journal: a file of records, each written and
// flushed before the change to the machine that it undoes, so that an
// installation stopped by a power cut or a killed process can still be rolled
// back when setup starts the next time. Pure byte and path work, built and
// tested natively; the installer does the file I/O.
//
// File layout: the 8-byte signature "CVJRNL\r\n", a 32-bit format version,
// then records back to back. One record:
//
//     u32 size       bytes of kind, flags, field count and fields
//     u16 kind       JournalRecordKind
//     u16 flags      kRecordMaySkip: a reader that does not know the kind may
//                    pass over it; without it such a reader must refuse the file
//     u16 count      number of fields
//     fields         each a u32 length and that many bytes
//     u32 crc        CRC-32 of everything from size up to the last field
//
// All numbers little-endian. New kinds get new numbers; numbers are never
// reassigned. A record that is only written in part is the last one in the
// file (records are appended and flushed one by one): it ends the journal and
// the change it announced was never begun.
#pragma once

#include "install_journal.h"
#include "system_changes.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kJournalSignature[] = "CVJRNL\r\n"; // 8 bytes, no terminator written
inline constexpr uint32_t kJournalFormatVersion = 1;

enum JournalRecordKind : uint16_t {
    // First record: product code, install folder, Start-menu folder, common
    // desktop folder, Quick Launch folder: the places this installation may
    // write to. A journal that names anything outside them is refused.
    kRecordBegin = 1,
    kRecordCreatedFolder = 2,       // path; about to be created
    kRecordCreatedFile = 3,         // path; about to be created
    kRecordBackupStarted = 4,       // target, backup; the copy is about to be made
    kRecordOverwriteStarted = 5,    // target; its backup is complete and on disk
    kRecordRegistryKeyCreated = 6,  // subkey below HKLM; about to be created
    kRecordRegistryValueSaved = 7,  // subkey, value name, type (u32), data
    kRecordRegistryValueAbsent = 8, // subkey, value name; did not exist before
    kRecordRestartReplacement = 9,  // temporary file, target; moved at the restart
    kRecordWithdrawn = 10,          // path of an earlier record that was not ours after all
    kRecordCitrixRegistered = 11,   // the Citrix support is about to be registered
    kRecordRollbackStarted = 12,
    kRecordCommitted = 13, // the installation succeeded; only the backups remain to go
    // What the child installer registered, found once it ended (it is a
    // program of its own, so these come after its changes, at once):
    kRecordService = 14,        // service name; deleted again
    kRecordDevice = 15,         // hardware id; its devices removed again
    kRecordInfInstall = 16,     // INF path; its DefaultUninstall section runs
    kRecordDriverStoreInf = 17, // published INF; uninstalled, then out of the store
    kRecordClassFilter = 18,    // class "{GUID}", filter name; taken off the UpperFilters
    // The driver store's new catalogues and folders come as kRecordCreatedFile
    // and kRecordCreatedFolder.
    // The child installer is about to start: the machine's facts before it
    // (EncodeSystemFacts, five fields), so that a setup stopped while it ran
    // can still tell what it changed.
    kRecordChildStarting = 19,
    // The child installer ended: what it changed (EncodeSystemChanges, six
    // fields), all undone by rollback.
    kRecordChildChanges = 20,
};

inline constexpr uint16_t kRecordMaySkip = 1;

struct JournalRecord {
    uint16_t kind = 0;
    uint16_t flags = 0;
    std::vector<std::string> fields;
};

// The signature and the format version: what a journal file begins with.
std::string EncodeJournalHeader();
std::string EncodeJournalRecord(const JournalRecord& record);
JournalRecord MakeJournalRecord(uint16_t kind, std::initializer_list<std::string_view> fields);
// A 32-bit number as a 4-byte field, and back (false unless exactly 4 bytes).
std::string EncodeJournalNumber(uint32_t value);
bool DecodeJournalNumber(const std::string& field, uint32_t* value);

uint32_t JournalCrc32(const void* data, size_t size);

struct DecodedJournal {
    // Empty when the file is readable; otherwise why it is not.
    std::string problem;
    std::vector<JournalRecord> records;
    // The last record was written only in part and was left out.
    bool unfinishedTail = false;
    // Bytes up to the end of the last whole record: where the next one goes.
    size_t wholeBytes = 0;
};

// Reads a whole journal file. A broken record counts as unfinished only at the
// very end of the file (a size that runs past the end, a bad check sum on the
// last record, or nothing but zero bytes left); anywhere else the file is
// damaged, and so is a file with another signature or format version.
DecodedJournal DecodeJournalFile(std::string_view bytes);

struct JournalPlaces {
    std::string productCode;
    std::string installFolder;
    std::string startMenuFolder;
    std::string desktopFolder;
    std::string quickLaunchFolder;
};

struct RestartReplacement {
    std::string temporary;
    std::string target;
};

// The journal's tables as the records leave them.
struct ReplayedJournal {
    JournalPlaces places;
    JournalEntryTable entries;
    // Overwritten targets and their complete backups.
    FileBackupTable backups;
    // Backups begun for targets that were not touched yet: only the backup
    // file (complete or not) is to be removed.
    FileBackupTable unfinishedBackups;
    RegistryBackupTable registry;
    std::vector<RestartReplacement> restartReplacements;
    // Device setup class "{GUID}" (as recorded) and the filter added to it.
    std::map<std::string, std::string> classFilters;
    // The child installer started but its changes were never recorded: what
    // it changed is what differs from `childBefore` now.
    bool childRunning = false;
    SystemFacts childBefore;
    bool citrixRegistered = false;
    bool rollbackStarted = false;
    bool committed = false;
};

// Applies the records in order. False, with the reason in `problem`, when they
// do not form one installation's journal: no beginning record first, a second
// one, a record with the wrong number of fields, an overwrite without its
// backup, or a kind this program does not know that may not be passed over.
bool ReplayJournal(const std::vector<JournalRecord>& records, ReplayedJournal* journal,
                   std::string* problem);

// What the recovering setup knows of the machine and of its own product.
struct MachinePlaces {
    std::string productCode;
    std::string uninstallKey; // below HKLM, as the installer writes it
    std::string windowsFolder;
    std::string commonPrograms;
    std::string commonDesktop;
    // The device setup classes ("{GUID}") whose upper filters the product's
    // child installer may change.
    std::vector<std::string> deviceClasses;
};

// Whether every path and key of the journal lies where an installation of this
// product writes: files and folders in its install folder or its Start-menu
// folder (inside the machine's common Programs folder), shortcuts directly on
// the common desktop or in a Quick Launch folder, backups beside their targets
// as .tmp files, registry keys and values only in the product's uninstall key;
// the driver store's files only as published INFs (and their ".pnf") directly
// in the Windows folder's inf folder and catalogues below
// system32\catroot; class filters only in the product's device classes;
// services and devices only by plain names.
// An install folder must be a full local or network path below a root that
// does not hold the Windows folder. False, with the first offending path in
// `problem`, otherwise.
bool CheckJournalPlaces(const ReplayedJournal& journal, const MachinePlaces& machine,
                        std::string* problem);

// A full path of the form X:\a\b or \\server\share\a: no empty, "." or ".."
// parts, no forward slashes, control characters or colons past the drive,
// no trailing backslash, shorter than MAX_PATH.
bool IsCleanFullPath(std::string_view path);
// `path` is `folder` itself or lies below it (ASCII letters compared without
// regard to case).
bool IsSameOrInsideFolder(std::string_view path, std::string_view folder);
