#include "custom_controls.h"

#include "color_blend.h"
#include "dll_safety.h"
#include "text_wrap.h"
#include "tga_image.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using AlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int,
                                         BLENDFUNCTION);

// AlphaBlend lives in msimg32.dll, which is not a KnownDLL: imported, a copy
// planted beside the elevated setup program would be loaded instead. So it is
// loaded from the system folder at the first paint and kept for the life of
// the process.
AlphaBlendFunction AlphaBlendEntry() {
    static const AlphaBlendFunction entry = []() -> AlphaBlendFunction {
        const HMODULE library = LoadSystemLibrary("msimg32.dll");
        if (library == nullptr) {
            return nullptr;
        }
        return reinterpret_cast<AlphaBlendFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(library, "AlphaBlend")));
    }();
    return entry;
}

int Width(const RECT& rect) {
    return rect.right - rect.left;
}
int Height(const RECT& rect) {
    return rect.bottom - rect.top;
}

} // namespace

CMemDC::CMemDC(HDC target, const RECT& rect) : m_hTargetDC(target), m_rect(rect), m_hDC(target) {
    // A printer gets the drawing directly: there is no screen to flicker.
    if (GetDeviceCaps(target, TECHNOLOGY) == DT_RASPRINTER) {
        return;
    }
    m_memoryDC.reset(CreateCompatibleDC(target));
    m_bitmap.reset(CreateCompatibleBitmap(target, Width(rect), Height(rect)));
    if (!m_memoryDC || !m_bitmap) {
        // Without memory for the copy the paint still happens, only visibly.
        m_memoryDC.reset();
        m_bitmap.reset();
        return;
    }
    m_hOldBitmap = SelectObject(m_memoryDC.get(), m_bitmap.get());
    SetWindowOrgEx(m_memoryDC.get(), rect.left, rect.top, nullptr);
    m_hDC = m_memoryDC.get();
    m_bOffScreen = true;
}

CMemDC::~CMemDC() {
    if (m_bOffScreen) {
        BitBlt(m_hTargetDC, m_rect.left, m_rect.top, Width(m_rect), Height(m_rect), m_hDC,
               m_rect.left, m_rect.top, SRCCOPY);
        SelectObject(m_hDC, m_hOldBitmap);
    }
    // The owners then delete the off-screen context before its bitmap; a
    // shared target context is not ours to delete.
}

BOOL CAlphaImage::LoadFromResource(WORD id) {
    char name[8];
    std::snprintf(name, sizeof name, "#%d", id);
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC found = FindResourceA(module, name, "RAW");
    if (found == nullptr) {
        return FALSE;
    }
    const HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return FALSE;
    }
    // The resource's own size bounds the read: a header that announces more
    // pixels than the resource holds is refused, not read past its end.
    const std::optional<TgaImage> image =
        DecodeTgaImage(static_cast<const std::uint8_t*>(bytes), SizeofResource(module, found));
    if (!image) {
        return FALSE;
    }

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image->width;
    info.bmiHeader.biHeight = image->height; // positive: bottom-up, as the TGA rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || bits == nullptr) {
        return FALSE;
    }
    std::memcpy(bits, image->pixels.data(), image->pixels.size());

    m_hAlphaBitmap = std::move(bitmap);
    m_nImageWidth = image->width;
    m_nImageHeight = image->height;
    SetWindowPos(m_hWnd, nullptr, 0, 0, m_nImageWidth, m_nImageHeight, SWP_NOMOVE | SWP_NOZORDER);
    InvalidateRect(m_hWnd, nullptr, TRUE);
    return TRUE;
}

LRESULT CAlphaImage::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        OnPaint();
        return 0;
    }
    return CStatic::WindowProc(message, wParam, lParam);
}

void CAlphaImage::OnPaint() {
    const PaintDc paint(m_hWnd);
    const UniqueMemoryDc memory(CreateCompatibleDC(paint.get()));
    const AlphaBlendFunction alphaBlend = AlphaBlendEntry();
    if (!m_hAlphaBitmap || !memory || alphaBlend == nullptr) {
        return;
    }
    const SelectedObject image(memory.get(), m_hAlphaBitmap.get());
    if (!image.selected()) {
        return;
    }
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    alphaBlend(paint.get(), 0, 0, m_nImageWidth, m_nImageHeight, memory.get(), 0, 0, m_nImageWidth,
               m_nImageHeight, blend);
}

LRESULT CTransparentStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        OnPaint();
        return 0;
    }
    return CStatic::WindowProc(message, wParam, lParam);
}

