// The Welcome and License pages from the setup program's own templates on
// Wine's dialog manager. The Welcome page's start checks are stand-ins that
// pass, fail with a message, take a while or fault, run on the page's real
// check thread; a driver thread watches the page the way a user would and
// presses its buttons. The License page streams the workstation's real RTF
// licence into the system's rich-edit control, loaded as the program does.
#include "dll_safety.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "strings.h"
#include "page_test_support.h"
#include "welcome_pages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// How long a condition that must come true may take: a first run in a fresh
// prefix and X server builds font caches and can take seconds. Waits end as
// soon as the condition holds.
constexpr DWORD kPatienceMs = 30000;

using page_test::TextOf;
using page_test::WaitUntil;

const std::string kDisplayName = CurrentProfile().displayName;

// The colour a static of the page is drawn in, asked the way the static asks.
COLORREF TextColourOf(HWND page, int id) {
    const HDC screen = GetDC(page);
    const HDC dc = CreateCompatibleDC(screen);
    SendMessageA(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
    const COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    ReleaseDC(page, screen);
    return colour;
}

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
    std::atomic<int> packageCalls{0};
    std::atomic<bool> packageFinished{false};

    StartChecks Bind() {
        return {[this](std::string* message) {
                    ++versionCalls;
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
    std::string title;
    std::string body;
    std::string cancelText;
    bool nextEnabled = false;
    bool cancelEnabled = false;
    bool backEnabled = false;
    bool bodyRed = false;
};

WelcomeLook LookAt(HWND page) {
    WelcomeLook look;
    look.title = TextOf(GetDlgItem(page, kWelcomeTitle));
    look.body = TextOf(GetDlgItem(page, kWelcomeBody));
    look.cancelText = TextOf(GetDlgItem(page, IDCANCEL));
    look.nextEnabled = IsWindowEnabled(GetDlgItem(page, IDOK)) != FALSE;
    look.cancelEnabled = IsWindowEnabled(GetDlgItem(page, IDCANCEL)) != FALSE;
    look.backEnabled = IsWindowEnabled(GetDlgItem(page, kBackButton)) != FALSE;
    look.bodyRed = TextColourOf(page, kWelcomeBody) == RGB(255, 0, 0);
    return look;
}

// The page once it is up: the caption is set early in its initialisation, but
// the dialog shows only after all of it, buttons disabled included.
HWND FindPage(const char* caption) {
    HWND page = nullptr;
    WaitUntil(
        [&] {
            page = FindWindowA("#32770", caption);
            return page != nullptr && IsWindowVisible(page);
        },
        kPatienceMs);
    return page;
}

// Runs `drive` on its own thread against the page shown by DoModal on this
// one, and any message box of the product that shows up is answered `answer`
// and counted.
struct Driven {
    std::atomic<int> messageBoxes{0};
    std::atomic<DWORD> firstBoxShownAt{0};
    std::string lastMessage;

    INT_PTR Run(CLogoDlg& page, const std::function<void(HWND)>& drive, int answer = IDYES) {
        std::atomic<bool> pageEnded{false};
        const std::string caption = FormatResourceString(IDS_WIZARD_CAPTION, kDisplayName.c_str());
        std::thread driver([&] {
            if (const HWND window = FindPage(caption.c_str()); window != nullptr) {
                drive(window);
            }
        });
        std::thread answerer([&] {
            while (!pageEnded) {
                // A box is found while it is still being built; its text is there
                // once it shows. On a slow machine it may take seconds to go away
                // after the answer: it must not be counted twice.
                if (const HWND box = FindWindowA("#32770", kDisplayName.c_str());
                    box != nullptr && IsWindowVisible(box)) {
                    lastMessage = TextOf(GetDlgItem(box, 0xFFFF));
                    if (++messageBoxes == 1) {
                        firstBoxShownAt = GetTickCount();
                    }
                    PostMessageA(box, WM_COMMAND, answer, 0);
                    WaitUntil([&] { return IsWindow(box) == FALSE; }, kPatienceMs);
                }
                Sleep(20);
            }
        });
        const INT_PTR result = page.DoModal();
        pageEnded = true;
        driver.join();
        answerer.join();
        return result;
    }
};

std::string WelcomeText() {
    return FormatResourceString(IDS_WELCOME_TEXT, kDisplayName.c_str());
}

TEST(WelcomePage, ChecksPassingShowTheWelcomeTextAndEnableNext) {
    FakeChecks checks;
    CWelcomeDlg page;
    page.m_checks = checks.Bind();
    checks.packageGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WelcomeLook waiting;
    WelcomeLook ready;
    DWORD waitedMs = 0;
    Driven driven;
    const INT_PTR result = driven.Run(page, [&](HWND window) {
        const DWORD start = GetTickCount();
        waiting = LookAt(window);
        SetEvent(checks.packageGate);
        WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window, IDOK)) != FALSE; }, kPatienceMs);
        waitedMs = GetTickCount() - start;
        ready = LookAt(window);
        SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
    });
    CloseHandle(checks.packageGate);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(waiting.title, "Welcome to " + kDisplayName + " Setup Wizard");
    EXPECT_EQ(waiting.body, "Please wait while Setup Wizard completes initialization!");
    EXPECT_FALSE(waiting.nextEnabled);
    EXPECT_FALSE(waiting.cancelEnabled);
    EXPECT_FALSE(waiting.backEnabled);
    // The wait message stays for a second at least.
    EXPECT_GE(waitedMs, 900u);
    EXPECT_EQ(ready.body, WelcomeText());
    EXPECT_FALSE(ready.bodyRed);
    EXPECT_EQ(ready.cancelText, "Cancel");
    EXPECT_TRUE(ready.cancelEnabled);
    EXPECT_FALSE(ready.backEnabled);
    EXPECT_EQ(checks.versionCalls, 1);
    EXPECT_EQ(checks.packageCalls, 1);
    EXPECT_EQ(driven.messageBoxes, 0);
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
        CWelcomeDlg page;
        page.m_checks = checks.Bind();
        WelcomeLook failed;
        Driven driven;
        const INT_PTR result = driven.Run(
            page,
            [&](HWND window) {
                WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window, IDCANCEL)) != FALSE; },
                          kPatienceMs);
                failed = LookAt(window);
                SendMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
            },
            IDNO);
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(driven.messageBoxes, 0) << driven.lastMessage;
        EXPECT_EQ(failed.body, c.shown);
        EXPECT_TRUE(failed.bodyRed);
        EXPECT_EQ(failed.cancelText, "Exit");
        EXPECT_FALSE(failed.nextEnabled);
        EXPECT_EQ(checks.packageCalls, c.packageCalls);
    }
}

