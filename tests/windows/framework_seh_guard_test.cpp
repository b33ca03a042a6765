// The structured-exception guard with faults injected for real: each must come
// back as a record with the right code and address instead of ending the
// process, on any thread and nested, while C++ exceptions and exceptions that
// inner code handles itself pass the guard untouched.
#include "seh_guard.h"
#include "worker_thread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <stdexcept>
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

__attribute__((noinline)) void IllegalInstruction() {
    __asm__ volatile("ud2");
}

__attribute__((noinline)) void Breakpoint() {
    __asm__ volatile("int3");
}

__attribute__((noinline)) void RaiseCustomException() {
    const ULONG_PTR parameters[2] = {0x1111, 0x2222};
    RaiseException(0xE0C0FFEE, 0, 2, parameters);
}

struct FaultCase {
    const char* name;
    void (*fault)();
    DWORD code;
    bool addressInThisProgram; // false: raised inside a system DLL
};

void PrintTo(const FaultCase& value, std::ostream* out) {
    *out << value.name;
}

const FaultCase kFaultCases[] = {
    {"NullPointerWrite", WriteThroughNull, EXCEPTION_ACCESS_VIOLATION, true},
    {"IntegerDivideByZero", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO, true},
    {"IllegalInstruction", IllegalInstruction, EXCEPTION_ILLEGAL_INSTRUCTION, true},
    {"Breakpoint", Breakpoint, EXCEPTION_BREAKPOINT, true},
    {"RaisedException", RaiseCustomException, 0xE0C0FFEE, false},
};

class GuardedFault : public testing::TestWithParam<FaultCase> {};

TEST_P(GuardedFault, ComesBackAsARecord) {
    void* const headBefore = ChainHead();
    EXCEPTION_RECORD record = {};
    bool bodyFinished = false;
    EXPECT_FALSE(RunGuarded(
        [&] {
            GetParam().fault();
            bodyFinished = true;
        },
        &record));
    EXPECT_FALSE(bodyFinished);
    EXPECT_EQ(record.ExceptionCode, GetParam().code);
    EXPECT_EQ(InThisProgram(record.ExceptionAddress), GetParam().addressInThisProgram)
        << record.ExceptionAddress;
    EXPECT_EQ(record.ExceptionRecord, nullptr);
    EXPECT_EQ(ChainHead(), headBefore);
}

INSTANTIATE_TEST_SUITE_P(Faults, GuardedFault, testing::ValuesIn(kFaultCases),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SehGuard, RecordCarriesTheFaultsParameters) {
    EXCEPTION_RECORD record = {};
    ASSERT_FALSE(RunGuarded(WriteThroughNull, &record));
    ASSERT_EQ(record.NumberParameters, 2u);
    EXPECT_EQ(record.ExceptionInformation[0], 1u) << "a write";
    EXPECT_EQ(record.ExceptionInformation[1], 0u) << "at address 0";

    ASSERT_FALSE(RunGuarded(RaiseCustomException, &record));
    ASSERT_EQ(record.NumberParameters, 2u);
    EXPECT_EQ(record.ExceptionInformation[0], 0x1111u);
    EXPECT_EQ(record.ExceptionInformation[1], 0x2222u);

    EXPECT_FALSE(RunGuarded(WriteThroughNull, nullptr)) << "the record is optional";
}

TEST(SehGuard, BodyWithoutFaultFinishes) {
    void* const headBefore = ChainHead();
    int runs = 0;
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0x12345678;
    EXPECT_TRUE(RunGuarded([&] { ++runs; }, &record));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(record.ExceptionCode, 0x12345678u) << "untouched without a fault";
    EXPECT_EQ(ChainHead(), headBefore);
}

TEST(SehGuard, CxxExceptionPassesToItsOwnCatch) {
    void* const headBefore = ChainHead();
    std::string caught;
    try {
        RunGuarded([] { throw std::runtime_error("through the guard"); }, nullptr);
        ADD_FAILURE() << "the exception stopped at the guard";
    } catch (const std::runtime_error& error) {
        caught = error.what();
    }
    EXPECT_EQ(caught, "through the guard");
    EXPECT_EQ(ChainHead(), headBefore) << "the guard's record must go with the exception";
    // And the chain still works: a later fault is caught where it should be.
    EXCEPTION_RECORD record = {};
    EXPECT_FALSE(RunGuarded(DivideByZero, &record));
    EXPECT_EQ(record.ExceptionCode, DWORD(EXCEPTION_INT_DIVIDE_BY_ZERO));
}

