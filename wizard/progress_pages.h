// The wizard's last two slots:
//   CProgressDlg     starts the install worker and shows its progress: the
//                    phase text and a bar that walks one percent per tick
//                    toward the install's goal; it ends itself (IDOK) once the
//                    worker stores its end position (100 success, 120 failure)
//   CFinishDlg       success or failure, with the launch and quick-start boxes
//   CFinishRestDlg   in the Finish page's place when a restart is needed:
//                    restart now or later
// Finish (and Enter, Escape, and the close box) ends either last page with
// IDCANCEL without the Cancel question, each way storing the page's choices
// first; the page loop then reads what they stored.
#pragma once

#include "folder_pages.h"
#include "page_base.h"

#include <windows.h>

#include <functional>
#include <string>

// Control ids of the three templates.
inline constexpr int kProgressStatusText = 1027;
inline constexpr int kProgressTitle = 1028;
inline constexpr int kProgressBar = 1029;
inline constexpr int kHeaderSubtitle = 1003;
inline constexpr int kLastPageTitle = 1001;
inline constexpr int kLastPageBody = 1002;
inline constexpr int kLaunchProgramCheck = 1030;
inline constexpr int kOpenQuickStartCheck = 1033;
inline constexpr int kRestartNowRadio = 1008;
inline constexpr int kRestartLaterRadio = 1009;

inline constexpr UINT_PTR kProgressTimerId = 222;
inline constexpr UINT kProgressTimerInterval = 150;

class CProgressDlg : public CHeaderPageDlg {
public:
    CProgressDlg();

    // Registers the progress bar's window class, then shows the page.
    INT_PTR DoModal() override;

    // Starts the install worker with the page's window as the owner of the
    // install's message boxes; 0 when it runs. The page loop binds it to
    // CInstallApp::StartInstallThread. When it is unbound or fails the page
    // ends with IDCANCEL at once: nothing would ever end it otherwise.
    std::function<int(HWND page)> m_startInstallThread;
    // Where the application keeps the status control (its m_pStatusText):
    // filled before the worker starts, cleared when the page's window goes,
    // so the install never writes into a window that no longer exists.
    HWND* m_pStatusText = nullptr;

    // The application's progress pointers point here; the worker writes them
    // while the page's timer reads and steps them, each as one 32-bit value.
    int m_nProgressGoal = 0;
    int m_nProgressDisplayed = 0;
    int m_nProgressDirection = 1;

protected:
    BOOL OnInitDialog() override;
    // The page has no working Next or Cancel: only the timer ends it. Enter,
    // Escape and the close box are refused while the install runs, so the
    // wizard can never end in the middle of it.
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnTimer();

    CWnd m_progress;
    CWnd m_status;
    UINT_PTR m_nTimer = 0;
};

// What the two last pages share: the large bold title and the body text in
// the side-picture layout, and Finish without the Cancel question.
class CLastPageDlg : public CLogoDlg {
public:
    explicit CLastPageDlg(uint16_t templateId);

    std::string m_strTitle;
    std::string m_strBody;
    int* m_pInstallFailed = nullptr;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Finish. Overrides store the page's choices first.
    void OnCancel() override;
    // IDOK (Enter when no button has the focus) ends the page as Finish does.
    void OnOK() override;
    // The title's own font at one and a half times its height, weight 700.
    void MakeTitleLarge();
    bool InstallFailed() const { return m_pInstallFailed != nullptr && *m_pInstallFailed != 0; }
    // The colours of one control; returns its background brush.
    virtual HBRUSH ControlColours(HDC dc, int id) = 0;

    // The stock hollow brush: the texts lie on the white area and the
    // picture's edge, which they must not paint over.
    HBRUSH m_brushHollow;
    UniqueFont m_fontTitle;
};

class CFinishDlg : public CLastPageDlg {
public:
    CFinishDlg();

    int* m_pLaunchProgram = nullptr;
    int* m_pOpenQuickStart = nullptr;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnCancel() override;
    HBRUSH ControlColours(HDC dc, int id) override;

    int m_bLaunchProgramValue = 0;
    int m_bOpenQuickStartValue = 0;
};

class CFinishRestDlg : public CLastPageDlg {
public:
    CFinishRestDlg();

    int* m_pRestartNeeded = nullptr;

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnCancel() override;
    HBRUSH ControlColours(HDC dc, int id) override;

private:
    void StoreChoice();
};
