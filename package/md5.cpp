#include "md5.h"

#include <cstring>

namespace corvane {
namespace {

inline uint32_t RotateLeft(uint32_t value, int count) {
    return (value << count) | (value >> (32 - count));
}

// Little-endian word at any alignment. On little-endian hosts this is one
// load; elsewhere the compiler assembles the bytes.
inline uint32_t LoadWord(const uint8_t* bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
#else
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
#endif
}

// The four round functions in the forms with the fewest operations. G is
// written as a sum of two disjoint masks, so its halves need not wait for
// each other; I's "~d" does not depend on the previous step at all.
inline uint32_t F(uint32_t b, uint32_t c, uint32_t d) {
    return d ^ (b & (c ^ d));
}
inline uint32_t I(uint32_t b, uint32_t c, uint32_t d) {
    return c ^ (b | ~d);
}

} // namespace

// Every step written out: no table lookups or index arithmetic per step, and
// the message word and round constant are added while the previous step's
// result is still being computed.
#define CORVANE_MD5_F(a, b, c, d, x, t, s) a = b + RotateLeft(a + F(b, c, d) + (x) + (t), s)
#define CORVANE_MD5_G(a, b, c, d, x, t, s) a = b + RotateLeft(a + (x) + (t) + (~d & c) + (d & b), s)
#define CORVANE_MD5_H(a, b, c, d, x, t, s) a = b + RotateLeft(a + (b ^ c ^ d) + (x) + (t), s)
#define CORVANE_MD5_I(a, b, c, d, x, t, s) a = b + RotateLeft(a + I(b, c, d) + (x) + (t), s)

void Md5::Transform(const uint8_t* blocks, size_t count) {
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (; count != 0; --count, blocks += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) {
            x[i] = LoadWord(blocks + 4 * i);
        }
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        CORVANE_MD5_F(a, b, c, d, x[0], 0xd76aa478, 7);
        CORVANE_MD5_F(d, a, b, c, x[1], 0xe8c7b756, 12);
        CORVANE_MD5_F(c, d, a, b, x[2], 0x242070db, 17);
        CORVANE_MD5_F(b, c, d, a, x[3], 0xc1bdceee, 22);
        CORVANE_MD5_F(a, b, c, d, x[4], 0xf57c0faf, 7);
        CORVANE_MD5_F(d, a, b, c, x[5], 0x4787c62a, 12);
        CORVANE_MD5_F(c, d, a, b, x[6], 0xa8304613, 17);
        CORVANE_MD5_F(b, c, d, a, x[7], 0xfd469501, 22);
        CORVANE_MD5_F(a, b, c, d, x[8], 0x698098d8, 7);
        CORVANE_MD5_F(d, a, b, c, x[9], 0x8b44f7af, 12);
        CORVANE_MD5_F(c, d, a, b, x[10], 0xffff5bb1, 17);
        CORVANE_MD5_F(b, c, d, a, x[11], 0x895cd7be, 22);
        CORVANE_MD5_F(a, b, c, d, x[12], 0x6b901122, 7);
        CORVANE_MD5_F(d, a, b, c, x[13], 0xfd987193, 12);
        CORVANE_MD5_F(c, d, a, b, x[14], 0xa679438e, 17);
        CORVANE_MD5_F(b, c, d, a, x[15], 0x49b40821, 22);

        CORVANE_MD5_G(a, b, c, d, x[1], 0xf61e2562, 5);
        CORVANE_MD5_G(d, a, b, c, x[6], 0xc040b340, 9);
        CORVANE_MD5_G(c, d, a, b, x[11], 0x265e5a51, 14);
        CORVANE_MD5_G(b, c, d, a, x[0], 0xe9b6c7aa, 20);
        CORVANE_MD5_G(a, b, c, d, x[5], 0xd62f105d, 5);
        CORVANE_MD5_G(d, a, b, c, x[10], 0x02441453, 9);
        CORVANE_MD5_G(c, d, a, b, x[15], 0xd8a1e681, 14);
        CORVANE_MD5_G(b, c, d, a, x[4], 0xe7d3fbc8, 20);
        CORVANE_MD5_G(a, b, c, d, x[9], 0x21e1cde6, 5);
        CORVANE_MD5_G(d, a, b, c, x[14], 0xc33707d6, 9);
        CORVANE_MD5_G(c, d, a, b, x[3], 0xf4d50d87, 14);
        CORVANE_MD5_G(b, c, d, a, x[8], 0x455a14ed, 20);
        CORVANE_MD5_G(a, b, c, d, x[13], 0xa9e3e905, 5);
        CORVANE_MD5_G(d, a, b, c, x[2], 0xfcefa3f8, 9);
        CORVANE_MD5_G(c, d, a, b, x[7], 0x676f02d9, 14);
        CORVANE_MD5_G(b, c, d, a, x[12], 0x8d2a4c8a, 20);

        CORVANE_MD5_H(a, b, c, d, x[5], 0xfffa3942, 4);
        CORVANE_MD5_H(d, a, b, c, x[8], 0x8771f681, 11);
        CORVANE_MD5_H(c, d, a, b, x[11], 0x6d9d6122, 16);
        CORVANE_MD5_H(b, c, d, a, x[14], 0xfde5380c, 23);
        CORVANE_MD5_H(a, b, c, d, x[1], 0xa4beea44, 4);
        CORVANE_MD5_H(d, a, b, c, x[4], 0x4bdecfa9, 11);
        CORVANE_MD5_H(c, d, a, b, x[7], 0xf6bb4b60, 16);
        CORVANE_MD5_H(b, c, d, a, x[10], 0xbebfbc70, 23);
        CORVANE_MD5_H(a, b, c, d, x[13], 0x289b7ec6, 4);
        CORVANE_MD5_H(d, a, b, c, x[0], 0xeaa127fa, 11);
        CORVANE_MD5_H(c, d, a, b, x[3], 0xd4ef3085, 16);
        CORVANE_MD5_H(b, c, d, a, x[6], 0x04881d05, 23);
        CORVANE_MD5_H(a, b, c, d, x[9], 0xd9d4d039, 4);
        CORVANE_MD5_H(d, a, b, c, x[12], 0xe6db99e5, 11);
        CORVANE_MD5_H(c, d, a, b, x[15], 0x1fa27cf8, 16);
        CORVANE_MD5_H(b, c, d, a, x[2], 0xc4ac5665, 23);

        CORVANE_MD5_I(a, b, c, d, x[0], 0xf4292244, 6);
        CORVANE_MD5_I(d, a, b, c, x[7], 0x432aff97, 10);
        CORVANE_MD5_I(c, d, a, b, x[14], 0xab9423a7, 15);
        CORVANE_MD5_I(b, c, d, a, x[5], 0xfc93a039, 21);
        CORVANE_MD5_I(a, b, c, d, x[12], 0x655b59c3, 6);
        CORVANE_MD5_I(d, a, b, c, x[3], 0x8f0ccc92, 10);
        CORVANE_MD5_I(c, d, a, b, x[10], 0xffeff47d, 15);
        CORVANE_MD5_I(b, c, d, a, x[1], 0x85845dd1, 21);
        CORVANE_MD5_I(a, b, c, d, x[8], 0x6fa87e4f, 6);
        CORVANE_MD5_I(d, a, b, c, x[15], 0xfe2ce6e0, 10);
        CORVANE_MD5_I(c, d, a, b, x[6], 0xa3014314, 15);
        CORVANE_MD5_I(b, c, d, a, x[13], 0x4e0811a1, 21);
        CORVANE_MD5_I(a, b, c, d, x[4], 0xf7537e82, 6);
        CORVANE_MD5_I(d, a, b, c, x[11], 0xbd3af235, 10);
        CORVANE_MD5_I(c, d, a, b, x[2], 0x2ad7d2bb, 15);
        CORVANE_MD5_I(b, c, d, a, x[9], 0xeb86d391, 21);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    m_state[0] = a;
    m_state[1] = b;
    m_state[2] = c;
    m_state[3] = d;
}

#undef CORVANE_MD5_F
#undef CORVANE_MD5_G
#undef CORVANE_MD5_H
#undef CORVANE_MD5_I

bool Md5Digest::operator==(const Md5Digest& other) const {
    return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

Md5::Md5() : m_state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, m_nBytes(0), m_buffer{} {}

void Md5::Update(const void* data, size_t size) {
    // An empty buffer's data may be null, and memcpy from null is undefined
    // even for no bytes.
    if (size == 0) {
        return;
    }
    const uint8_t* input = static_cast<const uint8_t*>(data);
    size_t used = size_t(m_nBytes % 64);
    m_nBytes += size;
    if (used != 0) {
        size_t take = 64 - used < size ? 64 - used : size;
        std::memcpy(m_buffer + used, input, take);
        input += take;
        size -= take;
        if (used + take < 64) {
            return;
        }
        Transform(m_buffer, 1);
    }
    if (size >= 64) {
        Transform(input, size / 64);
        input += size & ~size_t(63);
        size &= 63;
    }
    if (size != 0) {
        std::memcpy(m_buffer, input, size);
    }
}
Md5Digest Md5::Final() {
    uint64_t bitCount = m_nBytes * 8;
    static const uint8_t kPadding[64] = {0x80};
    size_t used = size_t(m_nBytes % 64);
    Update(kPadding, used < 56 ? 56 - used : 120 - used);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = uint8_t(bitCount >> (8 * i));
    }
    Update(length, 8);
    Md5Digest digest;
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 4; ++k) {
            digest.bytes[i * 4 + k] = uint8_t(m_state[i] >> (8 * k));
        }
    }
    *this = Md5();
    return digest;
}

Md5Digest Md5::Of(const void* data, size_t size) {
    Md5 md5;
    md5.Update(data, size);
    return md5.Final();
}

std::string ToHex(const Md5Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest.bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

} // namespace corvane
