// Lists of zero-terminated strings as the registry and SetupAPI hand them out
// (REG_MULTI_SZ): a device's hardware ids, a device class's upper filters.
// Pure byte work, built and tested natively.
//
// Data read from the registry is not always well formed: the final empty
// string or even the last terminator may be missing. Every walk here is
// bounded by the data's size, and a last string cut off by the end of the data
// ends there.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Removes every string equal to `name` (ASCII letters compared without regard
// to case, whole strings only) from the list in `data`, together with its
// terminator, and returns how many were removed. The walk stops at the first
// empty string; what follows it is kept as it is. An empty `name` matches
// nothing.
size_t RemoveFromMultiString(std::string& data, std::string_view name);

// Whether one of the strings of the list at `data` (of `size` bytes) is exactly
// `value`, byte for byte. The walk stops at the first empty string.
bool MultiStringContains(const char* data, size_t size, std::string_view value);

// The strings of the list at `data` (of `size` bytes), in order, up to the
// first empty one.
std::vector<std::string> SplitMultiString(const char* data, size_t size);

// The system's list of restart-time file operations (PendingFileRenameOperations):
// strings in pairs, a source "\??\path" and a destination, which is empty for a
// deletion and "\??\path" or, to replace an existing file, "!\??\path". Removes
// every pair moving `source` to `destination` (ASCII letters compared without
// regard to case) and returns how many went. Empty destinations belong to their
// pairs, so this walk runs to the end of the data, not to the first empty
// string; the list keeps its final terminator.
size_t RemoveRenameOperation(std::string& data, std::string_view source,
                             std::string_view destination);
