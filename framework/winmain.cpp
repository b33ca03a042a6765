// The program's entry point. It is linked into each program as an object (the
// corvane_winmain target), not taken from a static library, because the C
// runtime's reference to WinMain is resolved only after the libraries have
// been searched.
#include "application.h"
#include "dll_safety.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything can load a DLL by name: a setup program runs elevated
    // from a downloads folder, where a planted DLL would run as administrator.
    HardenDllSearch();
    return RunApplication(instance);
}
