// Package images the writer would never produce: one thing broken, the rest
// sealed again, so that one thing is what the reader has to catch.
#pragma once

#include "md5.h"
#include "package_format.h"
#include "packed_tools.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Deterministic bytes that deflate cannot shrink (the standard fixes mt19937's sequence).
inline Bytes NoiseBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    std::generate(bytes.begin(), bytes.end(), [&random] { return uint8_t(random() >> 24); });
    return bytes;
}

inline void PutLittleEndian32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = uint8_t(value >> (8 * i));
    }
}

// An entry record; the size fields may announce what does not follow (-1: the real size).
struct RawEntry {
    std::string name;
    Bytes packed;
    Md5Digest contentDigest{};
    int64_t packedSizeField = -1;
    int64_t nameLengthField = -1;
};

inline RawEntry EntryOf(std::string name, const Bytes& content) {
    uLongf size = compressBound(uLong(content.size()));
    Bytes packed(size);
    compress2(packed.data(), &size, content.data(), uLong(content.size()), Z_BEST_COMPRESSION);
    packed.resize(size);
    return {std::move(name), std::move(packed), Md5::Of(content.data(), content.size())};
}

inline Bytes RecordBytes(const RawEntry& entry) {
    // Sized once: growing the vector piecewise trips a false -Warray-bounds in GCC 12.
    Bytes record(package::kEntryHeadSize + entry.name.size() + entry.packed.size());
    PutLittleEndian32(record.data(), uint32_t(entry.packedSizeField < 0 ? entry.packed.size()
                                                                        : entry.packedSizeField));
    PutLittleEndian32(
        record.data() + 4,
        uint32_t(entry.nameLengthField < 0 ? entry.name.size() : entry.nameLengthField));
    std::memcpy(record.data() + 8, entry.contentDigest.bytes, 16);
    std::copy(entry.name.begin(), entry.name.end(), record.begin() + package::kEntryHeadSize);
    std::copy(entry.packed.begin(), entry.packed.end(),
              record.begin() + package::kEntryHeadSize + entry.name.size());
    return record;
}

inline Bytes AreaOf(const std::vector<RawEntry>& entries) {
    Bytes area;
    for (const RawEntry& entry : entries) {
        const Bytes record = RecordBytes(entry);
        area.insert(area.end(), record.begin(), record.end());
    }
    return area;
}

// A sealed header announcing `areaSize` and `count`, the digest of `area`, then `area`.
inline Bytes SealedPackage(const Bytes& area, uint32_t count, uint32_t areaSize,
                           uint8_t seal = package::kDefaultSealByte) {
    Bytes image(package::kHeaderSize);
    std::memcpy(image.data(), package::kSignature, package::kSignatureSize);
    image[package::kSignatureSize] = seal;
    for (size_t k = 0; k < package::kSealBlockSize; ++k) {
        image[package::kSignatureSize + 1 + k] = uint8_t(image[k] ^ seal);
    }
    PutLittleEndian32(image.data() + 64, areaSize);
    PutLittleEndian32(image.data() + 68, count);
    const Md5Digest digest = Md5::Of(area.data(), area.size());
    std::memcpy(image.data() + 72, digest.bytes, 16);
    image.insert(image.end(), area.begin(), area.end());
    return image;
}

inline Bytes SealedPackage(const std::vector<RawEntry>& entries) {
    const Bytes area = AreaOf(entries);
    return SealedPackage(area, uint32_t(entries.size()), uint32_t(area.size()));
}

// Makes the digest of the header at `headerOffset` right again for the area it announces.
inline void ResealArea(Bytes* image, size_t headerOffset = 0) {
    const uint8_t* header = image->data() + headerOffset;
    const uint32_t areaSize = package::ReadLittleEndian32(header + 64);
    const Md5Digest digest = Md5::Of(header + package::kHeaderSize, areaSize);
    std::memcpy(image->data() + headerOffset + 72, digest.bytes, 16);
}

// Stands in for the setup program: its data holds the signature text, unsealed.
inline Bytes FakeProgram() {
    Bytes program = ToBytes("MZ\x90");
    program.resize(0x400, 0);
    const Bytes text = ToBytes(package::kSignature);
    program = Concat({program, text, {0}, NoiseBytes(0x300, 7), text});
    program.resize(0x1000, 0);
    return program;
}

} // namespace corvane::testing
