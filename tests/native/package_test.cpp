// The package reader on memory images and corvane-pack in-process; appending to a stub,
// signing and the Windows build are the end-to-end tests' part.
#include "md5.h"
#include "os_version.h"
#include "pack_tool.h"
#include "package_test_support.h"
#include "payload_plan.h"
#include "product_profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace corvane::testing;
namespace package = corvane::package;
using corvane::Md5;
using corvane::ToHex;
using corvane::pack::RunPackTool;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

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
        }
    }
}

Bytes Raw(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<package::PackageInput> inputs;
    for (const auto& [name, content] : entries) {
        inputs.push_back({name, ToBytes(content)});
    }
    return package::BuildPackage(inputs);
}

Bytes SmallPackage() {
    return Raw({{"readme.txt", "Read me first.\r\n"}, {"setup.ini", "[Setup]\r\nMode=quiet\r\n"}});
}

bool Locate(const Bytes& image, size_t* position) {
    return CPackedTools::LocatePackage(image.data(), image.size(), position);
}

void ExpectDamaged(const Bytes& image, const std::string& what) {
    CPackedTools reader;
    EXPECT_EQ(reader.LoadFromImage(image.data(), image.size()), 0) << what;
    EXPECT_EQ(reader.GetStatus(), CPackedTools::kDamaged) << what;
    EXPECT_EQ(reader.GetEntryCount(), 0u) << what;
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

TEST(PackageVerifyTest, WrongContentDigestOfTheLastEntryLeavesNoEntries) {
    std::vector<RawEntry> entries = {EntryOf("a.txt", ToBytes("alpha")),
                                     EntryOf("b.txt", ToBytes("bravo")),
                                     EntryOf("c.txt", ToBytes("charlie"))};
    CPackedTools reader;
    const Bytes sound = SealedPackage(entries);
    EXPECT_EQ(reader.LoadFromImage(sound.data(), sound.size()), 1);
    entries.back().contentDigest.bytes[15] ^= 1;
    ExpectDamaged(Concat({FakeProgram(), SealedPackage(entries)}), "content digest of c.txt");
}

// Sizes at the edges of the 2 MiB inflate buffer, and of the block that takes over from it
// and doubles (twice for 2 x 2 MiB + 1), catch an off-by-one where the output moves on.
// Numbered lines are compressible, yet a piece out of place changes the content.
TEST_F(PackageTableTest, EntriesLargerThanTheInflateBufferComeBackWhole) {
    const size_t buffer = CPackedTools::kInflateBufferSize;
    std::string lines;
    for (size_t number = 0; lines.size() < 2 * buffer + 1; ++number) {
        lines += "line " + std::to_string(number) + "\n";
    }
    const std::vector<package::PackageInput> inputs = {
        {"1-minus-1", NoiseBytes(buffer - 1, 6)},
        {"2-exactly", NoiseBytes(buffer, 7)},
        {"3-plus-1", NoiseBytes(buffer + 1, 8)},
        {"4-twice-plus-1", ToBytes(lines.substr(0, 2 * buffer + 1))}};
    ASSERT_EQ(LoadEntries(inputs), 1);
    EXPECT_EQ(reader_.GetEntryCount(), inputs.size());
    for (const package::PackageInput& input : inputs) {
        EXPECT_TRUE(Find(input.name.c_str()) == input.content) << input.name;
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
    // Paths and devices.
    for (const char* name : {"", ".", "..", "../evil.dll", "..\\evil.dll", "sub/file.txt",
                             "\\\\server\\share\\x", "C:evil.dll", "file.txt:stream", "CON",
                             "nul.txt", "NUL.tar.gz", "Com1", "LPT9.log", "aux .txt", "conin$"}) {
        EXPECT_FALSE(package::IsPlainEntryName(name)) << name;
    }
    // Names Windows writes under another name, or not at all.
    for (const char* name : {"readme.txt.", "readme.txt ", "a<b", "say\"hi\"", "a|b", "what?",
                             "star*", "del\x7F", "tab\there"}) {
        EXPECT_FALSE(package::IsPlainEntryName(name)) << name;
    }
}

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

struct ToolRun {
    int code = -1;
    std::string out, err;
};

ToolRun Pack(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunPackTool(args, out, err);
    return {code, out.str(), err.str()};
}

class PackToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_root = fs::temp_directory_path() / (std::string("corvane-pack-test-") + info->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(m_root);
        }
    }

    std::string P(const std::string& relative) const { return (m_root / relative).string(); }
    void Write(const std::string& relative, const Bytes& content) {
        fs::create_directories((m_root / relative).parent_path());
        std::ofstream(m_root / relative, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), content.size());
    }
    Bytes Read(const std::string& relative) const {
        std::ifstream file(m_root / relative, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    }
    std::set<std::string> Names(const std::string& folder) const {
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(m_root / folder)) {
            names.insert(item.path().filename().string());
        }
        return names;
    }

    fs::path m_root;
};

