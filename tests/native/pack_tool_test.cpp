// corvane-pack in-process in a folder of the test's own, and the payload plan it checks.
#include "os_version.h"
#include "pack_tool.h"
#include "package_test_support.h"
#include "payload_plan.h"
#include "product_profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::pack::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace corvane::testing;

struct ToolRun {
    int code = -1;
    std::string out, err;
};

std::string TestName(std::string text) {
    for (char& c : text) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return text;
}

class PackToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_root = fs::temp_directory_path() / TestName(std::string("corvane-pack-test-") +
                                                      info->test_suite_name() + "-" + info->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(m_root);
        }
    }

    fs::path Path(const std::string& relative) const { return m_root / relative; }
    std::string P(const std::string& relative) const { return Path(relative).string(); }

    // A name ending in '/' makes an empty folder.
    void WriteFile(const std::string& relative, const Bytes& content) {
        const fs::path path = Path(relative);
        fs::create_directories(relative.back() == '/' ? path : path.parent_path());
        if (relative.back() != '/') {
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(content.data()), content.size());
        }
    }
    void WriteFile(const std::string& relative, const std::string& text) {
        WriteFile(relative, ToBytes(text));
    }
    static Bytes ReadFile(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    }
    // Temporaries and hidden files included.
    static std::set<std::string> FolderNames(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(folder)) {
            names.insert(item.path().filename().string());
        }
        return names;
    }

public:
    static ToolRun Run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = RunPackTool(args, out, err);
        return {code, out.str(), err.str()};
    }

    fs::path m_root;
};

Bytes Raw(const std::vector<std::pair<std::string, std::string>>& entries,
          uint8_t seal = package::kDefaultSealByte) {
    std::vector<package::PackageInput> inputs;
    for (const auto& [name, content] : entries) {
        inputs.push_back({name, ToBytes(content)});
    }
    return package::BuildPackage(inputs, seal);
}

// Every byte value and more than 2 MiB; folder, list and names in any order give one result.
TEST_F(PackToolTest, FilesRoundTripThroughVerifyListAndExtract) {
    WriteFile("payload/readme.txt", "Read me first.\r\n");
    WriteFile("payload/licence.txt", std::string(3000, 'L'));
    WriteFile("payload/big.dat", NoiseBytes(5 << 20, 7));
    Bytes binary;
    for (int i = 0; i < 512; ++i) {
        binary.push_back(uint8_t(i));
    }
    WriteFile("payload/sample.bin", binary);
    WriteFile("sample.bin", binary);
    WriteFile("names.txt", "# the sample payload\r\nsample.bin\r\n\r\npayload/readme.txt\r\n"
                           "payload/licence.txt\r\npayload/big.dat\r\n");
    const ToolRun create = Run({"create", "-o", P("out/a.pkg"), "--dir", P("payload")});
    ASSERT_EQ(create.code, 0) << create.err;
    EXPECT_THAT(create.out, HasSubstr("4 entries"));
    ASSERT_EQ(Run({"create", "-o", P("out/b.pkg"), "--list", P("names.txt")}).code, 0);
    ASSERT_EQ(Run({"create", "-o", P("out/c.pkg"), P("payload/sample.bin"), P("payload/readme.txt"),
                   P("payload/licence.txt"), P("payload/big.dat")})
                  .code,
              0);
    EXPECT_TRUE(ReadFile(Path("out/a.pkg")) == ReadFile(Path("out/b.pkg")));
    EXPECT_TRUE(ReadFile(Path("out/a.pkg")) == ReadFile(Path("out/c.pkg")));
    EXPECT_THAT(Run({"verify", P("out/a.pkg")}).out, HasSubstr("OK:"));

    const ToolRun list = Run({"list", P("out/a.pkg")});
    ASSERT_EQ(list.code, 0) << list.err;
    for (const std::string& name : FolderNames(Path("payload"))) {
        const Bytes content = ReadFile(Path("payload") / name);
        const std::string md5 = ToHex(Md5::Of(content.data(), content.size()));
        EXPECT_THAT(list.out, HasSubstr(std::to_string(content.size()) + "  " + md5 + "  " + name));
    }
    EXPECT_THAT(list.out, HasSubstr("seal byte           0x5a"));
    EXPECT_THAT(list.out, HasSubstr("entry count         4"));
    // Byte-wise name order, the order the reader walks its names in.
    EXPECT_LT(list.out.find("big.dat"), list.out.find("licence.txt"));
    EXPECT_LT(list.out.find("readme.txt"), list.out.find("sample.bin"));

    ASSERT_EQ(Run({"extract", P("out/a.pkg"), "-d", P("unpacked/new")}).code, 0);
    EXPECT_EQ(FolderNames(Path("unpacked/new")), FolderNames(Path("payload")));
    for (const std::string& name : FolderNames(Path("payload"))) {
        EXPECT_TRUE(ReadFile(Path("unpacked/new") / name) == ReadFile(Path("payload") / name))
            << name;
    }
}

