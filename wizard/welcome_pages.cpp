#include "welcome_pages.h"

#include "message_box.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "seh_guard.h"
#include "strings.h"
#include "welcome_text.h"

#include <richedit.h>

#include <cstdint>

namespace {

// Posted by the check thread: the checks ended (wParam 1 when both passed),
// or a system exception stopped them (wParam code, lParam address).
constexpr UINT kChecksDone = WM_APP + 0x101;
constexpr UINT kChecksFaulted = WM_APP + 0x102;

constexpr DWORD kWaitMessageMs = 1000;
constexpr DWORD kCheckThreadJoinMs = 10000;
constexpr LONG kBoldWeight = 700;
constexpr char kExitCaption[] = "Exit";
constexpr int kWelcomeSubtext = 1003;

// The licence stream's state. The rich-edit control reads it through
// LicenseStreamIn on the user-interface thread only.
const BYTE* g_pLicenseText = nullptr;
DWORD g_nLicenseSize = 0;
DWORD g_nLicensePosition = 0;

DWORD CALLBACK LicenseStreamIn(DWORD_PTR, LPBYTE buffer, LONG count, LONG* read) {
    if (g_pLicenseText == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const int32_t n =
        corvane::wizard::LicenseChunkSize(g_nLicenseSize, g_nLicensePosition, int32_t(count));
    CopyMemory(buffer, g_pLicenseText + g_nLicensePosition, DWORD(n));
    g_nLicensePosition += DWORD(n);
    *read = n;
    return 0;
}

// The page font of `control` scaled by numerator / denominator.
HFONT ScaledFont(HWND control, int numerator, int denominator, LONG weight) {
    LOGFONTA font = {};
    const auto current = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    if (GetObjectA(current, sizeof font, &font) == 0) {
        return nullptr;
    }
    font.lfHeight = font.lfHeight * numerator / denominator;
    if (weight != 0) {
        font.lfWeight = weight;
    }
    return CreateFontIndirectA(&font);
}

} // namespace

CWelcomeDlg::CWelcomeDlg()
    : CLogoDlg(IDD_WELCOME), m_brushHollow(static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))) {}

CWelcomeDlg::~CWelcomeDlg() {
    // The thread works on this object: it must be gone before the object is.
    JoinCheckThread();
}

void CWelcomeDlg::DoDataExchange(CDataExchange* dx) {
    CLogoDlg::DoDataExchange(dx);
    DDX_Text(dx, kWelcomeTitle, m_strTitle);
    DDX_Text(dx, kWelcomeBody, m_strBody);
}

BOOL CWelcomeDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    const char* displayName = CurrentProfile().displayName;
    m_strTitle = FormatResourceString(IDS_WELCOME_TITLE, displayName);
    m_strBody = LoadResourceString(IDS_WELCOME_WAIT);

    const HWND title = GetDlgItem(m_hWnd, kWelcomeTitle);
    m_fontTitle.reset(ScaledFont(title, 3, 2, kBoldWeight));
    m_fontBody.reset(ScaledFont(title, 4, 3, 0));
    SendMessageA(title, WM_SETFONT, reinterpret_cast<WPARAM>(m_fontTitle.get()), TRUE);
    SendDlgItemMessageA(m_hWnd, kWelcomeBody, WM_SETFONT,
                        reinterpret_cast<WPARAM>(m_fontBody.get()), TRUE);

    EnableWindow(GetDlgItem(m_hWnd, kBackButton), FALSE);
    EnableWindow(GetDlgItem(m_hWnd, IDOK), FALSE);
    EnableWindow(GetDlgItem(m_hWnd, IDCANCEL), FALSE);

    // A thread of an earlier showing still running would check beside the
    // new one.
    JoinCheckThread();
    m_nCheckResult = 0;
    auto thread = std::make_unique<CWorkerThread>();
    if (!thread->Create([this] { RunStartChecks(); })) {
        const DWORD error = GetLastError();
        ShowMessage(FormatResourceString(IDS_SYSTEM_ERROR, unsigned(error)), MB_ICONERROR, m_hWnd);
        EnableWindow(GetDlgItem(m_hWnd, IDCANCEL), TRUE);
        EndDialog(IDCANCEL);
        return TRUE;
    }
    m_pCheckThread = std::move(thread);
    m_pCheckThread->Resume();

    LayoutWithSidePicture(kSeparatorControl, kWelcomeBody);
    UpdateData(FALSE);
    return TRUE;
}

