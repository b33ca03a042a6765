// CreateShortcut and CreateUrlShortcut on real files: links read back through
// the shell's own link object, what the journal keeps, the failures a user
// could meet, and COM left as it was found. Rollback of shortcuts over the
// user's own is covered end to end (tests/e2e).
#include "installer_test_support.h"

#include <objbase.h>
#include <shlobj.h>

#include <ostream>
#include <thread>

using installer_test::ListFolder;
using installer_test::ReadWholeFile;
using installer_test::ScratchFolder;
using installer_test::WriteWholeFile;

namespace {

constexpr char kTargetName[] = "hxvclient.exe";
constexpr char kShortcutName[] = "Corvane RDP Workstation";
constexpr char kUsersLink[] = "the user's own link";
constexpr char kAddress[] = "https://www.corvane.example/corvane-rdp.html#quick-start";

// Path, arguments, working folder, icon and description as the shell reads them.
std::vector<std::string> ReadLink(const std::string& linkPath) {
    ComInitScope com;
    ComPtr<IShellLinkA> link;
    ComPtr<IPersistFile> file;
    wchar_t widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH);
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                link.put_void())) ||
        FAILED(link.QueryInterface(IID_IPersistFile, &file)) ||
        FAILED(file->Load(widePath, STGM_READ))) {
        ADD_FAILURE() << "cannot load " << linkPath;
        return {};
    }
    char path[MAX_PATH] = {}, arguments[MAX_PATH] = {}, folder[MAX_PATH] = {}, icon[MAX_PATH] = {},
         description[MAX_PATH] = {};
    int iconIndex = -1;
    link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetArguments(arguments, MAX_PATH);
    link->GetWorkingDirectory(folder, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &iconIndex);
    link->GetDescription(description, MAX_PATH);
    return {path, arguments, folder, icon + std::string(",") + std::to_string(iconIndex),
            description};
}

// Only a thread that left every apartment it entered can enter the multi-threaded one.
bool ThreadIsOutsideCom() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result)) {
        CoUninitialize();
    }
    return result == S_OK;
}

class ShortcutsTest : public installer_test::InstallerTest {
protected:
    ScratchFolder programFolder;
    ScratchFolder shortcutFolder;

    void SetUp() override {
        WriteWholeFile(programFolder / kTargetName, "MZ program");
        InstallerTest::SetUp();
    }
    std::string LinkPath(const std::string& name = kShortcutName) const {
        return shortcutFolder / (name + ".lnk");
    }
    void CreateLink(const char* arguments = nullptr, const std::string& folder = "",
                    const char* name = kShortcutName) {
        installer->CreateShortcut(kTargetName, programFolder.Path().c_str(),
                                  (folder.empty() ? shortcutFolder.Path() : folder).c_str(), name,
                                  arguments);
    }
};

// What the user starts from the Start menu: the program, in its own folder,
// with its own icon, described by the shortcut's name; and a web shortcut.
TEST_F(ShortcutsTest, CreatesLinksTheShellReadsBack) {
    std::thread([&] {
        CreateLink();
        CreateLink("-help", "", "Help");
        installer->CreateUrlShortcut("Web.url", shortcutFolder.Path().c_str(), kAddress);
        EXPECT_TRUE(ThreadIsOutsideCom()) << "CreateShortcut must leave COM as it found it";
    }).join();
    const std::string program = programFolder / kTargetName;
    EXPECT_EQ(ReadLink(LinkPath()), (std::vector<std::string>{program, "", programFolder.Path(),
                                                              program + ",0", kShortcutName}));
    EXPECT_EQ(
        ReadLink(LinkPath("Help")),
        (std::vector<std::string>{program, "-help", programFolder.Path(), program + ",0", "Help"}));
    // No line break and no zero byte after the address.
    EXPECT_EQ(ReadWholeFile(shortcutFolder / "Web.url"),
              std::string("[InternetShortcut]\r\nURL=") + kAddress);
    EXPECT_EQ(OperationLines(),
              (std::vector<std::string>{"CreateShortcuts: " + LinkPath(),
                                        "CreateShortcuts: " + LinkPath("Help"),
                                        "Install File: " + shortcutFolder / "Web.url"}));
    EXPECT_EQ(JournalKind(shortcutFolder / "Web.url"), kJournalCreatedFile);
    EXPECT_TRUE(installer->GetFileBackups().empty());
}

