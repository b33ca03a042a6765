// MD5 message digest (RFC 1321). The package format seals its entries area and
// every entry's content with it; the setup program carries its own routine so
// that it depends on nothing but the system and zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

struct Md5Digest {
    uint8_t bytes[16];
    bool operator==(const Md5Digest& other) const;
    bool operator!=(const Md5Digest& other) const { return !(*this == other); }
};

class Md5 {
public:
    Md5();
    void Update(const void* data, size_t size);
    Md5Digest Final();

    static Md5Digest Of(const void* data, size_t size);

private:
    // Runs the compression function over `count` whole 64-byte blocks.
    void Transform(const uint8_t* blocks, size_t count);

    uint32_t m_state[4];
    uint64_t m_nBytes;
    uint8_t m_buffer[64];
};

// Lower-case hexadecimal, 32 characters.
std::string ToHex(const Md5Digest& digest);

} // namespace corvane
