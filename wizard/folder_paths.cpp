#include "folder_paths.h"

namespace corvane::wizard {

namespace {

constexpr size_t kNone = std::string::npos;

struct Backslashes {
    size_t last = kNone;   // position of the last backslash character
    bool endsWith = false; // whether the last character is a backslash
};

// Walks the text character by character, so that the second byte of a
// two-byte character is never taken for a backslash.
Backslashes FindBackslashes(const std::string& text, const LeadBytePredicate& isLeadByte) {
    Backslashes found;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        found.endsWith = false;
        if (isLeadByte && isLeadByte(byte) && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (byte == '\\') {
            found.last = i;
            found.endsWith = true;
        }
    }
    return found;
}

} // namespace

std::string DestinationFromBrowse(const std::string& chosen, const std::string& displayName,
                                  const LeadBytePredicate& isLeadByte) {
    std::string folder = chosen;
    if (!FindBackslashes(chosen, isLeadByte).endsWith) {
        folder += '\\';
    }
    return folder + displayName;
}

std::string StartMenuFolderFromBrowse(const std::string& chosen, const std::string& current,
                                      const std::string& displayName,
                                      const LeadBytePredicate& isLeadByte) {
    const Backslashes found = FindBackslashes(chosen, isLeadByte);
    // "\Name" would make the install put the folder at the drive's root.
    if (found.last == kNone || found.endsWith) {
        return current;
    }
    return chosen.substr(found.last + 1) + '\\' + displayName;
}

} // namespace corvane::wizard
