// MD5 and the package reader on memory images: header scan, verification, the entry table.
#include "md5.h"
#include "package_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace corvane::testing;
namespace package = corvane::package;
using corvane::Md5;
using corvane::ToHex;

// A wrong digest makes every setup refuse its own payload, or accept a broken one.
TEST(Md5Test, MatchesTheRfcDigestsWholeAndInPieces) {
    const std::pair<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [message, digest] : vectors) {
        EXPECT_EQ(ToHex(Md5::Of(message.data(), message.size())), digest) << message;
        // Pieces across block and padding edges; empty null pieces (no memcpy from null).
        for (size_t piece : {1, 7, 55, 64}) {
            Md5 md5;
            for (size_t at = 0; at < message.size(); at += piece) {
                md5.Update(nullptr, 0);
                md5.Update(message.data() + at, std::min(piece, message.size() - at));
            }
            EXPECT_EQ(ToHex(md5.Final()), digest) << message.size() << " bytes by " << piece;
            md5.Update("abc", 3);
            EXPECT_EQ(ToHex(md5.Final()), vectors[1].second) << "Final starts a fresh digest";
        }
    }
}

Bytes SmallPackage(uint8_t seal = package::kDefaultSealByte) {
    return package::BuildPackage({{"readme.txt", ToBytes("Read me first.\r\n")},
                                  {"setup.ini", ToBytes("[Setup]\r\nMode=quiet\r\n")}},
                                 seal);
}

bool Locate(const Bytes& image, size_t* position) {
    return CPackedTools::LocatePackage(image.data(), image.size(), position);
}

void ExpectDamaged(const Bytes& image, const std::string& what) {
    const LoadOutcome outcome = Load(image);
    EXPECT_EQ(outcome.result, 0) << what;
    EXPECT_EQ(outcome.status, CPackedTools::kDamaged) << what;
    EXPECT_TRUE(outcome.entries.empty()) << what;
}

// Every seal block byte counts, and a broken seal does not stop the scan.
TEST(PackageLocateTest, SealBlockWithAnyWrongByteIsNoHeader) {
    for (size_t k = 0; k < package::kSealBlockSize; ++k) {
        Bytes decoy = SmallPackage();
        decoy[package::kSignatureSize + 1 + k] ^= 0x01;
        size_t position = 0;
        EXPECT_FALSE(Locate(decoy, &position)) << "seal block byte " << k;
        ExpectDamaged(decoy, "seal block byte " + std::to_string(k));
        EXPECT_TRUE(Locate(Concat({decoy, SmallPackage()}), &position));
        EXPECT_EQ(position, decoy.size()) << "seal block byte " << k;
    }
}

TEST(PackageVerifyTest, WrongEntriesDigestIsDamaged) {
    for (size_t at = 72; at < 88; ++at) {
        Bytes image = SmallPackage();
        image[at] ^= 0x10;
        ExpectDamaged(image, "digest byte " + std::to_string(at - 72));
    }
}

// Entries unpacked before the last one's wrong content digest must not stay.
TEST(PackageVerifyTest, WrongContentDigestOfTheLastEntryLeavesNoEntries) {
    std::vector<RawEntry> entries = {EntryOf("a.txt", ToBytes("alpha")),
                                     EntryOf("b.txt", ToBytes("bravo")),
                                     EntryOf("c.txt", ToBytes("charlie"))};
    EXPECT_EQ(Load(SealedPackage(entries)).entries.size(), 3u);
    entries.back().contentDigest.bytes[15] ^= 1;
    ExpectDamaged(Concat({FakeProgram(), SealedPackage(entries)}), "content digest of c.txt");
}

// Sizes at the edges of the 2 MiB inflate buffer, and of the block that takes over from it
// and doubles, catch an off-by-one where the output moves on. Numbered lines are
// compressible, yet a piece out of place changes the content.
TEST(PackageVerifyTest, EntriesLargerThanTheInflateBufferComeBackWhole) {
    const size_t buffer = CPackedTools::kInflateBufferSize;
    std::string lines;
    for (size_t number = 0; lines.size() < 4 * buffer + 3; ++number) {
        lines += "line " + std::to_string(number) + "\n";
    }
    const std::vector<package::PackageInput> inputs = {
        {"1-minus-1", NoiseBytes(buffer - 1, 6)},
        {"2-exactly", NoiseBytes(buffer, 7)},
        {"3-plus-1", NoiseBytes(buffer + 1, 8)},
        {"4-twice-plus-1", ToBytes(std::string_view(lines).substr(0, 2 * buffer + 1))},
        {"5-after-two-doublings", ToBytes(std::string_view(lines).substr(0, 4 * buffer + 3))}};
    const LoadOutcome outcome = Load(package::BuildPackage(inputs));
    ASSERT_EQ(outcome.status, CPackedTools::kReady);
    ASSERT_EQ(outcome.entries.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_TRUE(outcome.entries[i].second == inputs[i].content) << inputs[i].name;
    }
}

