// What the reader does before it trusts the entries area, watched from
// outside: zlib's inflateInit_ and the global operator new are replaced here
// to count inflates and see the largest allocation, so this is a program of
// its own.
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
    if (g_watchAllocations) {
        size_t largest = g_largestAllocation;
        while (size > largest && !g_largestAllocation.compare_exchange_weak(largest, size)) {
        }
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

// Any wrong byte of the entries area is refused by the entries digest before
// a stream reaches zlib, with nothing allocated for sizes read from the area
// and no entries left; a clean package inflates every entry.
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

// Sizes and counts in the header and the records may say anything: the
// reader allocates for what it unpacks, and stops as soon as the records run
// out instead of walking a huge count.
TEST(PackageLoadOrderTest, AnnouncedSizesAndCountsAllocateNothing) {
    CPackedTools reader;
    const RawEntry entry = EntryOf("a.txt", ToBytes("alpha"));
    const Bytes area = AreaOf({entry});
    RawEntry hugePacked = entry, hugeName = entry;
    hugePacked.packedSizeField = 0xFFFFFF00;
    hugeName.nameLengthField = 0x7FFFFFFF;
    const std::pair<const char*, Bytes> cases[] = {
        {"area size past the end", SealedPackage(area, 1, 0xFFFFFF00)},
        {"count past the records", SealedPackage(area, 2, uint32_t(area.size()))},
        {"huge count past the records", SealedPackage(area, 0x10000000, uint32_t(area.size()))},
        {"count 0xFFFFFFFF", SealedPackage(area, 0xFFFFFFFF, uint32_t(area.size()))},
        {"count without area", SealedPackage(Bytes{}, 0xFFFFFFFF, 0)},
        {"packed size past the area", SealedPackage({hugePacked})},
        {"name length past the area", SealedPackage({hugeName})},
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
