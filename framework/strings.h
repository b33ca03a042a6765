// Texts from the program's string table, and printf-style formatting into a
// std::string of any length.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

// The string `id` of the program's own string table, in full (no length
// limit). An id without a string gives an empty text.
std::string LoadResourceString(UINT id);

// printf-style formatting of the string `id` (see LoadResourceString).
std::string FormatResourceString(UINT id, ...);

// printf-style formatting; the result may be of any length. A format the C
// runtime rejects gives an empty text.
std::string FormatText(const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
std::string FormatTextV(const char* format, va_list arguments);
