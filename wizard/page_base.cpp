#include "page_base.h"

#include "dialog_template.h"
#include "message_box.h"
#include "page_layout.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "strings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace {

constexpr int kSideBitmapWidth = 480;
constexpr int kSideBitmapHeight = 640;
constexpr int kLogoHeight = 48;
constexpr BYTE kVersionTextAlpha = 150;
// The size of NONCLIENTMETRICSA before Vista added a field: accepted by every
// Windows from 2000 on, where the larger size is refused before Vista.
constexpr UINT kNonClientMetricsSize =
    offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);

RECT WindowRectOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

} // namespace

CMyCustomDlg::CMyCustomDlg(uint16_t templateId, HWND parent) : CDialog(templateId, parent) {}

INT_PTR CMyCustomDlg::DoModal() {
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(m_nTemplateId), RT_DIALOG);
    const HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const auto* bytes =
        static_cast<const uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    if (bytes == nullptr) {
        return -1;
    }

    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = kNonClientMetricsSize;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics, 0)) {
        // Without the user's font the design font still makes a usable page.
        return DoModalIndirect(bytes);
    }
    const LOGFONTA& font = metrics.lfMessageFont;
    int dpi = 96;
    if (const WindowDc screen(nullptr); screen) {
        dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    }
    wchar_t face[LF_FACESIZE] = {};
    MultiByteToWideChar(CP_ACP, 0, font.lfFaceName, -1, face, LF_FACESIZE);
    std::u16string faceName;
    for (const wchar_t* unit = face; *unit != L'\0'; ++unit) {
        faceName.push_back(char16_t(*unit));
    }
    std::vector<uint8_t> edited;
    if (!corvane::dialog_template::SetFont(
            bytes, SizeofResource(module, resource), faceName,
            uint16_t(corvane::wizard::FontPointSize(font.lfHeight, dpi)), &edited)) {
        return -1;
    }
    return DoModalIndirect(edited.data());
}

BOOL CMyCustomDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    return TRUE;
}

CLogoDlg::CLogoDlg(uint16_t templateId, HWND parent)
    : CMyCustomDlg(templateId, parent),
      m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP))) {}

CLogoDlg::~CLogoDlg() = default;

BOOL CLogoDlg::OnInitDialog() {
    CMyCustomDlg::OnInitDialog();
    const ProductProfile& profile = CurrentProfile();
    SetWindowTextA(m_hWnd, FormatResourceString(IDS_WIZARD_CAPTION, profile.displayName).c_str());
    SetWindowTextA(m_version.m_hWnd, profile.versionLabel);
    m_version.SetTextAlpha(kVersionTextAlpha);
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    return TRUE;
}

void CLogoDlg::DoDataExchange(CDataExchange* dx) {
    DDX_Control(dx, kVersionLabelControl, m_version);
}

void CLogoDlg::OnOK() {
    const HWND next = GetDlgItem(m_hWnd, IDOK);
    if (next != nullptr && !IsWindowEnabled(next)) {
        return;
    }
    if (m_pPagePos != nullptr) {
        GetWindowRect(m_hWnd, m_pPagePos);
    }
    CMyCustomDlg::OnOK();
}

void CLogoDlg::OnCancel() {
    if (!m_bNoCancelConfirm) {
        const std::string question =
            FormatResourceString(IDS_CANCEL_QUESTION, CurrentProfile().displayName);
        if (ShowMessage(question, MB_YESNO | MB_ICONQUESTION, m_hWnd) == IDNO) {
            return;
        }
    }
    CMyCustomDlg::OnCancel();
}

void CLogoDlg::FocusControl(int id) {
    const HWND control = GetDlgItem(m_hWnd, id);
    if (control != nullptr) {
        SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    }
}

LRESULT CLogoDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_DESTROY: {
        const LRESULT result = CMyCustomDlg::WindowProc(message, wParam, lParam);
        m_bmpSide.reset();
        return result;
    }
    default:
        return CMyCustomDlg::WindowProc(message, wParam, lParam);
    }
}

