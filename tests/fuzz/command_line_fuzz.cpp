// The command-line splitter and parser on any bytes: quoting every token and joining
// them must split back to the same tokens.
#include "command_line.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The program gets a NUL-terminated text, so an inner NUL simply ends it.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> tokens = SplitCommandLine(text.c_str());
    ParseCommandLine(tokens);

    std::string joined;
    for (const std::string& token : tokens) {
        if (token.find('"') != std::string::npos) {
            std::abort();
        }
        joined += (joined.empty() ? "\"" : " \"") + token + "\"";
    }
    if (SplitCommandLine(joined.c_str()) != tokens) {
        std::abort();
    }
    return 0;
}
