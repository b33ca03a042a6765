#include "command_line.h"

namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::vector<std::string> SplitCommandLine(const char* text) {
    std::vector<std::string> tokens;
    if (text == nullptr) {
        return tokens;
    }
    const char* p = text;
    while (*p != '\0') {
        while (IsSeparator(*p)) {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        // From here on a token exists, even if it ends up empty ("").
        std::string token;
        while (*p != '\0' && !IsSeparator(*p)) {
            if (*p == '"') {
                ++p;
                while (*p != '\0' && *p != '"') {
                    token += *p++;
                }
                if (*p == '"') {
                    ++p;
                }
            } else {
                token += *p++;
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

CommandLineOptions ParseCommandLine(const std::vector<std::string>& tokens) {
    struct Flag {
        const char* name;
        bool CommandLineOptions::*field;
    };
    static const Flag kFlags[] = {
        {"-setupapi-log", &CommandLineOptions::setupApiLog},
        {"-unpack", &CommandLineOptions::unpack},
        {"-silent", &CommandLineOptions::silent},
        {"-im", &CommandLineOptions::showMessages},
        {"-norestart", &CommandLineOptions::noRestart},
        {"-licenseaccept", &CommandLineOptions::licenseAccept},
    };

    CommandLineOptions options;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (EqualsIgnoringAsciiCase(token, "-directory")) {
            if (i + 1 < tokens.size()) {
                ++i;
                if (!tokens[i].empty()) {
                    options.directory = tokens[i];
                }
            }
            continue;
        }
        for (const Flag& flag : kFlags) {
            if (EqualsIgnoringAsciiCase(token, flag.name)) {
                options.*flag.field = true;
                break;
            }
        }
    }
    return options;
}
