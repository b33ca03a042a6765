// Loads a DLL by name the way a mode given on the command line says, so that
// the DLL-planting test can watch, from outside, where the DLL came from.
//
//   framework_dll_probe <mode> <dll name>
//   modes: plain           LoadLibraryA, no hardening (the test's control)
//          hardened-plain  HardenDllSearch, then LoadLibraryA
//          system          LoadSystemLibrary, no hardening
//          system-by-path  LoadSystemLibraryByPath, no hardening
// Exit code: 0 loaded, 1 the load failed, 2 bad arguments.
#include "dll_safety.h"

#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const char* mode = argv[1];
    const char* name = argv[2];
    HMODULE module = nullptr;
    if (std::strcmp(mode, "plain") == 0) {
        module = LoadLibraryA(name);
    } else if (std::strcmp(mode, "hardened-plain") == 0) {
        HardenDllSearch();
        module = LoadLibraryA(name);
    } else if (std::strcmp(mode, "system") == 0) {
        module = LoadSystemLibrary(name);
    } else if (std::strcmp(mode, "system-by-path") == 0) {
        module = LoadSystemLibraryByPath(name);
    } else {
        return 2;
    }
    return module != nullptr ? 0 : 1;
}
