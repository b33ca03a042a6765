// What the setup program makes of its start: the command line's tokens and options, and
// which installed DisplayVersion values stop it as newer.
#include "command_line.h"
#include "installed_version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using Tokens = std::vector<std::string>;

// The quoted join of any tokens splitting back to them is the fuzzer's check.
TEST(SplitCommandLine, GivesTheExpectedTokens) {
    const struct {
        const char* text;
        Tokens expected;
    } cases[] = {
        {" \t\r\n ", {}},
        {"\"C:\\Users\\Jo Doe\\setup.exe\" -silent", {"C:\\Users\\Jo Doe\\setup.exe", "-silent"}},
        {"a\tb\rc\nd  e", {"a", "b", "c", "d", "e"}},
        {"setup.exe -directory \"\"", {"setup.exe", "-directory", ""}},
        {"\"a b\tc\r\nd\"", {"a b\tc\r\nd"}},
        {"C:\\\"Program Files\"\\x", {"C:\\Program Files\\x"}},
        {"-directory \"C:\\My Folder -silent", {"-directory", "C:\\My Folder -silent"}},
        {"\"C:\\dir\\\" -silent", {"C:\\dir\\", "-silent"}}, // no escape character
        {"\xE4\xF6 \xA0x", {"\xE4\xF6", "\xA0x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.text), c.expected) << c.text;
    }
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
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
        const char* text;
        const char* expected;
    } cases[] = {
        {"", "directory="},
        {"setup.exe -setupapi-log -unpack -silent -im -norestart -licenseaccept",
         "setupapi-log unpack silent im norestart licenseaccept directory="},
        {"setup.exe -im", "im directory="},
        {"setup.exe -SILENT -LicenseAccept -DiReCtOrY D:\\Apps",
         "silent licenseaccept directory=D:\\Apps"},
        {"-silent", "silent directory="}, // the program's own token is compared too
        {"setup.exe -silen -silentx -im=1 \"-silent \" silent /silent -log", "directory="},
        {"setup.exe -s\xC4\xB0lent -\xC3\x8Dm", "directory="},
        {"setup.exe -directory \"C:\\Program Files\\Corvane X\" -licenseaccept",
         "licenseaccept directory=C:\\Program Files\\Corvane X"},
        {"setup.exe -directory \"\" -silent", "silent directory="},
        {"setup.exe -directory -silent", "directory=-silent"},
        {"setup.exe -directory C:\\a -directory C:\\b", "directory=C:\\b"},
        {"setup.exe -directory C:\\a -directory \"\"", "directory=C:\\a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Describe(ParseCommandLine(SplitCommandLine(c.text))), c.expected) << c.text;
    }
}

TEST(InstalledVersion, StopsTheSetupOnlyForANewerVersion) {
    // The value's bytes as stored: a REG_SZ holds its text and a zero.
    const struct {
        std::string stored;
        bool newer;
    } rows[] = {
        {"3.12.0.9999\0"s, false}, // the fourth number does not count
        {"3.13.0.1\0"s, true},
        {"4.0.0.0\0"s, true},
        {"3.12.1.0\0"s, true},
        {"3.12\0"s, false}, // no build number: 0, the same version
        {"3.12.1\0"s, true},
        {"4\0"s, false},
        {" 4. 0.0.0 beta\0"s, true},
        {"-4.0.0.0\0"s, false},
        {"99999999999.0\0"s, true},
        {"3.12\0009.9\0"s, false}, // the text ends at its first zero byte
        {"4.0.0.0", true},         // stored without its zero
        // The longest value read is 63 bytes: 63 characters and their zero make 64.
        {"4.0.0.0" + std::string(55, ' ') + '\0', true},
        {"4.0.0.0" + std::string(56, ' ') + '\0', false},
        {"4.0.0.0" + std::string(56, ' '), true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsNewerVersionInstalled(row.stored.data(), row.stored.size(), "3.12.0.3230"),
                  row.newer)
            << row.stored;
    }
    // Our own version needs two numbers too.
    EXPECT_FALSE(IsNewerVersionInstalled("4.0.0.0", 7, "4"));
    EXPECT_TRUE(IsNewerVersionInstalled("4.0.0.0", 7, "3.12"));
}

} // namespace
