/*
 * exitwith: a stand-in program for testing the harness itself.
 *
 *   exitwith [ACTION...] CODE
 *
 * Carries out the actions in order, then exits with CODE (decimal, signed or unsigned 32-bit,
 * e.g. -10 or 4294967286). Actions:
 *   --out TEXT          write TEXT and a newline to stdout
 *   --err TEXT          write TEXT and a newline to stderr
 *   --args              print the raw command line and each argument, one per line
 *   --cwd               print the current directory
 *   --env NAME          print NAME=value, or "NAME unset"
 *   --mkdir DIR         create DIR (one level)
 *   --write FILE TEXT   create FILE holding TEXT, or replace its content in place
 *   --sleep MS          sleep
 *   --messagebox TEXT   show TEXT in an OK/Cancel message box titled "exitwith" and print
 *                       messagebox=<button id> once it is closed
 *   --crash             dereference a null pointer (exit code 0xC0000005 unless something
 *                       catches it)
 * Built twice: as a console program (exitwith.exe) and as a GUI program (exitwith-gui.exe),
 * because a subsystem-windows program has no console and must still report its code.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

/* UTF-8 through WriteFile, so the output is the same bytes whether stdout is a console, a pipe
 * or a file, and whatever the code page. */
static void write_line(DWORD which, const wchar_t* prefix, const wchar_t* text) {
    HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return;
    size_t length = wcslen(prefix) + wcslen(text) + 2;
    wchar_t* line = malloc(length * sizeof(wchar_t));
    swprintf(line, length, L"%ls%ls\n", prefix, text);
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, NULL, 0, NULL, NULL);
    char* bytes = malloc(size);
    WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, size, NULL, NULL);
    DWORD written = 0;
    WriteFile(handle, bytes, (DWORD)(size - 1), &written, NULL);
    free(bytes);
    free(line);
}

static int run(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int i = 1;
    for (; i < argc - 1; ++i) {
        const wchar_t* action = argv[i];
        if (!wcscmp(action, L"--out") && i + 1 < argc) {
            write_line(STD_OUTPUT_HANDLE, L"", argv[++i]);
        } else if (!wcscmp(action, L"--err") && i + 1 < argc) {
            write_line(STD_ERROR_HANDLE, L"", argv[++i]);
        } else if (!wcscmp(action, L"--args")) {
            write_line(STD_OUTPUT_HANDLE, L"cmdline=", GetCommandLineW());
            for (int k = 0; k < argc; ++k) {
                wchar_t prefix[32];
                swprintf(prefix, 32, L"argv[%d]=", k);
                write_line(STD_OUTPUT_HANDLE, prefix, argv[k]);
            }
        } else if (!wcscmp(action, L"--cwd")) {
            wchar_t directory[MAX_PATH] = L"";
            GetCurrentDirectoryW(MAX_PATH, directory);
            write_line(STD_OUTPUT_HANDLE, L"cwd=", directory);
        } else if (!wcscmp(action, L"--env") && i + 1 < argc) {
            const wchar_t* name = argv[++i];
            wchar_t value[4096];
            wchar_t prefix[300];
            if (GetEnvironmentVariableW(name, value, 4096)) {
                swprintf(prefix, 300, L"%ls=", name);
                write_line(STD_OUTPUT_HANDLE, prefix, value);
            } else {
                write_line(STD_OUTPUT_HANDLE, name, L" unset");
            }
        } else if (!wcscmp(action, L"--write") && i + 2 < argc) {
            HANDLE file = CreateFileW(argv[i + 1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (file == INVALID_HANDLE_VALUE)
                return 3;
            int size = WideCharToMultiByte(CP_UTF8, 0, argv[i + 2], -1, NULL, 0, NULL, NULL);
            char* bytes = malloc(size);
            WideCharToMultiByte(CP_UTF8, 0, argv[i + 2], -1, bytes, size, NULL, NULL);
            DWORD written = 0;
            WriteFile(file, bytes, (DWORD)(size - 1), &written, NULL);
            CloseHandle(file);
            free(bytes);
            i += 2;
        } else if (!wcscmp(action, L"--mkdir") && i + 1 < argc) {
            if (!CreateDirectoryW(argv[++i], NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
                return 3;
        } else if (!wcscmp(action, L"--sleep") && i + 1 < argc) {
            Sleep((DWORD)wcstoul(argv[++i], NULL, 10));
        } else if (!wcscmp(action, L"--messagebox") && i + 1 < argc) {
            int button = MessageBoxW(NULL, argv[++i], L"exitwith", MB_OKCANCEL);
            wchar_t number[16];
            swprintf(number, 16, L"%d", button);
            write_line(STD_OUTPUT_HANDLE, L"messagebox=", number);
        } else if (!wcscmp(action, L"--crash")) {
            volatile int* volatile nowhere = NULL;
            *nowhere = 1;
        } else {
            write_line(STD_ERROR_HANDLE, L"exitwith: unknown action ", action);
            return 2;
        }
    }
    if (i != argc - 1) {
        write_line(STD_ERROR_HANDLE, L"", L"usage: exitwith [ACTION...] CODE");
        return 2;
    }
    /* wcstoll takes both spellings of the same code: -10 and 4294967286. */
    return (int)(UINT)(unsigned long long)wcstoll(argv[i], NULL, 0);
}

#ifdef EXITWITH_GUI
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    ExitProcess((UINT)run());
}
#else
int main(void) {
    ExitProcess((UINT)run());
}
#endif
