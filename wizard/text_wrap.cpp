#include "text_wrap.h"

#include <cstdint>

namespace {

constexpr std::string_view kParagraphEnd = "\r\n";

class Layout {
public:
    Layout(int width, int height, int lineHeight, const MeasureText& measure)
        : m_width(width), m_height(height), m_lineHeight(lineHeight), m_measure(measure) {}

    bool HasRoom() const { return m_top < m_height; }

    bool Fits(std::string_view text) { return Measure(text) <= m_width; }

    // Measures and remembers the height, which sets the line spacing when no
    // line height is given.
    int Measure(std::string_view text) {
        const TextExtent extent = m_measure(text);
        m_lastHeight = extent.height;
        return extent.width;
    }

    void AddLine(std::size_t start, std::size_t length) {
        m_lines.push_back({start, length, m_top});
        m_top += m_lineHeight != 0 ? m_lineHeight : m_lastHeight;
    }

    int Width() const { return m_width; }
    std::vector<WrappedLine> TakeLines() { return std::move(m_lines); }

private:
    const int m_width;
    const int m_height;
    const int m_lineHeight;
    const MeasureText& m_measure;
    int m_top = 0;
    int m_lastHeight = 0;
    std::vector<WrappedLine> m_lines;
};

// Where the line that starts `rest` (too wide for one line) ends: the index of
// the space that ends it, or npos when it is the whole of `rest`.
std::size_t FindLineEnd(std::string_view rest, int restWidth, Layout& layout) {
    // First guess: as many characters as the width would hold if all were
    // equally wide. restWidth > width > 0, so the guess lies inside `rest`.
    const std::size_t guess =
        static_cast<std::size_t>(std::uint64_t{rest.size()} * layout.Width() / restWidth);
    std::size_t space = guess;
    while (space > 0 && rest[space] != ' ') {
        --space;
    }
    if (rest[space] == ' ') {
        if (layout.Fits(rest.substr(0, space))) {
            // Word by word forward while the line still fits; never to the
            // paragraph's end, which the caller found too wide.
            for (;;) {
                const std::size_t next = rest.find(' ', space + 1);
                if (next == std::string_view::npos || !layout.Fits(rest.substr(0, next))) {
                    return space;
                }
                space = next;
            }
        }
        // Space by space backward until the line fits.
        while (space > 0) {
            space = rest.rfind(' ', space - 1);
            if (space == std::string_view::npos) {
                break;
            }
            if (layout.Fits(rest.substr(0, space))) {
                return space;
            }
        }
    }
    // No space that fits: the first word alone, however wide.
    return rest.find(' ');
}

} // namespace

std::vector<WrappedLine> WrapText(std::string_view text, int width, int height, int lineHeight,
                                  const MeasureText& measure) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    Layout layout(width, height, lineHeight, measure);
    std::size_t paragraphStart = 0;
    for (;;) {
        std::size_t paragraphEnd = text.find(kParagraphEnd, paragraphStart);
        const bool lastParagraph = paragraphEnd == std::string_view::npos;
        if (lastParagraph) {
            paragraphEnd = text.size();
        }
        const std::string_view paragraph =
            text.substr(paragraphStart, paragraphEnd - paragraphStart);
        std::size_t position = 0;
        while (layout.HasRoom()) {
            const std::string_view rest = paragraph.substr(position);
            const int restWidth = layout.Measure(rest);
            const std::size_t lineEnd =
                restWidth <= width ? std::string_view::npos : FindLineEnd(rest, restWidth, layout);
            if (lineEnd == std::string_view::npos) {
                layout.AddLine(paragraphStart + position, rest.size());
                break;
            }
            layout.AddLine(paragraphStart + position, lineEnd);
            position += lineEnd + 1;
        }
        if (lastParagraph || !layout.HasRoom()) {
            return layout.TakeLines();
        }
        paragraphStart = paragraphEnd + kParagraphEnd.size();
    }
}