// Folder, list and names in any order give one result; extracting replaces what is there
// and leaves the rest. (The round trip through create, list, verify and extract is the
// end-to-end tests' part.)
TEST_F(PackToolTest, InputsInAnyFormGiveOnePackage) {
    Write("payload/sample.bin", NoiseBytes(512, 3));
    Write("payload/readme.txt", ToBytes("Read me first.\r\n"));
    Write("names.txt",
          ToBytes("# the sample payload\r\npayload/sample.bin\r\n\r\npayload/readme.txt\r\n"));
    ASSERT_EQ(Pack({"create", "-o", P("a.pkg"), "--dir", P("payload")}).code, 0);
    ASSERT_EQ(Pack({"create", "-o", P("b.pkg"), "--list", P("names.txt")}).code, 0);
    ASSERT_EQ(
        Pack({"create", "-o", P("c.pkg"), P("payload/sample.bin"), P("payload/readme.txt")}).code,
        0);
    EXPECT_TRUE(Read("a.pkg") == Read("b.pkg") && Read("a.pkg") == Read("c.pkg"));
    Write("out/keep.txt", ToBytes("mine"));
    Write("out/readme.txt", ToBytes("old"));
    ASSERT_EQ(Pack({"extract", P("a.pkg"), "--directory", P("out")}).code, 0);
    EXPECT_EQ(Names("out"), (std::set<std::string>{"keep.txt", "readme.txt", "sample.bin"}));
    EXPECT_EQ(Read("out/readme.txt"), Read("payload/readme.txt"));
}

std::string Expand(std::string arg, const fs::path& root) {
    for (size_t at = arg.find('@'); at != std::string::npos; at = arg.find('@', at + 1)) {
        arg.replace(at, 1, root.string());
    }
    return arg;
}

// "alpha.txt" (9-byte name) and "beta.bin", a field changed or a byte flipped, resealed.
Bytes Damaged(size_t field, uint32_t value, size_t flip) {
    Bytes image = Raw({{"alpha.txt", std::string(400, 'a') + "alpha"}, {"beta.bin", "beta"}});
    if (field != 0) {
        PutLittleEndian32(&image[field], value);
    }
    if (flip != 0) {
        image[flip] ^= 0xFF;
    }
    ResealArea(&image);
    return image;
}

constexpr size_t kFirstRecord = package::kHeaderSize;
constexpr size_t kFirstName = kFirstRecord + package::kEntryHeadSize;

struct Refusal {
    std::vector<std::pair<std::string, Bytes>> files; // written first
    std::vector<std::string> args;                    // "@" stands for the test's folder
    int code;
    const char* message;
};

// One bad input among good ones.
Refusal Create(std::vector<std::pair<std::string, Bytes>> files, std::vector<std::string> inputs,
               const char* message) {
    inputs.insert(inputs.begin(), {"create", "-o", "@/out/result.pkg"});
    return {std::move(files), std::move(inputs), 1, message};
}

Refusal Extract(const Bytes& package, const char* message) {
    return {{{"bad.pkg", package}}, {"extract", "@/bad.pkg", "-d", "@/new"}, 1, message};
}

Refusal ExtractNamed(const std::string& name, const char* message) {
    return Extract(Raw({{"0-first.txt", "harmless"}, {name, "payload"}}), message);
}

