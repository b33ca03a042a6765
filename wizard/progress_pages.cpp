#include "progress_pages.h"

#include "dll_safety.h"
#include "product_profile.h"
#include "progress_animation.h"
#include "resource_ids.h"
#include "strings.h"

#include <commctrl.h>

namespace {

constexpr LONG kBoldWeight = 700;
constexpr COLORREF kErrorRed = RGB(255, 0, 0);

// The progress bar's class lives in the common controls DLL, which the setup
// programs do not import (an import could be planted beside them); it is
// loaded from the system folder on first use and stays loaded for the run.
void RegisterProgressBarClass() {
    static const HMODULE commonControls = LoadSystemLibrary("comctl32.dll");
    if (commonControls == nullptr) {
        return;
    }
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(commonControls, "InitCommonControlsEx")));
    if (init != nullptr) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
        init(&classes);
    }
}

// The worker replaces these values whole while the timer reads them; the
// reads must go to memory every tick.
int ReadShared(const int& value) {
    return *static_cast<const volatile int*>(&value);
}

void PaintOnWindow(HDC dc, COLORREF text, bool transparent) {
    if (transparent) {
        SetBkMode(dc, TRANSPARENT);
    }
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    SetTextColor(dc, text);
}

} // namespace

CProgressDlg::CProgressDlg() : CHeaderPageDlg(IDD_PROGRESS, kProgressTitle, kHeaderSubtitle) {}

INT_PTR CProgressDlg::DoModal() {
    RegisterProgressBarClass();
    return CHeaderPageDlg::DoModal();
}

void CProgressDlg::DoDataExchange(CDataExchange* dx) {
    // The status text is not exchanged: the install writes it, and the page's
    // own exchange must never overwrite the phase shown.
    CHeaderPageDlg::DoDataExchange(dx);
    DDX_Control(dx, kProgressBar, m_progress);
    DDX_Control(dx, kProgressStatusText, m_status);
}

BOOL CProgressDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    SendMessageA(m_progress.m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(m_progress.m_hWnd, PBM_SETPOS, 0, 0);
    // Goal and position at 1: the bar stands still until the install's first
    // progress call.
    m_nProgressGoal = 1;
    m_nProgressDisplayed = 1;
    m_nProgressDirection = 1;
    MakeTitleBold();
    m_strTitle = LoadResourceString(IDS_PROGRESS_TITLE);
    m_nTimer = SetTimer(m_hWnd, kProgressTimerId, kProgressTimerInterval, nullptr);
    if (m_pStatusText != nullptr) {
        *m_pStatusText = m_status.m_hWnd;
    }
    if (!m_startInstallThread || m_startInstallThread(m_hWnd) != 0) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    LayoutWithHeader(kSeparatorControl, kLogoControl);
    UpdateData(FALSE);
    return TRUE;
}

void CProgressDlg::OnOK() {}

void CProgressDlg::OnCancel() {}

void CProgressDlg::OnTimer() {
    auto* const shared = reinterpret_cast<volatile LONG*>(&m_nProgressDisplayed);
    const int observed = ReadShared(m_nProgressDisplayed);
    const int stepped = corvane::wizard::StepProgressPosition(observed, ReadShared(m_nProgressGoal),
                                                              ReadShared(m_nProgressDirection));
    int position = observed;
    if (stepped != observed) {
        // The worker may have jumped the position, or stored its end value,
        // since it was read: a plain store of the step would undo that, and a
        // lost end value would leave the page open for ever.
        const LONG before = InterlockedCompareExchange(shared, stepped, observed);
        position = before == observed ? stepped : int(before);
    }
    if (!corvane::wizard::ProgressEndsPage(position)) {
        SendMessageA(m_progress.m_hWnd, PBM_SETPOS, WPARAM(position), 0);
        return;
    }
    if (m_pPagePos != nullptr) {
        GetWindowRect(m_hWnd, m_pPagePos);
    }
    EndDialog(IDOK);
}

