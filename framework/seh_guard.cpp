#include "seh_guard.h"

#if !defined(__i386__)
#error "The guard uses the 32-bit x86 exception-registration chain (fs:0)."
#endif

// Each thread's frame-based handlers form a chain of registration records on
// the stack; fs:0 points at the newest. The dispatcher calls the handlers
// newest first, so an inner handler wins over the guard, as with __except.
//
// When the guard's handler accepts a fault it first asks RtlUnwind to unwind
// every newer record (their handlers run with EXCEPTION_UNWINDING, so a system
// frame in between can release what it holds), then unlinks its own record
// and jumps back into the guard's frame, far above the dispatcher's frames:
// the same way __except leaves a filter.

namespace {

struct Registration {
    Registration* next;
    void* handler;
};

struct GuardFrame {
    Registration registration; // first: the handler receives its address
    void* jumpBuffer[5];       // __builtin_setjmp's buffer
    EXCEPTION_RECORD record;
};

Registration* ChainHead() {
    Registration* head;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(Registration* head) {
    __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// Notifications raised as exceptions (debug output, thread names, Ctrl+C) are
// informational; they and C++ exceptions of either compiler belong to their
// own handlers. Everything of warning or error severity is a fault.
bool IsFault(DWORD code) {
    const DWORD kGccCxxException = 0x20474343;
    const DWORD kMsvcCxxException = 0xE06D7363;
    if (code == kGccCxxException || code == kMsvcCxxException) {
        return false;
    }
    return code >= 0x80000000;
}

} // namespace

// RtlUnwind on x86 resumes its caller through a captured context that does
// not keep EBX, ESI and EDI, so it is called from this stub, which saves them
// itself and hands RtlUnwind its own return point as the target.
extern "C" void __cdecl CorvaneUnwindTo(void* targetFrame, EXCEPTION_RECORD* record);
__asm__(".text\n"
        ".p2align 4\n"
        ".globl _CorvaneUnwindTo\n"
        "_CorvaneUnwindTo:\n"
        "    pushl %ebp\n"
        "    movl %esp, %ebp\n"
        "    pushl %ebx\n"
        "    pushl %esi\n"
        "    pushl %edi\n"
        "    pushl %ebp\n"
        "    pushl $0\n"
        "    pushl 12(%ebp)\n"
        "    pushl $1f\n"
        "    pushl 8(%ebp)\n"
        "    call *__imp__RtlUnwind@16\n"
        "1:\n"
        "    popl %ebp\n"
        "    popl %edi\n"
        "    popl %esi\n"
        "    popl %ebx\n"
        "    movl %ebp, %esp\n"
        "    popl %ebp\n"
        "    ret\n");

extern "C" EXCEPTION_DISPOSITION __cdecl CorvaneGuardHandler(EXCEPTION_RECORD* record,
                                                             void* establisherFrame, CONTEXT*,
                                                             void*) {
    const DWORD kUnwinding = 0x2 | 0x4; // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
    if ((record->ExceptionFlags & kUnwinding) != 0 || !IsFault(record->ExceptionCode)) {
        return ExceptionContinueSearch;
    }
    GuardFrame* frame = static_cast<GuardFrame*>(establisherFrame);
    frame->record = *record;
    frame->record.ExceptionRecord = nullptr;
    CorvaneUnwindTo(&frame->registration, record);
    SetChainHead(frame->registration.next);
    __builtin_longjmp(frame->jumpBuffer, 1);
}

namespace {

// Separate from RunGuarded and never inlined: __builtin_longjmp returns into
// this function's frame, which must still be live when the fault comes.
__attribute__((noinline)) bool CallGuarded(GuardFrame* frame, const std::function<void()>& body) {
    if (__builtin_setjmp(frame->jumpBuffer) != 0) {
        return false;
    }
    frame->registration.next = ChainHead();
    frame->registration.handler = reinterpret_cast<void*>(&CorvaneGuardHandler);
    SetChainHead(&frame->registration);
    body();
    SetChainHead(frame->registration.next);
    return true;
}

// Puts the chain back when a C++ exception leaves the body, so that no record
// is left pointing into the frames the exception unwinds.
class ChainRestorer {
public:
    ChainRestorer() : m_head(ChainHead()) {}
    ~ChainRestorer() { SetChainHead(m_head); }
    ChainRestorer(const ChainRestorer&) = delete;
    ChainRestorer& operator=(const ChainRestorer&) = delete;

private:
    Registration* m_head;
};

} // namespace

bool RunGuarded(const std::function<void()>& body, EXCEPTION_RECORD* record) {
    // The registration lives in this frame: the dispatcher accepts only
    // records inside the thread's stack.
    GuardFrame frame = {};
    const ChainRestorer restorer;
    if (CallGuarded(&frame, body)) {
        return true;
    }
    if (record != nullptr) {
        *record = frame.record;
    }
    return false;
}
