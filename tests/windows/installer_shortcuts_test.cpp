// CreateShortcut and CreateUrlShortcut on real files: links read back through
// the shell's own link object, Internet shortcuts byte for byte, what the
// journal keeps, and each failure a user could meet. Each test works in
// folders of its own.
#include "installer.h"
#include "installer_test_support.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <optional>
#include <thread>

using installer_test::FileExists;
using installer_test::ListFolder;
using installer_test::ReadWholeFile;
using installer_test::ScratchFolder;
using installer_test::TestSetupLog;
using installer_test::WriteWholeFile;

namespace {

constexpr char kTargetName[] = "hxvclient.exe";
constexpr char kShortcutName[] = "Corvane RDP Workstation";
constexpr char kUrlHead[] = "[InternetShortcut]\r\nURL=";

// What the shell's link object reads back from a .lnk file.
struct LinkFields {
    std::string path;
    std::string arguments;
    std::string workingFolder;
    std::string iconPath;
    int iconIndex = -1;
    std::string description;
};

LinkFields ReadLink(const std::string& linkPath) {
    LinkFields fields;
    ComInitScope com;
    EXPECT_TRUE(com.succeeded());
    ComPtr<IShellLinkA> link;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, link.put_void());
    if (FAILED(result)) {
        ADD_FAILURE() << "no shell link object: " << std::hex << result;
        return fields;
    }
    ComPtr<IPersistFile> file;
    link.QueryInterface(IID_IPersistFile, &file);
    wchar_t widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, widePath, MAX_PATH);
    result = file->Load(widePath, STGM_READ);
    if (FAILED(result)) {
        ADD_FAILURE() << "cannot load " << linkPath << ": " << std::hex << result;
        return fields;
    }
    char text[1024];
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        fields.path = text;
    }
    if (SUCCEEDED(link->GetArguments(text, sizeof text))) {
        fields.arguments = text;
    }
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) {
        fields.workingFolder = text;
    }
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &fields.iconIndex))) {
        fields.iconPath = text;
    }
    if (SUCCEEDED(link->GetDescription(text, sizeof text))) {
        fields.description = text;
    }
    return fields;
}

// Runs `work` on a thread of its own, which starts without COM.
void OnNewThread(const std::function<void()>& work) {
    std::thread thread(work);
    thread.join();
}

// Whether the calling thread left every apartment it entered: only then can
// it enter the multi-threaded one.
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

    void CreateLink(const char* arguments, const std::string& folder) {
        installer->CreateShortcut(kTargetName, programFolder.Path().c_str(), folder.c_str(),
                                  kShortcutName, arguments);
    }
    void CreateLink(const char* arguments = nullptr) {
        CreateLink(arguments, shortcutFolder.Path());
    }

    // The error CreateLink threw, or a test failure when it did not throw.
    CSetupError CreateLinkFailure(const std::string& folder) {
        try {
            CreateLink(nullptr, folder);
        } catch (const CSetupError& error) {
            return error;
        }
        ADD_FAILURE() << "CreateShortcut did not fail";
        return {};
    }
};

struct LinkRow {
    const char* what;
    const char* arguments; // null: none
    const char* expectedArguments;
};

void PrintTo(const LinkRow& row, std::ostream* out) {
    *out << row.what;
}

class ShellLinkTest : public ShortcutsTest, public ::testing::WithParamInterface<LinkRow> {};

