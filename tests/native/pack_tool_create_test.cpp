// corvane-pack create: round trips through the reader, determinism, and the
// refusals a release engineer meets, each leaving no output behind.
#include "pack_tool_test_support.h"

#include "md5.h"
#include "packed_tools.h"

#include <cstring>

namespace corvane::pack::testing {
namespace {

using ::testing::HasSubstr;

class CreateTest : public PackToolTest {
protected:
    // The sample payload's shape: texts and a binary with every byte value.
    void WriteSamplePayload(const std::string& folder) {
        WriteFile(folder + "/readme.txt", "Read me first.\r\n");
        WriteFile(folder + "/licence.txt", std::string(3000, 'L'));
        std::vector<uint8_t> binary;
        for (int i = 0; i < 512; ++i) {
            binary.push_back(uint8_t(i));
        }
        WriteFile(folder + "/sample.bin", binary);
    }

    // What the setup program's reader makes of a file.
    static std::map<std::string, std::vector<uint8_t>> LoadWithReader(const fs::path& path) {
        const std::vector<uint8_t> image = ReadFile(path);
        CPackedTools reader;
        EXPECT_EQ(reader.LoadFromImage(image.data(), image.size()), 1)
            << "status " << reader.GetStatus();
        std::map<std::string, std::vector<uint8_t>> entries;
        char name[256];
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        for (uint32_t i = 0; i < reader.GetEntryCount(); ++i) {
            EXPECT_EQ(reader.GetEntryAt(i, name, sizeof name, &data, &size), 1);
            entries[name] = std::vector<uint8_t>(data, data + size);
        }
        return entries;
    }
};

TEST_F(CreateTest, FolderRoundTripsThroughVerifyListAndExtract) {
    WriteSamplePayload("payload");
    const ToolRun create = Run({"create", "-o", P("out/package.bin"), "--dir", P("payload")});
    ASSERT_EQ(create.code, 0) << create.err;
    EXPECT_THAT(create.out, HasSubstr("3 entries"));

    const ToolRun verify = Run({"verify", P("out/package.bin")});
    EXPECT_EQ(verify.code, 0) << verify.out;
    EXPECT_THAT(verify.out, HasSubstr("OK:"));

    const ToolRun list = Run({"list", P("out/package.bin")});
    ASSERT_EQ(list.code, 0) << list.err;
    for (const char* name : {"readme.txt", "licence.txt", "sample.bin"}) {
        const std::vector<uint8_t> content = ReadFile(Path("payload") / name);
        const std::string md5 = ToHex(Md5::Of(content.data(), content.size()));
        // Unpacked size, digest and name on one line.
        EXPECT_THAT(list.out, HasSubstr(std::to_string(content.size()) + "  " + md5 + "  " + name))
            << list.out;
    }
    EXPECT_THAT(list.out, HasSubstr("seal byte           0x5a"));
    EXPECT_THAT(list.out, HasSubstr("entry count         3"));

    const ToolRun extract = Run({"extract", P("out/package.bin"), "-d", P("unpacked/new")});
    ASSERT_EQ(extract.code, 0) << extract.err;
    EXPECT_EQ(FolderNames(Path("unpacked/new")), FolderNames(Path("payload")));
    for (const std::string& name : FolderNames(Path("payload"))) {
        EXPECT_EQ(ReadFile(Path("unpacked/new") / name), ReadFile(Path("payload") / name)) << name;
    }
}

TEST_F(CreateTest, FiveMebibyteEntryRoundTrips) {
    const std::vector<uint8_t> big = NoiseBytes(5 * 1024 * 1024, 7);
    WriteFile("in/big.dat", big);
    WriteFile("in/small.txt", "x");
    ASSERT_EQ(Run({"create", "-o", P("big.pkg"), P("in/big.dat"), P("in/small.txt")}).code, 0);
    EXPECT_EQ(Run({"verify", P("big.pkg")}).code, 0);
    EXPECT_THAT(Run({"list", P("big.pkg")}).out, HasSubstr(" 5242880  "));
    ASSERT_EQ(Run({"extract", P("big.pkg"), "-d", P("out")}).code, 0);
    EXPECT_TRUE(ReadFile(Path("out/big.dat")) == big);
}

TEST_F(CreateTest, StubComesFirstAndTheReaderFindsThePackageAfterIt) {
    WriteSamplePayload("payload");
    // A program's data holds the signature text, unsealed, as the setup
    // program's own copy does; the reader must skip it and find the package.
    std::vector<uint8_t> stub = Bytes(std::string("MZ") + std::string(300, '\0'));
    const std::string text = package::kSignature;
    stub.insert(stub.end(), text.begin(), text.end());
    stub.push_back(0);
    stub.insert(stub.end(), 200, 0x90);
    WriteFile("stub.exe", stub);

    const ToolRun create =
        Run({"create", "--stub", P("stub.exe"), "-o", P("setup.exe"), "--dir", P("payload")});
    ASSERT_EQ(create.code, 0) << create.err;
    EXPECT_THAT(create.out, HasSubstr("at offset " + std::to_string(stub.size())));

    const std::vector<uint8_t> output = ReadFile(Path("setup.exe"));
    ASSERT_GT(output.size(), stub.size());
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), output.begin())) << "stub bytes changed";
    const auto entries = LoadWithReader(Path("setup.exe"));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries.at("sample.bin"), ReadFile(Path("payload/sample.bin")));
    EXPECT_THAT(Run({"list", P("setup.exe")}).out,
                HasSubstr("header offset       " + std::to_string(stub.size())));
    EXPECT_EQ(Run({"verify", P("setup.exe")}).code, 0);
}

