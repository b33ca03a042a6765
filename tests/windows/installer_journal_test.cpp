// Rollback on real files and folders: what the journal's walkers leave on
// disk, what they write to the setup log, what they leave to the next restart
// and when they ask for one. Each test works in a folder of its own and takes
// back every restart-time operation it caused.
#include "installer.h"
#include "installer_test_support.h"

#include <gtest/gtest.h>

#include <functional>
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

constexpr char kRebootWarning[] = "Warning: === Reboot required to complete operation ===";

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

class JournalTest : public ::testing::Test {
public:
    // For the rows of table-driven cases.
    const std::string& Folder() const { return folder.Path(); }
    CInstaller& Installer() { return *installer; }
    void InstallHere(const std::string& name, const std::string& data) {
        Install(folder.Path(), name, data);
    }
    void Hold(const std::string& name) { held = HoldOpen(folder / name); }

protected:
    ScratchFolder logFolder;
    TestSetupLog log{logFolder / "setup.log"};
    ScratchFolder folder;
    PendingRenamesGuard pendingRenames;
    std::unique_ptr<CInstaller> installer;
    int restartNeeded = 0;
    // A file the test keeps open while the walkers run.
    UniqueFile held;

    void SetUp() override {
        installer = std::make_unique<CInstaller>(log.Handle(), FALSE, TRUE, FALSE, FALSE);
        installer->SetRestartFlagPointer(&restartNeeded);
    }
    void TearDown() override {
        installer.reset();
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

// The same when the target was already in use during the installation: its
// new data waits in a temporary file for the restart. The rollback deletes
// that file (so the pending replacement finds nothing to move) and leaves the
// backup to be moved back after it.
TEST_F(JournalTest, AFileInUseThroughoutGetsItsBackupBackAtRestart) {
    const std::string target = folder / "hxvwsh.exe";
    WriteWholeFile(target, "running tool");
    held = HoldOpen(target);
    Install(folder.Path(), "hxvwsh.exe", "new tool");
    ASSERT_EQ(installer->GetFileBackups().size(), 1u);
    ASSERT_EQ(installer->GetJournalEntries().size(), 1u);
    const std::string backup = installer->GetFileBackups().begin()->second;
    const std::string temporary = installer->GetJournalEntries().begin()->first;
    restartNeeded = 0;
    Mark();

    RollBack();

    EXPECT_EQ(LinesSinceMark(),
              (std::vector<std::string>{"RemoveInstallFiles: " + temporary,
                                        "RollBackInstallFiles: " + target, kRebootWarning}));
    EXPECT_EQ(restartNeeded, 1);
    EXPECT_FALSE(FileExists(temporary));
    const auto pairs = pendingRenames.Pairs();
    const auto position = [&](const std::string& source) {
        return std::find_if(pairs.begin(), pairs.end(),
                            [&](const auto& pair) { return pair.first == "\\??\\" + source; }) -
               pairs.begin();
    };
    ASSERT_TRUE(pendingRenames.Scheduled(backup, target, true));
    ASSERT_TRUE(pendingRenames.Scheduled(temporary, target, true));
    EXPECT_LT(position(temporary), position(backup))
        << "the backup must be the last to land on the target";

    installer.reset();
    held.reset();
    EXPECT_EQ(ReadWholeFile(backup), "running tool");
}

// Where the restart flag is set, and where it must not be: a restart asked
// for without need is a nuisance, one left out leaves work undone.
struct RestartRow {
    const char* what;
    std::function<void(JournalTest&)> arrange;
    std::function<void(JournalTest&)> act;
    bool restart;
    // Expected log lines, given the scratch folder.
    std::function<std::vector<std::string>(const std::string& folder)> lines;
    // Expected state afterwards, given the scratch folder.
    std::function<void(const std::string& folder, const PendingRenamesGuard&)> check;
};

void PrintTo(const RestartRow& row, std::ostream* out) {
    *out << row.what;
}

class RestartFlagTest : public JournalTest, public ::testing::WithParamInterface<RestartRow> {};

TEST_P(RestartFlagTest, IsSetExactlyWhenWorkIsLeftToTheRestart) {
    const RestartRow& row = GetParam();
    row.arrange(*this);
    restartNeeded = 0;
    Mark();

    row.act(*this);

    EXPECT_EQ(restartNeeded, row.restart ? 1 : 0);
    EXPECT_EQ(LinesSinceMark(), row.lines(folder.Path()));
    held.reset();
    row.check(folder.Path(), pendingRenames);
}

INSTANTIATE_TEST_SUITE_P(
    Walkers, RestartFlagTest,
    ::testing::Values(
        RestartRow{"a created file is deleted now",
                   [](JournalTest& test) { test.InstallHere("readme.txt", "text"); },
                   [](JournalTest& test) { test.Installer().RemoveInstallFiles(); }, false,
                   [](const std::string& folder) {
                       return std::vector<std::string>{"RemoveInstallFiles: " + folder +
                                                       "\\readme.txt"};
                   },
                   [](const std::string& folder, const PendingRenamesGuard& renames) {
                       EXPECT_FALSE(FileExists(folder + "\\readme.txt"));
                       EXPECT_FALSE(renames.Scheduled(folder + "\\readme.txt", ""));
                   }},
        // The server setup relies on this: its copy of usbd.sys is removed
        // before a failure, and the rollback still asks for the restart.
        RestartRow{"a created file someone else deleted is still scheduled",
                   [](JournalTest& test) {
                       test.InstallHere("usbd.sys", "driver");
                       DeleteFileA((test.Folder() + "\\usbd.sys").c_str());
                   },
                   [](JournalTest& test) { test.Installer().RemoveInstallFiles(); }, true,
                   [](const std::string& folder) {
                       return std::vector<std::string>{
                           "RemoveInstallFiles: " + folder + "\\usbd.sys", kRebootWarning};
                   },
                   [](const std::string& folder, const PendingRenamesGuard& renames) {
                       EXPECT_TRUE(renames.Scheduled(folder + "\\usbd.sys", ""));
                   }},
        RestartRow{"a backup is moved back now",
                   [](JournalTest& test) {
                       WriteWholeFile(test.Folder() + "\\hxvhub.inf", "old");
                       test.InstallHere("hxvhub.inf", "new");
                   },
                   [](JournalTest& test) { test.Installer().RollBackInstallFiles(); }, false,
                   [](const std::string& folder) {
                       return std::vector<std::string>{"RollBackInstallFiles: " + folder +
                                                       "\\hxvhub.inf"};
                   },
                   [](const std::string& folder, const PendingRenamesGuard&) {
                       EXPECT_EQ(ReadWholeFile(folder + "\\hxvhub.inf"), "old");
                   }},
        // A folder that cannot be removed is simply left: no restart, and no
        // line beyond the announcement.
        RestartRow{"a created folder holding a user's file stays",
                   [](JournalTest& test) {
                       const std::string logs = test.Folder() + "\\logs";
                       test.Installer().MakeDirectory(logs.c_str());
                       WriteWholeFile(logs + "\\user.log", "the user's log");
                   },
                   [](JournalTest& test) { test.Installer().DeleteDirectory(); }, false,
                   [](const std::string& folder) {
                       return std::vector<std::string>{"DeleteDirectory: " + folder + "\\logs"};
                   },
                   [](const std::string& folder, const PendingRenamesGuard& renames) {
                       EXPECT_EQ(ReadWholeFile(folder + "\\logs\\user.log"), "the user's log");
                       EXPECT_FALSE(renames.Scheduled(folder + "\\logs", ""));
                   }},
        RestartRow{"DeleteInstalledFile deletes a file now",
                   [](JournalTest& test) { WriteWholeFile(test.Folder() + "\\usbd.sys", "x"); },
                   [](JournalTest& test) {
                       test.Installer().DeleteInstalledFile(test.Folder().c_str(), "usbd.sys");
                   },
                   false,
                   [](const std::string& folder) {
                       return std::vector<std::string>{"DeleteFile: " + folder + "\\usbd.sys"};
                   },
                   [](const std::string& folder, const PendingRenamesGuard&) {
                       EXPECT_FALSE(FileExists(folder + "\\usbd.sys"));
                   }},
        RestartRow{"DeleteInstalledFile of a missing file needs nothing", [](JournalTest&) {},
                   [](JournalTest& test) {
                       test.Installer().DeleteInstalledFile(test.Folder().c_str(), "usbd.sys");
                   },
                   false,
                   [](const std::string& folder) {
                       return std::vector<std::string>{"DeleteFile: " + folder + "\\usbd.sys"};
                   },
                   [](const std::string& folder, const PendingRenamesGuard& renames) {
                       EXPECT_FALSE(renames.Scheduled(folder + "\\usbd.sys", ""));
                   }},
        RestartRow{"DeleteInstalledFile in a missing folder needs nothing", [](JournalTest&) {},
                   [](JournalTest& test) {
                       const std::string missing = test.Folder() + "\\gone";
                       test.Installer().DeleteInstalledFile(missing.c_str(), "usbd.sys");
                   },
                   false,
                   [](const std::string& folder) {
                       return std::vector<std::string>{"DeleteFile: " + folder +
                                                       "\\gone\\usbd.sys"};
                   },
                   [](const std::string& folder, const PendingRenamesGuard& renames) {
                       EXPECT_FALSE(renames.Scheduled(folder + "\\gone\\usbd.sys", ""));
                   }},
        RestartRow{"DeleteInstalledFile of a file in use schedules it",
                   [](JournalTest& test) {
                       WriteWholeFile(test.Folder() + "\\usbd.sys", "loaded");
                       test.Hold("usbd.sys");
                   },
                   [](JournalTest& test) {
                       test.Installer().DeleteInstalledFile(test.Folder().c_str(), "usbd.sys");
                   },
                   true,
                   [](const std::string& folder) {
                       return std::vector<std::string>{"DeleteFile: " + folder + "\\usbd.sys",
                                                       kRebootWarning};
                   },
                   [](const std::string& folder, const PendingRenamesGuard& renames) {
                       EXPECT_TRUE(FileExists(folder + "\\usbd.sys"));
                       EXPECT_TRUE(renames.Scheduled(folder + "\\usbd.sys", ""));
                   }},
        RestartRow{"the commit deletes backups without a restart",
                   [](JournalTest& test) {
                       WriteWholeFile(test.Folder() + "\\readme.txt", "old");
                       test.InstallHere("readme.txt", "new");
                   },
                   [](JournalTest& test) { test.Installer().DiscardBackups(); }, false,
                   [](const std::string&) { return std::vector<std::string>{}; },
                   [](const std::string& folder, const PendingRenamesGuard&) {
                       EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"readme.txt"});
                       EXPECT_EQ(ReadWholeFile(folder + "\\readme.txt"), "new");
                   }}));

} // namespace