// The option reaches the writer in both spellings.
TEST_F(PackToolTest, SealByteOptionSealsTheHeader) {
    WriteFile("payload/readme.txt", "Read me first.\r\n");
    ASSERT_EQ(Run({"create", "--seal-byte", "0xA7", "-o", P("a7.pkg"), "--dir", P("payload")}).code,
              0);
    ASSERT_EQ(Run({"create", "--seal-byte=167", "-o", P("167.pkg"), "--dir", P("payload")}).code,
              0);
    const Bytes expected = Raw({{"readme.txt", "Read me first.\r\n"}}, 0xA7);
    EXPECT_TRUE(ReadFile(Path("a7.pkg")) == expected);
    EXPECT_TRUE(ReadFile(Path("167.pkg")) == expected);
}

// One bad input among good ones: exit 1, the file and the reason named, no output.
using Files = std::vector<std::pair<std::string, Bytes>>;

struct Refusal {
    const char* what;
    Files files;                   // written first
    std::vector<std::string> args; // "@" stands for the test's folder
    const char* message;
};

Refusal R(const char* what, Files files, std::vector<std::string> args, const char* message) {
    return {what, std::move(files), std::move(args), message};
}

class CreateRefusalTest : public PackToolTest, public ::testing::WithParamInterface<Refusal> {};

std::string Expand(std::string arg, const fs::path& root) {
    for (size_t at = arg.find('@'); at != std::string::npos; at = arg.find('@', at + 1)) {
        arg.replace(at, 1, root.string());
    }
    return arg;
}

TEST_P(CreateRefusalTest, RefusesWithAClearMessageAndWritesNothing) {
    WriteFile("good/a.txt", "aaa");
    WriteFile("good/b.txt", "bbb");
    for (const auto& [name, content] : GetParam().files) {
        WriteFile(name, content);
    }
    std::vector<std::string> args = {"create", "-o", P("out/result.pkg")};
    for (const std::string& arg : GetParam().args) {
        args.push_back(Expand(arg, m_root));
    }
    fs::create_directories(Path("out"));
    const ToolRun run = Run(args);
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr(Expand(GetParam().message, m_root)));
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(FolderNames(Path("out")).empty());
}

const Bytes kX = ToBytes("x");

