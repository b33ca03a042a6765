/*
 * regtool: reads and writes the registry of the prefix exactly, for the end-to-end harness.
 *
 *   regtool [--view 32|64] query KEY [VALUE]        values of KEY (or one value)
 *   regtool [--view 32|64] dump KEY...              KEY and everything below it
 *   regtool [--view 32|64] set KEY VALUE TYPE HEX   create KEY if needed, set VALUE
 *   regtool [--view 32|64] delete-key KEY           KEY and everything below it
 *   regtool [--view 32|64] delete-value KEY VALUE
 *
 * KEY starts with HKLM, HKCU, HKCR, HKU, HKCC or the long HKEY_ names. VALUE "" is the
 * default value. --view picks the 32-bit or 64-bit registry view (KEY_WOW64_32KEY /
 * KEY_WOW64_64KEY); without it, this 32-bit program sees the 32-bit view, like the engine.
 *
 * `reg query` prints values for people: a name with four spaces in it, REG_MULTI_SZ strings
 * or binary data cannot be told apart reliably. Here every line is unambiguous:
 *   K <hex of the UTF-8 key path>
 *   V <hex of the UTF-8 value name> <type number> <hex of the raw data>
 * Exit codes: 0 done, 2 key not found, 3 value not found, 1 any other failure (on stderr).
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum { EXIT_FAILED = 1, EXIT_NO_KEY = 2, EXIT_NO_VALUE = 3 };

static REGSAM view_flag = 0;

typedef struct {
    const wchar_t* short_name;
    const wchar_t* long_name;
    HKEY key;
} Root;

static const Root roots[] = {
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKU", L"HKEY_USERS", HKEY_USERS},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

/* Splits "HKLM\Software\X" into the root handle, its long name and the subkey path. */
static const Root* parse_key(const wchar_t* key, const wchar_t** subkey) {
    for (size_t i = 0; i < sizeof roots / sizeof roots[0]; ++i) {
        const wchar_t* names[2] = {roots[i].short_name, roots[i].long_name};
        for (int n = 0; n < 2; ++n) {
            size_t length = wcslen(names[n]);
            if (!_wcsnicmp(key, names[n], length) && (key[length] == L'\\' || !key[length])) {
                *subkey = key[length] ? key + length + 1 : key + length;
                return &roots[i];
            }
        }
    }
    return NULL;
}

static void print_hex(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char* bytes = data;
    for (size_t i = 0; i < size; ++i) {
        putchar(digits[bytes[i] >> 4]);
        putchar(digits[bytes[i] & 15]);
    }
}

static void print_text_hex(const wchar_t* text, size_t length) {
    if (!length)
        return;
    int size = WideCharToMultiByte(CP_UTF8, 0, text, (int)length, NULL, 0, NULL, NULL);
    char* bytes = malloc(size);
    WideCharToMultiByte(CP_UTF8, 0, text, (int)length, bytes, size, NULL, NULL);
    print_hex(bytes, size);
    free(bytes);
}

static void print_key_line(const wchar_t* path) {
    fputs("K ", stdout);
    print_text_hex(path, wcslen(path));
    putchar('\n');
}

static void print_value_line(const wchar_t* name, DWORD name_length, DWORD type, const BYTE* data,
                             DWORD size) {
    fputs("V ", stdout);
    print_text_hex(name, name_length);
    printf(" %lu ", type);
    print_hex(data, size);
    putchar('\n');
}

static void fail(const char* what, const wchar_t* key, LONG status) {
    char message[300] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)status,
                   0, message, sizeof message, NULL);
    message[strcspn(message, "\r\n")] = '\0';
    fprintf(stderr, "regtool: %s %ls: error %ld: %s\n", what, key, status, message);
}

static int print_values(HKEY key, const wchar_t* path, const wchar_t* only_value) {
    if (only_value) {
        DWORD type = 0, size = 0;
        LONG status = RegQueryValueExW(key, only_value, NULL, &type, NULL, &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return EXIT_NO_VALUE;
        BYTE* data = malloc(size + 2);
        status = RegQueryValueExW(key, only_value, NULL, &type, data, &size);
        if (status != ERROR_SUCCESS) {
            free(data);
            fail("cannot read value", only_value, status);
            return EXIT_FAILED;
        }
        print_value_line(only_value, (DWORD)wcslen(only_value), type, data, size);
        free(data);
        return 0;
    }
    DWORD max_name = 0, max_data = 0;
    RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL, &max_name, &max_data, NULL,
                     NULL);
    wchar_t* name = malloc((max_name + 2) * sizeof(wchar_t));
    BYTE* data = malloc(max_data + 2);
    for (DWORD index = 0;; ++index) {
        DWORD name_length = max_name + 1, size = max_data, type = 0;
        LONG status = RegEnumValueW(key, index, name, &name_length, NULL, &type, data, &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS) {
            fail("cannot enumerate values of", path, status);
            break;
        }
        print_value_line(name, name_length, type, data, size);
    }
    free(name);
    free(data);
    return 0;
}

static void dump_tree(HKEY key, wchar_t* path) {
    print_key_line(path);
    print_values(key, path, NULL);
    DWORD max_subkey = 0;
    RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, &max_subkey, NULL, NULL, NULL, NULL, NULL, NULL);
    size_t path_length = wcslen(path);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_length = 256;
        LONG status = RegEnumKeyExW(key, index, name, &name_length, NULL, NULL, NULL, NULL);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            break;
        HKEY child;
        wchar_t* child_path = malloc((path_length + name_length + 2) * sizeof(wchar_t));
        swprintf(child_path, path_length + name_length + 2, L"%ls\\%ls", path, name);
        /* Keys this user may not open (a few under HKLM\Security) are listed, not entered. */
        if (RegOpenKeyExW(key, name, 0, KEY_READ | view_flag, &child) == ERROR_SUCCESS) {
            dump_tree(child, child_path);
            RegCloseKey(child);
        } else {
            print_key_line(child_path);
        }
        free(child_path);
    }
}