LRESULT CProgressDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        OnTimer();
        return CHeaderPageDlg::WindowProc(message, wParam, lParam);
    case WM_DESTROY: {
        const LRESULT result = CHeaderPageDlg::WindowProc(message, wParam, lParam);
        KillTimer(m_hWnd, kProgressTimerId);
        m_nTimer = 0;
        if (m_pStatusText != nullptr && *m_pStatusText == m_status.m_hWnd) {
            *m_pStatusText = nullptr;
        }
        return result;
    }
    default:
        return CHeaderPageDlg::WindowProc(message, wParam, lParam);
    }
}

CLastPageDlg::CLastPageDlg(uint16_t templateId)
    : CLogoDlg(templateId), m_brushHollow(static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))) {}

void CLastPageDlg::DoDataExchange(CDataExchange* dx) {
    CLogoDlg::DoDataExchange(dx);
    DDX_Text(dx, kLastPageTitle, m_strTitle);
    DDX_Text(dx, kLastPageBody, m_strBody);
}

void CLastPageDlg::MakeTitleLarge() {
    const HWND title = GetDlgItem(m_hWnd, kLastPageTitle);
    LOGFONTA font = {};
    const auto titleFont = reinterpret_cast<HFONT>(SendMessageA(title, WM_GETFONT, 0, 0));
    if (GetObjectA(titleFont, sizeof font, &font) == 0) {
        return;
    }
    font.lfHeight = font.lfHeight * 3 / 2;
    font.lfWeight = kBoldWeight;
    m_fontTitle.reset(CreateFontIndirectA(&font));
    SendMessageA(title, WM_SETFONT, reinterpret_cast<WPARAM>(m_fontTitle.get()), TRUE);
}

void CLastPageDlg::OnCancel() {
    // Finish is the end of the wizard, not a cancellation to confirm.
    CMyCustomDlg::OnCancel();
}

void CLastPageDlg::OnOK() {
    OnCancel();
}

LRESULT CLastPageDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        CLogoDlg::WindowProc(message, wParam, lParam);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        return reinterpret_cast<LRESULT>(ControlColours(reinterpret_cast<HDC>(wParam), id));
    }
    case WM_DESTROY: {
        const LRESULT result = CLogoDlg::WindowProc(message, wParam, lParam);
        m_fontTitle.reset();
        return result;
    }
    default:
        return CLogoDlg::WindowProc(message, wParam, lParam);
    }
}

CFinishDlg::CFinishDlg() : CLastPageDlg(IDD_FINISH) {}

void CFinishDlg::DoDataExchange(CDataExchange* dx) {
    CLastPageDlg::DoDataExchange(dx);
    DDX_Check(dx, kLaunchProgramCheck, m_bLaunchProgramValue);
    DDX_Check(dx, kOpenQuickStartCheck, m_bOpenQuickStartValue);
}

BOOL CFinishDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    const ProductProfile& profile = CurrentProfile();
    MakeTitleLarge();
    SetDlgItemTextA(m_hWnd, kLaunchProgramCheck,
                    FormatResourceString(IDS_LAUNCH_PROGRAM, profile.familyDisplayName).c_str());
    if (InstallFailed()) {
        m_strTitle = FormatResourceString(IDS_FAILED_TITLE, profile.displayName);
        m_strBody = FormatResourceString(IDS_FAILED_TEXT, profile.displayName, profile.displayName);
        // Nothing of a rolled-back install can be launched.
        for (const int id : {kLaunchProgramCheck, kOpenQuickStartCheck}) {
            ShowWindow(GetDlgItem(m_hWnd, id), SW_HIDE);
            EnableWindow(GetDlgItem(m_hWnd, id), FALSE);
        }
        m_bLaunchProgramValue = 0;
        m_bOpenQuickStartValue = 0;
    } else {
        m_strTitle = FormatResourceString(IDS_FINISH_TITLE, profile.displayName);
        m_strBody = FormatResourceString(IDS_FINISH_TEXT, profile.displayName);
        SetDlgItemTextA(m_hWnd, kOpenQuickStartCheck,
                        LoadResourceString(IDS_OPEN_QUICK_START).c_str());
        m_bLaunchProgramValue = 1;
        m_bOpenQuickStartValue = 1;
    }
    LayoutWithSidePicture(kSeparatorControl, kLastPageBody);
    UpdateData(FALSE);
    return TRUE;
}

