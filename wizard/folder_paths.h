// What the folder pages make of a folder chosen in the shell's browse dialog.
// Pure, so the rules are tested natively. Paths are ANSI: in a double-byte
// code page the second byte of a character may equal '\\', so the caller
// says which bytes lead a two-byte character (IsDBCSLeadByte on Windows).
#pragma once

#include <functional>
#include <string>

namespace corvane::wizard {

// Whether a byte starts a two-byte character of the system's code page.
using LeadBytePredicate = std::function<bool(unsigned char)>;

// The install folder for a chosen folder: the folder, a backslash unless it
// already ends with one, then the product's display name. The name is
// appended even when the folder already ends with it.
std::string DestinationFromBrowse(const std::string& chosen, const std::string& displayName,
                                  const LeadBytePredicate& isLeadByte = {});

// The Start-menu folder name for a chosen folder: its last component, a
// backslash, then the display name. A path without a backslash, or one that
// ends with one (a drive root such as C:\ has no last component), leaves
// `current` as it is.
std::string StartMenuFolderFromBrowse(const std::string& chosen, const std::string& current,
                                      const std::string& displayName,
                                      const LeadBytePredicate& isLeadByte = {});

} // namespace corvane::wizard
