// Mixing two colours of the 0x00BBGGRR form that GDI uses (COLORREF), channel
// by channel. No Windows API, so the native tests check the arithmetic.
#pragma once

#include <cstdint>

// `weight` 0 gives `a`, 255 gives `b`; in between each channel is
// a * (255 - weight) / 255 + b * weight / 255, each quotient truncated on its
// own (so the sum can fall one short of a straight mix). The top byte of the
// result is 0 whatever the inputs carry there: GDI would read a non-zero top
// byte as a palette index or CLR_INVALID.
constexpr std::uint32_t BlendColor(std::uint32_t a, std::uint32_t b, std::uint8_t weight) {
    std::uint32_t result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t channelA = (a >> shift) & 0xFF;
        const std::uint32_t channelB = (b >> shift) & 0xFF;
        result |= (channelA * (255u - weight) / 255u + channelB * weight / 255u) << shift;
    }
    return result;
}
