// Path and file-name forms used by the file operations. Pure string work, so it
// is built and tested natively.
#pragma once

#include <string>

// Longest path the ANSI file functions take, terminator included (MAX_PATH).
inline constexpr size_t kMaxPathBytes = 260;

// folder + one backslash + name; the folder is given without a trailing backslash.
std::string JoinPath(const std::string& folder, const std::string& name);

// The name used when the system cannot give a temporary name: folder\prefix-MSm.tmp,
// with minute, second and millisecond run together in decimal without leading
// zeros (minute 7, second 5, millisecond 32 give "-7532"). Returns false, leaving
// *name empty, when the result would not fit a path buffer.
bool FormatFallbackTempName(const std::string& folder, const std::string& prefix, unsigned minute,
                            unsigned second, unsigned millisecond, std::string* name);
