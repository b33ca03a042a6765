// GetCommandLineA() text: how it falls into tokens and which options they switch on.
#include "command_line.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::string>;

TEST(SplitCommandLine, GivesTheExpectedTokens) {
    const struct {
        const char* name;
        const char* text;
        Tokens expected;
    } cases[] = {
        {"empty text", "", {}},
        {"only separators", " \t\r\n ", {}},
        {"program only", "setup.exe", {"setup.exe"}},
        {"quoted program path",
         "\"C:\\Users\\Jo Doe\\Downloads\\setup.exe\" -silent",
         {"C:\\Users\\Jo Doe\\Downloads\\setup.exe", "-silent"}},
        {"every separator kind", "a\tb\rc\nd  e", {"a", "b", "c", "d", "e"}},
        {"leading and trailing separators", "  a b  \r\n", {"a", "b"}},
        {"empty quoted token", "setup.exe -directory \"\"", {"setup.exe", "-directory", ""}},
        {"empty quoted token at start", "\"\" x", {"", "x"}},
        {"two empty quoted tokens", "\"\" \"\"", {"", ""}},
        {"quoted run keeps every separator", "\"a b\tc\r\nd\"", {"a b\tc\r\nd"}},
        {"quote inside token", "C:\\\"Program Files\"\\x", {"C:\\Program Files\\x"}},
        {"text after closing quote joins token", "\"a b\"c d", {"a bc", "d"}},
        {"token ending in empty quotes", "a\"\" b", {"a", "b"}},
        {"adjacent quoted runs", "\"a\"\"b\"", {"ab"}},
        {"unterminated quote runs to the end",
         "setup.exe -directory \"C:\\My Folder -silent",
         {"setup.exe", "-directory", "C:\\My Folder -silent"}},
        {"lone quote at end", "a \"", {"a", ""}},
        {"no escape character", "\"C:\\dir\\\" -silent", {"C:\\dir\\", "-silent"}},
        {"high bytes are ordinary characters", "\xE4\xF6 \xA0x", {"\xE4\xF6", "\xA0x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.text), c.expected) << c.name;
    }
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

// Quoted and joined, any tokens split back: a splitter losing or merging characters fails.
TEST(SplitCommandLine, QuotedJoinOfAnyTokensSplitsBackToThem) {
    std::mt19937 random(20240611);
    const std::string alphabet = std::string("ab -\t\r\n\\/:.") + "\xE4\xFF";
    for (int round = 0; round < 2000; ++round) {
        Tokens tokens(1 + random() % 5);
        std::string joined;
        for (std::string& token : tokens) {
            const size_t length = random() % 8;
            for (size_t i = 0; i < length; ++i) {
                token += alphabet[random() % alphabet.size()];
            }
            joined += (joined.empty() ? "\"" : " \"") + token + "\"";
        }
        ASSERT_EQ(SplitCommandLine(joined.c_str()), tokens) << "text: " << joined;
    }
}

std::string Describe(const CommandLineOptions& o) {
    std::string text;
    const std::pair<bool, const char*> flags[] = {{o.setupApiLog, "setupapi-log"},
                                                  {o.unpack, "unpack"},
                                                  {o.silent, "silent"},
                                                  {o.showMessages, "im"},
                                                  {o.noRestart, "norestart"},
                                                  {o.licenseAccept, "licenseaccept"}};
    for (const auto& [on, name] : flags) {
        text += on ? std::string(name) + " " : "";
    }
    return text + "directory=" + o.directory;
}

// Split and parsed together, as the program does with GetCommandLineA().
TEST(ParseCommandLine, RecognisesTheExpectedOptions) {
    const struct {
        const char* name;
        const char* text;
        const char* expected;
    } cases[] = {
        {"no options", "setup.exe", "directory="},
        {"no tokens at all", "", "directory="},
        {"every flag", "setup.exe -setupapi-log -unpack -silent -im -norestart -licenseaccept",
         "setupapi-log unpack silent im norestart licenseaccept directory="},
        {"upper case option", "setup.exe -SILENT -LicenseAccept",
         "silent licenseaccept directory="},
        {"mixed case directory", "setup.exe -DiReCtOrY D:\\Apps", "directory=D:\\Apps"},
        {"program path is compared too", "-silent", "silent directory="},
        {"prefix of an option", "setup.exe -silen -i", "directory="},
        {"option with trailing text", "setup.exe -silentx -im=1 \"-silent \"", "directory="},
        {"option without dash", "setup.exe silent /silent", "directory="},
        {"log and debug have no effect", "setup.exe -log -debug", "directory="},
        {"non-ASCII lookalike", "setup.exe -s\xC4\xB0lent -\xC3\x8Dm", "directory="},
        {"quoted folder with blanks",
         "\"C:\\dl\\setup.exe\" -silent -licenseaccept -directory \"C:\\Program Files\\Corvane X\"",
         "silent licenseaccept directory=C:\\Program Files\\Corvane X"},
        {"quotes inside the folder", "setup.exe -directory C:\\\"Program Files\"\\Corvane -silent",
         "silent directory=C:\\Program Files\\Corvane"},
        {"unterminated quote", "setup.exe -silent -directory \"D:\\unfinished quote -im",
         "silent directory=D:\\unfinished quote -im"},
        {"directory as last token", "setup.exe -silent -directory", "silent directory="},
        {"empty directory keeps the default", "setup.exe -directory \"\" -silent",
         "silent directory="},
        {"directory value is never an option", "setup.exe -directory -silent", "directory=-silent"},
        {"later directory wins", "setup.exe -directory C:\\a -directory C:\\b", "directory=C:\\b"},
        {"later empty directory keeps the earlier", "setup.exe -directory C:\\a -directory \"\"",
         "directory=C:\\a"},
        {"repeated flag", "setup.exe -im -IM", "im directory="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Describe(ParseCommandLine(SplitCommandLine(c.text))), c.expected) << c.name;
    }
}

} // namespace
