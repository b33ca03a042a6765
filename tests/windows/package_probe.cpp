// package-probe: loads the package appended to this program with the setup
// program's own reader and lists what it holds, in the reader's order: content
// MD5, size in bytes, name. Release engineers append a package to a copy of
// it to see that the setup program will find its payload; the demo and the
// signing test run it the same way. Exit code: the reader's status (0 loaded,
// -1 unreadable, -2 missing or damaged, -3 out of memory).
#include "md5.h"
#include "packed_tools.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

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

// Names are bytes from the package; control characters would garble the
// listing, so they are shown escaped.
std::string Printable(const char* name) {
    std::string text;
    for (const char* at = name; *at != '\0'; ++at) {
        const unsigned char c = static_cast<unsigned char>(*at);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c < 0x20 || c == 0x7F ? "\\x%02X" : "%c", c);
        text += escaped;
    }
    return text;
}

} // namespace

int main() {
    char path[MAX_PATH] = "this program";
    GetModuleFileNameA(nullptr, path, sizeof path);
    CPackedTools reader;
    reader.LoadFromModule();
    const int status = reader.GetStatus();
    std::printf("package-probe: %s\nstatus %d: %s\n", path, status, StatusText(status));
    const uint32_t count = status == CPackedTools::kReady ? reader.GetEntryCount() : 0;
    if (status == CPackedTools::kReady) {
        std::printf("%lu %s\n", static_cast<unsigned long>(count),
                    count == 1 ? "entry" : "entries");
    }
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
