#include "dll_safety.h"

#include <string>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);

// kernel32 is mapped into every process: looking a function up in it loads
// nothing, so it searches no folder.
template <typename Function> Function Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC address = kernel32 != nullptr ? GetProcAddress(kernel32, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

// The LOAD_LIBRARY_SEARCH_* flags came with SetDefaultDllDirectories; older
// systems reject them with ERROR_INVALID_PARAMETER.
bool SystemFolderSearchSupported() {
    return Kernel32Function<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories") !=
           nullptr;
}

} // namespace

bool HardenDllSearch() {
    auto setDefaultDllDirectories =
        Kernel32Function<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr &&
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return true;
    }
    auto setDllDirectory = Kernel32Function<SetDllDirectoryFunction>("SetDllDirectoryA");
    if (setDllDirectory != nullptr) {
        setDllDirectory("");
    }
    return false;
}

HMODULE LoadSystemLibrary(const char* name) {
    if (SystemFolderSearchSupported()) {
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    return LoadSystemLibraryByPath(name);
}

HMODULE LoadSystemLibraryByPath(const char* name) {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        if (length >= MAX_PATH) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
        }
        return nullptr;
    }
    const std::string path = std::string(folder, length) + "\\" + name;
    // The altered search path makes the DLL's own dependencies come from its
    // folder too, not from the program's folder.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