TEST(WelcomePage, ASlowCheckKeepsNextDisabledWithTheWaitMessage) {
    FakeChecks checks;
    checks.packageDelayMs = 2500;
    CWelcomeDlg page;
    page.m_checks = checks.Bind();
    WelcomeLook meanwhile;
    WelcomeLook ready;
    Driven driven;
    const INT_PTR result = driven.Run(page, [&](HWND window) {
        Sleep(2000);
        meanwhile = LookAt(window);
        WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window, IDOK)) != FALSE; }, kPatienceMs);
        ready = LookAt(window);
        SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(meanwhile.body, LoadResourceString(IDS_WELCOME_WAIT));
    EXPECT_FALSE(meanwhile.nextEnabled);
    EXPECT_FALSE(meanwhile.cancelEnabled);
    EXPECT_EQ(ready.body, WelcomeText());
}

TEST(WelcomePage, ClosingWhileTheChecksRunWaitsForThemThenAsks) {
    FakeChecks checks;
    checks.packageDelayMs = 2000;
    CWelcomeDlg page;
    page.m_checks = checks.Bind();
    bool finishedWhenClosed = true;
    Driven driven;
    DWORD start = 0;
    const INT_PTR result = driven.Run(page, [&](HWND window) {
        WaitUntil([&] { return checks.packageCalls > 0; }, kPatienceMs);
        finishedWhenClosed = checks.packageFinished;
        start = GetTickCount();
        // What Escape sends, also while Cancel is disabled.
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    });
    // The answer Yes ends the page; the check ran to its end before that,
    // without waiting for the 10-second limit (it only posts to the page).
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(finishedWhenClosed);
    EXPECT_TRUE(checks.packageFinished);
    // Waiting for the limit would show the question 10 s after the close at the earliest.
    EXPECT_LT(driven.firstBoxShownAt - start, 10000u);
    EXPECT_EQ(driven.messageBoxes, 1);
    EXPECT_EQ(driven.lastMessage, FormatResourceString(IDS_CANCEL_QUESTION, kDisplayName.c_str()));
}

