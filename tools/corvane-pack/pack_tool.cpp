#include "pack_tool.h"

#include "check_payload.h"
#include "package_files.h"
#include "package_format.h"
#include "package_inspection.h"
#include "packed_tools.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace corvane::pack {

namespace fs = std::filesystem;

namespace {

const char kGeneralHelp[] =
    R"(corvane-pack - builds and checks the package a Corvane setup program carries

usage: corvane-pack COMMAND [OPTIONS] [ARGUMENTS]
       corvane-pack help [COMMAND]
       corvane-pack COMMAND --help

commands:
%COMMANDS%
exit codes:
  0  success
  1  bad input (the message names the file and the reason), the package
     failed verification, or a payload folder lacks entries
  2  usage error (unknown command or option, missing argument)

release order: append first, then sign.
  1. corvane-pack create --stub setup.exe -o product-setup.exe --dir payload
  2. corvane-pack verify product-setup.exe
  3. sign product-setup.exe (Authenticode, e.g. signtool or osslsigncode)
  The signature then covers the package, and the certificate table follows
  it; the reader ignores what lies after the package. Anything appended after
  signing breaks the signature, so create refuses a stub that is already
  signed.
)";

const char kCreateUsage[] =
    R"(usage: corvane-pack create [--seal-byte N] [--stub PROGRAM] -o OUTPUT
                           (--dir FOLDER | --list FILE | FILE...)

Builds a package from files. Each file becomes one entry named after the file
(its name without the folder); entries are stored in byte-wise order of their
names, so the same files always give the same bytes.

  --dir FOLDER     every file directly in FOLDER; a subfolder is an error
                   (packages are flat), so nothing is dropped silently
  --list FILE      the files named in FILE, one path a line; relative paths
                   are taken from FILE's own folder; empty lines and lines
                   starting with '#' are skipped
  FILE...          the files named on the command line
  -o, --output OUTPUT
                   the file to write; it is written under a temporary name
                   and renamed over OUTPUT only when complete, so a failed
                   run leaves no output and an earlier OUTPUT untouched
  --stub PROGRAM   write PROGRAM first and the package right after it (the
                   setup program then finds its package in its own file);
                   PROGRAM must not already carry a package or a signature
  --seal-byte N    the header's seal byte, 1..255, decimal or 0x-hex
                   (default 0x5a)

Refused: names that are not plain file names (empty, "." or "..", with a
slash, backslash, colon or control character), two files of the same name,
names differing only in letter case, empty files, unreadable files, a missing
stub, and an output inside the --dir folder.

Sign the result after this step, never before (see corvane-pack --help).
)";

const char kListUsage[] =
    R"(usage: corvane-pack list FILE

Shows the package in FILE (a setup program or a bare package): header offset,
seal byte, entry count, entries-area size and MD5, the Authenticode
certificate table if any, and per entry its packed size, unpacked size,
content MD5 and name, in package order.
)";

const char kVerifyUsage[] =
    R"(usage: corvane-pack verify FILE

Checks the package in FILE with the setup program's own reader, so the verdict
is the one the setup program will reach. On failure, says what is wrong: no
sealed header, an entries area running past the end of the file, an
entries-area digest mismatch, or an entry whose packed data runs past the end,
does not inflate, inflates to nothing or does not match its content digest.
Warns, without failing, about repeated names (the reader keeps the later one)
and other oddities the reader accepts.
)";

const char kExtractUsage[] =
    R"(usage: corvane-pack extract FILE -d FOLDER

Writes the entries of the package in FILE into FOLDER (created if missing),
exactly as the setup program's reader sees them; existing files of the same
names are replaced. Nothing is written unless the package verifies and every
name is a plain file name; each file is written under a temporary name and
renamed into place only once all are complete.

  -d, --directory FOLDER   where to write the entries
)";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    const char* longName; // without the dashes
    char shortName;       // 0 for none
};

// Every option takes a value; --help is handled before the specs.
struct ParsedArgs {
    std::map<std::string, std::string> values;
    std::vector<std::string> operands;
    bool help = false;

    std::optional<std::string> Value(const std::string& name) const {
        const auto it = values.find(name);
        if (it == values.end()) {
            return std::nullopt;
        }
        return it->second;
    }
};

