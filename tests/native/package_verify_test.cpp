// Verifying a located package: the entries digest, the entry records, the zlib
// streams and the content digests. Every failure is "damaged" and leaves no
// entries behind.
#include "package_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace {

using namespace corvane::testing;
namespace package = corvane::package;

void ExpectDamaged(const Bytes& image, const std::string& what) {
    const LoadOutcome outcome = Load(image);
    EXPECT_EQ(outcome.result, 0) << what;
    EXPECT_EQ(outcome.status, CPackedTools::kDamaged) << what;
    EXPECT_TRUE(outcome.entries.empty()) << what;
}

// Any single wrong byte in the entries area, wherever it is (record head,
// name, zlib header, deflate data, Adler-32 trailer), is caught.
TEST(PackageVerifyTest, WrongByteAnywhereInTheEntriesAreaIsDamaged) {
    const Bytes program = FakeProgram();
    const Bytes clean = Concat({program, package::BuildPackage({{"one.txt", ToBytes("first entry")},
                                                                {"two.bin", NoiseBytes(300, 2)},
                                                                {"three.dat", Bytes(5000, 'z')}})});
    ASSERT_EQ(Load(clean).status, CPackedTools::kReady);
    const size_t areaStart = program.size() + package::kHeaderSize;
    for (size_t at = areaStart; at < clean.size(); ++at) {
        for (uint8_t flip : {0x01, 0x80}) {
            Bytes image = clean;
            image[at] ^= flip;
            ExpectDamaged(image, "area byte " + std::to_string(at - areaStart));
        }
    }
}

TEST(PackageVerifyTest, WrongEntriesDigestIsDamaged) {
    const Bytes clean = package::BuildPackage({{"one.txt", ToBytes("first entry")}});
    for (size_t at = 72; at < 88; ++at) {
        Bytes image = clean;
        image[at] ^= 0x10;
        ExpectDamaged(image, "digest byte " + std::to_string(at - 72));
    }
}

// The entries digest passes, but the last entry's content digest does not:
// the entries already unpacked before it must not stay in the table.
TEST(PackageVerifyTest, WrongContentDigestOfTheLastEntryLeavesNoEntries) {
    std::vector<RawEntry> entries = {EntryOf("a.txt", ToBytes("alpha")),
                                     EntryOf("b.txt", ToBytes("bravo")),
                                     EntryOf("c.txt", ToBytes("charlie"))};
    entries.back().contentDigest.bytes[15] ^= 1;
    ExpectDamaged(Concat({FakeProgram(), SealedPackage(entries)}), "content digest of c.txt");

    entries.back().contentDigest.bytes[15] ^= 1;
    const LoadOutcome outcome = Load(Concat({FakeProgram(), SealedPackage(entries)}));
    EXPECT_EQ(outcome.status, CPackedTools::kReady);
    EXPECT_EQ(outcome.entries.size(), 3u);
}

TEST(PackageVerifyTest, ZeroEntriesIsAValidEmptyPackage) {
    const LoadOutcome outcome = Load(Concat({FakeProgram(), package::BuildPackage({})}));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.status, CPackedTools::kReady);
    EXPECT_TRUE(outcome.entries.empty());
}

