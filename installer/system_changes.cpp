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

namespace {

constexpr char kEntrySeparator = '\0';
constexpr char kPartSeparator = '\x01';

std::string Join(const std::vector<std::string>& entries, char separator) {
    std::string joined;
    for (size_t index = 0; index < entries.size(); ++index) {
        if (index != 0) {
            joined.push_back(separator);
        }
        joined += entries[index];
    }
    return joined;
}

// An empty text is an empty list (a list never holds an empty entry).
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    if (text.empty()) {
        return parts;
    }
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// Entries of a first part followed by more parts: a class and its filters,
// a device and its hardware ids.
template <typename Entry, typename Make>
bool DecodeGroups(const std::string& field, size_t minimumParts, std::vector<Entry>* entries,
                  Make make) {
    for (const std::string& entry : Split(field, kEntrySeparator)) {
        std::vector<std::string> parts = Split(entry, kPartSeparator);
        if (parts.size() < minimumParts) {
            return false;
        }
        entries->push_back(make(std::move(parts)));
    }
    return true;
}

} // namespace

std::vector<std::string> EncodeSystemFacts(const SystemFacts& facts) {
    std::vector<std::string> classes, devices;
    for (const ClassFilterFacts& entry : facts.classFilters) {
        std::vector<std::string> parts{entry.classGuid};
        parts.insert(parts.end(), entry.upperFilters.begin(), entry.upperFilters.end());
        classes.push_back(Join(parts, kPartSeparator));
    }
    for (const DeviceFacts& device : facts.devices) {
        std::vector<std::string> parts{device.instanceId};
        parts.insert(parts.end(), device.hardwareIds.begin(), device.hardwareIds.end());
        devices.push_back(Join(parts, kPartSeparator));
    }
    return {Join(facts.services, kEntrySeparator), Join(classes, kEntrySeparator),
            Join(facts.driverStoreFiles, kEntrySeparator),
            Join(facts.driverStoreFolders, kEntrySeparator), Join(devices, kEntrySeparator)};
}

bool DecodeSystemFacts(const std::vector<std::string>& fields, SystemFacts* facts) {
    *facts = SystemFacts();
    if (fields.size() != 5) {
        return false;
    }
    facts->services = Split(fields[0], kEntrySeparator);
    facts->driverStoreFiles = Split(fields[2], kEntrySeparator);
    facts->driverStoreFolders = Split(fields[3], kEntrySeparator);
    return DecodeGroups(fields[1], 1, &facts->classFilters,
                        [](std::vector<std::string> parts) {
                            return ClassFilterFacts{
                                parts[0], std::vector<std::string>(parts.begin() + 1, parts.end())};
                        }) &&
           DecodeGroups(fields[4], 1, &facts->devices, [](std::vector<std::string> parts) {
               return DeviceFacts{parts[0],
                                  std::vector<std::string>(parts.begin() + 1, parts.end())};
           });
}

std::vector<std::string> EncodeSystemChanges(const SystemChanges& changes) {
    std::vector<std::string> filters;
    for (const auto& [classGuid, filter] : changes.classFilters) {
        filters.push_back(classGuid + kPartSeparator + filter);
    }
    return {Join(changes.services, kEntrySeparator),
            Join(filters, kEntrySeparator),
            Join(changes.driverStoreInfs, kEntrySeparator),
            Join(changes.driverStoreFiles, kEntrySeparator),
            Join(changes.driverStoreFolders, kEntrySeparator),
            Join(changes.deviceIds, kEntrySeparator)};
}

bool DecodeSystemChanges(const std::vector<std::string>& fields, SystemChanges* changes) {
    *changes = SystemChanges();
    if (fields.size() != 6) {
        return false;
    }
    changes->services = Split(fields[0], kEntrySeparator);
    for (const std::string& entry : Split(fields[1], kEntrySeparator)) {
        const std::vector<std::string> parts = Split(entry, kPartSeparator);
        if (parts.size() != 2) {
            return false;
        }
        changes->classFilters.emplace_back(parts[0], parts[1]);
    }
    changes->driverStoreInfs = Split(fields[2], kEntrySeparator);
    changes->driverStoreFiles = Split(fields[3], kEntrySeparator);
    changes->driverStoreFolders = Split(fields[4], kEntrySeparator);
    changes->deviceIds = Split(fields[5], kEntrySeparator);
    return true;
}