const Refusal kRefusals[] = {
    R("empty name", {}, {"@/good/a.txt", "@/good/"}, "is not a plain file name: the name is empty"),
    R("dot-dot", {}, {"@/good/a.txt", "@/good/.."}, "entry name \"..\" is not a plain file name"),
    R("dot", {}, {"@/good/."}, "entry name \".\" is not a plain file name"),
    R("backslash", {{"in/dir\\file.txt", kX}}, {"@/good/a.txt", "@/in/dir\\file.txt"},
      "\"@/in/dir\\file.txt\": entry name \"dir\\\\file.txt\" is not a plain file name: it "
      "contains a path separator"),
    R("colon", {{"in/c:stream", kX}}, {"@/in/c:stream"},
      "entry name \"c:stream\" is not a plain file name: it contains a colon"),
    R("control character", {{"in/tab\there", kX}}, {"@/in/tab\there"},
      "entry name \"tab\\x09here\" is not a plain file name: it contains a control character"),
    R("device name", {{"in/nul.txt", kX}}, {"@/good/a.txt", "@/in/nul.txt"},
      "entry name \"nul.txt\" is not a plain file name: it is a device name on Windows"),
    R("trailing dot", {{"in/notes.", kX}}, {"@/in/notes."},
      "entry name \"notes.\" is not a plain file name: it ends with a dot or a blank"),
    R("duplicate names in a list",
      {{"a/x", ToBytes("one")},
       {"b/x", ToBytes("two")},
       {"list.txt", ToBytes("good/a.txt\na/x\nb/x\n")}},
      {"--list", "@/list.txt"}, "duplicate entry name \"x\": \"@/a/x\" and \"@/b/x\""),
    R("names differing in case", {{"c/A.TXT", kX}}, {"@/good/a.txt", "@/c/A.TXT"},
      "differ only in letter case"),
    R("empty file", {{"good/c.txt", {}}}, {"--dir", "@/good"},
      "input file \"@/good/c.txt\" is empty"),
    R("missing file after good ones", {}, {"@/good/a.txt", "@/good/b.txt", "@/good/zz-missing.txt"},
      "cannot read input file \"@/good/zz-missing.txt\": no such file"),
    R("folder named as an input", {{"deep/inner/x", kX}}, {"@/good/a.txt", "@/deep/inner"},
      "cannot read input file \"@/deep/inner\": it is a folder"),
    R("missing stub", {}, {"--stub", "@/no-stub.exe", "--dir", "@/good"},
      "cannot read stub \"@/no-stub.exe\": no such file"),
    R("stub already carrying a package",
      {{"carrying.exe", Concat({ToBytes("MZ program"), Raw({{"old.txt", "old"}})})}},
      {"--stub", "@/carrying.exe", "--dir", "@/good"},
      "stub \"@/carrying.exe\" already carries a package (header at offset 10)"),
    R("subfolder in the input folder", {{"good/docs/x.txt", kX}}, {"--dir", "@/good"},
      "input folder \"@/good\" holds the subfolder \"docs\""),
    R("missing input folder", {}, {"--dir", "@/nowhere"},
      "input folder \"@/nowhere\" does not exist"),
    R("output inside the input folder", {}, {"--dir", "@/out"},
      "output \"@/out/result.pkg\" is inside the input folder \"@/out\""),
    R("input folder without files", {{"none/", {}}}, {"--dir", "@/none"},
      "input folder \"@/none\" holds no files"),
    R("list naming nothing", {{"list.txt", ToBytes("# none\n\n")}}, {"--list", "@/list.txt"},
      "list file \"@/list.txt\" names no files"),
};

INSTANTIATE_TEST_SUITE_P(Inputs, CreateRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return TestName(info.param.what); });

TEST_F(PackToolTest, FailedRenameRemovesTheTemporary) {
    WriteFile("payload/readme.txt", "Read me first.\r\n");
    // Writing succeeds, the rename over a folder cannot.
    fs::create_directories(Path("out/setup.pkg/inside"));
    const ToolRun run = Run({"create", "-o", P("out/setup.pkg"), "--dir", P("payload")});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot replace \"" + P("out/setup.pkg") + "\""));
    EXPECT_EQ(FolderNames(Path("out")), std::set<std::string>{"setup.pkg"});
    EXPECT_TRUE(fs::is_directory(Path("out/setup.pkg/inside")));
}

TEST_F(PackToolTest, OutputMayReplaceOneOfItsOwnInputs) {
    WriteFile("in/a.txt", "alpha");
    WriteFile("in/b.txt", "beta");
    ASSERT_EQ(Run({"create", "-o", P("in/b.txt"), P("in/a.txt"), P("in/b.txt")}).code, 0);
    ASSERT_EQ(Run({"extract", P("in/b.txt"), "-d", P("x")}).code, 0);
    EXPECT_EQ(ReadFile(Path("x/b.txt")), ToBytes("beta"));
}

