/*
 * wintool: finds and drives the windows of a program under test from inside the same prefix,
 * the way a person would use them: read a dialog's texts, type into a field, press a button.
 *
 *   wintool list                          every top-level window and its controls
 *   wintool wait TEXT TIMEOUT_MS          wait for a visible top-level window whose title
 *                                         contains TEXT (any case); prints it like `list`
 *   wintool click WINDOW CONTROL_ID       tell the dialog a button was pressed (WM_COMMAND)
 *   wintool press WINDOW CONTROL_ID       click the control itself (BM_CLICK): a check box or
 *                                         radio button changes state before the dialog hears
 *   wintool settext WINDOW CONTROL_ID TEXT
 *   wintool close WINDOW                  WM_CLOSE, as the title bar's close button
 *   wintool rect WINDOW                   its place on the screen: left top right bottom
 *   wintool focus WINDOW                  the control id that has the keyboard focus in the
 *                                         window's thread (0: none, -1: the window itself)
 *   wintool memory WINDOW                 memory of the window's process in bytes:
 *                                         private <n> workingset <n>
 *
 * WINDOW is a window handle as `list` prints it (decimal). Output lines (strings as hex of
 * UTF-8, so any title survives):
 *   W <hwnd> <pid> <visible> <hex class> <hex title>
 *   C <parent hwnd> <hwnd> <control id> <visible> <enabled> <hex class> <hex text>
 * Exit codes: 0 done, 1 not found or timed out, 2 usage.
 *
 * Messages are posted, not sent: a button whose handler opens a modal dialog would otherwise
 * block wintool until that dialog closes.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <psapi.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void print_hex_text(const wchar_t* text) {
    char bytes[4096];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    if (size <= 1) {
        fputs("-", stdout); /* an empty field must still be a field */
        return;
    }
    for (int i = 0; i < size - 1; ++i)
        printf("%02x", (unsigned char)bytes[i]);
}

/* WM_GETTEXT with a time limit: a hung program must not hang the test's helper. */
static void window_text(HWND window, wchar_t* text, int size) {
    DWORD_PTR length = 0;
    text[0] = L'\0';
    if (!SendMessageTimeoutW(window, WM_GETTEXT, (WPARAM)size, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                             &length))
        text[0] = L'\0';
    text[size - 1] = L'\0';
}

static BOOL CALLBACK print_control(HWND control, LPARAM parent) {
    wchar_t class_name[256], text[1024];
    GetClassNameW(control, class_name, 256);
    window_text(control, text, 1024);
    printf("C %lu %lu %d %d %d ", (unsigned long)(ULONG_PTR)parent,
           (unsigned long)(ULONG_PTR)control, GetDlgCtrlID(control),
           IsWindowVisible(control) ? 1 : 0, IsWindowEnabled(control) ? 1 : 0);
    print_hex_text(class_name);
    putchar(' ');
    print_hex_text(text);
    putchar('\n');
    return TRUE;
}

static void print_window(HWND window) {
    wchar_t class_name[256], title[1024];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetClassNameW(window, class_name, 256);
    window_text(window, title, 1024);
    printf("W %lu %lu %d ", (unsigned long)(ULONG_PTR)window, process,
           IsWindowVisible(window) ? 1 : 0);
    print_hex_text(class_name);
    putchar(' ');
    print_hex_text(title);
    putchar('\n');
    EnumChildWindows(window, print_control, (LPARAM)window);
}

static BOOL CALLBACK print_top_level(HWND window, LPARAM unused) {
    (void)unused;
    print_window(window);
    return TRUE;
}

typedef struct {
    const wchar_t* title_part;
    HWND found;
} Search;

static BOOL CALLBACK find_top_level(HWND window, LPARAM parameter) {
    Search* search = (Search*)parameter;
    wchar_t title[1024];
    if (!IsWindowVisible(window))
        return TRUE;
    window_text(window, title, 1024);
    CharLowerW(title);
    if (wcsstr(title, search->title_part)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND parse_window(const wchar_t* text) {
    HWND window = (HWND)(ULONG_PTR)wcstoul(text, NULL, 10);
    return IsWindow(window) ? window : NULL;
}

int main(void) {
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2) {
        fputs("usage: wintool list | wait TEXT MS | click WINDOW ID | press WINDOW ID |"
              " settext WINDOW ID TEXT | close WINDOW | rect WINDOW | focus WINDOW |"
              " memory WINDOW\n",
              stderr);
        return 2;
    }
    const wchar_t* command = argv[1];
    if (!wcscmp(command, L"list")) {
        EnumWindows(print_top_level, 0);
        return 0;
    }
    if (!wcscmp(command, L"wait") && argc == 4) {
        Search search = {argv[2], NULL};
        CharLowerW(argv[2]);
        DWORD limit = (DWORD)wcstoul(argv[3], NULL, 10);
        DWORD started = GetTickCount();
        for (;;) {
            EnumWindows(find_top_level, (LPARAM)&search);
            if (search.found) {
                print_window(search.found);
                return 0;
            }
            if (GetTickCount() - started >= limit)
                return 1;
            Sleep(100);
        }
    }
    if (argc < 3)
        return 2;
    HWND window = parse_window(argv[2]);
    if (!window) {
        fprintf(stderr, "wintool: no window %ls\n", argv[2]);
        return 1;
    }
    if (!wcscmp(command, L"close")) {
        return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (!wcscmp(command, L"rect")) {
        RECT rect;
        if (!GetWindowRect(window, &rect))
            return 1;
        printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (!wcscmp(command, L"focus")) {
        GUITHREADINFO info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info))
            return 1;
        printf("%d\n", !info.hwndFocus            ? 0
                       : info.hwndFocus == window ? -1
                                                  : GetDlgCtrlID(info.hwndFocus));
        return 0;
    }
    if (!wcscmp(command, L"memory")) {
        DWORD process_id = 0;
        GetWindowThreadProcessId(window, &process_id);
        HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
        PROCESS_MEMORY_COUNTERS_EX counters;
        ZeroMemory(&counters, sizeof counters);
        counters.cb = sizeof counters;
        if (!process ||
            !GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS*)&counters, sizeof counters))
            return 1;
        CloseHandle(process);
        printf("private %llu workingset %llu\n", (unsigned long long)counters.PrivateUsage,
               (unsigned long long)counters.WorkingSetSize);
        return 0;
    }
    if (argc < 4)
        return 2;
    int id = (int)wcstol(argv[3], NULL, 10);
    HWND control = GetDlgItem(window, id);
    if (!control) {
        fprintf(stderr, "wintool: window %ls has no control %d\n", argv[2], id);
        return 1;
    }
    if (!wcscmp(command, L"click")) {
        return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control) ? 0
                                                                                             : 1;
    }
    if (!wcscmp(command, L"press")) {
        /* As a mouse click would: a radio button or check box changes its state, then the
           dialog hears of it. */
        return PostMessageW(control, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (!wcscmp(command, L"settext") && argc == 5) {
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutW(control, WM_SETTEXT, 0, (LPARAM)argv[4], SMTO_ABORTIFHUNG, 5000,
                                   &ignored)
                   ? 0
                   : 1;
    }
    return 2;
}
