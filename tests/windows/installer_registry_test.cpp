// The installer's registry work on the real registry: the saved values
// rollback writes back, and the installed-version check. Where the uninstall
// entry lands and its six values are covered end to end (tests/e2e).
#include "installed_version_check.h"
#include "installer_test_support.h"

#include <ostream>

using installer_test::DeleteKeyTree;

namespace {

constexpr char kOwnVersion[] = "3.12.0.3230";

using installer_test::KeyExists;
using installer_test::ReadValue;
using installer_test::RegValue;
using installer_test::Sz;
using installer_test::WriteValue;

// A product code and a scratch key of the test's own, so no real entry is touched.
class RegistryTest : public installer_test::InstallerTest {
protected:
    std::string productCode, uninstallKey, ownKey;

    void SetUp() override {
        static unsigned counter = 0;
        const std::string id =
            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        productCode = "{corvane-test-" + id + "}";
        uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productCode;
        ownKey = "Software\\corvane-test-" + id;
        InstallerTest::SetUp();
    }
    void TearDown() override {
        InstallerTest::TearDown();
        DeleteKeyTree(uninstallKey, KEY_WOW64_32KEY);
        DeleteKeyTree(uninstallKey, KEY_WOW64_64KEY);
        DeleteKeyTree(ownKey);
    }
};

// Rollback writes saved values back exactly, type and bytes; the first save of
// a value wins, and a key that went away is skipped, never created again.
TEST_F(RegistryTest, WritesSavedValuesBackByteForByte) {
    const std::pair<const char*, RegValue> originals[] = {
        {"LogLevel", {true, REG_DWORD, std::string("\x20\0\0\0", 4)}},
        {"Blob", {true, REG_BINARY, std::string("\0\xFF\x7F\0\x80", 5)}},
        {"UpperFilters", {true, REG_MULTI_SZ, std::string("kbdclass\0hxvfilter\0\0", 20)}},
        {"Path", {true, REG_EXPAND_SZ, std::string("%SystemRoot%\\system32", 22)}},
        {"Empty", {true, REG_SZ, std::string()}},
    };
    const std::string saved = ownKey + "\\saved", gone = ownKey + "\\gone";
    for (const auto& [name, value] : originals) {
        WriteValue(saved, name, value);
        EXPECT_TRUE(installer->SaveRegistryValue(saved.c_str(), name)) << name;
        WriteValue(saved, name, Sz("changed by the installation"));
    }
    installer->SaveRegistryValue(saved.c_str(), "LogLevel");
    EXPECT_FALSE(installer->SaveRegistryValue(saved.c_str(), "Missing"));
    EXPECT_FALSE(installer->SaveRegistryValue((saved + "\\Missing").c_str(), "Value"));
    // The key that goes away comes first in the walk, which must go on.
    WriteValue(gone, "Value", Sz("gone"));
    ASSERT_TRUE(installer->SaveRegistryValue(gone.c_str(), "Value"));
    DeleteKeyTree(gone);

    installer->RestoreRegistryValues();

    for (const auto& [name, value] : originals) {
        EXPECT_EQ(ReadValue(saved, name), value) << name;
    }
    EXPECT_FALSE(KeyExists(gone));
    EXPECT_FALSE(ReadValue(saved, "Missing").exists);
    EXPECT_TRUE(installer->GetRegistryBackups().empty());
    EXPECT_EQ(OperationLines(), std::vector<std::string>{});
}

// The Welcome page's check against real uninstall entries.
struct InstalledRow {
    const char* what;
    const char* name; // value name; null: no entry at all
    RegValue data;
    REGSAM view;
    const char* installed; // in the message; null: the setup goes on
};

void PrintTo(const InstalledRow& row, std::ostream* out) {
    *out << row.what;
}

class InstalledVersionTest : public RegistryTest,
                             public ::testing::WithParamInterface<InstalledRow> {};

TEST_P(InstalledVersionTest, StopsTheSetupOnlyForANewerInstalledVersion) {
    const InstalledRow& row = GetParam();
    BOOL wow64 = FALSE;
    if (row.view == KEY_WOW64_64KEY && !(IsWow64Process(GetCurrentProcess(), &wow64) && wow64)) {
        GTEST_SKIP() << "32-bit Windows has one registry view";
    }
    if (row.name) {
        WriteValue(uninstallKey, row.name, row.data, row.view);
    }
    std::string message = "untouched";
    EXPECT_EQ(CheckInstalledVersion(productCode.c_str(), kOwnVersion, &message),
              row.installed ? 1 : 0);
    EXPECT_EQ(message, row.installed ? "You are trying to install older version of the software. "
                                       "Before installing version 3.12.0.3230 you need to "
                                       "uninstall version " +
                                           std::string(row.installed) + " first.\n"
                                     : "untouched");
}

const std::string kLongest = "4.0.0.0" + std::string(55, '_'); // 62 characters

INSTANTIATE_TEST_SUITE_P(
    UninstallEntries, InstalledVersionTest,
    ::testing::Values(
        InstalledRow{"an entry without DisplayVersion", "DisplayName", Sz("Corvane"), 0, nullptr},
        InstalledRow{"a newer version", "DisplayVersion", Sz("3.13.0.1"), 0, "3.13.0.1"},
        InstalledRow{"the longest value read", "DisplayVersion", Sz(kLongest), 0, kLongest.c_str()},
        InstalledRow{"one character too long", "DisplayVersion", Sz(kLongest + "_"), 0, nullptr},
        InstalledRow{"in the 64-bit view only", "DisplayVersion", Sz("9.0.0.0"), KEY_WOW64_64KEY,
                     nullptr}));

} // namespace
