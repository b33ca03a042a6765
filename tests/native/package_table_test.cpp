// The reader's table of unpacked entries: lookups by name and by index, the
// statuses they leave, and what a second load does to entries already handed
// out.
#include "package_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace corvane::testing;
namespace package = corvane::package;

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
            ADD_FAILURE() << name << " not found";
            return {};
        }
        return Bytes(data, data + size);
    }

    Bytes image_;
    CPackedTools reader_;
};

TEST_F(PackageTableTest, LaterEntryOfTheSameNameWins) {
    ASSERT_EQ(LoadEntries({{"setup.ini", ToBytes("first")},
                           {"readme.txt", ToBytes("readme")},
                           {"setup.ini", ToBytes("second")}}),
              1);
    EXPECT_EQ(reader_.GetEntryCount(), 2u);
    EXPECT_EQ(Find("setup.ini"), ToBytes("second"));
}

TEST_F(PackageTableTest, EqualContentsUnderDifferentNamesAreTwoEntries) {
    ASSERT_EQ(LoadEntries({{"driver.sys.x86", ToBytes("same bytes")},
                           {"driver.sys.amd64", ToBytes("same bytes")}}),
              1);
    EXPECT_EQ(reader_.GetEntryCount(), 2u);
    EXPECT_EQ(Find("driver.sys.x86"), ToBytes("same bytes"));
    EXPECT_EQ(Find("driver.sys.amd64"), ToBytes("same bytes"));
}

// Names are byte strings: upper case before lower case, a prefix before its
// extensions, and bytes of 0x80 and above (as unsigned) after all of ASCII.
TEST_F(PackageTableTest, GetEntryAtWalksNamesInUnsignedByteOrder) {
    const std::vector<std::string> names = {"readme.txt",
                                            "\xE9t\xE9.txt",
                                            "Readme.txt",
                                            "hxvhub.sys.amd64.v10",
                                            "hxvhub.sys",
                                            "~tilde",
                                            "\x80",
                                            "\xFF",
                                            "a b",
                                            "a",
                                            "hxvhub.sys.amd64",
                                            "Z"};
    std::vector<package::PackageInput> inputs;
    for (const std::string& name : names) {
        inputs.push_back({name, ToBytes("content of " + name)});
    }
    ASSERT_EQ(LoadEntries(inputs), 1);

    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return uint8_t(x) < uint8_t(y); });
    });
    ASSERT_EQ(expected.back(), "\xFF");
    ASSERT_EQ(expected[expected.size() - 2], "\xE9t\xE9.txt");

    ASSERT_EQ(reader_.GetEntryCount(), names.size());
    for (uint32_t i = 0; i < names.size(); ++i) {
        char name[64];
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(reader_.GetEntryAt(i, name, sizeof name, &data, &size), 1) << i;
        EXPECT_EQ(name, expected[i]) << i;
        EXPECT_EQ(Bytes(data, data + size), ToBytes("content of " + expected[i]));
        EXPECT_EQ(reader_.GetStatus(), CPackedTools::kReady);
    }
}

