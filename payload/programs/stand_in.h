/*
 * What every stand-in program of the sample payload shares: where it says what it does, and
 * how it reads its command line and the environment a test sets for it.
 *
 * Lines a stand-in writes go to its standard error (when it has one; for the child installer
 * that is the setup log) and, when the environment variable CORVANE_STAND_IN_LOG names a file,
 * are appended to that file too, so that a test can see what a program started by the setup
 * was given even when nobody reads its standard handles. Each line reads
 * "<program file name>: <text>" and ends with CR LF.
 *
 * Compiled as C and as C++ (the Citrix-support stand-in reads the product profile).
 */
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Longest line a stand-in writes; longer lines are cut, never overrun. */
#define STAND_IN_LINE_MAX 2048

static char g_stand_in_name[MAX_PATH];

/* The program's own file name ("corvanews.exe.x86" when run from an unpacked payload). */
static inline const char* stand_in_name(void) {
    if (g_stand_in_name[0] == '\0') {
        char path[MAX_PATH] = "";
        DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
        if (length == 0 || length >= sizeof path) {
            strcpy(g_stand_in_name, "stand-in");
        } else {
            const char* slash = strrchr(path, '\\');
            strcpy(g_stand_in_name, slash ? slash + 1 : path);
        }
    }
    return g_stand_in_name;
}

static inline int stand_in_handle_usable(HANDLE handle) {
    return handle != NULL && handle != INVALID_HANDLE_VALUE;
}

/* Writes all bytes; a pipe may take fewer than asked at once. */
static inline BOOL stand_in_write_all(HANDLE handle, const void* data, DWORD size) {
    const char* bytes = (const char*)data;
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes, size, &written, NULL) || written == 0) {
            return FALSE;
        }
        bytes += written;
        size -= written;
    }
    return TRUE;
}

static inline void stand_in_write_line_to(HANDLE handle, const char* line, DWORD length) {
    if (!stand_in_handle_usable(handle)) {
        return;
    }
    /* The setup program shares this file (and its position) and writes its own lines at the
     * end; writing at the end as well keeps either from overwriting the other. */
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        SetFilePointer(handle, 0, NULL, FILE_END);
    }
    stand_in_write_all(handle, line, length);
}

/* One line, printf-style, to standard error and to the stand-in log. */
static inline void stand_in_say(const char* format, ...) {
    char line[STAND_IN_LINE_MAX];
    int prefix = snprintf(line, sizeof line - 2, "%s: ", stand_in_name());
    if (prefix < 0 || prefix >= (int)sizeof line - 2) {
        prefix = 0;
    }
    va_list arguments;
    va_start(arguments, format);
    int text = vsnprintf(line + prefix, sizeof line - 2 - prefix, format, arguments);
    va_end(arguments);
    DWORD length = (DWORD)prefix;
    if (text > 0) {
        length += (DWORD)text < sizeof line - 3 - prefix ? (DWORD)text
                                                         : (DWORD)(sizeof line - 3 - prefix);
    }
    line[length++] = '\r';
    line[length++] = '\n';

    stand_in_write_line_to(GetStdHandle(STD_ERROR_HANDLE), line, length);

    char log_path[MAX_PATH];
    DWORD path_length = GetEnvironmentVariableA("CORVANE_STAND_IN_LOG", log_path, sizeof log_path);
    if (path_length == 0 || path_length >= sizeof log_path) {
        return;
    }
    /* Appending: several stand-ins (and a stand-in run twice) write one file. */
    HANDLE log = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log != INVALID_HANDLE_VALUE) {
        stand_in_write_all(log, line, length);
        CloseHandle(log);
    }
}

/* An environment variable's text, or "" when it is not set (or too long to be meant). */
static inline const char* stand_in_env(const char* name, char* buffer, DWORD size) {
    DWORD length = GetEnvironmentVariableA(name, buffer, size);
    if (length == 0 || length >= size) {
        buffer[0] = '\0';
    }
    return buffer;
}

/* A number in decimal or 0x-hex; FALSE unless the whole text is one. */
static inline BOOL stand_in_parse_number(const char* text, unsigned long* value) {
    char* end = NULL;
    if (text == NULL || *text == '\0') {
        return FALSE;
    }
    *value = strtoul(text, &end, 0);
    return end != text && *end == '\0';
}

/* What the handle is, for the log: the setup's promises about the child's handles. */
static inline const char* stand_in_handle_kind(HANDLE handle) {
    if (!stand_in_handle_usable(handle)) {
        return "none";
    }
    switch (GetFileType(handle)) {
    case FILE_TYPE_PIPE:
        return "pipe";
    case FILE_TYPE_DISK:
        return "file";
    case FILE_TYPE_CHAR:
        return "console";
    default:
        return "unknown";
    }
}

/*
 * The command line after the program's own name. The setup starts the child installer with a
 * separate application name and a command line that begins with a blank (" -std-pipe -log"),
 * and the Citrix-support installer with an unquoted path that may hold blanks
 * ("C:\Program Files\...\corvane-rdp-rde-installer.exe RegisterCitrixDllEx"); a shell or a
 * test harness puts the program's name first, quoted or not. Options begin with '-' and a
 * program path never does, so:
 *   - a line that begins with a blank or '-' has no program name in it;
 *   - a quoted first word is the program name;
 *   - a line that begins with the program's own full path (any letter case) loses that path,
 *     blanks and all;
 *   - otherwise the first word is the program name.
 */
static inline const char* stand_in_arguments(const char* command_line) {
    const char* p = command_line;
    if (*p == ' ' || *p == '\t' || *p == '-' || *p == '\0') {
        return p;
    }
    if (*p == '"') {
        const char* close = strchr(p + 1, '"');
        return close ? close + 1 : p + strlen(p);
    }
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    if (length > 0 && length < sizeof path && _strnicmp(p, path, length) == 0 &&
        (p[length] == '\0' || p[length] == ' ' || p[length] == '\t')) {
        return p + length;
    }
    while (*p != '\0' && *p != ' ' && *p != '\t') {
        ++p;
    }
    return p;
}

/* Copies the next blank-separated word of *cursor into word; FALSE at the end. */
static inline BOOL stand_in_next_word(const char** cursor, char* word, size_t size) {
    const char* p = *cursor;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (*p == '\0') {
        *cursor = p;
        return FALSE;
    }
    size_t length = 0;
    while (p[length] != '\0' && p[length] != ' ' && p[length] != '\t') {
        ++length;
    }
    size_t kept = length < size - 1 ? length : size - 1;
    memcpy(word, p, kept);
    word[kept] = '\0';
    *cursor = p + length;
    return TRUE;
}

/* Says how the program was started: command line, current folder, standard handles. */
static inline void stand_in_say_start(void) {
    char folder[MAX_PATH] = "";
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) {
        strcpy(folder, "?");
    }
    stand_in_say("command line [%s]", GetCommandLineA());
    stand_in_say("current folder [%s]", folder);
    stand_in_say("standard handles: input %s, output %s, error %s",
                 stand_in_handle_kind(GetStdHandle(STD_INPUT_HANDLE)),
                 stand_in_handle_kind(GetStdHandle(STD_OUTPUT_HANDLE)),
                 stand_in_handle_kind(GetStdHandle(STD_ERROR_HANDLE)));
}

/* Usage text to standard output, as "-help" asks for. */
static inline void stand_in_print(const char* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (stand_in_handle_usable(out)) {
        stand_in_write_all(out, text, (DWORD)strlen(text));
    }
}
