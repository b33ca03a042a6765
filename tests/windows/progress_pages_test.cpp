// The Progress, Finish and restart pages from the setup program's own
// templates on Wine's dialog manager. A stand-in install worker drives the
// Progress page through the application object's own progress calls, as the
// install process does (a fault in the real worker is covered end to end). The
// last pages are checked for their texts and for what they store, never with
// the Cancel question.
#include "install_app.h"
#include "page_test_support.h"
#include "progress_pages.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using page_test::BoxWatch;
using page_test::ColoursOf;
using page_test::FontOf;
using page_test::Scripted;
using page_test::TextOf;

const std::string kDisplayName = CurrentProfile().displayName;
const std::string kFailedTitle =
    "Setup Wizard did not complete the installation of " + kDisplayName + " on your computer.";
const std::string kFailedBody = "Error occured while installing " + kDisplayName +
                                " on your computer. Setup has restored your system to the "
                                "original state";

// The Progress page bound to an application object as the page loop binds it.
class ProgressPageTest : public testing::Test {
protected:
    void SetUp() override {
        m_page.m_pStatusText = &m_app.m_pStatusText;
        m_page.m_pPagePos = &m_pagePos;
        m_app.m_pnProgressGoal = &m_page.m_nProgressGoal;
        m_app.m_pnProgressDisplayed = &m_page.m_nProgressDisplayed;
        m_app.m_pnProgressDirection = &m_page.m_nProgressDirection;
    }

