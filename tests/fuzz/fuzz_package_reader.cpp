// The package reader on whole images; to get past the digests the input is also read,
// by its first byte, as 0: entries to write and get back; 1: an entries area under a
// right digest; 2: the same with right content digests, where the load must succeed
// exactly when every record is in bounds and inflates to something.
#include "fuzz_support.h"
#include "package_test_support.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace {

namespace package = corvane::package;
using namespace corvane::testing;

// Content beyond this is not checked: a few KiB may inflate to megabytes, not gigabytes.
constexpr size_t kMaxCheckedContent = 64u << 20;

// One reader for the run (its 2 MiB buffer costs more than a load); cleared per input.
CPackedTools& Reader() {
    static CPackedTools reader;
    reader.ClearEntries();
    return reader;
}

// Every lookup on what the load left, into name buffers of exactly the size passed.
void WalkTable(CPackedTools& reader, uint32_t nameSizeSeed) {
    for (uint32_t i = 0; i <= reader.GetEntryCount(); ++i) {
        const uint32_t nameSize = (nameSizeSeed + i * 7) % 40;
        const std::unique_ptr<char[]> name(new char[nameSize ? nameSize : 1]);
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        if (reader.GetEntryAt(i, name.get(), nameSize, &data, &size) != 1) {
            Require(i == reader.GetEntryCount() ||
                    reader.GetStatus() == CPackedTools::kNameBufferTooSmall);
            continue;
        }
        Require(i < reader.GetEntryCount() && size > 0);
        const volatile uint8_t touch = data[0] ^ data[size - 1]; // the bytes must be there
        (void)touch;
        const int status = reader.GetStatus();
        reader.FindEntry(name.get(), &data, &size);
        Require(reader.GetStatus() == status);
    }
}

// The unsealed signature text, as the setup program holds it, and a partial match.
Bytes ProgramPrefix(uint8_t variant) {
    return Concat(
        {{'M', 'Z'}, Bytes(size_t(variant % 5) * 7, 0), ToBytes(package::kSignature), {'M'}});
}

// Entries as the input lays them out (a name length byte, the name, a two-byte content
// length, the content) are written and must come back in name order.
void FuzzEntries(const uint8_t* at, const uint8_t* end) {
    const uint8_t seal = *at++;
    std::vector<package::PackageInput> entries;
    std::map<std::string, Bytes> expected;
    while (end - at >= 3 && size_t(end - at) >= 3u + at[0] % 48) {
        const std::string name(reinterpret_cast<const char*>(at + 1), at[0] % 48);
        at += 1 + name.size();
        const size_t length = std::min<size_t>(at[0] | at[1] << 8, end - at - 2);
        const Bytes content(at + 2, at + 2 + length);
        at += 2 + length;
        if (!content.empty()) { // never written: an entry is never empty
            expected[name] = content;
            entries.push_back({name, content});
        }
    }
    const Bytes image = Concat({ProgramPrefix(seal), package::BuildPackage(entries, seal)});
    CPackedTools& reader = Reader();
    Require(reader.LoadFromImage(image.data(), image.size()) == 1);
    Require(reader.GetEntryCount() == expected.size());
    uint32_t index = 0;
    for (const auto& [name, content] : expected) {
        char copied[64];
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        Require(reader.GetEntryAt(index++, copied, sizeof copied, &data, &size) == 1 &&
                std::memcmp(copied, name.c_str(), name.size() + 1) == 0);
        Require(size == content.size() && std::memcmp(data, content.data(), size) == 0);
    }
}

// An inflate written apart from the reader's, so that the two can disagree.
bool InflateAll(const uint8_t* packed, size_t size, Bytes* out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    stream.next_in = const_cast<Bytef*>(packed);
    stream.avail_in = uInt(size);
    uint8_t chunk[16384];
    int result;
    do {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        out->insert(out->end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    } while (result == Z_OK && out->size() <= kMaxCheckedContent);
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

void FuzzArea(const uint8_t* at, const uint8_t* end, bool fixContentDigests) {
    if (end - at < 2) {
        return;
    }
    const uint32_t count = at[0] % 8;
    const uint8_t seal = at[1];
    Bytes area(at + 2, end);
    bool expectLoaded = true;
    std::map<std::string, Bytes> expected;
    for (size_t i = 0, record = 0; fixContentDigests && i < count; ++i) {
        if (area.size() - record < package::kEntryHeadSize) {
            expectLoaded = false;
            break;
        }
        const uint32_t packedSize = package::ReadLittleEndian32(&area[record]);
        const uint32_t nameLength = package::ReadLittleEndian32(&area[record + 4]);
        const size_t nameAt = record + package::kEntryHeadSize;
        if (uint64_t(packedSize) + nameLength > area.size() - nameAt) {
            expectLoaded = false;
            break;
        }
        const uint8_t* packed = &area[nameAt + nameLength];
        Bytes content;
        const bool inflated = InflateAll(packed, packedSize, &content);
        if (!inflated && content.size() > kMaxCheckedContent) {
            return;
        }
        // A buffer of a few bytes refills on every record, as the reader's 2 MiB one may.
        std::string small;
        uint8_t buffer[97];
        Require(package::InflateStream(packed, packedSize, buffer, 1 + (seal + i) % sizeof buffer,
                                       &small) == inflated &&
                (!inflated || small == std::string(content.begin(), content.end())));
        if (!inflated || content.empty()) {
            expectLoaded = false;
            break;
        }
        const corvane::Md5Digest digest = corvane::Md5::Of(content.data(), content.size());
        std::memcpy(&area[record + 8], digest.bytes, 16);
        expected[std::string(reinterpret_cast<const char*>(&area[nameAt]), nameLength)] =
            std::move(content);
        record = nameAt + nameLength + packedSize;
    }
    const Bytes image =
        Concat({ProgramPrefix(seal), SealedPackage(area, count, uint32_t(area.size()), seal)});
    CPackedTools& reader = Reader();
    const int loaded = reader.LoadFromImage(image.data(), image.size());
    Require(loaded || reader.GetEntryCount() == 0);
    if (fixContentDigests) {
        Require(loaded == (expectLoaded ? 1 : 0));
        Require(!loaded || reader.GetEntryCount() == expected.size());
        for (const auto& [name, content] : expected) {
            const uint8_t* data = nullptr;
            uint32_t size = 0;
            Require(!loaded || name.find('\0') != std::string::npos ||
                    (reader.FindEntry(name.c_str(), &data, &size) == 1 && size == content.size() &&
                     std::memcmp(data, content.data(), size) == 0));
        }
    }
    WalkTable(reader, seal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CPackedTools& reader = Reader();
    Require(reader.LoadFromImage(data, size) || reader.GetEntryCount() == 0);
    WalkTable(reader, uint32_t(size));
    if (size > 1 && data[0] % 3 == 0) {
        FuzzEntries(data + 1, data + size);
    } else if (size > 0) {
        FuzzArea(data + 1, data + size, data[0] % 3 == 2);
    }
    return 0;
}
