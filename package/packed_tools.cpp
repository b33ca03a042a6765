#include "packed_tools.h"

#include "package_format.h"

#include <cstdlib>
#include <cstring>
#include <new>

#ifdef _WIN32
// Declared here rather than through windows.h, which this file does without.
extern "C" __declspec(dllimport) unsigned long __stdcall GetTickCount(void);
#else
#include <ctime>
#endif

using namespace corvane::package;

CPackedTools::CPackedTools()
    : m_nStatus(kReady), m_pInflateBuffer(new (std::nothrow) uint8_t[kInflateBufferSize]),
      m_nInflateBufferSize(m_pInflateBuffer ? kInflateBufferSize : 0) {
    if (!m_pInflateBuffer) {
        m_nStatus = kOutOfMemory;
    }
    // Temporary file names drawn later in the run depend on this seed.
#ifdef _WIN32
    std::srand(unsigned(GetTickCount()));
#else
    std::srand(unsigned(std::time(nullptr)));
#endif
}

CPackedTools::~CPackedTools() {
    ClearEntries();
}

bool CPackedTools::LocatePackage(const uint8_t* image, size_t length, size_t* position) {
    const auto found = corvane::package::LocatePackage(image, length);
    if (!found) {
        return false;
    }
    *position = *found;
    return true;
}

void CPackedTools::InflateEntry(std::string& out, const uint8_t* packed, uint32_t packedSize) {
    if (m_nInflateBufferSize == 0) {
        return;
    }
    InflateStream(packed, packedSize, m_pInflateBuffer.get(), m_nInflateBufferSize, &out);
}

int CPackedTools::LoadFromImage(const uint8_t* image, size_t length) {
    m_nStatus = kReady;
    if (m_nInflateBufferSize == 0) {
        m_nStatus = kOutOfMemory;
        ClearEntries();
        return 0;
    }
    size_t position = 0;
    PackageHeader header;
    if (!LocatePackage(image, length, &position) || !ReadHeader(image, length, position, &header)) {
        m_nStatus = kDamaged;
    } else {
        const uint8_t* area = image + header.EntriesAreaOffset();
        // Nothing in the entries area is trusted, nor anything allocated for
        // it, before its digest has matched.
        if (corvane::Md5::Of(area, header.entriesAreaSize) != header.entriesDigest) {
            m_nStatus = kDamaged;
        }
        EntryWalker walker(area, header.entriesAreaSize, header.entryCount);
        EntryRecord record;
        while (m_nStatus == kReady) {
            const EntryWalker::Step step = walker.Next(&record);
            if (step == EntryWalker::Step::End) {
                break;
            }
            if (step == EntryWalker::Step::Damaged) {
                m_nStatus = kDamaged;
                break;
            }
            // The content goes straight into the block the table keeps, and
            // the digest reads it on its way out of the inflater; nothing is
            // stored before the digest has matched.
            Entry entry;
            size_t size = 0;
            corvane::Md5 digest;
            const InflateOutcome inflated =
                InflateToBlock(record.packedData, record.packedSize, m_pInflateBuffer.get(),
                               m_nInflateBufferSize, UINT32_MAX, &digest, &entry.data, &size);
            if (inflated != InflateOutcome::Done) {
                m_nStatus = inflated == InflateOutcome::OutOfMemory ? kOutOfMemory : kDamaged;
                break;
            }
            if (digest.Final() != record.contentDigest) {
                m_nStatus = kDamaged;
                break;
            }
            entry.size = uint32_t(size);
            try {
                // A later entry of the same name replaces the earlier one; the
                // earlier block stays allocated for pointers already handed out.
                Entry& slot = m_mapEntries[std::string(record.name)];
                if (slot.data) {
                    m_vecReplacedBlocks.push_back(std::move(slot.data));
                }
                slot = std::move(entry);
            } catch (const std::bad_alloc&) {
                m_nStatus = kOutOfMemory;
            }
        }
    }
    if (m_nStatus != kReady) {
        ClearEntries();
    }
    return m_nStatus == kReady ? 1 : 0;
}

int CPackedTools::FindEntry(const char* name, const uint8_t** data, uint32_t* size) const {
    const auto it = m_mapEntries.find(name);
    if (it == m_mapEntries.end()) {
        return 0;
    }
    *data = it->second.data.get();
    *size = it->second.size;
    return 1;
}

int CPackedTools::GetEntryAt(uint32_t index, char* name, uint32_t nameSize, const uint8_t** data,
                             uint32_t* size) {
    if (m_mapEntries.empty() || index >= m_mapEntries.size()) {
        m_nStatus = kIndexOutOfRange;
        return 0;
    }
    auto it = m_mapEntries.begin();
    std::advance(it, index);
    if (it->first.size() + 1 > nameSize) {
        m_nStatus = kNameBufferTooSmall;
        return 0;
    }
    std::memcpy(name, it->first.c_str(), it->first.size() + 1);
    *data = it->second.data.get();
    *size = it->second.size;
    m_nStatus = kReady;
    return 1;
}

void CPackedTools::ClearEntries() {
    m_mapEntries.clear();
    m_vecReplacedBlocks.clear();
}
