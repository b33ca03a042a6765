// corvane-pack check-payload: does a payload folder hold every entry a
// profile's payload plan can ask for, on every system the product supports?
// The answer comes from the setup program's own rule lists and plan code.
#pragma once

#include "product_profile.h"

#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace corvane::pack {

extern const char kCheckPayloadUsage[];

// "workstation" or "server"; nullptr for any other name.
const ProductProfile* FindPayloadProfile(const std::string& name);

// One entry the plan can ask for, with every system that asks for it.
struct ExpectedEntry {
    std::string name;
    std::vector<std::string> systems; // e.g. "64-bit Windows 10 and later"
    // A copy of the system USB driver: where it is absent the server setup
    // installs no copy and goes on, so its absence is no fault.
    bool optional = false;
};

// Every entry `profile` can ask for, sorted by name.
std::vector<ExpectedEntry> ExpectedPayloadEntries(const ProductProfile& profile);

struct PayloadCheck {
    std::vector<ExpectedEntry> missing;         // the setup fails on these entries' systems
    std::vector<ExpectedEntry> optionalMissing; // absent usbd.sys copies
    std::vector<std::string> unexpected;        // present, but no rule asks for them
    size_t expectedCount = 0;                   // entries that must be present
};

// Compares the plan with the names present; names match exactly, letter case
// included, as the setup program's reader looks entries up.
PayloadCheck CheckPayloadNames(const ProductProfile& profile, const std::set<std::string>& present);

// Checks the files directly in `folder` and reports to `out`. Returns the
// tool's exit code: 0 complete, 1 entries missing. Throws PackError when the
// folder cannot be read.
int CheckPayloadFolder(const ProductProfile& profile, const std::string& profileName,
                       const std::filesystem::path& folder, std::ostream& out);

} // namespace corvane::pack
