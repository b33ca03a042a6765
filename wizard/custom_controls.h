// The wizard's custom-drawn controls, subclassed onto the static controls of
// the page templates:
//   CAlphaImage         a 32-bit image with per-pixel transparency over
//                       whatever lies behind it (the folder pages' images);
//   CTransparentStatic  text without a background of its own, in a colour
//                       mixed from the colour scheme's button text colour and
//                       the background under it (the version label of every
//                       page);
//   CMemDC              an off-screen device context for one paint, copied to
//                       the screen in one step so the label does not flicker.
// All of them live on the user-interface thread.
#pragma once

#include "handles.h"
#include "window.h"

#include <windows.h>

// Collects the drawing of one paint in a bitmap and copies it to `target`'s
// `rect` when it goes. Drawing uses the target's coordinates. A printing
// target, or one for which no off-screen bitmap can be made, is drawn on
// directly.
class CMemDC {
public:
    CMemDC(HDC target, const RECT& rect);
    virtual ~CMemDC();
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }

private:
    UniqueBitmap m_bitmap;
    HGDIOBJ m_hOldBitmap = nullptr;
    HDC m_hTargetDC;
    RECT m_rect;
    bool m_bOffScreen = false;
    UniqueMemoryDc m_memoryDC;
    HDC m_hDC; // the off-screen context, or the target's when sharing
};

class CAlphaImage : public CStatic {
public:
    CAlphaImage() = default;
    ~CAlphaImage() override = default;

    // Loads the "RAW" resource `id` of the program (an uncompressed 32-bit
    // TGA) and sizes the control to it without moving it. Returns FALSE and
    // leaves the control as it was when the resource is missing or is not
    // such an image, including one shorter than its pixels.
    BOOL LoadFromResource(WORD id);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnPaint();

    UniqueBitmap m_hAlphaBitmap; // premultiplied pixels, bottom-up
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;
};

class CTransparentStatic : public CStatic {
public:
    CTransparentStatic() = default;
    ~CTransparentStatic() override = default;

    // The text's weight against the background, 0 (invisible) to 255 (the
    // text colour itself). Takes effect at the next paint.
    void SetTextAlpha(BYTE alpha) { m_nTextAlpha = alpha; }
    // The parent calls this whenever it paints its background, so that the
    // next paint takes a fresh copy of it.
    void InvalidateBackground() { m_bBackgroundValid = 0; }

    // Draws `text` word-wrapped into the box at x, y of width x height on
    // `dc`, each line `lineHeight` below the last (0: the text's own height),
    // clipped to the box. FALSE for a null dc or an empty box.
    BOOL DrawWrappedText(HDC dc, int x, int y, int width, int height, const char* text,
                         int lineHeight);
    // One line with ExtTextOutA, moved right within `clip` as the control's
    // SS_CENTER / SS_RIGHT style asks.
    BOOL DrawTextLine(HDC dc, int x, int y, UINT options, const RECT* clip, const char* text,
                      UINT length, const INT* spacing);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnPaint();
    void TakeBackgroundSnapshot();

    UniqueFont m_font;
    UniqueBitmap m_bmpBackground;
    BYTE m_nTextAlpha = 255;
    BYTE m_bBackgroundValid = 0;
    BYTE m_bFontValid = 0;
};