// What the user starts from the Start menu or the desktop: the program, in its
// own folder, with its own icon, named after the shortcut.
TEST_P(ShellLinkTest, CreatesALinkTheShellReadsBack) {
    const LinkRow& row = GetParam();
    OnNewThread([&] {
        CreateLink(row.arguments);
        EXPECT_TRUE(ThreadIsOutsideCom()) << "CreateShortcut must leave COM as it found it";
    });

    const std::string link = LinkPath();
    ASSERT_TRUE(FileExists(link));
    const LinkFields fields = ReadLink(link);
    EXPECT_EQ(fields.path, programFolder / kTargetName);
    EXPECT_EQ(fields.arguments, row.expectedArguments);
    EXPECT_EQ(fields.workingFolder, programFolder.Path());
    EXPECT_EQ(fields.iconPath, programFolder / kTargetName);
    EXPECT_EQ(fields.iconIndex, 0);
    EXPECT_EQ(fields.description, kShortcutName);

    EXPECT_EQ(OperationLines(), std::vector<std::string>{"CreateShortcuts: " + link});
    ASSERT_EQ(installer->GetJournalEntries().size(), 1u);
    ASSERT_NE(JournalKind(link), nullptr);
    EXPECT_EQ(*JournalKind(link), kJournalCreatedFile);
    EXPECT_TRUE(installer->GetFileBackups().empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, ShellLinkTest,
                         ::testing::Values(LinkRow{"WithoutArguments", nullptr, ""},
                                           LinkRow{"WithHelpArgument", "-help", "-help"}),
                         [](const ::testing::TestParamInfo<LinkRow>& info) {
                             return std::string(info.param.what);
                         });

// What rollback makes of the shortcuts of a failed installation: the new ones
// are gone, the ones that were there before are back byte for byte, and
// nothing else in the folder is touched.
TEST_F(ShortcutsTest, RollbackRemovesNewShortcutsAndPutsBackOldOnes) {
    const std::string oldLink = LinkPath();
    const std::string oldUrl = shortcutFolder / "Quick Start.url";
    const std::string notes = shortcutFolder / "notes.txt";
    WriteWholeFile(oldLink, "the user's own link");
    WriteWholeFile(oldUrl, "[InternetShortcut]\r\nURL=http://old.example/\r\n");
    WriteWholeFile(notes, "not ours");

    CreateLink();
    // The same link again in this run: the first backup keeps the user's.
    CreateLink("-help");
    installer->CreateShortcut(kTargetName, programFolder.Path().c_str(),
                              shortcutFolder.Path().c_str(), "Uninstall Corvane RDP", "-uninstall");
    installer->CreateUrlShortcut("Quick Start.url", shortcutFolder.Path().c_str(),
                                 "http://new.example/");
    installer->CreateUrlShortcut("Corvane on the Web.url", shortcutFolder.Path().c_str(),
                                 "http://www.corvane.example/");
    ASSERT_EQ(ListFolder(shortcutFolder.Path()).size(), 7u) << "three old, two new, two backups";

    EXPECT_EQ(ReadLink(oldLink).arguments, "-help");
    EXPECT_EQ(installer->GetFileBackups().size(), 2u);
    EXPECT_EQ(installer->GetJournalEntries().size(), 2u) << "only the new ones are ours";

    installer->RemoveInstallFiles();
    installer->RollBackInstallFiles();
    installer.reset();

    auto names = ListFolder(shortcutFolder.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{std::string(kShortcutName) + ".lnk",
                                               "Quick Start.url", "notes.txt"}));
    EXPECT_EQ(ReadWholeFile(oldLink), "the user's own link");
    EXPECT_EQ(ReadWholeFile(oldUrl), "[InternetShortcut]\r\nURL=http://old.example/\r\n");
    EXPECT_EQ(ReadWholeFile(notes), "not ours");
}

// Failures of the save, as the user meets them: the error names the failed
// step and the system's reason, no new link is left and none is journaled,
// and the user's old link is theirs again.
struct SaveFailureRow {
    const char* what;
    // Prepares the shortcut folder's situation, possibly holding a file open
    // for the duration of the call; returns the folder to pass.
    std::string (*prepare)(const ScratchFolder& shortcutFolder, UniqueFile* held);
    uint16_t expectedLocation;
    DWORD expectedCode;
    // The old link was held open, so its backup could not go back at once.
    bool backupKept;
};

void PrintTo(const SaveFailureRow& row, std::ostream* out) {
    *out << row.what;
}

