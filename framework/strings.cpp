#include "strings.h"

#include <cstdio>
#include <vector>

std::string LoadResourceString(UINT id) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    // LoadStringA cuts a text to the buffer and tells no full length, so a
    // result that fills the buffer may be cut: try again with a larger one.
    std::vector<char> buffer(256);
    for (;;) {
        const int length = LoadStringA(module, id, buffer.data(), int(buffer.size()));
        if (length <= 0) {
            return std::string();
        }
        if (size_t(length) < buffer.size() - 1) {
            return std::string(buffer.data(), size_t(length));
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::string FormatTextV(const char* format, va_list arguments) {
    char small[512];
    va_list copy;
    va_copy(copy, arguments);
    const int needed = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        return std::string();
    }
    if (size_t(needed) < sizeof small) {
        return std::string(small, size_t(needed));
    }
    std::string text(size_t(needed) + 1, '\0');
    va_copy(copy, arguments);
    vsnprintf(&text[0], text.size(), format, copy);
    va_end(copy);
    text.resize(size_t(needed));
    return text;
}

std::string FormatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatTextV(format, arguments);
    va_end(arguments);
    return text;
}

std::string FormatResourceString(UINT id, ...) {
    const std::string format = LoadResourceString(id);
    va_list arguments;
    va_start(arguments, id);
    std::string text = FormatTextV(format.c_str(), arguments);
    va_end(arguments);
    return text;
}
