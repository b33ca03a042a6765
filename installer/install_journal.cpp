#include "install_journal.h"

#include "ascii_case.h"

#include <algorithm>

namespace {

bool SameValueName(const std::string& left, const std::string& right) {
    auto fold = [](unsigned char letter) {
        return letter >= 'A' && letter <= 'Z' ? char(letter - 'A' + 'a') : char(letter);
    };
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [&](char a, char b) { return fold(a) == fold(b); });
}

} // namespace

std::vector<std::string> JournalKeysOfKind(const JournalEntryTable& journal, int32_t kind) {
    std::vector<std::string> keys;
    for (const auto& [key, entryKind] : journal) {
        if (entryKind == kind) {
            keys.push_back(key);
        }
    }
    return keys;
}

void RemoveCreatedFolders(const std::vector<std::string>& folders,
                          const std::function<void(const std::string&)>& announce,
                          const std::function<bool(const std::string&)>& remove) {
    std::vector<std::string> left;
    for (const std::string& folder : folders) {
        announce(folder);
        if (!remove(folder)) {
            left.push_back(folder);
        }
    }
    // A folder inside another has the other's path followed by a backslash as
    // its prefix, so it sorts after it: descending order takes the inner ones
    // first, whatever order the caller gave.
    std::sort(left.begin(), left.end(), std::greater<std::string>());
    for (const std::string& folder : left) {
        remove(folder);
    }
}

std::vector<std::string> FoldersToRemoveAtRestart(const std::vector<std::string>& remainingFolders,
                                                  std::vector<std::string> goingAtRestart) {
    std::vector<std::string> folders = remainingFolders;
    // A folder inside another sorts after it: descending order looks at the
    // inner one first, so an outer folder sees it among what goes.
    std::sort(folders.begin(), folders.end(), std::greater<std::string>());
    std::vector<std::string> removed;
    for (const std::string& folder : folders) {
        const std::string inside = folder + "\\";
        const bool holdsOneGoing =
            std::any_of(goingAtRestart.begin(), goingAtRestart.end(), [&](const std::string& path) {
                return path.size() > inside.size() &&
                       EqualsIgnoringAsciiCase(std::string_view(path).substr(0, inside.size()),
                                               inside);
            });
        if (holdsOneGoing) {
            removed.push_back(folder);
            goingAtRestart.push_back(folder);
        }
    }
    return removed;
}

bool AddSavedRegistryValue(RegistryBackupTable& table, const std::string& subkey,
                           SavedRegistryValue value) {
    std::vector<SavedRegistryValue>& saved = table[subkey];
    for (const SavedRegistryValue& earlier : saved) {
        if (SameValueName(earlier.name, value.name)) {
            return false;
        }
    }
    saved.push_back(std::move(value));
    return true;
}