// A link of the user's, held open by another program as `share` allows.
std::string HoldOldLink(const ScratchFolder& folder, UniqueFile* held, DWORD share) {
    const std::string link = folder / (std::string(kShortcutName) + ".lnk");
    WriteWholeFile(link, "the user's own link");
    held->reset(CreateFileA(link.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(*held);
    return folder.Path();
}

class ShellLinkSaveFailureTest : public ShortcutsTest,
                                 public ::testing::WithParamInterface<SaveFailureRow> {};

TEST_P(ShellLinkSaveFailureTest, ThrowsTheFailedStepAndKeepsTheOldLink) {
    const SaveFailureRow& row = GetParam();
    UniqueFile held;
    const std::string folder = row.prepare(shortcutFolder, &held);
    const auto before = ListFolder(shortcutFolder.Path());
    const std::string existing = folder + "\\" + kShortcutName + ".lnk";
    const DWORD attributes = GetFileAttributesA(existing.c_str());
    const bool existed =
        attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);

    CSetupError error{};
    OnNewThread([&] {
        error = CreateLinkFailure(folder);
        EXPECT_TRUE(ThreadIsOutsideCom()) << "a failed CreateShortcut must leave COM too";
    });

    EXPECT_EQ(error.wModule, kModuleInstaller);
    EXPECT_EQ(error.wLocation, row.expectedLocation);
    EXPECT_EQ(error.dwCode, row.expectedCode);
    EXPECT_TRUE(installer->GetJournalEntries().empty()) << "a failed link is not journaled";
    // The line comes first, so the log names the link that failed.
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"CreateShortcuts: " + existing});
    held.reset();
    if (row.backupKept) {
        ASSERT_EQ(installer->GetFileBackups().size(), 1u);
        EXPECT_EQ(ReadWholeFile(installer->GetFileBackups().begin()->second),
                  "the user's own link");
        installer->RollBackInstallFiles();
    }
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_EQ(ListFolder(shortcutFolder.Path()), before);
    if (existed) {
        EXPECT_EQ(ReadWholeFile(existing), "the user's own link") << "the user's link is kept";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Situations, ShellLinkSaveFailureTest,
    ::testing::Values(SaveFailureRow{"MissingFolder",
                                     [](const ScratchFolder& folder, UniqueFile*) {
                                         return folder / "Corvane RDP";
                                     },
                                     1113, ERROR_PATH_NOT_FOUND, false},
                      // Open for reading elsewhere: the old link can be backed up but
                      // neither written nor put back, so rollback puts it back.
                      SaveFailureRow{"LinkOpenForReading",
                                     [](const ScratchFolder& folder, UniqueFile* held) {
                                         return HoldOldLink(folder, held, FILE_SHARE_READ);
                                     },
                                     1113, ERROR_SHARING_VIOLATION, true},
                      // Open elsewhere without any sharing: not even the backup can be taken.
                      SaveFailureRow{"LinkLockedElsewhere",
                                     [](const ScratchFolder& folder, UniqueFile* held) {
                                         return HoldOldLink(folder, held, 0);
                                     },
                                     660, ERROR_SHARING_VIOLATION, false},
                      SaveFailureRow{
                          "LinkNameTakenByAFolder",
                          [](const ScratchFolder& folder, UniqueFile*) {
                              CreateDirectoryA(
                                  (folder / (std::string(kShortcutName) + ".lnk")).c_str(),
                                  nullptr);
                              return folder.Path();
                          },
                          1113, ERROR_ACCESS_DENIED, false},
                      SaveFailureRow{"PathLongerThanMaxPath",
                                     [](const ScratchFolder& folder, UniqueFile*) {
                                         return folder / std::string(MAX_PATH, 'x');
                                     },
                                     1113, ERROR_INSUFFICIENT_BUFFER, false}),
    [](const ::testing::TestParamInfo<SaveFailureRow>& info) {
        return std::string(info.param.what);
    });

// A thread in the multi-threaded apartment cannot enter the single-threaded
// one: the first step fails, and the caller's apartment is left alone.
TEST_F(ShortcutsTest, FailsOnAThreadInTheMultiThreadedApartment) {
    CSetupError error{};
    OnNewThread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        error = CreateLinkFailure(shortcutFolder.Path());
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE)
            << "the caller's apartment must still be there";
        CoUninitialize();
        CoUninitialize();
    });
    EXPECT_EQ(error.wModule, kModuleInstaller);
    EXPECT_EQ(error.wLocation, 1063);
    EXPECT_TRUE(installer->GetJournalEntries().empty());
    EXPECT_TRUE(ListFolder(shortcutFolder.Path()).empty());
}

