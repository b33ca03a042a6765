// How long the setup program's package reader takes to load and verify a package of about
// 100 MB, against a reference that does the same work with the same zlib and OpenSSL's MD5,
// measured in the same run; the reader's peak memory against its bound; and our MD5 routine
// against OpenSSL's.
//
//   package_load_bench [--stub PROGRAM] [--add-dir FOLDER] [--keep OUTPUT] [--runs N]
//
// The package is made by corvane-pack from data generated here (the same bytes every run):
// incompressible noise, compressible text and program-like data, several entries over the
// reader's 2 MiB inflate buffer and many small ones. --stub puts the package after a real
// setup program's stub, --add-dir packs the files of FOLDER too (a payload), --keep keeps the
// program or package it made.
//
// Each measurement runs in a process of its own, so that neither side inherits the other's
// freed memory, and the peak resident size is the load's own.
#include "md5.h"
#include "package_format.h"
#include "packed_tools.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kTargetRatio = 1.15;

// ---------------------------------------------------------------------------------------------
// Generated data

class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1Dull;
    }
    uint32_t Below(uint32_t bound) { return uint32_t(Next() % bound); }

private:
    uint64_t m_state;
};

std::vector<uint8_t> Noise(size_t size, uint64_t seed) {
    Random random(seed);
    std::vector<uint8_t> bytes(size);
    for (size_t at = 0; at < size; at += 8) {
        const uint64_t word = random.Next();
        std::memcpy(&bytes[at], &word, std::min<size_t>(8, size - at));
    }
    return bytes;
}

// Log-like text from a vocabulary of made-up words: deflate gets it to about a quarter.
std::vector<uint8_t> Text(size_t size, uint64_t seed) {
    static const char* const kSyllables[] = {"ka",  "lo",  "mer", "vin", "tas", "dre", "usb",
                                             "hub", "ses", "ion", "rem", "ote", "dev", "ice",
                                             "por", "t",   "con", "fig", "dri", "ver"};
    Random random(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 1500; ++i) {
        std::string word;
        for (uint32_t n = 1 + random.Below(4); n > 0; --n) {
            word += kSyllables[random.Below(sizeof kSyllables / sizeof *kSyllables)];
        }
        words.push_back(word);
    }
    static const char* const kLevels[] = {"INFO", "WARN", "DEBUG", "ERROR"};
    std::string text;
    text.reserve(size + 256);
    char stamp[64];
    for (uint64_t line = 0; text.size() < size; ++line) {
        std::snprintf(stamp, sizeof stamp, "2024-%02u-%02u %02u:%02u:%02u.%03u [%s] ",
                      1 + random.Below(12), 1 + random.Below(28), random.Below(24),
                      random.Below(60), random.Below(60), random.Below(1000),
                      kLevels[random.Below(4)]);
        text += stamp;
        for (uint32_t n = 4 + random.Below(12); n > 0; --n) {
            text += words[random.Below(uint32_t(words.size()))];
            text += ' ';
        }
        text += std::to_string(random.Below(100000));
        text += "\r\n";
    }
    text.resize(size);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Code-like bytes: a few hundred recurring instruction patterns with random operands and
// stretches of padding; deflate gets it to about half.
std::vector<uint8_t> ProgramLike(size_t size, uint64_t seed) {
    Random random(seed);
    std::vector<std::vector<uint8_t>> patterns;
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> pattern(2 + random.Below(7));
        for (uint8_t& byte : pattern) {
            byte = uint8_t(random.Next());
        }
        patterns.push_back(pattern);
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(size + 64);
    while (bytes.size() < size) {
        const uint32_t kind = random.Below(16);
        if (kind == 0) {
            bytes.insert(bytes.end(), 8 + random.Below(40), 0);
        } else {
            const auto& pattern = patterns[random.Below(uint32_t(patterns.size()))];
            bytes.insert(bytes.end(), pattern.begin(), pattern.end());
            for (uint32_t n = random.Below(5); n > 0; --n) {
                bytes.push_back(uint8_t(random.Next()));
            }
        }
    }
    bytes.resize(size);
    return bytes;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes(fs::file_size(path));
    file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return bytes;
}

// About 100 MiB: 4 x 8 MiB noise, 5 x 11 MiB text, 3 x 3 MiB program-like, 40 small entries of
// all three kinds.
void GenerateData(const fs::path& folder) {
    fs::create_directories(folder);
    uint64_t seed = 1;
    for (int i = 1; i <= 4; ++i) {
        WriteFile(folder / ("noise-" + std::to_string(i) + ".bin"), Noise(8 << 20, seed++));
    }
    for (int i = 1; i <= 5; ++i) {
        WriteFile(folder / ("journal-" + std::to_string(i) + ".txt"), Text(11 << 20, seed++));
    }
    for (int i = 1; i <= 3; ++i) {
        WriteFile(folder / ("module-" + std::to_string(i) + ".dll"), ProgramLike(3 << 20, seed++));
    }
    Random sizes(99);
    for (int i = 1; i <= 40; ++i) {
        const size_t size = 1024 + sizes.Below(200 * 1024);
        const std::string number = std::to_string(i);
        switch (i % 3) {
        case 0:
            WriteFile(folder / ("small-" + number + ".txt"), Text(size, seed++));
            break;
        case 1:
            WriteFile(folder / ("small-" + number + ".exe"), ProgramLike(size, seed++));
            break;
        default:
            WriteFile(folder / ("small-" + number + ".cat"), Noise(size, seed++));
            break;
        }
    }
}

// A made-up program: an MZ start and the signature text twice without a seal, as the setup
// program carries it in its own data.
std::vector<uint8_t> MadeUpStub() {
    std::vector<uint8_t> stub = ProgramLike(1 << 20, 4711);
    stub[0] = 'M';
    stub[1] = 'Z';
    for (size_t at : {size_t(0x1000), size_t(0x80000)}) {
        std::memcpy(&stub[at], corvane::package::kSignature, corvane::package::kSignatureSize);
    }
    return stub;
}

void RunPackTool(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    std::string program = CORVANE_PACK_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        execv(argv[0], argv.data());
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(std::string(CORVANE_PACK_PROGRAM) + " create failed");
    }
}

