// InstallFile, BackupFile, MakeTempFileName and MakeDirectory on real files:
// what lands on disk, what the setup log says, and what the journal keeps for
// rollback. Each test works in a folder of its own.
#include "installer.h"
#include "installer_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <memory>
#include <regex>

using installer_test::FileExists;
using installer_test::kRebootWarning;
using installer_test::ListFolder;
using installer_test::ReadWholeFile;
using installer_test::ScratchFolder;
using installer_test::TestSetupLog;
using installer_test::WriteWholeFile;

namespace {

class InstallerFilesTest : public installer_test::InstallerTest {
protected:
    ScratchFolder folder;

    void Install(const std::string& name, const std::string& data) {
        installer->InstallFile(name.c_str(), folder.Path().c_str(), data.data(),
                               uint32_t(data.size()));
    }
};

// GetTempFileNameA's form: the first three letters of the prefix, one to four
// hexadecimal digits, ".tmp", in the target's folder.
bool IsSystemTempName(const std::string& path, const std::string& folder,
                      const std::string& prefix) {
    const std::string expectedStart = folder + "\\" + prefix.substr(0, 3);
    if (path.compare(0, expectedStart.size(), expectedStart) != 0) {
        return false;
    }
    return std::regex_match(path.substr(expectedStart.size()),
                            std::regex("[0-9A-Fa-f]{1,4}\\.tmp"));
}

TEST_F(InstallerFilesTest, InstallsANewFileAndJournalsItAsCreated) {
    const std::string data("MZ\0\x01payload\r\n", 13);
    Install("hxvchan.dll", data);

    const std::string target = folder / "hxvchan.dll";
    EXPECT_EQ(ReadWholeFile(target), data);
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Install File: " + target});
    const int* kind = JournalKind(target);
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(*kind, kJournalCreatedFile);
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_EQ(ListFolder(folder.Path()).size(), 1u) << "no temporary file may stay behind";
}

TEST_F(InstallerFilesTest, BacksUpAnExistingFileBeforeOverwritingIt) {
    const std::string target = folder / "readme.txt";
    WriteWholeFile(target, "the user's old text");
    Install("readme.txt", "the new text");

    EXPECT_EQ(ReadWholeFile(target), "the new text");
    ASSERT_EQ(installer->GetFileBackups().size(), 1u);
    const auto& [backedUp, backup] = *installer->GetFileBackups().begin();
    EXPECT_EQ(backedUp, target);
    EXPECT_TRUE(IsSystemTempName(backup, folder.Path(), "readme.txt")) << backup;
    EXPECT_EQ(ReadWholeFile(backup), "the user's old text");
    // The old file is covered by its backup only: rollback must not delete it.
    EXPECT_EQ(JournalKind(target), nullptr);
    EXPECT_EQ(restartNeeded, 0);

    // The commit removes the backup, and the empty file the system made to
    // reserve the backup's name did not stay either.
    installer->DiscardBackups();
    EXPECT_FALSE(FileExists(backup));
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{"readme.txt"});
}

TEST_F(InstallerFilesTest, DestroyingTheInstallerCommitsTheBackups) {
    WriteWholeFile(folder / "readme.txt", "old");
    Install("readme.txt", "new");
    ASSERT_EQ(ListFolder(folder.Path()).size(), 2u);
    installer.reset();
    EXPECT_EQ(ListFolder(folder.Path()), std::vector<std::string>{"readme.txt"});
}

// Installing the same target twice in one run must keep the journal pointing
// at the user's original: rollback restores that, not our first copy.
TEST_F(InstallerFilesTest, KeepsTheFirstBackupWhenATargetIsInstalledTwice) {
    const std::string target = folder / "hxvhub.inf";
    WriteWholeFile(target, "original");
    Install("hxvhub.inf", "first");
    Install("hxvhub.inf", "second");

    EXPECT_EQ(ReadWholeFile(target), "second");
    ASSERT_EQ(installer->GetFileBackups().size(), 1u);
    EXPECT_EQ(ReadWholeFile(installer->GetFileBackups().begin()->second), "original");
    EXPECT_EQ(ListFolder(folder.Path()).size(), 2u) << "one target, one backup";
}

// A file this run created is ours: installing it again needs no backup, and
// rollback deletes it rather than putting our first copy back.
TEST_F(InstallerFilesTest, DoesNotBackUpAFileItCreatedItself) {
    Install("hxvcitrix.dll", "first");
    Install("hxvcitrix.dll", "second");

    EXPECT_EQ(ReadWholeFile(folder / "hxvcitrix.dll"), "second");
    EXPECT_TRUE(installer->GetFileBackups().empty());
    const int* kind = JournalKind(folder / "hxvcitrix.dll");
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(*kind, kJournalCreatedFile);
}

// A running program or loaded DLL can be read but not written: the new data
// goes to a temporary file that the system moves over the target at restart.
class InstallOverFileInUseTest : public InstallerFilesTest {
protected:
    // The scheduled move must not outlive the test, even in a throwaway prefix.
    installer_test::PendingRenamesGuard pendingRenames;
};

