// The destination rules on any path, Shift-JIS lead bytes included: every folder the walk
// asks about is the path itself or lies above it, and the answer is one of them.
#include "destination_check.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The first byte says which of the folders above exists; the rest is the path.
    const unsigned existing = size > 0 ? data[0] : 0;
    const std::string folder = size > 0 ? input.substr(1) : input;
    unsigned asked = 0;
    const auto exists = [&](const std::string& path) {
        // A start of the folder's own text; only "X:" gains its backslash.
        const bool above =
            folder.compare(0, path.size(), path) == 0 && path.size() <= folder.size();
        Require(above || path == folder + "\\");
        return ++asked == existing;
    };
    const corvane::process::DestinationLayout layout = {{"amd64"}, {{folder, 1}, {"x", 2}}};
    const corvane::process::DestinationVerdict verdict = corvane::process::JudgeDestination(
        folder, layout, exists,
        [](const std::string&) {
            return corvane::process::VolumeFacts{0, 1, 512};
        },
        IsShiftJisLeadByte);
    Require(verdict.existingFolder.empty() || asked == existing);
    return 0;
}