// 2 for a wrong command line, else 1, the file and the precise reason named, and nothing
// written: no package from one bad input among good ones, no file from a damaged package or
// one holding a name no file may be written under, not even the harmless entry.
TEST_F(PackToolTest, BadInputIsNamedWithItsReasonAndNothingIsWritten) {
    const Bytes x = ToBytes("x");
    const Refusal cases[] = {
        Create({{"in/dir\\f.txt", x}}, {"@/good/a.txt", "@/in/dir\\f.txt"},
               "\"@/in/dir\\f.txt\": entry name \"dir\\\\f.txt\" is not a plain file name: it "
               "contains a path separator"),
        Create({{"a/x", x}, {"b/x", x}, {"list.txt", ToBytes("good/a.txt\na/x\nb/x\n")}},
               {"--list", "@/list.txt"}, "duplicate entry name \"x\": \"@/a/x\" and \"@/b/x\""),
        Create({{"c/A.TXT", x}}, {"@/good/a.txt", "@/c/A.TXT"}, "differ only in letter case"),
        Create({{"good/c.txt", {}}}, {"--dir", "@/good"}, "input file \"@/good/c.txt\" is empty"),
        Create({{"carrying.exe", Concat({ToBytes("MZ program"), Raw({{"old.txt", "old"}})})}},
               {"--stub", "@/carrying.exe", "--dir", "@/good"},
               "stub \"@/carrying.exe\" already carries a package (header at offset 10)"),
        Create({}, {"--dir", "@/out"},
               "output \"@/out/result.pkg\" is inside the input folder \"@/out\""),
        {{}, {"create", "-o", "@/p", "--seal-byte", "0", "@/good"}, 2, "leave the header unsealed"},
        {{}, {"create", "--dir", "@/good"}, 2, "-o OUTPUT is required"},
        {{}, {"check-payload", "--profile", "client", "@/good"}, 2, "unknown profile \"client\""},
        {{}, {"check-payload", "--profile=server", "@/absent"}, 1, "does not exist"},
        {{},
         {"verify", "@/absent.exe"},
         1,
         "verify: cannot read package \"@/absent.exe\": no such"},
        Extract(Concat({ToBytes("MZ...."), ToBytes(package::kSignature), Bytes(100, 0)}),
                "no sealed package header found (the signature text occurs 1 time(s) without a "
                "valid seal, first at offset 6)"),
        Extract(Damaged(0, 0, kFirstName + 9 + 6),
                "entry 1 \"alpha.txt\": packed data does not inflate"),
        Extract(Damaged(0, 0, kFirstRecord + 8),
                "entry 1 \"alpha.txt\": content digest mismatch: recorded "),
        Extract(Damaged(68, 3, 0), "entry 3: record head runs past the end of the entries area "
                                   "(0 of 24 bytes present)"),
        ExtractNamed("../escape.txt", "holds the entry \"../escape.txt\", which is not a plain"),
        ExtractNamed("", "holds the entry \"\", which is not a plain file name"),
        // The reader hands names out as C strings: the part after the NUL must count.
        ExtractNamed(std::string("a.txt\0/../x", 11), "holds the entry \"a.txt\\x00/../x\", which"),
    };
    for (const auto& c : cases) {
        fs::remove_all(m_root);
        Write("good/a.txt", ToBytes("aaa"));
        fs::create_directories(P("out"));
        for (const auto& [name, content] : c.files) {
            Write(name, content);
        }
        std::vector<std::string> args;
        for (const std::string& arg : c.args) {
            args.push_back(Expand(arg, m_root));
        }
        const ToolRun run = Pack(args);
        EXPECT_EQ(run.code, c.code) << c.message;
        EXPECT_THAT(run.err, HasSubstr(Expand(c.message, m_root)));
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_TRUE(Names("out").empty()) << c.message;
        EXPECT_FALSE(fs::exists(P("new")) || fs::exists(P("escape.txt"))) << c.message;
    }
    EXPECT_THAT(Pack({"--help"}).out, HasSubstr("append first, then sign"));
    // The program passes the codes through to the shell (1 is seen end to end).
    const std::string program = CORVANE_PACK_PROGRAM " >/dev/null 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system(program.c_str())), 2);
}

const struct {
    const char* label;
    PayloadSystem system;
} kSystems[] = {
    {"32-bit XP", {false, false, false}},       {"32-bit Windows 7", {false, true, false}},
    {"32-bit Windows 10", {false, true, true}}, {"64-bit XP", {true, false, false}},
    {"64-bit Windows 7", {true, true, false}},  {"64-bit Windows 10", {true, true, true}},
};