// Wine always makes the link object: a stand-in class factory registered in
// the test thread's apartment fails to, for a failure before the save.
class FailingFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // lives on the stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** object) override {
        *object = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

enum class OldLink { None, Present, HeldForReading };
enum class Apartment { None, MultiThreaded, FailingFactory };

struct FailureRow {
    const char* what;
    std::string folder; // below the shortcut folder; "": the folder itself
    OldLink oldLink;
    Apartment apartment; // what the calling thread is in
    uint16_t location;
    DWORD code; // 0: the system's, not compared
};

class ShellLinkFailureTest : public ShortcutsTest,
                             public ::testing::WithParamInterface<FailureRow> {};

// The error names the failed step and the system's reason; no new link is
// left or journaled, the user's old one is theirs again (at once, or through
// rollback while it is held open), and the caller's apartment stays as it was.
TEST_P(ShellLinkFailureTest, ThrowsAndKeepsTheOldLink) {
    const FailureRow& row = GetParam();
    UniqueFile held;
    if (row.oldLink != OldLink::None) {
        WriteWholeFile(LinkPath(), kUsersLink);
    }
    if (row.oldLink == OldLink::HeldForReading) {
        held.reset(CreateFileA(LinkPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
    }
    const std::string folder =
        row.folder.empty() ? shortcutFolder.Path() : shortcutFolder / row.folder;
    const auto before = ListFolder(shortcutFolder.Path());

    std::thread([&] {
        FailingFactory factory;
        DWORD cookie = 0;
        if (row.apartment == Apartment::MultiThreaded) {
            ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        } else if (row.apartment == Apartment::FailingFactory) {
            ASSERT_EQ(CoInitialize(nullptr), S_OK);
            ASSERT_EQ(CoRegisterClassObject(CLSID_ShellLink, &factory, CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie),
                      S_OK);
        }
        try {
            CreateLink(nullptr, folder);
            ADD_FAILURE() << "CreateShortcut did not fail";
        } catch (const CSetupError& error) {
            EXPECT_EQ(error.wModule, kModuleInstaller);
            EXPECT_EQ(error.wLocation, row.location);
            EXPECT_TRUE(row.code == 0 || error.dwCode == row.code) << error.dwCode;
        }
        if (row.apartment != Apartment::None) {
            const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            EXPECT_EQ(again,
                      row.apartment == Apartment::MultiThreaded ? S_FALSE : RPC_E_CHANGED_MODE);
            if (SUCCEEDED(again)) {
                CoUninitialize();
            }
            CoRevokeClassObject(cookie);
            CoUninitialize();
        }
        EXPECT_TRUE(ThreadIsOutsideCom()) << "CreateShortcut must leave COM as it found it";
    }).join();

    EXPECT_EQ(OperationLines(), std::vector<std::string>{"CreateShortcuts: " + folder + "\\" +
                                                         kShortcutName + ".lnk"});
    EXPECT_TRUE(installer->GetJournalEntries().empty());
    EXPECT_EQ(installer->GetFileBackups().size(), row.oldLink == OldLink::HeldForReading ? 1u : 0u);
    held.reset();
    installer->RollBackInstallFiles();
    EXPECT_EQ(ListFolder(shortcutFolder.Path()), before);
    if (row.oldLink != OldLink::None) {
        EXPECT_EQ(ReadWholeFile(LinkPath()), kUsersLink);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ShellLinkFailureTest,
    ::testing::Values(FailureRow{"MissingFolder", "Corvane RDP", OldLink::None, Apartment::None,
                                 1113, ERROR_PATH_NOT_FOUND},
                      FailureRow{"LinkOpenForReading", "", OldLink::HeldForReading, Apartment::None,
                                 1113, ERROR_SHARING_VIOLATION},
                      FailureRow{"PathLongerThanMaxPath", std::string(MAX_PATH, 'x'), OldLink::None,
                                 Apartment::None, 1113, ERROR_INSUFFICIENT_BUFFER},
                      FailureRow{"MultiThreadedApartment", "", OldLink::Present,
                                 Apartment::MultiThreaded, 1063, 0},
                      FailureRow{"LinkObjectNotMade", "", OldLink::Present,
                                 Apartment::FailingFactory, 1071, 0}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return info.param.what; });

} // namespace
