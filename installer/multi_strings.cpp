#include "multi_strings.h"

#include "ascii_case.h"

#include <cstring>

namespace {

// The string starting at `offset`, without its terminator, cut at the end of
// the data when the terminator is missing.
std::string_view StringAt(const char* data, size_t size, size_t offset) {
    const void* end = std::memchr(data + offset, '\0', size - offset);
    const size_t length =
        end ? size_t(static_cast<const char*>(end) - (data + offset)) : size - offset;
    return std::string_view(data + offset, length);
}

// Bytes the string takes in the list: its characters and, unless the data
// ends first, its terminator.
size_t StoredLength(std::string_view text, size_t size, size_t offset) {
    return offset + text.size() < size ? text.size() + 1 : text.size();
}

} // namespace

size_t RemoveFromMultiString(std::string& data, std::string_view name) {
    size_t removed = 0;
    size_t offset = 0;
    while (offset < data.size()) {
        const std::string_view text = StringAt(data.data(), data.size(), offset);
        if (text.empty()) {
            break;
        }
        const size_t stored = StoredLength(text, data.size(), offset);
        if (!name.empty() && EqualsIgnoringAsciiCase(text, name)) {
            // The next string moves into this place and is looked at next.
            data.erase(offset, stored);
            ++removed;
        } else {
            offset += stored;
        }
    }
    return removed;
}

bool MultiStringContains(const char* data, size_t size, std::string_view value) {
    if (!data) {
        return false;
    }
    size_t offset = 0;
    while (offset < size) {
        const std::string_view text = StringAt(data, size, offset);
        if (text.empty()) {
            return false;
        }
        if (text == value) {
            return true;
        }
        offset += StoredLength(text, size, offset);
    }
    return false;
}

std::vector<std::string> SplitMultiString(const char* data, size_t size) {
    std::vector<std::string> strings;
    for (size_t offset = 0; data && offset < size;) {
        const std::string_view text = StringAt(data, size, offset);
        if (text.empty()) {
            break;
        }
        strings.emplace_back(text);
        offset += StoredLength(text, size, offset);
    }
    return strings;
}
