/*
 * Stand-in for the product's child installer (payload entries
 * corvane-rdp-workstation-installer.exe.* and corvane-rdp-server-installer.exe.*).
 *
 * The setup program starts it with the install folder as current folder and the command line
 * " -std-pipe -log" (or " -std-pipe -setupapi-log"), its standard output the write end of a
 * pipe and its standard error the setup log. It reports through the pipe in 16-byte records,
 * four unsigned 32-bit little-endian numbers each: kind, value 1, value 2, value 3.
 *   kind 0, error:    code, location, module id
 *   kind 1, progress: goal (0-100), phase code (1 "Installing kernel mode drivers...",
 *                     2 "Installing main program module..."), restart request (non-zero: yes)
 * Its log lines go to standard error and to CORVANE_STAND_IN_LOG (see stand_in.h): how it was
 * started (command line in brackets, current folder, which standard handles it got), each
 * record it sends, and how it ends.
 *
 * By default it reports progress 30 and 45 in phase 1, 60 and 80 in phase 2, and ends with
 * exit code 0 in well under a second. A test changes that through the environment, which the
 * setup passes on:
 *   CORVANE_CHILD_MODE=restart       as the default, with the restart request set on goal 45
 *   CORVANE_CHILD_MODE=error         goal 30, then one error record, then the end
 *   CORVANE_CHILD_MODE=error-code-0  goal 30, an error record with code 0, then goals 60 and
 *                                    80 that the setup must no longer read
 *   CORVANE_CHILD_MODE=no-report     no record at all
 *   CORVANE_CHILD_MODE=long          a progress record every second for
 *                                    CORVANE_CHILD_SECONDS (default 30), goals rising from 20
 *                                    to 85, then the end
 *   CORVANE_CHILD_MODE=overshoot     goals 100 and 150 (beyond the scale), then no record for
 *                                    CORVANE_CHILD_SECONDS (default 3) while it goes on working
 *   CORVANE_CHILD_ERROR=code,location,module   the error record's values, decimal or 0x-hex
 *                                    (default 0x5,0x21,0x2000; error-code-0 keeps code 0)
 *   CORVANE_CHILD_EXIT_CODE=N        exit code (default 0; the setup does not look at it)
 * It changes nothing on the machine: whatever it leaves behind would outlive a rollback.
 *
 * A command line other than the two above is refused: with -std-pipe an error record
 * {87 (invalid parameter), 1, 0x2000} is sent, and the exit code is 87. An unknown
 * CORVANE_CHILD_MODE is refused the same way with location 2, so a mistyped test fails loudly.
 */
#include "stand_in.h"

enum {
    kNotifyError = 0,
    kNotifyProgress = 1,
    kPhaseDrivers = 1,
    kPhaseMainModule = 2,
    kChildModule = 0x2000,
    kLocationCommandLine = 1,
    kLocationMode = 2,
};

static HANDLE g_pipe;

static void send_record(DWORD kind, DWORD value1, DWORD value2, DWORD value3) {
    const DWORD values[4] = {kind, value1, value2, value3};
    unsigned char record[16];
    for (int i = 0; i < 4; ++i) {
        for (int b = 0; b < 4; ++b) {
            record[i * 4 + b] = (unsigned char)(values[i] >> (8 * b));
        }
    }
    /* Raw bytes through WriteFile: the C runtime's text mode would turn a 0x0A byte into
     * 0x0D 0x0A and shift every record after it. */
    if (!stand_in_handle_usable(g_pipe) || !stand_in_write_all(g_pipe, record, sizeof record)) {
        stand_in_say("cannot write record %lu,%lu,%lu,%lu (error %lu)", kind, value1, value2,
                     value3, GetLastError());
        return;
    }
    stand_in_say("record %lu,%lu,%lu,%lu", kind, value1, value2, value3);
}

static void progress(DWORD goal, DWORD phase, DWORD restart) {
    stand_in_say("%s", phase == kPhaseDrivers ? "Installing kernel mode drivers..."
                                              : "Installing main program module...");
    send_record(kNotifyProgress, goal, phase, restart);
}

static int finish(int exit_code) {
    stand_in_say("finished, exit code %d", exit_code);
    return exit_code;
}

static int refuse(BOOL has_pipe, DWORD location, const char* reason, const char* detail) {
    stand_in_say("%s%s", reason, detail);
    if (has_pipe) {
        send_record(kNotifyError, ERROR_INVALID_PARAMETER, location, kChildModule);
    }
    return finish(ERROR_INVALID_PARAMETER);
}

/* CORVANE_CHILD_ERROR as code,location,module; missing or malformed parts keep their
 * defaults, and the log says so. */
static void read_error_values(DWORD* code, DWORD* location, DWORD* module) {
    char text[200];
    stand_in_env("CORVANE_CHILD_ERROR", text, sizeof text);
    if (text[0] == '\0') {
        return;
    }
    DWORD* fields[3] = {code, location, module};
    char* part = text;
    for (int i = 0; i < 3 && part != NULL; ++i) {
        char* comma = strchr(part, ',');
        if (comma != NULL) {
            *comma = '\0';
        }
        unsigned long value = 0;
        if (stand_in_parse_number(part, &value)) {
            *fields[i] = (DWORD)value;
        } else {
            stand_in_say("CORVANE_CHILD_ERROR part %d (\"%s\") is not a number; kept 0x%lx", i + 1,
                         part, *fields[i]);
        }
        part = comma != NULL ? comma + 1 : NULL;
    }
}