TEST(WelcomePage, AFaultInTheChecksIsReportedAndCancelStillAsks) {
    FakeChecks checks;
    checks.packageFaults = true;
    CWelcomeDlg page;
    page.m_checks = checks.Bind();
    WelcomeLook after;
    Driven driven;
    const INT_PTR result = driven.Run(page, [&](HWND window) {
        WaitUntil([&] { return IsWindowEnabled(GetDlgItem(window, IDCANCEL)) != FALSE; },
                  kPatienceMs);
        // The fault report's box has been answered by now; the page goes on.
        WaitUntil([&] { return driven.messageBoxes > 0; }, kPatienceMs);
        after = LookAt(window);
        Sleep(400);
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        WaitUntil([&] { return driven.messageBoxes > 1; }, kPatienceMs);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(after.nextEnabled);
    EXPECT_TRUE(after.cancelEnabled);
    EXPECT_EQ(after.cancelText, "Cancel");
    EXPECT_EQ(driven.messageBoxes, 2);
    EXPECT_EQ(driven.lastMessage, FormatResourceString(IDS_CANCEL_QUESTION, kDisplayName.c_str()));
}

// The License page, driven synchronously from a script posted once it is up.
// A script that returns true runs again from a message posted after it: that
// one only arrives while the page is still open.
using page_test::kRunScript;

class ScriptedLicense : public CLicenseDlg {
public:
    std::function<bool(HWND)> m_script;

protected:
    BOOL OnInitDialog() override {
        CLicenseDlg::OnInitDialog();
        PostMessageA(m_hWnd, kRunScript, 0, 0);
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kRunScript) {
            if (m_script(m_hWnd)) {
                PostMessageA(m_hWnd, kRunScript, 0, 0);
            }
            return 0;
        }
        return CLicenseDlg::WindowProc(message, wParam, lParam);
    }
};

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
    static std::string LicenceShown(HWND window) {
        const HWND edit = GetDlgItem(window, kLicenseText);
        return TextOf(edit);
    }
    static void Click(HWND window, int id) { SendMessageA(GetDlgItem(window, id), BM_CLICK, 0, 0); }
    static bool NextEnabled(HWND window) {
        return IsWindowEnabled(GetDlgItem(window, IDOK)) != FALSE;
    }

    int accepted = 0;
    ScriptedLicense page;
};