// Wine's link object never fails a call it is given, so the steps between
// creating it and saving a link fail in a stand-in registered for the link
// object's class in the test thread's apartment; CoCreateInstance finds it
// there before the registry. It fails at one chosen step, with a last error of
// its own, and clears the last error on every Release: the error must be the
// one of the failed step, taken before the interfaces are let go.
enum class FakeStep {
    None,
    CreateInstance,
    QueryPersistFile,
    SetPath,
    SetDescription,
    SetArguments,
    SetWorkingDirectory,
    SetIconLocation,
    Save,
};

class FakeShellLink final : public IShellLinkA, public IPersistFile {
public:
    // Objects not yet destroyed.
    static inline LONG alive = 0;

    FakeShellLink(FakeStep failAt, DWORD code) : m_failAt(failAt), m_code(code) { ++alive; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IShellLinkA) {
            *object = static_cast<IShellLinkA*>(this);
        } else if (iid == IID_IPersistFile) {
            if (m_failAt == FakeStep::QueryPersistFile) {
                return Fail();
            }
            *object = static_cast<IPersistFile*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --m_references;
        if (left == 0) {
            --alive;
            delete this;
        }
        SetLastError(ERROR_SUCCESS);
        return ULONG(left);
    }

    // IShellLinkA: what CreateShortcut sets.
    HRESULT STDMETHODCALLTYPE SetPath(LPCSTR) override { return Step(FakeStep::SetPath); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR) override {
        return Step(FakeStep::SetDescription);
    }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR) override { return Step(FakeStep::SetArguments); }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR) override {
        return Step(FakeStep::SetWorkingDirectory);
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR, int) override {
        return Step(FakeStep::SetIconLocation);
    }
    // The rest is never called.
    HRESULT STDMETHODCALLTYPE GetPath(LPSTR, int, WIN32_FIND_DATAA*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetArguments(LPSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR, int, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return E_NOTIMPL; }

    // IPersistFile
    // A failing save cuts the old link short first, as a full disk would.
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR file, BOOL) override {
        if (m_failAt == FakeStep::Save) {
            UniqueFile cut(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            WriteFile(cut.get(), "L\0\0", 3, &written, nullptr);
        }
        return Step(FakeStep::Save);
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
        *id = CLSID_ShellLink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

private:
    HRESULT Fail() {
        SetLastError(m_code);
        return E_FAIL;
    }
    HRESULT Step(FakeStep step) { return m_failAt == step ? Fail() : S_OK; }

    LONG m_references = 1;
    FakeStep m_failAt;
    DWORD m_code;
};

class FakeShellLinkFactory : public IClassFactory {
public:
    FakeShellLinkFactory(FakeStep failAt, DWORD code) : m_failAt(failAt), m_code(code) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the test's stack.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        if (m_failAt == FakeStep::CreateInstance) {
            SetLastError(m_code);
            return E_OUTOFMEMORY;
        }
        auto* link = new FakeShellLink(m_failAt, m_code);
        const HRESULT result = link->QueryInterface(iid, object);
        link->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    FakeStep m_failAt;
    DWORD m_code;
};

struct FakeStepRow {
    const char* what;
    FakeStep failAt;
    uint16_t expectedLocation; // 0: the link is made
};

void PrintTo(const FakeStepRow& row, std::ostream* out) {
    *out << row.what;
}