void CLogoDlg::RestorePosition() {
    // The first page opens where Windows puts it; later ones where the last
    // page was left.
    if (m_pPagePos != nullptr && m_pPagePos->top != 0) {
        SetWindowPos(m_hWnd, nullptr, m_pPagePos->left, m_pPagePos->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER);
    }
}

int CLogoDlg::SplitAtSeparator(int separatorId, int below) {
    RestorePosition();
    GetClientRect(m_hWnd, &m_rectUpper);
    m_rectLower = m_rectUpper;
    const RECT window = WindowRectOf(m_hWnd);
    const RECT separator = WindowRectOf(GetDlgItem(m_hWnd, separatorId));
    const int split = m_rectUpper.bottom + (separator.bottom - window.bottom) + below;
    m_rectUpper.bottom = split;
    m_rectLower.top = split;
    return split;
}

void CLogoDlg::LayoutWithHeader(int separatorId, int logoId) {
    const int bandBottom = SplitAtSeparator(separatorId, 0);
    const HWND logo = GetDlgItem(m_hWnd, logoId);
    const RECT logoRect = WindowRectOf(logo);
    SetWindowPos(logo, nullptr, logoRect.left - WindowRectOf(m_hWnd).left,
                 (bandBottom - kLogoHeight) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void CLogoDlg::LayoutWithSidePicture(int separatorId, int textId) {
    SplitAtSeparator(separatorId, 1);
    const RECT window = WindowRectOf(m_hWnd);
    m_nPictureLimit = WindowRectOf(GetDlgItem(m_hWnd, textId)).left - window.left + 1;
    m_bmpSide.reset(static_cast<HBITMAP>(LoadImageA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_SIDE_PICTURE), IMAGE_BITMAP, 0, 0, 0)));
    m_bSidePicture = 1;
}

void CLogoDlg::PaintBackground(HDC dc) {
    // The colours of the scheme in use at each paint, so that a high-contrast
    // scheme (or a switch to one while setup runs) keeps the texts readable:
    // they are drawn in the matching text colours.
    FillRect(dc, &m_rectUpper, GetSysColorBrush(COLOR_WINDOW));
    FillRect(dc, &m_rectLower, GetSysColorBrush(COLOR_BTNFACE));
    // The label copies what lies under it at its next paint.
    m_version.InvalidateBackground();
    if (!m_bSidePicture || !m_bmpSide) {
        return;
    }
    const corvane::wizard::PictureSize size =
        corvane::wizard::ChooseSidePictureSize(m_rectUpper.bottom, m_nPictureLimit);
    const UniqueMemoryDc memory(CreateCompatibleDC(dc));
    if (!memory) {
        return;
    }
    const HGDIOBJ previous = SelectObject(memory.get(), m_bmpSide.get());
    SetStretchBltMode(dc, HALFTONE);
    // Halftone stretching needs the brush origin set again.
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, 0, m_rectUpper.bottom - size.height, size.width, size.height, memory.get(), 0, 0,
               kSideBitmapWidth, kSideBitmapHeight, SRCCOPY);
    SelectObject(memory.get(), previous);
}

LRESULT CReadOnlyView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETDLGCODE: {
        // A multi-line edit asks for every key, Tab and Enter included; the
        // rich-edit control even types a Tab into its text. DLGC_HASSETSEL
        // would select the whole text each time Tab arrives.
        const LRESULT wanted = CWnd::WindowProc(message, wParam, lParam);
        return wanted & ~(DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_WANTMESSAGE | DLGC_HASSETSEL);
    }
    case WM_CUT:
    case WM_CLEAR:
    case WM_PASTE:
    case WM_UNDO:
        // The edit commands change nothing here, whoever sends them: Wine's
        // rich-edit control clears its text on WM_CLEAR even when read-only.
        return 0;
    default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
}