// Content beyond the 2 MiB inflate buffer is gathered across refills; sizes
// right at the buffer's edges catch an off-by-one in the last append.
TEST(PackageVerifyTest, EntriesLargerThanTheInflateBufferComeBackWhole) {
    const size_t buffer = CPackedTools::kInflateBufferSize;
    struct Case {
        const char* name;
        Bytes content;
    };
    std::vector<Case> cases;
    cases.push_back({"noise-5MiB", NoiseBytes(5u << 20, 5)});
    cases.push_back({"zeros-5MiB", Bytes(5u << 20, 0)});
    cases.push_back({"noise-2MiB-minus-1", NoiseBytes(buffer - 1, 6)});
    cases.push_back({"noise-2MiB", NoiseBytes(buffer, 7)});
    cases.push_back({"zeros-2MiB", Bytes(buffer, 0)});
    cases.push_back({"noise-2MiB-plus-1", NoiseBytes(buffer + 1, 8)});
    cases.push_back({"zeros-4MiB", Bytes(2 * buffer, 0)});
    Bytes text;
    while (text.size() < 3 * buffer + 12345) {
        const Bytes line = ToBytes("line " + std::to_string(text.size()) + " of a log file\r\n");
        text.insert(text.end(), line.begin(), line.end());
    }
    cases.push_back({"text-6MiB", text});

    std::vector<package::PackageInput> inputs;
    for (const Case& c : cases) {
        inputs.push_back({c.name, c.content});
    }
    const LoadOutcome outcome = Load(Concat({FakeProgram(), package::BuildPackage(inputs)}));
    ASSERT_EQ(outcome.status, CPackedTools::kReady);
    ASSERT_EQ(outcome.entries.size(), cases.size());
    for (const Case& c : cases) {
        const auto it = std::find_if(outcome.entries.begin(), outcome.entries.end(),
                                     [&](const auto& entry) { return entry.first == c.name; });
        ASSERT_NE(it, outcome.entries.end()) << c.name;
        EXPECT_EQ(it->second.size(), c.content.size()) << c.name;
        EXPECT_TRUE(it->second == c.content) << c.name;
    }
}

// Streams of other compression settings than the writer's are still zlib
// streams and must be read.
TEST(PackageVerifyTest, AnyValidZlibStreamIsAccepted) {
    const Bytes content = Concat({NoiseBytes(3000, 3), Bytes(70000, 'q'), NoiseBytes(100, 4)});
    const struct {
        int level;
        int windowBits;
    } settings[] = {{0, 15}, {1, 15}, {6, 9}, {9, 9}, {9, 12}, {Z_DEFAULT_COMPRESSION, 15}};
    for (const auto& setting : settings) {
        RawEntry entry = EntryOf("payload.bin", content);
        entry.packed = Deflate(content, setting.level, setting.windowBits);
        const LoadOutcome outcome = Load(SealedPackage({entry}));
        EXPECT_EQ(outcome.status, CPackedTools::kReady)
            << "level " << setting.level << ", window bits " << setting.windowBits;
        ASSERT_EQ(outcome.entries.size(), 1u);
        EXPECT_TRUE(outcome.entries[0].second == content);
    }
}

// Deflates all of `content` through a stream set up by the caller, and ends it.
Bytes FinishDeflate(z_stream* stream, const Bytes& content) {
    Bytes packed(deflateBound(stream, uLong(content.size())));
    stream->next_in = const_cast<Bytef*>(content.data());
    stream->avail_in = uInt(content.size());
    stream->next_out = packed.data();
    stream->avail_out = uInt(packed.size());
    deflate(stream, Z_FINISH);
    packed.resize(stream->total_out);
    deflateEnd(stream);
    return packed;
}

Bytes WithPresetDictionary(const Bytes& content) {
    z_stream stream{};
    deflateInit(&stream, 9);
    const char dictionary[] = "dictionary";
    deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary), sizeof dictionary);
    return FinishDeflate(&stream, content);
}

Bytes RawDeflate(const Bytes& content) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    return FinishDeflate(&stream, content);
}

// Each case replaces the packed data of the middle entry while the entries
// digest and the content digest stay right, so only the inflate can object.
TEST(PackageVerifyTest, PackedDataThatIsNoCompleteZlibStreamIsDamaged) {
    const Bytes content = Concat({ToBytes("header line\n"), NoiseBytes(40000, 11), Bytes(9000, 0)});
    const Bytes good = Deflate(content);
    const Bytes gzipHeader = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 3};

    const struct {
        const char* what;
        Bytes packed;
    } cases[] = {
        {"truncated by one byte", Bytes(good.begin(), good.end() - 1)},
        {"truncated in the Adler-32 trailer", Bytes(good.begin(), good.end() - 3)},
        {"truncated inside the deflate data", Bytes(good.begin(), good.begin() + good.size() / 2)},
        {"only the zlib header", Bytes(good.begin(), good.begin() + 2)},
        {"no packed data at all", Bytes{}},
        {"wrong Adler-32 trailer",
         [&] {
             Bytes bad = good;
             bad.back() ^= 0x01;
             return bad;
         }()},
        {"raw deflate without zlib header", RawDeflate(content)},
        {"gzip member", Concat({gzipHeader, RawDeflate(content)})},
        {"plain bytes", content},
        {"zlib header with a bad check value",
         [&] {
             Bytes bad = good;
             bad[1] ^= 0x01;
             return bad;
         }()},
        {"stream needing a preset dictionary", WithPresetDictionary(content)},
    };
    for (const auto& c : cases) {
        std::vector<RawEntry> entries = {EntryOf("first.txt", ToBytes("first")),
                                         EntryOf("middle.bin", content),
                                         EntryOf("last.txt", ToBytes("last"))};
        entries[1].packed = c.packed;
        ExpectDamaged(Concat({FakeProgram(), SealedPackage(entries)}), c.what);
    }
}

