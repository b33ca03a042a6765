#include "dialog.h"

#include <vector>

namespace {

// An unowned dialog opens in the middle of the screen's work area (the
// taskbar left out), not wherever the system would cascade a new window.
void CenterOnScreen(HWND window) {
    RECT area = {};
    RECT rect = {};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(window, &rect)) {
        return;
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int left = area.left + ((area.right - area.left) - width) / 2;
    const int top = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(window, nullptr, left > area.left ? left : area.left,
                 top > area.top ? top : area.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    // Once per window: data exchange runs again at every OK.
    if (control.m_hWnd == nullptr) {
        control.SubclassDlgItem(id, dx->m_hDlg);
    }
}

void DDX_Text(CDataExchange* dx, int id, std::string& value) {
    const HWND control = GetDlgItem(dx->m_hDlg, id);
    if (control == nullptr) {
        return;
    }
    if (!dx->m_bSaveAndValidate) {
        SetWindowTextA(control, value.c_str());
        return;
    }
    const int length = GetWindowTextLengthA(control);
    std::vector<char> text(size_t(length) + 1, '\0');
    GetWindowTextA(control, text.data(), length + 1);
    value = text.data();
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
    if (dx->m_bSaveAndValidate) {
        value = IsDlgButtonChecked(dx->m_hDlg, id) == BST_CHECKED ? 1 : 0;
    } else {
        CheckDlgButton(dx->m_hDlg, id, value ? BST_CHECKED : BST_UNCHECKED);
    }
}

CDialog::CDialog(uint16_t templateId, HWND parent)
    : m_nTemplateId(templateId), m_hWndParent(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(m_nTemplateId), RT_DIALOG);
    const HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return -1;
    }
    return DoModalIndirect(bytes);
}

INT_PTR CDialog::DoModalIndirect(const void* dialogTemplate) {
    if (dialogTemplate == nullptr || m_hWnd != nullptr) {
        return -1;
    }
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                   static_cast<LPCDLGTEMPLATEA>(dialogTemplate), m_hWndParent,
                                   &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx{saveAndValidate != FALSE, m_hWnd};
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
    // Only commands, not notifications a control sends with the same id.
    if (HIWORD(wParam) != BN_CLICKED) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && OnCommand(wParam, lParam)) {
        return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) {
        // Everything else reaches WindowProc first, through the subclassing;
        // what it passes on gets the dialog manager's own handling.
        return FALSE;
    }
    auto* self = reinterpret_cast<CDialog*>(lParam);
    if (self->m_hWndParent == nullptr) {
        CenterOnScreen(window);
    }
    if (!self->SubclassWindow(window)) {
        ::EndDialog(window, -1);
        return FALSE;
    }
    try {
        return self->OnInitDialog();
    } catch (...) {
        // An exception must not unwind through the dialog manager.
        ::EndDialog(window, -1);
        return FALSE;
    }
}
