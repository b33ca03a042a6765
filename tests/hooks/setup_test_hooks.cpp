// Linked into test builds only (the setup programs under setup/test/ and the
// Windows test programs that run the install worker): an install observer
// steered by the environment, so that end-to-end tests can stop or break an
// installation exactly where they want. The shipped setup programs never
// contain this file; the build checks that none of these names is in them.
//
//   CORVANE_TEST_INJECT_FAULT=1        a null write as the install worker starts
//   CORVANE_TEST_HOOK=EVENT:N:ACTION   at the N-th EVENT of this process:
//       EVENT   record  journal record written and flushed (the first is 1)
//               undo    rollback action done (a file deleted, a backup moved
//                       back, a folder removed, a registry key restored...)
//       ACTION  stop    create the file CORVANE_TEST_MARKER names and wait for
//                       ever, so the test can kill the prefix right there
//               exit    end the whole process at once (TerminateProcess), as a
//                       kill would: no destructor, no flush, no rollback; the
//                       exit code is 0xDEAD. Cheaper for a test than stopping
//                       the whole prefix when no other process of the setup runs
//               throw   throw std::runtime_error
//               oom     throw std::bad_alloc
//               fault   write through a null pointer
//   CORVANE_TEST_HOLD_AFTER_RECOVERY=PATH  once a journal found at the start
//                                      has been dealt with, create the file
//                                      PATH and wait until the test deletes it
//                                      (it looks at the recovered machine
//                                      before this run installs again)
//   CORVANE_TEST_NO_JOURNAL=1          keep the journal in memory only (the
//                                      benchmark's reference)
//   CORVANE_TEST_NO_WAITS=1            skip the waits that pace the install and
//                                      rollback steps (silent tests of what
//                                      happens, not of how it looks)
#include "install_observer.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

[[noreturn]] void StopHere(uint32_t number) {
    if (const char* marker = std::getenv("CORVANE_TEST_MARKER")) {
        HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const std::string text = std::to_string(number) + "\r\n";
            DWORD written = 0;
            WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    for (;;) {
        Sleep(INFINITE);
    }
}

void HoldWhileFileExists(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    CloseHandle(file);
    while (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        Sleep(20);
    }
}

// What a stopped setup's process ends with, so that a test can tell it from
// every exit code of the setup's own.
constexpr UINT kKilledExitCode = 0xDEAD;

void Fault() {
    volatile uintptr_t nowhere = 0;
    *reinterpret_cast<volatile int*>(nowhere) = 0;
}

bool Observe(InstallEvent event, uint32_t number) {
    if (event == InstallEvent::kJournalOpening) {
        return !IsSet("CORVANE_TEST_NO_JOURNAL");
    }
    if (event == InstallEvent::kPause) {
        return !IsSet("CORVANE_TEST_NO_WAITS");
    }
    if (event == InstallEvent::kRecoveryDone) {
        if (const char* hold = std::getenv("CORVANE_TEST_HOLD_AFTER_RECOVERY")) {
            HoldWhileFileExists(hold);
        }
        return true;
    }
    if (event == InstallEvent::kWorkerStarted) {
        if (IsSet("CORVANE_TEST_INJECT_FAULT")) {
            Fault();
        }
        return true;
    }
    const char* hook = std::getenv("CORVANE_TEST_HOOK");
    if (hook == nullptr) {
        return true;
    }
    char name[16] = {};
    unsigned long wanted = 0;
    char action[16] = {};
    const std::string text = hook;
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) {
        return true;
    }
    std::strncpy(name, text.substr(0, first).c_str(), sizeof name - 1);
    wanted = std::strtoul(text.substr(first + 1, second - first - 1).c_str(), nullptr, 10);
    std::strncpy(action, text.substr(second + 1).c_str(), sizeof action - 1);
    // One flush may write several records: "record:N" acts at the flush that
    // puts record N on the disk, once.
    static bool recordHookDone = false;
    const bool recordMatch = event == InstallEvent::kJournalRecordWritten &&
                             std::strcmp(name, "record") == 0 && number >= wanted &&
                             !recordHookDone;
    const bool undoMatch = event == InstallEvent::kRollbackActionDone &&
                           std::strcmp(name, "undo") == 0 && number == wanted;
    if (!recordMatch && !undoMatch) {
        return true;
    }
    recordHookDone = recordHookDone || recordMatch;
    if (std::strcmp(action, "stop") == 0) {
        StopHere(number);
    } else if (std::strcmp(action, "exit") == 0) {
        TerminateProcess(GetCurrentProcess(), kKilledExitCode);
    } else if (std::strcmp(action, "throw") == 0) {
        throw std::runtime_error("injected by the test build");
    } else if (std::strcmp(action, "oom") == 0) {
        throw std::bad_alloc();
    } else if (std::strcmp(action, "fault") == 0) {
        Fault();
    }
    return true;
}

// Installed before WinMain runs.
const bool g_installed = (SetInstallObserver(&Observe), true);

} // namespace
