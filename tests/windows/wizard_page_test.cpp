// The wizard pages' common base on Wine's dialog manager, in both layouts:
// title, icon and version label, the system's message font, the background as
// it appears on the screen, the page position carried from page to page, and
// the Cancel question.
#include "page_base.h"
#include "page_test_support.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>

namespace {

constexpr uint16_t kHeaderPage = 200;
constexpr uint16_t kSidePicturePage = 201;
constexpr int kPageText = 1040;
using page_test::TextOf;

// A page of either layout, as a real page lays itself out.
class LayoutPage : public CLogoDlg {
public:
    explicit LayoutPage(uint16_t id) : CLogoDlg(id) {}

    RECT Upper() const { return m_rectUpper; }
    // The page's background as it paints it, drawn off the screen so that no
    // window manager or screen state comes into it.
    COLORREF PixelAt(int x, int y) const {
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        const WindowDc screen(m_hWnd);
        const UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
        const UniqueBitmap canvas(
            CreateCompatibleBitmap(screen.get(), client.right, client.bottom));
        const HGDIOBJ previous = SelectObject(memory.get(), canvas.get());
        SendMessageA(m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory.get()), 0);
        const COLORREF pixel = GetPixel(memory.get(), x, y);
        SelectObject(memory.get(), previous);
        return pixel;
    }
    void PressCancel() { OnCancel(); }
    void PressNext() { OnOK(); }

protected:
    BOOL OnInitDialog() override {
        CLogoDlg::OnInitDialog();
        if (m_nTemplateId == kSidePicturePage) {
            LayoutWithSidePicture(kSeparatorControl, kPageText);
        } else {
            LayoutWithHeader(kSeparatorControl, kLogoControl);
        }
        UpdateData(FALSE);
        return TRUE;
    }
};

// Its script runs once the page is on the screen.
using TestPage = page_test::Scripted<LayoutPage>;

TEST(WizardPage, CarriesTitleIconVersionAndTheUsersFont) {
    TestPage page(kHeaderPage);
    std::string title, version;
    HICON icon = nullptr;
    LOGFONTA font = {};
    page.m_script = [&](TestPage& p) {
        title = TextOf(p.m_hWnd);
        version = TextOf(GetDlgItem(p.m_hWnd, kVersionLabelControl));
        icon = reinterpret_cast<HICON>(SendMessageA(p.m_hWnd, WM_GETICON, ICON_BIG, 0));
        font = page_test::FontOf(p.m_hWnd);
        p.m_bNoCancelConfirm = 1;
        p.PressCancel();
    };
    ASSERT_EQ(page.DoModal(), IDCANCEL);
    EXPECT_EQ(title, std::string("Setup - ") + CurrentProfile().displayName);
    EXPECT_EQ(version, "Version 3.12");
    EXPECT_EQ(icon, LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP)));
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName)
        << "the template's design font was not replaced";
}

// The colours of the scheme in use for its life: the window background and
// text, the button face and text (a high-contrast scheme changes them all).
class ColourScheme {
public:
    ColourScheme(COLORREF window, COLORREF windowText, COLORREF face, COLORREF buttonText) {
        const COLORREF colours[] = {window, windowText, face, buttonText};
        for (int i = 0; i < kCount; ++i) {
            m_saved[i] = GetSysColor(kElements[i]);
        }
        SetSysColors(kCount, kElements, colours);
    }
    ~ColourScheme() { SetSysColors(kCount, kElements, m_saved); }

private:
    static constexpr int kCount = 4;
    static constexpr INT kElements[kCount] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE,
                                              COLOR_BTNTEXT};
    COLORREF m_saved[kCount] = {};
};

TEST(WizardPage, BackgroundFollowsTheColourSchemeWhiteBandInTheStandardOne) {
    const struct {
        const char* name;
        bool highContrast;
    } schemes[] = {{"standard", false}, {"high contrast", true}};
    for (const auto& scheme : schemes) {
        SCOPED_TRACE(scheme.name);
        std::unique_ptr<ColourScheme> colours;
        if (scheme.highContrast) {
            colours = std::make_unique<ColourScheme>(RGB(0, 0, 0), RGB(255, 255, 255),
                                                     RGB(0, 0, 64), RGB(255, 255, 0));
        }
        TestPage page(kHeaderPage);
        COLORREF band = 0, buttons = 0;
        RECT upper = {}, separator = {};
        page.m_script = [&](TestPage& p) {
            upper = p.Upper();
            GetWindowRect(GetDlgItem(p.m_hWnd, kSeparatorControl), &separator);
            MapWindowPoints(nullptr, p.m_hWnd, reinterpret_cast<POINT*>(&separator), 2);
            band = p.PixelAt(4, upper.bottom - 3);
            buttons = p.PixelAt(4, upper.bottom + 3);
            p.m_bNoCancelConfirm = 1;
            p.PressCancel();
        };
        ASSERT_EQ(page.DoModal(), IDCANCEL);
        EXPECT_NEAR(upper.bottom, separator.bottom, 8) << "the band does not end at the separator";
        EXPECT_EQ(band, scheme.highContrast ? RGB(0, 0, 0) : RGB(255, 255, 255));
        EXPECT_EQ(buttons, GetSysColor(COLOR_BTNFACE));
    }
}

TEST(WizardPage, NextPageOpensWhereTheLastOneWasLeft) {
    RECT shared = {};
    TestPage first(kHeaderPage), second(kSidePicturePage);
    first.m_pPagePos = &shared;
    second.m_pPagePos = &shared;
    RECT firstAtStart = {}, secondAtStart = {};
    first.m_script = [&](TestPage& p) {
        GetWindowRect(p.m_hWnd, &firstAtStart);
        SetWindowPos(p.m_hWnd, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        p.PressNext();
    };
    second.m_script = [&](TestPage& p) {
        GetWindowRect(p.m_hWnd, &secondAtStart);
        p.PressNext();
    };
    ASSERT_EQ(first.DoModal(), IDOK);
    ASSERT_EQ(second.DoModal(), IDOK);
    EXPECT_EQ(shared.left, 123);
    EXPECT_EQ(shared.top, 77);
    EXPECT_EQ(secondAtStart.left, 123);
    EXPECT_EQ(secondAtStart.top, 77);
    EXPECT_NE(firstAtStart.top, 77) << "the first page did not open where Windows puts it";
}

TEST(WizardPage, CancelAsksFirstAndNoKeepsThePage) {
    TestPage page(kHeaderPage);
    page_test::BoxWatch boxes(IDNO);
    bool stillOpen = false;
    page.m_script = [&](TestPage& p) {
        p.PressCancel();
        stillOpen = IsWindow(p.m_hWnd) != FALSE;
        boxes.answer = IDYES;
        p.PressCancel();
    };
    EXPECT_EQ(page.DoModal(), IDCANCEL);
    boxes.Stop();
    EXPECT_EQ(boxes.count, 2);
    EXPECT_EQ(boxes.LastText(), "Are you sure you wish to cancel servicing your USB device now?");
    EXPECT_TRUE(stillOpen);
}

} // namespace