// ---------------------------------------------------------------------------------------------
// The reference: the same checks in the same order, written plainly against zlib and OpenSSL.

using OpenSslDigest = unsigned char[EVP_MAX_MD_SIZE];

void OpenSslMd5(const void* data, size_t size, OpenSslDigest digest) {
    unsigned int length = 0;
    EVP_Digest(data, size, digest, &length, EVP_md5(), nullptr);
}

uint32_t Read32(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

struct ReferenceEntry {
    std::string name;
    uint8_t* data;
    size_t size;
};

// The same work as the reader at its best: each entry inflated straight into a block of its
// own that doubles when full (realloc, which may move it without copying), and digested slice
// by slice as it comes out, while the bytes are still in the cache.
bool ReferenceLoad(const uint8_t* image, size_t length, std::vector<ReferenceEntry>* entries) {
    constexpr size_t kSlice = 256 * 1024;
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(),
                                                                     EVP_MD_CTX_free);
    const size_t signatureSize = corvane::package::kSignatureSize;
    const uint8_t* header = nullptr;
    for (const uint8_t* at = image; at + 88 <= image + length; ++at) {
        at = static_cast<const uint8_t*>(
            memmem(at, size_t(image + length - at), corvane::package::kSignature, signatureSize));
        if (at == nullptr || at + 88 > image + length) {
            break;
        }
        bool sealed = true;
        for (size_t k = 0; k < 32 && sealed; ++k) {
            sealed = at[32 + k] == uint8_t(at[k] ^ at[31]);
        }
        if (sealed) {
            header = at;
            break;
        }
    }
    if (header == nullptr) {
        return false;
    }
    const uint32_t areaSize = Read32(header + 64);
    const uint32_t count = Read32(header + 68);
    const uint8_t* area = header + 88;
    if (areaSize > size_t(image + length - area)) {
        return false;
    }
    OpenSslDigest digest;
    OpenSslMd5(area, areaSize, digest);
    if (std::memcmp(digest, header + 72, 16) != 0) {
        return false;
    }
    size_t position = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (areaSize - position < 24) {
            return false;
        }
        const uint8_t* record = area + position;
        const uint32_t packedSize = Read32(record);
        const uint32_t nameLength = Read32(record + 4);
        if (uint64_t(nameLength) + packedSize > areaSize - position - 24) {
            return false;
        }
        z_stream stream{};
        stream.next_in = const_cast<Bytef*>(record + 24 + nameLength);
        stream.avail_in = packedSize;
        if (inflateInit(&stream) != Z_OK) {
            return false;
        }
        EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr);
        size_t capacity = std::max<size_t>(size_t(packedSize) * 2, 64 * 1024);
        auto* data = static_cast<uint8_t*>(std::malloc(capacity));
        size_t size = 0;
        int result = Z_OK;
        while (result == Z_OK && data != nullptr) {
            if (size == capacity) {
                capacity *= 2;
                auto* grown = static_cast<uint8_t*>(std::realloc(data, capacity));
                if (grown == nullptr) {
                    break;
                }
                data = grown;
            }
            const size_t room = std::min(capacity - size, kSlice);
            stream.next_out = data + size;
            stream.avail_out = uInt(room);
            result = inflate(&stream, Z_NO_FLUSH);
            const size_t made = room - stream.avail_out;
            EVP_DigestUpdate(context.get(), data + size, made);
            size += made;
        }
        inflateEnd(&stream);
        entries->push_back(
            {std::string(reinterpret_cast<const char*>(record + 24), nameLength), data, size});
        unsigned int digestLength = 0;
        EVP_DigestFinal_ex(context.get(), digest, &digestLength);
        if (result != Z_STREAM_END || size == 0 || std::memcmp(digest, record + 8, 16) != 0) {
            return false;
        }
        position += 24 + size_t(nameLength) + packedSize;
    }
    return true;
}