    // Shows the page with `install` as the install worker's body (given the
    // page's window); returns what ended the page.
    INT_PTR RunWithInstall(std::function<void(HWND)> install) {
        m_page.m_startInstallThread = [this, install](HWND page) {
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

    // On the worker: waits until the bar shows `value`, noting every value it
    // shows on the way; false after 10 s.
    bool WaitForBar(HWND page, int value) {
        for (int tries = 0; tries < 1000; ++tries) {
            const int shown = int(SendDlgItemMessageA(page, kProgressBar, PBM_GETPOS, 0, 0));
            if (m_shown.empty() || m_shown.back() != shown) {
                m_shown.push_back(shown);
            }
            if (shown == value) {
                return true;
            }
            Sleep(10);
        }
        return false;
    }

    // The values shown from the first `from` to the first `to` after it.
    std::vector<int> ShownBetween(int from, int to) const {
        const auto first = std::find(m_shown.begin(), m_shown.end(), from);
        const auto last = std::find(first, m_shown.end(), to);
        return last == m_shown.end() ? std::vector<int>{} : std::vector<int>(first, last + 1);
    }

    static std::vector<int> Range(int from, int to) {
        std::vector<int> values;
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
    std::vector<int> m_shown;
    bool m_asked = false;
};

std::string StatusOf(HWND page) {
    return TextOf(GetDlgItem(page, kProgressStatusText));
}

TEST_F(ProgressPageTest, ClimbsOnePercentPerTickToEachGoalAndEndsItselfAt100) {
    std::vector<std::string> statuses;
    bool nextHidden = false, nextDisabled = false, cancelDisabled = false;
    std::string title;
    LONG titleWeight = 0;
    bool stayedAtGoal = false;
    DWORD endedAfter = 0;
    const INT_PTR result = RunWithInstall([&](HWND page) {
        nextHidden = !IsWindowVisible(GetDlgItem(page, IDOK));
        nextDisabled = !IsWindowEnabled(GetDlgItem(page, IDOK));
        cancelDisabled = !IsWindowEnabled(GetDlgItem(page, IDCANCEL));
        title = TextOf(GetDlgItem(page, kProgressTitle));
        titleWeight = FontOf(GetDlgItem(page, kProgressTitle)).lfWeight;
        m_app.SetProgress(10, 0);
        statuses.push_back(StatusOf(page));
        ASSERT_TRUE(WaitForBar(page, 10));
        m_app.SetProgress(20, 1);
        statuses.push_back(StatusOf(page));
        ASSERT_TRUE(WaitForBar(page, 20));
        Sleep(500);
        stayedAtGoal = SendDlgItemMessageA(page, kProgressBar, PBM_GETPOS, 0, 0) == 20;
        // The child installer's position jumps the bar.
        m_app.SetProgressPosition(87);
        m_app.SetProgress(90, 5);
        statuses.push_back(StatusOf(page));
        ASSERT_TRUE(WaitForBar(page, 90));
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
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Copying files...", "Installing kernel mode drivers...",
                                        "Finishing installation..."}));
    EXPECT_EQ(ShownBetween(2, 20), Range(2, 20)) << "not one percent per tick";
    EXPECT_TRUE(stayedAtGoal) << "the bar ran past the goal";
    // The tick that finds the jumped position steps it once before showing it.
    EXPECT_EQ(ShownBetween(20, 90), (std::vector<int>{20, 88, 89, 90}));
    EXPECT_LE(*std::max_element(m_shown.begin(), m_shown.end()), 99);
    EXPECT_LT(endedAfter, 1000u) << "the page did not end on the timer's next ticks";
    EXPECT_GT(m_pagePos.right - m_pagePos.left, 0)
        << "the page's place was not kept for the next page";
    EXPECT_EQ(m_app.m_pStatusText, nullptr) << "the install could still write to a gone window";
}

TEST_F(ProgressPageTest, RollbackRunsTheBarBackAndTheFailureEndEndsThePageForTheFailureFinish) {
    std::vector<std::string> statuses;
    const INT_PTR result = RunWithInstall([&](HWND page) {
        m_app.SetProgress(30, 0);
        ASSERT_TRUE(WaitForBar(page, 30));
        // What the install does when a step fails.
        m_app.SetProgressPosition(50);
        m_app.SetProgress(50, 6);
        m_app.SetProgressDirection(0);
        statuses.push_back(StatusOf(page));
        ASSERT_TRUE(WaitForBar(page, 50));
        m_app.SetProgress(40, 7);
        statuses.push_back(StatusOf(page));
        ASSERT_TRUE(WaitForBar(page, 40));
        m_app.SetProgress(0, 12);
        statuses.push_back(StatusOf(page));
        ASSERT_TRUE(WaitForBar(page, 0));
        m_app.m_bInstallFailed = 1;
        *m_app.m_pnProgressDisplayed = 120;
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Stopping services...", "Removing installed services...",
                                        "Deleting directory..."}));
    EXPECT_EQ(ShownBetween(50, 0), Range(50, 0)) << "not back one percent per tick";
    EXPECT_LE(*std::max_element(m_shown.begin(), m_shown.end()), 99);

    // The Finish page that follows.
    Scripted<CFinishDlg> finish;
    finish.m_pLaunchProgram = &m_app.m_bLaunchProgram;
    finish.m_pOpenQuickStart = &m_app.m_bOpenQuickStart;
    finish.m_pInstallFailed = &m_app.m_bInstallFailed;
    std::string title, body;
    bool boxesGone = false;
    COLORREF bodyColour = 0;
    finish.m_script = [&](Scripted<CFinishDlg>& p) {
        title = TextOf(p.Item(kLastPageTitle));
        body = TextOf(p.Item(kLastPageBody));
        boxesGone =
            !IsWindowVisible(p.Item(kLaunchProgramCheck)) && !p.Enabled(kLaunchProgramCheck) &&
            !IsWindowVisible(p.Item(kOpenQuickStartCheck)) && !p.Enabled(kOpenQuickStartCheck);
        bodyColour = ColoursOf(p.m_hWnd, kLastPageBody).text;
        p.Click(IDCANCEL);
    };
    BoxWatch watch;
    ASSERT_EQ(finish.DoModal(), IDCANCEL);
    watch.Stop();
    EXPECT_EQ(watch.count, 0);
    EXPECT_EQ(title, kFailedTitle);
    EXPECT_EQ(body, kFailedBody + ". Please download the latest version of " + kDisplayName +
                        " from our web site and try again!");
    EXPECT_TRUE(boxesGone);
    EXPECT_EQ(bodyColour, RGB(255, 0, 0));
    EXPECT_EQ(m_app.m_bLaunchProgram, 0) << "a failed install would be launched";
    EXPECT_EQ(m_app.m_bOpenQuickStart, 0);
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

TEST_F(ProgressPageTest, EnterEscapeAndTheCloseBoxCannotEndItWhileTheInstallRuns) {
    bool stillOpen = false;
    const INT_PTR result = RunWithInstall([&](HWND page) {
        SendMessageA(page, WM_COMMAND, IDCANCEL, 0);
        SendMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
        SendMessageA(page, WM_COMMAND, IDOK, 0);
        Sleep(300);
        stillOpen = IsWindow(page) && IsWindowVisible(page);
        *m_app.m_pnProgressDisplayed = 100;
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(m_asked);
    EXPECT_EQ(result, IDOK);
}

// How the user leaves a last page. Enter sends IDOK when no push button is
// the default.
enum class Leave { Finish, CloseBox, Escape, Enter };

void LeavePage(HWND page, Leave how) {
    if (how == Leave::Finish) {
        SendMessageA(GetDlgItem(page, IDCANCEL), BM_CLICK, 0, 0);
    } else if (how == Leave::CloseBox) {
        SendMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        SendMessageA(page, WM_COMMAND, how == Leave::Escape ? IDCANCEL : IDOK, 0);
    }
}

// The close box with both boxes kept and Enter with one cleared are covered
// end to end.
TEST(FinishPage, ShowsSuccessAndStoresTheBoxesHoweverItIsLeft) {
    for (const Leave how : {Leave::Finish, Leave::Escape}) {
        SCOPED_TRACE(int(how));
        int launch = 1, quickStart = 1, failed = 0;
        Scripted<CFinishDlg> page;
        page.m_pLaunchProgram = &launch;
        page.m_pOpenQuickStart = &quickStart;
        page.m_pInstallFailed = &failed;
        std::string title, body, launchCaption, quickStartCaption;
        bool bothChecked = false;
        LOGFONTA titleFont = {}, bodyFont = {};
        page_test::Colours bodyColours = {};
        page.m_script = [&](Scripted<CFinishDlg>& p) {
            title = TextOf(p.Item(kLastPageTitle));
            body = TextOf(p.Item(kLastPageBody));
            launchCaption = TextOf(p.Item(kLaunchProgramCheck));
            quickStartCaption = TextOf(p.Item(kOpenQuickStartCheck));
            bothChecked = p.Checked(kLaunchProgramCheck) && p.Checked(kOpenQuickStartCheck);
            titleFont = FontOf(p.Item(kLastPageTitle));
            bodyFont = FontOf(p.Item(kLastPageBody));
            bodyColours = ColoursOf(p.m_hWnd, kLastPageBody);
            p.Click(kOpenQuickStartCheck);
            if (how == Leave::Escape) {
                p.Click(kLaunchProgramCheck);
            }
            LeavePage(p.m_hWnd, how);
        };
        BoxWatch watch;
        ASSERT_EQ(page.DoModal(), IDCANCEL);
        watch.Stop();
        EXPECT_EQ(watch.count, 0);
        EXPECT_EQ(title, "Completing " + kDisplayName + " Setup Wizard.");
        EXPECT_EQ(body, "Setup has finished the installation of " + kDisplayName +
                            " on your computer. Click Finish to exit.");
        EXPECT_EQ(launchCaption,
                  "Launch " + std::string(CurrentProfile().familyDisplayName) + " now.");
        EXPECT_EQ(quickStartCaption, "Open \"Quick Start\" page.");
        EXPECT_TRUE(bothChecked);
        EXPECT_EQ(titleFont.lfWeight, 700);
        EXPECT_EQ(titleFont.lfHeight, bodyFont.lfHeight * 3 / 2);
        EXPECT_EQ(bodyColours.text, GetSysColor(COLOR_WINDOWTEXT));
        EXPECT_EQ(bodyColours.mode, TRANSPARENT);
        EXPECT_EQ(launch, how == Leave::Escape ? 0 : 1);
        EXPECT_EQ(quickStart, 0);
    }
}

// Enter on "now" and the arrow key to "later" then Escape are covered end to end.
TEST(RestartPage, OffersTheRestartAndStoresTheChoiceHoweverItIsLeft) {
    const struct {
        int failed;
        std::vector<int> clicks; // a negative id: checked without a click reaching the page
        Leave how;
        int restart;
    } cases[] = {
        {0, {kRestartLaterRadio}, Leave::Finish, 0},
        {1, {kRestartLaterRadio, kRestartNowRadio}, Leave::CloseBox, 1},
        {1, {-kRestartLaterRadio}, Leave::Enter, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.failed) + " " + std::to_string(c.clicks.size()));
        int restartNeeded = 1, failed = c.failed;
        Scripted<CFinishRestDlg> page;
        page.m_pRestartNeeded = &restartNeeded;
        page.m_pInstallFailed = &failed;
        std::string title, body, now, later;
        bool nowChecked = false, laterChecked = true;
        COLORREF bodyColour = 0;
        page.m_script = [&](Scripted<CFinishRestDlg>& p) {
            title = TextOf(p.Item(kLastPageTitle));
            body = TextOf(p.Item(kLastPageBody));
            now = TextOf(p.Item(kRestartNowRadio));
            later = TextOf(p.Item(kRestartLaterRadio));
            nowChecked = p.Checked(kRestartNowRadio);
            laterChecked = p.Checked(kRestartLaterRadio);
            bodyColour = ColoursOf(p.m_hWnd, kLastPageBody).text;
            for (const int id : c.clicks) {
                if (id < 0) {
                    CheckRadioButton(p.m_hWnd, kRestartNowRadio, kRestartLaterRadio, -id);
                } else {
                    p.Click(id);
                }
            }
            LeavePage(p.m_hWnd, c.how);
        };
        BoxWatch watch;
        ASSERT_EQ(page.DoModal(), IDCANCEL);
        watch.Stop();
        EXPECT_EQ(watch.count, 0);
        EXPECT_TRUE(nowChecked && !laterChecked) << "restart now is not the offered choice";
        EXPECT_EQ(now, "Yes, restart  the computer now.");
        EXPECT_EQ(later, "No, I will restart the computer later.");
        if (c.failed) {
            EXPECT_EQ(title, kFailedTitle);
            EXPECT_EQ(body, kFailedBody + ", but some files were in use by operation system. You "
                                          "need to restart your computer to complete the "
                                          "procedure!");
            EXPECT_EQ(bodyColour, RGB(255, 0, 0));
        } else {
            EXPECT_EQ(title, "Completing " + kDisplayName + " Setup Wizard.");
            EXPECT_EQ(body, "To complete the installation of " + kDisplayName +
                                ", the Setup must restart your computer. Would you like to "
                                "restart now?");
            EXPECT_EQ(bodyColour, GetSysColor(COLOR_WINDOWTEXT));
        }
        EXPECT_EQ(restartNeeded, c.restart);
    }
}

} // namespace
