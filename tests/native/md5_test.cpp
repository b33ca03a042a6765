// A wrong digest makes every setup refuse its own payload, or accept a broken one.
#include "md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using corvane::Md5;
using corvane::ToHex;

std::string HexOf(const void* data, size_t size) {
    return ToHex(Md5::Of(data, size));
}

std::vector<uint8_t> Pattern(size_t size, unsigned period) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = uint8_t(i % period);
    }
    return bytes;
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, MatchesTheRfcDigests) {
    const std::pair<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890"
         "1234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [message, digest] : vectors) {
        EXPECT_EQ(HexOf(message.data(), message.size()), digest) << message;
    }
}

// Pieces across block and padding edges, and empty null pieces (no memcpy from null).
TEST(Md5Test, PiecewiseUpdateMatchesOneShot) {
    const std::vector<uint8_t> data = Pattern(1000, 251);
    for (size_t total : {0, 1, 3, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000}) {
        const std::string expected = HexOf(data.data(), total);
        for (size_t piece : {1, 3, 7, 13, 55, 56, 63, 64, 65, 127, 200}) {
            Md5 md5;
            for (size_t at = 0; at < total; at += piece) {
                md5.Update(nullptr, 0);
                md5.Update(data.data() + at, std::min(piece, total - at));
            }
            EXPECT_EQ(ToHex(md5.Final()), expected) << total << " bytes in pieces of " << piece;
        }
    }
    EXPECT_EQ(HexOf(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5Test, FinalStartsAFreshDigest) {
    Md5 md5;
    md5.Update("abc", 3);
    md5.Final();
    md5.Update("a", 1);
    EXPECT_EQ(ToHex(md5.Final()), "0cc175b9c0f1b6a831c399e269772661");
}

// Past 512 MiB the bit length needs its high word (reference digest from md5sum).
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
