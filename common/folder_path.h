// Folder paths as the setup takes them from its user (the -directory option,
// a folder typed on a page): made full, with one separator between names and
// none at the end, and checked against what the engine can write below them.
// Every file and journal key is built by joining such a folder with a name,
// so a relative folder or a trailing backslash would spread into the
// registration and every record. Pure: the current folder and the code page's
// lead bytes are given, and the rules are tested natively.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Whether a byte starts a two-byte character of the system's ANSI code page
// (IsDBCSLeadByte on Windows): its second byte may equal '\\' or '/' and is
// then no separator. Empty: a single-byte code page.
using FolderPathLeadBytes = std::function<bool(unsigned char)>;

enum class FolderPathProblem {
    kNone,
    kEmpty,       // nothing given
    kInvalidName, // a character or name Windows refuses, or a form the engine cannot use
    kDriveRoot,   // a drive or share root: an installation needs a folder of its own
    kTooLong,     // longer than `maxLength`
};

struct ResolvedFolderPath {
    std::string path; // the full path; empty unless `problem` is kNone
    FolderPathProblem problem = FolderPathProblem::kNone;
};

// Resolves `text` to a full folder path. A relative path is taken from
// `currentFolder` (itself a full path), "\x" from the current folder's root,
// and "D:x" from the current folder when it is on D: and from D:\ otherwise.
// '/' counts as '\\'; empty names and "." go, ".." goes up one level (never
// above the root); trailing blanks and dots of a name go, as Windows drops
// them. Device paths ("\\?\", "\\.\"), the characters < > : " | ? * and
// control characters, and device names (CON, NUL, COM1...) are refused; so
// is a result longer than `maxLength` bytes.
ResolvedFolderPath ResolveFolderPath(const std::string& text, const std::string& currentFolder,
                                     size_t maxLength, const FolderPathLeadBytes& isLeadByte = {});

// The folders above a full folder path as ResolveFolderPath gives it, nearest
// first, ending with the root with its separator ("C:\" or "\\server\share\").
// Empty for a path that is not full.
std::vector<std::string> ParentFolders(const std::string& fullPath,
                                       const FolderPathLeadBytes& isLeadByte = {});
