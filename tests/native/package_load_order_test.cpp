// A program of its own: it replaces inflateInit_ and operator new to watch the reader.
#include "package_test_support.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int> g_inflateStarts{0};
std::atomic<bool> g_watchAllocations{false};
std::atomic<size_t> g_largestAllocation{0};

void* Allocate(size_t size) {
    if (g_watchAllocations && size > g_largestAllocation) {
        g_largestAllocation = size; // the loads watched run on the test's thread alone
    }
    return std::malloc(size ? size : 1);
}

} // namespace

extern "C" int inflateInit_(z_streamp stream, const char* version, int streamSize) {
    using InflateInit = int (*)(z_streamp, const char*, int);
    static const auto real = reinterpret_cast<InflateInit>(dlsym(RTLD_NEXT, "inflateInit_"));
    ++g_inflateStarts;
    return real(stream, version, streamSize);
}

void* operator new(size_t size) {
    if (void* block = Allocate(size)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept {
    std::free(block);
}

namespace {

using namespace corvane::testing;
namespace package = corvane::package;

struct Watched {
    int result;
    int inflateStarts;
    size_t largestAllocation;
};

Watched LoadWatched(CPackedTools& reader, const Bytes& image) {
    g_inflateStarts = 0;
    g_largestAllocation = 0;
    g_watchAllocations = true;
    const int result = reader.LoadFromImage(image.data(), image.size());
    g_watchAllocations = false;
    return {result, g_inflateStarts, g_largestAllocation};
}

// The area digest refuses any wrong byte before zlib sees a stream or a size is trusted.
TEST(PackageLoadOrderTest, WrongAreaByteIsRefusedBeforeAnyInflate) {
    CPackedTools reader;
    const Bytes clean =
        Concat({FakeProgram(), package::BuildPackage({{"a.txt", ToBytes("alpha")},
                                                      {"big.bin", NoiseBytes(5000, 3)},
                                                      {"z.txt", Bytes(3000, 'z')}})});
    EXPECT_EQ(LoadWatched(reader, clean).inflateStarts, 3);
    const size_t areaStart = FakeProgram().size() + package::kHeaderSize;
    for (size_t at = areaStart; at < clean.size(); ++at) {
        Bytes image = clean;
        image[at] ^= 0x20;
        const Watched watched = LoadWatched(reader, image);
        ASSERT_EQ(watched.result, 0) << "area byte " << at - areaStart;
        EXPECT_EQ(reader.GetStatus(), CPackedTools::kDamaged);
        EXPECT_EQ(reader.GetEntryCount(), 0u);
        EXPECT_EQ(watched.inflateStarts, 0) << "area byte " << at - areaStart;
        EXPECT_LT(watched.largestAllocation, size_t(4096)) << "area byte " << at - areaStart;
    }
}

// Announced sizes and counts: no allocation for them, no read past the area, no long walk.
TEST(PackageLoadOrderTest, AnnouncedSizesAndCountsAreRefusedCheaply) {
    CPackedTools reader;
    const RawEntry first = EntryOf("first.txt", ToBytes("first"));
    const RawEntry last = EntryOf("last.txt", ToBytes("the last entry"));
    const Bytes area = AreaOf({first, last}), record = RecordBytes(last);
    const uint32_t size = uint32_t(area.size());
    const int64_t packed = last.packed.size(), name = last.name.size();
    const auto broken = [&](int64_t packedSize, int64_t nameLength) {
        RawEntry entry = last;
        entry.packedSizeField = packedSize;
        entry.nameLengthField = nameLength;
        return Concat({SealedPackage({first, entry}), NoiseBytes(record.size() + 64, 1)});
    };
    // 23 of the last record's 24 head bytes end the area; the rest of the record follows it.
    const Bytes cut = Concat({AreaOf({first}), Bytes(record.begin(), record.begin() + 23)});
    const std::pair<const char*, Bytes> cases[] = {
        {"record head cut short", Concat({SealedPackage(cut, 2, uint32_t(cut.size())),
                                          Bytes(record.begin() + 23, record.end())})},
        {"area size one past the end", SealedPackage(area, 2, size + 1)},
        {"area size 0xFFFFFFFF", SealedPackage(area, 2, 0xFFFFFFFF)},
        {"count one past the records", SealedPackage(area, 3, size)},
        {"count 0xFFFFFFFF", SealedPackage(area, 0xFFFFFFFF, size)},
        {"count without area", SealedPackage(Bytes{}, 0xFFFFFFFF, 0)},
        {"packed size one past the area", broken(packed + 1, -1)},
        {"packed size 0xFFFFFFFF", broken(0xFFFFFFFF, -1)},
        {"name length one past the area", broken(-1, name + packed + 1)},
        {"name length 0xFFFFFFFF", broken(-1, 0xFFFFFFFF)},
        {"name and packed size that only overflow together", broken(0x80000000, 0x80000000)},
        {"name length eating the packed data", broken(0, name + packed + 1)},
    };
    for (const auto& [what, image] : cases) {
        const auto start = std::chrono::steady_clock::now();
        const Watched watched = LoadWatched(reader, image);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << what;
        EXPECT_EQ(watched.result, 0) << what;
        EXPECT_EQ(reader.GetStatus(), CPackedTools::kDamaged) << what;
        EXPECT_EQ(reader.GetEntryCount(), 0u) << what;
        EXPECT_LT(watched.largestAllocation, size_t(64 * 1024)) << what;
    }
}

} // namespace
