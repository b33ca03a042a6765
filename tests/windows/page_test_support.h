// Helpers of the wizard pages' Windows tests: a page that runs a test's script
// once it is on the screen (the script plays the user), reading what the page
// shows, and a watch that answers the product's message boxes.
#pragma once

#include "product_profile.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace page_test {

// How long a condition that must come true may take: a first run in a fresh
// prefix and X server builds font caches, and under an emulator a message box
// takes seconds to appear. Waits end as soon as the condition holds.
inline constexpr DWORD kPatienceMs = 30000;
inline constexpr UINT kRunScript = WM_APP + 7;

// Posting kRunScript from a script runs it again, once the page has handled
// what the script did (the message only arrives while the page is open).
template <typename Page> class Scripted : public Page {
public:
    using Page::Page;
    std::function<void(Scripted&)> m_script;

    HWND Item(int id) const { return GetDlgItem(this->m_hWnd, id); }
    // As a mouse click: a check box or radio button changes first.
    void Click(int id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    bool Checked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

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

inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kPatienceMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

inline LOGFONTA FontOf(HWND control) {
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font;
}

// What a static of the page is told to paint with, asked as the static asks.
struct Colours {
    COLORREF text, background;
    int mode;
    LRESULT brush;
};

inline Colours ColoursOf(HWND page, int id) {
    const HDC screen = GetDC(page);
    const HDC dc = CreateCompatibleDC(screen);
    Colours colours = {};
    colours.brush = SendMessageA(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
    colours.text = GetTextColor(dc);
    colours.background = GetBkColor(dc);
    colours.mode = GetBkMode(dc);
    DeleteDC(dc);
    ReleaseDC(page, screen);
    return colours;
}

// While it lives, answers each message box captioned with the product's name
// with `answer`, and notes how many showed, the last one's text and when the
// first showed.
class BoxWatch {
public:
    explicit BoxWatch(int answer = IDYES) : answer(answer), m_thread([this] { Watch(); }) {}
    ~BoxWatch() { Stop(); }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    std::string LastText() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lastText;
    }

    std::atomic<int> answer;
    std::atomic<int> count{0};
    std::atomic<DWORD> firstShownAt{0};

private:
    void Watch() {
        while (!m_stop) {
            // A box is found while it is still being built; its text is there
            // once it shows. On a slow machine it may take seconds to go away
            // after the answer: it must not be counted twice.
            const HWND box = FindWindowA("#32770", CurrentProfile().displayName);
            if (box != nullptr && IsWindowVisible(box)) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_lastText = TextOf(GetDlgItem(box, 0xFFFF));
                }
                if (++count == 1) {
                    firstShownAt = GetTickCount();
                }
                PostMessageA(box, WM_COMMAND, answer, 0);
                WaitUntil([&] { return IsWindow(box) == FALSE; });
            }
            Sleep(20);
        }
    }

    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_lastText;
    std::thread m_thread;
};

} // namespace page_test
