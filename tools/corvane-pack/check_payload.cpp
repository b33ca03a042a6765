#include "check_payload.h"

#include "os_version.h"
#include "pack_tool.h"
#include "package_files.h"
#include "payload_plan.h"

#include <algorithm>
#include <map>
#include <system_error>

namespace corvane::pack {

namespace fs = std::filesystem;

const char kCheckPayloadUsage[] =
    R"(usage: corvane-pack check-payload --profile workstation|server FOLDER

Says whether FOLDER holds every package entry the profile's payload plan can
ask for on any supported system: 32-bit and 64-bit Windows, each in the three
generations the rules tell apart (2000 to Server 2003, Vista to 8.1, 10 and
later). Each missing entry is named with the systems that would need it: the
setup program fails there, with no fallback to another variant. Names are
matched exactly, letter case included, as the setup program looks entries up.
The plan is the setup program's own code, so a folder that passes here is one
the setup programs of this build can install on every supported system.

The server profile's copies of the system file usbd.sys (usbd.sys.x86.xp,
usbd.sys.amd64.v7, usbd.sys.x86 and so on) are notes, not faults, when absent:
a package need not hold them, and the server setup installs no copy where its
variant is absent. Files no rule asks for and subfolders are noted too
(create packs such files all the same, and refuses subfolders).

  --profile NAME   workstation or server

exit codes: 0 every entry present, 1 entries missing or FOLDER unreadable,
2 usage error
)";

namespace {

struct SystemKind {
    PayloadSystem system;
    const char* label;
};

// The systems the payload rules tell apart, 32-bit first, then 64-bit.
const SystemKind kSystemKinds[] = {
    {{false, false, false}, "32-bit Windows 2000 to Server 2003"},
    {{false, true, false}, "32-bit Windows Vista to 8.1"},
    {{false, true, true}, "32-bit Windows 10 and later"},
    {{true, false, false}, "64-bit Windows XP x64 and Server 2003"},
    {{true, true, false}, "64-bit Windows Vista to 8.1"},
    {{true, true, true}, "64-bit Windows 10 and later"},
};
constexpr size_t kKindsPerWordSize = std::size(kSystemKinds) / 2;

// Every Windows version class the installer can detect, for the usbd.sys
// copy. From 6.1 server on, no class has a suffix of its own.
const std::pair<int, const char*> kVersionClasses[] = {
    {kOsWindows2000, "2000"},
    {kOsWindowsXp, "XP"},
    {kOsWindows2003, "Server 2003"},
    {kOsWindowsVista, "Vista"},
    {kOsWindowsServer2008, "Server 2008"},
    {kOsWindows7, "7"},
    {kOsWindowsServer2008R2, "Server 2008 R2 and every later version"},
    {kOsWindows8, "Server 2008 R2 and every later version"},
    {kOsWindowsServer2012, "Server 2008 R2 and every later version"},
    {kOsWindows81, "Server 2008 R2 and every later version"},
    {kOsWindowsServer2012R2, "Server 2008 R2 and every later version"},
    {kOsWindows10, "Server 2008 R2 and every later version"},
    {kOsWindowsServer2016, "Server 2008 R2 and every later version"},
    {kOsWindowsNewer, "Server 2008 R2 and every later version"},
    {kOsVersionUnknown, "5.x and 6.x versions it does not know"},
};

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) {
            text += separator;
        }
        text += part;
    }
    return text;
}

// The generations of one word size, as a bit mask of kinds 0 to 2 of that size.
std::string GenerationPhrase(unsigned mask, bool is64Bit) {
    const std::string oldest = is64Bit ? "XP x64 and Server 2003" : "2000 to Server 2003";
    switch (mask) {
    case 1:
        return oldest;
    case 2:
        return "Vista to 8.1";
    case 3:
        return "before 10";
    case 4:
        return "10 and later";
    case 5:
        return oldest + " and 10 and later";
    case 6:
        return "Vista and later";
    default:
        return "";
    }
}

// Says "every Windows before 10" rather than listing four kinds of system.
std::vector<std::string> DescribeSystemKinds(const std::set<size_t>& kinds) {
    unsigned masks[2] = {0, 0};
    for (const size_t kind : kinds) {
        masks[kind / kKindsPerWordSize] |= 1u << (kind % kKindsPerWordSize);
    }
    const unsigned every = (1u << kKindsPerWordSize) - 1;
    if (masks[0] == masks[1]) {
        const std::string phrase = GenerationPhrase(masks[0], false);
        if (masks[0] == every) {
            return {"every Windows"};
        }
        if (phrase == GenerationPhrase(masks[1], true)) {
            return {"every Windows " + phrase};
        }
    }
    std::vector<std::string> described;
    for (const bool is64Bit : {false, true}) {
        const unsigned mask = masks[is64Bit ? 1 : 0];
        const std::string wordSize = is64Bit ? "64-bit" : "32-bit";
        if (mask == every) {
            described.push_back("every " + wordSize + " Windows");
        } else if (mask != 0) {
            described.push_back(wordSize + " Windows " + GenerationPhrase(mask, is64Bit));
        }
    }
    return described;
}

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return text;
}

} // namespace

