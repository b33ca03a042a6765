#include "system_changes.h"

#include "ascii_case.h"

#include <algorithm>

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& value) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& entry) {
        return EqualsIgnoringAsciiCase(entry, value);
    });
}

// The entries of `after` that `before` does not hold, once each.
std::vector<std::string> Added(const std::vector<std::string>& before,
                               const std::vector<std::string>& after) {
    std::vector<std::string> added;
    for (const std::string& entry : after) {
        if (!Contains(before, entry) && !Contains(added, entry)) {
            added.push_back(entry);
        }
    }
    return added;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           EqualsIgnoringAsciiCase(std::string_view(text).substr(text.size() - end.size()), end);
}

const ClassFilterFacts* FindClass(const std::vector<ClassFilterFacts>& classes,
                                  const std::string& classGuid) {
    for (const ClassFilterFacts& entry : classes) {
        if (EqualsIgnoringAsciiCase(entry.classGuid, classGuid)) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

SystemChanges CompareSystemFacts(const SystemFacts& before, const SystemFacts& after) {
    SystemChanges changes;
    changes.services = Added(before.services, after.services);

    for (const ClassFilterFacts& entry : after.classFilters) {
        const ClassFilterFacts* earlier = FindClass(before.classFilters, entry.classGuid);
        for (const std::string& filter :
             Added(earlier ? earlier->upperFilters : std::vector<std::string>{},
                   entry.upperFilters)) {
            changes.classFilters.emplace_back(entry.classGuid, filter);
        }
    }

    for (const std::string& path : Added(before.driverStoreFiles, after.driverStoreFiles)) {
        (EndsWithIgnoringCase(path, ".inf") ? changes.driverStoreInfs : changes.driverStoreFiles)
            .push_back(path);
    }

    changes.driverStoreFolders = Added(before.driverStoreFolders, after.driverStoreFolders);

    std::vector<std::string> instancesBefore, idsBefore;
    for (const DeviceFacts& device : before.devices) {
        instancesBefore.push_back(device.instanceId);
        idsBefore.insert(idsBefore.end(), device.hardwareIds.begin(), device.hardwareIds.end());
    }
    for (const DeviceFacts& device : after.devices) {
        if (device.hardwareIds.empty() || Contains(instancesBefore, device.instanceId) ||
            !(device.instanceId.size() > 5 &&
              EqualsIgnoringAsciiCase(std::string_view(device.instanceId).substr(0, 5),
                                      "ROOT\\"))) {
            continue;
        }
        const std::string& id = device.hardwareIds.front();
        if (!Contains(idsBefore, id) && !Contains(changes.deviceIds, id)) {
            changes.deviceIds.push_back(id);
        }
    }
    return changes;
}