TEST_F(CreateTest, SameFilesGiveTheSameBytesWhateverTheirOrderOrSource) {
    WriteSamplePayload("payload");
    WriteFile("names.txt", "# the sample payload\r\nsample.bin\r\n\r\npayload/readme.txt\r\n"
                           "payload/licence.txt\r\n");
    fs::rename(Path("payload/sample.bin"), Path("sample.bin"));
    WriteFile("copy/sample.bin", ReadFile(Path("sample.bin")));
    WriteFile("copy/readme.txt", ReadFile(Path("payload/readme.txt")));
    WriteFile("copy/licence.txt", ReadFile(Path("payload/licence.txt")));

    ASSERT_EQ(Run({"create", "-o", P("a.pkg"), "--dir", P("copy")}).code, 0);
    ASSERT_EQ(Run({"create", "-o", P("b.pkg"), "--list", P("names.txt")}).code, 0);
    ASSERT_EQ(Run({"create", "-o", P("c.pkg"), P("sample.bin"), P("payload/readme.txt"),
                   P("payload/licence.txt")})
                  .code,
              0);
    const std::vector<uint8_t> first = ReadFile(Path("a.pkg"));
    EXPECT_TRUE(first == ReadFile(Path("b.pkg")));
    EXPECT_TRUE(first == ReadFile(Path("c.pkg")));
    // Byte-wise name order: the reader walks its names in that order too.
    const std::string list = Run({"list", P("a.pkg")}).out;
    EXPECT_LT(list.find("licence.txt"), list.find("readme.txt"));
    EXPECT_LT(list.find("readme.txt"), list.find("sample.bin"));
}