// An empty entry is never written; a stream that inflates to nothing is damage
// even when its digest is the digest of nothing.
TEST(PackageVerifyTest, EntryThatInflatesToNothingIsDamaged) {
    const RawEntry empty = EntryOf("empty.txt", Bytes{});
    ExpectDamaged(SealedPackage({EntryOf("a.txt", ToBytes("a")), empty}), "empty entry");
}

// The entries digest is right in every case: only the record walk can stop
// these, and it must do so without reading past the entries area.
TEST(PackageVerifyTest, RecordsRunningPastTheEntriesAreaAreDamaged) {
    const RawEntry first = EntryOf("first.txt", ToBytes("first"));
    const RawEntry last = EntryOf("last.txt", ToBytes("the last entry"));
    const uint32_t lastRecord = uint32_t(RecordBytes(last).size());
    const uint32_t lastPacked = uint32_t(last.packed.size());
    const uint32_t lastName = uint32_t(last.name.size());

    const struct {
        const char* what;
        int64_t packedSize;
        int64_t nameLength;
    } cases[] = {
        {"packed size one past the end", lastPacked + 1, -1},
        {"packed size far past the end", 0x10000000, -1},
        {"packed size 0xFFFFFFFF", 0xFFFFFFFF, -1},
        {"name length one past the end", -1, lastName + lastPacked + 1},
        {"name length 0xFFFFFFFF", -1, 0xFFFFFFFF},
        {"name and packed size that only overflow together", 0x80000000, 0x80000000},
        {"name length eating the packed data", 0, lastName + lastPacked + 1},
    };
    for (const auto& c : cases) {
        RawEntry broken = last;
        broken.packedSizeField = c.packedSize;
        broken.nameLengthField = c.nameLength;
        const Bytes area = AreaOf({first, broken});
        // Data after the area in the file would be readable memory; a walk
        // that overruns the area must still be caught.
        const Bytes image = Concat({FakeProgram(), SealedPackage(area, 2, uint32_t(area.size())),
                                    NoiseBytes(lastRecord + 64, 1)});
        ExpectDamaged(image, c.what);
    }
}

TEST(PackageVerifyTest, RecordHeadCutShortIsDamaged) {
    const RawEntry first = EntryOf("first.txt", ToBytes("first"));
    const Bytes record = RecordBytes(EntryOf("second.txt", ToBytes("second")));
    for (size_t kept = 0; kept < package::kEntryHeadSize; ++kept) {
        const Bytes area = Concat({AreaOf({first}), Bytes(record.begin(), record.begin() + kept)});
        const Bytes image = Concat({SealedPackage(area, 2, uint32_t(area.size())), record});
        ExpectDamaged(image, std::to_string(kept) + " bytes of the second record head");
    }
}

// A count far beyond what the area can hold must be refused as soon as the
// records run out, not after trying to reserve room for the count.
TEST(PackageVerifyTest, HugeEntryCountWithATinyAreaFailsFast) {
    const Bytes area = AreaOf({EntryOf("only.txt", ToBytes("only"))});
    for (uint32_t count : {2u, 1000u, 0x10000000u, 0xFFFFFFFFu}) {
        const auto start = std::chrono::steady_clock::now();
        ExpectDamaged(SealedPackage(area, count, uint32_t(area.size())), std::to_string(count));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << count;
    }
    // A header alone, no area, any count.
    ExpectDamaged(SealedPackage(Bytes{}, 0xFFFFFFFFu, 0), "count without area");
}

} // namespace
