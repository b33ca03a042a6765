// framework_dll_probe <mode> <dll name>: loads the DLL the way the mode says,
// so that a test can watch from outside where it came from.
//   plain           LoadLibraryA, unprotected (the tests' control)
//   system          LoadSystemLibrary
//   system-by-path  LoadSystemLibraryByPath
// Exit code: 0 loaded, 1 the load failed, 2 bad arguments.
#include "dll_safety.h"

#include <windows.h>

#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const std::string mode = argv[1];
    HMODULE module = nullptr;
    if (mode == "plain") {
        module = LoadLibraryA(argv[2]);
    } else if (mode == "system") {
        module = LoadSystemLibrary(argv[2]);
    } else if (mode == "system-by-path") {
        module = LoadSystemLibraryByPath(argv[2]);
    } else {
        return 2;
    }
    return module != nullptr ? 0 : 1;
}
