// Finding the package header inside a whole program image, and refusing
// headers that announce more than the file holds.
#include "package_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace corvane::testing;
namespace package = corvane::package;

const Bytes& SmallPackage() {
    static const Bytes bytes =
        package::BuildPackage({{"readme.txt", ToBytes("Read me first.\r\n")},
                               {"setup.ini", ToBytes("[Setup]\r\nMode=quiet\r\n")}});
    return bytes;
}

size_t FoundAt(const Bytes& image) {
    size_t position = SIZE_MAX;
    EXPECT_TRUE(CPackedTools::LocatePackage(image.data(), image.size(), &position));
    return position;
}

TEST(PackageLocateTest, FindsThePackageAfterAProgramHoldingTheUnsealedText) {
    const Bytes program = FakeProgram();
    const Bytes image = Concat({program, SmallPackage()});
    EXPECT_EQ(FoundAt(image), program.size());
    const LoadOutcome outcome = Load(image);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.status, CPackedTools::kReady);
    EXPECT_EQ(outcome.entries.size(), 2u);
}

TEST(PackageLocateTest, ProgramWithoutPackageIsDamaged) {
    const Bytes program = FakeProgram();
    size_t position = 0;
    EXPECT_FALSE(CPackedTools::LocatePackage(program.data(), program.size(), &position));
    const LoadOutcome outcome = Load(program);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.status, CPackedTools::kDamaged);
}

TEST(PackageLocateTest, EmptyAndTinyImagesHaveNoPackage) {
    EXPECT_EQ(Load(Bytes{}).status, CPackedTools::kDamaged);
    EXPECT_EQ(Load(ToBytes("M")).status, CPackedTools::kDamaged);
    EXPECT_EQ(Load(ToBytes(package::kSignature)).status, CPackedTools::kDamaged);
    CPackedTools reader;
    EXPECT_EQ(reader.LoadFromImage(nullptr, 0), 0);
    EXPECT_EQ(reader.GetStatus(), CPackedTools::kDamaged);
}

// A signature whose first letter repeats right before it: a scan that skips
// ahead past a partial match would miss it.
TEST(PackageLocateTest, SignaturePrecededByPartialMatchesIsFound) {
    const Bytes prefixes[] = {ToBytes("M"), ToBytes("MM"), ToBytes("MarrowfendM"),
                              ToBytes("Marrowfend LLC installer syste"),
                              ToBytes("Marrowfend LLC installer systemM")};
    for (const Bytes& prefix : prefixes) {
        const Bytes image = Concat({prefix, SmallPackage()});
        EXPECT_EQ(FoundAt(image), prefix.size()) << std::string(prefix.begin(), prefix.end());
        EXPECT_EQ(Load(image).status, CPackedTools::kReady);
    }
}

// Every byte of the seal block counts, including its last one (always 0).
TEST(PackageLocateTest, SealBlockWithAnyWrongByteIsNoHeader) {
    for (size_t k = 0; k < package::kSealBlockSize; ++k) {
        Bytes image = SmallPackage();
        image[package::kSignatureSize + 1 + k] ^= 0x01;
        size_t position = 0;
        EXPECT_FALSE(CPackedTools::LocatePackage(image.data(), image.size(), &position))
            << "seal block byte " << k;
        EXPECT_EQ(Load(image).status, CPackedTools::kDamaged) << "seal block byte " << k;
    }
}

// A broken seal on the first occurrence does not stop the scan.
TEST(PackageLocateTest, FailedSealDoesNotStopTheScan) {
    Bytes decoy = SmallPackage();
    decoy[package::kSignatureSize + 1] ^= 0xFF;
    const Bytes image = Concat({decoy, SmallPackage()});
    EXPECT_EQ(FoundAt(image), decoy.size());
    EXPECT_EQ(Load(image).status, CPackedTools::kReady);
}

TEST(PackageLocateTest, FirstSealedHeaderWins) {
    const Bytes second = package::BuildPackage({{"other.txt", ToBytes("other")}});
    const LoadOutcome outcome = Load(Concat({FakeProgram(), SmallPackage(), second}));
    ASSERT_EQ(outcome.status, CPackedTools::kReady);
    ASSERT_EQ(outcome.entries.size(), 2u);
    EXPECT_EQ(outcome.entries[0].first, "readme.txt");
}

