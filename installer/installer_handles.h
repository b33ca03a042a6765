// Owners for the few kinds of system handle the installer opens. Private to the
// installer until the shared handle kit replaces them. Closing never disturbs
// GetLastError(), because an error code is often read after a handle of the
// failed operation was already released.
#pragma once

#include <windows.h>

#include <utility>

namespace corvane::installer {

template <typename Traits> class UniqueOsHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueOsHandle() = default;
    explicit UniqueOsHandle(Handle handle) : m_handle(handle) {}
    ~UniqueOsHandle() { reset(); }
    UniqueOsHandle(UniqueOsHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueOsHandle& operator=(UniqueOsHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueOsHandle(const UniqueOsHandle&) = delete;
    UniqueOsHandle& operator=(const UniqueOsHandle&) = delete;

    Handle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Traits::Invalid(); }
    Handle release() { return std::exchange(m_handle, Traits::Invalid()); }
    void reset(Handle handle = Traits::Invalid()) {
        const Handle old = std::exchange(m_handle, handle);
        if (old != Traits::Invalid()) {
            const DWORD error = GetLastError();
            Traits::Close(old);
            SetLastError(error);
        }
    }
    // For APIs that return the handle through an out-parameter.
    Handle* put() {
        reset();
        return &m_handle;
    }

private:
    Handle m_handle = Traits::Invalid();
};

struct FileTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
struct FindTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { FindClose(handle); }
};
struct KeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { RegCloseKey(handle); }
};
struct ServiceTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { CloseServiceHandle(handle); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { FreeLibrary(handle); }
};
struct TokenTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
struct SidTraits {
    using Handle = PSID;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { FreeSid(handle); }
};

using UniqueFile = UniqueOsHandle<FileTraits>;
using UniqueFind = UniqueOsHandle<FindTraits>;
using UniqueHkey = UniqueOsHandle<KeyTraits>;
using UniqueScHandle = UniqueOsHandle<ServiceTraits>;
using UniqueHmodule = UniqueOsHandle<ModuleTraits>;
using UniqueToken = UniqueOsHandle<TokenTraits>;
using UniqueSid = UniqueOsHandle<SidTraits>;

} // namespace corvane::installer