TEST_F(CreateTest, SealByteChangesOnlyTheSealedPartOfTheHeader) {
    WriteSamplePayload("payload");
    ASSERT_EQ(Run({"create", "-o", P("default.pkg"), "--dir", P("payload")}).code, 0);
    ASSERT_EQ(Run({"create", "--seal-byte", "0xA7", "-o", P("a7.pkg"), "--dir", P("payload")}).code,
              0);
    ASSERT_EQ(Run({"create", "--seal-byte=167", "-o", P("167.pkg"), "--dir", P("payload")}).code,
              0);
    const std::vector<uint8_t> standard = ReadFile(Path("default.pkg"));
    const std::vector<uint8_t> sealed = ReadFile(Path("a7.pkg"));
    EXPECT_TRUE(sealed == ReadFile(Path("167.pkg")));
    ASSERT_EQ(standard.size(), sealed.size());
    EXPECT_EQ(sealed[31], 0xA7);
    // Seal byte and seal block (bytes 31..63) differ; sizes, digest and
    // entries are the same.
    EXPECT_FALSE(std::equal(standard.begin() + 31, standard.begin() + 64, sealed.begin() + 31));
    EXPECT_TRUE(std::equal(standard.begin() + 64, standard.end(), sealed.begin() + 64));
    EXPECT_TRUE(std::equal(standard.begin(), standard.begin() + 31, sealed.begin()));
    EXPECT_EQ(Run({"verify", P("a7.pkg")}).code, 0);
}

// One bad input among good ones: exit 1, a message naming the file and the
// reason, and no output file.
struct Refusal {
    const char* what;
    void (*prepare)(CreateTest* test);
    std::vector<std::string> args; // "@" stands for the test's folder
    const char* message;
};

class CreateRefusalTest : public CreateTest, public ::testing::WithParamInterface<Refusal> {
public:
    using PackToolTest::WriteFile;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.what;
}

std::string Expand(std::string arg, const fs::path& root) {
    for (size_t at = arg.find('@'); at != std::string::npos; at = arg.find('@', at + 1)) {
        arg.replace(at, 1, root.string());
    }
    return arg;
}

TEST_P(CreateRefusalTest, RefusesWithAClearMessageAndWritesNothing) {
    const Refusal& refusal = GetParam();
    WriteFile("good/a.txt", "aaa");
    WriteFile("good/b.txt", "bbb");
    refusal.prepare(this);
    std::vector<std::string> args = {"create", "-o", P("out/result.pkg")};
    for (const std::string& arg : refusal.args) {
        args.push_back(Expand(arg, m_root));
    }
    fs::create_directories(Path("out"));

    const ToolRun run = Run(args);
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr(Expand(refusal.message, m_root)));
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(FolderNames(Path("out")).empty())
        << "left behind: " << *FolderNames(Path("out")).begin();
}

std::vector<uint8_t> SignedPeStub() {
    // Just enough of a PE32 image for the security directory to be found.
    std::vector<uint8_t> image(0x400, 0);
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x80;
    std::memcpy(&image[0x80], "PE\0\0", 4);
    image[0x80 + 20] = 0xE0; // size of the optional header
    const size_t optional = 0x80 + 24;
    image[optional] = 0x0B;
    image[optional + 1] = 0x01;
    image[optional + 92] = 16; // number of data directories
    const size_t security = optional + 96 + 4 * 8;
    image[security + 1] = 0x03; // certificate table at 0x300
    image[security + 4] = 0x80; // 128 bytes long
    return image;
}

