// Any bytes as a dialog template: whatever is accepted comes out as a template that reads
// back with the new font.
#include "dialog_template.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace corvane::dialog_template;
    FontInfo font;
    const bool readable = ReadFont(data, size, &font);
    std::vector<uint8_t> changed;
    const std::u16string face = u"Segoe UI";
    if (SetFont(data, size, face, 9, &changed) != readable) {
        std::abort();
    }
    if (readable) {
        FontInfo after;
        if (!ReadFont(changed.data(), changed.size(), &after) || after.faceName != face ||
            after.pointSize != 9) {
            std::abort();
        }
    }
    return 0;
}
