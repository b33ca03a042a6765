#include "payload_plan.h"

#include "file_names.h"
#include "os_version.h"

#include <algorithm>

namespace {

const char* OsSuffix(int osVariant, const PayloadSystem& system) {
    switch (osVariant) {
    case kOsVariantGeneration:
        if (system.isWindows10OrLater) {
            return ".v10";
        }
        return system.isVistaOrLater ? ".v7" : ".xp";
    case kOsVariantWindows10:
        return system.isWindows10OrLater ? ".v10" : "";
    default:
        return "";
    }
}

} // namespace

const char* ArchitectureFolderName(const PayloadSystem& system) {
    return system.is64Bit ? "amd64" : "x86";
}

PayloadDecision ResolvePayloadRule(const PayloadRule& rule, const PayloadSystem& system) {
    PayloadDecision decision{rule.name, rule.name, false};
    if (rule.architectureVariant) {
        // Only a native rule on 64-bit Windows takes the amd64 file; companions
        // and x86-only files are the 32-bit build on every system.
        const bool amd64 = system.is64Bit && rule.wordSizeMode == kWordSizeNative;
        decision.entryName += amd64 ? ".amd64" : ".x86";
        if (rule.perArchitectureSubfolder) {
            decision.destinationName.insert(0, amd64 ? "amd64\\" : "x86\\");
        }
    }
    decision.entryName += OsSuffix(rule.osVariant, system);
    if (rule.wordSizeMode == kWordSizeCompanion) {
        if (system.is64Bit) {
            // Beside the native file of the same name: "hxvchan.dll" becomes
            // "hxvchan_x86_64.dll". A name without a dot keeps its form.
            const size_t dot = decision.destinationName.find('.');
            if (dot != std::string::npos) {
                decision.destinationName.insert(dot, "_x86_64");
            }
        } else {
            decision.skipped = true;
        }
    }
    return decision;
}

std::vector<PayloadFile> ResolvePayloadPlan(const PayloadRuleList& rules,
                                            const PayloadSystem& system) {
    std::vector<PayloadFile> files;
    for (const PayloadRule& rule : rules) {
        PayloadDecision decision = ResolvePayloadRule(rule, system);
        if (!decision.skipped) {
            files.push_back({std::move(decision.entryName), std::move(decision.destinationName)});
        }
    }
    return files;
}

std::string SystemUsbDriverEntryName(bool is64Bit, int osVersionCode) {
    std::string name = is64Bit ? "usbd.sys.amd64" : "usbd.sys.x86";
    switch (osVersionCode) {
    case kOsWindowsXp:
        return name + ".xp";
    case kOsWindows2003:
        return name + ".2k3";
    case kOsWindowsVista:
        return name + ".v62";
    case kOsWindowsServer2008:
        return name + ".2k8";
    case kOsWindows7:
        return name + ".v7";
    default:
        return name;
    }
}

size_t MaxInstallFolderLength(const PayloadRuleList& rules, const std::string& logFileName) {
    size_t longest = std::max(logFileName.size(), std::string("usbd.sys").size());
    for (const PayloadRule& rule : rules) {
        for (int system = 0; system < 8; ++system) {
            const PayloadSystem facts{(system & 1) != 0, (system & 2) != 0, (system & 4) != 0};
            longest = std::max(longest, ResolvePayloadRule(rule, facts).destinationName.size());
        }
    }
    // "-", minute, second and millisecond (at most 7 digits) and ".tmp":
    // FormatFallbackTempName's name when the system gives none.
    constexpr size_t kFallbackTempSuffix = 12;
    // Folder, backslash, name, suffix and the terminating zero fit a path buffer.
    return kMaxPathBytes - 1 - 1 - longest - kFallbackTempSuffix;
}
