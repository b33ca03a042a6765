// The error record of the engine: which module failed, where, and the system's
// (or a fixed) error code. Thrown by value and caught at the start-up, install
// and firewall boundaries; messages show it as code and "arg0".
#pragma once

#include <cstdint>

struct CSetupError {
    uint16_t wModule;
    uint16_t wLocation;
    uint32_t dwCode;

    // The second number of the error messages: module and location in one word.
    uint32_t Arg0() const { return uint32_t(wModule) << 16 | wLocation; }
};

inline constexpr uint16_t kModuleInstallProcess = 0x1000;
inline constexpr uint16_t kModuleApplication = 0x1001;
inline constexpr uint16_t kModuleInstaller = 0x0013;
inline constexpr uint16_t kModuleFirewall = 0x001A;

// Fixed codes the start-up maps to their own messages and exit codes.
inline constexpr uint32_t kCodeNotAdministrator = 1313;  // ERROR_PRIVILEGE_NOT_HELD
inline constexpr uint32_t kCodeOldWindows = 1150;        // ERROR_OLD_WIN_VERSION
inline constexpr uint32_t kCodeServerOnly = 1341;        // ERROR_SERVER_DISABLED
inline constexpr uint32_t kCodeWrongWordSize = 0xE0000233;
inline constexpr uint32_t kCodeInternalError = 1359;     // ERROR_INTERNAL_ERROR