ParsedArgs ParseArguments(const std::vector<std::string>& args,
                          const std::vector<OptionSpec>& specs) {
    ParsedArgs parsed;
    auto store = [&](const OptionSpec& spec, const std::string& value) {
        if (!parsed.values.emplace(spec.longName, value).second) {
            throw UsageError(std::string("option --") + spec.longName + " is given twice");
        }
    };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            parsed.operands.insert(parsed.operands.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::optional<std::string> value;
        if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? equals : equals - 2);
            for (const OptionSpec& candidate : specs) {
                if (name == candidate.longName) {
                    spec = &candidate;
                }
            }
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            }
        } else {
            for (const OptionSpec& candidate : specs) {
                if (candidate.shortName != 0 && arg[1] == candidate.shortName) {
                    spec = &candidate;
                }
            }
            if (arg.size() > 2) {
                value = arg.substr(2);
            }
        }
        if (spec == nullptr) {
            throw UsageError("unknown option " + arg);
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                throw UsageError(std::string("option --") + spec->longName + " needs a value");
            }
            value = args[++i];
        }
        store(*spec, *value);
    }
    return parsed;
}

// ---------------------------------------------------------------- create

struct InputFile {
    fs::path path;
    std::string name;
    std::vector<uint8_t> content;
};

uint8_t ParseSealByte(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of(allowed) != std::string::npos) {
        throw UsageError("--seal-byte takes a number from 1 to 255, not \"" + text + "\"");
    }
    const unsigned long value = std::stoul(digits, nullptr, hex ? 16 : 10);
    if (value > 255) {
        throw UsageError("--seal-byte takes a number from 1 to 255, not \"" + text + "\"");
    }
    if (value == 0) {
        // With 0 the seal block is the signature text itself plus a NUL, the
        // very bytes the reader's own copy of the text is followed by in the
        // program's data: the seal would no longer tell header from text.
        throw UsageError("--seal-byte 0 would leave the header unsealed; use 1 to 255");
    }
    return uint8_t(value);
}

bool IsSameOrInside(const fs::path& folder, const fs::path& file) {
    std::error_code error;
    const fs::path canonicalFolder = fs::weakly_canonical(fs::absolute(folder), error);
    const fs::path canonicalParent = fs::weakly_canonical(fs::absolute(file), error).parent_path();
    return !error && canonicalFolder == canonicalParent;
}

std::vector<fs::path> FilesOfFolder(const fs::path& folder, const fs::path& output) {
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (status.type() == fs::file_type::not_found) {
        throw PackError("input folder " + Quote(folder) + " does not exist");
    }
    if (status.type() != fs::file_type::directory) {
        throw PackError("input folder " + Quote(folder) + " is not a folder");
    }
    if (IsSameOrInside(folder, output)) {
        throw PackError("output " + Quote(output) + " is inside the input folder " + Quote(folder) +
                        ": a second run would pack the first one's output");
    }
    std::vector<fs::path> files;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        if (it->is_directory(error)) {
            throw PackError("input folder " + Quote(folder) + " holds the subfolder " +
                            Quote(path.filename()) +
                            ": packages are flat; move it out, or name the files with --list");
        }
        if (!it->is_regular_file(error)) {
            throw PackError("input " + Quote(path) + " is not a regular file");
        }
        files.push_back(path);
    }
    if (error) {
        throw PackError("cannot list input folder " + Quote(folder) + ": " + error.message());
    }
    if (files.empty()) {
        throw PackError("input folder " + Quote(folder) + " holds no files");
    }
    return files;
}

std::vector<fs::path> FilesOfList(const fs::path& listFile) {
    const std::vector<uint8_t> bytes = ReadWholeFile(listFile, "list file");
    const std::string text(bytes.begin(), bytes.end());
    const fs::path base = listFile.parent_path();
    std::vector<fs::path> files;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // Lists written on Windows end their lines with CR LF.
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') {
            continue;
        }
        const fs::path path(line);
        files.push_back(path.is_absolute() ? path : base / path);
    }
    if (files.empty()) {
        throw PackError("list file " + Quote(listFile) + " names no files");
    }
    return files;
}

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return text;
}