const Refusal kRefusals[] = {
    {"empty name",
     [](CreateTest*) {},
     {"@/good/a.txt", "@/good/"},
     "is not a plain file name: the name is empty"},
    {"dot-dot",
     [](CreateTest*) {},
     {"@/good/a.txt", "@/good/.."},
     "entry name \"..\" is not a plain file name"},
    {"dot", [](CreateTest*) {}, {"@/good/."}, "entry name \".\" is not a plain file name"},
    {"backslash",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("in/dir\\file.txt", "x"); },
     {"@/good/a.txt", "@/in/dir\\file.txt"},
     "\"@/in/dir\\file.txt\": entry name \"dir\\\\file.txt\" is not a plain file name: it contains "
     "a path separator"},
    {"colon",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("in/c:stream", "x"); },
     {"@/in/c:stream"},
     "entry name \"c:stream\" is not a plain file name: it contains a colon"},
    {"control character",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("in/tab\there", "x"); },
     {"@/in/tab\there"},
     "entry name \"tab\\x09here\" is not a plain file name: it contains a control character"},
    {"device name",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("in/nul.txt", "x"); },
     {"@/good/a.txt", "@/in/nul.txt"},
     "entry name \"nul.txt\" is not a plain file name: it is a device name on Windows"},
    {"trailing dot",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("in/notes.", "x"); },
     {"@/in/notes."},
     "entry name \"notes.\" is not a plain file name: it ends with a dot or a blank"},
    {"duplicate names in a list",
     [](CreateTest* t) {
         auto* test = static_cast<CreateRefusalTest*>(t);
         test->WriteFile("a/x", "one");
         test->WriteFile("b/x", "two");
         test->WriteFile("list.txt", "good/a.txt\na/x\nb/x\n");
     },
     {"--list", "@/list.txt"},
     "duplicate entry name \"x\": \"@/a/x\" and \"@/b/x\""},
    {"names differing in case",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("c/A.TXT", "x"); },
     {"@/good/a.txt", "@/c/A.TXT"},
     "differ only in letter case"},
    {"empty file",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("good/c.txt", ""); },
     {"--dir", "@/good"},
     "input file \"@/good/c.txt\" is empty"},
    {"missing file after good ones",
     [](CreateTest*) {},
     {"@/good/a.txt", "@/good/b.txt", "@/good/zz-missing.txt"},
     "cannot read input file \"@/good/zz-missing.txt\": no such file"},
    {"folder named as an input",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("deep/inner/x", "x"); },
     {"@/good/a.txt", "@/deep/inner"},
     "cannot read input file \"@/deep/inner\": it is a folder"},
    {"missing stub",
     [](CreateTest*) {},
     {"--stub", "@/no-stub.exe", "--dir", "@/good"},
     "cannot read stub \"@/no-stub.exe\": no such file"},
    {"stub already carrying a package",
     [](CreateTest* t) {
         std::vector<uint8_t> stub = Bytes("MZ program");
         const std::vector<uint8_t> package = BuildRaw({{"old.txt", "old"}});
         stub.insert(stub.end(), package.begin(), package.end());
         static_cast<CreateRefusalTest*>(t)->WriteFile("carrying.exe", stub);
     },
     {"--stub", "@/carrying.exe", "--dir", "@/good"},
     "stub \"@/carrying.exe\" already carries a package (header at offset 10)"},
    {"signed stub",
     [](CreateTest* t) {
         static_cast<CreateRefusalTest*>(t)->WriteFile("signed.exe", SignedPeStub());
     },
     {"--stub", "@/signed.exe", "--dir", "@/good"},
     "stub \"@/signed.exe\" is already signed (certificate table at offset 768)"},
    {"subfolder in the input folder",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("good/docs/x.txt", "x"); },
     {"--dir", "@/good"},
     "input folder \"@/good\" holds the subfolder \"docs\""},
    {"missing input folder",
     [](CreateTest*) {},
     {"--dir", "@/nowhere"},
     "input folder \"@/nowhere\" does not exist"},
    {"output inside the input folder",
     [](CreateTest*) {},
     {"--dir", "@/out"},
     "output \"@/out/result.pkg\" is inside the input folder \"@/out\""},
    {"input folder without files",
     [](CreateTest* t) {
         fs::create_directories(static_cast<CreateRefusalTest*>(t)->Path("none"));
     },
     {"--dir", "@/none"},
     "input folder \"@/none\" holds no files"},
    {"list naming nothing",
     [](CreateTest* t) { static_cast<CreateRefusalTest*>(t)->WriteFile("list.txt", "# none\n\n"); },
     {"--list", "@/list.txt"},
     "list file \"@/list.txt\" names no files"},
};