// Per rule: its name, the entry suffix on each system above ("=" none, "-" skipped), and
// where the destination is not the name, the destinations on 32-bit and 64-bit Windows.
const char kWorkstationRules[] = R"(
corvane-rdp-workstation-installer.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvanewssrv.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvane-rdp-workstation-uninstaller.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
hxvwsh.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvanews.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvane-rdp-workstation-license.txt = = = = = =
readme.txt = = = = = =
corvane-rdp-workstation-help.chm = = = = = =
hxvhub.cat .xp .v7 .v10 .xp .v7 .v10
hxvhub.inf = = .v10 = = .v10
hxvhub.sys .x86.xp .x86.v7 .x86.v10 .amd64.xp .amd64.v7 .amd64.v10 x86\hxvhub.sys amd64\hxvhub.sys
hxvplug.sys .x86 .x86 .x86.v10 .amd64 .amd64 .amd64.v10 x86\hxvplug.sys amd64\hxvplug.sys
hxvchan.dll .x86 .x86 .x86 .amd64 .amd64 .amd64
hxvchan.dll - - - .x86 .x86 .x86 hxvchan.dll hxvchan_x86_64.dll
hxvcitrix.dll .x86 .x86 .x86 .x86 .x86 .x86
corvane-rdp-rde-installer.exe .x86 .x86 .x86 .x86 .x86 .x86
)";

const char kServerRules[] = R"(
corvane-rdp-server-installer.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvanetssrv.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvane-rdp-server-uninstaller.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
hxvtsh.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvanets.exe .x86 .x86 .x86 .amd64 .amd64 .amd64
corvane-rdp-server-license.txt = = = = = =
readme.txt = = = = = =
corvane-rdp-server-help.chm = = = = = =
hxvhubbus.cat = = .v10 = = .v10
hxvhubbus.inf = = .v10 = = .v10
hxvhubbus.sys .x86 .x86 .x86.v10 .amd64 .amd64 .amd64.v10 x86\hxvhubbus.sys amd64\hxvhubbus.sys
)";

// The rules' files on the system in `column` (skipped rules left out), one line each.
std::string Expected(const char* rules, size_t column) {
    std::string text;
    std::istringstream lines(rules);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, suffixes[6], destinations[2];
        words >> name;
        for (std::string& word : suffixes) {
            words >> word;
        }
        words >> destinations[0] >> destinations[1];
        const std::string& suffix = suffixes[column];
        const std::string& destination = destinations[kSystems[column].system.is64Bit];
        if (!name.empty() && suffix != "-") {
            text += name + (suffix == "=" ? "" : suffix) + " -> " +
                    (destination.empty() ? name : destination) + "\n";
        }
    }
    return text;
}

TEST(PayloadPlan, EachProfileInstallsItsTableOnEverySystem) {
    for (const auto& [profile, rules] : {std::pair{&kWorkstationProfile, kWorkstationRules},
                                         std::pair{&kServerProfile, kServerRules}}) {
        for (size_t column = 0; column < std::size(kSystems); ++column) {
            std::string text;
            for (const PayloadFile& file :
                 ResolvePayloadPlan(profile->payloadRules, kSystems[column].system)) {
                text += file.entryName + " -> " + file.destinationName + "\n";
            }
            EXPECT_EQ(text, Expected(rules, column)) << rules << kSystems[column].label;
        }
    }
}

// The server's copy of the system's usbd.sys by version class, the same suffix for both sizes.
TEST(PayloadPlan, SystemUsbDriverEntryByVersionClass) {
    const std::pair<int, const char*> suffixes[] = {
        {kOsVersionUnknown, ""},  {kOsWindows2000, ""},         {kOsWindowsXp, ".xp"},
        {kOsWindows2003, ".2k3"}, {kOsWindowsVista, ".v62"},    {kOsWindowsServer2008, ".2k8"},
        {kOsWindows7, ".v7"},     {kOsWindowsServer2008R2, ""}, {kOsWindows10, ""}};
    for (const auto& [code, suffix] : suffixes) {
        EXPECT_EQ(SystemUsbDriverEntryName(false, code), std::string("usbd.sys.x86") + suffix);
        EXPECT_EQ(SystemUsbDriverEntryName(true, code), std::string("usbd.sys.amd64") + suffix);
    }
}

} // namespace
