#include "folder_pages.h"

#include "folder_paths.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "strings.h"

#include <shlobj.h>

#include <memory>

namespace {

constexpr char kBrowseTitle[] = "Select folder in the list below, then click OK";
constexpr LONG kBoldWeight = 700;

bool IsLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// Frees a shell item list from SHBrowseForFolderA or SHGetFolderLocation.
struct ItemListDeleter {
    void operator()(ITEMIDLIST* list) const { CoTaskMemFree(list); }
};

// The file-system path of a chosen shell item; empty when the user
// cancelled. The dialog offers "Make New Folder" and keeps OK disabled on
// places without a file-system path (a printer, the network neighbourhood);
// its new style needs COM, which the page loop starts on this thread.
std::string BrowseForFolder(HWND owner, LPCITEMIDLIST root) {
    char displayName[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = kBrowseTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    const std::unique_ptr<ITEMIDLIST, ItemListDeleter> chosen(SHBrowseForFolderA(&info));
    if (!chosen) {
        return {};
    }
    char path[MAX_PATH] = {};
    if (!SHGetPathFromIDListA(chosen.get(), path)) {
        return {};
    }
    return path;
}

RECT ClientRectOf(HWND page, int id) {
    RECT rect = {};
    const HWND control = GetDlgItem(page, id);
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace

CHeaderPageDlg::CHeaderPageDlg(uint16_t templateId, int titleId, int subtitleId)
    : CLogoDlg(templateId), m_nTitleId(titleId), m_nSubtitleId(subtitleId) {}

void CHeaderPageDlg::DoDataExchange(CDataExchange* dx) {
    CLogoDlg::DoDataExchange(dx);
    DDX_Text(dx, m_nTitleId, m_strTitle);
    DDX_Text(dx, m_nSubtitleId, m_strSubtitle);
}

BOOL CHeaderPageDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (IsClicked(wParam, kBackButton)) {
        OnBack();
        return TRUE;
    }
    return CLogoDlg::OnCommand(wParam, lParam);
}

void CHeaderPageDlg::OnBack() {
    EndDialog(kBackResult);
}

void CHeaderPageDlg::MakeTitleBold() {
    LOGFONTA font = {};
    const auto pageFont = reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
    if (GetObjectA(pageFont, sizeof font, &font) == 0) {
        return;
    }
    font.lfWeight = kBoldWeight;
    m_fontTitle.reset(CreateFontIndirectA(&font));
    SendDlgItemMessageA(m_hWnd, m_nTitleId, WM_SETFONT, reinterpret_cast<WPARAM>(m_fontTitle.get()),
                        TRUE);
}

LRESULT CHeaderPageDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        const LRESULT brush = CLogoDlg::WindowProc(message, wParam, lParam);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        // The title and subtitle sit on the white header band.
        if (id == m_nTitleId || id == m_nSubtitleId) {
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        return brush;
    }
    case WM_DESTROY: {
        const LRESULT result = CLogoDlg::WindowProc(message, wParam, lParam);
        // The title static goes with the page; nothing draws with it after this.
        m_fontTitle.reset();
        return result;
    }
    default:
        return CLogoDlg::WindowProc(message, wParam, lParam);
    }
}

CSelectFolder::CSelectFolder()
    : CHeaderPageDlg(IDD_SELECT_FOLDER, kSelectFolderTitle, kFolderSubtitle) {}

void CSelectFolder::DoDataExchange(CDataExchange* dx) {
    CHeaderPageDlg::DoDataExchange(dx);
    DDX_Control(dx, kFolderEdit, m_editFolder);
    DDX_Control(dx, kDestinationImage, m_image);
    DDX_Text(dx, kFolderEdit, m_strFolder);
}

BOOL CSelectFolder::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    m_strTitle = LoadResourceString(IDS_SELECT_FOLDER_TITLE);
    m_strSubtitle = FormatResourceString(IDS_SELECT_FOLDER_SUBTITLE, CurrentProfile().displayName);
    MakeTitleBold();
    // The folder changes only through Browse.
    SendMessageA(m_editFolder.m_hWnd, EM_SETREADONLY, TRUE, 0);
    m_image.LoadFromResource(IDR_DESTINATION_FOLDER_IMAGE);
    if (m_pInstallDir != nullptr) {
        m_strFolder = *m_pInstallDir;
    }
    LayoutWithHeader(kSeparatorControl, kLogoControl);
    UpdateData(FALSE);
    return TRUE;
}

