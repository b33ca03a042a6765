// The installer's registry work on the real registry: the uninstall entry and
// where it lands on 64-bit Windows, the saved values that rollback writes
// back, and the installed-version check that reads the entry again. Every
// test uses keys of its own and deletes them.
#include "installed_version_check.h"
#include "installer.h"
#include "installer_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

using installer_test::DeleteKeyTree;
using installer_test::ScratchFolder;
using installer_test::ScratchKey;
using installer_test::TestSetupLog;

namespace {

constexpr char kUninstallPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kOwnVersion[] = "3.12.0.3230";

bool IsWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

struct RawValue {
    bool exists = false;
    DWORD type = 0;
    std::string data;
};

// A value as stored, read in the registry view `view` (0: this process's own).
RawValue ReadRaw(const std::string& subkey, const char* name, REGSAM view = 0) {
    RawValue value;
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) !=
        ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
        return value;
    }
    value.data.assign(size, '\0');
    value.exists = RegQueryValueExA(key.get(), name, nullptr, &value.type,
                                    reinterpret_cast<BYTE*>(size ? &value.data[0] : nullptr),
                                    &size) == ERROR_SUCCESS;
    value.data.resize(size);
    return value;
}

void WriteRaw(const std::string& subkey, const char* name, DWORD type, const std::string& data,
              REGSAM view = 0) {
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS)
        << "cannot create " << subkey;
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             DWORD(data.size())),
              ERROR_SUCCESS)
        << "cannot write " << name;
}

bool KeyExists(const std::string& subkey, REGSAM view = 0) {
    UniqueHkey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, key.put()) ==
           ERROR_SUCCESS;
}

std::string Sz(const std::string& text) {
    return text + '\0';
}

class RegistryTest : public ::testing::Test {
protected:
    ScratchFolder logFolder;
    TestSetupLog log{logFolder / "setup.log"};
    std::unique_ptr<CInstaller> installer;
    int restartNeeded = 0;
    // A product code of this test's own, so no real entry is touched.
    std::string productCode;
    std::string uninstallKey;
    size_t linesAtStart = 0;

    void SetUp() override {
        static unsigned counter = 0;
        productCode = "{corvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(++counter) + "}";
        uninstallKey = kUninstallPrefix + productCode;
        installer = std::make_unique<CInstaller>(log.Handle(), FALSE, TRUE, FALSE, FALSE);
        installer->SetRestartFlagPointer(&restartNeeded);
        linesAtStart = log.Lines().size();
    }
    void TearDown() override {
        installer.reset();
        DeleteKeyTree(HKEY_LOCAL_MACHINE, uninstallKey, KEY_WOW64_32KEY);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, uninstallKey, KEY_WOW64_64KEY);
    }

    void Register(const char* installLocation, const char* displayVersion = kOwnVersion) {
        installer->WriteUninstallRegistration(
            productCode.c_str(), installLocation, "Corvane RDP Edition - Workstation",
            "corvane-rdp-workstation-uninstaller.exe", "Corvane RDP Edition - Workstation",
            displayVersion, "Marrowfend LLC");
    }
    size_t NewLogLines() const { return log.Lines().size() - linesAtStart; }
};

TEST_F(RegistryTest, WritesTheUninstallEntryAsSixStringsWithTheirZeros) {
    const char* folder = "C:\\Program Files\\Corvane RDP Edition - Workstation";
    Register(folder);

    const std::pair<const char*, std::string> expected[] = {
        {"InstallLocation", folder},
        {"UninstallString", std::string(folder) + "\\corvane-rdp-workstation-uninstaller.exe"},
        {"StartMenuLocation", "Corvane RDP Edition - Workstation"},
        {"DisplayName", "Corvane RDP Edition - Workstation"},
        {"DisplayVersion", "3.12.0.3230"},
        {"Publisher", "Marrowfend LLC"},
    };
    for (const auto& [name, text] : expected) {
        const RawValue value = ReadRaw(uninstallKey, name, KEY_WOW64_32KEY);
        ASSERT_TRUE(value.exists) << name;
        EXPECT_EQ(value.type, DWORD(REG_SZ)) << name;
        EXPECT_EQ(value.data, Sz(text)) << name << ": the stored size counts the zero";
    }
    EXPECT_EQ(NewLogLines(), 0u) << "the registration writes nothing to the log";
    EXPECT_EQ(restartNeeded, 0);
}

