// The lead bytes of Shift-JIS (code page 932): "\x95\x5C" is one character, not a separator.
#pragma once

inline bool IsShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