TEST(SehGuard, NestedGuardsEachCatchTheirOwnFault) {
    void* const headBefore = ChainHead();
    EXCEPTION_RECORD outer = {}, inner = {};
    bool innerResult = true;
    bool afterInner = false;
    EXPECT_FALSE(RunGuarded(
        [&] {
            innerResult = RunGuarded(WriteThroughNull, &inner);
            afterInner = true;
            DivideByZero();
        },
        &outer));
    EXPECT_FALSE(innerResult);
    EXPECT_TRUE(afterInner) << "the outer body goes on after the inner guard caught its fault";
    EXPECT_EQ(inner.ExceptionCode, DWORD(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(outer.ExceptionCode, DWORD(EXCEPTION_INT_DIVIDE_BY_ZERO));
    EXPECT_EQ(ChainHead(), headBefore);
}

// Exceptions that code inside the body handles itself are not the guard's:
// the system's own handlers (here IsBadReadPtr's and OutputDebugString's)
// come first, as they would with __except.
TEST(SehGuard, ExceptionsHandledInsideTheBodyDoNotReachTheGuard) {
    BOOL bad = FALSE;
    EXPECT_TRUE(RunGuarded(
        [&] {
            bad = IsBadReadPtr(Opaque(static_cast<const void*>(nullptr)), 4);
            OutputDebugStringA("debug output is raised as an exception");
        },
        nullptr));
    EXPECT_TRUE(bad);
}

// A frame-based handler registered inside the body, standing in for a system
// frame between the fault and the guard: it declines the fault, and the guard
// must unwind it (so a system frame could release what it holds) before
// returning.
std::atomic<int> g_innerUnwindCalls{0};
std::atomic<int> g_innerSearchCalls{0};

EXCEPTION_DISPOSITION __cdecl InnerHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
    if (record->ExceptionFlags & 0x2) { // EXCEPTION_UNWINDING
        ++g_innerUnwindCalls;
    } else {
        ++g_innerSearchCalls;
    }
    return ExceptionContinueSearch;
}

struct Registration {
    void* next;
    void* handler;
};

__attribute__((noinline)) void FaultUnderInnerFrame() {
    Registration registration = {ChainHead(), reinterpret_cast<void*>(&InnerHandler)};
    SetChainHead(&registration);
    WriteThroughNull();
    // Not reached: the guard removes the record.
    SetChainHead(registration.next);
}

TEST(SehGuard, UnwindsFramesBetweenFaultAndGuard) {
    g_innerUnwindCalls = 0;
    g_innerSearchCalls = 0;
    void* const headBefore = ChainHead();
    EXCEPTION_RECORD record = {};
    EXPECT_FALSE(RunGuarded(FaultUnderInnerFrame, &record));
    EXPECT_EQ(record.ExceptionCode, DWORD(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(g_innerSearchCalls, 1) << "the inner frame was asked first";
    EXPECT_EQ(g_innerUnwindCalls, 1) << "and unwound before the guard returned";
    EXPECT_EQ(ChainHead(), headBefore);
}

TEST(SehGuard, CatchesAFaultInAWorkerThread) {
    CWorkerThread worker;
    EXCEPTION_RECORD record = {};
    bool result = true;
    DWORD faultingThread = 0;
    ASSERT_TRUE(worker.Create([&] {
        faultingThread = GetCurrentThreadId();
        result = RunGuarded(WriteThroughNull, &record);
    }));
    worker.Resume();
    ASSERT_EQ(WaitForSingleObject(worker.Handle(), 10000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeThread(worker.Handle(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(result);
    EXPECT_EQ(record.ExceptionCode, DWORD(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(faultingThread, worker.ThreadId());
}

TEST(SehGuard, GuardsOnSeveralThreadsAtOnce) {
    // Each thread faults again and again inside its own guards while the
    // others do too; a guard state shared between threads would send one
    // thread's fault into another thread's frame.
    const int kThreads = 4;
    const int kRounds = 300;
    std::atomic<int> caught{0};
    std::atomic<int> wrongCode{0};
    CWorkerThread workers[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_TRUE(workers[t].Create([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                EXCEPTION_RECORD record = {};
                const bool divide = (round + t) % 2 == 0;
                if (!RunGuarded(divide ? DivideByZero : WriteThroughNull, &record)) {
                    ++caught;
                }
                const DWORD expected =
                    divide ? EXCEPTION_INT_DIVIDE_BY_ZERO : EXCEPTION_ACCESS_VIOLATION;
                if (record.ExceptionCode != expected) {
                    ++wrongCode;
                }
            }
        }));
    }
    for (CWorkerThread& worker : workers) {
        worker.Resume();
    }
    for (CWorkerThread& worker : workers) {
        ASSERT_EQ(WaitForSingleObject(worker.Handle(), 60000), WAIT_OBJECT_0);
    }
    EXPECT_EQ(caught, kThreads * kRounds);
    EXPECT_EQ(wrongCode, 0);
}

} // namespace
