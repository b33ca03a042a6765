// The Progress, Finish and restart pages from the setup program's own
// templates on Wine's dialog manager. A stand-in install worker drives the
// Progress page through the application object's own progress calls, as the
// install process does (a fault in the real worker is covered end to end).
#include "install_app.h"
#include "product_profile.h"
#include "progress_pages.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// How long a condition that must come true may take: a first run in a fresh
// prefix builds font caches, and under an emulator a message box takes seconds.
constexpr DWORD kPatienceMs = 30000;
constexpr UINT kRunScript = WM_APP + 7;

bool WaitUntil(const std::function<bool()>& condition) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(20)) {
        if (GetTickCount() - start > kPatienceMs) {
            return false;
        }
    }
    return true;
}

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

LOGFONTA FontOf(HWND control) {
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font;
}

// What a static of the page is told to paint with, asked as the static asks.
struct Colours {
    COLORREF text;
    int mode;
};

Colours ColoursOf(HWND page, int id) {
    const HDC screen = GetDC(page);
    const HDC dc = CreateCompatibleDC(screen);
    SendMessageA(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
    const Colours colours = {GetTextColor(dc), GetBkMode(dc)};
    DeleteDC(dc);
    ReleaseDC(page, screen);
    return colours;
}

// While it lives, answers Yes to each message box captioned with the product's
// name, and counts them.
class BoxWatch {
public:
    ~BoxWatch() { Stop(); }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    std::atomic<int> count{0};

private:
    void Watch() {
        for (; !m_stop; Sleep(20)) {
            const HWND box = FindWindowA("#32770", CurrentProfile().displayName);
            // A box may take seconds to go after the answer: it counts once.
            if (box != nullptr && IsWindowVisible(box)) {
                ++count;
                PostMessageA(box, WM_COMMAND, IDYES, 0);
                WaitUntil([&] { return IsWindow(box) == FALSE; });
            }
        }
    }

    std::atomic<bool> m_stop{false};
    std::thread m_thread{[this] { Watch(); }};
};

// A page that runs the test's script, playing the user, once it is on the screen.
template <typename Page> class Scripted : public Page {
public:
    explicit Scripted(std::function<void(HWND)> script) : m_script(std::move(script)) {}

protected:
    BOOL OnInitDialog() override {
        Page::OnInitDialog();
        PostMessageA(this->m_hWnd, kRunScript, 0, 0);
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kRunScript) {
            m_script(this->m_hWnd);
            return 0;
        }
        return Page::WindowProc(message, wParam, lParam);
    }

private:
    std::function<void(HWND)> m_script;
};

const std::string kDisplayName = CurrentProfile().displayName;

// The Progress page bound to an application object as the page loop binds it.
// Its bar notes every position the page sets on it.
class ProgressPageTest : public testing::Test {
protected:
    void SetUp() override {
        m_page.m_pStatusText = &m_app.m_pStatusText;
        m_page.m_pPagePos = &m_pagePos;
        m_app.m_pnProgressGoal = &m_page.m_nProgressGoal;
        m_app.m_pnProgressDisplayed = &m_page.m_nProgressDisplayed;
        m_app.m_pnProgressDirection = &m_page.m_nProgressDirection;
        s_shown.clear();
        s_last = -1;
    }

    // Shows the page with `install` as the install worker's body (given the
    // page's window); returns what ended the page.
    INT_PTR RunWithInstall(std::function<void(HWND)> install) {
        m_page.m_startInstallThread = [this, install](HWND page) {
            s_barProcedure = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(GetDlgItem(page, kProgressBar), GWLP_WNDPROC,
                                  reinterpret_cast<LONG_PTR>(&ProgressPageTest::BarProcedure)));
            m_worker = std::make_unique<CWorkerThread>();
            if (!m_worker->Create([install, page] { install(page); })) {
                return -1;
            }
            m_worker->Resume();
            return 0;
        };
        BoxWatch watch;
        const INT_PTR result = m_page.DoModal();
        watch.Stop();
        m_asked = watch.count > 0;
        if (m_worker) {
            EXPECT_EQ(WaitForSingleObject(m_worker->Handle(), 10000), WAIT_OBJECT_0);
        }
        return result;
    }

    // On the worker: whether the bar comes to show `value`.
    static bool WaitForBar(int value) {
        return WaitUntil([value] { return s_last == value; });
    }
    // On the worker: runs `calls` on the page's thread, between two of its ticks.
    static void BetweenTicks(HWND page, std::function<void()> calls) {
        SendDlgItemMessageA(page, kProgressBar, kRunScript, 0, reinterpret_cast<LPARAM>(&calls));
    }
    // The positions set from the first `from` on.
    static std::vector<int> ShownFrom(int from) {
        return {std::find(s_shown.begin(), s_shown.end(), from), s_shown.end()};
    }
    static std::vector<int> Range(int from, int to, std::vector<int> values = {}) {
        for (int value = from; value != to; value += from < to ? 1 : -1) {
            values.push_back(value);
        }
        values.push_back(to);
        return values;
    }

    CInstallApp m_app;
    CProgressDlg m_page;
    RECT m_pagePos = {};
    std::unique_ptr<CWorkerThread> m_worker;
    bool m_asked = false;

