// The journal walkers on real files, where work is left to the restart: the
// restart flag, the reboot warning and the restart-time deletion; and the
// durable journal, each record on the disk before its change. Whole rollbacks,
// the order of what goes at the restart and the recovery after a setup stopped
// after each of its records are covered end to end (tests/e2e).
#include "install_observer.h"
#include "installer_test_support.h"

#include <sddl.h>

#include <ostream>
#include <set>

using installer_test::FileExists;
using installer_test::ReadValue;
using installer_test::ReadWholeFile;
using installer_test::WriteWholeFile;

namespace {

enum class Before {
    Nothing,
    Created,
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
    if (row.before == Before::Created || row.before == Before::CreatedInUse ||
        row.before == Before::CreatedThenDeleted) {
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
    if (row.walk == Walk::DeleteInstalledFile) {
        EXPECT_EQ(JournalKind(path), -1) << "a rollback would ask for a restart for it";
    }
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
        // The server's usbd.sys copy goes right after the child installer.
        RestartRow{"DeleteInstalledFile of a file the setup created takes it off the journal",
                   Before::Created, Walk::DeleteInstalledFile, "usbd.sys", false, false},
        RestartRow{"DeleteInstalledFile of a missing file needs nothing", Before::Nothing,
                   Walk::DeleteInstalledFile, "usbd.sys", false, false},
        RestartRow{"DeleteInstalledFile in a missing folder needs nothing", Before::Nothing,
                   Walk::DeleteInstalledFile, "gone\\usbd.sys", false, false},
        RestartRow{"DeleteInstalledFile of a file in use schedules it", Before::UsersFileInUse,
                   Walk::DeleteInstalledFile, "usbd.sys", true, true}));

// The durable journal: each record must be on the disk before its change is
// begun, or a power cut in between would leave a change no record undoes.
class DurableJournalTest : public installer_test::InstallerTest {
protected:
    static inline DurableJournalTest* s_current = nullptr;
    installer_test::ScratchFolder folder;
    installer_test::PendingRenamesGuard pendingRenames;
    const std::string journal = CInstaller::JournalFolder() + "\\corvane-test.journal";
    const std::string uninstallKey = CInstaller::UninstallKey("{corvane-journal-test}");
    std::set<uint16_t> kindsSeen;
    std::vector<std::string> violations;
    size_t flushes = 0;
    size_t recordsChecked = 0;

    void SetUp() override {
        InstallerTest::SetUp();
        installer_test::DeleteKeyTree(uninstallKey);
        s_current = this;
        SetInstallObserver([](InstallEvent event, uint32_t) {
            if (event == InstallEvent::kJournalRecordWritten) {
                s_current->CheckLastRecord();
            }
            return true;
        });
    }
    void TearDown() override {
        SetInstallObserver(nullptr);
        installer_test::DeleteKeyTree(uninstallKey);
        InstallerTest::TearDown();
    }

