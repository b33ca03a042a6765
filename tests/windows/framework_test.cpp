// The framework layer on real Windows objects: handle owners, COM pointers,
// the application object's run, string-table texts and worker threads.
#include "application.h"
#include "framework_test_support.h"
#include "handles.h"
#include "strings.h"
#include "worker_thread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

// Test-only strings of framework_test_strings.rc.
#define IDS_TEST_LONG_TEXT 4000
#define IDS_TEST_LONG_FORMAT 4001

namespace {

const DWORD kSentinelError = 0x00001234;

std::string TempPath(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name + "-" + std::to_string(GetCurrentProcessId());
}

bool KernelHandleIsOpen(HANDLE handle) {
    DWORD flags;
    return GetHandleInformation(handle, &flags) != FALSE;
}

// Lets an owner of `raw` die with kSentinelError set; it must close the handle
// (`stillOpen` tells) and leave GetLastError() as it was, since the error of
// a failed operation is often read after its handles are gone.
template <typename Owner, typename Raw>
void ExpectClosedKeepingTheError(const char* kind, Raw raw,
                                 const std::function<bool(Raw)>& stillOpen) {
    SCOPED_TRACE(kind);
    {
        Owner owner(raw);
        ASSERT_TRUE(owner);
        SetLastError(kSentinelError);
    }
    EXPECT_EQ(GetLastError(), kSentinelError);
    EXPECT_FALSE(stillOpen(raw));
}

TEST(HandleOwner, EachKindClosesItsHandleAndKeepsTheLastError) {
    ExpectClosedKeepingTheError<UniqueHandle, HANDLE>(
        "UniqueHandle", CreateEventA(nullptr, TRUE, FALSE, nullptr), KernelHandleIsOpen);
    // Deleted on close: the file exists only while the handle is open.
    const std::string file = TempPath("corvane-unique-file");
    ExpectClosedKeepingTheError<UniqueFile, HANDLE>(
        "UniqueFile",
        CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_FLAG_DELETE_ON_CLOSE, nullptr),
        [&](HANDLE) { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; });
    WIN32_FIND_DATAA found;
    ExpectClosedKeepingTheError<UniqueFindHandle, HANDLE>(
        "UniqueFindHandle", FindFirstFileA("C:\\windows\\*", &found),
        [&](HANDLE raw) { return FindNextFileA(raw, &found) != FALSE; });
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
    ExpectClosedKeepingTheError<UniqueHkey, HKEY>("UniqueHkey", key, [](HKEY raw) {
        return RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    });
    ExpectClosedKeepingTheError<UniqueScHandle, SC_HANDLE>(
        "UniqueScHandle", OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT), [](SC_HANDLE raw) {
            UniqueScHandle service(OpenServiceA(raw, "EventLog", SERVICE_QUERY_STATUS));
            return GetLastError() != ERROR_INVALID_HANDLE;
        });
    // The canary: no one else in this process loads it.
    const std::string canary = CanaryPath();
    ExpectClosedKeepingTheError<UniqueHmodule, HMODULE>(
        "UniqueHmodule", LoadLibraryA(canary.c_str()),
        [&](HMODULE) { return GetModuleHandleA(canary.c_str()) != nullptr; });
    // A destroyed device list cannot be probed safely: its memory is gone.
    ExpectClosedKeepingTheError<UniqueDevInfo, HDEVINFO>(
        "UniqueDevInfo", SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES),
        [](HDEVINFO) { return false; });
    // An open INF keeps its file open; once closed the file can be deleted.
    const std::string inf = TempPath("corvane-unique-inf") + ".inf";
    std::ofstream(inf) << "[Version]\nSignature=\"$Windows NT$\"\n";
    ExpectClosedKeepingTheError<UniqueInf, HINF>(
        "UniqueInf", SetupOpenInfFileA(inf.c_str(), nullptr, INF_STYLE_WIN4, nullptr),
        [&](HINF) { return DeleteFileA(inf.c_str()) == FALSE; });
    ExpectClosedKeepingTheError<UniqueBrush, HBRUSH>(
        "UniqueGdiObject", CreateSolidBrush(RGB(1, 2, 3)), [](HBRUSH raw) {
            LOGBRUSH data;
            return GetObjectA(raw, sizeof data, &data) != 0;
        });
}

TEST(HandleOwner, PutReleaseAndMoveHandOwnershipOver) {
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle owner(first);
    *owner.put() = second;
    EXPECT_FALSE(KernelHandleIsOpen(first)) << "put() closes what was owned";
    {
        UniqueHandle moved(std::move(owner));
        EXPECT_FALSE(owner);
        owner = std::move(moved);
    }
    EXPECT_TRUE(KernelHandleIsOpen(second)) << "a moved-from owner closed the handle";
    HANDLE third = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    owner = UniqueHandle(third);
    EXPECT_FALSE(KernelHandleIsOpen(second)) << "move assignment keeps the old handle";
    HANDLE released = owner.release();
    EXPECT_EQ(released, third);
    EXPECT_FALSE(owner);
    EXPECT_TRUE(KernelHandleIsOpen(released)) << "release() closed the handle";
    CloseHandle(released);
}

