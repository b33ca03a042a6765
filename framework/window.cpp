#include "window.h"

namespace {

// The object of a window is found through a window property, not
// GWLP_USERDATA: that slot belongs to the window's class, and controls and
// dialog procedures of others use it for their own data.
constexpr const char* kObjectProperty = "CorvaneWindowObject";

} // namespace

CWnd::~CWnd() {
    UnsubclassWindow();
}

bool CWnd::SubclassWindow(HWND window) {
    if (window == nullptr || m_hWnd != nullptr || !IsWindow(window) ||
        GetPropA(window, kObjectProperty) != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // The property first: the first message through SubclassProc may come
    // while SetWindowLongPtrA is still returning.
    if (!SetPropA(window, kObjectProperty, this)) {
        return false;
    }
    m_hWnd = window;
    SetLastError(ERROR_SUCCESS);
    m_pfnOriginalProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    if (m_pfnOriginalProc == nullptr && GetLastError() != ERROR_SUCCESS) {
        const DWORD error = GetLastError();
        RemovePropA(window, kObjectProperty);
        m_hWnd = nullptr;
        SetLastError(error);
        return false;
    }
    return true;
}

bool CWnd::SubclassDlgItem(int id, HWND parent) {
    const HWND control = GetDlgItem(parent, id);
    if (control == nullptr) {
        return false;
    }
    return SubclassWindow(control);
}

HWND CWnd::UnsubclassWindow() {
    const HWND window = m_hWnd;
    if (window == nullptr) {
        return nullptr;
    }
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnOriginalProc));
    RemovePropA(window, kObjectProperty);
    m_hWnd = nullptr;
    m_pfnOriginalProc = nullptr;
    return window;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(m_pfnOriginalProc, m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* object = static_cast<CWnd*>(GetPropA(window, kObjectProperty));
    if (object == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    LRESULT result = 0;
    // No exception may unwind through the system's code that called us.
    try {
        result = object->WindowProc(message, wParam, lParam);
    } catch (...) {
        result = 0;
    }
    // The window is gone after this message; the object may live on.
    if (message == WM_NCDESTROY && object->m_hWnd == window) {
        object->UnsubclassWindow();
    }
    return result;
}