// A 32-bit setup on 64-bit Windows writes into the 32-bit view, which is
// where the list of installed programs shows 32-bit products and where the
// next setup's version check looks.
TEST_F(RegistryTest, PutsTheUninstallEntryIntoThe32BitView) {
    if (!IsWow64()) {
        GTEST_SKIP() << "32-bit Windows has one registry view";
    }
    Register("C:\\Program Files\\Corvane");
    EXPECT_TRUE(KeyExists(uninstallKey, KEY_WOW64_32KEY));
    EXPECT_FALSE(KeyExists(uninstallKey, KEY_WOW64_64KEY));
    EXPECT_TRUE(KeyExists("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                              productCode,
                          KEY_WOW64_64KEY));
}

TEST_F(RegistryTest, AReinstallElsewhereMovesTheLocationAndKeepsOtherValues) {
    Register("C:\\Old Place");
    WriteRaw(uninstallKey, "NoModify", REG_DWORD, std::string("\x01\0\0\0", 4));
    Register("D:\\New Place");

    EXPECT_EQ(ReadRaw(uninstallKey, "InstallLocation").data, Sz("D:\\New Place"));
    EXPECT_EQ(ReadRaw(uninstallKey, "UninstallString").data,
              Sz("D:\\New Place\\corvane-rdp-workstation-uninstaller.exe"));
    EXPECT_EQ(ReadRaw(uninstallKey, "NoModify").data, std::string("\x01\0\0\0", 4));
}

TEST_F(RegistryTest, AnEntryThatCannotBeCreatedIsLeftOutSilently) {
    // Longer than any key name may be.
    productCode = std::string(300, 'x');
    uninstallKey = kUninstallPrefix + productCode;
    EXPECT_NO_THROW(Register("C:\\Program Files\\Corvane"));
    EXPECT_FALSE(KeyExists(uninstallKey));
    EXPECT_EQ(NewLogLines(), 0u);
}

// Values the installation is about to change are saved first; rollback writes
// them back exactly, type and bytes.
class RegistryJournalTest : public RegistryTest {
protected:
    ScratchKey first;
    ScratchKey second;
};

struct SavedCase {
    const char* name;
    DWORD type;
    std::string data;
};

TEST_F(RegistryJournalTest, WritesSavedValuesBackByteForByte) {
    const SavedCase originals[] = {
        {"LogPath", REG_SZ, Sz("C:\\Windows\\inf")},
        {"LogLevel", REG_DWORD, std::string("\x20\0\0\0", 4)},
        {"Blob", REG_BINARY, std::string("\0\xFF\x7F\0\x80", 5)},
        {"UpperFilters", REG_MULTI_SZ, std::string("kbdclass\0hxvfilter\0\0", 20)},
        {"Path", REG_EXPAND_SZ, Sz("%SystemRoot%\\system32")},
        {"Empty", REG_SZ, std::string()},
    };
    for (const SavedCase& original : originals) {
        WriteRaw(first.Subkey(), original.name, original.type, original.data);
        EXPECT_TRUE(installer->SaveRegistryValue(first.Subkey().c_str(), original.name))
            << original.name;
    }
    // The installation changes them, some to another type, and saves one of
    // them again after the change: the first save must win.
    for (const SavedCase& original : originals) {
        WriteRaw(first.Subkey(), original.name, REG_SZ, Sz("changed by the installation"));
    }
    installer->SaveRegistryValue(first.Subkey().c_str(), "LogLevel");

    installer->RestoreRegistryValues();

    for (const SavedCase& original : originals) {
        const RawValue value = ReadRaw(first.Subkey(), original.name);
        EXPECT_EQ(value.type, original.type) << original.name;
        EXPECT_EQ(value.data, original.data) << original.name;
    }
    EXPECT_TRUE(installer->GetRegistryBackups().empty());
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_EQ(NewLogLines(), 0u);
}

TEST_F(RegistryJournalTest, SavesNothingWhereThereIsNothing) {
    EXPECT_FALSE(installer->SaveRegistryValue(first.Subkey().c_str(), "Missing"));
    EXPECT_FALSE(installer->SaveRegistryValue((first.Subkey() + "\\Missing").c_str(), "Value"));
    EXPECT_TRUE(installer->GetRegistryBackups().empty());
}