TEST_F(InstallOverFileInUseTest, WritesATemporaryFileAndReplacesTheTargetAtRestart) {
    const std::string target = folder / "hxvsrv.exe";
    WriteWholeFile(target, "running program");
    HANDLE running = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);

    EXPECT_NO_THROW(Install("hxvsrv.exe", "new program"));
    CloseHandle(running);

    EXPECT_EQ(ReadWholeFile(target), "running program") << "the target is replaced at restart";
    EXPECT_EQ(restartNeeded, 1);
    EXPECT_EQ(*installer->GetRestartFlagPointer(), 1);
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Install File: " + target, kRebootWarning}));

    // Journal: the target through its backup, the temporary file as created.
    ASSERT_EQ(installer->GetFileBackups().size(), 1u);
    const std::string backup = installer->GetFileBackups().begin()->second;
    EXPECT_EQ(ReadWholeFile(backup), "running program");
    std::string temporary;
    for (const auto& [path, kind] : installer->GetJournalEntries()) {
        EXPECT_EQ(kind, kJournalCreatedFile) << path;
        temporary = path;
    }
    ASSERT_EQ(installer->GetJournalEntries().size(), 1u);
    EXPECT_TRUE(IsSystemTempName(temporary, folder.Path(), "hxvsrv.exe")) << temporary;
    EXPECT_NE(temporary, backup);
    EXPECT_EQ(ReadWholeFile(temporary), "new program");

    // The restart-time move: the temporary file over the target, replacing it.
    EXPECT_TRUE(pendingRenames.Scheduled(temporary, target, true))
        << "no restart-time move of " << temporary;
}

// Without read sharing not even a backup can be taken; the target is left
// untouched and the failure is reported before anything is scheduled.
TEST_F(InstallOverFileInUseTest, FailsWhenTheTargetCannotBeReadForItsBackup) {
    const std::string target = folder / "locked.dat";
    WriteWholeFile(target, "locked data");
    HANDLE locked = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    const auto renamesBefore = pendingRenames.Pairs();
    try {
        Install("locked.dat", "new data");
        ADD_FAILURE() << "installing over a locked file without a backup succeeded";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 660);
        EXPECT_EQ(error.dwCode, DWORD(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(locked);
    EXPECT_EQ(ReadWholeFile(target), "locked data");
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_EQ(pendingRenames.Pairs(), renamesBefore);
    EXPECT_TRUE(installer->GetJournalEntries().empty());
    EXPECT_TRUE(installer->GetFileBackups().empty());
}

TEST_F(InstallerFilesTest, FailsInAMissingFolderWithTheSystemsCode) {
    const std::string missing = folder / "not-there";
    const std::string data = "x";
    try {
        installer->InstallFile("a.dll", missing.c_str(), data.data(), 1);
        FAIL() << "installed into a folder that does not exist";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 871);
        EXPECT_EQ(error.dwCode, DWORD(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Install File: " + missing + "\\a.dll"});
    EXPECT_TRUE(installer->GetJournalEntries().empty());
}

struct DirectoryRow {
    const char* what;
    const char* relativePath;
    bool existsBefore;
    bool recorded;
    uint16_t location; // 0: no error
    DWORD code;
};

void PrintTo(const DirectoryRow& row, std::ostream* out) {
    *out << row.what;
}

class MakeDirectoryTest : public InstallerFilesTest,
                          public ::testing::WithParamInterface<DirectoryRow> {};

TEST_P(MakeDirectoryTest, CreatesRecordsOrRefuses) {
    const DirectoryRow& row = GetParam();
    const std::string path = folder / row.relativePath;
    if (row.existsBefore) {
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    }
    uint16_t location = 0;
    DWORD code = 0;
    try {
        installer->MakeDirectory(path.c_str());
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        location = error.wLocation;
        code = error.dwCode;
    }
    EXPECT_EQ(location, row.location) << row.what;
    EXPECT_EQ(code, row.code) << row.what;
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"CreateDirectory: " + path}) << row.what;
    const int* kind = JournalKind(path);
    if (row.recorded) {
        ASSERT_NE(kind, nullptr) << row.what;
        EXPECT_EQ(*kind, kJournalCreatedDirectory) << row.what;
    } else {
        EXPECT_TRUE(installer->GetJournalEntries().empty()) << row.what;
    }
    EXPECT_EQ(FileExists(path), row.location == 0) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, MakeDirectoryTest,
    ::testing::Values(
        DirectoryRow{"a new folder is created and recorded", "x86", false, true, 0, 0},
        // Rollback removes recorded folders; one that was there must stay.
        DirectoryRow{"an existing folder is accepted and not recorded", "amd64", true, false, 0, 0},
        DirectoryRow{"a missing parent fails", "no-parent\\x86", false, false, 976,
                     ERROR_PATH_NOT_FOUND}));

// When the system cannot give a name (here: the folder does not exist), the
// name is made from the clock, and the pause guarantees the next differs.
TEST_F(InstallerFilesTest, FallsBackToAClockNameWhenTheSystemGivesNone) {
    const std::string missing = folder / "missing";
    std::string name;
    // The tick count moves in steps of several milliseconds; the performance
    // counter does not.
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    installer->MakeTempFileName("hxvhub.sys", missing.c_str(), name);
    QueryPerformanceCounter(&end);
    const double elapsedMs = double(end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;

    EXPECT_TRUE(std::regex_match(
        name, std::regex(std::regex_replace(missing, std::regex("[\\\\.]"), "\\$&") +
                         "\\\\hxvhub\\.sys-[1-5]?[0-9][1-5]?[0-9][0-9]{1,3}\\.tmp")))
        << name;
    EXPECT_GE(elapsedMs, 100.0);
}

TEST_F(InstallerFilesTest, RefusesAClockNameTooLongForAPath) {
    const std::string missing = folder / std::string(200, 'm');
    const std::string prefix(60, 'p');
    std::string name = "unchanged";
    try {
        installer->MakeTempFileName(prefix.c_str(), missing.c_str(), name);
        FAIL() << "made a name of " << name.size() << " characters";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 786);
        EXPECT_NE(error.dwCode, 0u);
    }
    EXPECT_EQ(name, "unchanged");
}

} // namespace