void CFinishDlg::OnCancel() {
    UpdateData(TRUE);
    if (m_pLaunchProgram != nullptr) {
        *m_pLaunchProgram = m_bLaunchProgramValue ? 1 : 0;
    }
    if (m_pOpenQuickStart != nullptr) {
        *m_pOpenQuickStart = m_bOpenQuickStartValue ? 1 : 0;
    }
    CLastPageDlg::OnCancel();
}

HBRUSH CFinishDlg::ControlColours(HDC dc, int id) {
    switch (id) {
    case kLastPageTitle:
        PaintOnWindow(dc, GetSysColor(COLOR_WINDOWTEXT), true);
        return m_brushHollow;
    case kLastPageBody:
        PaintOnWindow(dc, InstallFailed() ? kErrorRed : GetSysColor(COLOR_WINDOWTEXT), true);
        return m_brushHollow;
    case kHeaderSubtitle:
        PaintOnWindow(dc, GetSysColor(COLOR_WINDOWTEXT), false);
        return m_brushHollow;
    case kLaunchProgramCheck:
    case kOpenQuickStartCheck:
        PaintOnWindow(dc, GetSysColor(COLOR_WINDOWTEXT), false);
        return GetSysColorBrush(COLOR_WINDOW);
    default:
        return m_brushHollow;
    }
}

CFinishRestDlg::CFinishRestDlg() : CLastPageDlg(IDD_FINISH_RESTART) {}

BOOL CFinishRestDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    const ProductProfile& profile = CurrentProfile();
    MakeTitleLarge();
    const bool restartNeeded = m_pRestartNeeded != nullptr && *m_pRestartNeeded != 0;
    CheckRadioButton(m_hWnd, kRestartNowRadio, kRestartLaterRadio,
                     restartNeeded ? kRestartNowRadio : kRestartLaterRadio);
    if (InstallFailed()) {
        m_strTitle = FormatResourceString(IDS_FAILED_TITLE, profile.displayName);
        m_strBody = FormatResourceString(IDS_FAILED_RESTART_TEXT, profile.displayName);
    } else {
        m_strTitle = FormatResourceString(IDS_FINISH_TITLE, profile.displayName);
        m_strBody = FormatResourceString(IDS_RESTART_TEXT, profile.displayName);
    }
    LayoutWithSidePicture(kSeparatorControl, kLastPageTitle);
    UpdateData(FALSE);
    return TRUE;
}

BOOL CFinishRestDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (IsClicked(wParam, kRestartNowRadio) || IsClicked(wParam, kRestartLaterRadio)) {
        StoreChoice();
        return TRUE;
    }
    return CLastPageDlg::OnCommand(wParam, lParam);
}

void CFinishRestDlg::StoreChoice() {
    // What the buttons show is the choice, however it was made: a click, the
    // arrow keys, or nothing at all.
    if (m_pRestartNeeded != nullptr) {
        *m_pRestartNeeded = IsDlgButtonChecked(m_hWnd, kRestartNowRadio) == BST_CHECKED ? 1 : 0;
    }
}

void CFinishRestDlg::OnCancel() {
    StoreChoice();
    CLastPageDlg::OnCancel();
}

HBRUSH CFinishRestDlg::ControlColours(HDC dc, int id) {
    switch (id) {
    case kLastPageBody:
        PaintOnWindow(dc, InstallFailed() ? kErrorRed : GetSysColor(COLOR_WINDOWTEXT), true);
        return m_brushHollow;
    case kLastPageTitle:
        PaintOnWindow(dc, GetSysColor(COLOR_WINDOWTEXT), true);
        return m_brushHollow;
    case kHeaderSubtitle:
        PaintOnWindow(dc, GetSysColor(COLOR_WINDOWTEXT), false);
        return m_brushHollow;
    case kRestartNowRadio:
    case kRestartLaterRadio:
        PaintOnWindow(dc, GetSysColor(COLOR_WINDOWTEXT), false);
        return GetSysColorBrush(COLOR_WINDOW);
    default:
        return m_brushHollow;
    }
}
