// The package tool's commands. The program's main() only hands its arguments
// over, so the tests run the very same code in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace corvane::pack {

enum ExitCode {
    kExitOk = 0,
    kExitFailure = 1, // bad input, or the package failed verification
    kExitUsage = 2,
};

// `args` excludes the program name. Normal output goes to `out`, messages
// about faults and warnings to `err`.
int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace corvane::pack
