// Byte layout of the package appended to a setup program, shared by the reader
// in the setup program and by the package tool that writes it.
//
// Header (88 bytes, little-endian): 31-byte signature, seal byte, 32-byte seal
// block (signature + seal byte, each XORed with the seal byte), entries-area
// size, entry count, MD5 of the entries area. Entries follow back to back:
// packed size, name length, MD5 of the unpacked content, name, zlib stream.
#pragma once

#include "md5.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::package {

inline constexpr size_t kSignatureSize = 31;
inline constexpr size_t kSealBlockSize = 32;
inline constexpr size_t kHeaderSize = 88;
inline constexpr size_t kEntryHeadSize = 24;
inline constexpr uint8_t kDefaultSealByte = 0x5A;

// The reader's own copy of this text sits in the program's data too; only an
// occurrence followed by a valid seal counts as the package header.
inline constexpr char kSignature[] = "Marrowfend LLC installer system";
static_assert(sizeof kSignature - 1 == kSignatureSize);

struct PackageHeader {
    size_t offset = 0; // of the header in the file image
    uint8_t sealByte = 0;
    uint32_t entriesAreaSize = 0;
    uint32_t entryCount = 0;
    Md5Digest entriesDigest{};

    size_t EntriesAreaOffset() const { return offset + kHeaderSize; }
};

// Offset of the first sealed header in the image. Every offset is tried; an
// occurrence of the signature without a valid seal after it is skipped.
std::optional<size_t> LocatePackage(const uint8_t* image, size_t length);

// Reads the header at `offset`. Fails when the header or the entries area it
// announces would run past the end of the image.
bool ReadHeader(const uint8_t* image, size_t length, size_t offset, PackageHeader* header);

struct EntryRecord {
    std::string_view name;
    const uint8_t* packedData = nullptr;
    uint32_t packedSize = 0;
    Md5Digest contentDigest{};
};

// Walks the entry records of an entries area. Never reads outside it: a record
// whose head, name or packed data would run past the area's end is damage.
class EntryWalker {
public:
    enum class Step { Entry, End, Damaged };

    EntryWalker(const uint8_t* area, size_t areaSize, uint32_t entryCount);
    Step Next(EntryRecord* record);
    size_t Position() const { return m_position; }

private:
    const uint8_t* m_area;
    size_t m_areaSize;
    uint32_t m_remaining;
    size_t m_position = 0;
};

// Inflates one zlib stream into `out` (appending), `bufferSize` bytes at a time
// through `buffer`. Returns false, with `out` emptied, when the stream is not a
// complete valid zlib stream.
bool InflateStream(const uint8_t* packed, size_t packedSize, uint8_t* buffer, size_t bufferSize,
                   std::string* out);

struct FreeBlock {
    void operator()(uint8_t* block) const { std::free(block); }
};
// A block from malloc, so that it can grow with realloc, which may move it
// without copying.
using HeapBlock = std::unique_ptr<uint8_t, FreeBlock>;

enum class InflateOutcome { Done, Damaged, OutOfMemory };

// Inflates one zlib stream into a block of its own, holding exactly the
// unpacked bytes, and passes every byte to `digest` as it comes out, while it
// is still in the cache. The first `bufferSize` bytes go through `buffer`; a
// stream that ends there is copied once into a block of its size, a longer one
// moves into a block that then receives the output directly and doubles when
// full. Damaged: not a complete valid zlib stream, no bytes, or more than
// `maxSize` bytes. On any outcome but Done `*block` is left empty.
InflateOutcome InflateToBlock(const uint8_t* packed, size_t packedSize, uint8_t* buffer,
                              size_t bufferSize, uint64_t maxSize, Md5* digest, HeapBlock* block,
                              size_t* size);

// Why `name` is not a plain file name that Windows writes as given into a
// folder, or nullptr when it is one. Refused: empty, "." and "..", path
// separators, colons (drives, alternate data streams), control characters,
// the characters Windows reserves (< > " | ? *), a trailing dot or blank
// (Windows drops them, so the file would get another name) and the device
// names (CON, NUL, COM1, LPT1, ... with or without an extension), which open
// a device instead of a file.
const char* EntryNameFault(std::string_view name);
inline bool IsPlainEntryName(std::string_view name) {
    return EntryNameFault(name) == nullptr;
}

struct PackageInput {
    std::string name;
    std::vector<uint8_t> content;
};

// Builds a package from entries in the given order: each entry deflated at the
// maximum level with the default window, so the same inputs always give the
// same bytes.
std::vector<uint8_t> BuildPackage(const std::vector<PackageInput>& entries,
                                  uint8_t sealByte = kDefaultSealByte);

uint32_t ReadLittleEndian32(const uint8_t* bytes);
void AppendLittleEndian32(std::vector<uint8_t>* out, uint32_t value);

} // namespace corvane::package
