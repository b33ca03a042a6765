// The package reader on real Windows program files: copies of package-probe.exe
// with packages appended are started as processes and must find (or refuse)
// their own package; LoadFromFile is also given handles it cannot read.
#include "md5.h"
#include "package_format.h"
#include "packed_tools.h"
#include "package_test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace package = corvane::package;
using namespace corvane::testing;

// Closes the handle it owns; INVALID_HANDLE_VALUE and null both mean none.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE* put() { return &handle_; }

private:
    HANDLE handle_;
};

std::string FolderOfThisProgram() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\'));
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

// The listing line package-probe prints for one entry.
std::string EntryLine(const std::string& name, const Bytes& content) {
    char line[400];
    std::snprintf(line, sizeof line, "  %s %10lu %s",
                  corvane::ToHex(corvane::Md5::Of(content.data(), content.size())).c_str(),
                  static_cast<unsigned long>(content.size()), name.c_str());
    return line;
}

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output; // stdout, with CR LF turned into LF
};

class PackageProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        probe_ = ReadFileBytes(FolderOfThisProgram() + "\\package-probe.exe");
        ASSERT_FALSE(probe_.empty()) << "package-probe.exe not found beside the test program";
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string(temp) + "corvane-package-probe-" +
                  std::to_string(GetCurrentProcessId()) + "-" + test->name();
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS)
            << folder_;
    }

    void TearDown() override {
        for (const std::string& file : written_) {
            DeleteFileA(file.c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }

    std::string WriteProgram(const std::string& name, const Bytes& bytes) {
        const std::string path = folder_ + "\\" + name;
        WriteFileBytes(path, bytes);
        written_.push_back(path);
        return path;
    }

    // Starts `program` with `arguments` and collects its standard output.
    RunResult Run(const std::string& program, const std::string& arguments = "") {
        RunResult result;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        ScopedHandle readEnd, writeEnd;
        if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) {
            ADD_FAILURE() << "CreatePipe failed, error " << GetLastError();
            return result;
        }
        SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd.get();
        startup.hStdError = writeEnd.get();
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string commandLine =
            "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                            folder_.c_str(), &startup, &process)) {
            ADD_FAILURE() << "CreateProcessA " << program << " failed, error " << GetLastError();
            return result;
        }
        ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
        // Our copy of the write end must go, or the pipe never reports its end.
        CloseHandle(*writeEnd.put());
        *writeEnd.put() = nullptr;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(readEnd.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
            result.output.append(chunk, got);
        }
        if (WaitForSingleObject(processHandle.get(), 60000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << program << " did not end";
            TerminateProcess(processHandle.get(), 1);
        }
        GetExitCodeProcess(processHandle.get(), &result.exitCode);
        std::string text;
        for (char c : result.output) {
            if (c != '\r') {
                text += c;
            }
        }
        result.output = text;
        return result;
    }

    Bytes probe_;
    std::string folder_;
    std::vector<std::string> written_;
};

// The probe's own data holds the signature text, unsealed: without an
// appended package, that copy must not pass for a header.
TEST_F(PackageProbeTest, ProgramWithoutAPackageReportsItDamaged) {
    const RunResult run = Run(WriteProgram("bare.exe", probe_));
    EXPECT_EQ(run.exitCode, DWORD(CPackedTools::kDamaged)) << run.output;
    EXPECT_NE(run.output.find("status -2: damaged"), std::string::npos) << run.output;
}

struct AppendedCase {
    const char* what;
    uint8_t seal;
    Bytes trailer; // after the package: padding, a certificate table
};

// A program with a package appended finds it, whatever the seal byte and
// whatever follows the entries area, and lists the entries in name order.
TEST_F(PackageProbeTest, AppendedPackageIsFoundAndListed) {
    const std::vector<package::PackageInput> entries = {
        {"readme.txt", ToBytes("Read me first.\r\n")},
        {"hxvhub.sys.amd64.v10", NoiseBytes(20000, 1)},
        {"Licence.rtf", ToBytes("{\\rtf1 licence}")},
        {"hxvhub.inf.v10", ToBytes("[Version]\r\nSignature=\"$Windows NT$\"\r\n")}};
    const std::string expectedListing = "4 entries\n" +
                                        EntryLine("Licence.rtf", entries[2].content) + "\n" +
                                        EntryLine("hxvhub.inf.v10", entries[3].content) + "\n" +
                                        EntryLine("hxvhub.sys.amd64.v10", entries[1].content) +
                                        "\n" + EntryLine("readme.txt", entries[0].content) + "\n";
    const AppendedCase cases[] = {
        {"default seal", package::kDefaultSealByte, {}},
        {"seal 0x00", 0x00, {}},
        {"seal 0xFF", 0xFF, {}},
        {"zero padding and a certificate-like table after it", package::kDefaultSealByte,
         Concat({Bytes(4096, 0), NoiseBytes(1500, 9)})},
    };
    int index = 0;
    for (const AppendedCase& c : cases) {
        const std::string program =
            WriteProgram("setup" + std::to_string(index++) + ".exe",
                         Concat({probe_, package::BuildPackage(entries, c.seal), c.trailer}));
        const RunResult run = Run(program);
        EXPECT_EQ(run.exitCode, 0u) << c.what << "\n" << run.output;
        EXPECT_NE(run.output.find("status 0: ready\n" + expectedListing), std::string::npos)
            << c.what << "\n"
            << run.output;
    }
}

TEST_F(PackageProbeTest, EmptyPackageLoadsWithNoEntries) {
    const RunResult run =
        Run(WriteProgram("empty.exe", Concat({probe_, package::BuildPackage({})})));
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("status 0: ready\n0 entries\n"), std::string::npos) << run.output;
}

