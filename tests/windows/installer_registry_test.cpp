// The installer's registry work on the real registry: the saved values
// rollback writes back, and the installed-version check. Where the uninstall
// entry lands and its six values are covered end to end (tests/e2e).
#include "installed_version_check.h"
#include "installer_test_support.h"

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

// The Welcome page's check against real uninstall entries: the read's buffer,
// its registry view and the message (how versions compare is tested natively).
TEST_F(RegistryTest, StopsTheSetupOnlyForANewerInstalledVersion) {
    // 62 characters and a zero: the longest value read.
    const std::string longest = "4.0.0.0" + std::string(55, '_');
    // The 64-bit view's row comes first, while the 32-bit view has no entry.
    const struct {
        std::string displayVersion;
        REGSAM view;
        bool newer; // the message names the installed version; else the setup goes on
    } rows[] = {
        {"9.0.0.0", KEY_WOW64_64KEY, false},
        {"3.13.0.1", 0, true},
        {longest, 0, true},
    };
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    for (const auto& row : rows) {
        if (row.view == KEY_WOW64_64KEY && !wow64) {
            continue; // 32-bit Windows has one registry view
        }
        WriteValue(uninstallKey, "DisplayVersion", Sz(row.displayVersion), row.view);
        std::string message = "untouched";
        EXPECT_EQ(CheckInstalledVersion(productCode.c_str(), kOwnVersion, &message), row.newer)
            << row.displayVersion;
        EXPECT_EQ(message, row.newer ? "You are trying to install older version of the software. "
                                       "Before installing version 3.12.0.3230 you need to "
                                       "uninstall version " +
                                           row.displayVersion + " first.\n"
                                     : "untouched");
    }
}

} // namespace
