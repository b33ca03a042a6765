#include "message_box.h"

#include "product_profile.h"

int ShowMessage(const std::string& text, UINT type, HWND owner) {
    return MessageBoxA(owner, text.c_str(), CurrentProfile().displayName, type);
}