// A key that went away is skipped; the walk goes on to the next.
TEST_F(RegistryJournalTest, SkipsAKeyThatIsGoneAndRestoresTheOthers) {
    // The key that goes away is the one the walk comes to first.
    const std::string& gone = std::min(first.Subkey(), second.Subkey());
    const std::string& kept = std::max(first.Subkey(), second.Subkey());
    WriteRaw(gone, "Value", REG_SZ, Sz("gone"));
    WriteRaw(kept, "Value", REG_SZ, Sz("kept"));
    ASSERT_TRUE(installer->SaveRegistryValue(gone.c_str(), "Value"));
    ASSERT_TRUE(installer->SaveRegistryValue(kept.c_str(), "Value"));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, gone);
    WriteRaw(kept, "Value", REG_SZ, Sz("changed"));

    installer->RestoreRegistryValues();

    EXPECT_FALSE(KeyExists(gone)) << "a restore never creates a key";
    EXPECT_EQ(ReadRaw(kept, "Value").data, Sz("kept"));
    EXPECT_TRUE(installer->GetRegistryBackups().empty());
}

// The Welcome page's check against real uninstall entries.
struct InstalledRow {
    const char* what;
    bool hasKey;
    const char* name; // value name; null for none
    DWORD type;
    std::string data;
    REGSAM view;
    int result;
    const char* installedInMessage; // null when no message
};

void PrintTo(const InstalledRow& row, std::ostream* out) {
    *out << row.what;
}

class InstalledVersionTest : public RegistryTest,
                             public ::testing::WithParamInterface<InstalledRow> {};

TEST_P(InstalledVersionTest, StopsTheSetupOnlyForANewerInstalledVersion) {
    const InstalledRow& row = GetParam();
    if (row.view == KEY_WOW64_64KEY && !IsWow64()) {
        GTEST_SKIP() << "32-bit Windows has one registry view";
    }
    if (row.hasKey) {
        if (row.name) {
            WriteRaw(uninstallKey, row.name, row.type, row.data, row.view);
        } else {
            WriteRaw(uninstallKey, "DisplayName", REG_SZ, Sz("Corvane"), row.view);
        }
    }
    std::string message = "untouched";

    EXPECT_EQ(CheckInstalledVersion(productCode.c_str(), kOwnVersion, &message), row.result);

    if (row.installedInMessage) {
        EXPECT_EQ(message, std::string("You are trying to install older version of the software. "
                                       "Before installing version 3.12.0.3230 you need to "
                                       "uninstall version ") +
                               row.installedInMessage + " first.\n");
    } else {
        EXPECT_EQ(message, "untouched");
    }
}

const std::string kLongest = "4.0.0.0" + std::string(55, '_'); // 62 characters

INSTANTIATE_TEST_SUITE_P(
    UninstallEntries, InstalledVersionTest,
    ::testing::Values(
        InstalledRow{"no entry", false, nullptr, 0, "", 0, 0, nullptr},
        InstalledRow{"an entry without DisplayVersion", true, nullptr, 0, "", 0, 0, nullptr},
        InstalledRow{"a newer version", true, "DisplayVersion", REG_SZ, Sz("3.13.0.1"), 0, 1,
                     "3.13.0.1"},
        InstalledRow{"a newer version as the longest value read", true, "DisplayVersion", REG_SZ,
                     Sz(kLongest), 0, 1, kLongest.c_str()},
        InstalledRow{"a newer version one character too long", true, "DisplayVersion", REG_SZ,
                     Sz(kLongest + "_"), 0, 0, nullptr},
        InstalledRow{"a newer version in the 64-bit view only", true, "DisplayVersion", REG_SZ,
                     Sz("9.0.0.0"), KEY_WOW64_64KEY, 0, nullptr}));

// What the installation writes, the next setup reads: same key, same view.
TEST_F(RegistryTest, TheVersionCheckFindsWhatTheRegistrationWrote) {
    Register("C:\\Program Files\\Corvane", "4.0.0.1");
    std::string message;
    EXPECT_EQ(CheckInstalledVersion(productCode.c_str(), kOwnVersion, &message), 1);
    EXPECT_NE(message.find("uninstall version 4.0.0.1 first."), std::string::npos) << message;

    Register("C:\\Program Files\\Corvane", kOwnVersion);
    EXPECT_EQ(CheckInstalledVersion(productCode.c_str(), kOwnVersion, &message), 0);
}

} // namespace
