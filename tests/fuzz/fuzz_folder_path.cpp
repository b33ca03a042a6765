// Feeds arbitrary text to the folder-path rules, as the current folder and as the path
// typed, in a single-byte and a double-byte code page: neither may read past the text, a
// path that is accepted must be full, fit, end without a separator and come out the same
// when it is given again, and its parent folders must lead up to its root.
#include "folder_path.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool doubleByte = (data[0] & 1) != 0;
    const size_t maxLength = data[1];
    const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
    const size_t split = input.find('\n');
    const std::string current = split == std::string::npos ? "C:\\Work" : input.substr(0, split);
    const std::string text = split == std::string::npos ? input : input.substr(split + 1);
    FolderPathLeadBytes shiftJis;
    if (doubleByte) {
        shiftJis = [](unsigned char byte) {
            return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        };
    }

    const ResolvedFolderPath resolved = ResolveFolderPath(text, current, maxLength, shiftJis);
    if (resolved.problem != FolderPathProblem::kNone) {
        if (!resolved.path.empty()) {
            std::abort();
        }
        return 0;
    }
    const std::string& path = resolved.path;
    // The last character, which may be a double-byte one whose second byte is
    // 0x5C: that is a letter, not a separator.
    size_t last = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        last = i;
        if (shiftJis && shiftJis(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
            ++i;
        }
    }
    const bool endsInSeparator =
        !path.empty() && last == path.size() - 1 && (path.back() == '\\' || path.back() == '/');
    if (path.size() > maxLength || path.empty() || endsInSeparator) {
        std::abort();
    }
    const ResolvedFolderPath again = ResolveFolderPath(path, "", maxLength, shiftJis);
    if (again.problem != FolderPathProblem::kNone || again.path != path) {
        std::abort();
    }
    const std::vector<std::string> parents = ParentFolders(path, shiftJis);
    if (parents.empty() || parents.back().back() != '\\') {
        std::abort();
    }
    for (const std::string& parent : parents) {
        if (path.compare(0, parent.size(), parent) != 0) {
            std::abort();
        }
    }
    return 0;
}