// Names are checked, all of them, before any content is read: a bad list is
// reported at once, not after reading gigabytes.
std::vector<InputFile> NameInputs(const std::vector<fs::path>& paths) {
    std::vector<InputFile> inputs;
    for (const fs::path& path : paths) {
        InputFile input;
        input.path = path;
        input.name = path.filename().string();
        const std::string fault = DescribeNameFault(input.name);
        if (!fault.empty()) {
            throw PackError("input " + Quote(path) + ": entry name " + QuoteName(input.name) +
                            " is not a plain file name: " + fault);
        }
        inputs.push_back(std::move(input));
    }
    std::stable_sort(inputs.begin(), inputs.end(),
                     [](const InputFile& a, const InputFile& b) { return a.name < b.name; });
    std::map<std::string, const InputFile*> byLowerName;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (i > 0 && inputs[i].name == inputs[i - 1].name) {
            throw PackError("duplicate entry name " + QuoteName(inputs[i].name) + ": " +
                            Quote(inputs[i - 1].path) + " and " + Quote(inputs[i].path));
        }
        const auto [other, unique] = byLowerName.emplace(AsciiLower(inputs[i].name), &inputs[i]);
        if (!unique) {
            throw PackError("entry names " + QuoteName(other->second->name) + " (" +
                            Quote(other->second->path) + ") and " + QuoteName(inputs[i].name) +
                            " (" + Quote(inputs[i].path) +
                            ") differ only in letter case; Windows cannot keep both in one folder");
        }
    }
    return inputs;
}

void ReadInputs(std::vector<InputFile>* inputs) {
    for (InputFile& input : *inputs) {
        input.content = ReadWholeFile(input.path, "input file");
        if (input.content.empty()) {
            throw PackError("input file " + Quote(input.path) +
                            " is empty: a package entry cannot be empty");
        }
        if (input.content.size() > UINT32_MAX) {
            throw PackError("input file " + Quote(input.path) +
                            " is larger than 4 GiB, the most an entry can hold");
        }
    }
}

std::vector<uint8_t> ReadStub(const fs::path& path) {
    std::vector<uint8_t> stub = ReadWholeFile(path, "stub");
    if (stub.empty()) {
        throw PackError("stub " + Quote(path) + " is empty");
    }
    if (const auto existing = package::LocatePackage(stub.data(), stub.size())) {
        throw PackError("stub " + Quote(path) + " already carries a package (header at offset " +
                        std::to_string(*existing) +
                        "); the reader would find that one first: use the program without it");
    }
    if (const auto table = FindCertificateTable(stub.data(), stub.size())) {
        throw PackError("stub " + Quote(path) + " is already signed (certificate table at offset " +
                        std::to_string(table->offset) +
                        "): appending would break the signature; append the package to the "
                        "unsigned program, then sign the result");
    }
    return stub;
}

int RunCreate(const ParsedArgs& args, std::ostream& out, std::ostream&) {
    const auto output = args.Value("output");
    if (!output) {
        throw UsageError("-o OUTPUT is required");
    }
    const auto folder = args.Value("dir");
    const auto list = args.Value("list");
    const int sources =
        int(folder.has_value()) + int(list.has_value()) + int(!args.operands.empty());
    if (sources != 1) {
        throw UsageError(sources == 0 ? "name the files: --dir FOLDER, --list FILE or FILE..."
                                      : "give only one of --dir, --list and FILE...");
    }
    const uint8_t sealByte = args.Value("seal-byte") ? ParseSealByte(*args.Value("seal-byte"))
                                                     : package::kDefaultSealByte;
    const fs::path outputPath(*output);
    if (outputPath.filename().empty()) {
        throw UsageError("output " + Quote(outputPath) + " names a folder, not a file");
    }

    std::vector<fs::path> paths;
    if (folder) {
        paths = FilesOfFolder(*folder, outputPath);
    } else if (list) {
        paths = FilesOfList(*list);
    } else {
        paths.assign(args.operands.begin(), args.operands.end());
    }
    std::vector<InputFile> inputs = NameInputs(paths);
    std::vector<uint8_t> stub;
    if (const auto stubPath = args.Value("stub")) {
        stub = ReadStub(*stubPath);
    }
    ReadInputs(&inputs);

    std::vector<package::PackageInput> entries;
    for (InputFile& input : inputs) {
        entries.push_back({input.name, std::move(input.content)});
    }
    inputs.clear();
    std::vector<uint8_t> built = package::BuildPackage(entries, sealByte);
    if (built.empty()) {
        throw PackError("compressing the entries failed");
    }
    if (built.size() - package::kHeaderSize > UINT32_MAX) {
        throw PackError("the entries area would exceed 4 GiB, the most a package can hold");
    }
    const size_t packageOffset = stub.size();
    std::vector<uint8_t> image = std::move(stub);
    image.insert(image.end(), built.begin(), built.end());
    built.clear();
    built.shrink_to_fit();

    // What is written is what the setup program will load: its own reader has
    // the last word before anything reaches the disk.
    CPackedTools reader;
    size_t foundAt = 0;
    if (!reader.LoadFromImage(image.data(), image.size()) ||
        reader.GetEntryCount() != entries.size() ||
        !CPackedTools::LocatePackage(image.data(), image.size(), &foundAt) ||
        foundAt != packageOffset) {
        throw PackError("the package built for " + Quote(outputPath) +
                        " does not load in the reader (status " +
                        std::to_string(reader.GetStatus()) + "); nothing written");
    }

    // The output's folder is made only now, when nothing can fail any more
    // but the writing itself.
    if (outputPath.has_parent_path()) {
        std::error_code error;
        fs::create_directories(outputPath.parent_path(), error);
        if (error) {
            throw PackError("cannot create the folder of output " + Quote(outputPath) + ": " +
                            error.message());
        }
    }
    PendingFile file(outputPath);
    file.Write(image.data(), image.size());
    file.Commit();

    out << "wrote " << Quote(outputPath) << ": " << entries.size()
        << (entries.size() == 1 ? " entry" : " entries") << ", package of "
        << image.size() - packageOffset << " bytes at offset " << packageOffset << ", seal byte "
        << Hex(sealByte) << "\n";
    return kExitOk;
}

