// Word wrapping of a label's text: which pieces of the text go on which line.
// The measuring is passed in (GetTextExtentPoint32A on the label's device
// context in the setup program, a fixed-width stand-in in the tests), so the
// layout needs no Windows API and is tested natively.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

struct TextExtent {
    int width = 0;
    int height = 0;
};

using MeasureText = std::function<TextExtent(std::string_view)>;

struct WrappedLine {
    std::size_t start = 0;  // offset of the line's first character in the text
    std::size_t length = 0; // without the CR LF or the space that ended it
    int top = 0;            // distance from the top of the label
};

// Lays `text` out in a label `width` x `height` pixels. Paragraphs end at each
// CR LF (an empty one still takes a line). A paragraph wider than the label
// breaks at spaces: the break is first guessed from the measured width, then
// moved back to a space that fits or forward word by word while the line
// still fits. A word wider than the label stands alone on its line (the
// drawing clips it). Each line is `lineHeight` below the one before, or, when
// `lineHeight` is 0, the height of the text last measured; no line starts at
// or below `height`.
std::vector<WrappedLine> WrapText(std::string_view text, int width, int height, int lineHeight,
                                  const MeasureText& measure);
