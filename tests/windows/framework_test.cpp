// The framework layer on real Windows objects: handle owners, the application
// object's run, string-table texts and their formatting, worker threads and
// the message box caption.
#include "application.h"
#include "framework_test_support.h"
#include "handles.h"
#include "message_box.h"
#include "resource_ids.h"
#include "strings.h"
#include "worker_thread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <ostream>
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

// Each owner kind closes what it owns and leaves GetLastError() as it was:
// the error of a failed operation is often read after its handles are gone.
struct CloseCase {
    const char* name;
    // Opens a handle into an owner, sets kSentinelError, destroys the owner,
    // stores GetLastError() as it is right then and returns whether the
    // handle is still open afterwards.
    std::function<bool(DWORD* errorAfterClose)> openSetErrorAndClose;
};

void PrintTo(const CloseCase& value, std::ostream* out) {
    *out << value.name;
}

const CloseCase kCloseCases[] = {
    {"UniqueHandle",
     [](DWORD* errorAfterClose) {
         HANDLE raw;
         {
             UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
             raw = event.get();
             EXPECT_TRUE(event);
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         return KernelHandleIsOpen(raw);
     }},
    {"UniqueFile",
     [](DWORD* errorAfterClose) {
         const std::string path = TempPath("corvane-unique-file");
         {
             UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_FLAG_DELETE_ON_CLOSE, nullptr));
             EXPECT_TRUE(file);
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         // Deleted on close: the file exists only while the handle is open.
         return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
     }},
    {"UniqueFindHandle",
     [](DWORD* errorAfterClose) {
         HANDLE raw;
         WIN32_FIND_DATAA data;
         char windows[MAX_PATH];
         GetWindowsDirectoryA(windows, MAX_PATH);
         {
             UniqueFindHandle find(FindFirstFileA((std::string(windows) + "\\*").c_str(), &data));
             EXPECT_TRUE(find);
             raw = find.get();
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         return FindNextFileA(raw, &data) != FALSE;
     }},
    {"UniqueHkey",
     [](DWORD* errorAfterClose) {
         HKEY raw;
         {
             UniqueHkey key;
             EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.put()),
                       ERROR_SUCCESS);
             raw = key.get();
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         return RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
     }},
    {"UniqueScHandle",
     [](DWORD* errorAfterClose) {
         SC_HANDLE raw;
         {
             UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
             EXPECT_TRUE(manager);
             raw = manager.get();
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         SC_HANDLE service = OpenServiceA(raw, "EventLog", SERVICE_QUERY_STATUS);
         const DWORD openError = GetLastError();
         if (service != nullptr) {
             CloseServiceHandle(service);
         }
         return openError != ERROR_INVALID_HANDLE;
     }},
    {"UniqueHmodule",
     [](DWORD* errorAfterClose) {
         // The canary: no one else in this process loads it.
         const std::string path = CanaryPath();
         {
             UniqueHmodule module(LoadLibraryA(path.c_str()));
             EXPECT_TRUE(module) << path;
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         return GetModuleHandleA(path.c_str()) != nullptr;
     }},
    {"UniqueDevInfo",
     [](DWORD* errorAfterClose) {
         HDEVINFO raw;
         {
             UniqueDevInfo devices(
                 SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
             EXPECT_TRUE(devices);
             raw = devices.get();
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         // A destroyed list cannot be probed safely: its memory is gone.
         (void)raw;
         return false;
     }},
    {"UniqueInf",
     [](DWORD* errorAfterClose) {
         const std::string path = TempPath("corvane-unique-inf") + ".inf";
         {
             UniqueFile file(
                 CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
             const char text[] = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
             DWORD written;
             WriteFile(file.get(), text, sizeof text - 1, &written, nullptr);
         }
         *errorAfterClose = GetLastError();
         {
             UniqueInf inf(SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
             EXPECT_TRUE(inf);
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         // An open INF keeps its file open; once closed it can be deleted.
         return DeleteFileA(path.c_str()) == FALSE;
     }},
    {"UniqueGdiObject",
     [](DWORD* errorAfterClose) {
         HGDIOBJ raw;
         {
             UniqueBrush brush(CreateSolidBrush(RGB(1, 2, 3)));
             EXPECT_TRUE(brush);
             raw = brush.get();
             SetLastError(kSentinelError);
         }
         *errorAfterClose = GetLastError();
         LOGBRUSH data;
         return GetObjectA(raw, sizeof data, &data) != 0;
     }},
};

class HandleOwnerClose : public testing::TestWithParam<CloseCase> {};

TEST_P(HandleOwnerClose, ClosesTheHandleAndKeepsTheLastError) {
    DWORD errorAfterClose = 0;
    const bool stillOpen = GetParam().openSetErrorAndClose(&errorAfterClose);
    EXPECT_EQ(errorAfterClose, kSentinelError);
    EXPECT_FALSE(stillOpen);
}

INSTANTIATE_TEST_SUITE_P(Kinds, HandleOwnerClose, testing::ValuesIn(kCloseCases),
                         [](const testing::TestParamInfo<CloseCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(HandleOwner, PutReleaseAndMoveHandOwnershipOver) {
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle owner(first);

    // put() closes what was owned before the new handle arrives.
    *owner.put() = second;
    EXPECT_FALSE(KernelHandleIsOpen(first));

    // A move leaves the source empty; its destructor must not close the handle.
    {
        UniqueHandle moved(std::move(owner));
        EXPECT_FALSE(owner);
        EXPECT_EQ(moved.get(), second);
        owner = std::move(moved);
    }
    EXPECT_TRUE(KernelHandleIsOpen(second));

    // Move assignment closes the destination's old handle.
    HANDLE third = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle other(third);
    owner = std::move(other);
    EXPECT_FALSE(KernelHandleIsOpen(second));
    EXPECT_EQ(owner.get(), third);

    // release() hands the handle over unclosed.
    HANDLE released = owner.release();
    EXPECT_FALSE(owner);
    EXPECT_TRUE(KernelHandleIsOpen(released));
    CloseHandle(released);
}

// A COM object that counts its references.
class CountedObject : public IUnknown {
public:
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (iid == IID_IUnknown) {
            *result = this;
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
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
            EXPECT_EQ(object.references, 2u);
            ComPtr<IUnknown> queried;
            EXPECT_EQ(copy.QueryInterface(IID_IUnknown, &queried), S_OK);
            EXPECT_EQ(object.references, 3u);
            EXPECT_EQ(copy.QueryInterface(IID_IClassFactory, &queried), E_NOINTERFACE);
            EXPECT_EQ(object.references, 2u) << "a failed query must release the earlier one";
            copy = owner; // self-equal assignment keeps the count
            EXPECT_EQ(object.references, 2u);
        }
        EXPECT_EQ(object.references, 1u);
        ComPtr<IUnknown> moved(std::move(owner));
        EXPECT_EQ(object.references, 1u);
    }
    EXPECT_EQ(object.references, 0u);
}

TEST(ComInitScope, LeavesTheApartmentItEntered) {
    CWorkerThread worker;
    HRESULT outer = E_FAIL, inner = E_FAIL, afterwards = E_FAIL;
    ASSERT_TRUE(worker.Create([&] {
        {
            ComInitScope first;
            ComInitScope second;
            outer = first.result();
            inner = second.result();
        }
        // Both scopes uninitialised: the thread may now pick another model.
        afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoUninitialize();
    }));
    worker.Resume();
    ASSERT_EQ(WaitForSingleObject(worker.Handle(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(outer, S_OK);
    EXPECT_EQ(inner, S_FALSE);
    EXPECT_EQ(afterwards, S_OK);
}

TEST(ComInitScope, DoesNotUninitialiseAnApartmentItDidNotEnter) {
    CWorkerThread worker;
    HRESULT scoped = E_FAIL, afterwards = E_FAIL;
    ASSERT_TRUE(worker.Create([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComInitScope scope;
            scoped = scope.result();
        }
        // Still in the multi-threaded apartment entered above.
        afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoUninitialize();
        CoUninitialize();
    }));
    worker.Resume();
    ASSERT_EQ(WaitForSingleObject(worker.Handle(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(scoped, RPC_E_CHANGED_MODE);
    EXPECT_EQ(afterwards, S_FALSE);
}

// The application object's run, in process: which exit code RunApplication
// gives back for each way InitInstance can end.
class ScriptedApp : public CWinApp {
public:
    std::function<BOOL()> init;
    int exitCode = 0;
    int exitCalls = 0;
    BOOL InitInstance() override { return init(); }
    int ExitInstance() override {
        ++exitCalls;
        return exitCode;
    }
};

TEST(RunApplication, ExitCodeFollowsTheApplicationObject) {
    struct Case {
        const char* name;
        std::function<BOOL()> init;
        int exitCode;
        int expected;
        int expectedExitCalls;
    };
    const Case cases[] = {
        {"InitInstanceFalse", [] { return FALSE; }, -10, -10, 1},
        {"MessageLoopUntilQuit",
         [] {
             PostQuitMessage(0);
             return TRUE;
         },
         -9, -9, 1},
        {"EscapingException", []() -> BOOL { throw std::runtime_error("boom"); }, -10,
         kExitCodeApplicationFault, 0},
    };
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedApp app;
        app.init = c.init;
        app.exitCode = c.exitCode;
        EXPECT_EQ(RunApplication(instance), c.expected);
        EXPECT_EQ(app.exitCalls, c.expectedExitCalls);
        EXPECT_EQ(app.m_hInstance, instance);
    }
}

TEST(RunApplication, NewestApplicationObjectIsCurrentUntilItDies) {
    EXPECT_EQ(CurrentApplication(), nullptr);
    {
        ScriptedApp outer;
        {
            ScriptedApp inner;
            EXPECT_EQ(CurrentApplication(), &inner);
        }
        EXPECT_EQ(CurrentApplication(), &outer);
    }
    EXPECT_EQ(RunApplication(GetModuleHandleA(nullptr)), kExitCodeApplicationFault);
}

// Texts from the string table and their formatting.
TEST(ResourceStrings, FormattingFillsThePlaceholders) {
    struct Case {
        std::string actual;
        std::string expected;
    };
    const Case cases[] = {
        {FormatResourceString(IDS_EXCEPTION_DURING_INSTALL, 0xC0000005u, 0x00401A2Bu),
         "Exception during installation!\nException code = 0xc0000005\n"
         "Exception address = 0x00401a2b"},
        {FormatResourceString(IDS_ERROR_DURING_INSTALLATION, 5u, 0x00130077u),
         "Error during installation.\nError code = 0x00000005\nError arg0 = 0x00130077"},
        {FormatResourceString(IDS_WELCOME_TITLE, "Corvane RDP Edition - Workstation"),
         "Welcome to Corvane RDP Edition - Workstation Setup Wizard"},
        {FormatResourceString(IDS_FAILED_TEXT, "A", "B"),
         "Error occured while installing A on your computer. Setup has restored your system "
         "to the original state. Please download the latest version of B from our web site "
         "and try again!"},
        {FormatResourceString(IDS_SEND_LOG, "C:\\Temp\\x.log"),
         "To resolve installation issue please send installation log file\n'C:\\Temp\\x.log'"
         "\nto our support team."},
        {FormatText("%s=%d", "answer", 42), "answer=42"},
        {FormatText("%s", ""), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual, c.expected);
    }
}

TEST(ResourceStrings, TextsOfAnyLengthComeBackWhole) {
    // framework_test_strings.rc holds 1500 and 3000 characters: longer than
    // any fixed buffer a loader might start with.
    const std::string longText = LoadResourceString(IDS_TEST_LONG_TEXT);
    ASSERT_EQ(longText.size(), 1500u);
    EXPECT_EQ(longText.substr(0, 10), "0123456789");
    EXPECT_EQ(longText.substr(1490), "0123456789");

    const std::string argument(10000, 'x');
    const std::string formatted = FormatResourceString(IDS_TEST_LONG_FORMAT, argument.c_str());
    ASSERT_EQ(formatted.size(), 3000u - 2 + 10000u);
    EXPECT_EQ(formatted.find(argument), 1500u);
    EXPECT_EQ(FormatText("<%s>", argument.c_str()), "<" + argument + ">");
}

TEST(ResourceStrings, MissingIdGivesAnEmptyText) {
    for (UINT id : {1u, 43u, 56u, 65u, 67u, 3999u}) {
        EXPECT_EQ(LoadResourceString(id), "") << "id " << id;
    }
}

// Worker threads.
TEST(WorkerThread, RunsOnlyAfterResume) {
    std::atomic<bool> ran{false};
    CWorkerThread worker;
    ASSERT_TRUE(worker.Create([&] { ran = true; }));
    EXPECT_EQ(GetThreadPriority(worker.Handle()), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(WaitForSingleObject(worker.Handle(), 200), DWORD(WAIT_TIMEOUT));
    EXPECT_FALSE(ran);
    EXPECT_EQ(worker.Resume(), 1u);
    ASSERT_EQ(WaitForSingleObject(worker.Handle(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);
    DWORD exitCode = 1;
    GetExitCodeThread(worker.Handle(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(worker.Create([] {})) << "one object, one thread";
}

TEST(WorkerThread, EscapingExceptionEndsOnlyTheThread) {
    CWorkerThread worker;
    ASSERT_TRUE(worker.Create([] { throw std::runtime_error("escapes the body"); }));
    worker.Resume();
    ASSERT_EQ(WaitForSingleObject(worker.Handle(), 10000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeThread(worker.Handle(), &exitCode);
    EXPECT_EQ(exitCode, CWorkerThread::kExitCodeUncaughtException);
}

TEST(WorkerThread, ThreadOutlivesItsObject) {
    // The owner may delete the thread object while the thread still runs (the
    // wizard does after a timed-out wait); the body must stay valid.
    UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::string text = "set by the body";
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

// Message boxes carry the display name as caption. A helper thread reads the
// box's caption and text and closes it with the answer.
TEST(ShowMessage, CaptionIsTheProductDisplayName) {
    struct Seen {
        std::string caption;
        std::string text;
        bool found = false;
    } seen;
    const char kCaption[] = "Corvane RDP Edition - Workstation";
    std::atomic<bool> shown{false};
    CWorkerThread closer;
    ASSERT_TRUE(closer.Create([&] {
        for (int attempt = 0; attempt < 300 && !shown; ++attempt) {
            HWND box = FindWindowA("#32770", kCaption);
            if (box != nullptr) {
                char buffer[512] = {};
                GetWindowTextA(box, buffer, sizeof buffer);
                seen.caption = buffer;
                HWND label = GetDlgItem(box, 0xFFFF);
                GetWindowTextA(label, buffer, sizeof buffer);
                seen.text = buffer;
                seen.found = true;
                PostMessageA(box, WM_COMMAND, IDNO, 0);
                break;
            }
            Sleep(50);
        }
    }));
    closer.Resume();
    const int answer = ShowMessage("Continue with the test?", MB_YESNO | MB_ICONQUESTION);
    const DWORD error = GetLastError();
    shown = true; // the box is gone, or there never was one
    WaitForSingleObject(closer.Handle(), 20000);
    if (answer <= 0 && !seen.found) {
        GTEST_SKIP() << "no window station for message boxes (error " << error << ")";
    }
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, kCaption);
    EXPECT_EQ(seen.text, "Continue with the test?");
    EXPECT_EQ(answer, IDNO);
}

} // namespace
