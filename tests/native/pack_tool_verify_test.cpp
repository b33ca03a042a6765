// corvane-pack verify, list and extract on damaged and hostile packages: the
// verdict is the reader's, the message points at the fault.
#include "pack_tool_test_support.h"

#include "md5.h"

#include <cstring>

namespace corvane::pack::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr size_t kFirstRecord = package::kHeaderSize;
constexpr size_t kEntryHead = package::kEntryHeadSize;

void PutLittleEndian32(std::vector<uint8_t>* image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        (*image)[at + i] = uint8_t(value >> (8 * i));
    }
}

// After damaging an entry, make the area digest right again, so the entry
// itself is the only fault left.
void Reseal(std::vector<uint8_t>* image) {
    const uint32_t areaSize = package::ReadLittleEndian32(image->data() + 64);
    const Md5Digest digest = Md5::Of(image->data() + kFirstRecord, areaSize);
    std::memcpy(image->data() + 72, digest.bytes, 16);
}

// Two entries, "alpha.txt" and "beta.bin"; the first record's data starts
// right after its 9-byte name.
std::vector<uint8_t> TwoEntries() {
    return BuildRaw({{"alpha.txt", std::string(400, 'a') + "alpha"}, {"beta.bin", "beta"}});
}

struct Damage {
    const char* what;
    std::vector<uint8_t> (*make)();
    const char* message;
};

const Damage kDamages[] = {
    {"no header at all", [] { return Bytes(std::string(500, 'x')); },
     "no sealed package header found"},
    {"signature text without a seal",
     [] {
         std::vector<uint8_t> image = Bytes("MZ....");
         const std::string text = package::kSignature;
         image.insert(image.end(), text.begin(), text.end());
         image.insert(image.end(), 100, 0);
         return image;
     },
     "no sealed package header found (the signature text occurs 1 time(s) without a valid seal, "
     "first at offset 6)"},
    {"file cut inside the seal",
     [] {
         std::vector<uint8_t> image = Bytes("MZ");
         const std::vector<uint8_t> package = TwoEntries();
         image.insert(image.end(), package.begin(), package.begin() + 50);
         return image;
     },
     "the signature text at offset 2 is followed by 19 bytes, too few for its seal; the file is "
     "cut short"},
    {"header cut short",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         image.resize(70);
         return image;
     },
     "package header at offset 0 is cut short: 70 of 88 bytes present"},
    {"file cut inside the entries area",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         image.resize(image.size() - 3);
         return image;
     },
     "entries area runs past the end of the file: the header at offset 0 announces"},
    {"byte flipped in the entries area",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         image[kFirstRecord + kEntryHead + 3] ^= 0x20; // inside the name
         return image;
     },
     "entries-area digest mismatch: the header records "},
    {"packed data that does not inflate",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         image[kFirstRecord + kEntryHead + 9 + 6] ^= 0xFF;
         Reseal(&image);
         return image;
     },
     "entry 1 \"alpha.txt\": packed data does not inflate"},
    {"content digest mismatch",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         image[kFirstRecord + 8] ^= 0x01;
         Reseal(&image);
         return image;
     },
     "entry 1 \"alpha.txt\": content digest mismatch: recorded "},
    {"entry that inflates to nothing",
     [] {
         return BuildRaw({{"full.txt", "content"}, {"hollow.txt", ""}});
     },
     "entry 2 \"hollow.txt\": packed data inflates to nothing"},
    {"packed size past the area",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         const size_t second = kFirstRecord + kEntryHead + 9 +
                               package::ReadLittleEndian32(image.data() + kFirstRecord);
         PutLittleEndian32(&image, second, 5000);
         Reseal(&image);
         return image;
     },
     "entry 2 \"beta.bin\": packed data (5000 bytes) runs past the end of the entries area"},
    {"name past the area",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         PutLittleEndian32(&image, kFirstRecord + 4, 0x10000);
         Reseal(&image);
         return image;
     },
     "entry 1: name (65536 bytes) runs past the end of the entries area"},
    {"more entries counted than stored",
     [] {
         std::vector<uint8_t> image = TwoEntries();
         PutLittleEndian32(&image, 68, 3);
         return image;
     },
     "entry 3: record head runs past the end of the entries area (0 of 24 bytes present)"},
};

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.what;
}

