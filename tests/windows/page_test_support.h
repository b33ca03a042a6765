// Helpers of the wizard pages' Windows tests: a page that runs a test's script
// once it is on the screen (the script plays the user), and reading what the
// page shows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace page_test {

inline constexpr UINT kRunScript = WM_APP + 7;

template <typename Page> class Scripted : public Page {
public:
    using Page::Page;
    std::function<void(Scripted&)> m_script;

    HWND Item(int id) const { return GetDlgItem(this->m_hWnd, id); }
    // As a mouse click: a check box or radio button changes first.
    void Click(int id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    bool Checked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

protected:
    BOOL OnInitDialog() override {
        Page::OnInitDialog();
        PostMessageA(this->m_hWnd, kRunScript, 0, 0);
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kRunScript) {
            if (m_script) {
                m_script(*this);
            }
            return 0;
        }
        return Page::WindowProc(message, wParam, lParam);
    }
};

inline std::string TextOf(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::vector<char> text(size_t(length) + 1, '\0');
    GetWindowTextA(window, text.data(), length + 1);
    return text.data();
}

inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

} // namespace page_test