const ProductProfile* FindPayloadProfile(const std::string& name) {
    if (name == "workstation") {
        return &kWorkstationProfile;
    }
    if (name == "server") {
        return &kServerProfile;
    }
    return nullptr;
}

std::vector<ExpectedEntry> ExpectedPayloadEntries(const ProductProfile& profile) {
    std::map<std::string, std::set<size_t>> kindsByEntry;
    for (size_t kind = 0; kind < std::size(kSystemKinds); ++kind) {
        for (const PayloadFile& file :
             ResolvePayloadPlan(profile.payloadRules, kSystemKinds[kind].system)) {
            kindsByEntry[file.entryName].insert(kind);
        }
    }
    std::vector<ExpectedEntry> entries;
    for (const auto& [name, kinds] : kindsByEntry) {
        entries.push_back({name, DescribeSystemKinds(kinds), false});
    }

    if (profile.isServer) {
        // Whatever name the version classes give, in the order of the classes.
        std::map<std::string, std::vector<std::string>> classesByEntry;
        for (const bool is64Bit : {false, true}) {
            std::map<std::string, std::vector<std::string>> ofThisWordSize;
            std::vector<std::string> order;
            for (const auto& [code, label] : kVersionClasses) {
                const std::string name = SystemUsbDriverEntryName(is64Bit, code);
                std::vector<std::string>& labels = ofThisWordSize[name];
                if (labels.empty()) {
                    order.push_back(name);
                }
                if (std::find(labels.begin(), labels.end(), label) == labels.end()) {
                    labels.push_back(label);
                }
            }
            for (const std::string& name : order) {
                classesByEntry[name].push_back(std::string(is64Bit ? "64-bit" : "32-bit") +
                                               " Windows " + Join(ofThisWordSize[name], ", "));
            }
        }
        for (auto& [name, systems] : classesByEntry) {
            entries.push_back({name, std::move(systems), true});
        }
        std::sort(entries.begin(), entries.end(),
                  [](const ExpectedEntry& a, const ExpectedEntry& b) { return a.name < b.name; });
    }
    return entries;
}

PayloadCheck CheckPayloadNames(const ProductProfile& profile,
                               const std::set<std::string>& present) {
    PayloadCheck check;
    std::set<std::string> expectedNames;
    for (ExpectedEntry& entry : ExpectedPayloadEntries(profile)) {
        expectedNames.insert(entry.name);
        if (!entry.optional) {
            ++check.expectedCount;
        }
        if (present.count(entry.name) == 0) {
            (entry.optional ? check.optionalMissing : check.missing).push_back(std::move(entry));
        }
    }
    for (const std::string& name : present) {
        if (expectedNames.count(name) == 0) {
            check.unexpected.push_back(name);
        }
    }
    return check;
}

int CheckPayloadFolder(const ProductProfile& profile, const std::string& profileName,
                       const fs::path& folder, std::ostream& out) {
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (status.type() == fs::file_type::not_found) {
        throw PackError("payload folder " + Quote(folder) + " does not exist");
    }
    if (status.type() != fs::file_type::directory) {
        throw PackError("payload folder " + Quote(folder) + " is not a folder");
    }
    std::set<std::string> present;
    std::vector<std::string> subfolders;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code kindError;
        if (it->is_directory(kindError)) {
            subfolders.push_back(name);
        } else {
            present.insert(name);
        }
    }
    if (error) {
        throw PackError("cannot list payload folder " + Quote(folder) + ": " + error.message());
    }
    std::sort(subfolders.begin(), subfolders.end());

    const PayloadCheck check = CheckPayloadNames(profile, present);
    // A file that differs only in letter case is the likeliest reason for a
    // missing entry: the reader's lookup would not find it.
    std::map<std::string, std::string> presentByLowerName;
    for (const std::string& name : present) {
        presentByLowerName.emplace(AsciiLower(name), name);
    }

    out << profileName << " payload in " << Quote(folder) << ": "
        << check.expectedCount - check.missing.size() << " of " << check.expectedCount
        << " entries present\n";
    for (const ExpectedEntry& entry : check.missing) {
        out << "missing: " << entry.name << " (needed on " << Join(entry.systems, ", ") << ")";
        const auto similar = presentByLowerName.find(AsciiLower(entry.name));
        if (similar != presentByLowerName.end()) {
            out << "; the folder has " << similar->second
                << ", which differs in letter case and is not found under this name";
        }
        out << "\n";
    }
    for (const ExpectedEntry& entry : check.optionalMissing) {
        out << "note: no " << entry.name << ": the server setup copies no usbd.sys on "
            << Join(entry.systems, ", ") << "\n";
    }
    for (const std::string& name : check.unexpected) {
        out << "note: " << name << " is not asked for by the " << profileName
            << " profile; create packs it all the same\n";
    }
    for (const std::string& name : subfolders) {
        out << "note: the subfolder " << name
            << " is not part of the payload; create refuses a folder holding subfolders\n";
    }
    if (!check.missing.empty()) {
        out << "INCOMPLETE: " << check.missing.size()
            << (check.missing.size() == 1 ? " entry" : " entries")
            << " missing; the setup program fails on the systems named\n";
        return kExitFailure;
    }
    out << "complete: every entry the " << profileName << " profile can ask for is present\n";
    return kExitOk;
}

} // namespace corvane::pack