static int run_long(DWORD seconds) {
    stand_in_say("running for %lu seconds", seconds);
    for (DWORD second = 0; second < seconds; ++second) {
        /* 20 at the start, 85 at the end; phase 2 for the second half. */
        DWORD goal = 20 + (seconds > 1 ? 65 * second / (seconds - 1) : 65);
        progress(goal, second * 2 < seconds ? kPhaseDrivers : kPhaseMainModule, 0);
        Sleep(1000);
    }
    return 0;
}

int main(void) {
    g_pipe = GetStdHandle(STD_OUTPUT_HANDLE);
    stand_in_say_start();

    const char* cursor = stand_in_arguments(GetCommandLineA());
    char word[MAX_PATH];
    BOOL std_pipe = FALSE;
    const char* log_option = NULL;
    const char* unknown = NULL;
    static char unknown_word[MAX_PATH];
    while (stand_in_next_word(&cursor, word, sizeof word)) {
        if (strcmp(word, "-help") == 0) {
            char usage[400];
            snprintf(usage, sizeof usage,
                     "usage: %s -std-pipe (-log | -setupapi-log)\n"
                     "Stand-in child installer of the sample payload: reports progress records "
                     "on standard output.\n",
                     stand_in_name());
            stand_in_print(usage);
            return 0;
        }
        if (strcmp(word, "-std-pipe") == 0 && !std_pipe) {
            std_pipe = TRUE;
        } else if ((strcmp(word, "-log") == 0 || strcmp(word, "-setupapi-log") == 0) &&
                   log_option == NULL) {
            log_option = strcmp(word, "-log") == 0 ? "-log" : "-setupapi-log";
        } else if (unknown == NULL) {
            strcpy(unknown_word, word);
            unknown = unknown_word;
        }
    }
    if (unknown != NULL) {
        return refuse(std_pipe, kLocationCommandLine, "refused: unexpected argument ", unknown);
    }
    if (!std_pipe || log_option == NULL) {
        return refuse(std_pipe, kLocationCommandLine, "refused: ",
                      !std_pipe ? "-std-pipe is missing" : "-log or -setupapi-log is missing");
    }
    stand_in_say("log option %s", log_option);

    char mode[64];
    char number[64];
    stand_in_env("CORVANE_CHILD_MODE", mode, sizeof mode);
    unsigned long exit_code = 0;
    if (stand_in_env("CORVANE_CHILD_EXIT_CODE", number, sizeof number)[0] != '\0' &&
        !stand_in_parse_number(number, &exit_code)) {
        stand_in_say("CORVANE_CHILD_EXIT_CODE \"%s\" is not a number; exit code 0", number);
        exit_code = 0;
    }
    DWORD code = 0x5;
    DWORD location = 0x21;
    DWORD module = kChildModule;
    read_error_values(&code, &location, &module);
    stand_in_say("mode %s", mode[0] != '\0' ? mode : "success");

    if (mode[0] == '\0' || strcmp(mode, "success") == 0 || strcmp(mode, "restart") == 0) {
        const BOOL restart = strcmp(mode, "restart") == 0;
        progress(30, kPhaseDrivers, 0);
        progress(45, kPhaseDrivers, restart ? 1 : 0);
        progress(60, kPhaseMainModule, 0);
        progress(80, kPhaseMainModule, 0);
    } else if (strcmp(mode, "error") == 0) {
        progress(30, kPhaseDrivers, 0);
        stand_in_say("failing: code 0x%lx, location 0x%lx, module 0x%lx", code, location, module);
        send_record(kNotifyError, code, location, module);
    } else if (strcmp(mode, "error-code-0") == 0) {
        progress(30, kPhaseDrivers, 0);
        stand_in_say("error record with code 0: location 0x%lx, module 0x%lx", location, module);
        send_record(kNotifyError, 0, location, module);
        progress(60, kPhaseMainModule, 0);
        progress(80, kPhaseMainModule, 0);
    } else if (strcmp(mode, "no-report") == 0) {
        stand_in_say("ending without a record");
    } else if (strcmp(mode, "long") == 0 || strcmp(mode, "overshoot") == 0) {
        const BOOL overshoot = strcmp(mode, "overshoot") == 0;
        const unsigned long default_seconds = overshoot ? 3 : 30;
        unsigned long seconds = default_seconds;
        if (overshoot) {
            progress(100, kPhaseDrivers, 0);
            progress(150, kPhaseMainModule, 0);
        }
        if (stand_in_env("CORVANE_CHILD_SECONDS", number, sizeof number)[0] != '\0' &&
            !stand_in_parse_number(number, &seconds)) {
            stand_in_say("CORVANE_CHILD_SECONDS \"%s\" is not a number; %lu seconds", number,
                         default_seconds);
            seconds = default_seconds;
        }
        if (overshoot) {
            stand_in_say("working for %lu seconds", seconds);
            Sleep((DWORD)seconds * 1000);
        } else {
            run_long((DWORD)seconds);
        }
    } else {
        return refuse(TRUE, kLocationMode, "refused: unknown CORVANE_CHILD_MODE ", mode);
    }
    return finish((int)exit_code);
}
