// The journal walkers on real files, where work is left to the restart: the
// restart flag, the reboot warning and the restart-time deletion. Whole
// rollbacks are covered end to end (tests/e2e).
#include "installer_test_support.h"

#include <algorithm>
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

class InstallerJournalTest : public installer_test::InstallerTest {
protected:
    installer_test::ScratchFolder folder;
    installer_test::PendingRenamesGuard pendingRenames;
};

class RestartFlagTest : public InstallerJournalTest,
                        public ::testing::WithParamInterface<RestartRow> {};

// A restart asked for without need is a nuisance; one left out leaves work undone.
TEST_P(RestartFlagTest, IsSetExactlyWhenWorkIsLeftToTheRestart) {
    const RestartRow& row = GetParam();
    const std::string path = folder / row.path;
    UniqueFile held;
    if (row.before == Before::CreatedInUse || row.before == Before::CreatedThenDeleted) {
        if (std::string(row.path).find('\\') != std::string::npos) {
            installer->MakeDirectory((folder / "gone").c_str());
        }
        installer->InstallFile(row.path, folder.Path().c_str(), "driver", 6);
    } else if (row.before == Before::CreatedFolderWithUsersFile) {
        installer->MakeDirectory(path.c_str());
        WriteWholeFile(path + "\\user.log", "the user's log");
    } else if (row.before != Before::Nothing) {
        WriteWholeFile(path, "loaded");
    }
    if (row.before == Before::CreatedThenDeleted) {
        ASSERT_TRUE(DeleteFileA(path.c_str()));
        RemoveDirectoryA((folder / "gone").c_str());
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
        // A restart for a file that is gone would restart the machine for nothing.
        RestartRow{"a created file someone else deleted is done", Before::CreatedThenDeleted,
                   Walk::RemoveInstallFiles, "usbd.sys", false, false},
        RestartRow{"a created file in a folder someone else deleted is done",
                   Before::CreatedThenDeleted, Walk::RemoveInstallFiles, "gone\\usbd.sys", false,
                   false},
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

// The server's usbd.sys copy goes right after the child installer: once it is gone it
// leaves the journal, and a rollback does not ask for a restart because of it.
TEST_F(InstallerJournalTest, AFileDeletedByTheSetupLeavesTheJournal) {
    installer->InstallFile("usbd.sys", folder.Path().c_str(), "driver", 6);
    installer->InstallFile("corvanews.exe", folder.Path().c_str(), "program", 7);
    installer->DeleteInstalledFile(folder.Path().c_str(), "usbd.sys");
    EXPECT_EQ(installer->GetJournalEntries(),
              (JournalEntryTable{{folder / "corvanews.exe", kJournalCreatedFile}}));
    installer->RemoveInstallFiles();
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_FALSE(installer_test::FileExists(folder / "corvanews.exe"));
}

// A created folder kept by a file in use goes at the restart, right after the file and
// inner folders before outer ones, so the restart leaves nothing; a folder with a user's
// file in it is not scheduled.
TEST_F(InstallerJournalTest, AFolderKeptByAFileInUseGoesAtTheRestartAfterIt) {
    const std::string product = folder / "Corvane", drivers = product + "\\amd64";
    const std::string menu = folder / "Menu";
    const std::string driver = drivers + "\\hxvhub.sys";
    installer->MakeDirectory(product.c_str());
    installer->MakeDirectory(drivers.c_str());
    installer->MakeDirectory(menu.c_str());
    installer->InstallFile("hxvhub.sys", drivers.c_str(), "driver", 6);
    WriteWholeFile(menu + "\\user.lnk", "the user's own");
    UniqueFile held(CreateFileA(driver.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    installer->RemoveInstallFiles();
    installer->DeleteDirectory();

    EXPECT_EQ(restartNeeded, 1);
    const std::vector<std::string> order = pendingRenames.Deletions();
    const auto at = [&](const std::string& path) {
        return std::find(order.begin(), order.end(), path) - order.begin();
    };
    ASSERT_LT(at(product), ptrdiff_t(order.size())) << "the install folder goes at the restart";
    EXPECT_LT(at(driver), at(drivers));
    EXPECT_LT(at(drivers), at(product));
    EXPECT_EQ(at(menu), ptrdiff_t(order.size())) << "the user's file keeps its folder";
    const auto lines = OperationLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), installer_test::kRebootWarning), 3);
}

} // namespace
