// Which SetupAPI device log to watch, at which level, and how much of its
// growth to copy. Pure rules, so they are built and tested natively; the
// capture itself (setup_log_api.cpp) feeds them the system's facts.
#pragma once

#include <cstdint>
#include <string>

// Log levels the capture sets while it runs: everything that the
// Windows 2000/XP log knows, and verbose device installation from Vista on.
inline constexpr uint32_t kSetupApiLevelBeforeVista = 0xFFFF;
inline constexpr uint32_t kSetupApiLevelFromVista = 0x5050;
// A LogPath value longer than this many bytes (terminator included) is not used.
inline constexpr size_t kMaxLogPathValueBytes = 260;
// Growth of this many bytes or more is not copied at all: it is a log that was
// replaced or flooded, not what this installation added.
inline constexpr uint64_t kMaxCapturedGrowth = 0x200000;

struct SetupApiLogChoice {
    std::string path; // empty: no log to watch
    uint32_t level = 0;
};

// `windowsFolder` is the system's Windows folder (one trailing backslash is
// ignored); `logPathValue` the raw bytes of the Setup key's LogPath value, or
// null when there is none. Before Vista the log is "setupapi.log" in the
// Windows folder; from Vista on "setupapi.dev.log" in the LogPath folder, or
// in the Windows folder's "inf" folder when LogPath is not set.
SetupApiLogChoice ChooseSetupApiLog(unsigned majorVersion, const std::string& windowsFolder,
                                    const std::string* logPathValue);

// How many bytes at the end of a log that was `startSize` bytes long and is
// now `currentSize` bytes long are to be copied: the growth when it is above
// zero and below kMaxCapturedGrowth, else 0.
uint64_t CapturedGrowth(uint64_t startSize, uint64_t currentSize);
