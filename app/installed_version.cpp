#include "installed_version.h"

#include <climits>
#include <cstring>
#include <string>

namespace {

bool IsSpace(char letter) {
    // The C locale's white space, which is what the scanner skips.
    return letter == ' ' || (letter >= '\t' && letter <= '\r');
}

// One "%d": white space, an optional sign, at least one digit. Advances `text`
// past what it read; false (and `text` unchanged) when there is no number.
bool ReadNumber(const char*& text, int* number) {
    const char* position = text;
    while (IsSpace(*position)) {
        ++position;
    }
    bool negative = false;
    if (*position == '+' || *position == '-') {
        negative = *position == '-';
        ++position;
    }
    if (*position < '0' || *position > '9') {
        return false;
    }
    // Accumulated as a negative number, whose range reaches INT_MIN.
    long long value = 0;
    bool overflow = false;
    for (; *position >= '0' && *position <= '9'; ++position) {
        if (!overflow) {
            value = value * 10 - (*position - '0');
            overflow = value < -(long long)INT_MAX - 1;
        }
    }
    if (overflow) {
        *number = negative ? INT_MIN : INT_MAX;
    } else if (negative) {
        *number = int(value);
    } else {
        *number = value < -(long long)INT_MAX ? INT_MAX : int(-value);
    }
    text = position;
    return true;
}

} // namespace

int ParseVersionNumbers(const char* text, int numbers[4]) {
    if (!text) {
        return 0;
    }
    int count = 0;
    while (count < 4) {
        if (count > 0) {
            if (*text != '.') {
                break;
            }
            ++text;
        }
        if (!ReadNumber(text, &numbers[count])) {
            break;
        }
        ++count;
    }
    return count;
}

bool IsNewerVersionInstalled(const void* data, size_t size, const char* ownVersion) {
    if (!data || size > kMaxDisplayVersionBytes) {
        return false;
    }
    // The stored bytes need not end with a zero; the text ends at the first.
    const std::string stored(static_cast<const char*>(data), size);
    const std::string installedText(stored.c_str());

    int installed[4] = {0, 0, 0, 0};
    int own[4] = {0, 0, 0, 0};
    if (ParseVersionNumbers(installedText.c_str(), installed) < 2 ||
        ParseVersionNumbers(ownVersion, own) < 2) {
        return false;
    }
    for (int index = 0; index < 3; ++index) {
        if (installed[index] != own[index]) {
            return installed[index] > own[index];
        }
    }
    return false;
}
