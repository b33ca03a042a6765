// InstallFile and MakeTempFileName on real files: what lands on disk, what the
// log says, and what the journal keeps for rollback; links that are not
// written through, and the install folder's protection read back from the
// folder. MakeDirectory, a locked target and rollback are covered end to end
// (tests/e2e).
#include "installer_test_support.h"

#include <sddl.h>

#include <regex>

using installer_test::ListFolder;
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
    const auto& [backedUp, backup] = *installer->GetFileBackups().begin();
    EXPECT_EQ(backedUp, readme);
    EXPECT_TRUE(IsSystemTempName(backup, "readme.txt")) << backup;
    EXPECT_EQ(ReadWholeFile(backup), "the user's text");
    EXPECT_EQ(JournalKind(readme), -1) << "covered by its backup: rollback must not delete it";
    EXPECT_EQ(JournalKind(library), kJournalCreatedFile);
    EXPECT_EQ(restartNeeded, 0);
    EXPECT_EQ(ListFolder(folder.Path()).size(), 3u) << "two targets and one backup";
    const std::string backupPath = backup;
    // Neither committed nor rolled back: the backup outlives the installer,
    // for the next start's recovery. Only the commit deletes it.
    installer.reset();
    EXPECT_EQ(ReadWholeFile(backupPath), "the user's text");
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
    const std::string missing = folder / "not-there";
    try {
        installer->InstallFile("a.dll", missing.c_str(), "x", 1);
        FAIL() << "installed into a folder that does not exist";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 871);
        EXPECT_EQ(error.dwCode, DWORD(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_TRUE(installer->GetJournalEntries().empty());
}

// Without a system name (the folder is missing) the name comes from the clock,
// with a pause so the next one differs; one too long for a path is refused.
TEST_F(InstallerFilesTest, FallsBackToAClockName) {
    const std::string missing = folder / "missing";
    std::string name;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    installer->MakeTempFileName("hxvhub.sys", missing.c_str(), name);
    QueryPerformanceCounter(&end);
    EXPECT_GE(double(end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart, 100.0);
    EXPECT_TRUE(std::regex_match(name, std::regex(".*\\\\missing\\\\hxvhub\\.sys-[1-5]?[0-9][1-5]?"
                                                  "[0-9][0-9]{1,3}\\.tmp")))
        << name;

    name = "unchanged";
    try {
        installer->MakeTempFileName(std::string(60, 'p').c_str(),
                                    (folder / std::string(200, 'm')).c_str(), name);
        ADD_FAILURE() << "made a name of " << name.size() << " characters";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wLocation, 786);
        EXPECT_NE(error.dwCode, 0u);
    }
    EXPECT_EQ(name, "unchanged");
}

// A second name for a file elsewhere, planted where setup writes: written
// through, it would change that file, which no backup covers.
TEST_F(InstallerFilesTest, NeverWritesThroughAHardLink) {
    installer_test::ScratchFolder elsewhere;
    const std::string victim = elsewhere / "system.ini", planted = folder / "readme.txt";
    WriteWholeFile(victim, "[system]\r\n");
    ASSERT_TRUE(CreateHardLinkA(planted.c_str(), victim.c_str(), nullptr));

    try {
        Install("readme.txt", "the product's readme");
        ADD_FAILURE() << "wrote through a hard link";
    } catch (const CSetupError& error) {
        EXPECT_EQ(error.wModule, kModuleInstaller);
        EXPECT_EQ(error.wLocation, 875);
        EXPECT_EQ(error.dwCode, DWORD(ERROR_CANT_ACCESS_FILE));
    }
    EXPECT_EQ(ReadWholeFile(victim), "[system]\r\n");
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_TRUE(installer->GetJournalEntries().empty());
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"Install File: " + planted,
                                        "Error: Not written through a link: " + planted}));
    EXPECT_TRUE(CInstaller::IsLinkPath(victim)) << "both names of the file are links";
    EXPECT_FALSE(CInstaller::IsLinkPath(folder.Path()));
}