TEST(PackageVerifyTest, RecordHeadCutShortIsDamaged) {
    const Bytes record = RecordBytes(EntryOf("second.txt", ToBytes("second")));
    for (size_t kept = 0; kept < package::kEntryHeadSize; ++kept) {
        const Bytes area = Concat({AreaOf({EntryOf("first.txt", ToBytes("first"))}),
                                   Bytes(record.begin(), record.begin() + kept)});
        ExpectDamaged(Concat({SealedPackage(area, 2, uint32_t(area.size())), record}),
                      std::to_string(kept) + " bytes of the second record head");
    }
}

// Entry names become file names when a package is unpacked into a folder: reaching outside
// it, or a name Windows would not write as given (a device, or another name) is refused.
TEST(PackageEntryNameTest, OnlyPlainFileNamesWindowsWritesAsGivenAreAccepted) {
    for (const std::string name : {"readme.txt", "hxvhub.sys.amd64.v10", ".hidden", "a b.txt",
                                   "\xE9t\xE9.txt", "console.txt", "com10", "nul_device.txt"}) {
        EXPECT_TRUE(package::IsPlainEntryName(name)) << name;
    }
    EXPECT_FALSE(package::IsPlainEntryName(std::string("nul\0byte", 8)));
    for (const char* name : {"",
                             ".",
                             "..",
                             "../evil.dll",
                             "..\\evil.dll",
                             "sub/file.txt",
                             "\\\\server\\share\\x",
                             "C:evil.dll",
                             "file.txt:stream",
                             "tab\there",
                             "CON",
                             "nul.txt",
                             "NUL.tar.gz",
                             "Com1",
                             "LPT9.log",
                             "aux .txt",
                             "conin$",
                             "readme.txt.",
                             "readme.txt ",
                             "a<b",
                             "say\"hi\"",
                             "a|b",
                             "what?",
                             "star*",
                             "del\x7F"}) {
        EXPECT_FALSE(package::IsPlainEntryName(name)) << name;
    }
}

class PackageTableTest : public ::testing::Test {
protected:
    int LoadEntries(const std::vector<package::PackageInput>& entries) {
        image_ = Concat({FakeProgram(), package::BuildPackage(entries)});
        return reader_.LoadFromImage(image_.data(), image_.size());
    }
    Bytes Find(const char* name) const {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        if (reader_.FindEntry(name, &data, &size) != 1) {
            return ToBytes("(not found)");
        }
        return Bytes(data, data + size);
    }

    Bytes image_;
    CPackedTools reader_;
    const uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
};

// The later of two names wins, within a load and across loads; equal contents stay two.
// Files are written from handed-out pointers: they outlive a later load and the image.
TEST_F(PackageTableTest, LaterEntryOfTheSameNameWins) {
    ASSERT_EQ(LoadEntries({{"setup.ini", ToBytes("first")},
                           {"x86.sys", NoiseBytes(4096, 1)},
                           {"amd64.sys", NoiseBytes(4096, 1)},
                           {"setup.ini", ToBytes("second")}}),
              1);
    EXPECT_EQ(reader_.GetEntryCount(), 3u);
    EXPECT_EQ(Find("setup.ini"), ToBytes("second"));
    EXPECT_EQ(Find("amd64.sys"), NoiseBytes(4096, 1));
    ASSERT_EQ(reader_.FindEntry("x86.sys", &data_, &size_), 1);
    ASSERT_EQ(LoadEntries({{"x86.sys", ToBytes("x2")}, {"c.txt", ToBytes("c2")}}), 1);
    std::fill(image_.begin(), image_.end(), 0);
    image_ = Bytes();
    EXPECT_EQ(reader_.GetEntryCount(), 4u);
    EXPECT_EQ(Find("setup.ini"), ToBytes("second"));
    EXPECT_EQ(Find("x86.sys"), ToBytes("x2"));
    EXPECT_EQ(Bytes(data_, data_ + size_), NoiseBytes(4096, 1)) << "the replaced entry's bytes";
}

TEST_F(PackageTableTest, GetEntryAtNeedsRoomForTheTerminator) {
    ASSERT_EQ(LoadEntries({{"readme.txt", ToBytes("readme")}}), 1);
    char name[32];
    std::memset(name, '#', sizeof name);
    for (uint32_t bufferSize : {0u, 1u, 10u}) {
        EXPECT_EQ(reader_.GetEntryAt(0, name, bufferSize, &data_, &size_), 0) << bufferSize;
        EXPECT_EQ(reader_.GetStatus(), CPackedTools::kNameBufferTooSmall) << bufferSize;
        EXPECT_EQ(name[0], '#') << "nothing is copied into a buffer too small";
    }
    EXPECT_EQ(reader_.GetEntryAt(0, name, 11, &data_, &size_), 1);
    EXPECT_STREQ(name, "readme.txt");
    EXPECT_EQ(name[11], '#') << "no byte written past the terminator";
}

} // namespace
