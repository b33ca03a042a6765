/*
 * launch: starts a program the ways the setup program starts the programs of its payload, so
 * that a test can hand a stand-in exactly what the setup will hand the real one.
 *
 *   launch [--application PATH] [--std-handles] [--event NAME] [--timeout MS]
 *          COMMAND-LINE-FILE
 *
 * The command line is read from COMMAND-LINE-FILE and used byte for byte (ANSI): it may begin
 * with a blank and leave the program's name out, as the setup's " -std-pipe -log" does.
 *   --application PATH  the application name; without it the system finds the program from
 *                       the command line itself (an unquoted path with blanks included)
 *   --std-handles       the program inherits handles and gets launch's own standard output
 *                       and error as its standard output and error, and no standard input;
 *                       without it, no handles are inherited and the start-up information
 *                       is left at its defaults
 *   --event NAME        a manual-reset event of that name is created, not signalled, before
 *                       the start and checked after the end
 *   --timeout MS        how long to wait before the program is terminated (default: no limit)
 *
 * Its report goes to standard error (standard output belongs to the program), one a line:
 *   launch: ended=1 (or 0 when the program had to be terminated)
 *   launch: exit_code=N
 *   launch: signalled=1 (or 0; only with --event)
 * Exit code 0, 2 for a usage error, 3 when the event or the process cannot be created.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int usage(void) {
    fputs("usage: launch [--application PATH] [--std-handles] [--event NAME] [--timeout MS] "
          "COMMAND-LINE-FILE\n",
          stderr);
    return 2;
}

int main(int argc, char** argv) {
    const char* application = NULL;
    const char* event_name = NULL;
    const char* command_line_file = NULL;
    BOOL std_handles = FALSE;
    DWORD timeout = INFINITE;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--std-handles") == 0) {
            std_handles = TRUE;
        } else if (i + 1 < argc && strcmp(argv[i], "--application") == 0) {
            application = argv[++i];
        } else if (i + 1 < argc && strcmp(argv[i], "--event") == 0) {
            event_name = argv[++i];
        } else if (i + 1 < argc && strcmp(argv[i], "--timeout") == 0) {
            timeout = strtoul(argv[++i], NULL, 10);
        } else if (command_line_file == NULL && argv[i][0] != '-') {
            command_line_file = argv[i];
        } else {
            return usage();
        }
    }
    if (command_line_file == NULL) {
        return usage();
    }

    char command_line[4096];
    FILE* file = fopen(command_line_file, "rb");
    size_t length = file ? fread(command_line, 1, sizeof command_line - 1, file) : 0;
    if (file) {
        fclose(file);
    }
    if (length == 0) {
        fprintf(stderr, "launch: cannot read %s\n", command_line_file);
        return 2;
    }
    command_line[length] = '\0';

    HANDLE event = NULL;
    if (event_name != NULL) {
        event = CreateEventA(NULL, TRUE, FALSE, event_name);
        if (event == NULL) {
            fprintf(stderr, "launch: CreateEvent failed with error %lu\n", GetLastError());
            return 3;
        }
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (std_handles) {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        SetHandleInformation(out, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        SetHandleInformation(err, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = NULL;
        startup.hStdOutput = out;
        startup.hStdError = err;
    }
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(application, command_line, NULL, NULL, std_handles, 0, NULL, NULL, &startup,
                        &process)) {
        fprintf(stderr, "launch: CreateProcess failed with error %lu\n", GetLastError());
        return 3;
    }
    BOOL ended = WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process.hProcess, 0xFFFFFFFF);
        WaitForSingleObject(process.hProcess, 5000);
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    fprintf(stderr, "launch: ended=%d\nlaunch: exit_code=%ld\n", ended ? 1 : 0, (long)exit_code);
    if (event != NULL) {
        fprintf(stderr, "launch: signalled=%d\n", WaitForSingleObject(event, 1) == WAIT_OBJECT_0);
        CloseHandle(event);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