// The least the checks can cost: the same scan and digests, each entry inflated through one
// reused 2 MiB buffer and digested as it comes out, nothing kept.
bool FloorLoad(const uint8_t* image, size_t length) {
    const uint8_t* header = nullptr;
    for (const uint8_t* at = image; at + 88 <= image + length; ++at) {
        at = static_cast<const uint8_t*>(memmem(at, size_t(image + length - at),
                                                corvane::package::kSignature,
                                                corvane::package::kSignatureSize));
        if (at == nullptr || at + 88 > image + length) {
            break;
        }
        bool sealed = true;
        for (size_t k = 0; k < 32 && sealed; ++k) {
            sealed = at[32 + k] == uint8_t(at[k] ^ at[31]);
        }
        if (sealed) {
            header = at;
            break;
        }
    }
    if (header == nullptr) {
        return false;
    }
    const uint32_t areaSize = Read32(header + 64);
    const uint32_t count = Read32(header + 68);
    const uint8_t* area = header + 88;
    if (areaSize > size_t(image + length - area)) {
        return false;
    }
    OpenSslDigest digest;
    OpenSslMd5(area, areaSize, digest);
    if (std::memcmp(digest, header + 72, 16) != 0) {
        return false;
    }
    std::vector<uint8_t> buffer(2 << 20);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t position = 0;
    bool good = true;
    for (uint32_t i = 0; i < count && good; ++i) {
        const uint8_t* record = area + position;
        const uint32_t packedSize = Read32(record);
        const uint32_t nameLength = Read32(record + 4);
        if (areaSize - position < 24 ||
            uint64_t(nameLength) + packedSize > areaSize - position - 24) {
            good = false;
            break;
        }
        z_stream stream{};
        stream.next_in = const_cast<Bytef*>(record + 24 + nameLength);
        stream.avail_in = packedSize;
        inflateInit(&stream);
        EVP_DigestInit_ex(context, EVP_md5(), nullptr);
        int result = Z_OK;
        size_t size = 0;
        while (result == Z_OK) {
            stream.next_out = buffer.data();
            stream.avail_out = uInt(buffer.size());
            result = inflate(&stream, Z_NO_FLUSH);
            const size_t made = buffer.size() - stream.avail_out;
            EVP_DigestUpdate(context, buffer.data(), made);
            size += made;
        }
        inflateEnd(&stream);
        unsigned int digestLength = 0;
        EVP_DigestFinal_ex(context, digest, &digestLength);
        good = result == Z_STREAM_END && size != 0 && std::memcmp(digest, record + 8, 16) == 0;
        position += 24 + size_t(nameLength) + packedSize;
    }
    EVP_MD_CTX_free(context);
    return good;
}

