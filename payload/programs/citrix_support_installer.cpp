/*
 * Stand-in for the Citrix-support installer (payload entry corvane-rdp-rde-installer.exe.x86,
 * workstation only, 32-bit on every system).
 *
 * The setup program runs it with an unquoted command line, the install folder's path (which
 * may hold blanks) and " RegisterCitrixDllEx" while installing or " UnregisterCitrixDllEx"
 * while rolling back, waits at most 25 seconds, and then looks at the global restart event of
 * the workstation profile. The Start-menu shortcut runs it without an argument.
 *
 * It registers for real, so that a rollback that leaves the registration behind, or takes an
 * earlier installation's away, shows: RegisterCitrixDllEx writes the value ClientLibrary (the
 * path of hxvcitrix.dll beside the program) under HKLM\Software\Corvane RDP Citrix Support in
 * the 32-bit registry view, and UnregisterCitrixDllEx deletes that key.
 *
 * It says what it was given through CORVANE_STAND_IN_LOG (see stand_in.h): the command line,
 * the current folder, then "argument RegisterCitrixDllEx" (or the other one, or "no argument"),
 * what it registered, and what it did about the event. Exit code 0; 87 for any other argument,
 * and 5 when the registration cannot be written.
 *
 * CORVANE_CITRIX_MODE, a comma-separated list, changes what it does with an argument:
 *   restart  signals the restart event (opened by name; the setup creates it beforehand)
 *   long     then stays CORVANE_CITRIX_SECONDS (default 40) seconds, past the setup's limit
 */
#include "stand_in.h"

#include "product_profile.h"

namespace {

bool HasModeWord(const char* modes, const char* word) {
    const size_t length = strlen(word);
    for (const char* p = modes; *p != '\0';) {
        const char* comma = strchr(p, ',');
        const size_t part = comma ? size_t(comma - p) : strlen(p);
        if (part == length && strncmp(p, word, length) == 0) {
            return true;
        }
        p += part + (comma ? 1 : 0);
    }
    return false;
}

constexpr char kRegistrationKey[] = "Software\\Corvane RDP Citrix Support";

// Registers or unregisters the client library beside this program; false on failure.
bool Register(bool registerLibrary) {
    if (!registerLibrary) {
        const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegistrationKey);
        stand_in_say("unregistered (%ld)", status);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    char library[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, library, sizeof library);
    char* slash = length > 0 && length < sizeof library ? strrchr(library, '\\') : nullptr;
    if (slash == nullptr || size_t(slash - library) + sizeof "\\hxvcitrix.dll" > sizeof library) {
        stand_in_say("cannot tell where the client library is");
        return false;
    }
    strcpy(slash, "\\hxvcitrix.dll");
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRegistrationKey, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, "ClientLibrary", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(library), DWORD(strlen(library) + 1));
        RegCloseKey(key);
    }
    stand_in_say("registered %s (%ld)", library, status);
    return status == ERROR_SUCCESS;
}

void SignalRestart() {
    const char* name = kWorkstationProfile.citrixRestartEventName;
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (event == nullptr) {
        stand_in_say("restart event %s cannot be opened (error %lu)", name, GetLastError());
        return;
    }
    if (SetEvent(event)) {
        stand_in_say("restart event %s signalled", name);
    } else {
        stand_in_say("restart event %s cannot be signalled (error %lu)", name, GetLastError());
    }
    CloseHandle(event);
}

} // namespace

int main() {
    stand_in_say_start();
    const char* cursor = stand_in_arguments(GetCommandLineA());
    char argument[MAX_PATH];
    char extra[MAX_PATH];
    if (!stand_in_next_word(&cursor, argument, sizeof argument)) {
        // Started from the Start-menu shortcut: nothing to register.
        stand_in_say("no argument");
        return 0;
    }
    if (strcmp(argument, "-help") == 0) {
        stand_in_print("usage: corvane-rdp-rde-installer.exe [RegisterCitrixDllEx | "
                       "UnregisterCitrixDllEx]\n"
                       "Stand-in Citrix-support installer of the sample payload.\n");
        return 0;
    }
    if ((strcmp(argument, "RegisterCitrixDllEx") != 0 &&
         strcmp(argument, "UnregisterCitrixDllEx") != 0) ||
        stand_in_next_word(&cursor, extra, sizeof extra)) {
        stand_in_say("refused: expected RegisterCitrixDllEx or UnregisterCitrixDllEx alone");
        return ERROR_INVALID_PARAMETER;
    }
    stand_in_say("argument %s", argument);
    if (!Register(strcmp(argument, "RegisterCitrixDllEx") == 0)) {
        return ERROR_ACCESS_DENIED;
    }

    char modes[100];
    stand_in_env("CORVANE_CITRIX_MODE", modes, sizeof modes);
    if (HasModeWord(modes, "restart")) {
        SignalRestart();
    }
    if (HasModeWord(modes, "long")) {
        char number[32];
        unsigned long seconds = 40;
        if (stand_in_env("CORVANE_CITRIX_SECONDS", number, sizeof number)[0] != '\0' &&
            !stand_in_parse_number(number, &seconds)) {
            stand_in_say("CORVANE_CITRIX_SECONDS \"%s\" is not a number; 40 seconds", number);
            seconds = 40;
        }
        stand_in_say("running for %lu seconds", seconds);
        Sleep(DWORD(seconds) * 1000);
    }
    stand_in_say("finished");
    return 0;
}
