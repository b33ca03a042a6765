#include "journal_file.h"

#include "ascii_case.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr size_t kSignatureSize = 8;
constexpr size_t kHeaderSize = kSignatureSize + 4;
// Far above any record the installer writes (registry data included); a size
// beyond it is not a record at all.
constexpr uint32_t kMaxRecordSize = 16u << 20;
constexpr uint16_t kMaxFields = 64;

void PutU16(std::string& out, uint16_t value) {
    out.push_back(char(value & 0xFF));
    out.push_back(char(value >> 8));
}

void PutU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(char((value >> shift) & 0xFF));
    }
}

uint32_t GetU32(std::string_view bytes, size_t offset) {
    uint32_t value = 0;
    for (int index = 3; index >= 0; --index) {
        value = value << 8 | uint8_t(bytes[offset + size_t(index)]);
    }
    return value;
}

uint16_t GetU16(std::string_view bytes, size_t offset) {
    return uint16_t(uint8_t(bytes[offset]) | uint8_t(bytes[offset + 1]) << 8);
}

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t index = 0; index < 256; ++index) {
            uint32_t value = index;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
            }
            entries[index] = value;
        }
        return entries;
    }();
    return table;
}

// Parses the body of one record (after its size field, before its check sum).
bool ParseRecordBody(std::string_view body, JournalRecord* record) {
    if (body.size() < 6) {
        return false;
    }
    record->kind = GetU16(body, 0);
    record->flags = GetU16(body, 2);
    const uint16_t count = GetU16(body, 4);
    if (count > kMaxFields) {
        return false;
    }
    size_t offset = 6;
    for (uint16_t index = 0; index < count; ++index) {
        if (body.size() - offset < 4) {
            return false;
        }
        const uint32_t length = GetU32(body, offset);
        offset += 4;
        if (body.size() - offset < length) {
            return false;
        }
        record->fields.emplace_back(body.substr(offset, length));
        offset += length;
    }
    return offset == body.size();
}

bool OnlyZeros(std::string_view bytes) {
    for (char byte : bytes) {
        if (byte != 0) {
            return false;
        }
    }
    return true;
}

// The folder part of a clean full path ("" for a root or a path without one).
std::string_view ParentOf(std::string_view path) {
    const size_t last = path.rfind('\\');
    return last == std::string_view::npos ? std::string_view() : path.substr(0, last);
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           EqualsIgnoringAsciiCase(text.substr(text.size() - end.size()), end);
}

// The number of parts below the root: 0 for "C:" or "\\server\share".
size_t PartsBelowRoot(std::string_view path) {
    size_t parts = 0;
    for (char c : path) {
        parts += c == '\\' ? 1 : 0;
    }
    // "\\server\share\x" has four backslashes for one part below its root.
    return path.substr(0, 2) == "\\\\" ? (parts >= 3 ? parts - 3 : 0) : parts;
}

class PlaceChecker {
public:
    PlaceChecker(const ReplayedJournal& journal, const MachinePlaces& machine, std::string* problem)
        : m_places(journal.places), m_machine(machine), m_problem(problem) {}

    bool Places() {
        const JournalPlaces& places = m_places;
        if (places.productCode != m_machine.productCode) {
            return Refuse("journal of another product: ", places.productCode);
        }
        if (!IsCleanFullPath(places.installFolder) || PartsBelowRoot(places.installFolder) == 0 ||
            (!m_machine.windowsFolder.empty() &&
             IsSameOrInsideFolder(m_machine.windowsFolder, places.installFolder))) {
            return Refuse("install folder not allowed: ", places.installFolder);
        }
        if (!places.startMenuFolder.empty() &&
            (!IsCleanFullPath(places.startMenuFolder) || m_machine.commonPrograms.empty() ||
             !IsStrictlyInside(places.startMenuFolder, m_machine.commonPrograms))) {
            return Refuse("Start-menu folder not allowed: ", places.startMenuFolder);
        }
        if (!places.desktopFolder.empty() &&
            !EqualsIgnoringAsciiCase(places.desktopFolder, m_machine.commonDesktop)) {
            return Refuse("desktop folder not allowed: ", places.desktopFolder);
        }
        if (!places.quickLaunchFolder.empty() &&
            (!IsCleanFullPath(places.quickLaunchFolder) ||
             !EndsWithIgnoringCase(places.quickLaunchFolder,
                                   "\\Microsoft\\Internet Explorer\\Quick Launch"))) {
            return Refuse("Quick Launch folder not allowed: ", places.quickLaunchFolder);
        }
        return true;
    }

