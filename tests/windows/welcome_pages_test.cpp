// The Welcome and License pages from the setup program's own templates on
// Wine's dialog manager. The Welcome page's start checks are stand-ins that
// pass, fail with a message, take a while or fault, run on the page's real
// check thread; a driver thread watches the page the way a user would and
// presses its buttons. The License page streams the workstation's real RTF
// licence into the system's rich-edit control, loaded as the program does.
#include "dll_safety.h"
#include "page_test_support.h"
#include "resource_ids.h"
#include "strings.h"
#include "welcome_pages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace {

using page_test::BoxWatch;
using page_test::kPatienceMs;
using page_test::TextOf;
using page_test::WaitUntil;

const std::string kDisplayName = CurrentProfile().displayName;
const std::string kCancelQuestion = FormatResourceString(IDS_CANCEL_QUESTION, kDisplayName.c_str());

// Start checks whose outcome each case chooses.
struct FakeChecks {
    int versionResult = 0;
    std::string versionMessage;
    int packageStatus = 0;
    std::string packageMessage;
    DWORD packageDelayMs = 0;
    // When set, the package check waits for it: what the page shows while the
    // checks run is then looked at for certain, however slow the machine.
    HANDLE packageGate = nullptr;
    bool packageFaults = false;
    std::atomic<int> versionCalls{0};
    std::atomic<DWORD> versionCalledAt{0};
    std::atomic<int> packageCalls{0};
    std::atomic<bool> packageFinished{false};

    StartChecks Bind() {
        return {[this](std::string* message) {
                    ++versionCalls;
                    versionCalledAt = GetTickCount();
                    if (versionResult != 0) {
                        *message = versionMessage;
                    }
                    return versionResult;
                },
                [this](std::string* message) {
                    ++packageCalls;
                    Sleep(packageDelayMs);
                    if (packageGate != nullptr) {
                        WaitForSingleObject(packageGate, kPatienceMs);
                    }
                    if (packageFaults) {
                        volatile uintptr_t nowhere = 0;
                        *reinterpret_cast<volatile int*>(nowhere) = 0;
                    }
                    if (packageStatus != 0) {
                        *message = packageMessage;
                    }
                    packageFinished = true;
                    return packageStatus;
                }};
    }
};

// What the user sees of the Welcome page at one moment.
struct WelcomeLook {
    std::string title, body, cancelText;
    bool nextEnabled = false, cancelEnabled = false, backEnabled = false, bodyRed = false;
};

WelcomeLook LookAt(HWND page) {
    return {TextOf(GetDlgItem(page, kWelcomeTitle)),
            TextOf(GetDlgItem(page, kWelcomeBody)),
            TextOf(GetDlgItem(page, IDCANCEL)),
            IsWindowEnabled(GetDlgItem(page, IDOK)) != FALSE,
            IsWindowEnabled(GetDlgItem(page, IDCANCEL)) != FALSE,
            IsWindowEnabled(GetDlgItem(page, kBackButton)) != FALSE,
            page_test::ColoursOf(page, kWelcomeBody).text == RGB(255, 0, 0)};
}

bool Enabled(HWND page, int id) {
    return IsWindowEnabled(GetDlgItem(page, id)) != FALSE;
}

// Shows the Welcome page with `checks` and runs `drive` on its own thread
// against it once it is up (the caption is set early in its initialisation,
// but the dialog shows only after all of it, buttons disabled included); the
// watch answers the product's message boxes. `createdAt`: when the window was
// first found, before its check thread starts.
INT_PTR Drive(FakeChecks& checks, BoxWatch& boxes, const std::function<void(HWND)>& drive,
              DWORD* createdAt = nullptr) {
    CWelcomeDlg page;
    page.m_checks = checks.Bind();
    const std::string caption = FormatResourceString(IDS_WIZARD_CAPTION, kDisplayName.c_str());
    std::thread driver([&] {
        HWND window = nullptr;
        WaitUntil([&] { return (window = FindWindowA("#32770", caption.c_str())) != nullptr; });
        if (createdAt != nullptr) {
            *createdAt = GetTickCount();
        }
        if (window != nullptr && WaitUntil([&] { return IsWindowVisible(window) != FALSE; })) {
            drive(window);
        }
    });
    const INT_PTR result = page.DoModal();
    driver.join();
    boxes.Stop();
    return result;
}

