// The Windows edge of the package reader: reading the program file itself.
#include "packed_tools.h"

#include <windows.h>

#include <memory>
#include <new>

int CPackedTools::LoadFromModule() {
    m_nStatus = kFileUnreadable;
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        // A failed load leaves no entries, whichever step failed.
        ClearEntries();
        return 0;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ClearEntries();
        return 0;
    }
    const int loaded = LoadFromFile(file);
    CloseHandle(file);
    return loaded;
}

int CPackedTools::LoadFromFile(void* hFile) {
    m_nStatus = kReady;
    HANDLE file = static_cast<HANDLE>(hFile);
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    // A setup program larger than 4 GiB cannot be read whole in one go.
    // A failed load leaves no entries, whichever step failed.
    const auto fail = [this](Status status) {
        m_nStatus = status;
        ClearEntries();
        return 0;
    };
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0) {
        return fail(kFileUnreadable);
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!image) {
        return fail(kOutOfMemory);
    }
    DWORD read = 0;
    if (!ReadFile(file, image.get(), size, &read, nullptr) || read < size) {
        return fail(kFileUnreadable);
    }
    return LoadFromImage(image.get(), size);
}
