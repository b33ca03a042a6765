// The wizard's custom controls on real windows under Wine (shown on the test
// run's X server): the version label drawn over its parent's background in
// the mixed colour, and the folder images loaded from the program's resources
// and blended over the background. Pixels are read back from the window.
#include "color_blend.h"
#include "custom_controls.h"
#include "resource_ids.h"
#include "tga_image.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kControl = 100;
constexpr RECT kControlRect = {20, 10, 220, 50};
constexpr int kWidth = 300, kHeight = 120; // the parent's client area

// A parent window that paints its background like a wizard page: a solid
// colour, after which the label must take a new snapshot.
class TestWindow {
public:
    explicit TestWindow(COLORREF background, const char* controlText = "")
        : m_brush(CreateSolidBrush(background)) {
        static const ATOM kClass = [] {
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = &TestWindow::Procedure;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "CorvaneControlsTestWindow";
            return RegisterClassA(&windowClass);
        }();
        m_window = CreateWindowExA(0, MAKEINTATOM(kClass), "", WS_POPUP, 40, 40, kWidth, kHeight,
                                   nullptr, nullptr, GetModuleHandleA(nullptr), this);
        m_control = CreateWindowExA(
            0, "STATIC", controlText, WS_CHILD | WS_VISIBLE | SS_LEFT, kControlRect.left,
            kControlRect.top, kControlRect.right - kControlRect.left,
            kControlRect.bottom - kControlRect.top, m_window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kControl)), nullptr, nullptr);
    }
    ~TestWindow() { DestroyWindow(m_window); }

    void Show() {
        ShowWindow(m_window, SW_SHOWNOACTIVATE);
        UpdateWindow(m_window);
        Pump();
    }
    static void Pump() {
        MSG message;
        for (int idle = 0; idle < 5; Sleep(20)) {
            ++idle;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&message);
                idle = 0;
            }
        }
    }

    // The window's pixels as the screen shows them, row by row from the top.
    std::vector<COLORREF> Capture() const {
        const WindowDc screen(m_window);
        std::vector<COLORREF> pixels;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                pixels.push_back(GetPixel(screen.get(), x, y));
            }
        }
        return pixels;
    }
    static COLORREF At(const std::vector<COLORREF>& pixels, int x, int y) {
        return pixels[y * kWidth + x];
    }

    HWND window() const { return m_window; }
    HWND control() const { return m_control; }
    CTransparentStatic* m_label = nullptr; // told when the background is painted

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_ERASEBKGND && self != nullptr) {
            RECT client;
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, self->m_brush.get());
            if (self->m_label != nullptr) {
                self->m_label->InvalidateBackground();
            }
            return 1;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    UniqueBrush m_brush;
    HWND m_window = nullptr;
    HWND m_control = nullptr;
};

bool InControl(int x, int y) {
    return x >= kControlRect.left && x < kControlRect.right && y >= kControlRect.top &&
           y < kControlRect.bottom;
}

// Each background gives the label's text its own mixed colour (black text at
// weight 150); without font smoothing every text pixel has exactly that one.
class TransparentStaticTest : public testing::TestWithParam<COLORREF> {
protected:
    void SetUp() override {
        m_font.reset(CreateFontA(-24, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0,
                                 NONANTIALIASED_QUALITY, 0, "Tahoma"));
        SendMessageA(m_page.control(), WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), 0);
        ASSERT_TRUE(m_label.SubclassDlgItem(kControl, m_page.window()));
        m_label.SetTextAlpha(150);
        m_page.m_label = &m_label;
    }

    // Counts the text pixels; fails on any pixel that is neither the
    // background nor the text's colour, or that lies outside the label.
    int TextPixels() {
        const std::vector<COLORREF> pixels = m_page.Capture();
        const COLORREF text = BlendColor(GetParam(), RGB(0, 0, 0), 150);
        std::map<COLORREF, int> others;
        int count = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const COLORREF pixel = m_page.At(pixels, x, y);
                if (pixel == text && InControl(x, y)) {
                    ++count;
                } else if (pixel != GetParam()) {
                    ++others[pixel];
                }
            }
        }
        for (const auto& [colour, number] : others) {
            ADD_FAILURE() << number << " pixels of colour 0x" << std::hex << colour;
        }
        return count;
    }

    TestWindow m_page{GetParam(), "Version 3.12"};
    UniqueFont m_font;
    CTransparentStatic m_label;
};