// ---------------------------------------------------------------- list

std::string StatusText(int status) {
    switch (status) {
    case CPackedTools::kReady:
        return "0, ready";
    case CPackedTools::kFileUnreadable:
        return "-1, file unreadable";
    case CPackedTools::kDamaged:
        return "-2, damaged";
    case CPackedTools::kOutOfMemory:
        return "-3, out of memory";
    default:
        return std::to_string(status);
    }
}

const std::string& SingleOperand(const ParsedArgs& args, const char* what) {
    if (args.operands.empty()) {
        throw UsageError(std::string("name the ") + what);
    }
    if (args.operands.size() > 1) {
        throw UsageError("unexpected argument \"" + args.operands[1] + "\"");
    }
    return args.operands.front();
}

void PrintHeaderFacts(const PackageInspection& inspection, std::ostream& out) {
    const package::PackageHeader& header = inspection.header;
    out << "  header offset       " << header.offset << " (" << Hex(header.offset) << ")\n"
        << "  seal byte           " << Hex(header.sealByte) << "\n"
        << "  entry count         " << header.entryCount << "\n"
        << "  entries area        " << header.entriesAreaSize << " bytes at offset "
        << header.EntriesAreaOffset() << "\n"
        << "  entries area MD5    " << ToHex(header.entriesDigest) << "\n";
    if (inspection.certificateTable) {
        out << "  certificate table   " << inspection.certificateTable->size << " bytes at offset "
            << inspection.certificateTable->offset << "\n";
    }
}

int RunList(const ParsedArgs& args, std::ostream& out, std::ostream& err) {
    const fs::path path = SingleOperand(args, "file to list");
    const std::vector<uint8_t> image = ReadWholeFile(path, "package");
    const PackageInspection inspection = InspectPackage(image.data(), image.size());
    if (!inspection.headerFound) {
        throw PackError(Quote(path) + ": " + inspection.problems.front());
    }
    out << "package in " << Quote(path) << "\n";
    PrintHeaderFacts(inspection, out);
    out << "\n"
        << std::setw(10) << "packed" << std::setw(11) << "unpacked"
        << "  content MD5                       name\n";
    for (const EntryFacts& entry : inspection.entries) {
        out << std::setw(10) << entry.packedSize << std::setw(11)
            << (entry.inflated ? std::to_string(entry.unpackedSize) : std::string("?")) << "  "
            << ToHex(entry.recordedDigest) << "  "
            << (DescribeNameFault(entry.name).empty() ? entry.name : QuoteName(entry.name)) << "\n";
    }
    for (const std::string& warning : inspection.warnings) {
        err << "corvane-pack list: warning: " << warning << "\n";
    }
    if (!inspection.problems.empty()) {
        for (const std::string& problem : inspection.problems) {
            err << "corvane-pack list: " << problem << "\n";
        }
        err << "corvane-pack list: " << Quote(path)
            << " is damaged; the setup program would refuse it\n";
        return kExitFailure;
    }
    return kExitOk;
}

