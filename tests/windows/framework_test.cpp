// The framework layer on real Windows objects: the application object's run,
// string-table texts and a worker thread that outlives its object. Handle
// owners, COM pointers and the worker's ordinary run are at work in every
// installer, shell link and install test; the error codes failed steps log
// (read after their handles are gone) are checked end to end (tests/e2e).
#include "application.h"
#include "handles.h"
#include "strings.h"
#include "worker_thread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>

// Test-only strings of framework_test_strings.rc.
#define IDS_TEST_LONG_TEXT 4000
#define IDS_TEST_LONG_FORMAT 4001

namespace {

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
