// The installed-version check's rules, apart from the registry: what a
// DisplayVersion value left by an earlier installation says, and whether it
// names a newer version than this program's. Pure, so it is tested natively.
#pragma once

#include <cstddef>

// The most bytes of DisplayVersion the check reads, terminator included. A
// longer value (63 characters or more with its terminator) is not read at all
// and counts as no version.
inline constexpr size_t kMaxDisplayVersionBytes = 63;

// Up to four numbers read from `text` the way the C library reads it with
// "%d.%d.%d.%d": each number may follow white space and carry a sign, the dots
// must come right after the numbers, and reading stops at the first thing that
// does not fit. A number too large for an int is taken as the largest int (or
// the smallest, with a minus sign). Returns how many numbers were read; the
// rest of `numbers` is left as it was.
int ParseVersionNumbers(const char* text, int numbers[4]);

// Whether the installed version is newer than `ownVersion`. `data` holds the
// value's `size` bytes as stored (a string with or without its terminating
// zero; the registry type is not examined). Not newer when the value is too
// long, or when either text has fewer than two numbers. Only the first three
// numbers count, major first; a missing third number (build) counts as 0, so
// "3.12" is the same version as "3.12.0".
bool IsNewerVersionInstalled(const void* data, size_t size, const char* ownVersion);
