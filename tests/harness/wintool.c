/*
 * wintool: reads and drives the windows of a program under test from inside its prefix.
 *
 *   wintool list                      every top-level window and its controls
 *   wintool press WINDOW ID           BM_CLICK to the control: a check box or radio button
 *                                     changes state before the dialog hears of it
 *   wintool settext WINDOW ID TEXT
 *   wintool close WINDOW              WM_CLOSE
 *   wintool rect WINDOW               left top right bottom on the screen
 *   wintool focus WINDOW              id of the control with the keyboard focus in the
 *                                     window's thread (0: none, -1: the window itself)
 *   wintool memory WINDOW             workingset <bytes> of the window's process
 *
 * WINDOW is a handle as `list` prints it. Lines (texts as hex of UTF-8, "-" when empty):
 *   W <hwnd> <pid> <visible> <class> <title>
 *   C <parent> <hwnd> <id> <visible> <enabled> <class> <text>
 * Messages are posted: a button that opens a modal dialog must not block wintool.
 * Exit codes: 0 done, 1 not found or timed out, 2 usage.
 */
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
    putchar(' ');
    if (size <= 1)
        putchar('-');
    for (int i = 0; i < size - 1; ++i)
        printf("%02x", (unsigned char)bytes[i]);
}

/* With a time limit: a hung program must not hang the test. */
static void print_texts(HWND window) {
    wchar_t class_name[256], text[1024] = L"";
    DWORD_PTR length = 0;
    GetClassNameW(window, class_name, 256);
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                             &length))
        text[0] = L'\0';
    text[1023] = L'\0';
    print_hex_text(class_name);
    print_hex_text(text);
    putchar('\n');
}

static BOOL CALLBACK print_control(HWND control, LPARAM parent) {
    printf("C %lu %lu %d %d %d", (unsigned long)parent, (unsigned long)(ULONG_PTR)control,
           GetDlgCtrlID(control), IsWindowVisible(control) ? 1 : 0,
           IsWindowEnabled(control) ? 1 : 0);
    print_texts(control);
    return TRUE;
}

static BOOL CALLBACK print_window(HWND window, LPARAM unused) {
    (void)unused;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    printf("W %lu %lu %d", (unsigned long)(ULONG_PTR)window, process,
           IsWindowVisible(window) ? 1 : 0);
    print_texts(window);
    EnumChildWindows(window, print_control, (LPARAM)window);
    return TRUE;
}

int main(void) {
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* command = argc > 1 ? argv[1] : L"";
    if (!wcscmp(command, L"list"))
        return !EnumWindows(print_window, 0);
    HWND window = argc > 2 ? (HWND)(ULONG_PTR)wcstoul(argv[2], NULL, 10) : NULL;
    if (!IsWindow(window))
        return argc > 2 ? 1 : 2;
    if (!wcscmp(command, L"close"))
        return !PostMessageW(window, WM_CLOSE, 0, 0);
    if (!wcscmp(command, L"rect")) {
        RECT rect;
        if (!GetWindowRect(window, &rect))
            return 1;
        printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (!wcscmp(command, L"focus")) {
        GUITHREADINFO info = {0};
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
        PROCESS_MEMORY_COUNTERS counters = {0};
        counters.cb = sizeof counters;
        if (!process || !GetProcessMemoryInfo(process, &counters, sizeof counters))
            return 1;
        printf("workingset %llu\n", (unsigned long long)counters.WorkingSetSize);
        return 0;
    }
    int id = argc > 3 ? (int)wcstol(argv[3], NULL, 10) : 0;
    HWND control = GetDlgItem(window, id);
    if (!control)
        return 1;
    if (!wcscmp(command, L"press"))
        return !PostMessageW(control, BM_CLICK, 0, 0);
    DWORD_PTR ignored = 0;
    if (!wcscmp(command, L"settext") && argc == 5)
        return !SendMessageTimeoutW(control, WM_SETTEXT, 0, (LPARAM)argv[4], SMTO_ABORTIFHUNG, 5000,
                                    &ignored);
    return 2;
}