class ShellLinkStepTest : public ShortcutsTest, public ::testing::WithParamInterface<FakeStepRow> {
protected:
    // Calls CreateShortcut with the stand-in registered; the thread enters and
    // leaves its apartment around that, as the wizard's thread would.
    std::optional<CSetupError> CreateWithFake(FakeStep failAt, DWORD code) {
        std::optional<CSetupError> error;
        OnNewThread([&] {
            ASSERT_EQ(CoInitialize(nullptr), S_OK);
            FakeShellLinkFactory factory(failAt, code);
            DWORD cookie = 0;
            ASSERT_EQ(CoRegisterClassObject(CLSID_ShellLink, &factory, CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie),
                      S_OK);
            try {
                CreateLink("-help");
            } catch (const CSetupError& thrown) {
                error = thrown;
            }
            CoRevokeClassObject(cookie);
            CoUninitialize();
            EXPECT_TRUE(ThreadIsOutsideCom()) << "CoInitialize and CoUninitialize must pair";
        });
        return error;
    }
};

// Each case starts from an old link of the user's, which the stand-in never
// writes unless its save is the step that fails.
TEST_P(ShellLinkStepTest, ReportsTheFailedStepAndReleasesTheLinkObject) {
    const FakeStepRow& row = GetParam();
    const DWORD code = 20000 + row.expectedLocation;
    WriteWholeFile(LinkPath(), "the user's own link");
    FakeShellLink::alive = 0;
    const auto error = CreateWithFake(row.failAt, code);

    EXPECT_EQ(FakeShellLink::alive, 0) << "every interface obtained must be released";
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"CreateShortcuts: " + LinkPath()});
    EXPECT_EQ(JournalKind(LinkPath()), nullptr) << "the old link is covered by its backup";
    if (row.expectedLocation == 0) {
        EXPECT_FALSE(error) << "a failed SetArguments is not an error";
        EXPECT_EQ(installer->GetFileBackups().size(), 1u);
        return;
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->wModule, kModuleInstaller);
    EXPECT_EQ(error->wLocation, row.expectedLocation);
    // The system's error code of the failed step, not the COM result. Between
    // a failing class factory and CoCreateInstance's return the COM runtime
    // runs code of its own, so that one code is not compared.
    if (row.failAt != FakeStep::CreateInstance) {
        EXPECT_EQ(error->dwCode, code);
    }
    EXPECT_TRUE(installer->GetJournalEntries().empty()) << "a failed link journals nothing";
    // The backup went back over the link at once and is off the record.
    EXPECT_TRUE(installer->GetFileBackups().empty());
    EXPECT_EQ(ListFolder(shortcutFolder.Path()),
              std::vector<std::string>{std::string(kShortcutName) + ".lnk"});
    EXPECT_EQ(ReadWholeFile(LinkPath()), "the user's own link");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ShellLinkStepTest,
    ::testing::Values(FakeStepRow{"CreateInstance", FakeStep::CreateInstance, 1071},
                      FakeStepRow{"QueryPersistFile", FakeStep::QueryPersistFile, 1075},
                      FakeStepRow{"SetPath", FakeStep::SetPath, 1079},
                      FakeStepRow{"SetDescription", FakeStep::SetDescription, 1085},
                      FakeStepRow{"SetArgumentsIsIgnored", FakeStep::SetArguments, 0},
                      FakeStepRow{"SetWorkingDirectory", FakeStep::SetWorkingDirectory, 1097},
                      FakeStepRow{"SetIconLocation", FakeStep::SetIconLocation, 1102},
                      FakeStepRow{"Save", FakeStep::Save, 1113}),
    [](const ::testing::TestParamInfo<FakeStepRow>& info) { return std::string(info.param.what); });

TEST_F(ShortcutsTest, WritesAnInternetShortcutByteForByte) {
    const std::string address = "https://www.corvane.example/corvane-rdp.html#quick-start";
    installer->CreateUrlShortcut("Quick Start.url", shortcutFolder.Path().c_str(), address.c_str());

    const std::string path = shortcutFolder / "Quick Start.url";
    const std::string content = ReadWholeFile(path);
    EXPECT_EQ(content, kUrlHead + address) << "no line break and no zero byte after the address";
    EXPECT_EQ(content.size(), 24 + address.size());
    EXPECT_EQ(OperationLines(), std::vector<std::string>{"Install File: " + path});
    ASSERT_NE(JournalKind(path), nullptr);
    EXPECT_EQ(*JournalKind(path), kJournalCreatedFile);
}

} // namespace
