// Which package entry each payload file rule installs, and under which name,
// on a given system. Pure string work on OS facts passed in, so every system
// the product supports is checked natively, and corvane-pack checks a payload
// folder with the very same rules the setup program follows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How a rule picks a Windows generation's variant of its file.
enum PayloadOsVariant : int {
    kOsVariantNone = 0,       // one file for every Windows
    kOsVariantGeneration = 1, // ".xp", ".v7" (Vista and later) or ".v10"
    kOsVariantWindows10 = 2,  // ".v10" on Windows 10 and later, the bare name before
};

// Which word size's file a rule installs.
enum PayloadWordSize : int {
    kWordSizeNative = 0,    // the system's own: x86 on 32-bit, amd64 on 64-bit Windows
    kWordSizeCompanion = 1, // the x86 file beside the amd64 one, on 64-bit Windows only
    kWordSizeAlwaysX86 = 2, // the x86 file everywhere
};

// One payload file rule.
struct PayloadRule {
    const char* name;              // destination file name and start of the entry name
    bool architectureVariant;      // entries ".x86" and ".amd64"
    bool perArchitectureSubfolder; // destination below "x86\" or "amd64\"
    int osVariant;                 // PayloadOsVariant
    int wordSizeMode;              // PayloadWordSize
};

// A profile's fixed, ordered rule list.
struct PayloadRuleList {
    const PayloadRule* rules;
    size_t count;

    const PayloadRule* begin() const { return rules; }
    const PayloadRule* end() const { return rules + count; }
};

// What the plan needs to know of the running system. A 64-bit system is one
// where the WOW64 probe answers; the two version facts are the installer's
// IsVistaOrLater and IsWindows10OrLater.
struct PayloadSystem {
    bool is64Bit;
    bool isVistaOrLater;
    bool isWindows10OrLater;
};

// One rule applied to one system.
struct PayloadDecision {
    std::string entryName;       // e.g. "hxvhub.sys.amd64.v10"
    std::string destinationName; // relative to the install folder, e.g. "amd64\hxvhub.sys"
    bool skipped;                // a 32-bit companion on 32-bit Windows: nothing is installed
};

// The per-architecture folder this system's files go into: "x86" or "amd64".
const char* ArchitectureFolderName(const PayloadSystem& system);

// Applies one rule. A skipped rule still names its entry, for the log line
// that says what was left out.
PayloadDecision ResolvePayloadRule(const PayloadRule& rule, const PayloadSystem& system);

// The files a system gets, in rule order; skipped rules are left out.
struct PayloadFile {
    std::string entryName;
    std::string destinationName;
};
std::vector<PayloadFile> ResolvePayloadPlan(const PayloadRuleList& rules,
                                            const PayloadSystem& system);

// The server's copy of the system USB driver for a Windows version class
// (osVersionCode of the installer): "usbd.sys", ".x86" or ".amd64", then the
// version suffix where the class has one. A package need not hold it.
std::string SystemUsbDriverEntryName(bool is64Bit, int osVersionCode);

// The longest install folder path the engine can handle for a profile's
// `rules` and setup log: every file it writes there (each payload file in its
// longest form on any system, the log, the server's usbd.sys copy, and a
// fallback temporary name beside any of them) must stay a path the system's
// ANSI file functions take.
size_t MaxInstallFolderLength(const PayloadRuleList& rules, const std::string& logFileName);
