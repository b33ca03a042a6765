#include "folder_path.h"

#include "ascii_case.h"

#include <cstring>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsLead(const FolderPathLeadBytes& isLeadByte, char c) {
    return isLeadByte && isLeadByte(static_cast<unsigned char>(c));
}

// The names between single-byte separators from `from` on; empty names
// (doubled separators, a separator at the end) included.
std::vector<std::string> SplitAtSeparators(const std::string& text, size_t from,
                                           const FolderPathLeadBytes& isLeadByte) {
    std::vector<std::string> names(1);
    for (size_t i = from; i < text.size(); ++i) {
        if (IsLead(isLeadByte, text[i]) && i + 1 < text.size()) {
            names.back().append(text, i, 2);
            ++i;
        } else if (IsSeparator(text[i])) {
            names.emplace_back();
        } else {
            names.back() += text[i];
        }
    }
    return names;
}

bool HasInvalidCharacter(const std::string& name, const FolderPathLeadBytes& isLeadByte) {
    for (size_t i = 0; i < name.size(); ++i) {
        if (IsLead(isLeadByte, name[i])) {
            // A lead byte with nothing after it would take the separator
            // that follows the name for its second byte.
            if (i + 1 == name.size()) {
                return true;
            }
            ++i; // the second byte of a character may be anything
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
            return true;
        }
    }
    return false;
}

// CON, NUL, COM1... name a device in every folder, with any extension.
bool IsDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (EqualsIgnoringAsciiCase(base, device)) {
            return true;
        }
    }
    return base.size() == 4 &&
           (EqualsIgnoringAsciiCase(base.substr(0, 3), "COM") ||
            EqualsIgnoringAsciiCase(base.substr(0, 3), "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

// A full path taken apart: "C:" or "\\server\share", and the names below it.
struct SplitPath {
    std::string root;
    std::vector<std::string> names;
};

// Adds `names` to `path` the way Windows reads them; false for a name that
// cannot be a folder's.
bool AppendNames(SplitPath& path, const std::vector<std::string>& names,
                 const FolderPathLeadBytes& isLeadByte) {
    for (const std::string& name : names) {
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            if (!path.names.empty()) {
                path.names.pop_back();
            }
            continue;
        }
        // Neither byte can be the second of a two-byte character.
        std::string kept = name;
        while (!kept.empty() && (kept.back() == '.' || kept.back() == ' ')) {
            kept.pop_back();
        }
        if (kept.empty() || HasInvalidCharacter(kept, isLeadByte) || IsDeviceName(kept)) {
            return false;
        }
        path.names.push_back(std::move(kept));
    }
    return true;
}

enum class Form { kFull, kDriveRelative, kRootRelative, kRelative, kInvalid };

// The form of `text`, its root where it names one, and the names after it.
Form Classify(const std::string& text, const FolderPathLeadBytes& isLeadByte, std::string* root,
              std::vector<std::string>* names) {
    if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        *names = SplitAtSeparators(text, 2, isLeadByte);
        // "\\?\" and "\\.\" pass names to the system unchanged and reach
        // past MAX_PATH, which the engine's ANSI calls cannot follow.
        if (names->size() < 2 || (*names)[0].empty() || (*names)[1].empty() || (*names)[0] == "?" ||
            (*names)[0] == "." || HasInvalidCharacter((*names)[0], isLeadByte) ||
            HasInvalidCharacter((*names)[1], isLeadByte)) {
            return Form::kInvalid;
        }
        *root = "\\\\" + (*names)[0] + "\\" + (*names)[1];
        names->erase(names->begin(), names->begin() + 2);
        return Form::kFull;
    }
    if (text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == ':') {
        *root = text.substr(0, 2);
        const bool full = text.size() >= 3 && IsSeparator(text[2]);
        *names = SplitAtSeparators(text, full ? 3 : 2, isLeadByte);
        return full ? Form::kFull : Form::kDriveRelative;
    }
    if (!text.empty() && IsSeparator(text[0])) {
        *names = SplitAtSeparators(text, 1, isLeadByte);
        return Form::kRootRelative;
    }
    *names = SplitAtSeparators(text, 0, isLeadByte);
    return Form::kRelative;
}

bool SplitFullPath(const std::string& text, const FolderPathLeadBytes& isLeadByte,
                   SplitPath* path) {
    std::vector<std::string> names;
    return Classify(text, isLeadByte, &path->root, &names) == Form::kFull &&
           AppendNames(*path, names, isLeadByte);
}

} // namespace

ResolvedFolderPath ResolveFolderPath(const std::string& text, const std::string& currentFolder,
                                     size_t maxLength, const FolderPathLeadBytes& isLeadByte) {
    ResolvedFolderPath result;
    if (text.empty()) {
        result.problem = FolderPathProblem::kEmpty;
        return result;
    }
    result.problem = FolderPathProblem::kInvalidName;
    std::string root;
    std::vector<std::string> names;
    const Form form = Classify(text, isLeadByte, &root, &names);
    SplitPath path;
    SplitPath current;
    const bool needsCurrent =
        form == Form::kRelative || form == Form::kRootRelative || form == Form::kDriveRelative;
    if (form == Form::kInvalid ||
        (needsCurrent && !SplitFullPath(currentFolder, isLeadByte, &current))) {
        return result;
    }
    switch (form) {
    case Form::kFull:
        path.root = root;
        break;
    case Form::kDriveRelative:
        // Another drive's own current folder is not known here; its root is
        // where such a path starts then.
        path = EqualsIgnoringAsciiCase(current.root, root) ? current : SplitPath{root, {}};
        break;
    case Form::kRootRelative:
        path.root = current.root;
        break;
    default:
        path = current;
        break;
    }
    if (!AppendNames(path, names, isLeadByte)) {
        return result;
    }
    if (path.names.empty()) {
        result.problem = FolderPathProblem::kDriveRoot;
        return result;
    }
    std::string full = path.root;
    for (const std::string& name : path.names) {
        full.append(1, '\\').append(name);
    }
    if (full.size() > maxLength) {
        result.problem = FolderPathProblem::kTooLong;
        return result;
    }
    result.path = std::move(full);
    result.problem = FolderPathProblem::kNone;
    return result;
}

std::vector<std::string> ParentFolders(const std::string& fullPath,
                                       const FolderPathLeadBytes& isLeadByte) {
    SplitPath path;
    std::vector<std::string> parents;
    if (!SplitFullPath(fullPath, isLeadByte, &path)) {
        return parents;
    }
    for (size_t count = path.names.size(); count-- > 0;) {
        std::string parent = path.root + "\\";
        for (size_t index = 0; index < count; ++index) {
            parent.append(path.names[index]).append(index + 1 < count ? "\\" : "");
        }
        parents.push_back(std::move(parent));
    }
    return parents;
}