    bool Folder(const std::string& path) {
        if (IsCleanFullPath(path) &&
            (IsSameOrInsideFolder(path, m_places.installFolder) ||
             InStartMenu(path, /*strictly=*/false) || IsSameOrInsideFolder(path, CatalogRoot()))) {
            return true;
        }
        return Refuse("folder outside the installation: ", path);
    }

    bool File(const std::string& path) {
        if (IsFileOfInstallation(path)) {
            return true;
        }
        return Refuse("file outside the installation: ", path);
    }

    // A file the child installer's driver package added to the driver store.
    bool StoreFile(const std::string& path) {
        if (IsPublishedInf(path, true) ||
            (IsCleanFullPath(path) && IsStrictlyInside(path, CatalogRoot()) &&
             EndsWithIgnoringCase(path, ".cat"))) {
            return true;
        }
        return Refuse("file outside the installation: ", path);
    }

    bool StoreInf(const std::string& path) {
        if (IsPublishedInf(path, false)) {
            return true;
        }
        return Refuse("INF outside the driver store: ", path);
    }

    // The engine's own INF installations run from the install folder.
    bool InstalledInf(const std::string& path) {
        if (IsCleanFullPath(path) && IsStrictlyInside(path, m_places.installFolder) &&
            EndsWithIgnoringCase(path, ".inf")) {
            return true;
        }
        return Refuse("INF outside the installation: ", path);
    }

    // Services and hardware ids: a name, not a path or a list.
    bool PlainName(const std::string& kind, const std::string& name) {
        const bool plain = !name.empty() && name.size() < 256 &&
                           std::none_of(name.begin(), name.end(), [&](char c) {
                               return static_cast<unsigned char>(c) < 0x20 ||
                                      (kind == "service " && (c == '\\' || c == '/'));
                           });
        return plain || Refuse(kind + "name not allowed: ", name);
    }

    bool ClassFilter(const std::string& classGuid, const std::string& filter) {
        const bool known =
            std::any_of(m_machine.deviceClasses.begin(), m_machine.deviceClasses.end(),
                        [&](const std::string& productClass) {
                            return EqualsIgnoringAsciiCase(productClass, classGuid);
                        });
        if (!known) {
            return Refuse("class filter of another device class: ", classGuid);
        }
        return PlainName("service ", filter);
    }

    bool Backup(const std::string& target, const std::string& backup) {
        if (!File(target)) {
            return false;
        }
        if (IsTemporaryBeside(backup, target)) {
            return true;
        }
        return Refuse("backup not beside its file: ", backup);
    }

    bool RegistryKey(const std::string& subkey) {
        if (EqualsIgnoringAsciiCase(subkey, m_machine.uninstallKey)) {
            return true;
        }
        return Refuse("registry key outside the installation: ", subkey);
    }

    bool Refuse(const std::string& reason, const std::string& what) {
        *m_problem = reason + what;
        return false;
    }

private:
    std::string CatalogRoot() const {
        return m_machine.windowsFolder.empty() ? std::string("\\?")
                                               : m_machine.windowsFolder + "\\system32\\catroot";
    }

    // An INF (or, with `precompiled`, its ".pnf" too) directly in the Windows
    // folder's inf folder, where SetupCopyOEMInf publishes: as "oem<n>.inf" on
    // Windows, under its own name on Wine.
    bool IsPublishedInf(const std::string& path, bool precompiled) const {
        if (m_machine.windowsFolder.empty() || !IsCleanFullPath(path) ||
            !EqualsIgnoringAsciiCase(ParentOf(path), m_machine.windowsFolder + "\\inf")) {
            return false;
        }
        return EndsWithIgnoringCase(path, ".inf") ||
               (precompiled && EndsWithIgnoringCase(path, ".pnf"));
    }

    static bool IsStrictlyInside(std::string_view path, std::string_view folder) {
        return path.size() > folder.size() && IsSameOrInsideFolder(path, folder);
    }

    bool InStartMenu(const std::string& path, bool strictly) const {
        if (m_places.startMenuFolder.empty()) {
            return false;
        }
        return strictly ? IsStrictlyInside(path, m_places.startMenuFolder)
                        : IsSameOrInsideFolder(path, m_places.startMenuFolder);
    }