void CWelcomeDlg::RunStartChecks() {
    EXCEPTION_RECORD record = {};
    const bool finished = RunGuarded(
        [this] {
            Sleep(kWaitMessageMs);
            const std::string displayName = CurrentProfile().displayName;
            std::string message;
            int result =
                m_checks.checkInstalledVersion ? m_checks.checkInstalledVersion(&message) : 0;
            if (result == 0) {
                result = m_checks.preparePackage ? m_checks.preparePackage(&message) : 0;
            }
            m_strCheckText = result != 0
                                 ? corvane::wizard::InsertDisplayName(message, displayName)
                                 : FormatResourceString(IDS_WELCOME_TEXT, displayName.c_str());
            m_nCheckResult = result;
        },
        &record);
    // Posted, not sent: the page may be waiting for this thread in
    // OnCancel, and a sent message would wait for it in turn.
    if (finished) {
        PostMessageA(m_hWnd, kChecksDone, m_nCheckResult == 0, 0);
    } else {
        PostMessageA(m_hWnd, kChecksFaulted, WPARAM(record.ExceptionCode),
                     LPARAM(uintptr_t(record.ExceptionAddress)));
    }
}

void CWelcomeDlg::ApplyCheckOutcome() {
    if (m_nCheckResult == 0) {
        EnableWindow(GetDlgItem(m_hWnd, IDOK), TRUE);
    }
    SetDlgItemTextA(m_hWnd, kWelcomeBody, m_strCheckText.c_str());
    if (m_nCheckResult != 0) {
        SetDlgItemTextA(m_hWnd, IDCANCEL, kExitCaption);
    }
    EnableWindow(GetDlgItem(m_hWnd, IDCANCEL), TRUE);
    FocusOnPage(m_nCheckResult == 0 ? IDOK : IDCANCEL);
    // The statics draw on a hollow brush: the background under the old text
    // must be painted again before they are.
    RedrawWindow(m_hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_ERASENOW | RDW_UPDATENOW);
}

void CWelcomeDlg::ReportCheckFault(DWORD code, DWORD address) {
    ShowMessage(FormatResourceString(IDS_EXCEPTION_DURING_STARTUP_CHECKS, unsigned(code),
                                     unsigned(address)),
                MB_ICONERROR, m_hWnd);
    EnableWindow(GetDlgItem(m_hWnd, IDCANCEL), TRUE);
    EnableWindow(GetDlgItem(m_hWnd, IDOK), FALSE);
    FocusOnPage(IDCANCEL);
}

void CWelcomeDlg::FocusOnPage(int id) {
    // Every button was disabled while the checks ran, so the focus is
    // nowhere useful (the dialog manager leaves it on a static): it goes to
    // the one button that leads on, and Enter presses it. Not while a message
    // box (the Cancel question) holds it.
    const HWND focus = GetFocus();
    if (focus == nullptr || GetAncestor(focus, GA_ROOT) == m_hWnd) {
        FocusControl(id);
    }
}

void CWelcomeDlg::JoinCheckThread() {
    if (!m_pCheckThread) {
        return;
    }
    if (WaitForSingleObject(m_pCheckThread->Handle(), kCheckThreadJoinMs) != WAIT_OBJECT_0) {
        TerminateThread(m_pCheckThread->Handle(), 0xFFFFFFFF);
    }
    m_pCheckThread.reset();
}

void CWelcomeDlg::OnCancel() {
    // Joined first: m_nCheckResult is the thread's until it has ended.
    JoinCheckThread();
    if (m_nCheckResult != 0) {
        // The button reads "Exit": there is nothing to cancel.
        m_bNoCancelConfirm = 1;
    }
    CLogoDlg::OnCancel();
}

