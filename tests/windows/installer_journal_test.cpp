// Rollback on real files and folders: what the journal's walkers leave on
// disk, what they write to the setup log, what they leave to the next restart
// and when they ask for one. Each test works in a folder of its own and takes
// back every restart-time operation it caused.
#include "installer.h"
#include "installer_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

using installer_test::FileExists;
using installer_test::ListFolder;
using installer_test::PendingRenamesGuard;
using installer_test::ReadWholeFile;
using installer_test::ScratchFolder;
using installer_test::TestSetupLog;
using installer_test::WriteWholeFile;

namespace {

using installer_test::kRebootWarning;

// Every byte value, a few times over: a restore that converts line ends or
// stops at a zero byte shows.
std::string BinaryContent() {
    std::string content;
    for (int round = 0; round < 3; ++round) {
        for (int byte = 0; byte < 256; ++byte) {
            content.push_back(char(byte));
        }
    }
    return content;
}

// A handle like a running program's on its own file: others may read it, but
// nobody may write, rename or delete it while it is open.
UniqueFile HoldOpen(const std::string& path) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << "cannot open " << path << ", error " << GetLastError();
    return file;
}

class JournalTest : public installer_test::InstallerTest {
public:
    // For the rows of table-driven cases.
    const std::string& Folder() const { return folder.Path(); }
    CInstaller& Installer() { return *installer; }
    void InstallHere(const std::string& name, const std::string& data) {
        Install(folder.Path(), name, data);
    }
    void Hold(const std::string& name) { held = HoldOpen(folder / name); }

protected:
    ScratchFolder folder;
    PendingRenamesGuard pendingRenames;
    // A file the test keeps open while the walkers run.
    UniqueFile held;

    void TearDown() override {
        InstallerTest::TearDown();
        held.reset();
    }

    void Install(const std::string& targetFolder, const std::string& name,
                 const std::string& data) {
        installer->InstallFile(name.c_str(), targetFolder.c_str(), data.data(),
                               uint32_t(data.size()));
    }

    // The walkers in the order a failed installation runs them. (The Citrix
    // unregistration between the registry and the files keeps no table.)
    void RollBack() {
        installer->RunInfDefaultUninstall();
        installer->RemoveClassFilters();
        installer->RemoveServicesAndDevices();
        installer->RestoreRegistryValues();
        installer->RemoveInstallFiles();
        installer->RollBackInstallFiles();
        installer->DeleteDirectory();
    }

    // Log lines written from now on are those LinesSinceMark returns.
    void Mark() { m_mark = log.Lines().size(); }
    std::vector<std::string> LinesSinceMark() const {
        const auto lines = log.Lines();
        return std::vector<std::string>(lines.begin() + std::min(m_mark, lines.size()),
                                        lines.end());
    }

private:
    size_t m_mark = 0;
};

TEST_F(JournalTest, ARollbackAfterNothingWasRecordedDoesNothing) {
    WriteWholeFile(folder / "user.txt", "the user's own file");
    ASSERT_TRUE(CreateDirectoryA((folder / "docs").c_str(), nullptr));
    installer->MakeDirectory(folder.Path().c_str()); // exists: not recorded
    const auto renamesBefore = pendingRenames.Pairs();
    Mark();

    RollBack();

    EXPECT_EQ(LinesSinceMark(), std::vector<std::string>{});
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_EQ(ListFolder(folder.Path()), (std::vector<std::string>{"docs", "user.txt"}));
    EXPECT_EQ(ReadWholeFile(folder / "user.txt"), "the user's own file");
    EXPECT_EQ(pendingRenames.Pairs(), renamesBefore);
}

// The install folder with its architecture folder inside: files go first, in
// byte order (an upper-case letter before every lower-case one), and then the
// folders, both of them, although the outer one's turn comes first.
TEST_F(JournalTest, RemovesCreatedFilesFirstAndCreatedFoldersLast) {
    const std::string app = folder / "Corvane RDP Edition";
    const std::string amd64 = app + "\\amd64";
    installer->MakeDirectory(app.c_str());
    installer->MakeDirectory(amd64.c_str());
    Install(app, "readme.txt", "text");
    Install(amd64, "hxvhub.sys", "driver");
    Install(app, "Zeta.dll", "library");
    Mark();

    RollBack();

    EXPECT_EQ(LinesSinceMark(), (std::vector<std::string>{
                                    "RemoveInstallFiles: " + app + "\\Zeta.dll",
                                    "RemoveInstallFiles: " + amd64 + "\\hxvhub.sys",
                                    "RemoveInstallFiles: " + app + "\\readme.txt",
                                    "DeleteDirectory: " + app,
                                    "DeleteDirectory: " + amd64,
                                }));
    EXPECT_FALSE(FileExists(app));
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{});
    EXPECT_EQ(restartNeeded, 0);
}

TEST_F(JournalTest, RestoresAnOverwrittenFileByteForByte) {
    const std::string original = BinaryContent();
    const std::string target = folder / "hxvchan.dll";
    WriteWholeFile(target, original);
    Install(folder.Path(), "hxvchan.dll", "the new library");
    Install(folder.Path(), "hxvcitrix.dll", "a new file beside it");
    ASSERT_EQ(ReadWholeFile(target), "the new library");
    Mark();

    RollBack();

    EXPECT_EQ(ReadWholeFile(target), original);
    // The created file is deleted; the overwritten one is only restored.
    EXPECT_EQ(LinesSinceMark(),
              (std::vector<std::string>{"RemoveInstallFiles: " + (folder / "hxvcitrix.dll"),
                                        "RollBackInstallFiles: " + target}));
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{"hxvchan.dll"})
        << "the backup went back over the file; nothing else may stay";
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_EQ(restartNeeded, 0);
}

