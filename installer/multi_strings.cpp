#include "multi_strings.h"

#include "ascii_case.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

size_t RemoveRenameOperation(std::string& data, std::string_view source,
                             std::string_view destination) {
    // The strings of the list; the list's own final terminator (and the
    // terminator of its last string) give no string of their own.
    std::vector<std::string> strings;
    size_t start = 0;
    while (start < data.size()) {
        const size_t end = std::min(data.find('\0', start), data.size());
        strings.emplace_back(data, start, end - start);
        start = end + 1;
    }
    while (!strings.empty() && strings.back().empty() && strings.size() % 2 == 1) {
        strings.pop_back();
    }
    const std::string wantedSource = "\\??\\" + std::string(source);
    const std::string moved = "\\??\\" + std::string(destination);
    size_t removed = 0;
    std::string kept;
    for (size_t index = 0; index < strings.size(); index += 2) {
        const std::string& from = strings[index];
        const std::string to = index + 1 < strings.size() ? strings[index + 1] : std::string();
        const std::string_view plainTo =
            !to.empty() && to[0] == '!' ? std::string_view(to).substr(1) : std::string_view(to);
        if (EqualsIgnoringAsciiCase(from, wantedSource) &&
            EqualsIgnoringAsciiCase(plainTo, moved)) {
            ++removed;
            continue;
        }
        kept += from;
        kept.push_back('\0');
        if (index + 1 < strings.size()) {
            kept += to;
            kept.push_back('\0');
        }
    }
    if (removed != 0) {
        kept.push_back('\0');
        data = kept;
    }
    return removed;
}