    // What the records of the last flush announce must not have happened yet.
    void CheckLastRecord() {
        ++flushes;
        UniqueFile file(CreateFileA(journal.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        char buffer[65536];
        DWORD got = 0;
        ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr);
        const DecodedJournal decoded = DecodeJournalFile(std::string_view(buffer, got));
        if (!decoded.problem.empty() || decoded.unfinishedTail || decoded.records.empty()) {
            violations.push_back("journal on disk unreadable: " + decoded.problem);
            return;
        }
        for (; recordsChecked < decoded.records.size(); ++recordsChecked) {
            CheckEarly(decoded.records[recordsChecked]);
        }
    }

    void CheckEarly(const JournalRecord& record) {
        kindsSeen.insert(record.kind);
        const auto& f = record.fields;
        bool early = true;
        switch (record.kind) {
        case kRecordCreatedFolder:
        case kRecordCreatedFile:
            early = GetFileAttributesA(f[0].c_str()) == INVALID_FILE_ATTRIBUTES;
            break;
        case kRecordBackupStarted:
            early = !FileExists(f[1]);
            break;
        case kRecordOverwriteStarted: {
            const auto backup = installer->GetFileBackups().find(f[0]);
            early = backup != installer->GetFileBackups().end() &&
                    ReadWholeFile(backup->second) == ReadWholeFile(f[0]);
            break;
        }
        case kRecordRegistryKeyCreated:
            early = !installer_test::KeyExists(f[0]);
            break;
        case kRecordRegistryValueSaved:
            early = ReadValue(f[0], f[1].c_str()).data == f[3];
            break;
        case kRecordRegistryValueAbsent:
            early = !ReadValue(f[0], f[1].c_str()).exists;
            break;
        case kRecordRestartReplacement:
            early = !pendingRenames.Scheduled(f[0], f[1], true);
            break;
        default:
            break;
        }
        if (!early) {
            violations.push_back("record of kind " + std::to_string(record.kind) +
                                 " came after its change: " + (f.empty() ? "" : f[0]));
        }
    }

    void Install(const std::string& name, const std::string& data) {
        installer->InstallFile(name.c_str(), folder.Path().c_str(), data.data(),
                               uint32_t(data.size()));
    }
    void Register() {
        installer->WriteUninstallRegistration("{corvane-journal-test}", folder.Path().c_str(),
                                              "Menu", "uninstall.exe", "Journal Test", "1.0",
                                              "Tester");
    }
};

TEST_F(DurableJournalTest, WritesEachRecordBeforeItsChangeAndGoesWithItsFolder) {
    JournalPlaces places{"{corvane-journal-test}", folder.Path(), "", "", ""};
    installer->BeginDurableJournal(journal, places);

    // Only SYSTEM and the Administrators may touch what an elevated setup obeys:
    // Everyone, the Users and the Authenticated Users get nothing. (Wine derives
    // the list from the Unix mode, 0750 here, the owner being the administrator.)
    char descriptor[4096], *sddl = nullptr;
    DWORD needed = 0;
    ASSERT_TRUE(GetFileSecurityA(CInstaller::JournalFolder().c_str(), DACL_SECURITY_INFORMATION,
                                 descriptor, sizeof descriptor, &needed));
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
    const std::string access = sddl;
    LocalFree(sddl);
    for (const char* other : {";WD)", ";BU)", ";AU)"}) {
        EXPECT_EQ(access.find(other), std::string::npos) << access;
    }

    WriteWholeFile(folder / "readme.txt", "the user's readme");
    WriteWholeFile(folder / "running.exe", "a running program");
    UniqueFile running(CreateFileA((folder / "running.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    installer->MakeDirectory((folder / "x86").c_str());
    Install("corvanews.exe", "new program");
    Install("readme.txt", "the new readme");
    Install("running.exe", "the new program");
    installer->CreateShortcut("corvanews.exe", folder.Path().c_str(), folder.Path().c_str(),
                              "Corvane", nullptr);
    Register();
    running.reset();

    EXPECT_EQ(violations, std::vector<std::string>{});
    EXPECT_EQ(kindsSeen,
              (std::set<uint16_t>{kRecordBegin, kRecordCreatedFolder, kRecordCreatedFile,
                                  kRecordBackupStarted, kRecordOverwriteStarted,
                                  kRecordRestartReplacement, kRecordRegistryKeyCreated}));

    // The journal replays into the tables the installer holds.
    const DecodedJournal decoded = DecodeJournalFile(ReadWholeFile(journal));
    ReplayedJournal replayed;
    std::string problem;
    ASSERT_TRUE(ReplayJournal(decoded.records, &replayed, &problem)) << problem;
    EXPECT_EQ(replayed.backups, installer->GetFileBackups());
    EXPECT_EQ(replayed.entries, installer->GetJournalEntries());

    installer->RestoreRegistryValues();
    installer->RemoveInstallFiles();
    installer->RollBackInstallFiles();
    installer->DeleteDirectory();
    EXPECT_FALSE(installer_test::KeyExists(uninstallKey));
    EXPECT_FALSE(pendingRenames.Scheduled(replayed.restartReplacements.at(0).temporary,
                                          folder / "running.exe", true))
        << "the replacement at the restart is called off";
    EXPECT_EQ(ReadWholeFile(folder / "readme.txt"), "the user's readme");
    installer->DeleteDurableJournal();
    EXPECT_FALSE(FileExists(journal));
    EXPECT_EQ(GetFileAttributesA(CInstaller::JournalFolder().c_str()), INVALID_FILE_ATTRIBUTES);
}

// A step's creations go to the disk in one flush. A name taken by the time its
// creation comes is withdrawn, so that no journal names the user's file as one
// to delete; a creation that never came is passed over by recovery. Over an
// earlier registration its values are saved first, and one it lacked is noted
// as absent, so that rollback leaves the registration as it was.
TEST_F(DurableJournalTest, AnnouncesAStepsCreationsInOneFlushAndWithdrawsTakenNames) {
    installer_test::WriteValue(uninstallKey, "DisplayName", installer_test::Sz("Older"));
    installer->BeginDurableJournal(journal, {"{corvane-journal-test}", folder.Path(), "", "", ""});
    installer->AnnounceCreations({folder / "x86"},
                                 {folder / "a.exe", folder / "taken.txt", folder / "never.exe"});
    EXPECT_EQ(flushes, 2u);
    WriteWholeFile(folder / "taken.txt", "the user's file");
    installer->MakeDirectory((folder / "x86").c_str());
    Install("a.exe", "a");
    EXPECT_EQ(flushes, 2u) << "announced creations write nothing more";
    Install("taken.txt", "ours");
    Register();
    EXPECT_EQ(violations, std::vector<std::string>{});
    EXPECT_EQ(kindsSeen.count(kRecordRegistryValueSaved), 1u);
    EXPECT_EQ(kindsSeen.count(kRecordRegistryValueAbsent), 1u);

    const DecodedJournal decoded = DecodeJournalFile(ReadWholeFile(journal));
    ReplayedJournal replayed;
    std::string problem;
    ASSERT_TRUE(ReplayJournal(decoded.records, &replayed, &problem)) << problem;
    EXPECT_EQ(replayed.entries.count(folder / "taken.txt"), 0u);
    EXPECT_EQ(replayed.backups, installer->GetFileBackups());
    installer->LoadRecoveredJournal(replayed);
    EXPECT_EQ(installer->GetJournalEntries(),
              (JournalEntryTable{{folder / "x86", kJournalCreatedDirectory},
                                 {folder / "a.exe", kJournalCreatedFile}}));
    installer->RestoreRegistryValues();
    installer->RemoveInstallFiles();
    installer->RollBackInstallFiles();
    EXPECT_EQ(ReadValue(uninstallKey, "DisplayName"), installer_test::Sz("Older"));
    EXPECT_FALSE(ReadValue(uninstallKey, "Publisher").exists) << "a value it added goes again";
    EXPECT_FALSE(FileExists(folder / "a.exe"));
    EXPECT_EQ(ReadWholeFile(folder / "taken.txt"), "the user's file");
    installer->DeleteDurableJournal();
}

} // namespace