INSTANTIATE_TEST_SUITE_P(Inputs, CreateRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                             std::string name = info.param.what;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

TEST_F(CreateTest, FailedRunLeavesThePreviousOutputUntouched) {
    WriteSamplePayload("payload");
    WriteFile("out/setup.pkg", "previous build");
    // Several good inputs, then one that cannot be read.
    const ToolRun run =
        Run({"create", "-o", P("out/setup.pkg"), P("payload/licence.txt"), P("payload/readme.txt"),
             P("payload/sample.bin"), P("payload/gone.txt")});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(ReadFile(Path("out/setup.pkg")), Bytes("previous build"));
    EXPECT_EQ(FolderNames(Path("out")), std::set<std::string>{"setup.pkg"});
}

TEST_F(CreateTest, FailedRenameRemovesTheTemporary) {
    WriteSamplePayload("payload");
    // A folder where the output should go: writing succeeds, the rename
    // over it cannot.
    fs::create_directories(Path("out/setup.pkg/inside"));
    const ToolRun run = Run({"create", "-o", P("out/setup.pkg"), "--dir", P("payload")});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot replace \"" + P("out/setup.pkg") + "\""));
    EXPECT_EQ(FolderNames(Path("out")), std::set<std::string>{"setup.pkg"});
    EXPECT_TRUE(fs::is_directory(Path("out/setup.pkg/inside")));
}

TEST_F(CreateTest, OutputMayReplaceOneOfItsOwnInputs) {
    WriteFile("in/a.txt", "alpha");
    WriteFile("in/b.txt", "beta");
    ASSERT_EQ(Run({"create", "-o", P("in/b.txt"), P("in/a.txt"), P("in/b.txt")}).code, 0);
    ASSERT_EQ(Run({"extract", P("in/b.txt"), "-d", P("x")}).code, 0);
    EXPECT_EQ(ReadFile(Path("x/b.txt")), Bytes("beta"));
}

struct UsageCase {
    std::vector<std::string> args;
    const char* message;
};

TEST_F(CreateTest, UsageErrorsExitWithTwoAndShowTheUsage) {
    const UsageCase cases[] = {
        {{"create", "--dir", "x"}, "-o OUTPUT is required"},
        {{"create", "-o", "p"}, "name the files"},
        {{"create", "-o", "p", "--dir", "x", "y"}, "give only one of"},
        {{"create", "-o", "p", "--seal-byte", "256", "x"}, "from 1 to 255, not \"256\""},
        {{"create", "-o", "p", "--seal-byte", "0", "x"}, "would leave the header unsealed"},
        {{"create", "-o", "p", "--seal-byte", "0x", "x"}, "not \"0x\""},
        {{"create", "-o", "p", "--seal-byte", "-5", "x"}, "not \"-5\""},
        {{"create", "-o", "p", "-o", "q", "x"}, "option --output is given twice"},
        {{"create", "--bogus", "x"}, "unknown option --bogus"},
        {{"create", "x", "-o"}, "option --output needs a value"},
        {{"extract", "p"}, "-d FOLDER is required"},
        {{"list"}, "name the file to list"},
        {{"verify", "a", "b"}, "unexpected argument \"b\""},
        {{"pack"}, "unknown command \"pack\""},
        {{}, "usage: corvane-pack COMMAND"},
    };
    for (const UsageCase& usage : cases) {
        const ToolRun run = Run(usage.args);
        const std::string shown = ::testing::PrintToString(usage.args);
        EXPECT_EQ(run.code, 2) << shown;
        EXPECT_THAT(run.err, HasSubstr(usage.message)) << shown;
    }
}

TEST_F(CreateTest, HelpNamesExitCodesAndTheSigningOrder) {
    const ToolRun help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_THAT(help.out, HasSubstr("2  usage error"));
    EXPECT_THAT(help.out, HasSubstr("append first, then sign"));
    for (const char* command : {"create", "list", "verify", "extract"}) {
        const ToolRun usage = Run({command, "--help"});
        EXPECT_EQ(usage.code, 0);
        EXPECT_THAT(usage.out, HasSubstr(std::string("usage: corvane-pack ") + command));
        EXPECT_EQ(Run({"help", command}).out, usage.out);
    }
}

} // namespace
} // namespace corvane::pack::testing
