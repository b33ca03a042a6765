#include "welcome_text.h"

namespace corvane::wizard {

std::string InsertDisplayName(const std::string& message, const std::string& displayName) {
    std::string text;
    text.reserve(message.size() + displayName.size());
    for (size_t index = 0; index < message.size(); ++index) {
        const char next = index + 1 < message.size() ? message[index + 1] : '\0';
        if (message[index] == '%' && next == 's') {
            text += displayName;
            ++index;
        } else if (message[index] == '%' && next == '%') {
            text += '%';
            ++index;
        } else {
            text += message[index];
        }
    }
    return text;
}

int32_t LicenseChunkSize(uint32_t size, uint32_t position, int32_t requested) {
    if (position >= size || requested <= 0) {
        return 0;
    }
    const uint32_t left = size - position;
    return left < uint32_t(requested) ? int32_t(left) : requested;
}

} // namespace corvane::wizard