// 2 for a wrong command line, 1 naming a file that cannot be read, 0 for help.
TEST(PackToolCommandLine, GivesTheExitCodeAndAClearMessage) {
    const char* const absent = "/nonexistent/absent.exe";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{"create", "--dir", "x"}, 2, "-o OUTPUT is required"},
        {{"create", "-o", "p"}, 2, "name the files"},
        {{"create", "-o", "p", "--dir", "x", "y"}, 2, "give only one of"},
        {{"create", "-o", "p", "--seal-byte", "256", "x"}, 2, "from 1 to 255, not \"256\""},
        {{"create", "-o", "p", "--seal-byte", "0", "x"}, 2, "would leave the header unsealed"},
        {{"create", "-o", "p", "--seal-byte", "0x", "x"}, 2, "not \"0x\""},
        {{"create", "-o", "p", "--seal-byte", "-5", "x"}, 2, "not \"-5\""},
        {{"create", "-o", "p", "-o", "q", "x"}, 2, "option --output is given twice"},
        {{"create", "--bogus", "x"}, 2, "unknown option --bogus"},
        {{"create", "x", "-o"}, 2, "option --output needs a value"},
        {{"extract", "p"}, 2, "-d FOLDER is required"},
        {{"list"}, 2, "name the file to list"},
        {{"verify", "a", "b"}, 2, "unexpected argument \"b\""},
        {{"pack"}, 2, "unknown command \"pack\""},
        {{}, 2, "usage: corvane-pack COMMAND"},
        {{"check-payload", "/payload"}, 2, "--profile workstation|server is required"},
        {{"check-payload", "--profile", "client", "/payload"}, 2, "unknown profile \"client\""},
        {{"check-payload", "--profile", "server"}, 2, "name the payload folder"},
        {{"check-payload", "--profile", "server", "/a", "/b"}, 2, "unexpected argument"},
        {{"check-payload", "--profile", "server", "/nonexistent/payload"}, 1, "does not exist"},
        {{"check-payload", "--profile=server", CORVANE_PACK_PROGRAM}, 1, "is not a folder"},
        {{"list", absent},
         1,
         "corvane-pack list: cannot read package \"" + std::string(absent) + "\": no such file"},
        {{"verify", absent},
         1,
         "corvane-pack verify: cannot read package \"" + std::string(absent) + "\": no such file"},
        {{"extract", absent, "-d", "/nonexistent/out"},
         1,
         "corvane-pack extract: cannot read package \"" + std::string(absent) + "\": no such file"},
        {{"--help"}, 0, "2  usage error"},
        {{"--help"}, 0, "append first, then sign"},
        {{"create", "--help"}, 0, "usage: corvane-pack create"},
        {{"help", "list"}, 0, "usage: corvane-pack list"},
        {{"verify", "--help"}, 0, "usage: corvane-pack verify"},
        {{"help", "extract"}, 0, "usage: corvane-pack extract"},
    };
    for (const auto& c : cases) {
        const ToolRun run = PackToolTest::Run(c.args);
        EXPECT_EQ(run.code, c.code) << ::testing::PrintToString(c.args);
        EXPECT_THAT(c.code == 0 ? run.out : run.err, HasSubstr(c.message))
            << ::testing::PrintToString(c.args);
    }
    for (const char* command : {"create", "list", "verify", "extract"}) {
        EXPECT_EQ(PackToolTest::Run({"help", command}).out,
                  PackToolTest::Run({command, "--help"}).out);
    }
}

constexpr size_t kFirstRecord = package::kHeaderSize;
constexpr size_t kFirstName = kFirstRecord + package::kEntryHeadSize;

// "alpha.txt" (9-byte name) and "beta.bin".
Bytes TwoEntries() {
    return Raw({{"alpha.txt", std::string(400, 'a') + "alpha"}, {"beta.bin", "beta"}});
}

Bytes Damaged(size_t cutTo, size_t field, uint32_t value, size_t flip, bool reseal) {
    Bytes image = TwoEntries();
    if (cutTo != 0) {
        image.resize(cutTo);
    }
    if (field != 0) {
        PutLittleEndian32(&image[field], value);
    }
    if (flip != 0) {
        image[flip] ^= 0xFF;
    }
    if (reseal) {
        ResealArea(&image);
    }
    return image;
}

struct Damage {
    const char* what;
    Bytes image;
    const char* message;
};

const size_t kSecondRecord =
    kFirstName + 9 + package::ReadLittleEndian32(&TwoEntries()[kFirstRecord]);

const Damage kDamages[] = {
    {"no header at all", Bytes(500, 'x'), "no sealed package header found"},
    {"signature text without a seal",
     Concat({ToBytes("MZ...."), ToBytes(package::kSignature), Bytes(100, 0)}),
     "no sealed package header found (the signature text occurs 1 time(s) without a valid seal, "
     "first at offset 6)"},
    {"file cut inside the seal", Concat({ToBytes("MZ"), Damaged(50, 0, 0, 0, false)}),
     "the signature text at offset 2 is followed by 19 bytes, too few for its seal; the file is "
     "cut short"},
    {"header cut short", Damaged(70, 0, 0, 0, false),
     "package header at offset 0 is cut short: 70 of 88 bytes present"},
    {"file cut inside the entries area", Damaged(TwoEntries().size() - 3, 0, 0, 0, false),
     "entries area runs past the end of the file: the header at offset 0 announces"},
    {"byte flipped in the entries area", Damaged(0, 0, 0, kFirstName + 3, false),
     "entries-area digest mismatch: the header records "},
    {"packed data that does not inflate", Damaged(0, 0, 0, kFirstName + 9 + 6, true),
     "entry 1 \"alpha.txt\": packed data does not inflate"},
    {"content digest mismatch", Damaged(0, 0, 0, kFirstRecord + 8, true),
     "entry 1 \"alpha.txt\": content digest mismatch: recorded "},
    {"entry that inflates to nothing", Raw({{"full.txt", "content"}, {"hollow.txt", ""}}),
     "entry 2 \"hollow.txt\": packed data inflates to nothing"},
    {"packed size past the area", Damaged(0, kSecondRecord, 5000, 0, true),
     "entry 2 \"beta.bin\": packed data (5000 bytes) runs past the end of the entries area"},
    {"name past the area", Damaged(0, kFirstRecord + 4, 0x10000, 0, true),
     "entry 1: name (65536 bytes) runs past the end of the entries area"},
    {"more entries counted than stored", Damaged(0, 68, 3, 0, false),
     "entry 3: record head runs past the end of the entries area (0 of 24 bytes present)"},
};