class VerifyDamageTest : public PackToolTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(VerifyDamageTest, FailsWithThePreciseFaultAndExtractsNothing) {
    WriteFile("damaged.pkg", GetParam().make());

    const ToolRun verify = Run({"verify", P("damaged.pkg")});
    EXPECT_EQ(verify.code, 1);
    EXPECT_THAT(verify.out, HasSubstr("FAILED: \"" + P("damaged.pkg") + "\""));
    EXPECT_THAT(verify.out, HasSubstr("status -2, damaged"));
    EXPECT_THAT(verify.out, HasSubstr(GetParam().message));

    const ToolRun extract = Run({"extract", P("damaged.pkg"), "-d", P("out")});
    EXPECT_EQ(extract.code, 1);
    EXPECT_THAT(extract.err, HasSubstr("nothing extracted"));
    EXPECT_FALSE(fs::exists(Path("out")));

    EXPECT_EQ(Run({"list", P("damaged.pkg")}).code, 1);
}

INSTANTIATE_TEST_SUITE_P(Packages, VerifyDamageTest, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                             std::string name = info.param.what;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

TEST_F(PackToolTest, DamagedEntryIsStillListedWithWhatCanBeRead) {
    std::vector<uint8_t> image = TwoEntries();
    image[kFirstRecord + kEntryHead + 9 + 6] ^= 0xFF;
    Reseal(&image);
    WriteFile("damaged.pkg", image);
    const ToolRun list = Run({"list", P("damaged.pkg")});
    EXPECT_EQ(list.code, 1);
    EXPECT_THAT(list.out, HasSubstr("?  "));
    EXPECT_THAT(list.out, HasSubstr("beta.bin"));
    EXPECT_THAT(list.err, HasSubstr("does not inflate"));
}

TEST_F(PackToolTest, RepeatedNamePassesWithAWarningAndTheLaterOneWins) {
    WriteFile("twice.pkg",
              BuildRaw({{"same.txt", "first"}, {"other", "o"}, {"same.txt", "second"}}));
    const ToolRun verify = Run({"verify", P("twice.pkg")});
    EXPECT_EQ(verify.code, 0) << verify.out;
    EXPECT_THAT(verify.out,
                HasSubstr("entry 3 \"same.txt\" repeats the name of entry 1; the reader keeps the "
                          "later one"));
    ASSERT_EQ(Run({"extract", P("twice.pkg"), "-d", P("out")}).code, 0);
    EXPECT_EQ(ReadFile(Path("out/same.txt")), Bytes("second"));
}

TEST_F(PackToolTest, VerifyWarnsAboutWhatTheReaderIgnores) {
    std::vector<uint8_t> image = BuildRaw({{"a.txt", "a"}});
    // Trailing bytes inside the area, then a second whole package.
    const std::vector<uint8_t> second = BuildRaw({{"b.txt", "b"}});
    image.insert(image.end(), {1, 2, 3});
    PutLittleEndian32(&image, 64, package::ReadLittleEndian32(image.data() + 64) + 3);
    Reseal(&image);
    const size_t secondAt = image.size();
    image.insert(image.end(), second.begin(), second.end());
    WriteFile("odd.pkg", image);

    const ToolRun verify = Run({"verify", P("odd.pkg")});
    EXPECT_EQ(verify.code, 0) << verify.out;
    EXPECT_THAT(verify.out, HasSubstr("3 bytes after the last entry"));
    EXPECT_THAT(verify.out, HasSubstr("a second package header at offset " +
                                      std::to_string(secondAt) + " is ignored"));
    EXPECT_THAT(verify.out, HasSubstr("1 entry,"));
}

// Names the reader accepts but no file should be written under.
TEST_F(PackToolTest, ExtractRefusesNamesThatAreNotPlainFileNames) {
    const struct {
        const char* name;
        const char* shown;
    } cases[] = {
        {"../escape.txt", "\"../escape.txt\""},
        {"..\\escape.txt", "\"..\\\\escape.txt\""},
        {"C:evil.txt", "\"C:evil.txt\""},
        {"..", "\"..\""},
        {"", "\"\""},
    };
    for (const auto& hostile : cases) {
        fs::remove_all(Path("out"));
        fs::remove_all(Path("escape.txt"));
        // A harmless entry sorts first: it must not be written either.
        WriteFile("hostile.pkg",
                  BuildRaw({{"0-first.txt", "harmless"}, {hostile.name, "payload"}}));
        const ToolRun extract = Run({"extract", P("hostile.pkg"), "-d", P("out")});
        EXPECT_EQ(extract.code, 1) << hostile.name;
        EXPECT_THAT(extract.err, HasSubstr("holds the entry " + std::string(hostile.shown) +
                                           ", which is not a plain file name"))
            << extract.err;
        EXPECT_FALSE(fs::exists(Path("out"))) << hostile.name;
        EXPECT_FALSE(fs::exists(Path("escape.txt"))) << hostile.name;
    }
}

TEST_F(PackToolTest, ExtractSeesTheWholeNameEvenPastANul) {
    // The reader hands names out as C strings: "a.txt\0x" would come back as
    // "a.txt" and look harmless.
    WriteFile("nul.pkg", BuildRaw({{std::string("a.txt\0/../x", 11), "payload"}}));
    const ToolRun extract = Run({"extract", P("nul.pkg"), "-d", P("out")});
    EXPECT_EQ(extract.code, 1);
    EXPECT_THAT(extract.err, HasSubstr("\"a.txt\\x00/../x\""));
    EXPECT_FALSE(fs::exists(Path("out")));
}

TEST_F(PackToolTest, ExtractReplacesExistingFilesAndLeavesOthers) {
    WriteFile("out/keep.txt", "mine");
    WriteFile("out/a.txt", "old");
    WriteFile("p.pkg", BuildRaw({{"a.txt", "new"}, {"b.txt", "bee"}}));
    const ToolRun extract = Run({"extract", P("p.pkg"), "--directory", P("out")});
    ASSERT_EQ(extract.code, 0) << extract.err;
    EXPECT_EQ(FolderNames(Path("out")), (std::set<std::string>{"a.txt", "b.txt", "keep.txt"}));
    EXPECT_EQ(ReadFile(Path("out/a.txt")), Bytes("new"));
    EXPECT_EQ(ReadFile(Path("out/keep.txt")), Bytes("mine"));
}

TEST_F(PackToolTest, UnreadableFilesNameTheFile) {
    for (const char* command : {"list", "verify", "extract"}) {
        std::vector<std::string> args = {command, P("absent.exe")};
        if (std::string(command) == "extract") {
            args.insert(args.end(), {"-d", P("out")});
        }
        const ToolRun run = Run(args);
        EXPECT_EQ(run.code, 1) << command;
        EXPECT_THAT(run.err,
                    HasSubstr(std::string("corvane-pack ") + command + ": cannot read package \"" +
                              P("absent.exe") + "\": no such file"));
    }
}

#ifdef CORVANE_PACK_PROGRAM
// The program itself passes the exit codes through.
TEST(PackToolProgram, ExitCodesReachTheShell) {
    const std::string program = CORVANE_PACK_PROGRAM;
    EXPECT_EQ(WEXITSTATUS(std::system((program + " >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system((program + " verify /nonexistent 2>/dev/null").c_str())), 1);
    EXPECT_EQ(WEXITSTATUS(std::system((program + " --help >/dev/null").c_str())), 0);
}
#endif

} // namespace
} // namespace corvane::pack::testing
