// The command-line splitter and parser on any bytes: quoting every token and joining
// them must split back to the same tokens.
#include "command_line.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The program gets a NUL-terminated text, so an inner NUL simply ends it.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> tokens = SplitCommandLine(text.c_str());
    ParseCommandLine(tokens);

    std::string joined;
    for (const std::string& token : tokens) {
        Require(token.find('"') == std::string::npos);
        joined += (joined.empty() ? "\"" : " \"") + token + "\"";
    }
    Require(SplitCommandLine(joined.c_str()) == tokens);
    return 0;
}