TEST(WelcomePage, ChecksPassingShowTheWelcomeTextAndEnableNext) {
    FakeChecks checks;
    checks.packageGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WelcomeLook waiting, ready;
    DWORD createdAt = 0;
    BoxWatch boxes;
    const INT_PTR result = Drive(
        checks, boxes,
        [&](HWND window) {
            waiting = LookAt(window);
            SetEvent(checks.packageGate);
            WaitUntil([&] { return Enabled(window, IDOK); });
            ready = LookAt(window);
            SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
        },
        &createdAt);
    CloseHandle(checks.packageGate);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(waiting.title, "Welcome to " + kDisplayName + " Setup Wizard");
    EXPECT_EQ(waiting.body, "Please wait while Setup Wizard completes initialization!");
    EXPECT_FALSE(waiting.nextEnabled || waiting.cancelEnabled || waiting.backEnabled);
    // The wait message stays for a second at least: the checks begin only then.
    // (Measured from the page's creation, not from when it shows, which on a
    // busy machine can come a good part of that second later.)
    EXPECT_GE(checks.versionCalledAt - createdAt, 900u);
    EXPECT_EQ(ready.body, FormatResourceString(IDS_WELCOME_TEXT, kDisplayName.c_str()));
    EXPECT_FALSE(ready.bodyRed);
    EXPECT_EQ(ready.cancelText, "Cancel");
    EXPECT_TRUE(ready.cancelEnabled);
    EXPECT_FALSE(ready.backEnabled);
    EXPECT_EQ(checks.versionCalls, 1);
    EXPECT_EQ(checks.packageCalls, 1);
    EXPECT_EQ(boxes.count, 0);
}