class VerifyDamageTest : public PackToolTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(VerifyDamageTest, FailsWithThePreciseFaultAndExtractsNothing) {
    WriteFile("damaged.pkg", GetParam().image);
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
                         [](const auto& info) { return TestName(info.param.what); });

TEST_F(PackToolTest, DamagedEntryIsStillListedWithWhatCanBeRead) {
    WriteFile("damaged.pkg", Damaged(0, 0, 0, kFirstName + 9 + 6, true));
    const ToolRun list = Run({"list", P("damaged.pkg")});
    EXPECT_EQ(list.code, 1);
    EXPECT_THAT(list.out, HasSubstr("?  "));
    EXPECT_THAT(list.out, HasSubstr("beta.bin"));
    EXPECT_THAT(list.err, HasSubstr("does not inflate"));
}

TEST_F(PackToolTest, RepeatedNamePassesWithAWarningAndTheLaterOneWins) {
    WriteFile("twice.pkg", Raw({{"same.txt", "first"}, {"other", "o"}, {"same.txt", "second"}}));
    const ToolRun verify = Run({"verify", P("twice.pkg")});
    EXPECT_EQ(verify.code, 0) << verify.out;
    EXPECT_THAT(verify.out, HasSubstr("entry 3 \"same.txt\" repeats the name of entry 1; the "
                                      "reader keeps the later one"));
    ASSERT_EQ(Run({"extract", P("twice.pkg"), "-d", P("out")}).code, 0);
    EXPECT_EQ(ReadFile(Path("out/same.txt")), ToBytes("second"));
}

TEST_F(PackToolTest, VerifyWarnsAboutWhatTheReaderIgnores) {
    // Trailing bytes inside the area, then a second whole package.
    Bytes image = Concat({Raw({{"a.txt", "a"}}), {1, 2, 3}});
    PutLittleEndian32(&image[64], package::ReadLittleEndian32(&image[64]) + 3);
    ResealArea(&image);
    const size_t secondAt = image.size();
    WriteFile("odd.pkg", Concat({image, Raw({{"b.txt", "b"}})}));
    const ToolRun verify = Run({"verify", P("odd.pkg")});
    EXPECT_EQ(verify.code, 0) << verify.out;
    EXPECT_THAT(verify.out, HasSubstr("3 bytes after the last entry"));
    EXPECT_THAT(verify.out, HasSubstr("a second package header at offset " +
                                      std::to_string(secondAt) + " is ignored"));
    EXPECT_THAT(verify.out, HasSubstr("1 entry,"));
}

// Names no file may be written under: nothing is written, not even the harmless entry.
TEST_F(PackToolTest, ExtractRefusesNamesThatAreNotPlainFileNames) {
    const std::pair<std::string, const char*> cases[] = {
        {"../escape.txt", "\"../escape.txt\""},
        {"..\\escape.txt", "\"..\\\\escape.txt\""},
        {"C:evil.txt", "\"C:evil.txt\""},
        {"..", "\"..\""},
        {"", "\"\""},
        // The reader hands names out as C strings: the part after the NUL must count.
        {std::string("a.txt\0/../x", 11), "\"a.txt\\x00/../x\""},
    };
    for (const auto& [name, shown] : cases) {
        WriteFile("hostile.pkg", Raw({{"0-first.txt", "harmless"}, {name, "payload"}}));
        const ToolRun extract = Run({"extract", P("hostile.pkg"), "-d", P("out")});
        EXPECT_EQ(extract.code, 1) << shown;
        EXPECT_THAT(extract.err, HasSubstr("holds the entry " + std::string(shown) +
                                           ", which is not a plain file name"));
        EXPECT_FALSE(fs::exists(Path("out"))) << shown;
        EXPECT_FALSE(fs::exists(Path("escape.txt"))) << shown;
    }
}

