// Helpers shared by the framework's Windows tests.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

// The folder of the running test program, where the probes are built, with a
// trailing backslash.
inline std::string ProgramFolder() {
    char path[MAX_PATH];
    const std::string program(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return program.substr(0, program.find_last_of('\\') + 1);
}

// The canary DLL (tests/harness/canary_dll.c). The build names it with a Linux
// path; Wine shows the Linux root as drive Z:.
inline std::string CanaryPath() {
    std::string path = std::string("Z:") + CORVANE_CANARY_DLL;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