// A COM object that counts its references.
class CountedObject : public IUnknown {
public:
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        *result = iid == IID_IUnknown ? this : nullptr;
        if (*result == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

TEST(ComPtr, KeepsTheReferenceCountBalanced) {
    CountedObject object;
    {
        ComPtr<IUnknown> owner(&object); // takes the initial reference
        {
            ComPtr<IUnknown> copy = owner;
            ComPtr<IUnknown> queried;
            EXPECT_EQ(copy.QueryInterface(IID_IUnknown, &queried), S_OK);
            EXPECT_EQ(object.references, 3u);
            EXPECT_EQ(copy.QueryInterface(IID_IClassFactory, &queried), E_NOINTERFACE);
            EXPECT_EQ(object.references, 2u) << "a failed query must release the earlier one";
            copy = owner;
            EXPECT_EQ(object.references, 2u);
        }
        ComPtr<IUnknown> moved(std::move(owner));
        EXPECT_EQ(object.references, 1u);
    }
    EXPECT_EQ(object.references, 0u);
}

class ScriptedApp : public CWinApp {
public:
    std::function<BOOL()> init;
    int exitCode = 0, exitCalls = 0;
    BOOL InitInstance() override { return init(); }
    int ExitInstance() override {
        ++exitCalls;
        return exitCode;
    }
};

// The exit code RunApplication gives back for each way InitInstance can end.
TEST(RunApplication, ExitCodeFollowsTheApplicationObject) {
    const struct {
        const char* name;
        std::function<BOOL()> init;
        int exitCode, expected, expectedExitCalls;
    } cases[] = {
        {"InitInstance FALSE", [] { return FALSE; }, -10, -10, 1},
        {"message loop until WM_QUIT",
         [] {
             PostQuitMessage(0);
             return TRUE;
         },
         -9, -9, 1},
        {"escaping exception", []() -> BOOL { throw std::runtime_error("boom"); }, -10,
         kExitCodeApplicationFault, 0},
    };
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedApp app;
        app.init = c.init;
        app.exitCode = c.exitCode;
        EXPECT_EQ(CurrentApplication(), &app);
        EXPECT_EQ(RunApplication(instance), c.expected);
        EXPECT_EQ(app.exitCalls, c.expectedExitCalls);
        EXPECT_EQ(app.m_hInstance, instance);
    }
    EXPECT_EQ(CurrentApplication(), nullptr) << "a dead application object stays current";
    EXPECT_EQ(RunApplication(instance), kExitCodeApplicationFault);
}

// Texts longer than any fixed buffer a loader or formatter might start with,
// and none for a missing id.
TEST(ResourceStrings, TextsOfAnyLengthComeBackWhole) {
    const std::string longText = LoadResourceString(IDS_TEST_LONG_TEXT);
    ASSERT_EQ(longText.size(), 1500u);
    EXPECT_EQ(longText.substr(1490), "0123456789");
    const std::string argument(10000, 'x');
    const std::string formatted = FormatResourceString(IDS_TEST_LONG_FORMAT, argument.c_str());
    ASSERT_EQ(formatted.size(), 3000u - 2 + 10000u);
    EXPECT_EQ(formatted.find(argument), 1500u);
    EXPECT_EQ(FormatText("<%s>", argument.c_str()), "<" + argument + ">");
    for (UINT missing : {1u, 43u, 3999u}) {
        EXPECT_EQ(LoadResourceString(missing), "") << "id " << missing;
    }
}

TEST(WorkerThread, RunsOnlyAfterResumeAndSurvivesAnEscapingException) {
    std::atomic<bool> ran{false};
    CWorkerThread worker;
    ASSERT_TRUE(worker.Create([&] {
        ran = true;
        throw std::runtime_error("escapes the body");
    }));
    EXPECT_FALSE(worker.Create([] {})) << "one object, one thread";
    EXPECT_EQ(GetThreadPriority(worker.Handle()), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(WaitForSingleObject(worker.Handle(), 200), DWORD(WAIT_TIMEOUT));
    EXPECT_FALSE(ran);
    EXPECT_EQ(worker.Resume(), 1u);
    ASSERT_EQ(WaitForSingleObject(worker.Handle(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);
    DWORD exitCode = 0;
    GetExitCodeThread(worker.Handle(), &exitCode);
    EXPECT_EQ(exitCode, CWorkerThread::kExitCodeUncaughtException);
}

// The wizard deletes the thread object after a timed-out wait while the
// thread still runs; the body must stay valid.
TEST(WorkerThread, ThreadOutlivesItsObject) {
    UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const std::string text = "set by the body";
    std::string copy;
    {
        CWorkerThread worker;
        HANDLE goEvent = go.get(), doneEvent = done.get();
        ASSERT_TRUE(worker.Create([goEvent, doneEvent, text, &copy] {
            WaitForSingleObject(goEvent, INFINITE);
            copy = text;
            SetEvent(doneEvent);
        }));
        worker.Resume();
    }
    SetEvent(go.get());
    ASSERT_EQ(WaitForSingleObject(done.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(copy, text);
}

} // namespace
