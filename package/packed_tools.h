// The package reader: finds the package appended to the setup program, checks
// both digests and keeps every entry unpacked in memory, keyed by name.
#pragma once

#include "package_format.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CPackedTools {
public:
    enum Status {
        kReady = 0,
        kFileUnreadable = -1,
        kDamaged = -2,
        kOutOfMemory = -3,
        kIndexOutOfRange = -5,
        kNameBufferTooSmall = -6,
    };

    static constexpr uint32_t kInflateBufferSize = 0x200000;

    CPackedTools();
    virtual ~CPackedTools();
    CPackedTools(const CPackedTools&) = delete;
    CPackedTools& operator=(const CPackedTools&) = delete;

#ifdef _WIN32
    // 1 when the package of the running program file is loaded, else 0.
    int LoadFromModule();
    // `hFile` is an open file HANDLE. 1 loaded, else 0.
    int LoadFromFile(void* hFile);
#endif
    // Loads the package found in a whole file image held in memory. 1 loaded,
    // else 0 with the status telling why; a failed load leaves no entries.
    int LoadFromImage(const uint8_t* image, size_t length);

    // Position of the package header in the image; false when there is none.
    static bool LocatePackage(const uint8_t* image, size_t length, size_t* position);
    // Appends the unpacked bytes to `out`; leaves it empty on failure.
    void InflateEntry(std::string& out, const uint8_t* packed, uint32_t packedSize);

    // 1 found, 0 not found; never changes the status.
    int FindEntry(const char* name, const uint8_t** data, uint32_t* size) const;
    uint32_t GetEntryCount() const {
        return uint32_t(m_mapEntries.size());
    }
    // Walks the names in byte-wise ascending order. 1 with the name copied
    // (terminated), else 0 with status -5 or -6.
    int GetEntryAt(uint32_t index, char* name, uint32_t nameSize, const uint8_t** data,
                   uint32_t* size);
    void ClearEntries();

    int GetStatus() const {
        return m_nStatus;
    }

private:
    struct Entry {
        corvane::package::HeapBlock data;
        uint32_t size = 0;
    };

    int m_nStatus;
    std::unique_ptr<uint8_t[]> m_pInflateBuffer;
    uint32_t m_nInflateBufferSize;
    // std::string compares with char_traits<char>::compare, which is memcmp:
    // byte-wise, unsigned, whatever the locale.
    std::map<std::string, Entry> m_mapEntries;
    // Blocks of entries that a later one of the same name replaced. A caller
    // may still hold their data pointers, so they live until ClearEntries.
    std::vector<corvane::package::HeapBlock> m_vecReplacedBlocks;
};
