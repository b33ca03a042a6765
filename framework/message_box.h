// Message boxes of the setup program: every one carries the product's display
// name as its caption.
#pragma once

#include <windows.h>

#include <string>

// Shows `text` with MessageBoxA; `type` is the MB_ buttons and icon. Returns
// the button pressed (IDOK, IDYES, ...), or 0 when no box could be shown.
int ShowMessage(const std::string& text, UINT type, HWND owner = nullptr);
