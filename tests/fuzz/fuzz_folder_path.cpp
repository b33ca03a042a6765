// The folder-path rules on any current folder and typed path, in a single- and a double-byte
// code page: an accepted path is full, fits, ends without a separator, comes out the same
// when given again, and its parent folders lead up to its root.
#include "folder_path.h"
#include "fuzz_support.h"

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
    const FolderPathLeadBytes shiftJis = doubleByte ? IsShiftJisLeadByte : nullptr;

    const ResolvedFolderPath resolved = ResolveFolderPath(text, current, maxLength, shiftJis);
    if (resolved.problem != FolderPathProblem::kNone) {
        Require(resolved.path.empty());
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
    Require(!path.empty() && path.size() <= maxLength &&
            !(last == path.size() - 1 && (path.back() == '\\' || path.back() == '/')));
    const ResolvedFolderPath again = ResolveFolderPath(path, "", maxLength, shiftJis);
    Require(again.problem == FolderPathProblem::kNone && again.path == path);
    const std::vector<std::string> parents = ParentFolders(path, shiftJis);
    Require(!parents.empty() && parents.back().back() == '\\');
    for (const std::string& parent : parents) {
        Require(path.compare(0, parent.size(), parent) == 0);
    }
    return 0;
}
