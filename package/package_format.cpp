#include "package_format.h"

#include <cstdint>
#include <cstring>
#include <zlib.h>

namespace corvane::package {

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

void AppendLittleEndian32(std::vector<uint8_t>* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out->push_back(uint8_t(value >> (8 * i)));
    }
}

namespace {

bool IsSealedHeaderAt(const uint8_t* image, size_t length, size_t offset) {
    // The signature, then the seal byte and the 32-byte seal block.
    if (length - offset < kSignatureSize + 1 + kSealBlockSize) {
        return false;
    }
    const uint8_t* at = image + offset;
    if (std::memcmp(at, kSignature, kSignatureSize) != 0) {
        return false;
    }
    const uint8_t seal = at[kSignatureSize];
    const uint8_t* block = at + kSignatureSize + 1;
    for (size_t k = 0; k < kSealBlockSize; ++k) {
        if (block[k] != uint8_t(at[k] ^ seal)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<size_t> LocatePackage(const uint8_t* image, size_t length) {
    if (image == nullptr || length < kSignatureSize) {
        return std::nullopt;
    }
    const uint8_t first = uint8_t(kSignature[0]);
    for (size_t offset = 0; offset + kSignatureSize <= length; ++offset) {
        const void* hit = std::memchr(image + offset, first, length - offset);
        if (hit == nullptr) {
            break;
        }
        offset = size_t(static_cast<const uint8_t*>(hit) - image);
        if (IsSealedHeaderAt(image, length, offset)) {
            return offset;
        }
    }
    return std::nullopt;
}

bool ReadHeader(const uint8_t* image, size_t length, size_t offset, PackageHeader* header) {
    if (offset > length || length - offset < kHeaderSize) {
        return false;
    }
    const uint8_t* at = image + offset;
    header->offset = offset;
    header->sealByte = at[kSignatureSize];
    header->entriesAreaSize = ReadLittleEndian32(at + 64);
    header->entryCount = ReadLittleEndian32(at + 68);
    std::memcpy(header->entriesDigest.bytes, at + 72, 16);
    return header->entriesAreaSize <= length - offset - kHeaderSize;
}

EntryWalker::EntryWalker(const uint8_t* area, size_t areaSize, uint32_t entryCount)
    : m_area(area), m_areaSize(areaSize), m_remaining(entryCount) {}

EntryWalker::Step EntryWalker::Next(EntryRecord* record) {
    if (m_remaining == 0) {
        return Step::End;
    }
    size_t left = m_areaSize - m_position;
    if (left < kEntryHeadSize) {
        return Step::Damaged;
    }
    const uint8_t* head = m_area + m_position;
    const uint32_t packedSize = ReadLittleEndian32(head);
    const uint32_t nameLength = ReadLittleEndian32(head + 4);
    left -= kEntryHeadSize;
    if (nameLength > left || packedSize > left - nameLength) {
        return Step::Damaged;
    }
    record->packedSize = packedSize;
    std::memcpy(record->contentDigest.bytes, head + 8, 16);
    record->name =
        std::string_view(reinterpret_cast<const char*>(head + kEntryHeadSize), nameLength);
    record->packedData = head + kEntryHeadSize + nameLength;
    m_position += kEntryHeadSize + size_t(nameLength) + packedSize;
    --m_remaining;
    return Step::Entry;
}

bool InflateStream(const uint8_t* packed, size_t packedSize, uint8_t* buffer, size_t bufferSize,
                   std::string* out) {
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    stream.next_in = const_cast<Bytef*>(packed);
    stream.avail_in = uInt(packedSize);
    stream.next_out = buffer;
    stream.avail_out = uInt(bufferSize);
    // The interface version the reader was written against; any zlib since
    // accepts it.
    if (inflateInit_(&stream, "1.2.1", int(sizeof stream)) != Z_OK) {
        return false;
    }
    int flush = Z_NO_FLUSH;
    for (;;) {
        const int result = inflate(&stream, flush);
        if (result == Z_STREAM_END) {
            out->append(reinterpret_cast<const char*>(buffer), bufferSize - stream.avail_out);
            inflateEnd(&stream);
            return true;
        }
        if (result != Z_OK) {
            // Z_BUF_ERROR included: with all input given and Z_FINISH set, it
            // means the stream ended early.
            out->clear();
            inflateEnd(&stream);
            return false;
        }
        if (stream.avail_in == 0 && flush == Z_NO_FLUSH) {
            flush = Z_FINISH;
        }
        if (stream.avail_out == 0) {
            out->append(reinterpret_cast<const char*>(buffer), bufferSize);
            stream.next_out = buffer;
            stream.avail_out = uInt(bufferSize);
        }
    }
}

InflateOutcome InflateToBlock(const uint8_t* packed, size_t packedSize, uint8_t* buffer,
                              size_t bufferSize, uint64_t maxSize, Md5* digest, HeapBlock* block,
                              size_t* size) {
    // Each inflate call writes at most this much, so that the digest reads
    // the bytes while they are still in the cache.
    constexpr size_t kSlice = 256 * 1024;
    block->reset();
    *size = 0;
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    stream.next_in = const_cast<Bytef*>(packed);
    stream.avail_in = uInt(packedSize);
    if (inflateInit_(&stream, "1.2.1", int(sizeof stream)) != Z_OK) {
        return InflateOutcome::Damaged;
    }
    HeapBlock grown;
    uint8_t* out = buffer;
    size_t capacity = bufferSize;
    size_t produced = 0;
    int flush = Z_NO_FLUSH;
    InflateOutcome outcome = InflateOutcome::Damaged;
    for (;;) {
        const size_t room = capacity - produced < kSlice ? capacity - produced : kSlice;
        stream.next_out = out + produced;
        stream.avail_out = uInt(room);
        const int result = inflate(&stream, flush);
        const size_t made = room - stream.avail_out;
        digest->Update(out + produced, made);
        produced += made;
        if (produced > maxSize) {
            break;
        }
        if (result == Z_STREAM_END) {
            outcome = produced != 0 ? InflateOutcome::Done : InflateOutcome::Damaged;
            break;
        }
        if (result != Z_OK) {
            // Z_BUF_ERROR included: with all input given and Z_FINISH set, it
            // means the stream ended early.
            break;
        }
        if (stream.avail_in == 0 && flush == Z_NO_FLUSH) {
            flush = Z_FINISH;
        }
        if (produced < capacity) {
            continue;
        }
        // Full: twice the room, up to one byte past the most an entry may hold,
        // so that a longer stream is seen for what it is.
        const uint64_t limit = maxSize + 1 < SIZE_MAX ? maxSize + 1 : SIZE_MAX;
        const size_t larger = capacity <= limit / 2 ? capacity * 2 : size_t(limit);
        if (larger <= capacity) {
            break;
        }
        if (!grown) {
            grown.reset(static_cast<uint8_t*>(std::malloc(larger)));
            if (grown) {
                std::memcpy(grown.get(), buffer, produced);
            }
        } else if (void* moved = std::realloc(grown.get(), larger)) {
            grown.release();
            grown.reset(static_cast<uint8_t*>(moved));
        } else {
            grown.reset();
        }
        if (!grown) {
            outcome = InflateOutcome::OutOfMemory;
            break;
        }
        out = grown.get();
        capacity = larger;
    }
    inflateEnd(&stream);
    if (outcome != InflateOutcome::Done) {
        return outcome;
    }
    if (!grown) {
        grown.reset(static_cast<uint8_t*>(std::malloc(produced)));
        if (!grown) {
            return InflateOutcome::OutOfMemory;
        }
        std::memcpy(grown.get(), buffer, produced);
    } else if (produced < capacity) {
        // Giving back the unused end keeps the block where it is; should the
        // allocator refuse, the larger block serves as well.
        if (void* shrunk = std::realloc(grown.get(), produced)) {
            grown.release();
            grown.reset(static_cast<uint8_t*>(shrunk));
        }
    }
    *block = std::move(grown);
    *size = produced;
    return InflateOutcome::Done;
}

namespace {

bool IsDeviceName(std::string_view name) {
    // The device name is what comes before the first dot, blanks at its end
    // ignored: "nul.txt" and "COM1 .log" open devices too.
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    std::string upper;
    for (char c : stem) {
        upper += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$") {
        return true;
    }
    return upper.size() == 4 &&
           (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

} // namespace

const char* EntryNameFault(std::string_view name) {
    if (name.empty()) {
        return "the name is empty";
    }
    if (name == "." || name == "..") {
        return "\".\" and \"..\" name folders, not files";
    }
    for (char c : name) {
        if (c == '/' || c == '\\') {
            return "it contains a path separator";
        }
        if (c == ':') {
            return "it contains a colon (a drive or an alternate data stream on Windows)";
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return "it contains a control character";
        }
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
            return "it contains a character Windows does not allow in file names";
        }
    }
    if (name.back() == '.' || name.back() == ' ') {
        return "it ends with a dot or a blank, which Windows drops";
    }
    if (IsDeviceName(name)) {
        return "it is a device name on Windows";
    }
    return nullptr;
}

std::vector<uint8_t> BuildPackage(const std::vector<PackageInput>& entries, uint8_t sealByte) {
    std::vector<uint8_t> area;
    for (const PackageInput& entry : entries) {
        uLongf packedSize = compressBound(uLong(entry.content.size()));
        std::vector<uint8_t> packed(packedSize);
        // compress2 uses the default 32 KiB window, so every stream starts 0x78 0xDA.
        if (compress2(packed.data(), &packedSize, entry.content.data(), uLong(entry.content.size()),
                      Z_BEST_COMPRESSION) != Z_OK) {
            return {};
        }
        AppendLittleEndian32(&area, uint32_t(packedSize));
        AppendLittleEndian32(&area, uint32_t(entry.name.size()));
        const Md5Digest digest = Md5::Of(entry.content.data(), entry.content.size());
        area.insert(area.end(), digest.bytes, digest.bytes + 16);
        area.insert(area.end(), entry.name.begin(), entry.name.end());
        area.insert(area.end(), packed.begin(), packed.begin() + packedSize);
    }

    std::vector<uint8_t> package(kHeaderSize);
    uint8_t* header = package.data();
    std::memcpy(header, kSignature, kSignatureSize);
    header[kSignatureSize] = sealByte;
    for (size_t k = 0; k < kSealBlockSize; ++k) {
        header[kSignatureSize + 1 + k] = uint8_t(header[k] ^ sealByte);
    }
    const Md5Digest digest = Md5::Of(area.data(), area.size());
    for (int i = 0; i < 4; ++i) {
        header[64 + i] = uint8_t(area.size() >> (8 * i));
        header[68 + i] = uint8_t(entries.size() >> (8 * i));
    }
    std::memcpy(header + 72, digest.bytes, 16);
    package.insert(package.end(), area.begin(), area.end());
    return package;
}

} // namespace corvane::package
