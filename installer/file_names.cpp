#include "file_names.h"

std::string JoinPath(const std::string& folder, const std::string& name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append(1, '\\').append(name);
    return path;
}

bool FormatFallbackTempName(const std::string& folder, const std::string& prefix, unsigned minute,
                            unsigned second, unsigned millisecond, std::string* name) {
    std::string candidate = JoinPath(folder, prefix);
    candidate.append(1, '-')
        .append(std::to_string(minute))
        .append(std::to_string(second))
        .append(std::to_string(millisecond))
        .append(".tmp");
    name->clear();
    if (candidate.size() >= kMaxPathBytes) {
        return false;
    }
    *name = std::move(candidate);
    return true;
}
