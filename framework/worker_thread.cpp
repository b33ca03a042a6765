#include "worker_thread.h"

#include <memory>

namespace {

DWORD WINAPI WorkerEntry(void* parameter) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    try {
        (*body)();
        return 0;
    } catch (...) {
        return CWorkerThread::kExitCodeUncaughtException;
    }
}

} // namespace

bool CWorkerThread::Create(std::function<void()> body) {
    if (m_handle) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    // Handed to the thread, which deletes it when done: the thread must not
    // depend on this object, which its owner may destroy (or whose thread it
    // may terminate) at any time.
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, WorkerEntry, owned.get(), CREATE_SUSPENDED, &threadId);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        owned.reset();
        SetLastError(error);
        return false;
    }
    owned.release();
    m_handle.reset(thread);
    m_threadId = threadId;
    return true;
}

DWORD CWorkerThread::Resume() {
    if (!m_handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return DWORD(-1);
    }
    return ResumeThread(m_handle.get());
}
