/*
 * regtool: reads and writes the prefix's registry exactly, for the end-to-end harness.
 *
 *   regtool --view 32|64 query KEY [VALUE]        the values of KEY (or one value)
 *   regtool --view 32|64 set KEY VALUE TEXT       a REG_SZ value; creates KEY if needed
 *
 * KEY starts with HKLM or HKCU; VALUE "" is the default value. Unlike `reg query`, every line
 * is unambiguous, whatever the names and data hold:
 *   V <hex of the UTF-8 value name> <type number> <hex of the raw data>
 * Exit codes: 0 done, 2 key not found, 3 value not found, 1 any other failure.
 */
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

enum { EXIT_FAILED = 1, EXIT_NO_KEY = 2, EXIT_NO_VALUE = 3 };

static void print_hex(const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        printf("%02x", ((const unsigned char*)data)[i]);
}

static void print_value(const wchar_t* name, DWORD name_length, DWORD type, const BYTE* data,
                        DWORD size) {
    char utf8[4096];
    fputs("V ", stdout);
    print_hex(utf8, name_length ? WideCharToMultiByte(CP_UTF8, 0, name, (int)name_length, utf8,
                                                      sizeof utf8, NULL, NULL)
                                : 0);
    printf(" %lu ", type);
    print_hex(data, size);
    putchar('\n');
}

int main(void) {
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 5 || wcscmp(argv[1], L"--view")) {
        fprintf(stderr, "regtool: usage: --view 32|64 COMMAND KEY [ARGUMENTS]\n");
        return EXIT_FAILED;
    }
    const REGSAM view = !wcscmp(argv[2], L"64") ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const wchar_t *command = argv[3], *key_name = argv[4];
    HKEY root = !_wcsnicmp(key_name, L"HKLM\\", 5)   ? HKEY_LOCAL_MACHINE
                : !_wcsnicmp(key_name, L"HKCU\\", 5) ? HKEY_CURRENT_USER
                                                     : NULL;
    if (!root) {
        fprintf(stderr, "regtool: unknown root in %ls\n", key_name);
        return EXIT_FAILED;
    }
    HKEY key;
    LONG status;
    if (!wcscmp(command, L"set") && argc == 7) {
        status =
            RegCreateKeyExW(root, key_name + 5, 0, NULL, 0, KEY_WRITE | view, NULL, &key, NULL);
        if (!status)
            status = RegSetValueExW(key, argv[5], 0, REG_SZ, (const BYTE*)argv[6],
                                    (DWORD)((wcslen(argv[6]) + 1) * sizeof(wchar_t)));
        if (status)
            fprintf(stderr, "regtool: cannot set %ls: error %ld\n", key_name, status);
        return status ? EXIT_FAILED : 0;
    }
    if (wcscmp(command, L"query") || argc > 6) {
        fprintf(stderr, "regtool: unknown command %ls\n", command);
        return EXIT_FAILED;
    }
    status = RegOpenKeyExW(root, key_name + 5, 0, KEY_READ | view, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return EXIT_NO_KEY;
    if (status) {
        fprintf(stderr, "regtool: cannot open %ls: error %ld\n", key_name, status);
        return EXIT_FAILED;
    }
    DWORD max_name = 0, max_data = 0;
    RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL, &max_name, &max_data, NULL,
                     NULL);
    wchar_t* name = malloc((max_name + 2) * sizeof(wchar_t));
    BYTE* data = malloc(max_data + 2);
    if (argc == 6) {
        DWORD type = 0, size = max_data;
        if (RegQueryValueExW(key, argv[5], NULL, &type, data, &size))
            return EXIT_NO_VALUE;
        print_value(argv[5], (DWORD)wcslen(argv[5]), type, data, size);
        return 0;
    }
    for (DWORD index = 0;; ++index) {
        DWORD name_length = max_name + 1, size = max_data, type = 0;
        if (RegEnumValueW(key, index, name, &name_length, NULL, &type, data, &size))
            return 0;
        print_value(name, name_length, type, data, size);
    }
}
