// The two base classes of every wizard page.
//   CMyCustomDlg  shows its dialog template in the system's message font, so
//                 every page follows the user's font size and scales with it.
//   CLogoDlg      the common look and behaviour: window title, icon, version
//                 label, the Cancel question, the page position carried from
//                 page to page, and the background in one of two layouts —
//                 a header band with title and logo, or an area with the side
//                 picture at its lower left, both in the window colour of the
//                 system's colour scheme (white in the standard one).
//   CReadOnlyView a text view (the licence, the summary) that keyboard users
//                 read with the arrow and page keys and leave with Tab; Enter
//                 reaches the page's default button.
// A page's OnInitDialog calls CLogoDlg's first, sets up its own controls,
// then calls exactly one of the layout operations, then UpdateData(FALSE).
#pragma once

#include "custom_controls.h"
#include "dialog.h"
#include "handles.h"

#include <windows.h>

#include <cstdint>

// Controls every page template has.
inline constexpr int kSeparatorControl = 1036;
inline constexpr int kLogoControl = 1013;
inline constexpr int kVersionLabelControl = 1092;
// What a page's Back button ends it with.
inline constexpr int kBackResult = 1000;

class CMyCustomDlg : public CDialog {
public:
    explicit CMyCustomDlg(uint16_t templateId, HWND parent = nullptr);

    // The template with the message font in place of its design font; -1
    // when the template cannot be loaded.
    INT_PTR DoModal() override;

protected:
    BOOL OnInitDialog() override;
};

class CLogoDlg : public CMyCustomDlg {
public:
    explicit CLogoDlg(uint16_t templateId, HWND parent = nullptr);
    ~CLogoDlg() override;

    // Where the last page closed with Next stood (screen coordinates; a top
    // of 0 means no page has been closed yet). Shared by all pages.
    RECT* m_pPagePos = nullptr;
    // 1: Cancel ends the page without asking.
    int m_bNoCancelConfirm = 0;

protected:
    BOOL OnInitDialog() override;
    // Next: refused while the page's Next button is disabled (Enter reaches
    // here even then), else the page position is stored and the page ends.
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Moves the keyboard focus to the control `id` the way Tab would, so the
    // default button follows it.
    void FocusControl(int id);

    // The header band ends at the separator; the logo is centred in it.
    void LayoutWithHeader(int separatorId, int logoId);
    // The white area ends at the separator; the side picture stays left of
    // the text control.
    void LayoutWithSidePicture(int separatorId, int textId);

    RECT m_rectUpper = {};
    RECT m_rectLower = {};
    int m_nPictureLimit = 0;
    UniqueBitmap m_bmpSide;
    int m_bSidePicture = 0;
    HICON m_hIcon = nullptr;
    CTransparentStatic m_version;

private:
    void RestorePosition();
    // Puts the page where the last one was left and splits the client area
    // `below` pixels under the separator's bottom edge; returns that line.
    int SplitAtSeparator(int separatorId, int below);
    void PaintBackground(HDC dc);
};

// A multi-line text control (the licence, the ready summary) made a reader's
// view: the dialog manager keeps Tab, Enter and Escape, so Tab leaves it,
// Enter goes on and Escape cancels, while the arrow and page keys scroll it.
// Tabbing into it keeps the text unselected. The control itself is made
// read-only by its template.
class CReadOnlyView : public CWnd {
protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};
