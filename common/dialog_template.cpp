#include "dialog_template.h"

#include <algorithm>

namespace corvane::dialog_template {

namespace {

constexpr uint32_t kSetFontStyle = 0x40; // DS_SETFONT
constexpr size_t kExtendedHeaderSize = 26;
constexpr size_t kClassicHeaderSize = 18;
constexpr size_t kExtendedItemSize = 24;
constexpr size_t kClassicItemSize = 18;
constexpr uint16_t kNormalWeight = 400;
constexpr uint8_t kDefaultCharset = 1;

// Where the parts of a template lie; every offset is from its first byte.
struct Layout {
    bool extended = false;
    size_t styleOffset = 0;
    uint32_t style = 0;
    size_t fontStart = 0; // just after the title: where a font block starts
    size_t fontEnd = 0;   // just after the font block (fontStart when none)
    size_t itemsStart = 0;
    FontInfo font;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Word(size_t* offset, uint16_t* value) const {
        if (*offset > m_size || m_size - *offset < 2) {
            return false;
        }
        *value = uint16_t(m_data[*offset] | m_data[*offset + 1] << 8);
        *offset += 2;
        return true;
    }

    bool Dword(size_t offset, uint32_t* value) const {
        uint16_t low = 0, high = 0;
        if (!Word(&offset, &low) || !Word(&offset, &high)) {
            return false;
        }
        *value = uint32_t(low) | uint32_t(high) << 16;
        return true;
    }

    // A null-terminated UTF-16 string.
    bool String(size_t* offset, std::u16string* text) const {
        for (;;) {
            uint16_t unit = 0;
            if (!Word(offset, &unit)) {
                return false;
            }
            if (unit == 0) {
                return true;
            }
            if (text != nullptr) {
                text->push_back(char16_t(unit));
            }
        }
    }

    // A menu, class or title field: 0xFFFF and an ordinal, or a string (a
    // lone 0 is the empty string).
    bool StringOrOrdinal(size_t* offset) const {
        size_t probe = *offset;
        uint16_t first = 0;
        if (!Word(&probe, &first)) {
            return false;
        }
        if (first == 0xFFFF) {
            uint16_t ordinal = 0;
            *offset = probe;
            return Word(offset, &ordinal);
        }
        return String(offset, nullptr);
    }

    bool Skip(size_t* offset, size_t count) const {
        if (*offset > m_size || m_size - *offset < count) {
            return false;
        }
        *offset += count;
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
};

size_t AlignToDword(size_t offset) {
    return (offset + 3) & ~size_t(3);
}

bool Parse(const uint8_t* data, size_t size, Layout* layout) {
    const Reader reader(data, size);
    size_t offset = 0;
    uint16_t version = 0, signature = 0;
    layout->extended = reader.Word(&offset, &version) && reader.Word(&offset, &signature) &&
                       version == 1 && signature == 0xFFFF;
    layout->styleOffset = layout->extended ? 12 : 0;
    const size_t countOffset = layout->extended ? 16 : 8;
    size_t count = countOffset;
    uint16_t items = 0;
    if (!reader.Dword(layout->styleOffset, &layout->style) || !reader.Word(&count, &items)) {
        return false;
    }
    offset = layout->extended ? kExtendedHeaderSize : kClassicHeaderSize;
    if (offset > size || !reader.StringOrOrdinal(&offset) || !reader.StringOrOrdinal(&offset) ||
        !reader.String(&offset, nullptr)) {
        return false;
    }
    layout->fontStart = offset;
    FontInfo& font = layout->font;
    font = FontInfo{};
    if (layout->style & kSetFontStyle) {
        font.present = true;
        if (!reader.Word(&offset, &font.pointSize)) {
            return false;
        }
        if (layout->extended) {
            uint16_t flags = 0;
            if (!reader.Word(&offset, &font.weight) || !reader.Word(&offset, &flags)) {
                return false;
            }
            font.italic = uint8_t(flags & 0xFF);
            font.charset = uint8_t(flags >> 8);
        }
        if (!reader.String(&offset, &font.faceName)) {
            return false;
        }
    }
    layout->fontEnd = offset;
    layout->itemsStart = items == 0 ? std::min(AlignToDword(offset), size) : AlignToDword(offset);

    // Every item must lie inside the bytes, or the copy would cut one short.
    offset = layout->itemsStart;
    for (uint16_t item = 0; item < items; ++item) {
        uint16_t extra = 0;
        offset = AlignToDword(offset);
        if (!reader.Skip(&offset, layout->extended ? kExtendedItemSize : kClassicItemSize) ||
            !reader.StringOrOrdinal(&offset) || !reader.StringOrOrdinal(&offset) ||
            !reader.Word(&offset, &extra) || !reader.Skip(&offset, extra)) {
            return false;
        }
    }
    return true;
}

void PutWord(std::vector<uint8_t>* out, uint16_t value) {
    out->push_back(uint8_t(value & 0xFF));
    out->push_back(uint8_t(value >> 8));
}

} // namespace

bool ReadFont(const uint8_t* data, size_t size, FontInfo* font) {
    Layout layout;
    if (data == nullptr || !Parse(data, size, &layout)) {
        return false;
    }
    *font = layout.font;
    return true;
}

bool SetFont(const uint8_t* data, size_t size, const std::u16string& faceName, uint16_t pointSize,
             std::vector<uint8_t>* out) {
    Layout layout;
    if (data == nullptr || faceName.empty() || faceName.find(u'\0') != std::u16string::npos ||
        !Parse(data, size, &layout)) {
        return false;
    }
    std::vector<uint8_t> result(data, data + layout.fontStart);
    const uint32_t style = layout.style | kSetFontStyle;
    for (int byte = 0; byte < 4; ++byte) {
        result[layout.styleOffset + byte] = uint8_t(style >> (8 * byte));
    }
    PutWord(&result, pointSize);
    if (layout.extended) {
        const FontInfo& old = layout.font;
        PutWord(&result, old.present ? old.weight : kNormalWeight);
        result.push_back(old.present ? old.italic : 0);
        result.push_back(old.present ? old.charset : kDefaultCharset);
    }
    for (char16_t unit : faceName) {
        PutWord(&result, uint16_t(unit));
    }
    PutWord(&result, 0);
    // Items sit on 4-byte boundaries; the old and the new start are both on
    // one, so the items move as a whole and stay aligned.
    result.resize(AlignToDword(result.size()), 0);
    result.insert(result.end(), data + layout.itemsStart, data + size);
    out->swap(result);
    return true;
}

} // namespace corvane::dialog_template
