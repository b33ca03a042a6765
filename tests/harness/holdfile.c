/*
 * holdfile FILE READY STOP: keeps FILE open without sharing, as a program using it would;
 * creates READY once it holds it and lets go when STOP exists (for at most five minutes).
 * Exit codes: 0 released, 1 FILE or READY failed, 2 usage, 3 STOP never came.
 */
#include <windows.h>
#include <shellapi.h>

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc != 4)
        return 2;
    HANDLE file =
        CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (ready == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(ready);
    for (int waited = 0; waited < 5 * 60 * 1000; waited += 50) {
        if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES)
            return 0;
        Sleep(50);
    }
    return 3;
}
