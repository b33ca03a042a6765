/*
 * Stand-in for the product's client libraries (payload entries hxvchan.dll.x86,
 * hxvchan.dll.amd64 and hxvcitrix.dll.x86): a real DLL of the right word size that loads,
 * does nothing on attach and tells its own name.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

/* Lets a test that loads the library see that it is this stand-in. */
__declspec(dllexport) const char* WINAPI CorvaneStandInLibrary(void) {
    return "Corvane RDP Edition client library (sample payload stand-in)";
}