TEST(WelcomePage, AFailedCheckShowsItsMessageInRedAndExitEndsWithoutAQuestion) {
    const struct {
        const char* name;
        int versionResult;
        const char* versionMessage;
        int packageStatus;
        const char* packageMessage;
        std::string shown;
        int packageCalls;
    } cases[] = {
        // An installed version text from the registry that looks like a
        // printf format is shown as it is.
        {"newer version installed", 1,
         "Before installing version 3.12 you need to uninstall version 9.%n%s first.\n", 0, "",
         "Before installing version 3.12 you need to uninstall version 9.%n" + kDisplayName +
             " first.\n",
         0},
        {"damaged package", 0, "", -2, "Installation package is damaged! Get %s again!",
         "Installation package is damaged! Get " + kDisplayName + " again!", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeChecks checks;
        checks.versionResult = c.versionResult;
        checks.versionMessage = c.versionMessage;
        checks.packageStatus = c.packageStatus;
        checks.packageMessage = c.packageMessage;
        WelcomeLook failed;
        BoxWatch boxes(IDNO);
        const INT_PTR result = Drive(checks, boxes, [&](HWND window) {
            WaitUntil([&] { return Enabled(window, IDCANCEL); });
            failed = LookAt(window);
            SendMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(boxes.count, 0) << boxes.LastText();
        EXPECT_EQ(failed.body, c.shown);
        EXPECT_TRUE(failed.bodyRed);
        EXPECT_EQ(failed.cancelText, "Exit");
        EXPECT_FALSE(failed.nextEnabled);
        EXPECT_EQ(checks.packageCalls, c.packageCalls);
    }
}

TEST(WelcomePage, ClosingWhileTheChecksRunWaitsForThemThenAsks) {
    FakeChecks checks;
    checks.packageDelayMs = 2000;
    bool finishedWhenClosed = true;
    DWORD start = 0;
    BoxWatch boxes;
    const INT_PTR result = Drive(checks, boxes, [&](HWND window) {
        WaitUntil([&] { return checks.packageCalls > 0; });
        finishedWhenClosed = checks.packageFinished;
        start = GetTickCount();
        // What Escape sends, also while Cancel is disabled.
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    });
    // The answer Yes ends the page; the check ran to its end before that,
    // without waiting for the 10-second limit (it only posts to the page),
    // which would show the question 10 s after the close at the earliest.
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(finishedWhenClosed);
    EXPECT_TRUE(checks.packageFinished);
    EXPECT_LT(boxes.firstShownAt - start, 10000u);
    EXPECT_EQ(boxes.count, 1);
    EXPECT_EQ(boxes.LastText(), kCancelQuestion);
}

TEST(WelcomePage, AFaultInTheChecksIsReportedAndCancelStillAsks) {
    FakeChecks checks;
    checks.packageFaults = true;
    WelcomeLook after;
    BoxWatch boxes;
    const INT_PTR result = Drive(checks, boxes, [&](HWND window) {
        WaitUntil([&] { return Enabled(window, IDCANCEL); });
        // The fault report's box has been answered by now; the page goes on.
        WaitUntil([&] { return boxes.count > 0; });
        after = LookAt(window);
        Sleep(400);
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        WaitUntil([&] { return boxes.count > 1; });
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(after.nextEnabled);
    EXPECT_TRUE(after.cancelEnabled);
    EXPECT_EQ(after.cancelText, "Cancel");
    EXPECT_EQ(boxes.count, 2);
    EXPECT_EQ(boxes.LastText(), kCancelQuestion);
}

using ScriptedLicense = page_test::Scripted<CLicenseDlg>;

class LicensePage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // As the program does before any page: the system folder's copy only.
        ASSERT_NE(LoadSystemLibrary("Riched32.dll"), nullptr);
    }
    void SetUp() override {
        const HRSRC resource =
            FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_LICENSE_RTF), kLicenseRtfResourceType);
        ASSERT_NE(resource, nullptr);
        page.m_pLicenseRtf =
            static_cast<const BYTE*>(LockResource(LoadResource(nullptr, resource)));
        page.m_nLicenseRtfSize = SizeofResource(nullptr, resource);
        page.m_pLicenseAccepted = &accepted;
    }

    int accepted = 0;
    ScriptedLicense page;
};

// Enter cannot pass the page before the licence is accepted; the licence
// view cannot be typed over; a second showing streams the text again from its
// first byte and starts accepted, and refusing then going back keeps the
// refusal. Tab order and the keyboard's way through are covered end to end.
TEST_F(LicensePage, GoesOnOnlyAfterAcceptanceAndTheLicenceCannotBeChanged) {
    std::string firstText, afterTyping;
    bool refuseChecked = false, nextAtFirst = true, stillOpen = false, nextAfterAccept = false;
    int step = 0;
    page.m_script = [&](ScriptedLicense& p) {
        if (step++ == 0) {
            const HWND view = p.Item(kLicenseText);
            firstText = TextOf(view);
            refuseChecked = p.Checked(kRefuseRadio);
            nextAtFirst = p.Enabled(IDOK);
            // Keys that once replaced the agreement: select all, then type over it;
            // the edit commands too (Wine's rich edit clears even when read-only).
            SendMessageA(view, EM_SETSEL, 0, -1);
            for (const WPARAM key : {WPARAM('\t'), WPARAM('x'), WPARAM('\b')}) {
                SendMessageA(view, WM_CHAR, key, 0);
            }
            SendMessageA(view, WM_KEYDOWN, VK_DELETE, 0);
            for (const UINT command : {WM_CUT, WM_CLEAR, WM_PASTE, WM_UNDO}) {
                SendMessageA(view, command, 0, 0);
            }
            afterTyping = TextOf(view);
            // Enter sends IDOK even while Next is disabled.
            SendMessageA(p.m_hWnd, WM_COMMAND, IDOK, 0);
            p.Click(IDOK);
            PostMessageA(p.m_hWnd, page_test::kRunScript, 0, 0);
            return;
        }
        stillOpen = true;
        p.Click(kAcceptRadio);
        nextAfterAccept = p.Enabled(IDOK);
        p.Click(IDOK);
    };
    ASSERT_EQ(page.DoModal(), IDOK);
    // The RTF is rendered, not shown as its source.
    EXPECT_NE(firstText.find("End-User License Agreement"), std::string::npos) << firstText;
    EXPECT_EQ(firstText.find("\\rtf"), std::string::npos);
    EXPECT_EQ(afterTyping, firstText);
    EXPECT_TRUE(refuseChecked);
    EXPECT_FALSE(nextAtFirst);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(nextAfterAccept);
    EXPECT_EQ(accepted, 1);

    std::string againText;
    bool acceptChecked = false, nextAgain = false, nextAfterRefusal = true;
    page.m_script = [&](ScriptedLicense& p) {
        againText = TextOf(p.Item(kLicenseText));
        acceptChecked = p.Checked(kAcceptRadio);
        nextAgain = p.Enabled(IDOK);
        p.Click(kRefuseRadio);
        nextAfterRefusal = p.Enabled(IDOK);
        p.Click(kBackButton);
    };
    EXPECT_EQ(page.DoModal(), kBackResult);
    EXPECT_EQ(againText, firstText);
    EXPECT_TRUE(acceptChecked);
    EXPECT_TRUE(nextAgain);
    EXPECT_FALSE(nextAfterRefusal);
    EXPECT_EQ(accepted, 0);
}

} // namespace
