/*
 * winrun: starts one program inside the Wine prefix, waits for it and reports its full
 * 32-bit exit code.
 *
 *   winrun [--cwd DIR] [--timeout MS] [--exit-code-file FILE] -- PROGRAM [ARGS...]
 *   winrun [--cwd DIR] [--timeout MS] [--exit-code-file FILE] --command-line-file FILE
 *
 * A Unix shell sees only the low 8 bits of a process status, so `wine prog.exe` turns -10 into
 * 246 and 256 into 0. winrun asks GetExitCodeProcess instead and writes the code as a signed
 * decimal either to --exit-code-file (the program's own output stays untouched) or, without
 * it, as a last stdout line "winrun-exit-code: N".
 *
 * The exit-code file holds exactly one line: the signed code, "timeout" when --timeout ran out
 * (the program was then terminated), or "error: ..." when the program could not be started.
 *
 * --command-line-file passes a raw command line (UTF-8) byte for byte: setup programs parse
 * their own command line, and a quoted part in the middle of an argument
 * (/log:"C:\a b\x.log") cannot be expressed through Wine's argv, which re-quotes whole
 * arguments. Arguments after "--" are quoted with the rules CommandLineToArgvW undoes.
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

enum { EXIT_USAGE = 125, EXIT_START_FAILED = 127, EXIT_TIMED_OUT = 124 };

typedef struct {
    wchar_t* text;
    size_t length;
    size_t capacity;
} WideBuffer;

static void buffer_append(WideBuffer* buffer, const wchar_t* text, size_t length) {
    if (buffer->length + length + 1 > buffer->capacity) {
        size_t capacity = buffer->capacity ? buffer->capacity : 256;
        while (buffer->length + length + 1 > capacity)
            capacity *= 2;
        wchar_t* grown = realloc(buffer->text, capacity * sizeof(wchar_t));
        if (!grown) {
            fputs("winrun: out of memory\n", stderr);
            ExitProcess(EXIT_USAGE);
        }
        buffer->text = grown;
        buffer->capacity = capacity;
    }
    memcpy(buffer->text + buffer->length, text, length * sizeof(wchar_t));
    buffer->length += length;
    buffer->text[buffer->length] = L'\0';
}

static void buffer_append_char(WideBuffer* buffer, wchar_t c, size_t count) {
    while (count--)
        buffer_append(buffer, &c, 1);
}

/* Quotes one argument so that CommandLineToArgvW (and the C runtime) give it back unchanged:
 * backslashes are literal except in front of a quote, where they have to be doubled. */
static void append_quoted_argument(WideBuffer* buffer, const wchar_t* argument) {
    if (*argument && !wcspbrk(argument, L" \t\n\v\"")) {
        buffer_append(buffer, argument, wcslen(argument));
        return;
    }
    buffer_append_char(buffer, L'"', 1);
    for (const wchar_t* p = argument;; ++p) {
        size_t backslashes = 0;
        while (*p == L'\\') {
            ++p;
            ++backslashes;
        }
        if (*p == L'\0') {
            buffer_append_char(buffer, L'\\', backslashes * 2);
            break;
        }
        if (*p == L'"') {
            buffer_append_char(buffer, L'\\', backslashes * 2 + 1);
        } else {
            buffer_append_char(buffer, L'\\', backslashes);
        }
        buffer_append_char(buffer, *p, 1);
    }
    buffer_append_char(buffer, L'"', 1);
}

static wchar_t* read_utf8_file(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    DWORD size = GetFileSize(file, NULL);
    char* bytes = malloc(size + 1);
    DWORD read = 0;
    BOOL ok = bytes && ReadFile(file, bytes, size, &read, NULL) && read == size;
    CloseHandle(file);
    if (!ok) {
        free(bytes);
        return NULL;
    }
    int length = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)size, NULL, 0);
    wchar_t* text = malloc((length + 1) * sizeof(wchar_t));
    if (text) {
        MultiByteToWideChar(CP_UTF8, 0, bytes, (int)size, text, length);
        text[length] = L'\0';
    }
    free(bytes);
    return text;
}

/* Writes the one-line result where the caller asked for it. Failing to record the result
 * would make the run look like a pass or a crash, so that is reported loudly. */