void CSelectFolder::OnBrowse() {
    const std::string chosen = BrowseForFolder(m_hWnd, nullptr);
    if (chosen.empty()) {
        return;
    }
    m_strFolder =
        corvane::wizard::DestinationFromBrowse(chosen, CurrentProfile().displayName, IsLeadByte);
    if (m_pInstallDir != nullptr) {
        *m_pInstallDir = m_strFolder;
    }
    UpdateData(FALSE);
}

void CSelectFolder::OnOK() {
    UpdateData(TRUE);
    if (m_pInstallDir != nullptr) {
        *m_pInstallDir = m_strFolder;
    }
    // A folder the installation could not succeed in is refused here, where
    // the user can still choose another one.
    if (m_confirmDestination && !m_confirmDestination(m_hWnd)) {
        return;
    }
    CLogoDlg::OnOK();
}

BOOL CSelectFolder::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (IsClicked(wParam, kBrowseButton)) {
        OnBrowse();
        return TRUE;
    }
    return CHeaderPageDlg::OnCommand(wParam, lParam);
}

CProgramMenuFolderDlg::CProgramMenuFolderDlg()
    : CHeaderPageDlg(IDD_START_MENU_FOLDER, kStartMenuTitle, kFolderSubtitle) {}

void CProgramMenuFolderDlg::DoDataExchange(CDataExchange* dx) {
    CHeaderPageDlg::DoDataExchange(dx);
    DDX_Control(dx, kStartMenuImage, m_image);
    DDX_Text(dx, kFolderEdit, m_strFolderName);
}

BOOL CProgramMenuFolderDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    m_strTitle = LoadResourceString(IDS_START_MENU_TITLE);
    m_strSubtitle = LoadResourceString(IDS_START_MENU_SUBTITLE);
    MakeTitleBold();
    m_image.LoadFromResource(IDR_START_MENU_FOLDER_IMAGE);
    if (m_pStartMenuFolder != nullptr) {
        m_strFolderName = *m_pStartMenuFolder;
    }
    LayoutWithHeader(kSeparatorControl, kLogoControl);
    UpdateData(FALSE);
    return TRUE;
}

void CProgramMenuFolderDlg::OnBrowse() {
    // Browsing starts at the all-users Programs folder; without it, at the
    // whole shell namespace.
    std::unique_ptr<ITEMIDLIST, ItemListDeleter> root;
    ITEMIDLIST* programs = nullptr;
    if (SUCCEEDED(SHGetFolderLocation(m_hWnd, CSIDL_COMMON_PROGRAMS, nullptr, 0, &programs))) {
        root.reset(programs);
    }
    const std::string chosen = BrowseForFolder(m_hWnd, root.get());
    if (chosen.empty()) {
        return;
    }
    m_strFolderName = corvane::wizard::StartMenuFolderFromBrowse(
        chosen, m_strFolderName, CurrentProfile().displayName, IsLeadByte);
    if (m_pStartMenuFolder != nullptr) {
        *m_pStartMenuFolder = m_strFolderName;
    }
    UpdateData(FALSE);
}

void CProgramMenuFolderDlg::OnOK() {
    // Taken as typed, also empty or with several levels.
    UpdateData(TRUE);
    if (m_pStartMenuFolder != nullptr) {
        *m_pStartMenuFolder = m_strFolderName;
    }
    CLogoDlg::OnOK();
}

BOOL CProgramMenuFolderDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (IsClicked(wParam, kBrowseButton)) {
        OnBrowse();
        return TRUE;
    }
    return CHeaderPageDlg::OnCommand(wParam, lParam);
}

CAdditionalTaskDlg::CAdditionalTaskDlg()
    : CHeaderPageDlg(IDD_ADDITIONAL_TASKS, kTasksTitle, kTasksSubtitle) {}

