// Helpers shared by the framework's Windows tests.
#pragma once

#include <windows.h>

#include <string>

// The folder of the running test program, with a trailing backslash; the
// probe programs are built beside it.
inline std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The canary DLL (tests/harness/canary_dll.c). The build passes its path as a
// Linux path; Wine shows the Linux root as drive Z:.
inline std::string CanaryPath() {
    std::string path = CORVANE_CANARY_DLL;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}