    bool IsFileOfInstallation(const std::string& path) const {
        if (!IsCleanFullPath(path)) {
            return false;
        }
        if (IsStrictlyInside(path, m_places.installFolder) || InStartMenu(path, true)) {
            return true;
        }
        // Shortcuts lie directly on the desktop and in Quick Launch, as does
        // the backup of one that was there already.
        const std::string_view parent = ParentOf(path);
        const bool shortcutPlace = (!m_places.desktopFolder.empty() &&
                                    EqualsIgnoringAsciiCase(parent, m_places.desktopFolder)) ||
                                   (!m_places.quickLaunchFolder.empty() &&
                                    EqualsIgnoringAsciiCase(parent, m_places.quickLaunchFolder));
        return shortcutPlace &&
               (EndsWithIgnoringCase(path, ".lnk") || EndsWithIgnoringCase(path, ".tmp"));
    }

    bool IsTemporaryBeside(const std::string& temporary, const std::string& target) const {
        return IsFileOfInstallation(temporary) && EndsWithIgnoringCase(temporary, ".tmp") &&
               !EqualsIgnoringAsciiCase(temporary, target) &&
               EqualsIgnoringAsciiCase(ParentOf(temporary), ParentOf(target));
    }

    const JournalPlaces& m_places;
    const MachinePlaces& m_machine;
    std::string* m_problem;
};

} // namespace