static LONG delete_tree(HKEY parent, const wchar_t* subkey) {
    HKEY key;
    LONG status = RegOpenKeyExW(parent, subkey, 0, KEY_READ | KEY_WRITE | view_flag, &key);
    if (status != ERROR_SUCCESS)
        return status;
    wchar_t name[256];
    for (;;) {
        DWORD name_length = 256;
        if (RegEnumKeyExW(key, 0, name, &name_length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        status = delete_tree(key, name);
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return status;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyExW(parent, subkey, view_flag, 0);
}

static int hex_value(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

static int usage(void) {
    fputs("usage: regtool [--view 32|64] (query KEY [VALUE] | dump KEY... |\n"
          "               set KEY VALUE TYPE HEX | delete-key KEY | delete-value KEY VALUE)\n",
          stderr);
    return EXIT_FAILED;
}

int main(void) {
    /* \n, not \r\n: the harness on the Linux side reads these lines. */
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int i = 1;
    if (i + 1 < argc && !wcscmp(argv[i], L"--view")) {
        if (!wcscmp(argv[i + 1], L"32"))
            view_flag = KEY_WOW64_32KEY;
        else if (!wcscmp(argv[i + 1], L"64"))
            view_flag = KEY_WOW64_64KEY;
        else
            return usage();
        i += 2;
    }
    if (i + 1 >= argc)
        return usage();
    const wchar_t* command = argv[i++];
    const wchar_t* key_name = argv[i++];
    const wchar_t* subkey = NULL;
    const Root* root = parse_key(key_name, &subkey);
    if (!root) {
        fprintf(stderr, "regtool: unknown root in %ls\n", key_name);
        return EXIT_FAILED;
    }

    if (!wcscmp(command, L"query") || !wcscmp(command, L"dump")) {
        int result = 0;
        for (;;) {
            HKEY key;
            LONG status = RegOpenKeyExW(root->key, subkey, 0, KEY_READ | view_flag, &key);
            if (status == ERROR_FILE_NOT_FOUND)
                return EXIT_NO_KEY;
            if (status != ERROR_SUCCESS) {
                fail("cannot open", key_name, status);
                return EXIT_FAILED;
            }
            if (!wcscmp(command, L"query")) {
                result = print_values(key, key_name, i < argc ? argv[i] : NULL);
                RegCloseKey(key);
                return result;
            }
            size_t length = wcslen(root->long_name) + wcslen(subkey) + 2;
            wchar_t* path = malloc(length * sizeof(wchar_t));
            swprintf(path, length, *subkey ? L"%ls\\%ls" : L"%ls%ls", root->long_name, subkey);
            dump_tree(key, path);
            free(path);
            RegCloseKey(key);
            if (i >= argc)
                return 0;
            key_name = argv[i++];
            root = parse_key(key_name, &subkey);
            if (!root)
                return usage();
        }
    }

    if (!wcscmp(command, L"set") && i + 3 == argc) {
        const wchar_t* value_name = argv[i];
        DWORD type = (DWORD)wcstoul(argv[i + 1], NULL, 10);
        const wchar_t* hex = argv[i + 2];
        size_t size = wcslen(hex) / 2;
        BYTE* data = malloc(size + 1);
        for (size_t k = 0; k < size; ++k) {
            int high = hex_value(hex[2 * k]), low = hex_value(hex[2 * k + 1]);
            if (high < 0 || low < 0)
                return usage();
            data[k] = (BYTE)(high * 16 + low);
        }
        HKEY key;
        LONG status =
            RegCreateKeyExW(root->key, subkey, 0, NULL, 0, KEY_WRITE | view_flag, NULL, &key, NULL);
        if (status != ERROR_SUCCESS) {
            fail("cannot create", key_name, status);
            return EXIT_FAILED;
        }
        status = RegSetValueExW(key, value_name, 0, type, data, (DWORD)size);
        RegCloseKey(key);
        free(data);
        if (status != ERROR_SUCCESS) {
            fail("cannot set value in", key_name, status);
            return EXIT_FAILED;
        }
        return 0;
    }

    if (!wcscmp(command, L"delete-key") && i == argc) {
        LONG status = delete_tree(root->key, subkey);
        if (status == ERROR_FILE_NOT_FOUND)
            return EXIT_NO_KEY;
        if (status != ERROR_SUCCESS) {
            fail("cannot delete", key_name, status);
            return EXIT_FAILED;
        }
        return 0;
    }

    if (!wcscmp(command, L"delete-value") && i + 1 == argc) {
        HKEY key;
        LONG status = RegOpenKeyExW(root->key, subkey, 0, KEY_SET_VALUE | view_flag, &key);
        if (status == ERROR_FILE_NOT_FOUND)
            return EXIT_NO_KEY;
        if (status != ERROR_SUCCESS) {
            fail("cannot open", key_name, status);
            return EXIT_FAILED;
        }
        status = RegDeleteValueW(key, argv[i]);
        RegCloseKey(key);
        if (status == ERROR_FILE_NOT_FOUND)
            return EXIT_NO_VALUE;
        if (status != ERROR_SUCCESS) {
            fail("cannot delete value in", key_name, status);
            return EXIT_FAILED;
        }
        return 0;
    }
    return usage();
}