private:
    static LRESULT CALLBACK BarProcedure(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kRunScript) {
            (*reinterpret_cast<std::function<void()>*>(lParam))();
            return 0;
        }
        if (message == PBM_SETPOS && (s_shown.empty() || s_shown.back() != int(wParam))) {
            s_shown.push_back(int(wParam));
            s_last = int(wParam);
        }
        return CallWindowProcA(s_barProcedure, bar, message, wParam, lParam);
    }

    static inline WNDPROC s_barProcedure = nullptr;
    static inline std::vector<int> s_shown;
    static inline std::atomic<int> s_last{-1};
};

// Enter, Escape and the close box cannot end it while the install runs.
TEST_F(ProgressPageTest, ClimbsOnePercentPerTickToEachGoalAndEndsItselfAt100) {
    std::string status;
    bool nextHidden = false, nextDisabled = false, cancelDisabled = false;
    std::string title;
    LONG titleWeight = 0;
    DWORD endedAfter = 0;
    const INT_PTR result = RunWithInstall([&](HWND page) {
        nextHidden = !IsWindowVisible(GetDlgItem(page, IDOK));
        nextDisabled = !IsWindowEnabled(GetDlgItem(page, IDOK));
        cancelDisabled = !IsWindowEnabled(GetDlgItem(page, IDCANCEL));
        title = TextOf(GetDlgItem(page, kProgressTitle));
        titleWeight = FontOf(GetDlgItem(page, kProgressTitle)).lfWeight;
        SendMessageA(page, WM_COMMAND, IDCANCEL, 0);
        SendMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
        SendMessageA(page, WM_COMMAND, IDOK, 0);
        m_app.SetProgress(10, 0);
        status = TextOf(GetDlgItem(page, kProgressStatusText));
        ASSERT_TRUE(WaitForBar(10));
        m_app.SetProgress(20, 1);
        ASSERT_TRUE(WaitForBar(20));
        Sleep(500); // ticks that must leave the bar at its goal
        // The child installer's position jumps the bar.
        BetweenTicks(page, [&] {
            m_app.SetProgressPosition(87);
            m_app.SetProgress(90, 5);
        });
        ASSERT_TRUE(WaitForBar(90));
        const DWORD endStoredAt = GetTickCount();
        *m_app.m_pnProgressDisplayed = 100;
        while (IsWindowVisible(page) && GetTickCount() - endStoredAt < 5000) {
            Sleep(10);
        }
        endedAfter = GetTickCount() - endStoredAt;
    });

    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(m_asked);
    EXPECT_TRUE(nextHidden && nextDisabled && cancelDisabled);
    EXPECT_EQ(title, "Installing...");
    EXPECT_EQ(titleWeight, 700);
    EXPECT_EQ(status, "Copying files...");
    // One percent per tick, never past the goal, and the tick that finds the
    // jumped position steps it once before showing it; the end is never shown.
    EXPECT_EQ(ShownFrom(2), Range(88, 90, Range(2, 20)));
    EXPECT_LT(endedAfter, 1000u) << "the page did not end on the timer's next ticks";
    EXPECT_GT(m_pagePos.right - m_pagePos.left, 0)
        << "the page's place was not kept for the next page";
    EXPECT_EQ(m_app.m_pStatusText, nullptr) << "the install could still write to a gone window";
}