// ---------------------------------------------------------------- verify

int RunVerify(const ParsedArgs& args, std::ostream& out, std::ostream&) {
    const fs::path path = SingleOperand(args, "file to verify");
    const std::vector<uint8_t> image = ReadWholeFile(path, "package");
    CPackedTools reader;
    const bool loaded = reader.LoadFromImage(image.data(), image.size()) == 1;
    const PackageInspection inspection = InspectPackage(image.data(), image.size());
    if (loaded) {
        out << "OK: " << Quote(path) << ": package at offset " << inspection.header.offset << ", "
            << reader.GetEntryCount() << (reader.GetEntryCount() == 1 ? " entry" : " entries")
            << ", every digest matches\n";
        // The reader has the last word; a fault only the walk sees is a bug in
        // one of the two and worth showing.
        for (const std::string& problem : inspection.problems) {
            out << "warning: the reader accepts what the tool's own walk calls a fault: " << problem
                << "\n";
        }
    } else {
        out << "FAILED: " << Quote(path) << ": the setup program's reader refuses it (status "
            << StatusText(reader.GetStatus()) << ")\n";
        for (const std::string& problem : inspection.problems) {
            out << "  " << problem << "\n";
        }
        if (inspection.problems.empty()) {
            out << "  no specific fault found by the tool's own walk\n";
        }
    }
    for (const std::string& warning : inspection.warnings) {
        out << "warning: " << warning << "\n";
    }
    return loaded ? kExitOk : kExitFailure;
}

// ---------------------------------------------------------------- extract

int RunExtract(const ParsedArgs& args, std::ostream& out, std::ostream&) {
    const fs::path path = SingleOperand(args, "package to extract");
    const auto folderValue = args.Value("directory");
    if (!folderValue) {
        throw UsageError("-d FOLDER is required");
    }
    const fs::path folder(*folderValue);
    const std::vector<uint8_t> image = ReadWholeFile(path, "package");
    CPackedTools reader;
    if (!reader.LoadFromImage(image.data(), image.size())) {
        const PackageInspection inspection = InspectPackage(image.data(), image.size());
        std::string reason = inspection.problems.empty()
                                 ? "status " + StatusText(reader.GetStatus())
                                 : inspection.problems.front();
        throw PackError(Quote(path) + " does not verify (" + reason + "); nothing extracted");
    }

    struct Entry {
        std::string name;
        const uint8_t* data;
        uint32_t size;
    };
    std::vector<Entry> entries;
    std::vector<char> name(256);
    for (uint32_t index = 0; index < reader.GetEntryCount(); ++index) {
        Entry entry{};
        while (!reader.GetEntryAt(index, name.data(), uint32_t(name.size()), &entry.data,
                                  &entry.size)) {
            if (reader.GetStatus() != CPackedTools::kNameBufferTooSmall) {
                throw PackError("cannot read entry " + std::to_string(index + 1) + " of " +
                                Quote(path));
            }
            name.resize(name.size() * 2);
        }
        entry.name = name.data();
        entries.push_back(entry);
    }
    // Every name is checked before the first byte is written: a package
    // carrying "..\\x" must not get to write anything at all. The reader hands
    // names out as C strings, so a name with a NUL inside would come back cut
    // short and look harmless: the walk's names are checked too, whole.
    std::vector<std::string> names;
    for (const Entry& entry : entries) {
        names.push_back(entry.name);
    }
    for (const EntryFacts& facts : InspectPackage(image.data(), image.size()).entries) {
        names.push_back(facts.name);
    }
    for (const std::string& entryName : names) {
        const std::string fault = DescribeNameFault(entryName);
        if (!fault.empty()) {
            throw PackError(Quote(path) + " holds the entry " + QuoteName(entryName) +
                            ", which is not a plain file name (" + fault + "); nothing extracted");
        }
    }

    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder)) {
        throw PackError("cannot create folder " + Quote(folder) + ": " +
                        (error ? error.message() : "a file of that name is in the way"));
    }
    std::vector<std::unique_ptr<PendingFile>> files;
    for (const Entry& entry : entries) {
        files.push_back(std::make_unique<PendingFile>(folder / entry.name));
        files.back()->Write(entry.data, entry.size);
    }
    for (const auto& file : files) {
        file->Commit();
    }
    out << "extracted " << entries.size() << (entries.size() == 1 ? " entry" : " entries")
        << " into " << Quote(folder) << "\n";
    return kExitOk;
}

