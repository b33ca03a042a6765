// Modal dialogs of the framework: a CWnd that the dialog manager creates from
// a template, with the three moments a page cares about (initialisation, OK,
// Cancel) and data exchange between controls and members.
//
//     class CNameDlg : public CDialog {
//     public:
//         CNameDlg() : CDialog(IDD_NAME) {}
//         std::string m_strName;
//     protected:
//         void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, 1001, m_strName); }
//     };
//     CNameDlg dialog;
//     if (dialog.DoModal() == IDOK) use(dialog.m_strName);
#pragma once

#include "window.h"

#include <windows.h>

#include <cstdint>
#include <string>

// One run of data exchange: from the controls into the members (save) or the
// other way round.
struct CDataExchange {
    bool m_bSaveAndValidate;
    HWND m_hDlg;
};

// The control `id` as a window object of the dialog (subclassed once).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// A control's text and a string.
void DDX_Text(CDataExchange* dx, int id, std::string& value);
// A check box and 0/1.
void DDX_Check(CDataExchange* dx, int id, int& value);

// True when a WM_COMMAND's wParam says the button `id` was clicked (and not
// some other notification a control sends with the same id).
inline bool IsClicked(WPARAM wParam, int id) {
    return HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == id;
}

class CDialog : public CWnd {
public:
    // `templateId` names a dialog resource of the program's module.
    explicit CDialog(uint16_t templateId, HWND parent = nullptr);
    ~CDialog() override;

    // Runs the dialog from its resource; returns what ended it (IDOK, IDCANCEL
    // or a value given to EndDialog), or -1 when it could not be shown.
    virtual INT_PTR DoModal();
    // The same from a template in memory (DWORD-aligned, as Windows wants it).
    INT_PTR DoModalIndirect(const void* dialogTemplate);

    void EndDialog(int result);
    // False when a control's value was refused (nothing is then stored).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    uint16_t m_nTemplateId;
    HWND m_hWndParent;

protected:
    // The window exists and its controls too. The base exchanges the members
    // into the controls and returns TRUE (focus to the first control).
    virtual BOOL OnInitDialog();
    // IDOK: the base stores the controls into the members and ends with IDOK.
    virtual void OnOK();
    // IDCANCEL (also Escape and the close box): the base ends with IDCANCEL.
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* dx);
    // WM_COMMAND; TRUE when handled. The base routes IDOK and IDCANCEL.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