// ---------------------------------------------------------------------------------------------
// Measuring in a process of its own

struct Measurement {
    bool loaded = false;
    double wallSeconds = 0;
    double cpuSeconds = 0; // the load's own: the machine may be shared with other work
    double peakBytes = 0;  // above the resident size before the file was read
};

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::atol(line.c_str() + length + 1);
        }
    }
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

enum class Side { Reader, Reference, Floor };

// Runs `load` on the file's image in a child process: its times and peak memory.
template <typename Load> Measurement MeasureInChild(const fs::path& program, Load load) {
    int channel[2];
    if (pipe(channel) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        // The peak so far belongs to the parent; count from here.
        if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", refs);
            std::fclose(refs);
        }
        Measurement measurement;
        const long baseline = StatusKilobytes("VmRSS");
        const std::vector<uint8_t> image = ReadFile(program);
        const double cpu = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        measurement.loaded = load(image);
        measurement.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        measurement.cpuSeconds = CpuSeconds() - cpu;
        measurement.peakBytes = double(StatusKilobytes("VmHWM") - baseline) * 1024;
        const ssize_t written = write(channel[1], &measurement, sizeof measurement);
        _exit(written == ssize_t(sizeof measurement) ? 0 : 1);
    }
    close(channel[1]);
    Measurement measurement;
    const ssize_t got = read(channel[0], &measurement, sizeof measurement);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != ssize_t(sizeof measurement) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("a measuring process failed");
    }
    return measurement;
}

Measurement Measure(Side side, const fs::path& program) {
    switch (side) {
    case Side::Reader:
        return MeasureInChild(program, [](const std::vector<uint8_t>& image) {
            // Made before the clock starts, as the setup program makes it long before.
            static CPackedTools* reader = new CPackedTools;
            return reader->LoadFromImage(image.data(), image.size()) == 1;
        });
    case Side::Reference:
        return MeasureInChild(program, [](const std::vector<uint8_t>& image) {
            static auto* entries = new std::vector<ReferenceEntry>;
            return ReferenceLoad(image.data(), image.size(), entries);
        });
    default:
        return MeasureInChild(program, [](const std::vector<uint8_t>& image) {
            return FloorLoad(image.data(), image.size());
        });
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Throughput of our MD5 and OpenSSL's over the same 64 MiB, best of five each.
void CompareMd5() {
    const std::vector<uint8_t> data = Noise(64 << 20, 12345);
    double ours = 1e9, openssl = 1e9;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        const corvane::Md5Digest digest = corvane::Md5::Of(data.data(), data.size());
        ours = std::min(
            ours, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        start = std::chrono::steady_clock::now();
        OpenSslDigest reference;
        OpenSslMd5(data.data(), data.size(), reference);
        openssl = std::min(
            openssl,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (std::memcmp(digest.bytes, reference, 16) != 0) {
            throw std::runtime_error("our MD5 and OpenSSL's disagree");
        }
    }
    std::printf("MD5 over 64 MiB: ours %.0f MB/s, OpenSSL %.0f MB/s; time ours/OpenSSL %.2f\n",
                double(data.size()) / ours / 1e6, double(data.size()) / openssl / 1e6,
                ours / openssl);
}

struct Options {
    fs::path stub;
    fs::path addDir;
    fs::path keep;
    int runs = 5;
};

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: package_load_bench [--stub PROGRAM] [--add-dir FOLDER] "
                         "[--keep OUTPUT] [--runs N]\n");
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            Usage();
        }
        const char* value = argv[++i];
        if (option == "--stub") {
            options.stub = value;
        } else if (option == "--add-dir") {
            options.addDir = value;
        } else if (option == "--keep") {
            options.keep = value;
        } else if (option == "--runs") {
            options.runs = std::max(1, std::atoi(value));
        } else {
            Usage();
        }
    }
    return options;
}

