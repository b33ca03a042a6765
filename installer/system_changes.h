// What a driver package installer changes on a machine, found by comparing
// facts taken before and after it ran: the product's child installer is a
// program of its own, so its services, class filters, driver-store INFs and
// devices reach the install journal only this way. Pure: the facts are read
// on Windows (installer_system_facts.cpp) and compared here, tested natively.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct DeviceFacts {
    std::string instanceId;               // "ROOT\HXVHUBBUS\0000"
    std::vector<std::string> hardwareIds; // in the device's order
};

struct ClassFilterFacts {
    std::string classGuid;                 // "{36FC9E60-C465-11CF-8056-444553540000}"
    std::vector<std::string> upperFilters; // the class's UpperFilters, in order
};

struct SystemFacts {
    // Service names, drivers included.
    std::vector<std::string> services;
    // The device classes the product touches.
    std::vector<ClassFilterFacts> classFilters;
    // Full paths of the driver store's files: published INFs, their
    // precompiled forms, catalogues.
    std::vector<std::string> driverStoreFiles;
    // Those of the store's folders that exist: the first catalogue makes some.
    std::vector<std::string> driverStoreFolders;
    // Present devices.
    std::vector<DeviceFacts> devices;
};

// What came in between two sets of facts, each list in the order of `after`.
struct SystemChanges {
    std::vector<std::string> services;
    // Class GUID and filter name.
    std::vector<std::pair<std::string, std::string>> classFilters;
    // New store files ending in ".inf".
    std::vector<std::string> driverStoreInfs;
    // Every other new file of the store, and the store folders made for them.
    std::vector<std::string> driverStoreFiles;
    std::vector<std::string> driverStoreFolders;
    // A hardware id per new device.
    std::vector<std::string> deviceIds;
};

// Names, filters and paths are compared without regard to ASCII letter case,
// as Windows compares them. A device counts when it is root-enumerated (a
// device the installer made, not one plugged in meanwhile) and its first
// hardware id was carried by no device before: rollback removes every device
// with that id, which must not take one that was there already.
SystemChanges CompareSystemFacts(const SystemFacts& before, const SystemFacts& after);

// Their durable form, as journal record fields: each list one field, its
// entries separated by NUL; an entry with parts of its own (a class and its
// filters, a device and its ids) has them separated by '\x01', which no
// name, id or path holds. Facts take five fields (services, class filters,
// store files, store folders, devices), changes six (services, class
// filters, store INFs, store files, store folders, device ids). Decoding
// fails on any other number of fields or an entry without its parts.
std::vector<std::string> EncodeSystemFacts(const SystemFacts& facts);
bool DecodeSystemFacts(const std::vector<std::string>& fields, SystemFacts* facts);
std::vector<std::string> EncodeSystemChanges(const SystemChanges& changes);
bool DecodeSystemChanges(const std::vector<std::string>& fields, SystemChanges* changes);
