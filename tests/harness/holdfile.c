/*
 * holdfile: keeps a file open without sharing, the way another program using it would.
 *
 *   holdfile FILE READY STOP
 *
 * Opens FILE for reading and writing with no sharing, creates READY once it holds it, and
 * closes it when STOP exists (checked every 50 ms, for at most five minutes so a test that
 * dies cannot leave it running for ever). Exit codes: 0 released, 1 FILE could not be opened
 * or READY not created, 2 usage, 3 STOP never came.
 */
#include <stdio.h>
#include <windows.h>

#include <shellapi.h>

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc != 4) {
        fputs("usage: holdfile FILE READY STOP\n", stderr);
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "holdfile: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    HANDLE ready =
        CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "holdfile: cannot create the ready marker (error %lu)\n", GetLastError());
        CloseHandle(file);
        return 1;
    }
    CloseHandle(ready);
    for (int waited = 0; waited < 5 * 60 * 1000; waited += 50) {
        if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) {
            CloseHandle(file);
            return 0;
        }
        Sleep(50);
    }
    CloseHandle(file);
    return 3;
}