TEST_F(PackageTableTest, GetEntryAtRefusesIndexesOutsideTheTable) {
    char name[32];
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    // Empty table after construction.
    EXPECT_EQ(reader_.GetEntryAt(0, name, sizeof name, &data, &size), 0);
    EXPECT_EQ(reader_.GetStatus(), CPackedTools::kIndexOutOfRange);

    ASSERT_EQ(LoadEntries({}), 1);
    EXPECT_EQ(reader_.GetEntryAt(0, name, sizeof name, &data, &size), 0);
    EXPECT_EQ(reader_.GetStatus(), CPackedTools::kIndexOutOfRange);

    ASSERT_EQ(LoadEntries({{"a.txt", ToBytes("a")}, {"b.txt", ToBytes("b")}}), 1);
    for (uint32_t index : {2u, 3u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(reader_.GetEntryAt(index, name, sizeof name, &data, &size), 0) << index;
        EXPECT_EQ(reader_.GetStatus(), CPackedTools::kIndexOutOfRange) << index;
    }
    EXPECT_EQ(reader_.GetEntryAt(1, name, sizeof name, &data, &size), 1);
    EXPECT_EQ(reader_.GetStatus(), CPackedTools::kReady);
    EXPECT_STREQ(name, "b.txt");
}

TEST_F(PackageTableTest, GetEntryAtNeedsRoomForTheTerminator) {
    ASSERT_EQ(LoadEntries({{"readme.txt", ToBytes("readme")}}), 1);
    const uint32_t length = uint32_t(std::strlen("readme.txt"));
    char name[32];
    std::memset(name, '#', sizeof name);
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    for (uint32_t bufferSize : {0u, 1u, length - 1, length}) {
        EXPECT_EQ(reader_.GetEntryAt(0, name, bufferSize, &data, &size), 0) << bufferSize;
        EXPECT_EQ(reader_.GetStatus(), CPackedTools::kNameBufferTooSmall) << bufferSize;
        EXPECT_EQ(name[0], '#') << "nothing is copied into a buffer too small";
    }
    EXPECT_EQ(reader_.GetEntryAt(0, name, length + 1, &data, &size), 1);
    EXPECT_STREQ(name, "readme.txt");
    EXPECT_EQ(name[length + 1], '#') << "no byte written past the terminator";
    EXPECT_EQ(reader_.GetStatus(), CPackedTools::kReady);
}

TEST_F(PackageTableTest, FindEntryLeavesTheStatusAsItWas) {
    ASSERT_EQ(LoadEntries({{"a.txt", ToBytes("a")}}), 1);
    char name[8];
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(reader_.GetEntryAt(5, name, sizeof name, &data, &size), 0);
    ASSERT_EQ(reader_.GetStatus(), CPackedTools::kIndexOutOfRange);

    EXPECT_EQ(reader_.FindEntry("missing.txt", &data, &size), 0);
    EXPECT_EQ(reader_.GetStatus(), CPackedTools::kIndexOutOfRange);
    EXPECT_EQ(reader_.FindEntry("a.txt", &data, &size), 1);
    EXPECT_EQ(reader_.GetStatus(), CPackedTools::kIndexOutOfRange);
    // Names are matched exactly, not case-folded or by prefix.
    EXPECT_EQ(reader_.FindEntry("A.TXT", &data, &size), 0);
    EXPECT_EQ(reader_.FindEntry("a.tx", &data, &size), 0);
    EXPECT_EQ(reader_.FindEntry("", &data, &size), 0);
}

// A second load adds to the table, and a later entry of the same name wins
// across loads as within one.
TEST_F(PackageTableTest, SecondLoadAddsToAndReplacesEntries) {
    ASSERT_EQ(LoadEntries({{"a.txt", ToBytes("a1")}, {"b.txt", ToBytes("b1")}}), 1);
    ASSERT_EQ(LoadEntries({{"b.txt", ToBytes("b2")}, {"c.txt", ToBytes("c2")}}), 1);
    EXPECT_EQ(reader_.GetEntryCount(), 3u);
    EXPECT_EQ(Find("a.txt"), ToBytes("a1"));
    EXPECT_EQ(Find("b.txt"), ToBytes("b2"));
    EXPECT_EQ(Find("c.txt"), ToBytes("c2"));
}

// Callers keep the data pointers they were handed (the install process writes
// files from them) for as long as the reader lives and the table is not
// cleared; a later load that replaces the entry must not pull the bytes away.
TEST_F(PackageTableTest, DataPointersSurviveASecondLoadThatReplacesTheEntry) {
    const Bytes firstContent = NoiseBytes(4096, 1);
    ASSERT_EQ(LoadEntries({{"driver.sys", firstContent}}), 1);
    const uint8_t* first = nullptr;
    uint32_t firstSize = 0;
    ASSERT_EQ(reader_.FindEntry("driver.sys", &first, &firstSize), 1);

    ASSERT_EQ(LoadEntries({{"driver.sys", NoiseBytes(4096, 2)}, {"other.txt", ToBytes("x")}}), 1);
    EXPECT_EQ(Find("driver.sys"), NoiseBytes(4096, 2));
    ASSERT_EQ(firstSize, firstContent.size());
    EXPECT_TRUE(std::memcmp(first, firstContent.data(), firstSize) == 0);
}

TEST_F(PackageTableTest, FailedSecondLoadEmptiesTheTable) {
    ASSERT_EQ(LoadEntries({{"a.txt", ToBytes("a1")}}), 1);
    Bytes damaged = Concat({FakeProgram(), package::BuildPackage({{"b.txt", ToBytes("b")}})});
    damaged.back() ^= 1;
    EXPECT_EQ(reader_.LoadFromImage(damaged.data(), damaged.size()), 0);
    EXPECT_EQ(reader_.GetStatus(), CPackedTools::kDamaged);
    EXPECT_EQ(reader_.GetEntryCount(), 0u);
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(reader_.FindEntry("a.txt", &data, &size), 0);
}

TEST_F(PackageTableTest, ClearEntriesEmptiesTheTableAndALoadRefillsIt) {
    ASSERT_EQ(LoadEntries({{"a.txt", ToBytes("a1")}, {"b.txt", ToBytes("b1")}}), 1);
    reader_.ClearEntries();
    EXPECT_EQ(reader_.GetEntryCount(), 0u);
    ASSERT_EQ(LoadEntries({{"c.txt", ToBytes("c1")}}), 1);
    EXPECT_EQ(reader_.GetEntryCount(), 1u);
    EXPECT_EQ(Find("c.txt"), ToBytes("c1"));
}

// The table holds copies: the file image is freed right after the load.
TEST_F(PackageTableTest, EntriesOutliveTheFileImage) {
    ASSERT_EQ(LoadEntries({{"a.txt", ToBytes("alpha")}}), 1);
    std::fill(image_.begin(), image_.end(), 0);
    image_.clear();
    image_.shrink_to_fit();
    EXPECT_EQ(Find("a.txt"), ToBytes("alpha"));
}

} // namespace
