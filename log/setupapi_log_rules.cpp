#include "setupapi_log_rules.h"

namespace {

std::string WithoutTrailingBackslash(std::string folder) {
    if (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
    }
    return folder;
}

} // namespace

SetupApiLogChoice ChooseSetupApiLog(unsigned majorVersion, const std::string& windowsFolder,
                                    const std::string* logPathValue) {
    SetupApiLogChoice choice;
    const std::string windows = WithoutTrailingBackslash(windowsFolder);
    if (majorVersion < 6) {
        choice.path = windows + "\\setupapi.log";
        choice.level = kSetupApiLevelBeforeVista;
        return choice;
    }
    choice.level = kSetupApiLevelFromVista;
    if (logPathValue == nullptr) {
        choice.path = windows + "\\inf\\setupapi.dev.log";
    } else if (logPathValue->size() <= kMaxLogPathValueBytes) {
        // A registry string may or may not carry its terminator, and may carry
        // more than one: the text ends at the first zero byte.
        const std::string folder = logPathValue->substr(0, logPathValue->find('\0'));
        choice.path = folder + "\\setupapi.dev.log";
    }
    return choice;
}

uint64_t CapturedGrowth(uint64_t startSize, uint64_t currentSize) {
    if (currentSize <= startSize) {
        return 0;
    }
    const uint64_t growth = currentSize - startSize;
    return growth < kMaxCapturedGrowth ? growth : 0;
}
