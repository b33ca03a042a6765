// MD5 is what decides whether a package is damaged: a wrong digest routine
// would make every setup program refuse its own payload, or accept a broken one.
#include "md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using corvane::Md5;
using corvane::ToHex;

std::string HexOf(const std::string& text) {
    return ToHex(Md5::Of(text.data(), text.size()));
}

struct Rfc1321Vector {
    const char* message;
    const char* digest;
};

class Md5Rfc1321Test : public ::testing::TestWithParam<Rfc1321Vector> {};

// The test suite of RFC 1321, appendix A.5.
TEST_P(Md5Rfc1321Test, MatchesTheRfcDigest) {
    EXPECT_EQ(HexOf(GetParam().message), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc1321, Md5Rfc1321Test,
    ::testing::Values(
        Rfc1321Vector{"", "d41d8cd98f00b204e9800998ecf8427e"},
        Rfc1321Vector{"a", "0cc175b9c0f1b6a831c399e269772661"},
        Rfc1321Vector{"abc", "900150983cd24fb0d6963f7d28e17f72"},
        Rfc1321Vector{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        Rfc1321Vector{"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        Rfc1321Vector{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                      "d174ab98d277d9f5a5611c2c9f419d9f"},
        Rfc1321Vector{"1234567890123456789012345678901234567890123456789012345678901234567890"
                      "1234567890",
                      "57edf4a22be3c955ac49da2e2107b67a"}));

std::vector<uint8_t> Pattern(size_t size, unsigned period) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = uint8_t(i % period);
    }
    return bytes;
}

// Feeding the same bytes in pieces must give the one-shot digest, whatever
// the piece size does to the 64-byte block boundaries and the 56-byte padding
// threshold.
TEST(Md5Test, PiecewiseUpdateMatchesOneShot) {
    const std::vector<uint8_t> data = Pattern(1000, 251);
    const size_t totals[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000};
    const size_t pieces[] = {1, 3, 7, 13, 55, 56, 63, 64, 65, 127, 200};
    for (size_t total : totals) {
        const auto expected = Md5::Of(data.data(), total);
        for (size_t piece : pieces) {
            Md5 md5;
            for (size_t at = 0; at < total; at += piece) {
                md5.Update(data.data() + at, std::min(piece, total - at));
            }
            EXPECT_EQ(ToHex(md5.Final()), ToHex(expected))
                << total << " bytes in pieces of " << piece;
        }
    }
}

TEST(Md5Test, UnevenPiecesAndEmptyUpdatesMatchOneShot) {
    const std::vector<uint8_t> data = Pattern(5000, 256);
    Md5 md5;
    size_t at = 0;
    for (size_t piece = 0; at < data.size(); piece = (piece * 7 + 5) % 150) {
        const size_t take = std::min(piece, data.size() - at);
        md5.Update(data.data() + at, take);
        at += take;
    }
    EXPECT_EQ(ToHex(md5.Final()), ToHex(Md5::Of(data.data(), data.size())));
}

// An empty buffer's data() may be null; hashing it must be a no-op at any
// point of a block, not a memcpy from null (which UBSan reports).
TEST(Md5Test, EmptyUpdateWithNullDataChangesNothing) {
    const std::vector<uint8_t> empty;
    for (size_t before : {0, 3, 63, 64}) {
        const std::vector<uint8_t> data = Pattern(before + 5, 251);
        Md5 md5;
        md5.Update(data.data(), before);
        md5.Update(empty.data(), 0);
        md5.Update(nullptr, 0);
        md5.Update(data.data() + before, 5);
        EXPECT_EQ(ToHex(md5.Final()), ToHex(Md5::Of(data.data(), data.size()))) << before;
    }
    EXPECT_EQ(ToHex(Md5::Of(nullptr, 0)), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5Test, FinalStartsAFreshDigest) {
    Md5 md5;
    md5.Update("abc", 3);
    md5.Final();
    md5.Update("a", 1);
    EXPECT_EQ(ToHex(md5.Final()), "0cc175b9c0f1b6a831c399e269772661");
}

// References computed with md5sum over the same byte pattern.
TEST(Md5Test, LargeInputMatchesReference) {
    const std::vector<uint8_t> data = Pattern((64u << 20) + 3, 251);
    EXPECT_EQ(ToHex(Md5::Of(data.data(), data.size())), "9df8c637af663bd37e6f51e616c6980c");
}

// Past 512 MiB the message length in bits no longer fits 32 bits, so the high
// word of the length field in the padding is used.
TEST(Md5Test, InputLongerThanFourGigabitsMatchesReference) {
    const std::vector<uint8_t> block = Pattern(1u << 20, 253);
    Md5 md5;
    for (int i = 0; i < 520; ++i) {
        md5.Update(block.data(), block.size());
    }
    md5.Update(block.data(), 17);
    EXPECT_EQ(ToHex(md5.Final()), "46378438b6f3a12b083143fd1abb29f9");
}

} // namespace