TEST_F(PackageProbeTest, EntryLargerThanTheInflateBufferComesBackWhole) {
    const Bytes big = NoiseBytes(5u << 20, 3);
    const Bytes zeros(5u << 20, 0);
    const RunResult run = Run(WriteProgram(
        "big.exe",
        Concat({probe_, package::BuildPackage({{"big.bin", big}, {"zeros.bin", zeros}})})));
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find(EntryLine("big.bin", big)), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(EntryLine("zeros.bin", zeros)), std::string::npos) << run.output;
}

// One wrong byte in the last entry's packed data, as a bad download would
// leave it.
TEST_F(PackageProbeTest, DamagedAppendedPackageIsRefused) {
    Bytes program =
        Concat({probe_,
                package::BuildPackage({{"a.txt", ToBytes("alpha")}, {"b.txt", ToBytes("bravo")}})});
    program[program.size() - 6] ^= 0x40;
    const RunResult run = Run(WriteProgram("damaged.exe", program));
    EXPECT_EQ(run.exitCode, DWORD(CPackedTools::kDamaged)) << run.output;
    EXPECT_NE(run.output.find("status -2: damaged"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("entries"), std::string::npos) << run.output;
}

TEST_F(PackageProbeTest, ProbesAnotherFileGivenOnTheCommandLine) {
    const Bytes content = ToBytes("payload");
    const std::string setup = WriteProgram(
        "other-setup.exe", Concat({probe_, package::BuildPackage({{"p.txt", content}})}));
    const RunResult run = Run(WriteProgram("probe.exe", probe_), "\"" + setup + "\"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("1 entry\n" + EntryLine("p.txt", content)), std::string::npos)
        << run.output;

    const RunResult missing = Run(WriteProgram("probe2.exe", probe_), "no-such-file.exe");
    EXPECT_EQ(missing.exitCode, DWORD(CPackedTools::kFileUnreadable)) << missing.output;
    EXPECT_NE(missing.output.find("cannot open no-such-file.exe"), std::string::npos)
        << missing.output;
}

TEST_F(PackageProbeTest, UsageText) {
    const std::string program = WriteProgram("probe.exe", probe_);
    const RunResult help = Run(program, "--help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_EQ(help.output.rfind("Usage: package-probe [FILE]\n", 0), 0u) << help.output;
    const RunResult wrong = Run(program, "one two");
    EXPECT_EQ(wrong.exitCode, 2u);
    EXPECT_NE(wrong.output.find("Usage:"), std::string::npos) << wrong.output;
}

class PackageLoadFromFileTest : public PackageProbeTest {
protected:
    ScopedHandle Open(const std::string& path, DWORD access) {
        return ScopedHandle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
};

// Every failure to read the file is -1, and a failed load leaves no entries
// from an earlier one.
TEST_F(PackageLoadFromFileTest, UnreadableHandlesFailWithoutEntries) {
    const std::string good = WriteProgram(
        "good.exe", Concat({probe_, package::BuildPackage({{"a.txt", ToBytes("a")}})}));
    const std::string empty = WriteProgram("empty.bin", {});

    CPackedTools reader;
    {
        ScopedHandle file = Open(good, GENERIC_READ);
        ASSERT_EQ(reader.LoadFromFile(file.get()), 1);
        ASSERT_EQ(reader.GetEntryCount(), 1u);
    }
    {
        ScopedHandle writeOnly = Open(good, GENERIC_WRITE);
        ASSERT_NE(writeOnly.get(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(reader.LoadFromFile(writeOnly.get()), 0);
        EXPECT_EQ(reader.GetStatus(), CPackedTools::kFileUnreadable);
        EXPECT_EQ(reader.GetEntryCount(), 0u);
    }
    {
        ScopedHandle file = Open(good, GENERIC_READ);
        ASSERT_EQ(reader.LoadFromFile(file.get()), 1);
        EXPECT_EQ(reader.LoadFromFile(INVALID_HANDLE_VALUE), 0);
        EXPECT_EQ(reader.GetStatus(), CPackedTools::kFileUnreadable);
        EXPECT_EQ(reader.GetEntryCount(), 0u);
    }
    {
        // The read end of a pipe holding a few bytes: not a file whose size
        // can be taken and read whole.
        ScopedHandle readEnd, writeEnd;
        ASSERT_TRUE(CreatePipe(readEnd.put(), writeEnd.put(), nullptr, 0));
        DWORD written = 0;
        WriteFile(writeEnd.get(), "Marrowfend", 10, &written, nullptr);
        EXPECT_EQ(reader.LoadFromFile(readEnd.get()), 0);
        EXPECT_NE(reader.GetStatus(), CPackedTools::kReady);
        EXPECT_EQ(reader.GetEntryCount(), 0u);
    }
    {
        ScopedHandle file = Open(empty, GENERIC_READ);
        EXPECT_EQ(reader.LoadFromFile(file.get()), 0);
        EXPECT_EQ(reader.GetStatus(), CPackedTools::kDamaged);
    }
}

// The file pointer may be anywhere when the handle is handed over.
TEST_F(PackageLoadFromFileTest, ReadsFromTheStartWhereverTheFilePointerIs) {
    const std::string good = WriteProgram(
        "good.exe", Concat({probe_, package::BuildPackage({{"a.txt", ToBytes("a")}})}));
    ScopedHandle file = Open(good, GENERIC_READ);
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    CPackedTools reader;
    EXPECT_EQ(reader.LoadFromFile(file.get()), 1);
    EXPECT_EQ(reader.GetEntryCount(), 1u);
}

} // namespace
