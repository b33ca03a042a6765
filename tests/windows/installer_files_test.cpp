// InstallFile on real files: what lands on disk, what the log says, and what
// the journal keeps for rollback. The install folder's protection, planted
// links and whole rollbacks are covered end to end (tests/e2e).
#include "installer_test_support.h"

#include <regex>

using installer_test::ReadWholeFile;
using installer_test::WriteWholeFile;

namespace {

class InstallerFilesTest : public installer_test::InstallerTest {
protected:
    installer_test::ScratchFolder folder;

    void Install(const std::string& name, const std::string& data) {
        installer->InstallFile(name.c_str(), folder.Path().c_str(), data.data(),
                               uint32_t(data.size()));
    }
    // GetTempFileNameA's form: the prefix's first three letters, hex digits, ".tmp".
    bool IsSystemTempName(const std::string& path, const std::string& prefix) const {
        return std::regex_match(path, std::regex(std::regex_replace(folder / prefix.substr(0, 3),
                                                                    std::regex("[\\\\.]"), "\\$&") +
                                                 "[0-9A-Fa-f]{1,4}\\.tmp"));
    }
};

// Rollback deletes what this run created and puts back the first backup of a
// user's file: a second install of either must keep it that way.
TEST_F(InstallerFilesTest, BacksUpOnlyTheUsersFilesAndOnlyOnce) {
    const std::string readme = folder / "readme.txt", library = folder / "hxvchan.dll";
    const std::string binary("MZ\0\x01payload\r\n", 13);
    WriteWholeFile(readme, "the user's text");
    Install("readme.txt", "first");
    Install("readme.txt", "second");
    Install("hxvchan.dll", "first");
    Install("hxvchan.dll", binary);

    EXPECT_EQ(ReadWholeFile(readme), "second");
    EXPECT_EQ(ReadWholeFile(library), binary);
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Install File: " + readme, "Install File: " + readme,
                                        "Install File: " + library, "Install File: " + library}));
    ASSERT_EQ(installer->GetFileBackups().size(), 1u);
    const auto [backedUp, backup] = *installer->GetFileBackups().begin();
    EXPECT_EQ(backedUp, readme);
    EXPECT_TRUE(IsSystemTempName(backup, "readme.txt")) << backup;
    EXPECT_EQ(JournalKind(readme), -1) << "covered by its backup: rollback must not delete it";
    EXPECT_EQ(JournalKind(library), kJournalCreatedFile);
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_EQ(installer_test::ListFolder(folder.Path()).size(), 3u) << "two targets, one backup";
    // Neither committed nor rolled back: the backup outlives the installer,
    // for the next start's recovery. Only the commit deletes it.
    installer.reset();
    EXPECT_EQ(ReadWholeFile(backup), "the user's text");
}

// A running program can be read but not written: the new data waits in a
// temporary file that the system moves over the target at the restart.
TEST_F(InstallerFilesTest, ReplacesAFileInUseAtTheRestart) {
    installer_test::PendingRenamesGuard pendingRenames;
    const std::string target = folder / "hxvsrv.exe";
    WriteWholeFile(target, "running program");
    UniqueFile running(CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(running);

    EXPECT_NO_THROW(Install("hxvsrv.exe", "new program"));
    running.reset();

    EXPECT_EQ(ReadWholeFile(target), "running program");
    EXPECT_EQ(restartNeeded, 1);
    EXPECT_EQ(OperationLines(), (std::vector<std::string>{"Install File: " + target,
                                                          installer_test::kRebootWarning}));
    ASSERT_EQ(installer->GetFileBackups().size(), 1u);
    EXPECT_EQ(ReadWholeFile(installer->GetFileBackups().begin()->second), "running program");
    ASSERT_EQ(installer->GetJournalEntries().size(), 1u);
    const auto& [temporary, kind] = *installer->GetJournalEntries().begin();
    EXPECT_EQ(kind, kJournalCreatedFile);
    EXPECT_TRUE(IsSystemTempName(temporary, "hxvsrv.exe")) << temporary;
    EXPECT_EQ(ReadWholeFile(temporary), "new program");
    EXPECT_TRUE(pendingRenames.Scheduled(temporary, target, true));
}

TEST_F(InstallerFilesTest, FailsInAMissingFolderWithTheSystemsCode) {
    try {
        installer->InstallFile("a.dll", (folder / "not-there").c_str(), "x", 1);
        FAIL() << "installed into a folder that does not exist";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 871);
        EXPECT_EQ(error.dwCode, DWORD(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_TRUE(installer->GetJournalEntries().empty());
}

} // namespace