class PackageSealByteTest : public ::testing::TestWithParam<int> {};

TEST_P(PackageSealByteTest, AnySealByteIsAccepted) {
    const uint8_t seal = uint8_t(GetParam());
    const Bytes package = package::BuildPackage({{"a.bin", ToBytes("alpha")}}, seal);
    EXPECT_EQ(package[package::kSignatureSize], seal);
    EXPECT_EQ(package[package::kSignatureSize + package::kSealBlockSize], 0)
        << "the seal block's last byte is the seal byte XOR itself";
    const LoadOutcome outcome = Load(Concat({FakeProgram(), package}));
    EXPECT_EQ(outcome.status, CPackedTools::kReady);
    ASSERT_EQ(outcome.entries.size(), 1u);
    EXPECT_EQ(outcome.entries[0].second, ToBytes("alpha"));
}

INSTANTIATE_TEST_SUITE_P(Seals, PackageSealByteTest,
                         ::testing::Values(0x00, 0x01, 0x4D, 0x5A, 0x80, 0xFF));

// The signature needs 33 bytes after it (seal byte and seal block) to count
// as a header at all, and the full 88-byte header to be read.
TEST(PackageLocateTest, HeaderCutShortAtTheEndOfTheImage) {
    const Bytes program = FakeProgram();
    const Bytes header = package::BuildPackage({});
    ASSERT_EQ(header.size(), package::kHeaderSize);
    for (size_t kept = package::kSignatureSize; kept < package::kHeaderSize; ++kept) {
        const Bytes image = Concat({program, Bytes(header.begin(), header.begin() + kept)});
        size_t position = 0;
        const bool sealed = CPackedTools::LocatePackage(image.data(), image.size(), &position);
        EXPECT_EQ(sealed, kept >= package::kSignatureSize + 1 + package::kSealBlockSize)
            << kept << " header bytes";
        const LoadOutcome outcome = Load(image);
        EXPECT_EQ(outcome.result, 0) << kept << " header bytes";
        EXPECT_EQ(outcome.status, CPackedTools::kDamaged) << kept << " header bytes";
    }
    // The complete header of an empty package as the very last bytes.
    const LoadOutcome outcome = Load(Concat({program, header}));
    EXPECT_EQ(outcome.status, CPackedTools::kReady);
    EXPECT_TRUE(outcome.entries.empty());
}

TEST(PackageLocateTest, EntriesAreaEndingExactlyAtTheEndOfTheImageLoads) {
    const Bytes image = Concat({FakeProgram(), SmallPackage()});
    EXPECT_EQ(Load(image).status, CPackedTools::kReady);
}

// The header's digest covers exactly the bytes it announces, so a test can
// make the digest right and still announce more than the file holds.
TEST(PackageLocateTest, EntriesAreaRunningPastTheEndIsDamaged) {
    const Bytes area = AreaOf({EntryOf("a.txt", ToBytes("alpha"))});
    const uint32_t sizes[] = {uint32_t(area.size() + 1), uint32_t(area.size() + 4096), 0x7FFFFFFFu,
                              0xFFFFFFFFu, 0xFFFFFFA8u};
    for (uint32_t announced : sizes) {
        const Bytes image = Concat({FakeProgram(), SealedPackage(area, 1, announced)});
        const LoadOutcome outcome = Load(image);
        EXPECT_EQ(outcome.status, CPackedTools::kDamaged) << announced;
        EXPECT_TRUE(outcome.entries.empty());
    }
}

// What follows the entries area (zero padding, a certificate table) is not
// the reader's business.
TEST(PackageLocateTest, DataAfterTheEntriesAreaIsIgnored) {
    Bytes trailer(4096, 0);
    const Bytes noise = NoiseBytes(3000, 99);
    trailer.insert(trailer.end(), noise.begin(), noise.end());
    // A sealed header in the trailer must not matter either.
    const Bytes decoy = package::BuildPackage({{"decoy.txt", ToBytes("decoy")}});
    const LoadOutcome outcome = Load(Concat({FakeProgram(), SmallPackage(), trailer, decoy}));
    EXPECT_EQ(outcome.status, CPackedTools::kReady);
    ASSERT_EQ(outcome.entries.size(), 2u);
    EXPECT_EQ(outcome.entries[0].first, "readme.txt");
    EXPECT_EQ(outcome.entries[1].first, "setup.ini");
}

} // namespace
