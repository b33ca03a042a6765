// Owners for system handles: one template, a traits struct per handle kind,
// and a named alias for each. The owner closes its handle when it goes out of
// scope, so a handle is closed where it was opened and no error path forgets
// it.
//
// Closing never changes GetLastError(): an error is often reported after the
// handle of the failed operation has already been released, and CloseHandle
// and friends would overwrite the code with their own (usually 0).
//
//     UniqueFile file(CreateFileA(path, ...));
//     if (!file) throw CSetupError{module, location, GetLastError()};
//     WriteFile(file.get(), ...);
//
//     UniqueHkey key;
//     RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.put());
#pragma once

#include <windows.h>

#include <objbase.h>
#include <setupapi.h>
#include <winsvc.h>

#include <utility>

template <typename Traits> class UniqueResource {
public:
    using pointer = typename Traits::pointer;

    UniqueResource() noexcept = default;
    explicit UniqueResource(pointer value) noexcept : m_value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    pointer get() const noexcept { return m_value; }
    bool valid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes the current handle and returns the address of the (now invalid)
    // stored one, for APIs that hand a new handle back through a pointer.
    pointer* put() noexcept {
        reset();
        return &m_value;
    }

    // Gives the handle up without closing it.
    pointer release() noexcept { return std::exchange(m_value, Traits::Invalid()); }

    // Closes the current handle, if any, and takes `value` instead.
    void reset(pointer value = Traits::Invalid()) noexcept {
        const pointer old = std::exchange(m_value, value);
        if (old != Traits::Invalid()) {
            const DWORD error = GetLastError();
            Traits::Close(old);
            SetLastError(error);
        }
    }

private:
    pointer m_value = Traits::Invalid();
};

// Kernel objects whose failure value is NULL: processes, threads, events,
// mutexes, file mappings, tokens, pipes from CreatePipe.
struct HandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { CloseHandle(value); }
};

// Kernel objects whose failure value is INVALID_HANDLE_VALUE: CreateFile,
// CreateNamedPipe, CreateToolhelp32Snapshot.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) noexcept { CloseHandle(value); }
};

struct FindHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) noexcept { FindClose(value); }
};

struct HkeyTraits {
    using pointer = HKEY;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { RegCloseKey(value); }
};

struct ScHandleTraits {
    using pointer = SC_HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { CloseServiceHandle(value); }
};

struct HmoduleTraits {
    using pointer = HMODULE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { FreeLibrary(value); }
};

struct DevInfoTraits {
    using pointer = HDEVINFO;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) noexcept { SetupDiDestroyDeviceInfoList(value); }
};

struct InfTraits {
    using pointer = HINF;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer value) noexcept { SetupCloseInfFile(value); }
};

// SIDs from AllocateAndInitializeSid (link advapi32).
struct SidTraits {
    using pointer = PSID;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { FreeSid(value); }
};