void CTransparentStatic::OnPaint() {
    std::string text(GetWindowTextLengthA(m_hWnd) + 1, '\0');
    text.resize(GetWindowTextA(m_hWnd, &text[0], static_cast<int>(text.size())));
    const PaintDc paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);

    if (!m_bFontValid) {
        const auto font = reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
        LOGFONTA description = {};
        if (font != nullptr && GetObjectA(font, sizeof description, &description) != 0) {
            m_font.reset(CreateFontIndirectA(&description));
            m_bFontValid = m_font ? 1 : 0;
        }
    }
    if (!m_bBackgroundValid) {
        TakeBackgroundSnapshot();
    }
    if (!m_bmpBackground) {
        return;
    }

    const CMemDC memory(paint.get(), client);
    const HDC dc = memory.GetSafeHdc();
    {
        const UniqueMemoryDc snapshot(CreateCompatibleDC(paint.get()));
        const SelectedObject background(snapshot.get(), m_bmpBackground.get());
        BitBlt(dc, client.left, client.top, Width(client), Height(client), snapshot.get(), 0, 0,
               SRCCOPY);
    }
    const SelectedObject font(dc, m_bFontValid ? m_font.get() : nullptr);
    // The background colour comes from the copy just made, not from the
    // screen: when only the label repaints (its text changed) the screen
    // under it still shows its previous text, and a glyph pixel there would
    // darken the colour at every paint; a point outside the paint's update
    // region would read as CLR_INVALID.
    COLORREF background =
        GetPixel(dc, client.left + Width(client) / 2, client.top + Height(client) / 2);
    // The label lies on the button-face area: its text colour is the colour
    // scheme's, so that it stays readable on a dark high-contrast background
    // (black in the standard scheme).
    const COLORREF textColour = GetSysColor(COLOR_BTNTEXT);
    if (background == CLR_INVALID) {
        background = textColour;
    }
    SetTextColor(dc, BlendColor(background, textColour, m_nTextAlpha));
    SetBkMode(dc, TRANSPARENT);
    DrawWrappedText(dc, client.left, client.top, Width(client), Height(client), text.c_str(), 0);
}

void CTransparentStatic::TakeBackgroundSnapshot() {
    const HWND parent = GetParent(m_hWnd);
    RECT place = {};
    GetWindowRect(m_hWnd, &place);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);

    const WindowDc parentDc(parent);
    const UniqueMemoryDc memory(CreateCompatibleDC(parentDc.get()));
    m_bmpBackground.reset(CreateCompatibleBitmap(parentDc.get(), Width(place), Height(place)));
    if (!parentDc || !memory || !m_bmpBackground) {
        // Nothing drawn this time; the next paint tries again.
        m_bmpBackground.reset();
        return;
    }
    const SelectedObject snapshot(memory.get(), m_bmpBackground.get());
    BitBlt(memory.get(), 0, 0, Width(place), Height(place), parentDc.get(), place.left, place.top,
           SRCCOPY);
    m_bBackgroundValid = 1;
}

BOOL CTransparentStatic::DrawWrappedText(HDC dc, int x, int y, int width, int height,
                                         const char* text, int lineHeight) {
    if (dc == nullptr || width <= 0 || height <= 0) {
        return FALSE;
    }
    if (text == nullptr || *text == '\0' || x + width <= 0 || y + height <= 0) {
        return TRUE;
    }
    RECT clip = {x, y, x + width, y + height};
    const auto measure = [dc](std::string_view piece) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, piece.data(), static_cast<int>(piece.size()), &size);
        // An empty paragraph still takes a line of the font's height.
        TEXTMETRICA metrics;
        if (piece.empty() && GetTextMetricsA(dc, &metrics)) {
            size.cy = metrics.tmHeight;
        }
        return TextExtent{size.cx, size.cy};
    };
    for (const WrappedLine& line : WrapText(text, width, height, lineHeight, measure)) {
        DrawTextLine(dc, x, y + line.top, ETO_CLIPPED, &clip, text + line.start,
                     static_cast<UINT>(line.length), nullptr);
    }
    return TRUE;
}

BOOL CTransparentStatic::DrawTextLine(HDC dc, int x, int y, UINT options, const RECT* clip,
                                      const char* text, UINT length, const INT* spacing) {
    const LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
    int offset = 0;
    if (clip != nullptr && (style & (SS_CENTER | SS_RIGHT)) != 0) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, text, static_cast<int>(length), &size);
        // The room is measured from the clip rectangle's own left edge, so a
        // box that does not start at 0 centres and right-aligns within itself.
        const int room = Width(*clip) - size.cx;
        offset = (style & SS_CENTER) != 0 ? room / 2 : room;
    }
    return ExtTextOutA(dc, x + offset, y, options, clip, text, length, spacing);
}
