// The package reader on whole images; to get past the digests the input is also read,
// by its first byte, as 0: entries to write and get back; 1: an entries area under a
// right digest; 2: the same with right content digests, where the load must succeed
// exactly when every record is in bounds and inflates to something.
#include "package_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

namespace package = corvane::package;
using namespace corvane::testing;

// Content beyond this is not checked: a few KiB may inflate to megabytes, not gigabytes.
constexpr size_t kMaxCheckedContent = 64u << 20;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_package_reader: %s\n", what);
        std::abort();
    }
}

// One reader for the run (its 2 MiB buffer costs more than a load); cleared per input.
CPackedTools& Reader() {
    static CPackedTools reader;
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
            Check(i == reader.GetEntryCount() ||
                      reader.GetStatus() == CPackedTools::kNameBufferTooSmall,
                  "GetEntryAt refused an index inside the table");
            continue;
        }
        Check(i < reader.GetEntryCount(), "GetEntryAt past the count");
        Check(size > 0, "empty entry in the table");
        volatile uint8_t touch = data[0] ^ data[size - 1];
        (void)touch;
        const int status = reader.GetStatus();
        reader.FindEntry(name.get(), &data, &size);
        Check(reader.GetStatus() == status, "FindEntry changed the status");
    }
}

struct Cursor {
    const uint8_t* at;
    size_t left;
    bool Take(size_t count, const uint8_t** out) {
        if (left < count) {
            return false;
        }
        *out = at;
        at += count;
        left -= count;
        return true;
    }
};

// The unsealed signature text, as the setup program holds it, and a partial match.
Bytes ProgramPrefix(uint8_t variant) {
    return Concat(
        {{'M', 'Z'}, Bytes(size_t(variant % 5) * 7, 0), ToBytes(package::kSignature), {'M'}});
}

void FuzzEntries(Cursor input) {
    const uint8_t* seal = nullptr;
    if (!input.Take(1, &seal)) {
        return;
    }
    std::vector<package::PackageInput> entries;
    std::map<std::string, Bytes> expected;
    const uint8_t* field = nullptr;
    while (input.Take(1, &field)) {
        const size_t nameLength = field[0] % 48;
        const uint8_t* name = nullptr;
        if (!input.Take(nameLength, &name) || !input.Take(2, &field)) {
            break;
        }
        size_t contentLength = size_t(field[0]) | size_t(field[1]) << 8;
        contentLength = contentLength < input.left ? contentLength : input.left;
        const uint8_t* content = nullptr;
        input.Take(contentLength, &content);
        if (contentLength == 0) {
            continue; // never written: an entry is never empty
        }
        package::PackageInput entry;
        entry.name.assign(reinterpret_cast<const char*>(name), nameLength);
        entry.content.assign(content, content + contentLength);
        expected[entry.name] = entry.content;
        entries.push_back(std::move(entry));
    }

    const Bytes image = Concat({ProgramPrefix(*seal), package::BuildPackage(entries, *seal),
                                Bytes(size_t(*seal % 3) * 100, 0)});

    CPackedTools& reader = Reader();
    reader.ClearEntries();
    Check(reader.LoadFromImage(image.data(), image.size()) == 1, "written package not loaded");
    Check(reader.GetEntryCount() == expected.size(), "wrong entry count");
    uint32_t index = 0;
    for (const auto& [name, content] : expected) {
        char copied[64];
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        Check(reader.GetEntryAt(index++, copied, sizeof copied, &data, &size) == 1,
              "GetEntryAt refused an entry");
        Check(std::memcmp(copied, name.c_str(), name.size() + 1) == 0, "names out of order");
        Check(size == content.size() && std::memcmp(data, content.data(), size) == 0,
              "entry content differs from what was written");
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

void FuzzArea(Cursor input, bool fixContentDigests) {
    const uint8_t* fields = nullptr;
    if (!input.Take(2, &fields)) {
        return;
    }
    const uint32_t count = fields[0] % 8;
    const uint8_t seal = fields[1];
    Bytes area(input.at, input.at + input.left);

    bool expectLoaded = true;
    std::map<std::string, Bytes> expected;
    if (fixContentDigests) {
        size_t at = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (area.size() - at < package::kEntryHeadSize) {
                expectLoaded = false;
                break;
            }
            const uint32_t packedSize = package::ReadLittleEndian32(&area[at]);
            const uint32_t nameLength = package::ReadLittleEndian32(&area[at + 4]);
            const size_t left = area.size() - at - package::kEntryHeadSize;
            if (uint64_t(packedSize) + nameLength > left) {
                expectLoaded = false;
                break;
            }
            const size_t nameAt = at + package::kEntryHeadSize;
            const uint8_t* packed = &area[nameAt + nameLength];
            Bytes content;
            const bool inflated = InflateAll(packed, packedSize, &content);
            if (!inflated && content.size() > kMaxCheckedContent) {
                return;
            }
            // A buffer of a few bytes refills on every record, as the reader's 2 MiB one may.
            std::string small;
            uint8_t buffer[97];
            const bool smallInflated = package::InflateStream(
                packed, packedSize, buffer, 1 + (seal + i) % sizeof buffer, &small);
            Check(smallInflated == inflated, "small-buffer inflate disagrees on validity");
            Check(!inflated || (small.size() == content.size() &&
                                std::memcmp(small.data(), content.data(), small.size()) == 0),
                  "small-buffer inflate gives other content");
            if (!inflated || content.empty()) {
                expectLoaded = false;
                break;
            }
            const corvane::Md5Digest digest = corvane::Md5::Of(content.data(), content.size());
            std::memcpy(&area[at + 8], digest.bytes, 16);
            expected[std::string(reinterpret_cast<const char*>(&area[nameAt]), nameLength)] =
                std::move(content);
            at = nameAt + nameLength + packedSize;
        }
    }

    const Bytes image =
        Concat({ProgramPrefix(seal), SealedPackage(area, count, uint32_t(area.size()), seal)});

    CPackedTools& reader = Reader();
    reader.ClearEntries();
    const int loaded = reader.LoadFromImage(image.data(), image.size());
    if (!loaded) {
        Check(reader.GetEntryCount() == 0, "failed load left entries");
    }
    if (fixContentDigests) {
        Check(loaded == (expectLoaded ? 1 : 0), "reader and independent walk disagree");
        if (loaded) {
            Check(reader.GetEntryCount() == expected.size(), "wrong entry count");
            for (const auto& [name, content] : expected) {
                if (name.find('\0') != std::string::npos) {
                    continue;
                }
                const uint8_t* data = nullptr;
                uint32_t size = 0;
                Check(reader.FindEntry(name.c_str(), &data, &size) == 1, "entry not found");
                Check(size == content.size() && std::memcmp(data, content.data(), size) == 0,
                      "entry content differs from the independent inflate");
            }
        }
    }
    WalkTable(reader, seal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CPackedTools& reader = Reader();
    reader.ClearEntries();
    if (!reader.LoadFromImage(data, size)) {
        Check(reader.GetEntryCount() == 0, "failed load left entries");
    }
    WalkTable(reader, uint32_t(size));

    if (size < 1) {
        return 0;
    }
    const Cursor rest{data + 1, size - 1};
    if (data[0] % 3 == 0) {
        FuzzEntries(rest);
    } else {
        FuzzArea(rest, data[0] % 3 == 2);
    }
    return 0;
}
