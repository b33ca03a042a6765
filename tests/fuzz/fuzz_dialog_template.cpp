// Any bytes as a dialog template: whatever is accepted comes out as a template that reads
// back with the new font.
#include "dialog_template.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace corvane::dialog_template;
    FontInfo font;
    const bool readable = ReadFont(data, size, &font);
    std::vector<uint8_t> changed;
    const std::u16string face = u"Segoe UI";
    Require(SetFont(data, size, face, 9, &changed) == readable);
    if (readable) {
        FontInfo after;
        Require(ReadFont(changed.data(), changed.size(), &after) && after.faceName == face &&
                after.pointSize == 9);
    }
    return 0;
}
