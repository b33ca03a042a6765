// setupapi_capture_probe SETUP-LOG DEVICE-LOG TEXT REPORT
//
// Runs one SetupAPI log capture in a process of its own, so that a test can
// give it another reported Windows version: starts the capture with SETUP-LOG
// as the setup log, notes the SetupAPI log level the capture left in place,
// appends TEXT to DEVICE-LOG as SetupAPI would, and ends the capture. REPORT
// receives "major=N", "started=0|1" and "level=0xN" or "level=none", one a line.
#include "setup_log_api.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string LevelNow() {
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Setup", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        return "no key";
    }
    DWORD level = 0, size = sizeof level, type = 0;
    if (RegQueryValueExA(key.get(), "LogLevel", nullptr, &type, reinterpret_cast<BYTE*>(&level),
                         &size) != ERROR_SUCCESS) {
        return "none";
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(level));
    return text;
}

bool Append(const char* path, const char* text) {
    UniqueFile file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text, DWORD(std::strlen(text)), &written, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: setupapi_capture_probe SETUP-LOG DEVICE-LOG TEXT REPORT\n", stderr);
        return 2;
    }
    UniqueFile setupLog(CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!setupLog) {
        return 3;
    }
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    std::string report = "major=" + std::to_string(version.dwMajorVersion) + "\n";
    {
        CSetupLogApi log(setupLog.get());
        report += std::string("started=") + (log.BeginSetupApiCapture() ? "1" : "0") + "\n";
        report += "level=" + LevelNow() + "\n";
        if (!Append(argv[2], argv[3])) {
            return 4;
        }
    }
    setupLog.reset();
    UniqueFile reportFile(CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return reportFile && WriteFile(reportFile.get(), report.data(), DWORD(report.size()), &written,
                                   nullptr)
               ? 0
               : 5;
}