template <typename Gdi> struct GdiObjectTraits {
    using pointer = Gdi;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { DeleteObject(value); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueHkey = UniqueResource<HkeyTraits>;
using UniqueScHandle = UniqueResource<ScHandleTraits>;
using UniqueHmodule = UniqueResource<HmoduleTraits>;
using UniqueDevInfo = UniqueResource<DevInfoTraits>; // link setupapi
using UniqueInf = UniqueResource<InfTraits>;         // link setupapi
using UniqueSid = UniqueResource<SidTraits>;         // link advapi32
using UniqueGdiObject = UniqueResource<GdiObjectTraits<HGDIOBJ>>;
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;

// Memory device contexts from CreateCompatibleDC. Select the original bitmap,
// font and so on back before the context goes, or the objects leak with it.
struct MemoryDcTraits {
    using pointer = HDC;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer value) noexcept { DeleteDC(value); }
};
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;

// A window's device context from GetDC, released to the same window.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc() {
        if (m_dc != nullptr) {
            const DWORD error = GetLastError();
            ReleaseDC(m_window, m_dc);
            SetLastError(error);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

// The device context of one WM_PAINT: BeginPaint here, EndPaint on the way
// out, which also validates the window whatever path the painting took.
class PaintDc {
public:
    explicit PaintDc(HWND window) noexcept : m_window(window) { BeginPaint(window, &m_paint); }
    ~PaintDc() { EndPaint(m_window, &m_paint); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;

    HDC get() const noexcept { return m_paint.hdc; }
    explicit operator bool() const noexcept { return m_paint.hdc != nullptr; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint = {};
};

// Selects a GDI object into a device context and the one it replaced back on
// the way out, so the context never keeps an object that is about to be
// deleted. A null object selects nothing.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept
        : m_dc(dc), m_previous(object != nullptr ? SelectObject(dc, object) : nullptr) {}
    ~SelectedObject() {
        if (m_previous != nullptr && m_previous != HGDI_ERROR) {
            SelectObject(m_dc, m_previous);
        }
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

    // False when the object could not be selected (a bitmap already selected
    // elsewhere, or one that does not suit the context).
    bool selected() const noexcept { return m_previous != nullptr && m_previous != HGDI_ERROR; }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// An owned reference to a COM interface: Release on destruction, AddRef on
// copy. The pointer is never AddRef'ed on the way in: construct it from (or
// put() it into) a reference that is already yours.
//
//     ComPtr<IShellLinkA> link;
//     HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
//                                   IID_IShellLinkA, link.put_void());
//     ComPtr<IPersistFile> file;
//     hr = link.QueryInterface(IID_IPersistFile, &file);
template <typename Interface> class ComPtr {
public:
    ComPtr() noexcept = default;
    explicit ComPtr(Interface* owned) noexcept : m_pointer(owned) {}
    ~ComPtr() { reset(); }

    ComPtr(const ComPtr& other) noexcept : m_pointer(other.m_pointer) {
        if (m_pointer != nullptr) {
            m_pointer->AddRef();
        }
    }
    ComPtr& operator=(const ComPtr& other) noexcept {
        if (other.m_pointer != nullptr) {
            other.m_pointer->AddRef();
        }
        reset(other.m_pointer);
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : m_pointer(other.release()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Interface* get() const noexcept { return m_pointer; }
    Interface* operator->() const noexcept { return m_pointer; }
    explicit operator bool() const noexcept { return m_pointer != nullptr; }

    // Releases the current reference and returns the address of the (now
    // null) pointer, for the out-parameters of COM calls.
    Interface** put() noexcept {
        reset();
        return &m_pointer;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Gives the reference up without releasing it.
    Interface* release() noexcept { return std::exchange(m_pointer, nullptr); }

    // Releases the current reference and takes `owned` (not AddRef'ed).
    void reset(Interface* owned = nullptr) noexcept {
        Interface* old = std::exchange(m_pointer, owned);
        if (old != nullptr) {
            old->Release();
        }
    }

    // Asks the object for another of its interfaces.
    template <typename Other> HRESULT QueryInterface(REFIID iid, ComPtr<Other>* result) const {
        if (m_pointer == nullptr) {
            return E_POINTER;
        }
        return m_pointer->QueryInterface(iid, result->put_void());
    }

private:
    Interface* m_pointer = nullptr;
};

// Enters the thread's single-threaded COM apartment for the lifetime of the
// object and leaves it again only when entering succeeded (S_OK or S_FALSE);
// a thread already in a multi-threaded apartment gets RPC_E_CHANGED_MODE and
// must not call CoUninitialize for it. Destroy every ComPtr before the scope.
class ComInitScope {
public:
    ComInitScope() noexcept : m_result(CoInitialize(nullptr)) {}
    ~ComInitScope() {
        if (SUCCEEDED(m_result)) {
            CoUninitialize();
        }
    }
    ComInitScope(const ComInitScope&) = delete;
    ComInitScope& operator=(const ComInitScope&) = delete;

    HRESULT result() const noexcept { return m_result; }
    bool succeeded() const noexcept { return SUCCEEDED(m_result); }

private:
    HRESULT m_result;
};
