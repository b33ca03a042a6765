// The journal walkers on real files, where work is left to the restart: the
// restart flag, the reboot warning and the restart-time deletion. Whole
// rollbacks are covered end to end (tests/e2e).
#include "installer_test_support.h"

#include <ostream>

using installer_test::WriteWholeFile;

namespace {

enum class Before {
    Nothing,
    CreatedInUse,
    CreatedThenDeleted,
    CreatedFolderWithUsersFile,
    UsersFile,
    UsersFileInUse
};
enum class Walk { RemoveInstallFiles, DeleteDirectory, DeleteInstalledFile };

struct RestartRow {
    const char* what;
    Before before;
    Walk walk;
    const char* path; // relative to the test's folder
    bool restart;     // also: the warning is logged and the deletion scheduled
    bool remains;
};

void PrintTo(const RestartRow& row, std::ostream* out) {
    *out << row.what;
}

class RestartFlagTest : public installer_test::InstallerTest,
                        public ::testing::WithParamInterface<RestartRow> {
protected:
    installer_test::ScratchFolder folder;
    installer_test::PendingRenamesGuard pendingRenames;
};

// A restart asked for without need is a nuisance; one left out leaves work undone.
TEST_P(RestartFlagTest, IsSetExactlyWhenWorkIsLeftToTheRestart) {
    const RestartRow& row = GetParam();
    const std::string path = folder / row.path;
    UniqueFile held;
    if (row.before == Before::CreatedInUse || row.before == Before::CreatedThenDeleted) {
        installer->InstallFile(row.path, folder.Path().c_str(), "driver", 6);
    } else if (row.before == Before::CreatedFolderWithUsersFile) {
        installer->MakeDirectory(path.c_str());
        WriteWholeFile(path + "\\user.log", "the user's log");
    } else if (row.before != Before::Nothing) {
        WriteWholeFile(path, "loaded");
    }
    if (row.before == Before::CreatedThenDeleted) {
        ASSERT_TRUE(DeleteFileA(path.c_str()));
    } else if (row.before == Before::CreatedInUse || row.before == Before::UsersFileInUse) {
        held.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
    }
    const size_t linesBefore = log.Lines().size();

    std::string line;
    if (row.walk == Walk::RemoveInstallFiles) {
        installer->RemoveInstallFiles();
        line = "RemoveInstallFiles: " + path;
    } else if (row.walk == Walk::DeleteDirectory) {
        installer->DeleteDirectory();
        line = "DeleteDirectory: " + path;
    } else {
        const size_t slash = path.rfind('\\');
        installer->DeleteInstalledFile(path.substr(0, slash).c_str(),
                                       path.substr(slash + 1).c_str());
        line = "DeleteFile: " + path;
    }

    EXPECT_EQ(restartNeeded, row.restart ? 1 : 0);
    std::vector<std::string> expected{line};
    if (row.restart) {
        expected.push_back(installer_test::kRebootWarning);
    }
    const auto lines = log.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + linesBefore, lines.end()), expected);
    EXPECT_EQ(pendingRenames.Scheduled(path, ""), row.restart);
    held.reset();
    EXPECT_EQ(installer_test::FileExists(path), row.remains);
}

INSTANTIATE_TEST_SUITE_P(
    Walkers, RestartFlagTest,
    ::testing::Values(
        RestartRow{"a created file in use is deleted at the restart", Before::CreatedInUse,
                   Walk::RemoveInstallFiles, "corvanews.exe", true, true},
        // The server's usbd.sys copy is deleted before a failure; rollback still asks.
        RestartRow{"a created file someone else deleted is still scheduled",
                   Before::CreatedThenDeleted, Walk::RemoveInstallFiles, "usbd.sys", true, false},
        RestartRow{"a created folder holding a user's file stays, without a word",
                   Before::CreatedFolderWithUsersFile, Walk::DeleteDirectory, "logs", false, true},
        RestartRow{"DeleteInstalledFile deletes a file now", Before::UsersFile,
                   Walk::DeleteInstalledFile, "usbd.sys", false, false},
        RestartRow{"DeleteInstalledFile of a missing file needs nothing", Before::Nothing,
                   Walk::DeleteInstalledFile, "usbd.sys", false, false},
        RestartRow{"DeleteInstalledFile in a missing folder needs nothing", Before::Nothing,
                   Walk::DeleteInstalledFile, "gone\\usbd.sys", false, false},
        RestartRow{"DeleteInstalledFile of a file in use schedules it", Before::UsersFileInUse,
                   Walk::DeleteInstalledFile, "usbd.sys", true, true}));

} // namespace
