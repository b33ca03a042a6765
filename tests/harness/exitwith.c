/*
 * exitwith: a stand-in program for the harness's own checks (tests/harness/CMakeLists.txt).
 *
 *   exitwith [--out TEXT] [--crash] CODE
 *
 * Writes TEXT and a newline to stdout, or writes through a null pointer, then exits with CODE
 * (signed or unsigned 32-bit: -10 and 4294967286 are the same). Built as a console program and
 * as a GUI program (exitwith-gui.exe, the same main), which has no console and must still
 * report its code.
 */
#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i < argc - 1; ++i) {
        if (!wcscmp(argv[i], L"--out") && i + 2 < argc) {
            char text[1024];
            int size =
                WideCharToMultiByte(CP_UTF8, 0, argv[++i], -1, text, sizeof text - 1, NULL, NULL);
            DWORD written = 0;
            if (size <= 0)
                return 2;
            text[size - 1] = '\n';
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)size, &written, NULL);
        } else if (!wcscmp(argv[i], L"--crash")) {
            volatile int* volatile nowhere = NULL;
            *nowhere = 1;
        } else {
            return 2;
        }
    }
    return argc < 2 ? 2 : (int)(UINT)(unsigned long long)wcstoll(argv[argc - 1], NULL, 0);
}
