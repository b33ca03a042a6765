// Linked into test builds only (the setup programs under setup/test/ and the Windows test
// programs that run the install worker): an install observer steered by the environment, so that
// end-to-end tests can stop or break an installation exactly where they want. The variables and
// actions are listed in tests/e2e/README.md. The shipped setup programs never contain this file;
// the build checks that none of these names is in them.
#include "install_observer.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
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
        std::ofstream(marker) << number << "\n";
    }
    for (;;) {
        Sleep(INFINITE);
    }
}

void HoldWhileFileExists(const char* path) {
    if (!std::ofstream(path)) {
        return;
    }
    while (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        Sleep(20);
    }
}

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
    const std::string text = hook;
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) {
        return true;
    }
    const std::string name = text.substr(0, first), action = text.substr(second + 1);
    const unsigned long wanted = std::strtoul(text.c_str() + first + 1, nullptr, 10);
    // One flush may write several records: "record:N" acts at the flush that
    // puts record N on the disk, once.
    static bool recordHookDone = false;
    const bool recordMatch = event == InstallEvent::kJournalRecordWritten && name == "record" &&
                             number >= wanted && !recordHookDone;
    const bool undoMatch =
        event == InstallEvent::kRollbackActionDone && name == "undo" && number == wanted;
    if (!recordMatch && !undoMatch) {
        return true;
    }
    recordHookDone = recordHookDone || recordMatch;
    if (action == "stop") {
        StopHere(number);
    } else if (action == "exit") {
        TerminateProcess(GetCurrentProcess(), 0xDEAD); // no exit code of the setup's own
    } else if (action == "throw") {
        throw std::runtime_error("injected by the test build");
    } else if (action == "oom") {
        throw std::bad_alloc();
    } else if (action == "fault") {
        Fault();
    }
    return true;
}

// Installed before WinMain runs.
const bool g_installed = (SetInstallObserver(&Observe), true);

} // namespace
