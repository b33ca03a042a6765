// The setup program's command line: splitting the raw text into tokens and
// recognising the options. No Windows API here, so it is built and tested
// natively; the program feeds it GetCommandLineA().
#pragma once

#include "ascii_case.h"
#include <string>
#include <string_view>
#include <vector>

// The options the setup program understands. Every flag starts false and the
// folder empty; a token that matches no option is ignored.
struct CommandLineOptions {
    bool setupApiLog = false;   // -setupapi-log: capture the SetupAPI log of the install
    bool unpack = false;        // -unpack: write the payload into the current folder
    bool silent = false;        // -silent: install without pages
    bool showMessages = false;  // -im: allow message boxes in silent mode
    bool noRestart = false;     // -norestart: never restart after a silent install
    bool licenseAccept = false; // -licenseaccept: a silent install refuses without it
    std::string directory;      // -directory <folder>; empty when not given
};

// Splits command-line text into tokens. Blanks, tabs, CR and LF separate
// tokens. A double quote opens a quoted run that takes every character up to
// the next double quote (or the end of the text) into the current token; the
// quotes themselves are dropped, and a quoted run may sit in the middle of a
// token (C:\"Program Files"\x is one token). A quote that starts a token
// always yields a token, so "" gives an empty one. There is no escape
// character. Token 0 is the program path. A null text gives no tokens.
std::vector<std::string> SplitCommandLine(const char* text);

// Recognises the options in the tokens (the program path included) by
// comparing whole tokens without regard to ASCII case. -directory takes the
// next token as its value (that token is consumed, even when it looks like an
// option) and keeps it only when it is non-empty; as the last token it is
// ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& tokens);
