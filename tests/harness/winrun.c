/*
 * winrun: runs one program inside the Wine prefix and reports its full 32-bit exit code, which
 * a Unix shell would cut to 8 bits (`wine prog.exe` turns -10 into 246 and 256 into 0).
 *
 *   winrun --exit-code-file FILE [--cwd DIR] [--timeout MS] -- PROGRAM [ARGS...]
 *
 * The result goes to FILE as one line: the signed code, "timeout" once --timeout ran out and
 * the program was ended, or "error: ..." when it could not be started. The program shares
 * winrun's standard handles and gets the rest of winrun's own command line as Wine quoted it.
 */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

enum { EXIT_TIMED_OUT = 124, EXIT_USAGE = 125, EXIT_START_FAILED = 127 };

static const wchar_t* exit_code_file;

static void report(const char* line) {
    HANDLE file = CreateFileW(exit_code_file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    char text[600];
    int length = snprintf(text, sizeof text, "%s\n", line);
    /* A lost result would make the run look like a pass or a crash: say so loudly. */
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, text, (DWORD)length, &written, NULL))
        fprintf(stderr, "winrun: cannot write exit-code file (error %lu)\n", GetLastError());
    CloseHandle(file);
}

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* cwd = NULL;
    wchar_t* command_line = NULL;
    DWORD timeout = INFINITE;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!wcscmp(argv[i], L"--")) {
            /* The options before it hold no " -- ": paths of the harness's scratch folders. */
            wchar_t* rest = wcsstr(GetCommandLineW(), L" -- ");
            command_line = rest ? rest + 4 : NULL;
            break;
        }
        if (!wcscmp(argv[i], L"--cwd"))
            cwd = argv[i + 1];
        else if (!wcscmp(argv[i], L"--timeout"))
            timeout = (DWORD)wcstoul(argv[i + 1], NULL, 10);
        else if (!wcscmp(argv[i], L"--exit-code-file"))
            exit_code_file = argv[i + 1];
    }
    if (!command_line || !*command_line || !exit_code_file) {
        fputs("usage: winrun --exit-code-file FILE [--cwd DIR] [--timeout MS] -- PROGRAM ...\n",
              stderr);
        return EXIT_USAGE;
    }

    /* The program writes straight into our stdout and stderr, GUI programs too. */
    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE inherited[] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
    for (int i = 0; i < 3; ++i)
        SetHandleInformation(inherited[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process = {0};
    if (!CreateProcessW(NULL, command_line, NULL, NULL, TRUE, 0, NULL, cwd, &startup, &process)) {
        char line[100];
        snprintf(line, sizeof line, "error: CreateProcess failed with error %lu", GetLastError());
        report(line);
        fprintf(stderr, "winrun: %s\n", line);
        return EXIT_START_FAILED;
    }
    if (WaitForSingleObject(process.hProcess, timeout) == WAIT_TIMEOUT) {
        /* The caller ends the whole prefix, with whatever the program started. */
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        report("timeout");
        return EXIT_TIMED_OUT;
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    char line[32];
    snprintf(line, sizeof line, "%ld", (long)(LONG)exit_code);
    report(line);
    return (int)exit_code;
}
