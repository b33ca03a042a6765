// What the fuzz targets share: a failed check ends the run so that libFuzzer keeps the input,
// and the Shift-JIS (code page 932) lead bytes, with which "\x95\x5C" is one character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

inline bool IsShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