LRESULT CWelcomeDlg::ColourControl(HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    if (id == kWelcomeTitle || id == kWelcomeBody || id == kWelcomeSubtext) {
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, id == kWelcomeBody && m_nCheckResult != 0 ? RGB(255, 0, 0)
                                                                   : GetSysColor(COLOR_WINDOWTEXT));
    }
    // The texts lie directly on the painted white area.
    return reinterpret_cast<LRESULT>(m_brushHollow);
}

LRESULT CWelcomeDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kChecksDone:
        ApplyCheckOutcome();
        return 0;
    case kChecksFaulted:
        ReportCheckFault(DWORD(wParam), DWORD(lParam));
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return ColourControl(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY: {
        // However the page ends, its thread does not outlive the showing.
        JoinCheckThread();
        const LRESULT result = CLogoDlg::WindowProc(message, wParam, lParam);
        m_fontTitle.reset();
        m_fontBody.reset();
        return result;
    }
    default:
        return CLogoDlg::WindowProc(message, wParam, lParam);
    }
}

CLicenseDlg::CLicenseDlg() : CHeaderPageDlg(IDD_LICENSE, kLicenseTitle, kLicenseSubtitle) {}

void CLicenseDlg::DoDataExchange(CDataExchange* dx) {
    CHeaderPageDlg::DoDataExchange(dx);
    DDX_Control(dx, kLicenseText, m_licenseView);
}

BOOL CLicenseDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    const char* displayName = CurrentProfile().displayName;
    m_strSubtitle = FormatResourceString(IDS_LICENSE_SUBTITLE, displayName);
    m_strTitle = FormatResourceString(IDS_LICENSE_TITLE, displayName);
    MakeTitleBold();

    const int accepted = m_pLicenseAccepted != nullptr && *m_pLicenseAccepted != 0;
    CheckRadioButton(m_hWnd, kAcceptRadio, kRefuseRadio, accepted ? kAcceptRadio : kRefuseRadio);
    EnableWindow(GetDlgItem(m_hWnd, IDOK), accepted);

    // From the first byte at every showing.
    g_pLicenseText = m_pLicenseRtf;
    g_nLicenseSize = m_nLicenseRtfSize;
    g_nLicensePosition = 0;
    EDITSTREAM stream = {};
    stream.dwCookie = 0;
    stream.pfnCallback = LicenseStreamIn;
    SendDlgItemMessageA(m_hWnd, kLicenseText, EM_STREAMIN, SF_RTF,
                        reinterpret_cast<LPARAM>(&stream));
    // Wrap at the control's width.
    SendDlgItemMessageA(m_hWnd, kLicenseText, EM_SETTARGETDEVICE, 0, 0);
    // The background of the colour scheme (white in the standard one), which a
    // read-only control would otherwise not take.
    SendDlgItemMessageA(m_hWnd, kLicenseText, EM_SETBKGNDCOLOR, 1, 0);

    LayoutWithHeader(kSeparatorControl, kLogoControl);
    UpdateData(FALSE);
    return TRUE;
}

void CLicenseDlg::StoreChoice(int accepted) {
    if (m_pLicenseAccepted != nullptr) {
        *m_pLicenseAccepted = accepted;
    }
    EnableWindow(GetDlgItem(m_hWnd, IDOK), accepted);
}

void CLicenseDlg::OnOK() {
    // No way past the agreement without accepting it, whatever sent IDOK.
    if (IsDlgButtonChecked(m_hWnd, kAcceptRadio) != BST_CHECKED) {
        return;
    }
    StoreChoice(1);
    CLogoDlg::OnOK();
}

BOOL CLicenseDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (IsClicked(wParam, kAcceptRadio)) {
        StoreChoice(1);
        return TRUE;
    }
    if (IsClicked(wParam, kRefuseRadio)) {
        StoreChoice(0);
        return TRUE;
    }
    return CHeaderPageDlg::OnCommand(wParam, lParam);
}
