// Dialog templates as the resource compiler writes them (the classic and the
// extended form), edited in memory: the wizard pages replace the template's
// design font with the system's message font before the dialog is created, so
// every page follows the user's font and scales with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::dialog_template {

// The font block of a template; `present` is false when the template has no
// font style and therefore no block.
struct FontInfo {
    bool present = false;
    uint16_t pointSize = 0;
    uint16_t weight = 0; // extended form only
    uint8_t italic = 0;  // extended form only
    uint8_t charset = 0; // extended form only
    std::u16string faceName;
};

// Reads the font of a template; false when the bytes are no well-formed
// template (cut short, items running past the end).
bool ReadFont(const uint8_t* data, size_t size, FontInfo* font);

// A copy of the template with the given face name and point size and the font
// style set; a block that was present keeps its weight, italic flag and
// character set, a new one gets normal weight and the default character set.
// Everything else, the items included, is kept byte for byte. False (and
// `out` untouched) when the template is not well-formed or the face name is
// empty or holds a null character.
bool SetFont(const uint8_t* data, size_t size, const std::u16string& faceName, uint16_t pointSize,
             std::vector<uint8_t>* out);

} // namespace corvane::dialog_template
