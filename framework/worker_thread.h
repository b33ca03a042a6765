// A worker thread that runs one function. It is created suspended, so the
// owner can store the object before the thread touches anything, and it is
// never deleted behind the owner's back.
//
//     CWorkerThread worker;
//     if (!worker.Create([this] { RunInstall(); })) report(GetLastError());
//     worker.Resume();
//     ...
//     if (WaitForSingleObject(worker.Handle(), 10000) != WAIT_OBJECT_0)
//         TerminateThread(worker.Handle(), 0xFFFFFFFF);
#pragma once

#include "handles.h"

#include <windows.h>

#include <functional>

class CWorkerThread {
public:
    // Exit code of a thread whose body let a C++ exception escape: the thread
    // entry catches it, as no exception may cross it.
    static constexpr DWORD kExitCodeUncaughtException = 0xE0000001;

    CWorkerThread() = default;
    // Closes the handle. It neither waits for nor stops the thread: the
    // thread owns its function, so it may outlive this object safely.
    virtual ~CWorkerThread() = default;
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Creates the thread suspended, with normal priority and the default
    // stack size. Returns false, with GetLastError() telling why, when the
    // thread cannot be created or this object already has one.
    bool Create(std::function<void()> body);

    // Lets a suspended thread run. Returns ResumeThread's result: the previous
    // suspend count, or (DWORD)-1 on failure.
    DWORD Resume();

    // The thread's handle (null before Create); valid until this object dies.
    HANDLE Handle() const { return m_handle.get(); }
    DWORD ThreadId() const { return m_threadId; }

private:
    UniqueHandle m_handle;
    DWORD m_threadId = 0;
};