TEST_F(PackToolTest, ExtractReplacesExistingFilesAndLeavesOthers) {
    WriteFile("out/keep.txt", "mine");
    WriteFile("out/a.txt", "old");
    WriteFile("p.pkg", Raw({{"a.txt", "new"}, {"b.txt", "bee"}}));
    ASSERT_EQ(Run({"extract", P("p.pkg"), "--directory", P("out")}).code, 0);
    EXPECT_EQ(FolderNames(Path("out")), (std::set<std::string>{"a.txt", "b.txt", "keep.txt"}));
    EXPECT_EQ(ReadFile(Path("out/a.txt")), ToBytes("new"));
    EXPECT_EQ(ReadFile(Path("out/keep.txt")), ToBytes("mine"));
}

// The program itself passes the exit codes through to the shell.
TEST(PackToolProgram, ExitCodesReachTheShell) {
    const std::string program = CORVANE_PACK_PROGRAM;
    EXPECT_EQ(WEXITSTATUS(std::system((program + " >/dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system((program + " verify /nonexistent 2>/dev/null").c_str())), 1);
    EXPECT_EQ(WEXITSTATUS(std::system((program + " --help >/dev/null").c_str())), 0);
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

const struct {
    const char* name;
    const ProductProfile* profile;
    const char* rules;
} kProfiles[] = {{"workstation", &kWorkstationProfile, kWorkstationRules},
                 {"server", &kServerProfile, kServerRules}};

// The rules' files on the system in `column` (skipped rules left out).
std::vector<PayloadFile> Expected(const char* rules, size_t column) {
    std::vector<PayloadFile> files;
    std::istringstream lines(rules);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, suffixes[6], destinations[2];
        words >> name >> suffixes[0] >> suffixes[1] >> suffixes[2] >> suffixes[3] >> suffixes[4] >>
            suffixes[5] >> destinations[0] >> destinations[1];
        const std::string& suffix = suffixes[column];
        const std::string& destination = destinations[kSystems[column].system.is64Bit];
        if (!name.empty() && suffix != "-") {
            files.push_back(
                {name + (suffix == "=" ? "" : suffix), destination.empty() ? name : destination});
        }
    }
    return files;
}

std::string Describe(const std::vector<PayloadFile>& files) {
    std::string text;
    for (const PayloadFile& file : files) {
        text += "  " + file.entryName + " -> " + file.destinationName + "\n";
    }
    return text;
}

TEST(PayloadPlan, EachProfileInstallsItsTableOnEverySystem) {
    for (const auto& profile : kProfiles) {
        for (size_t column = 0; column < std::size(kSystems); ++column) {
            EXPECT_EQ(Describe(ResolvePayloadPlan(profile.profile->payloadRules,
                                                  kSystems[column].system)),
                      Describe(Expected(profile.rules, column)))
                << profile.name << " on " << kSystems[column].label;
        }
    }
}

// The log names the entry a skipped rule leaves out.
TEST(PayloadPlan, SkippedRuleStillNamesTheEntryItLeavesOut) {
    const PayloadRule& companion = kWorkstationProfile.payloadRules.rules[13];
    const PayloadDecision decision = ResolvePayloadRule(companion, {false, true, true});
    EXPECT_TRUE(decision.skipped);
    EXPECT_EQ(decision.entryName, "hxvchan.dll.x86");
    // The install step creates this folder for the subfolder files of the table.
    EXPECT_STREQ(ArchitectureFolderName({false, true, true}), "x86");
    EXPECT_STREQ(ArchitectureFolderName({true, true, true}), "amd64");
}

// Rule shapes the two profiles do not use yet, which a later profile could.
TEST(PayloadPlan, RuleFormsBeyondTheProfiles) {
    const struct {
        const char* what;
        const char* name;
        bool architectureVariant, subfolder;
        int osVariant, wordSize;
        bool is64Bit, isVista, isWindows10;
        const char* entry;
        const char* destination;
        bool skipped;
    } cases[] = {
        {"companion without a dot", "hxvtool", true, false, kOsVariantNone, kWordSizeCompanion,
         true, true, false, "hxvtool.x86", "hxvtool", false},
        {"companion at the first dot", "hxv.chan.dll", true, false, kOsVariantNone,
         kWordSizeCompanion, true, false, false, "hxv.chan.dll.x86", "hxv_x86_64.chan.dll", false},
        {"companion in the x86 folder", "hxvchan.dll", true, true, kOsVariantGeneration,
         kWordSizeCompanion, true, true, false, "hxvchan.dll.x86.v7", "x86\\hxvchan_x86_64.dll",
         false},
        {"x86-only file in a subfolder", "hxvplug.sys", true, true, kOsVariantNone,
         kWordSizeAlwaysX86, true, true, true, "hxvplug.sys.x86", "x86\\hxvplug.sys", false},
        {"subfolder without architecture", "hxvhub.inf", false, true, kOsVariantNone,
         kWordSizeNative, true, true, true, "hxvhub.inf", "hxvhub.inf", false},
        {"Windows 10 wins over older facts", "hxvhub.cat", false, false, kOsVariantGeneration,
         kWordSizeNative, false, false, true, "hxvhub.cat.v10", "hxvhub.cat", false},
        {"companion without architecture", "hxvchan.dll", false, false, kOsVariantNone,
         kWordSizeCompanion, false, true, true, "hxvchan.dll", "hxvchan.dll", true},
    };
    for (const auto& c : cases) {
        const PayloadDecision decision = ResolvePayloadRule(
            {c.name, c.architectureVariant, c.subfolder, c.osVariant, c.wordSize},
            {c.is64Bit, c.isVista, c.isWindows10});
        EXPECT_EQ(decision.entryName, c.entry) << c.what;
        EXPECT_EQ(decision.destinationName, c.destination) << c.what;
        EXPECT_EQ(decision.skipped, c.skipped) << c.what;
    }
}

// The server's copy of the system's usbd.sys by version class, the same suffix for both sizes.
const std::pair<int, const char*> kUsbDriverSuffixes[] = {
    {kOsVersionUnknown, ""},  {kOsWindows2000, ""},         {kOsWindowsXp, ".xp"},
    {kOsWindows2003, ".2k3"}, {kOsWindowsVista, ".v62"},    {kOsWindowsServer2008, ".2k8"},
    {kOsWindows7, ".v7"},     {kOsWindowsServer2008R2, ""}, {kOsWindows8, ""},
    {kOsWindows10, ""},       {kOsWindowsServer2016, ""},   {kOsWindowsNewer, ""}};

TEST(PayloadPlan, SystemUsbDriverEntryByVersionClass) {
    for (const auto& [code, suffix] : kUsbDriverSuffixes) {
        EXPECT_EQ(SystemUsbDriverEntryName(false, code), std::string("usbd.sys.x86") + suffix);
        EXPECT_EQ(SystemUsbDriverEntryName(true, code), std::string("usbd.sys.amd64") + suffix);
    }
}

// Every entry a profile can ask for, from the tables above.
std::set<std::string> EntriesOf(const char* rules) {
    std::set<std::string> entries;
    for (size_t column = 0; column < std::size(kSystems); ++column) {
        for (const PayloadFile& file : Expected(rules, column)) {
            entries.insert(file.entryName);
        }
    }
    return entries;
}

std::set<std::string> UsbDriverEntries() {
    std::set<std::string> entries;
    for (const auto& [code, suffix] : kUsbDriverSuffixes) {
        entries.insert(
            {std::string("usbd.sys.x86") + suffix, std::string("usbd.sys.amd64") + suffix});
    }
    return entries;
}

class CheckPayloadTest : public PackToolTest {
protected:
    ToolRun Check(const char* profile, const std::set<std::string>& entries,
                  const std::string& subfolder = "") {
        fs::remove_all(Path("payload"));
        fs::create_directories(Path("payload/" + subfolder));
        for (const std::string& name : entries) {
            WriteFile("payload/" + name, "placeholder of " + name + "\r\n");
        }
        return Run({"check-payload", "--profile", profile, P("payload")});
    }
};

TEST_F(CheckPayloadTest, CompleteFoldersPassWithoutNotes) {
    std::set<std::string> server = EntriesOf(kServerRules);
    server.merge(UsbDriverEntries());
    for (const auto& [profile, entries] :
         {std::pair{"workstation", EntriesOf(kWorkstationRules)}, std::pair{"server", server}}) {
        const ToolRun run = Check(profile, entries);
        EXPECT_EQ(run.code, 0) << profile << "\n" << run.out << run.err;
        EXPECT_THAT(run.out, HasSubstr("complete: every entry the " + std::string(profile) +
                                       " profile can ask for is present"));
        EXPECT_THAT(run.out, Not(HasSubstr("note:"))) << profile;
        EXPECT_THAT(run.out, Not(HasSubstr("missing:"))) << profile;
    }
}

// The usbd.sys copies are optional: a note per variant, and the folder passes.
TEST_F(CheckPayloadTest, ServerWithoutUsbDriverCopiesPassesWithANotePerVariant) {
    const ToolRun run = Check("server", EntriesOf(kServerRules));
    EXPECT_EQ(run.code, 0) << run.out;
    for (const std::string& usbd : UsbDriverEntries()) {
        EXPECT_THAT(run.out, HasSubstr("note: no " + usbd +
                                       ": the server setup copies no "
                                       "usbd.sys on "));
    }
    EXPECT_THAT(run.out, HasSubstr("note: no usbd.sys.x86.2k3: the server setup copies no "
                                   "usbd.sys on 32-bit Windows Server 2003\n"));
}

// One entry taken away at a time: it is named with the systems that need it.
TEST_F(CheckPayloadTest, EachMissingEntryIsNamedWithTheSystemsThatNeedIt) {
    const struct {
        const char* profile;
        const char* removed;
        const char* systems;
    } cases[] = {
        {"workstation", "hxvhub.sys.amd64.v10", "64-bit Windows 10 and later"},
        {"workstation", "hxvhub.sys.x86.xp", "32-bit Windows 2000 to Server 2003"},
        {"workstation", "hxvhub.cat.v7", "every Windows Vista to 8.1"},
        {"workstation", "hxvhub.inf", "every Windows before 10"},
        {"workstation", "hxvplug.sys.amd64", "64-bit Windows before 10"},
        // The 32-bit build serves 32-bit Windows and, as the companion, 64-bit Windows too.
        {"workstation", "hxvchan.dll.x86", "every Windows"},
        {"workstation", "hxvchan.dll.amd64", "every 64-bit Windows"},
        {"workstation", "corvanews.exe.x86", "every 32-bit Windows"},
        {"server", "hxvhubbus.sys.x86.v10", "32-bit Windows 10 and later"},
        {"server", "hxvhubbus.cat", "every Windows before 10"},
        {"server", "corvane-rdp-server-installer.exe.amd64", "every 64-bit Windows"},
    };
    for (const auto& c : cases) {
        std::set<std::string> entries =
            EntriesOf(c.profile == std::string("server") ? kServerRules : kWorkstationRules);
        ASSERT_EQ(entries.erase(c.removed), 1u) << c.removed;
        const ToolRun run = Check(c.profile, entries);
        EXPECT_EQ(run.code, 1) << c.removed << "\n" << run.out;
        EXPECT_THAT(run.out, HasSubstr("missing: " + std::string(c.removed) + " (needed on " +
                                       c.systems + ")\n"));
        EXPECT_THAT(run.out, HasSubstr("INCOMPLETE: 1 entry missing")) << c.removed;
    }
}

// The reader looks entries up by their exact name: another letter case is never found.
TEST_F(CheckPayloadTest, NameInOtherLetterCaseIsMissingWithAHint) {
    std::set<std::string> entries = EntriesOf(kWorkstationRules);
    entries.erase("hxvhub.inf.v10");
    entries.insert("HXVHUB.INF.v10");
    const ToolRun run = Check("workstation", entries);
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr("missing: hxvhub.inf.v10 (needed on every Windows 10 and "
                                   "later); the folder has HXVHUB.INF.v10, which differs in "
                                   "letter case"));
}

TEST_F(CheckPayloadTest, ExtraFilesAndSubfoldersAreNotedWithoutFailing) {
    std::set<std::string> entries = EntriesOf(kWorkstationRules);
    entries.insert({"hxvhub.sys.amd64.v8", "usbd.sys.x86.xp"});
    const ToolRun run = Check("workstation", entries, "amd64");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("note: hxvhub.sys.amd64.v8 is not asked for by the "
                                   "workstation profile"));
    EXPECT_THAT(run.out, HasSubstr("note: usbd.sys.x86.xp is not asked for"));
    EXPECT_THAT(run.out, HasSubstr("note: the subfolder amd64 is not part of the payload"));
}

TEST_F(CheckPayloadTest, EmptyFolderListsEverythingAndCounts) {
    const ToolRun run = Check("server", {});
    const std::string count = std::to_string(EntriesOf(kServerRules).size());
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr("0 of " + count + " entries present"));
    EXPECT_THAT(run.out, HasSubstr("INCOMPLETE: " + count + " entries missing"));
}

} // namespace
} // namespace corvane::pack::testing
