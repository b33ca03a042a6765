// Letter case folding of the ASCII letters only. Option names, file names and
// registry strings are compared this way so that the result never depends on
// the user's locale or code page.
#pragma once

#include <cstddef>
#include <string_view>

inline char FoldAsciiCase(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (FoldAsciiCase(left[i]) != FoldAsciiCase(right[i])) {
            return false;
        }
    }
    return true;
}