static void report(const wchar_t* exit_code_file, const char* line) {
    if (!exit_code_file) {
        fflush(stdout);
        printf("winrun-exit-code: %s\n", line);
        fflush(stdout);
        return;
    }
    HANDLE file = CreateFileW(exit_code_file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    char text[600];
    int length = snprintf(text, sizeof text, "%s\n", line);
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, text, (DWORD)length, &written, NULL)) {
        fprintf(stderr, "winrun: cannot write exit-code file (error %lu)\n", GetLastError());
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

static void make_inheritable(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle && handle != INVALID_HANDLE_VALUE)
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

static int usage(void) {
    fputs("usage: winrun [--cwd DIR] [--timeout MS] [--exit-code-file FILE]\n"
          "              (-- PROGRAM [ARGS...] | --command-line-file FILE)\n",
          stderr);
    return EXIT_USAGE;
}

int main(void) {
    /* \n, not \r\n: the harness on the Linux side reads these lines. */
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* cwd = NULL;
    const wchar_t* exit_code_file = NULL;
    const wchar_t* command_line_file = NULL;
    DWORD timeout = INFINITE;
    int first_program_argument = -1;

    for (int i = 1; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--")) {
            first_program_argument = i + 1;
            break;
        }
        if (i + 1 >= argc)
            return usage();
        if (!wcscmp(argv[i], L"--cwd"))
            cwd = argv[++i];
        else if (!wcscmp(argv[i], L"--timeout"))
            timeout = (DWORD)wcstoul(argv[++i], NULL, 10);
        else if (!wcscmp(argv[i], L"--exit-code-file"))
            exit_code_file = argv[++i];
        else if (!wcscmp(argv[i], L"--command-line-file"))
            command_line_file = argv[++i];
        else
            return usage();
    }

    WideBuffer command_line = {0};
    if (command_line_file) {
        wchar_t* text = read_utf8_file(command_line_file);
        if (!text) {
            fprintf(stderr, "winrun: cannot read command-line file (error %lu)\n", GetLastError());
            return EXIT_USAGE;
        }
        buffer_append(&command_line, text, wcslen(text));
        free(text);
    } else if (first_program_argument > 0 && first_program_argument < argc) {
        for (int i = first_program_argument; i < argc; ++i) {
            if (i > first_program_argument)
                buffer_append_char(&command_line, L' ', 1);
            append_quoted_argument(&command_line, argv[i]);
        }
    } else {
        return usage();
    }

    /* The program writes straight into our stdout/stderr, so the caller reads its output
     * unchanged and in order; GUI programs get the handles the same way. */
    make_inheritable(STD_INPUT_HANDLE);
    make_inheritable(STD_OUTPUT_HANDLE);
    make_inheritable(STD_ERROR_HANDLE);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {0};
    fflush(stdout);
    fflush(stderr);
    if (!CreateProcessW(NULL, command_line.text, NULL, NULL, TRUE, 0, NULL, cwd, &startup,
                        &process)) {
        DWORD error = GetLastError();
        char message[300] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0,
                       message, sizeof message, NULL);
        message[strcspn(message, "\r\n")] = '\0';
        char line[512];
        snprintf(line, sizeof line, "error: CreateProcess failed with error %lu: %s", error,
                 message);
        report(exit_code_file, line);
        fprintf(stderr, "winrun: %s\n", line);
        return EXIT_START_FAILED;
    }
    CloseHandle(process.hThread);

    if (WaitForSingleObject(process.hProcess, timeout) == WAIT_TIMEOUT) {
        /* Only the program itself is ended here; the caller shuts the whole prefix down
         * (wineserver -k), which also takes any processes it started. */
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        report(exit_code_file, "timeout");
        return EXIT_TIMED_OUT;
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.hProcess, &exit_code)) {
        char line[100];
        snprintf(line, sizeof line, "error: GetExitCodeProcess failed with error %lu",
                 GetLastError());
        report(exit_code_file, line);
        return EXIT_START_FAILED;
    }
    char line[32];
    snprintf(line, sizeof line, "%ld", (long)(LONG)exit_code);
    report(exit_code_file, line);
    return (int)exit_code;
}
