#include "destination_check.h"

#include <algorithm>

namespace corvane::process {

namespace {

// A path read character by character, so that the second byte of a two-byte
// character is never taken for a backslash.
struct PathShape {
    size_t characters = 0;
    std::vector<size_t> backslashes; // byte positions of the real ones
};

PathShape ShapeOf(const std::string& path, const LeadBytePredicate& isLeadByte) {
    PathShape shape;
    for (size_t i = 0; i < path.size(); ++i) {
        ++shape.characters;
        const auto byte = static_cast<unsigned char>(path[i]);
        if (isLeadByte && isLeadByte(byte) && i + 1 < path.size()) {
            ++i;
        } else if (byte == '\\') {
            shape.backslashes.push_back(i);
        }
    }
    return shape;
}

bool EndsWithBackslash(const std::string& path, const PathShape& shape) {
    return !shape.backslashes.empty() && shape.backslashes.back() + 1 == path.size();
}

size_t Excess(size_t length, size_t limit) {
    return length > limit ? length - limit : 0;
}

// "C:\" and "C:" name the root of a drive.
bool IsDriveRoot(const std::string& path) {
    return (path.size() == 2 || (path.size() == 3 && path[2] == '\\')) && path[1] == ':';
}

// Without trailing backslashes, but "C:" as "C:\".
std::string Normalised(std::string path, const LeadBytePredicate& isLeadByte) {
    while (!IsDriveRoot(path) && EndsWithBackslash(path, ShapeOf(path, isLeadByte))) {
        path.pop_back();
    }
    if (path.size() == 2 && path[1] == ':') {
        path += '\\';
    }
    return path;
}

} // namespace

std::string JoinPath(const std::string& folder, const std::string& relative,
                     const LeadBytePredicate& isLeadByte) {
    if (folder.empty() || EndsWithBackslash(folder, ShapeOf(folder, isLeadByte))) {
        return folder + relative;
    }
    return folder + "\\" + relative;
}

size_t PathExcess(const std::string& folder, const DestinationLayout& layout,
                  const LeadBytePredicate& isLeadByte) {
    const auto length = [&isLeadByte](const std::string& path) {
        return ShapeOf(path, isLeadByte).characters;
    };
    size_t excess = Excess(length(folder), kMaxFolderPath);
    for (const std::string& subfolder : layout.folders) {
        excess = std::max(excess,
                          Excess(length(JoinPath(folder, subfolder, isLeadByte)), kMaxFolderPath));
    }
    for (const PlannedFile& file : layout.files) {
        excess =
            std::max(excess, Excess(length(JoinPath(folder, file.name, isLeadByte)), kMaxFilePath));
    }
    return excess;
}

uint64_t SpaceNeeded(const std::vector<PlannedFile>& files, uint32_t clusterSize) {
    uint64_t total = 0;
    for (const PlannedFile& file : files) {
        total += clusterSize == 0 ? file.size
                                  : (file.size + clusterSize - 1) / clusterSize * clusterSize;
    }
    return total;
}

std::string NearestExistingFolder(const std::string& folder,
                                  const std::function<bool(const std::string&)>& exists,
                                  const LeadBytePredicate& isLeadByte) {
    std::string path = Normalised(folder, isLeadByte);
    while (!path.empty()) {
        if (exists(path)) {
            return path;
        }
        const PathShape shape = ShapeOf(path, isLeadByte);
        // A drive root, a bare name and \\server\share have no folder
        // above them that could be asked.
        const bool unc = path.compare(0, 2, "\\\\") == 0;
        if (IsDriveRoot(path) || shape.backslashes.empty() ||
            shape.backslashes.size() <= (unc ? 3u : 0u) || shape.backslashes.back() == 0) {
            break;
        }
        path = Normalised(path.substr(0, shape.backslashes.back()), isLeadByte);
    }
    return {};
}

DestinationVerdict JudgeDestination(const std::string& folder, const DestinationLayout& layout,
                                    const std::function<bool(const std::string&)>& exists,
                                    const std::function<VolumeFacts(const std::string&)>& inspect,
                                    const LeadBytePredicate& isLeadByte) {
    DestinationVerdict verdict;
    verdict.excess = PathExcess(folder, layout, isLeadByte);
    if (verdict.excess != 0) {
        verdict.problem = DestinationProblem::kPathTooLong;
        return verdict;
    }
    verdict.existingFolder = NearestExistingFolder(folder, exists, isLeadByte);
    if (verdict.existingFolder.empty()) {
        verdict.problem = DestinationProblem::kNotWritable;
        verdict.writeError = kErrorPathNotFound;
        return verdict;
    }
    const VolumeFacts facts = inspect(verdict.existingFolder);
    if (facts.writeError != 0) {
        verdict.problem = DestinationProblem::kNotWritable;
        verdict.writeError = facts.writeError;
        return verdict;
    }
    verdict.neededBytes = SpaceNeeded(layout.files, facts.clusterSize);
    verdict.freeBytes = facts.freeBytes;
    if (verdict.freeBytes < verdict.neededBytes) {
        verdict.problem = DestinationProblem::kNotEnoughSpace;
    }
    return verdict;
}

} // namespace corvane::process
