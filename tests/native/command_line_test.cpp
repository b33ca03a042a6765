// The command line as the setup program sees it: how GetCommandLineA() text
// falls into tokens and which options those tokens switch on.
#include "command_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::string>;

struct SplitCase {
    const char* name;
    const char* text;
    Tokens expected;
};

void PrintTo(const SplitCase& value, std::ostream* out) {
    *out << value.name;
}

const SplitCase kSplitCases[] = {
    {"EmptyText", "", {}},
    {"OnlySeparators", " \t\r\n ", {}},
    {"ProgramOnly", "setup.exe", {"setup.exe"}},
    {"QuotedProgramPath",
     "\"C:\\Users\\Jo Doe\\Downloads\\setup.exe\" -silent",
     {"C:\\Users\\Jo Doe\\Downloads\\setup.exe", "-silent"}},
    {"EverySeparatorKind", "a\tb\rc\nd  e", {"a", "b", "c", "d", "e"}},
    {"LeadingAndTrailingSeparators", "  a b  \r\n", {"a", "b"}},
    {"EmptyQuotedToken", "setup.exe -directory \"\"", {"setup.exe", "-directory", ""}},
    {"EmptyQuotedTokenAtStart", "\"\" x", {"", "x"}},
    {"TwoEmptyQuotedTokens", "\"\" \"\"", {"", ""}},
    {"QuotedRunKeepsEverySeparator", "\"a b\tc\r\nd\"", {"a b\tc\r\nd"}},
    {"QuoteInsideToken", "C:\\\"Program Files\"\\x", {"C:\\Program Files\\x"}},
    {"TextAfterClosingQuoteJoinsToken", "\"a b\"c d", {"a bc", "d"}},
    {"TokenEndingInEmptyQuotes", "a\"\" b", {"a", "b"}},
    {"AdjacentQuotedRuns", "\"a\"\"b\"", {"ab"}},
    {"UnterminatedQuoteRunsToTheEnd",
     "setup.exe -directory \"C:\\My Folder -silent",
     {"setup.exe", "-directory", "C:\\My Folder -silent"}},
    {"LoneQuoteAtEnd", "a \"", {"a", ""}},
    {"NoEscapeCharacter", "\"C:\\dir\\\" -silent", {"C:\\dir\\", "-silent"}},
    {"HighBytesAreOrdinaryCharacters", "\xE4\xF6 \xA0x", {"\xE4\xF6", "\xA0x"}},
};

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, GivesTheExpectedTokens) {
    EXPECT_EQ(SplitCommandLine(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitCommandLineTest, testing::ValuesIn(kSplitCases),
                         [](const testing::TestParamInfo<SplitCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SplitCommandLine, NullTextGivesNoTokens) {
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

// Tokens never contain a quote (quotes are dropped), so quoting each token and
// joining them with a blank must give the same tokens back, whatever bytes
// they hold. This catches a splitter that loses or merges characters.
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

struct ParseCase {
    const char* name;
    Tokens tokens;
    CommandLineOptions expected;
};

void PrintTo(const ParseCase& value, std::ostream* out) {
    *out << value.name;
}

CommandLineOptions Options(std::initializer_list<bool CommandLineOptions::*> flags,
                           std::string directory = {}) {
    CommandLineOptions options;
    for (auto flag : flags) {
        options.*flag = true;
    }
    options.directory = std::move(directory);
    return options;
}

using O = CommandLineOptions;

const ParseCase kParseCases[] = {
    {"NoOptions", {"setup.exe"}, Options({})},
    {"NoTokensAtAll", {}, Options({})},
    {"EveryFlag",
     {"setup.exe", "-setupapi-log", "-unpack", "-silent", "-im", "-norestart", "-licenseaccept"},
     Options({&O::setupApiLog, &O::unpack, &O::silent, &O::showMessages, &O::noRestart,
              &O::licenseAccept})},
    {"UpperCaseOption",
     {"setup.exe", "-SILENT", "-LicenseAccept"},
     Options({&O::silent, &O::licenseAccept})},
    {"MixedCaseDirectory", {"setup.exe", "-DiReCtOrY", "D:\\Apps"}, Options({}, "D:\\Apps")},
    {"ProgramPathIsComparedToo", {"-silent"}, Options({&O::silent})},
    {"PrefixOfOptionIsIgnored", {"setup.exe", "-silen", "-i"}, Options({})},
    {"OptionWithTrailingTextIsIgnored",
     {"setup.exe", "-silentx", "-im=1", "-silent "},
     Options({})},
    {"OptionWithoutDashIsIgnored", {"setup.exe", "silent", "/silent"}, Options({})},
    {"LogAndDebugHaveNoEffect", {"setup.exe", "-log", "-debug"}, Options({})},
    {"NonAsciiLookalikeIsNotAnOption", {"setup.exe", "-s\xC4\xB0lent", "-\xC3\x8Dm"}, Options({})},
    {"DirectoryTakesNextToken",
     {"setup.exe", "-silent", "-directory", "C:\\My Apps\\Corvane"},
     Options({&O::silent}, "C:\\My Apps\\Corvane")},
    {"DirectoryAsLastTokenIsIgnored",
     {"setup.exe", "-silent", "-directory"},
     Options({&O::silent})},
    {"EmptyDirectoryKeepsDefault",
     {"setup.exe", "-directory", "", "-silent"},
     Options({&O::silent})},
    {"DirectoryValueIsNeverAnOption",
     {"setup.exe", "-directory", "-silent"},
     Options({}, "-silent")},
    {"LaterDirectoryWins",
     {"setup.exe", "-directory", "C:\\a", "-directory", "C:\\b"},
     Options({}, "C:\\b")},
    {"LaterEmptyDirectoryKeepsEarlierOne",
     {"setup.exe", "-directory", "C:\\a", "-directory", ""},
     Options({}, "C:\\a")},
    {"RepeatedFlag", {"setup.exe", "-im", "-IM"}, Options({&O::showMessages})},
};

class ParseCommandLineTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, RecognisesTheExpectedOptions) {
    const CommandLineOptions actual = ParseCommandLine(GetParam().tokens);
    const CommandLineOptions& expected = GetParam().expected;
    EXPECT_EQ(actual.setupApiLog, expected.setupApiLog);
    EXPECT_EQ(actual.unpack, expected.unpack);
    EXPECT_EQ(actual.silent, expected.silent);
    EXPECT_EQ(actual.showMessages, expected.showMessages);
    EXPECT_EQ(actual.noRestart, expected.noRestart);
    EXPECT_EQ(actual.licenseAccept, expected.licenseAccept);
    EXPECT_EQ(actual.directory, expected.directory);
}

INSTANTIATE_TEST_SUITE_P(Tokens, ParseCommandLineTest, testing::ValuesIn(kParseCases),
                         [](const testing::TestParamInfo<ParseCase>& info) {
                             return std::string(info.param.name);
                         });

// The two steps together, on command lines a user would type.
struct CommandLineCase {
    const char* text;
    CommandLineOptions expected;
};

TEST(CommandLine, QuotedFolderWithBlanksBecomesTheDestinationAsWritten) {
    const CommandLineCase cases[] = {
        {"\"C:\\dl\\setup.exe\" -silent -licenseaccept -directory \"C:\\Program Files\\Corvane X\"",
         Options({&O::silent, &O::licenseAccept}, "C:\\Program Files\\Corvane X")},
        {"setup.exe -directory C:\\\"Program Files\"\\Corvane -silent",
         Options({&O::silent}, "C:\\Program Files\\Corvane")},
        {"setup.exe -directory \"\" -silent", Options({&O::silent})},
        {"setup.exe -silent -directory \"D:\\unfinished quote -im",
         Options({&O::silent}, "D:\\unfinished quote -im")},
    };
    for (const CommandLineCase& c : cases) {
        SCOPED_TRACE(c.text);
        const CommandLineOptions actual = ParseCommandLine(SplitCommandLine(c.text));
        EXPECT_EQ(actual.silent, c.expected.silent);
        EXPECT_EQ(actual.licenseAccept, c.expected.licenseAccept);
        EXPECT_EQ(actual.showMessages, c.expected.showMessages);
        EXPECT_EQ(actual.directory, c.expected.directory);
    }
}

} // namespace
