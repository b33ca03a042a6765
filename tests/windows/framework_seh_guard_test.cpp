// The structured-exception guard with faults injected for real: each comes
// back as a record instead of ending the process, also nested, while
// exceptions that inner code handles pass it by. C++ exceptions through the
// guard (every failed install step throws through it) are covered end to end.
#include "seh_guard.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <ostream>
#include <string>

namespace {

// The newest record of this thread's exception-registration chain. A guard
// that leaves its record behind makes the next fault jump into a dead frame.
void* ChainHead() {
    void* head;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(void* head) {
    __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

bool InThisProgram(const void* address) {
    const auto base = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto* at = static_cast<const BYTE*>(address);
    return at >= base && at < base + headers->OptionalHeader.SizeOfImage;
}

// Under a user-mode emulator of 32-bit x86 (machines whose kernel runs no
// 32-bit code) a fault still reaches the guard, but the emulator does not hand
// Wine the processor's trap number: a null write arrives as an illegal
// instruction, a division by zero as a floating-point fault.
bool ProcessorTrapsEmulated() {
    const char* mode = std::getenv("CORVANE_X86_32_MODE");
    return mode != nullptr && std::string(mode) == "emulated";
}

// The code a processor trap must come back with; any fault will do where
// the trap number is not known.
bool IsTrapCode(DWORD actual, DWORD expected) {
    return ProcessorTrapsEmulated() ? actual != 0 && actual != 0x12345678 : actual == expected;
}

// Reads through a pointer the optimiser cannot see through.
template <typename T> T Opaque(T value) {
    volatile T copy = value;
    return copy;
}

__attribute__((noinline)) void WriteThroughNull() {
    *Opaque(static_cast<volatile int*>(nullptr)) = 1;
}

__attribute__((noinline)) void DivideByZero() {
    volatile int result = 10 / Opaque(0);
    (void)result;
}

__attribute__((noinline)) void RaiseCustomException() {
    const ULONG_PTR parameters[2] = {0x1111, 0x2222};
    RaiseException(0xE0C0FFEE, 0, 2, parameters);
}

// A frame-based handler between the fault and the guard, as a system frame
// would be: it declines the fault, and the guard must unwind it (so it can
// release what it holds) before returning.
std::atomic<int> g_innerSearchCalls{0}, g_innerUnwindCalls{0};

EXCEPTION_DISPOSITION __cdecl InnerHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
    if (record->ExceptionFlags & 0x2) { // EXCEPTION_UNWINDING
        ++g_innerUnwindCalls;
    } else {
        ++g_innerSearchCalls;
    }
    return ExceptionContinueSearch;
}

__attribute__((noinline)) void FaultUnderInnerFrame() {
    struct {
        void* next;
        void* handler;
    } registration = {ChainHead(), reinterpret_cast<void*>(&InnerHandler)};
    SetChainHead(&registration);
    WriteThroughNull();
    SetChainHead(registration.next); // not reached: the guard removes the record
}

struct Case {
    const char* name;
    void (*body)();
    DWORD code;                       // 0: no fault reaches the guard
    bool addressInThisProgram = true; // false: raised inside a system DLL
    ULONG_PTR parameters[2] = {};     // the record's first two, when it has them
    bool processorTrap = false;       // the code comes from the processor's trap number
};

void PrintTo(const Case& value, std::ostream* out) {
    *out << value.name;
}

const Case kCases[] = {
    {"NullPointerWrite", WriteThroughNull, EXCEPTION_ACCESS_VIOLATION, true, {1, 0}, true},
    {"IntegerDivideByZero", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO, true, {}, true},
    {"IllegalInstruction", [] { __asm__ volatile("ud2"); }, EXCEPTION_ILLEGAL_INSTRUCTION},
    {"Breakpoint", [] { __asm__ volatile("int3"); }, EXCEPTION_BREAKPOINT},
    {"RaisedException", RaiseCustomException, 0xE0C0FFEE, false, {0x1111, 0x2222}},
    {"NoFault", [] {}, 0},
    // The system's own handlers inside the body come first, as with __except.
    {"HandledInsideTheBody",
     [] {
         EXPECT_TRUE(IsBadReadPtr(Opaque(static_cast<const void*>(nullptr)), 4));
         OutputDebugStringA("debug output is raised as an exception");
     },
     0},
    {"NestedGuards",
     [] {
         EXCEPTION_RECORD inner = {};
         EXPECT_FALSE(RunGuarded(WriteThroughNull, &inner));
         EXPECT_TRUE(IsTrapCode(inner.ExceptionCode, EXCEPTION_ACCESS_VIOLATION));
         DivideByZero();
     },
     EXCEPTION_INT_DIVIDE_BY_ZERO,
     true,
     {},
     true},
    {"FrameBetweenFaultAndGuard",
     FaultUnderInnerFrame,
     EXCEPTION_ACCESS_VIOLATION,
     true,
     {1, 0},
     true},
};

class SehGuard : public testing::TestWithParam<Case> {};

TEST_P(SehGuard, FaultComesBackAsARecord) {
    const Case& test = GetParam();
    g_innerSearchCalls = g_innerUnwindCalls = 0;
    void* const headBefore = ChainHead();
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0x12345678; // stays without a fault
    int runs = 0;
    bool ended = false;
    EXPECT_EQ(RunGuarded(
                  [&] {
                      ++runs;
                      test.body();
                      ended = true;
                  },
                  &record),
              test.code == 0);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ended, test.code == 0) << "the body went on after the fault";
    if (test.processorTrap) {
        EXPECT_TRUE(IsTrapCode(record.ExceptionCode, test.code))
            << std::hex << record.ExceptionCode;
    } else {
        EXPECT_EQ(record.ExceptionCode, test.code == 0 ? 0x12345678u : test.code);
    }
    EXPECT_EQ(ChainHead(), headBefore);
    if (test.code != 0) {
        EXPECT_EQ(InThisProgram(record.ExceptionAddress), test.addressInThisProgram);
        EXPECT_EQ(record.ExceptionRecord, nullptr);
    }
    if ((test.parameters[0] != 0 || test.parameters[1] != 0) &&
        !(test.processorTrap && ProcessorTrapsEmulated())) {
        ASSERT_EQ(record.NumberParameters, 2u);
        EXPECT_EQ(record.ExceptionInformation[0], test.parameters[0]);
        EXPECT_EQ(record.ExceptionInformation[1], test.parameters[1]);
    }
    // The inner frame is asked first, and unwound before the guard returns.
    const int innerFrames = test.body == FaultUnderInnerFrame ? 1 : 0;
    EXPECT_EQ(g_innerSearchCalls, innerFrames);
    EXPECT_EQ(g_innerUnwindCalls, innerFrames);
    EXPECT_FALSE(RunGuarded(WriteThroughNull, nullptr)) << "the record is optional";
    if (test.processorTrap && ProcessorTrapsEmulated() && !HasFailure()) {
        GTEST_SKIP() << "the fault came back as a record, but its exact code is only known where "
                        "the kernel runs 32-bit x86 code natively (emulated here)";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SehGuard, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
