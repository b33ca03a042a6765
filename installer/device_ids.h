// The hardware ids of a device in a SetupAPI device set, as its registry
// holds them now.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <string>
#include <string_view>
#include <vector>

// Empty when the device has none, or is gone by the time it is read.
std::vector<std::string> DeviceHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* device);

// Whether one of them is exactly `id`; false too when the device has none or
// is gone.
bool DeviceHasHardwareId(HDEVINFO set, SP_DEVINFO_DATA* device, std::string_view id);