TEST_P(TransparentStaticTest, TextInTheMixedColourOverTheBackground) {
    m_page.Show();
    EXPECT_GT(TextPixels(), 50);
}

TEST_P(TransparentStaticTest, RepaintOfTheLabelAloneKeepsItsColour) {
    m_page.Show();
    // Something else on the screen under the label: a repaint of the label
    // alone (no new background from the parent) covers its whole box from
    // its snapshot, in the same colours.
    {
        const WindowDc screen(m_page.window());
        const UniqueBrush stain(CreateSolidBrush(RGB(255, 0, 0)));
        FillRect(screen.get(), &kControlRect, stain.get());
    }
    InvalidateRect(m_page.control(), nullptr, FALSE);
    TestWindow::Pump();
    EXPECT_GT(TextPixels(), 50);
}

INSTANTIATE_TEST_SUITE_P(Backgrounds, TransparentStaticTest,
                         testing::Values(RGB(255, 255, 255), RGB(40, 120, 200)));

// The folder images over a background: each pixel is the image's colour
// blended by its alpha over the background, rows the right way up.
class AlphaImageTest : public testing::TestWithParam<WORD> {};

TEST_P(AlphaImageTest, LoadsResizesAndBlends) {
    TestWindow page(RGB(255, 255, 255));
    CAlphaImage image;
    ASSERT_TRUE(image.SubclassDlgItem(kControl, page.window()));
    ASSERT_TRUE(image.LoadFromResource(GetParam()));
    RECT place;
    GetWindowRect(page.control(), &place);
    MapWindowPoints(nullptr, page.window(), reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, kControlRect.left);
    EXPECT_EQ(place.top, kControlRect.top);
    EXPECT_EQ(place.right - place.left, 32);
    EXPECT_EQ(place.bottom - place.top, 32);
    page.Show();

    const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(GetParam()), "RAW");
    ASSERT_NE(found, nullptr);
    const auto decoded =
        DecodeTgaImage(static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found))),
                       SizeofResource(nullptr, found));
    ASSERT_TRUE(decoded);
    const std::vector<COLORREF> pixels = page.Capture();
    int wrong = 0;
    for (int row = 0; row < 32; ++row) {
        for (int column = 0; column < 32; ++column) {
            const std::uint8_t* source = &decoded->pixels[((31 - row) * 32 + column) * 4];
            const COLORREF shown =
                page.At(pixels, kControlRect.left + column, kControlRect.top + row);
            const int channels[3] = {GetRValue(shown), GetGValue(shown), GetBValue(shown)};
            for (int channel = 0; channel < 3; ++channel) {
                // AlphaBlend over white: source + 255 * (255 - alpha) / 255,
                // rounded either way.
                const int expected = source[2 - channel] + 255 * (255 - source[3]) / 255;
                if (std::abs(channels[channel] - expected) > 2) {
                    ++wrong;
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(FolderImages, AlphaImageTest,
                         testing::Values(IDR_DESTINATION_FOLDER_IMAGE,
                                         IDR_START_MENU_FOLDER_IMAGE));

TEST(AlphaImage, BrokenResourcesLeaveTheControlEmpty) {
    const struct {
        WORD id;
        const char* what;
    } cases[] = {
        {9999, "missing"},           {9001, "run-length encoded"},
        {9002, "24 bits per pixel"}, {9003, "cut-short pixels"},
        {9004, "width 0"},
    };
    for (const auto& broken : cases) {
        TestWindow page(RGB(255, 255, 255));
        CAlphaImage image;
        ASSERT_TRUE(image.SubclassDlgItem(kControl, page.window()));
        EXPECT_FALSE(image.LoadFromResource(broken.id)) << broken.what;
        RECT place;
        GetClientRect(page.control(), &place);
        EXPECT_EQ(place.right, kControlRect.right - kControlRect.left) << broken.what;
        page.Show();
        const std::vector<COLORREF> pixels = page.Capture();
        int drawn = 0;
        for (COLORREF pixel : pixels) {
            drawn += pixel != RGB(255, 255, 255);
        }
        EXPECT_EQ(drawn, 0) << broken.what;
    }
}

} // namespace