// What a folder's access list says, in SDDL, and whom it lets change the folder.
struct FolderAccessReading {
    std::string sddl;
    bool standardUsersMayChange = false; // an allow entry with a writing right for a SID
                                         // other than SYSTEM, Administrators or this user
};

FolderAccessReading ReadFolderAccessBack(const std::string& path) {
    FolderAccessReading reading;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(),
                          DWORD(buffer.size()), &needed)) {
        ADD_FAILURE() << "cannot read the descriptor of " << path;
        return reading;
    }
    char* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer.data(), SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    reading.sddl = text ? text : "";
    LocalFree(text);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted);
    HANDLE token = nullptr;
    BYTE user[256];
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    GetTokenInformation(token, TokenUser, user, sizeof user, &needed);
    CloseHandle(token);
    for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        GetAce(dacl, index, reinterpret_cast<void**>(&ace));
        char* sid = nullptr;
        ConvertSidToStringSidA(&ace->SidStart, &sid);
        const std::string name = sid ? sid : "";
        LocalFree(sid);
        const bool trusted =
            name == "S-1-5-18" || name == "S-1-5-32-544" ||
            EqualSid(&ace->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
        constexpr DWORD kWriting = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                   DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && !trusted &&
            (ace->Mask & kWriting) != 0) {
            reading.standardUsersMayChange = true;
        }
    }
    return reading;
}

// Lets everyone do everything in `path` (under Wine: its Unix mode becomes 0777).
void OpenToEveryone(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_TRUE(SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    LocalFree(descriptor);
    ASSERT_TRUE(ReadFolderAccessBack(path).standardUsersMayChange)
        << ReadFolderAccessBack(path).sddl;
}

// The install folder is made so that only the system and administrators can change it,
// and setup refuses to use one that standard users can change, or whose parent they can.
TEST_F(InstallerFilesTest, ProtectsTheInstallFolderOrRefusesIt) {
    const std::string parent = folder / "Tools", product = parent + "\\Corvane";
    ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));

    installer->MakeProtectedDirectory(product.c_str());
    EXPECT_EQ(JournalKind(product), kJournalCreatedDirectory);
    const FolderAccessReading made = ReadFolderAccessBack(product);
    EXPECT_FALSE(made.standardUsersMayChange) << made.sddl;
    // Nothing for everyone (Wine keeps no more than a Unix mode can hold); on Windows the
    // exact list, and nothing inherited.
    EXPECT_EQ(made.sddl.find(";WD)"), std::string::npos) << made.sddl;
    if (!installer_test::RunningUnderWine()) {
        EXPECT_EQ(made.sddl, "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    }
    EXPECT_EQ(installer->FindChangeableFolder(product), "");
    // Again over the same folder: an earlier installation's is used as it is.
    installer->MakeProtectedDirectory(product.c_str());

    const struct {
        const char* what;
        std::string openToEveryone, target;
        uint16_t location;
    } refusals[] = {
        {"an existing folder everyone can change", product, product, 978},
        {"a new folder below one everyone can change", parent, parent + "\\Other", 977},
    };
    for (const auto& row : refusals) {
        OpenToEveryone(row.openToEveryone);
        const auto journal = installer->GetJournalEntries();
        const size_t lines = OperationLines().size();
        try {
            installer->MakeProtectedDirectory(row.target.c_str());
            ADD_FAILURE() << row.what << ": accepted";
        } catch (const CSetupError& error) {
            EXPECT_EQ(error.wLocation, row.location) << row.what;
            EXPECT_EQ(error.dwCode, DWORD(ERROR_ACCESS_DENIED)) << row.what;
        }
        EXPECT_EQ(installer->FindChangeableFolder(row.target), row.openToEveryone) << row.what;
        EXPECT_EQ(installer->GetJournalEntries(), journal) << row.what;
        EXPECT_EQ(OperationLines().back(),
                  "Error: Users without administrator rights can change: " + row.openToEveryone)
            << row.what;
        EXPECT_GT(OperationLines().size(), lines) << row.what;
    }
    EXPECT_FALSE(installer_test::FileExists(parent + "\\Other"));
}

} // namespace
