// package-probe: loads the package appended to this program (or to another
// file) with the setup program's own reader and lists what it holds. Release
// engineers append a package to a copy of it to see that the setup program
// will find its payload; the end-to-end signing test runs it the same way.
#include "md5.h"
#include "packed_tools.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kUsageError = 2;

const char* StatusText(int status) {
    switch (status) {
    case CPackedTools::kReady:
        return "ready";
    case CPackedTools::kFileUnreadable:
        return "the program file could not be read whole";
    case CPackedTools::kDamaged:
        return "damaged: no sealed package, or a digest or an entry that does not check out";
    case CPackedTools::kOutOfMemory:
        return "out of memory";
    default:
        return "unknown status";
    }
}

void PrintUsage(FILE* out) {
    std::fputs("Usage: package-probe [FILE]\n"
               "Lists the package appended to this program, or to FILE, as the setup program's\n"
               "reader walks it: content MD5, size in bytes, name. Exit code: the reader's\n"
               "status (0 loaded, -1 unreadable, -2 missing or damaged, -3 out of memory),\n"
               "or 2 for a usage error.\n",
               out);
}

// Names are bytes from the package; control characters would garble the
// listing, so they are shown escaped.
std::string Printable(const char* name) {
    std::string text;
    for (const char* at = name; *at != '\0'; ++at) {
        const unsigned char c = static_cast<unsigned char>(*at);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        } else {
            text += char(c);
        }
    }
    return text;
}

int LoadFile(CPackedTools& reader, const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "package-probe: cannot open %s (CreateFileA error %lu)\n", path,
                     GetLastError());
        return CPackedTools::kFileUnreadable;
    }
    reader.LoadFromFile(file);
    CloseHandle(file);
    return reader.GetStatus();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "/?") == 0)) {
        PrintUsage(stdout);
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        PrintUsage(stderr);
        return kUsageError;
    }

    CPackedTools reader;
    std::string path;
    int status;
    if (argc == 2) {
        path = argv[1];
        status = LoadFile(reader, argv[1]);
    } else {
        char own[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, own, sizeof own);
        path = length > 0 && length < sizeof own ? own : "this program";
        reader.LoadFromModule();
        status = reader.GetStatus();
    }

    std::printf("package-probe: %s\n", path.c_str());
    std::printf("status %d: %s\n", status, StatusText(status));
    if (status != CPackedTools::kReady) {
        return status;
    }
    const uint32_t count = reader.GetEntryCount();
    std::printf("%lu %s\n", static_cast<unsigned long>(count), count == 1 ? "entry" : "entries");
    for (uint32_t index = 0; index < count; ++index) {
        // The setup program's unpack mode walks with the same buffer size.
        char name[MAX_PATH];
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        if (reader.GetEntryAt(index, name, sizeof name, &data, &size) != 1) {
            std::printf("  entry %lu refused by GetEntryAt, status %d\n",
                        static_cast<unsigned long>(index), reader.GetStatus());
            continue;
        }
        std::printf("  %s %10lu %s\n", corvane::ToHex(corvane::Md5::Of(data, size)).c_str(),
                    static_cast<unsigned long>(size), Printable(name).c_str());
    }
    std::fflush(stdout);
    return status;
}
