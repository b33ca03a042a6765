// A structured-exception guard for GCC, which has no __try/__except: runs a
// body and turns a fault inside it (access violation, integer divide by zero,
// illegal instruction, stack overflow, an exception raised with
// RaiseException, ...) into a returned outcome instead of a dead process.
//
//     EXCEPTION_RECORD record;
//     if (!RunGuarded([&] { RunInstall(); }, &record))
//         report(record.ExceptionCode, record.ExceptionAddress);
//
// It behaves like __except(EXCEPTION_EXECUTE_HANDLER) around the body: an
// exception that code inside the body handles itself (the system's own
// __try blocks, an inner guard) never reaches it, and system frames between
// the fault and the guard are unwound before the guard returns.
//
// The trap: a fault is not a C++ exception. Between the fault and the guard no
// C++ destructor runs and no catch block is entered; objects of the body's
// frames are simply abandoned (memory and handles leak, a held lock stays
// held). Keep a guarded body's state owned outside it, and treat a caught
// fault as the end of that piece of work. After a stack overflow the stack's
// guard page is gone, so a second overflow on that thread kills the process.
//
// C++ exceptions are not faults: one thrown inside the body passes through
// RunGuarded to the caller's own catch, with the guard removed on the way.
#pragma once

#include <windows.h>

#include <functional>

// Runs `body` on the calling thread. Returns true when it finished (normally);
// false when a fault was caught, after copying the exception's record (code,
// flags, address, parameters; the chained-record pointer is cleared, as it
// pointed into the abandoned frames) into `record` when it is not null.
// Guards nest, and every thread may have its own.
bool RunGuarded(const std::function<void()>& body, EXCEPTION_RECORD* record);
