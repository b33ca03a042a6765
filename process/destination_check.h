// Whether an install folder can take the payload, judged before anything is
// written, so that a folder the installation cannot succeed in is refused
// with its reason instead of failing half-way and rolling back:
//   - every path the installation makes there fits the ANSI path limits;
//   - a file can be created in the folder (or, while it does not exist yet,
//     in the nearest folder above it that does);
//   - that volume has room for the unpacked payload.
// Pure: the file system is asked through the two functions the caller passes
// (CInstallProcess::CheckDestination passes Windows' answers), so every rule
// is tested natively with made-up facts. Paths are ANSI: in a double-byte
// code page the second byte of a character may equal '\\', so the caller
// says which bytes lead a two-byte character (IsDBCSLeadByte on Windows);
// lengths are counted in characters, as the system counts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane::process {

// The longest paths the ANSI file functions take, without the terminating
// NUL: MAX_PATH for a file; for a folder, MAX_PATH less the 12 characters
// CreateDirectoryA keeps free for an 8.3 name inside it.
inline constexpr size_t kMaxFilePath = 259;
inline constexpr size_t kMaxFolderPath = 247;
// ERROR_PATH_NOT_FOUND: not even the volume of the folder exists.
inline constexpr uint32_t kErrorPathNotFound = 3;

// Whether a byte starts a two-byte character of the system's code page; an
// empty function: none does.
using LeadBytePredicate = std::function<bool(unsigned char)>;

// One file the installation writes below its folder.
struct PlannedFile {
    std::string name; // relative to the install folder, e.g. "amd64\hxvhub.sys"
    uint64_t size;    // bytes
};

// What the installation puts into its folder.
struct DestinationLayout {
    std::vector<std::string> folders; // relative, e.g. "amd64"
    std::vector<PlannedFile> files;
};

// What the file system says about the folder that would hold the install
// folder (the install folder itself once it exists).
struct VolumeFacts {
    uint32_t writeError;  // 0 when a file could be created there, else the system's error
    uint64_t freeBytes;   // free bytes this user may use on its volume
    uint32_t clusterSize; // bytes per allocation unit; 0 when unknown
};

enum class DestinationProblem {
    kNone,
    kPathTooLong,
    kNotWritable,
    kNotEnoughSpace,
};

struct DestinationVerdict {
    DestinationProblem problem = DestinationProblem::kNone;
    // kPathTooLong: characters by which the longest path passes its limit.
    size_t excess = 0;
    // The folder the file system was asked about (empty when too long).
    std::string existingFolder;
    uint32_t writeError = 0;
    uint64_t neededBytes = 0;
    uint64_t freeBytes = 0;
};

// `relative` in `folder`, with one backslash between them (none added when
// the folder already ends with one).
std::string JoinPath(const std::string& folder, const std::string& relative,
                     const LeadBytePredicate& isLeadByte = {});

// Characters by which the longest path of the installation in `folder` passes
// its limit: the folder itself and its subfolders against kMaxFolderPath, the
// files against kMaxFilePath. 0 when everything fits.
size_t PathExcess(const std::string& folder, const DestinationLayout& layout,
                  const LeadBytePredicate& isLeadByte = {});

// Bytes the files take on a volume with this allocation unit: each file
// rounded up to whole units (an empty file takes none); the plain sum when
// the unit is unknown.
uint64_t SpaceNeeded(const std::vector<PlannedFile>& files, uint32_t clusterSize);

// `folder`, or the nearest folder above it for which `exists` is true; empty
// when there is none (a drive that does not exist). Trailing backslashes are
// dropped, except after a drive ("C:\").
std::string NearestExistingFolder(const std::string& folder,
                                  const std::function<bool(const std::string&)>& exists,
                                  const LeadBytePredicate& isLeadByte = {});

// The first problem of `folder`, in the order the user would meet them: the
// path length (the file system is not asked at all then), the write access,
// the free space.
DestinationVerdict JudgeDestination(const std::string& folder, const DestinationLayout& layout,
                                    const std::function<bool(const std::string&)>& exists,
                                    const std::function<VolumeFacts(const std::string&)>& inspect,
                                    const LeadBytePredicate& isLeadByte = {});

} // namespace corvane::process
