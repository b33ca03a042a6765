// The window object of the framework: a C++ object that takes over the
// messages of an existing window (a dialog's control, later a dialog page)
// by replacing its window procedure. Derived classes override WindowProc and
// pass what they do not handle on to the procedure they replaced.
//
//     class CMyStatic : public CStatic {
//         LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
//             if (message == WM_PAINT) { ...; return 0; }
//             return CWnd::WindowProc(message, wParam, lParam);
//         }
//     };
//     m_label.SubclassDlgItem(1092, dialog);
#pragma once

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    // A window that outlives its object gets its own procedure back.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Routes the messages of `window` through this object. Fails (false, with
    // ERROR_INVALID_PARAMETER or the system's error) for a null window, when
    // this object already has a window, or when another object already has
    // this window.
    bool SubclassWindow(HWND window);
    // The same for the control `id` of the dialog `parent`.
    bool SubclassDlgItem(int id, HWND parent);
    // Gives the window its own procedure back and returns it; null when this
    // object has no window. Happens by itself on WM_NCDESTROY.
    HWND UnsubclassWindow();

    HWND m_hWnd = nullptr;

protected:
    // Every message of the window. The default passes it on to the window's
    // own (replaced) procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_pfnOriginalProc = nullptr;
};

// A static control needs nothing of its own here.
using CStatic = CWnd;