// ---------------------------------------------------------------- check-payload

int RunCheckPayload(const ParsedArgs& args, std::ostream& out, std::ostream&) {
    const auto profileName = args.Value("profile");
    if (!profileName) {
        throw UsageError("--profile workstation|server is required");
    }
    const ProductProfile* profile = FindPayloadProfile(*profileName);
    if (profile == nullptr) {
        throw UsageError("unknown profile \"" + *profileName + "\" (workstation or server)");
    }
    const fs::path folder = SingleOperand(args, "payload folder");
    return CheckPayloadFolder(*profile, *profileName, folder, out);
}

// ---------------------------------------------------------------- commands

struct Command {
    const char* name;
    const char* summary;
    const char* usage;
    std::vector<OptionSpec> options;
    int (*run)(const ParsedArgs&, std::ostream& out, std::ostream& err);
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"create",
         "build a package, alone or appended to a setup program",
         kCreateUsage,
         {{"output", 'o'}, {"dir", 0}, {"list", 0}, {"stub", 0}, {"seal-byte", 0}},
         RunCreate},
        {"list", "show the header and the entries of a package", kListUsage, {}, RunList},
        {"verify",
         "check a package exactly as the setup program's reader does",
         kVerifyUsage,
         {},
         RunVerify},
        {"extract",
         "write the entries of a package into a folder",
         kExtractUsage,
         {{"directory", 'd'}},
         RunExtract},
        {"check-payload",
         "say whether a payload folder holds every entry a profile can ask for",
         kCheckPayloadUsage,
         {{"profile", 0}},
         RunCheckPayload},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

std::string GeneralHelp() {
    std::ostringstream list;
    for (const Command& command : Commands()) {
        list << "  " << std::left << std::setw(15) << command.name << command.summary << "\n";
    }
    std::string text = kGeneralHelp;
    const std::string marker = "%COMMANDS%";
    text.replace(text.find(marker), marker.size(), list.str());
    return text;
}

std::string FirstLine(const char* text) {
    const char* end = std::strchr(text, '\n');
    std::string line(text, end ? size_t(end - text) : std::strlen(text));
    // The usage of create runs over two lines.
    if (end != nullptr && end[1] == ' ') {
        const char* second = std::strchr(end + 1, '\n');
        line.append(end, second ? size_t(second - end) : std::strlen(end));
    }
    return line;
}

} // namespace

int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << GeneralHelp();
        return kExitUsage;
    }
    const std::string& first = args.front();
    if (first == "-h" || first == "--help" || first == "help") {
        if (first == "help" && args.size() > 1) {
            const Command* command = FindCommand(args[1]);
            if (command == nullptr) {
                err << "corvane-pack: unknown command \"" << args[1] << "\"\n";
                return kExitUsage;
            }
            out << command->usage;
            return kExitOk;
        }
        out << GeneralHelp();
        return kExitOk;
    }
    const Command* command = FindCommand(first);
    if (command == nullptr) {
        err << "corvane-pack: unknown command \"" << first
            << "\" (commands: create, list, verify, extract, check-payload; see corvane-pack "
               "--help)\n";
        return kExitUsage;
    }
    const std::string prefix = std::string("corvane-pack ") + command->name + ": ";
    try {
        const ParsedArgs parsed = ParseArguments(args, command->options);
        if (parsed.help) {
            out << command->usage;
            return kExitOk;
        }
        return command->run(parsed, out, err);
    } catch (const UsageError& error) {
        err << prefix << error.what() << "\n" << FirstLine(command->usage) << "\n";
        return kExitUsage;
    } catch (const PackError& error) {
        err << prefix << error.what() << "\n";
        return kExitFailure;
    } catch (const std::bad_alloc&) {
        err << prefix << "out of memory\n";
        return kExitFailure;
    } catch (const std::exception& error) {
        err << prefix << error.what() << "\n";
        return kExitFailure;
    }
}

} // namespace corvane::pack