// The status texts of each phase are checked with the real install process.
TEST_F(ProgressPageTest, RollbackRunsTheBarBackAndTheFailureEndEndsThePage) {
    const INT_PTR result = RunWithInstall([&](HWND page) {
        m_app.SetProgress(30, 0);
        ASSERT_TRUE(WaitForBar(30));
        // What the install does when a step fails.
        BetweenTicks(page, [&] {
            m_app.SetProgressPosition(50);
            m_app.SetProgress(50, 6);
            m_app.SetProgressDirection(0);
        });
        ASSERT_TRUE(WaitForBar(50));
        m_app.SetProgress(40, 7);
        ASSERT_TRUE(WaitForBar(40));
        m_app.SetProgress(0, 12);
        ASSERT_TRUE(WaitForBar(0));
        m_app.m_bInstallFailed = 1;
        *m_app.m_pnProgressDisplayed = 120;
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ShownFrom(2), Range(50, 0, Range(2, 30)));
}

TEST_F(ProgressPageTest, AWorkerThatCannotStartCancelsTheWizardWithoutAQuestion) {
    for (const bool bound : {true, false}) {
        SCOPED_TRACE(bound ? "start fails" : "nothing bound");
        CProgressDlg page;
        if (bound) {
            page.m_startInstallThread = [](HWND) { return -1; };
        }
        BoxWatch watch;
        EXPECT_EQ(page.DoModal(), IDCANCEL);
        watch.Stop();
        EXPECT_EQ(watch.count, 0);
    }
}

// The last pages' texts, their title in bold at one and a half times the body's height and
// the body in red after a failure, left with Finish. A failed install hides the boxes and
// launches nothing. The other ways out and what each stores are covered end to end.
TEST(LastPages, ShowTheOutcome) {
    const std::string done = "Completing " + kDisplayName + " Setup Wizard.";
    const std::string failedTitle =
        "Setup Wizard did not complete the installation of " + kDisplayName + " on your computer.";
    const std::string failedBody = "Error occured while installing " + kDisplayName +
                                   " on your computer. Setup has restored your system to the "
                                   "original state";
    const struct {
        bool restartPage;
        int failed;
        std::string title, body;
    } cases[] = {
        {false, 0, done,
         "Setup has finished the installation of " + kDisplayName +
             " on your computer. Click Finish to exit."},
        {false, 1, failedTitle,
         failedBody + ". Please download the latest version of " + kDisplayName +
             " from our web site and try again!"},
        {true, 0, done,
         "To complete the installation of " + kDisplayName +
             ", the Setup must restart your computer. Would you like to restart now?"},
        {true, 1, failedTitle,
         failedBody + ", but some files were in use by operation system. You need to restart "
                      "your computer to complete the procedure!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        int launch = 1, quickStart = 1, restart = 1, failed = c.failed;
        std::string title, body;
        LOGFONTA titleFont = {}, bodyFont = {};
        Colours colours = {};
        bool boxesGone = true, nowOffered = false;
        const auto script = [&](HWND page) {
            title = TextOf(GetDlgItem(page, kLastPageTitle));
            body = TextOf(GetDlgItem(page, kLastPageBody));
            titleFont = FontOf(GetDlgItem(page, kLastPageTitle));
            bodyFont = FontOf(GetDlgItem(page, kLastPageBody));
            colours = ColoursOf(page, kLastPageBody);
            for (const int box : {kLaunchProgramCheck, kOpenQuickStartCheck}) {
                boxesGone &= !IsWindowVisible(GetDlgItem(page, box)) &&
                             !IsWindowEnabled(GetDlgItem(page, box));
            }
            nowOffered = IsDlgButtonChecked(page, kRestartNowRadio) == BST_CHECKED;
            SendMessageA(GetDlgItem(page, IDCANCEL), BM_CLICK, 0, 0);
        };
        BoxWatch watch;
        if (c.restartPage) {
            Scripted<CFinishRestDlg> page(script);
            page.m_pRestartNeeded = &restart;
            page.m_pInstallFailed = &failed;
            ASSERT_EQ(page.DoModal(), IDCANCEL);
        } else {
            Scripted<CFinishDlg> page(script);
            page.m_pLaunchProgram = &launch;
            page.m_pOpenQuickStart = &quickStart;
            page.m_pInstallFailed = &failed;
            ASSERT_EQ(page.DoModal(), IDCANCEL);
        }
        watch.Stop();
        EXPECT_EQ(watch.count, 0);
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(body, c.body);
        EXPECT_EQ(titleFont.lfWeight, 700);
        EXPECT_EQ(titleFont.lfHeight, bodyFont.lfHeight * 3 / 2);
        EXPECT_EQ(colours.mode, TRANSPARENT);
        EXPECT_EQ(colours.text, c.failed ? RGB(255, 0, 0) : GetSysColor(COLOR_WINDOWTEXT));
        if (c.restartPage) {
            EXPECT_TRUE(nowOffered) << "restart now is not the offered choice";
        } else {
            EXPECT_EQ(boxesGone, bool(c.failed));
            EXPECT_EQ(launch + quickStart, c.failed ? 0 : 2) << "a failed install is launched";
        }
    }
}

} // namespace
