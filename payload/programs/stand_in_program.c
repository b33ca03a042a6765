/*
 * Stand-in for the product's own programs: the main program (corvanews.exe, corvanets.exe),
 * the service program (corvanewssrv.exe, corvanetssrv.exe), the uninstaller
 * (corvane-rdp-workstation-uninstaller.exe, corvane-rdp-server-uninstaller.exe) and the
 * console command-line tool (hxvwsh.exe, hxvtsh.exe). One program, copied under each name;
 * it knows which one it is from its own file name. Built as a GUI program (no console window
 * when the setup or a shortcut starts it) and as a console program for the console tool.
 *
 * It starts, says how it was started through CORVANE_STAND_IN_LOG (see stand_in.h), and ends
 * with exit code 0. "-help" prints its usage on standard output; any other argument is
 * refused with exit code 2.
 */
#include "stand_in.h"

struct Role {
    const char* name; /* file name without ".exe" and what follows it */
    const char* description;
};

static const struct Role kRoles[] = {
    {"corvanews", "Corvane RDP Edition - Workstation, main program"},
    {"corvanets", "Corvane RDP Edition - Server, main program"},
    {"corvanewssrv", "Corvane RDP Edition Workstation Service"},
    {"corvanetssrv", "Corvane RDP Edition Server Service"},
    {"corvane-rdp-workstation-uninstaller", "Corvane RDP Edition - Workstation, uninstaller"},
    {"corvane-rdp-server-uninstaller", "Corvane RDP Edition - Server, uninstaller"},
    {"hxvwsh", "Corvane RDP Edition - Workstation, console command line"},
    {"hxvtsh", "Corvane RDP Edition - Server, console command line"},
};

static const char* role_description(void) {
    char name[MAX_PATH];
    strcpy(name, stand_in_name());
    char* extension = strstr(name, ".exe");
    if (extension == NULL) {
        extension = strstr(name, ".EXE");
    }
    if (extension != NULL) {
        *extension = '\0';
    }
    for (size_t i = 0; i < sizeof kRoles / sizeof kRoles[0]; ++i) {
        if (_stricmp(name, kRoles[i].name) == 0) {
            return kRoles[i].description;
        }
    }
    return "Corvane RDP Edition program";
}

int main(void) {
    stand_in_say_start();
    const char* cursor = stand_in_arguments(GetCommandLineA());
    char word[MAX_PATH];
    if (!stand_in_next_word(&cursor, word, sizeof word)) {
        stand_in_say("%s: started and ended", role_description());
        return 0;
    }
    char usage[600];
    snprintf(usage, sizeof usage,
             "usage: %s [-help]\n"
             "%s.\n"
             "Stand-in of the sample payload: it starts and ends at once.\n",
             stand_in_name(), role_description());
    if (strcmp(word, "-help") == 0 && !stand_in_next_word(&cursor, word, sizeof word)) {
        stand_in_print(usage);
        stand_in_say("usage printed");
        return 0;
    }
    stand_in_say("refused: unexpected argument %s", word);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (stand_in_handle_usable(error)) {
        stand_in_write_all(error, usage, (DWORD)strlen(usage));
    }
    return 2;
}
