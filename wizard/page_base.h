// The two base classes of every wizard page.
//   CMyCustomDlg  shows its dialog template in the system's message font, so
//                 every page follows the user's font size and scales with it.
//   CLogoDlg      the common look and behaviour: window title, icon, version
//                 label, the Cancel question, the page position carried from
//                 page to page, and the background in one of two layouts —
//                 a white header band with title and logo, or a white area
//                 with the side picture at its lower left.
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
    void OnOK() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The header band ends at the separator; the logo is centred in it.
    void LayoutWithHeader(int separatorId, int logoId);
    // The white area ends at the separator; the side picture stays left of
    // the text control.
    void LayoutWithSidePicture(int separatorId, int textId);

    UniqueBrush m_brushWhite;
    UniqueBrush m_brushFace;
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
