// Where the program's DLLs come from. The setup program runs elevated, often
// from a downloads folder; a DLL of a common name planted there (or in the
// current folder) would otherwise be loaded and run with administrator rights.
//
// DLLs in the import table are resolved before any code runs; only the link
// decides those, which is why the programs import system DLLs only. Every DLL
// loaded at run time goes through LoadSystemLibrary.
#pragma once

#include <windows.h>

// Restricts the DLL search of this process to the system folder. Call it
// first thing in WinMain. Returns true when that restriction is in force
// (SetDefaultDllDirectories exists: Windows 8, or 7 and Vista with
// KB2533623). Otherwise it only takes the current folder out of the search
// with SetDllDirectoryA("") and returns false: that does NOT stop a DLL
// planted beside the program, as the program's own folder stays first.
bool HardenDllSearch();

// Loads a system DLL (a bare file name such as "Riched32.dll") from the
// system folder only, never from the program's folder or the current one.
// Returns null with GetLastError() set when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// The fallback of LoadSystemLibrary where the system-folder search flag is
// unknown (Windows 2000, XP, unpatched Vista and 7): loads the DLL by its full
// path in the system folder. Exposed so it can be tested where the flag
// exists.
HMODULE LoadSystemLibraryByPath(const char* name);