TEST_F(LicensePage, ShowsTheLicenceAndGoesOnOnlyAfterAcceptance) {
    std::string shown;
    bool refuseChecked = false;
    bool nextAtFirst = true;
    bool stillOpen = false;
    bool nextAfterAccept = false;
    std::string title;
    std::string subtitle;
    int step = 0;
    page.m_script = [&](HWND window) {
        if (step++ == 0) {
            shown = LicenceShown(window);
            title = TextOf(GetDlgItem(window, kLicenseTitle));
            subtitle = TextOf(GetDlgItem(window, kLicenseSubtitle));
            refuseChecked = IsDlgButtonChecked(window, kRefuseRadio) == BST_CHECKED;
            nextAtFirst = NextEnabled(window);
            // Enter sends IDOK even while Next is disabled.
            SendMessageA(window, WM_COMMAND, IDOK, 0);
            Click(window, IDOK);
            return true;
        }
        stillOpen = true;
        Click(window, kAcceptRadio);
        nextAfterAccept = NextEnabled(window);
        Click(window, IDOK);
        return false;
    };
    EXPECT_EQ(page.DoModal(), IDOK);
    EXPECT_EQ(title, "License Agreement");
    EXPECT_EQ(subtitle, "Please read the following important information before continuing!");
    // The RTF is rendered, not shown as its source.
    EXPECT_NE(shown.find("End-User License Agreement"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\\rtf"), std::string::npos);
    EXPECT_TRUE(refuseChecked);
    EXPECT_FALSE(nextAtFirst);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(nextAfterAccept);
    EXPECT_EQ(accepted, 1);
}

TEST_F(LicensePage, AShowingAfterAcceptanceStartsAcceptedAndRefusingThenBackKeepsTheRefusal) {
    std::string firstText;
    page.m_script = [&](HWND window) {
        firstText = LicenceShown(window);
        Click(window, kAcceptRadio);
        Click(window, IDOK);
        return false;
    };
    ASSERT_EQ(page.DoModal(), IDOK);

    std::string againText;
    bool acceptChecked = false;
    bool nextAtFirst = false;
    bool nextAfterRefusal = true;
    page.m_script = [&](HWND window) {
        againText = LicenceShown(window);
        acceptChecked = IsDlgButtonChecked(window, kAcceptRadio) == BST_CHECKED;
        nextAtFirst = NextEnabled(window);
        Click(window, kRefuseRadio);
        nextAfterRefusal = NextEnabled(window);
        Click(window, kBackButton);
        return false;
    };
    EXPECT_EQ(page.DoModal(), kBackResult);
    // Streamed from its first byte again, not continued where it stopped.
    EXPECT_EQ(againText, firstText);
    EXPECT_TRUE(acceptChecked);
    EXPECT_TRUE(nextAtFirst);
    EXPECT_FALSE(nextAfterRefusal);
    EXPECT_EQ(accepted, 0);
}

TEST_F(LicensePage, TheLicenceViewIsReadOnlyAndTheKeyboardGoesRoundThePage) {
    std::string before, after;
    LRESULT wanted = 0;
    std::vector<int> tabOrder;
    page.m_script = [&](HWND window) {
        const HWND view = GetDlgItem(window, kLicenseText);
        before = LicenceShown(window);
        // What the dialog manager asks before it hands the view a Tab.
        MSG tab = {view, WM_KEYDOWN, VK_TAB, 0, 0, {}};
        wanted = SendMessageA(view, WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(&tab));
        // Keys that once replaced the agreement: select all, then type over it.
        SendMessageA(view, EM_SETSEL, 0, -1);
        for (const WPARAM key : {WPARAM('\t'), WPARAM('x'), WPARAM('\b')}) {
            SendMessageA(view, WM_CHAR, key, 0);
        }
        SendMessageA(view, WM_KEYDOWN, VK_DELETE, 0);
        // The edit commands too (Wine's rich edit clears even when read-only).
        for (const UINT command : {WM_CUT, WM_CLEAR, WM_PASTE, WM_UNDO}) {
            SendMessageA(view, command, 0, 0);
        }
        after = LicenceShown(window);
        // Tab from the view, twice round; Next only once it is enabled.
        HWND control = view;
        for (int i = 0; i < 4; ++i) {
            control = GetNextDlgTabItem(window, control, FALSE);
            tabOrder.push_back(GetDlgCtrlID(control));
        }
        Click(window, kAcceptRadio);
        for (int i = 0; i < 5; ++i) {
            control = GetNextDlgTabItem(window, control, FALSE);
            tabOrder.push_back(GetDlgCtrlID(control));
        }
        Click(window, IDOK);
        return false;
    };
    ASSERT_EQ(page.DoModal(), IDOK);
    EXPECT_EQ(after, before);
    EXPECT_EQ(wanted & (DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_WANTMESSAGE | DLGC_HASSETSEL), 0)
        << std::hex << wanted;
    // The radio group's stop is its checked button.
    EXPECT_EQ(tabOrder,
              (std::vector<int>{kRefuseRadio, kBackButton, IDCANCEL, kLicenseText, kAcceptRadio,
                                kBackButton, IDOK, IDCANCEL, kLicenseText}));
}

} // namespace