void CAdditionalTaskDlg::DoDataExchange(CDataExchange* dx) {
    CHeaderPageDlg::DoDataExchange(dx);
    DDX_Check(dx, kDesktopIconCheck, m_bDesktopIconValue);
    DDX_Check(dx, kQuickLaunchIconCheck, m_bQuickLaunchIconValue);
    DDX_Check(dx, kFirewallRulesCheck, m_bFirewallRulesValue);
}

BOOL CAdditionalTaskDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    m_strTitle = LoadResourceString(IDS_TASKS_TITLE);
    m_strSubtitle = LoadResourceString(IDS_TASKS_SUBTITLE);
    MakeTitleBold();
    m_bDesktopIconValue = m_pDesktopIcon != nullptr ? *m_pDesktopIcon : 0;
    m_bQuickLaunchIconValue = m_pQuickLaunchIcon != nullptr ? *m_pQuickLaunchIcon : 0;
    m_bFirewallRulesValue = m_pFirewallRules != nullptr ? *m_pFirewallRules : 0;

    // Windows Vista and later have no Quick Launch bar.
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) && version.dwMajorVersion >= 6) {
        const HWND quickLaunch = GetDlgItem(m_hWnd, kQuickLaunchIconCheck);
        ShowWindow(quickLaunch, SW_HIDE);
        EnableWindow(quickLaunch, FALSE);
        m_bQuickLaunchIconValue = 0;
    }
    // The firewall rules are made after silent installations only.
    m_bFirewallRulesValue = 0;
    ShowWindow(GetDlgItem(m_hWnd, kFirewallGroupLabel), SW_HIDE);
    ShowWindow(GetDlgItem(m_hWnd, kFirewallRulesCheck), SW_HIDE);
    CloseFirewallGap();

    LayoutWithHeader(kSeparatorControl, kLogoControl);
    UpdateData(FALSE);
    return TRUE;
}

void CAdditionalTaskDlg::CloseFirewallGap() {
    const int gap =
        ClientRectOf(m_hWnd, kIconsGroupLabel).top - ClientRectOf(m_hWnd, kFirewallGroupLabel).top;
    for (const int id : {kIconsGroupLabel, kDesktopIconCheck, kQuickLaunchIconCheck}) {
        const RECT rect = ClientRectOf(m_hWnd, id);
        MoveWindow(GetDlgItem(m_hWnd, id), rect.left, rect.top - gap, rect.right - rect.left,
                   rect.bottom - rect.top, TRUE);
    }
}

void CAdditionalTaskDlg::StoreChoices() {
    UpdateData(TRUE);
    if (m_pDesktopIcon != nullptr) {
        *m_pDesktopIcon = m_bDesktopIconValue;
    }
    if (m_pQuickLaunchIcon != nullptr) {
        *m_pQuickLaunchIcon = m_bQuickLaunchIconValue;
    }
    if (m_pFirewallRules != nullptr) {
        *m_pFirewallRules = m_bFirewallRulesValue;
    }
}

void CAdditionalTaskDlg::OnOK() {
    StoreChoices();
    CLogoDlg::OnOK();
}

void CAdditionalTaskDlg::OnBack() {
    // The choices survive Back.
    StoreChoices();
    CHeaderPageDlg::OnBack();
}

CReadyDlg::CReadyDlg() : CHeaderPageDlg(IDD_READY, kReadyTitle, kReadySubtitle) {}

void CReadyDlg::DoDataExchange(CDataExchange* dx) {
    CHeaderPageDlg::DoDataExchange(dx);
    DDX_Control(dx, kSummaryEdit, m_summaryView);
    DDX_Text(dx, kSummaryEdit, m_strSummary);
}

void CReadyDlg::OnOK() {
    // Checked again just before anything is written: the folder's volume may
    // have changed since the destination page.
    if (m_confirmDestination && !m_confirmDestination(m_hWnd)) {
        return;
    }
    CLogoDlg::OnOK();
}

BOOL CReadyDlg::OnInitDialog() {
    CLogoDlg::OnInitDialog();
    m_strTitle = LoadResourceString(IDS_READY_TITLE);
    m_strSubtitle = LoadResourceString(IDS_READY_SUBTITLE);
    MakeTitleBold();
    LayoutWithHeader(kSeparatorControl, kLogoControl);
    UpdateData(FALSE);
    return TRUE;
}
