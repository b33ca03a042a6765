// The hardware ids of a device in a SetupAPI device set, as its registry
// holds them now.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <string>
#include <vector>

// Empty when the device has none, or is gone by the time it is read.
std::vector<std::string> DeviceHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* device);