uint32_t JournalCrc32(const void* data, size_t size) {
    const auto& table = CrcTable();
    uint32_t crc = 0xFFFFFFFFu;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t index = 0; index < size; ++index) {
        crc = table[(crc ^ bytes[index]) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

std::string EncodeJournalHeader() {
    std::string header(kJournalSignature, kSignatureSize);
    PutU32(header, kJournalFormatVersion);
    return header;
}

std::string EncodeJournalRecord(const JournalRecord& record) {
    std::string body;
    PutU16(body, record.kind);
    PutU16(body, record.flags);
    PutU16(body, uint16_t(record.fields.size()));
    for (const std::string& field : record.fields) {
        PutU32(body, uint32_t(field.size()));
        body += field;
    }
    std::string out;
    out.reserve(body.size() + 8);
    PutU32(out, uint32_t(body.size()));
    out += body;
    PutU32(out, JournalCrc32(out.data(), out.size()));
    return out;
}

JournalRecord MakeJournalRecord(uint16_t kind, std::initializer_list<std::string_view> fields) {
    JournalRecord record;
    record.kind = kind;
    for (std::string_view field : fields) {
        record.fields.emplace_back(field);
    }
    return record;
}

std::string EncodeJournalNumber(uint32_t value) {
    std::string out;
    PutU32(out, value);
    return out;
}

bool DecodeJournalNumber(const std::string& field, uint32_t* value) {
    if (field.size() != 4) {
        return false;
    }
    *value = GetU32(field, 0);
    return true;
}

DecodedJournal DecodeJournalFile(std::string_view bytes) {
    DecodedJournal decoded;
    if (bytes.size() < kHeaderSize) {
        // Stopped while the first record went out: nothing was begun yet.
        const std::string header = EncodeJournalHeader();
        if (OnlyZeros(bytes) || header.compare(0, bytes.size(), bytes) == 0) {
            decoded.unfinishedTail = true;
        } else {
            decoded.problem = "not a journal file";
        }
        return decoded;
    }
    if (std::memcmp(bytes.data(), kJournalSignature, kSignatureSize) != 0) {
        decoded.problem = "not a journal file";
        return decoded;
    }
    if (GetU32(bytes, kSignatureSize) != kJournalFormatVersion) {
        decoded.problem = "journal format version " + std::to_string(GetU32(bytes, kSignatureSize));
        return decoded;
    }
    size_t offset = kHeaderSize;
    while (offset < bytes.size()) {
        const std::string_view rest = bytes.substr(offset);
        if (OnlyZeros(rest)) {
            decoded.unfinishedTail = true;
            break;
        }
        if (rest.size() < 4) {
            decoded.unfinishedTail = true;
            break;
        }
        const uint32_t size = GetU32(rest, 0);
        if (size > kMaxRecordSize) {
            decoded.problem = "record of impossible size at byte " + std::to_string(offset);
            break;
        }
        if (rest.size() < size_t(size) + 8) {
            decoded.unfinishedTail = true;
            break;
        }
        const size_t total = 4 + size_t(size) + 4;
        const bool last = total == rest.size();
        JournalRecord record;
        if (GetU32(rest, 4 + size) != JournalCrc32(rest.data(), 4 + size) ||
            !ParseRecordBody(rest.substr(4, size), &record)) {
            if (last) {
                decoded.unfinishedTail = true;
            } else {
                decoded.problem = "damaged record at byte " + std::to_string(offset);
            }
            break;
        }
        decoded.records.push_back(std::move(record));
        offset += total;
    }
    decoded.wholeBytes = offset;
    if (!decoded.problem.empty()) {
        decoded.records.clear();
    }
    return decoded;
}

bool ReplayJournal(const std::vector<JournalRecord>& records, ReplayedJournal* journal,
                   std::string* problem) {
    *journal = ReplayedJournal();
    auto refuse = [problem](std::string reason) {
        *problem = std::move(reason);
        return false;
    };
    if (records.empty() || records.front().kind != kRecordBegin) {
        return refuse("no beginning record");
    }
    // Fields each kind carries; 0 for the kinds without fields.
    auto fieldsOf = [](uint16_t kind) -> int {
        switch (kind) {
        case kRecordBegin:
            return 5;
        case kRecordCreatedFolder:
        case kRecordCreatedFile:
        case kRecordOverwriteStarted:
        case kRecordRegistryKeyCreated:
        case kRecordWithdrawn:
        case kRecordService:
        case kRecordDevice:
        case kRecordInfInstall:
        case kRecordDriverStoreInf:
            return 1;
        case kRecordBackupStarted:
        case kRecordRegistryValueAbsent:
        case kRecordRestartReplacement:
        case kRecordClassFilter:
            return 2;
        case kRecordRegistryValueSaved:
            return 4;
        case kRecordChildStarting:
            return 5;
        case kRecordChildChanges:
            return 6;
        case kRecordCitrixRegistered:
        case kRecordRollbackStarted:
        case kRecordCommitted:
            return 0;
        default:
            return -1;
        }
    };
    for (size_t index = 0; index < records.size(); ++index) {
        const JournalRecord& record = records[index];
        const int expected = fieldsOf(record.kind);
        const std::string where = " (record " + std::to_string(index + 1) + ")";
        if (expected < 0) {
            if (record.flags & kRecordMaySkip) {
                continue;
            }
            return refuse("record of unknown kind " + std::to_string(record.kind) + where);
        }
        if (record.fields.size() != size_t(expected)) {
            return refuse("record of kind " + std::to_string(record.kind) + " with " +
                          std::to_string(record.fields.size()) + " fields" + where);
        }
        const std::vector<std::string>& f = record.fields;
        switch (record.kind) {
        case kRecordBegin:
            if (index != 0) {
                return refuse("second beginning record" + where);
            }
            journal->places = JournalPlaces{f[0], f[1], f[2], f[3], f[4]};
            break;
        case kRecordCreatedFolder:
            journal->entries[f[0]] = kJournalCreatedDirectory;
            break;
        case kRecordCreatedFile:
            journal->entries[f[0]] = kJournalCreatedFile;
            break;
        case kRecordWithdrawn:
            journal->entries.erase(f[0]);
            break;
        case kRecordBackupStarted:
            journal->unfinishedBackups[f[0]] = f[1];
            break;
        case kRecordOverwriteStarted: {
            const auto begun = journal->unfinishedBackups.find(f[0]);
            if (begun != journal->unfinishedBackups.end()) {
                journal->backups[f[0]] = begun->second;
                journal->unfinishedBackups.erase(begun);
            } else if (journal->backups.count(f[0]) == 0) {
                return refuse("overwrite without a backup: " + f[0] + where);
            }
            break;
        }
        case kRecordRegistryKeyCreated:
            journal->entries[f[0]] = kJournalRegistryKey;
            break;
        case kRecordRegistryValueSaved: {
            uint32_t type = 0;
            if (!DecodeJournalNumber(f[2], &type)) {
                return refuse("registry value type of " + std::to_string(f[2].size()) + " bytes" +
                              where);
            }
            AddSavedRegistryValue(journal->registry, f[0], SavedRegistryValue{f[1], f[3], type});
            break;
        }
        case kRecordRegistryValueAbsent: {
            SavedRegistryValue absent{f[1], std::string(), 0};
            absent.absent = true;
            AddSavedRegistryValue(journal->registry, f[0], std::move(absent));
            break;
        }
        case kRecordRestartReplacement:
            journal->restartReplacements.push_back(RestartReplacement{f[0], f[1]});
            break;
        case kRecordService:
            journal->entries[f[0]] = kJournalService;
            break;
        case kRecordDevice:
            journal->entries[f[0]] = kJournalDevice;
            break;
        case kRecordInfInstall:
            journal->entries[f[0]] = kJournalInfFile;
            break;
        case kRecordDriverStoreInf:
            journal->entries[f[0]] = kJournalDriverStoreInf;
            break;
        case kRecordClassFilter:
            journal->classFilters[f[0]] = f[1];
            break;
        case kRecordChildStarting:
            if (!DecodeSystemFacts(f, &journal->childBefore)) {
                return refuse("facts before the child installer unreadable" + where);
            }
            journal->childRunning = true;
            break;
        case kRecordChildChanges: {
            SystemChanges changes;
            if (!DecodeSystemChanges(f, &changes)) {
                return refuse("changes of the child installer unreadable" + where);
            }
            for (const std::string& name : changes.services) {
                journal->entries[name] = kJournalService;
            }
            for (const auto& [classGuid, filter] : changes.classFilters) {
                journal->classFilters[classGuid] = filter;
            }
            for (const std::string& path : changes.driverStoreInfs) {
                journal->entries[path] = kJournalDriverStoreInf;
            }
            for (const std::string& path : changes.driverStoreFiles) {
                journal->entries[path] = kJournalCreatedFile;
            }
            for (const std::string& path : changes.driverStoreFolders) {
                journal->entries[path] = kJournalCreatedDirectory;
            }
            for (const std::string& id : changes.deviceIds) {
                journal->entries[id] = kJournalDevice;
            }
            journal->childRunning = false;
            journal->childBefore = SystemFacts();
            break;
        }
        case kRecordCitrixRegistered:
            journal->citrixRegistered = true;
            break;
        case kRecordRollbackStarted:
            journal->rollbackStarted = true;
            break;
        case kRecordCommitted:
            journal->committed = true;
            break;
        default:
            break;
        }
    }
    return true;
}

bool CheckJournalPlaces(const ReplayedJournal& journal, const MachinePlaces& machine,
                        std::string* problem) {
    PlaceChecker check(journal, machine, problem);
    if (!check.Places()) {
        return false;
    }
    for (const auto& [key, kind] : journal.entries) {
        bool allowed = true;
        switch (kind) {
        case kJournalCreatedDirectory:
            allowed = check.Folder(key);
            break;
        case kJournalCreatedFile: {
            std::string ignored;
            PlaceChecker store(journal, machine, &ignored);
            allowed = store.StoreFile(key) || check.File(key);
            break;
        }
        case kJournalRegistryKey:
            allowed = check.RegistryKey(key);
            break;
        case kJournalService:
            allowed = check.PlainName("service ", key);
            break;
        case kJournalDevice:
            allowed = check.PlainName("device ", key);
            break;
        case kJournalInfFile:
            allowed = check.InstalledInf(key);
            break;
        case kJournalDriverStoreInf:
            allowed = check.StoreInf(key);
            break;
        default:
            allowed = check.Refuse("entry of kind " + std::to_string(kind) + ": ", key);
            break;
        }
        if (!allowed) {
            return false;
        }
    }
    for (const auto& [classGuid, filter] : journal.classFilters) {
        if (!check.ClassFilter(classGuid, filter)) {
            return false;
        }
    }
    for (const FileBackupTable* table : {&journal.backups, &journal.unfinishedBackups}) {
        for (const auto& [target, backup] : *table) {
            if (!check.Backup(target, backup)) {
                return false;
            }
        }
    }
    for (const auto& [subkey, values] : journal.registry) {
        if (!check.RegistryKey(subkey)) {
            return false;
        }
    }
    for (const RestartReplacement& replacement : journal.restartReplacements) {
        if (!check.Backup(replacement.target, replacement.temporary)) {
            return false;
        }
    }
    return true;
}

bool IsCleanFullPath(std::string_view path) {
    if (path.size() >= 260 || path.empty()) {
        return false;
    }
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        start = 2;
    } else if (path.substr(0, 2) == "\\\\") {
        // \\server\share: both must be there and are checked as parts.
        const size_t share = path.find('\\', 2);
        if (share == std::string_view::npos || share == 2) {
            return false;
        }
        start = 1;
    } else {
        return false;
    }
    if (path.size() == start) {
        return true; // "C:" alone; callers decide whether a root will do
    }
    if (path[start] != '\\') {
        return false;
    }
    std::string_view rest = path.substr(start + 1);
    if (path.substr(0, 2) == "\\\\") {
        rest = path.substr(2);
    }
    for (char c : rest) {
        if (uint8_t(c) < 0x20 || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|') {
            return false;
        }
    }
    size_t begin = 0;
    while (true) {
        const size_t end = rest.find('\\', begin);
        const std::string_view part = rest.substr(
            begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (end == std::string_view::npos) {
            break;
        }
        begin = end + 1;
    }
    return true;
}

bool IsSameOrInsideFolder(std::string_view path, std::string_view folder) {
    if (folder.empty() || path.size() < folder.size() ||
        !EqualsIgnoringAsciiCase(path.substr(0, folder.size()), folder)) {
        return false;
    }
    return path.size() == folder.size() || path[folder.size()] == '\\';
}