int Run(const Options& options) {
    char pattern[] = "/tmp/package-load-bench.XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    const fs::path work = made;
    struct Cleanup {
        fs::path folder;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    } cleanup{work};

    const fs::path data = work / "data";
    GenerateData(data);
    if (!options.addDir.empty()) {
        for (const auto& file : fs::directory_iterator(options.addDir)) {
            fs::copy_file(file.path(), data / file.path().filename());
        }
    }
    fs::path stub = options.stub;
    if (stub.empty()) {
        stub = work / "stub.exe";
        WriteFile(stub, MadeUpStub());
    }
    const fs::path program = options.keep.empty() ? work / "setup.exe" : options.keep;
    RunPackTool(
        {"create", "--stub", stub.string(), "-o", program.string(), "--dir", data.string()});

    size_t entries = 0, unpacked = 0, largest = 0;
    for (const auto& file : fs::directory_iterator(data)) {
        const size_t size = fs::file_size(file.path());
        ++entries;
        unpacked += size;
        largest = std::max(largest, size);
    }
    const double fileSize = double(fs::file_size(program));
    std::printf("package: %zu entries, %.1f MiB unpacked (largest %.1f MiB), program file "
                "%.1f MiB\n",
                entries, double(unpacked) / kMiB, double(largest) / kMiB, fileSize / kMiB);

    // One run of each side in turn, so that a busy moment of the machine hits all three.
    std::vector<Measurement> runs[3];
    for (int run = 0; run < options.runs; ++run) {
        for (Side side : {Side::Reader, Side::Reference, Side::Floor}) {
            const Measurement measurement = Measure(side, program);
            if (!measurement.loaded) {
                throw std::runtime_error(side == Side::Reader ? "the reader refused the package"
                                                              : "the reference refused it");
            }
            runs[int(side)].push_back(measurement);
        }
    }
    const auto median = [&](Side side, double Measurement::*field) {
        std::vector<double> values;
        for (const Measurement& measurement : runs[int(side)]) {
            values.push_back(measurement.*field);
        }
        return Median(values);
    };
    double readerPeak = 0;
    for (const Measurement& measurement : runs[int(Side::Reader)]) {
        readerPeak = std::max(readerPeak, measurement.peakBytes);
    }
    std::printf("load and verify, median of %d runs, each in a process of its own "
                "(CPU time of the load, wall time in brackets):\n",
                options.runs);
    static const char* const kTitles[] = {"reader    (CPackedTools::LoadFromImage)            ",
                                          "reference (zlib, OpenSSL MD5, entries kept)        ",
                                          "floor     (zlib, OpenSSL MD5, nothing kept)        "};
    for (Side side : {Side::Reader, Side::Reference, Side::Floor}) {
        std::printf("  %s %7.3f s  (%.3f s)\n", kTitles[int(side)],
                    median(side, &Measurement::cpuSeconds),
                    median(side, &Measurement::wallSeconds));
    }
    const double readerTime = median(Side::Reader, &Measurement::cpuSeconds);
    const double ratio = readerTime / median(Side::Reference, &Measurement::cpuSeconds);
    std::printf("  ratio reader/reference %.2f (target: at most %.2f) -> %s\n", ratio, kTargetRatio,
                ratio <= kTargetRatio ? "ok" : "OVER");
    std::printf("  ratio reader/floor %.2f (what keeping every entry in memory adds)\n",
                readerTime / median(Side::Floor, &Measurement::cpuSeconds));
    const double bound = fileSize + double(unpacked) + 2.0 * double(largest) + 4 * kMiB;
    std::printf("  reader's peak memory %.1f MiB; bound (file + unpacked + 2 x largest entry + "
                "4 MiB) %.1f MiB -> %s\n",
                readerPeak / kMiB, bound / kMiB, readerPeak <= bound ? "ok" : "OVER");
    CompareMd5();
    return ratio <= kTargetRatio && readerPeak <= bound ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(ParseOptions(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "package_load_bench: %s\n", error.what());
        return 2;
    }
}
