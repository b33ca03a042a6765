// Text and stream rules of the Welcome and License pages that need no
// Windows API.
#pragma once

#include <cstdint>
#include <string>

namespace corvane::wizard {

// A start check's message with the display name put in: every "%s" becomes
// `displayName` and "%%" becomes "%"; any other '%' stays as it is. The
// messages carry text read from the machine (the installed version comes
// from the registry), so they are never handed to printf as a format: a
// "%n" or a stray "%s" there would write memory or read past the arguments.
std::string InsertDisplayName(const std::string& message, const std::string& displayName);

// How many bytes the licence stream hands over next: what is left of a text
// of `size` bytes after `position`, at most `requested`; 0 ends the stream
// (also for a position past the end or a negative request).
int32_t LicenseChunkSize(uint32_t size, uint32_t position, int32_t requested);

} // namespace corvane::wizard