// A program still running from a file the installer created: it is deleted at
// the next restart instead, and the user is told to restart.
TEST_F(JournalTest, SchedulesACreatedFileInUseForDeletionAtRestart) {
    const std::string created = folder / "corvanews.exe";
    Install(folder.Path(), "corvanews.exe", "program");
    held = HoldOpen(created);
    Mark();

    RollBack();

    EXPECT_EQ(LinesSinceMark(),
              (std::vector<std::string>{"RemoveInstallFiles: " + created, kRebootWarning}));
    EXPECT_EQ(restartNeeded, 1);
    EXPECT_TRUE(pendingRenames.Scheduled(created, "")) << "no restart-time deletion";
    held.reset();
    EXPECT_TRUE(FileExists(created)) << "deleted at the restart, not now";
}

// The user's file was overwritten and is in use when the rollback wants it
// back: the backup is moved over it at the restart, so the backup is the only
// copy of the user's file until then and must outlive the installer, whose
// destructor commits whatever backups are still on record.
TEST_F(JournalTest, ABackupToBeMovedBackAtRestartOutlivesTheInstaller) {
    const std::string original = BinaryContent();
    const std::string target = folder / "corvanewssrv.exe";
    WriteWholeFile(target, original);
    Install(folder.Path(), "corvanewssrv.exe", "new service program");
    ASSERT_EQ(installer->GetFileBackups().size(), 1u);
    const std::string backup = installer->GetFileBackups().begin()->second;
    held = HoldOpen(target);
    Mark();

    RollBack();

    EXPECT_EQ(LinesSinceMark(),
              (std::vector<std::string>{"RollBackInstallFiles: " + target, kRebootWarning}));
    EXPECT_EQ(restartNeeded, 1);
    EXPECT_TRUE(pendingRenames.Scheduled(backup, target, true))
        << "no restart-time move of " << backup << " over " << target;

    installer.reset();
    held.reset();
    ASSERT_TRUE(FileExists(backup)) << "the only copy of the user's file was deleted";
    EXPECT_EQ(ReadWholeFile(backup), original);
    EXPECT_EQ(ReadWholeFile(target), "new service program") << "replaced at the restart";
}

// Where the restart flag is set, and where it must not be: a restart asked
// for without need is a nuisance, one left out leaves work undone.
enum class Before {
    Nothing,
    CreatedThenDeletedBySomeoneElse,
    CreatedFolderWithUsersFile,
    UsersFile,
    UsersFileInUse
};
enum class Walk { RemoveInstallFiles, DeleteDirectory, DeleteInstalledFile };

struct RestartRow {
    const char* what;
    Before before;
    Walk walk;
    const char* path; // relative to the test's folder: the file or folder acted on
    bool restart;     // also: the reboot warning is logged, the deletion scheduled
    bool remains;     // the path still exists afterwards
};

void PrintTo(const RestartRow& row, std::ostream* out) {
    *out << row.what;
}

class RestartFlagTest : public JournalTest, public ::testing::WithParamInterface<RestartRow> {};

TEST_P(RestartFlagTest, IsSetExactlyWhenWorkIsLeftToTheRestart) {
    const RestartRow& row = GetParam();
    const std::string path = folder / row.path;
    switch (row.before) {
    case Before::Nothing:
        break;
    case Before::CreatedThenDeletedBySomeoneElse:
        Install(folder.Path(), row.path, "driver");
        ASSERT_TRUE(DeleteFileA(path.c_str()));
        break;
    case Before::CreatedFolderWithUsersFile:
        installer->MakeDirectory(path.c_str());
        WriteWholeFile(path + "\\user.log", "the user's log");
        break;
    case Before::UsersFile:
        WriteWholeFile(path, "loaded");
        break;
    case Before::UsersFileInUse:
        WriteWholeFile(path, "loaded");
        held = HoldOpen(path);
        break;
    }
    restartNeeded = 0;
    Mark();

    std::string line;
    switch (row.walk) {
    case Walk::RemoveInstallFiles:
        installer->RemoveInstallFiles();
        line = "RemoveInstallFiles: " + path;
        break;
    case Walk::DeleteDirectory:
        installer->DeleteDirectory();
        line = "DeleteDirectory: " + path;
        break;
    case Walk::DeleteInstalledFile: {
        const size_t slash = path.rfind('\\');
        installer->DeleteInstalledFile(path.substr(0, slash).c_str(),
                                       path.substr(slash + 1).c_str());
        line = "DeleteFile: " + path;
        break;
    }
    }

    EXPECT_EQ(restartNeeded, row.restart ? 1 : 0);
    std::vector<std::string> lines{line};
    if (row.restart) {
        lines.push_back(kRebootWarning);
    }
    EXPECT_EQ(LinesSinceMark(), lines);
    EXPECT_EQ(pendingRenames.Scheduled(path, ""), row.restart);
    held.reset();
    EXPECT_EQ(FileExists(path), row.remains);
}

INSTANTIATE_TEST_SUITE_P(
    Walkers, RestartFlagTest,
    ::testing::Values(
        // The server setup relies on this: its copy of usbd.sys is removed
        // before a failure, and the rollback still asks for the restart.
        RestartRow{"a created file someone else deleted is still scheduled",
                   Before::CreatedThenDeletedBySomeoneElse, Walk::RemoveInstallFiles, "usbd.sys",
                   true, false},
        // A folder that cannot be removed is simply left, without a word.
        RestartRow{"a created folder holding a user's file stays",
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
