/*
 * regtool: reads and writes the prefix's registry exactly, for the end-to-end harness.
 *
 *   regtool --view 32|64 query KEY [VALUE]        the values of KEY (or one value)
 *   regtool --view 32|64 dump KEY                 KEY and every key below it
 *   regtool --view 32|64 set KEY VALUE TYPE HEX   creates KEY if needed
 *   regtool --view 32|64 delete-value KEY VALUE
 *
 * KEY starts with HKLM, HKCU, HKCR or HKU; VALUE "" is the default value. Unlike `reg query`,
 * every line is unambiguous, whatever the names and data hold:
 *   K <hex of the UTF-8 key path>
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

static REGSAM view;

static void print_hex(const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        printf("%02x", ((const unsigned char*)data)[i]);
}

static void print_text_hex(const wchar_t* text, int length) {
    char bytes[4096];
    print_hex(bytes, length ? WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, sizeof bytes,
                                                  NULL, NULL)
                            : 0);
}

static void print_value(const wchar_t* name, DWORD name_length, DWORD type, const BYTE* data,
                        DWORD size) {
    fputs("V ", stdout);
    print_text_hex(name, (int)name_length);
    printf(" %lu ", type);
    print_hex(data, size);
    putchar('\n');
}

static void print_values(HKEY key) {
    DWORD max_name = 0, max_data = 0;
    RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL, &max_name, &max_data, NULL,
                     NULL);
    wchar_t* name = malloc((max_name + 2) * sizeof(wchar_t));
    BYTE* data = malloc(max_data + 2);
    for (DWORD index = 0;; ++index) {
        DWORD name_length = max_name + 1, size = max_data, type = 0;
        if (RegEnumValueW(key, index, name, &name_length, NULL, &type, data, &size))
            break;
        print_value(name, name_length, type, data, size);
    }
    free(name);
    free(data);
}

static void dump_tree(HKEY key, const wchar_t* path) {
    fputs("K ", stdout);
    print_text_hex(path, (int)wcslen(path));
    putchar('\n');
    print_values(key);
    wchar_t name[256], child_path[2048];
    for (DWORD index = 0;; ++index) {
        DWORD name_length = 256;
        if (RegEnumKeyExW(key, index, name, &name_length, NULL, NULL, NULL, NULL))
            break;
        swprintf(child_path, 2048, L"%ls\\%ls", path, name);
        HKEY child;
        if (!RegOpenKeyExW(key, name, 0, KEY_READ | view, &child)) {
            dump_tree(child, child_path);
            RegCloseKey(child);
        }
    }
}

static int hex_digit(wchar_t c) {
    return c <= L'9' ? c - L'0' : (c | 0x20) - L'a' + 10;
}

int main(void) {
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    static const struct {
        const wchar_t* name;
        HKEY key;
    } roots[] = {{L"HKLM\\", HKEY_LOCAL_MACHINE},
                 {L"HKCU\\", HKEY_CURRENT_USER},
                 {L"HKCR\\", HKEY_CLASSES_ROOT},
                 {L"HKU\\", HKEY_USERS}};
    if (argc < 5 || wcscmp(argv[1], L"--view")) {
        fprintf(stderr, "regtool: usage: --view 32|64 COMMAND KEY [ARGUMENTS]\n");
        return EXIT_FAILED;
    }
    view = !wcscmp(argv[2], L"64") ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const wchar_t *command = argv[3], *key_name = argv[4], *subkey = NULL;
    HKEY root = NULL;
    for (int i = 0; i < 4 && !root; ++i) {
        size_t length = wcslen(roots[i].name);
        if (!_wcsnicmp(key_name, roots[i].name, length)) {
            root = roots[i].key;
            subkey = key_name + length;
        }
    }
    if (!root) {
        fprintf(stderr, "regtool: unknown root in %ls\n", key_name);
        return EXIT_FAILED;
    }
    HKEY key;
    LONG status;
    if (!wcscmp(command, L"set") && argc == 8) {
        size_t size = wcslen(argv[7]) / 2;
        BYTE* data = malloc(size + 1);
        for (size_t k = 0; k < size; ++k)
            data[k] = (BYTE)(hex_digit(argv[7][2 * k]) * 16 + hex_digit(argv[7][2 * k + 1]));
        status = RegCreateKeyExW(root, subkey, 0, NULL, 0, KEY_WRITE | view, NULL, &key, NULL);
        if (!status)
            status = RegSetValueExW(key, argv[5], 0, (DWORD)wcstoul(argv[6], NULL, 10), data,
                                    (DWORD)size);
        if (status)
            fprintf(stderr, "regtool: cannot set %ls: error %ld\n", key_name, status);
        return status ? EXIT_FAILED : 0;
    }
    // Only what the command needs: a key a service manager holds may refuse write access.
    const REGSAM access = wcscmp(command, L"delete-value") ? KEY_READ : KEY_READ | KEY_SET_VALUE;
    status = RegOpenKeyExW(root, subkey, 0, access | view, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return EXIT_NO_KEY;
    if (status) {
        fprintf(stderr, "regtool: cannot open %ls: error %ld\n", key_name, status);
        return EXIT_FAILED;
    }
    if (!wcscmp(command, L"query") && argc == 5) {
        print_values(key);
    } else if (!wcscmp(command, L"query") && argc == 6) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key, argv[5], NULL, &type, NULL, &size))
            return EXIT_NO_VALUE;
        BYTE* data = malloc(size + 2);
        RegQueryValueExW(key, argv[5], NULL, &type, data, &size);
        print_value(argv[5], (DWORD)wcslen(argv[5]), type, data, size);
    } else if (!wcscmp(command, L"dump") && argc == 5) {
        dump_tree(key, key_name);
    } else if (!wcscmp(command, L"delete-value") && argc == 6) {
        status = RegDeleteValueW(key, argv[5]);
        return status == ERROR_FILE_NOT_FOUND ? EXIT_NO_VALUE : status ? EXIT_FAILED : 0;
    } else {
        fprintf(stderr, "regtool: unknown command %ls\n", command);
        return EXIT_FAILED;
    }
    return 0;
}
