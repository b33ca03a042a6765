/*
 * Stand-in for the product's child installer (payload entries
 * corvane-rdp-workstation-installer.exe.* and corvane-rdp-server-installer.exe.*).
 *
 * The setup program starts it with the install folder as current folder and the command line
 * " -std-pipe -log" (or " -std-pipe -setupapi-log"), its standard output the write end of a
 * pipe and its standard error the setup log. It reports through the pipe in 16-byte records,
 * four unsigned 32-bit little-endian numbers each: kind, value 1, value 2, value 3.
 *   kind 0, error:    code, location, module id
 *   kind 1, progress: goal (0-100), phase code (1 "Installing kernel mode drivers...",
 *                     2 "Installing main program module..."), restart request (non-zero: yes)
 * Its log lines go to standard error and to CORVANE_STAND_IN_LOG (see stand_in.h): how it was
 * started (command line in brackets, current folder, which standard handles it got), each
 * record it sends, and how it ends.
 *
 * By default it reports progress 30 and 45 in phase 1, 60 and 80 in phase 2, and ends with
 * exit code 0 in well under a second. A test changes that through the environment, which the
 * setup passes on:
 *   CORVANE_CHILD_MODE=restart       as the default, with the restart request set on goal 45
 *   CORVANE_CHILD_MODE=error         goal 30, then one error record, then the end
 *   CORVANE_CHILD_MODE=error-code-0  goal 30, an error record with code 0, then goals 60 and
 *                                    80 that the setup must no longer read
 *   CORVANE_CHILD_MODE=no-report     no record at all
 *   CORVANE_CHILD_MODE=long          a progress record every second for
 *                                    CORVANE_CHILD_SECONDS (default 30), goals rising from 20
 *                                    to 85, then the end
 *   CORVANE_CHILD_MODE=overshoot     goals 100 and 150 (beyond the scale), then no record for
 *                                    CORVANE_CHILD_SECONDS (default 3) while it goes on working
 *   CORVANE_CHILD_ERROR=code,location,module   the error record's values, decimal or 0x-hex
 *                                    (default 0x5,0x21,0x2000; error-code-0 keeps code 0)
 *   CORVANE_CHILD_EXIT_CODE=N        exit code (default 0; the setup does not look at it)
 *
 * It installs what a driver package installer does, on the machine's real objects, so that a
 * rollback has something to undo (the setup finds these by comparing the machine before and
 * after the child ran). Which edition it is, it knows from its own file name:
 *   - after the first progress record: the driver's INF (hxvhub.inf or hxvhubbus.inf, from the
 *     current folder) published into the driver store with SetupCopyOEMInf, and its
 *     DefaultInstall section installed from there (the driver's kernel service); the driver
 *     added to the UpperFilters of the USB device class; the server also registers its bus
 *     driver's root device (hardware id ROOT\HXVHUBBUS);
 *   - after the third: the product's own service (corvanewssrv or corvanetssrv, demand start,
 *     its program in the current folder).
 * What is there already (an earlier installation's) is left as it is. The "error" mode fails
 * after the first part, "no-report" and "error-code-0" install everything, "long" installs
 * everything first. A part that cannot be installed is reported with an error record
 * {system error, 3 (INF), 4 (service), 5 (class filter) or 6 (device), 0x2000}.
 *
 * A command line other than the two above is refused: with -std-pipe an error record
 * {87 (invalid parameter), 1, 0x2000} is sent, and the exit code is 87. An unknown
 * CORVANE_CHILD_MODE is refused the same way with location 2, so a mistyped test fails loudly.
 */
#include "stand_in.h"

#include <setupapi.h>

enum {
    kNotifyError = 0,
    kNotifyProgress = 1,
    kPhaseDrivers = 1,
    kPhaseMainModule = 2,
    kChildModule = 0x2000,
    kLocationCommandLine = 1,
    kLocationMode = 2,
    kLocationInf = 3,
    kLocationService = 4,
    kLocationFilter = 5,
    kLocationDevice = 6,
};

/* What each edition installs. */
struct Edition {
    const char* installer; /* start of the program's own file name */
    const char* driver;    /* INF, kernel service and upper filter */
    const char* service;   /* the product's own service, and its program's name */
    const char* service_display_name;
    const char* device_id; /* root device of the bus driver; NULL: none */
};

static const struct Edition kEditions[] = {
    {"corvane-rdp-workstation-installer", "hxvhub", "corvanewssrv",
     "Corvane RDP Edition Workstation Service", NULL},
    {"corvane-rdp-server-installer", "hxvhubbus", "corvanetssrv",
     "Corvane RDP Edition Server Service", "ROOT\\HXVHUBBUS"},
};

/* Universal Serial Bus controllers. */
static const GUID kUsbClass = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
/* The system devices' class, where a bus driver's root device belongs. */
static const GUID kSystemClass = {
    0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

static HANDLE g_pipe;

static void send_record(DWORD kind, DWORD value1, DWORD value2, DWORD value3) {
    const DWORD values[4] = {kind, value1, value2, value3};
    unsigned char record[16];
    for (int i = 0; i < 4; ++i) {
        for (int b = 0; b < 4; ++b) {
            record[i * 4 + b] = (unsigned char)(values[i] >> (8 * b));
        }
    }
    /* Raw bytes through WriteFile: the C runtime's text mode would turn a 0x0A byte into
     * 0x0D 0x0A and shift every record after it. */
    if (!stand_in_handle_usable(g_pipe) || !stand_in_write_all(g_pipe, record, sizeof record)) {
        stand_in_say("cannot write record %lu,%lu,%lu,%lu (error %lu)", kind, value1, value2,
                     value3, GetLastError());
        return;
    }
    stand_in_say("record %lu,%lu,%lu,%lu", kind, value1, value2, value3);
}

static void progress(DWORD goal, DWORD phase, DWORD restart) {
    stand_in_say("%s", phase == kPhaseDrivers ? "Installing kernel mode drivers..."
                                              : "Installing main program module...");
    send_record(kNotifyProgress, goal, phase, restart);
}

static int finish(int exit_code) {
    stand_in_say("finished, exit code %d", exit_code);
    return exit_code;
}

static int refuse(BOOL has_pipe, DWORD location, const char* reason, const char* detail) {
    stand_in_say("%s%s", reason, detail);
    if (has_pipe) {
        send_record(kNotifyError, ERROR_INVALID_PARAMETER, location, kChildModule);
    }
    return finish(ERROR_INVALID_PARAMETER);
}

/* CORVANE_CHILD_ERROR as code,location,module; missing or malformed parts keep their
 * defaults, and the log says so. */
static void read_error_values(DWORD* code, DWORD* location, DWORD* module) {
    char text[200];
    stand_in_env("CORVANE_CHILD_ERROR", text, sizeof text);
    if (text[0] == '\0') {
        return;
    }
    DWORD* fields[3] = {code, location, module};
    char* part = text;
    for (int i = 0; i < 3 && part != NULL; ++i) {
        char* comma = strchr(part, ',');
        if (comma != NULL) {
            *comma = '\0';
        }
        unsigned long value = 0;
        if (stand_in_parse_number(part, &value)) {
            *fields[i] = (DWORD)value;
        } else {
            stand_in_say("CORVANE_CHILD_ERROR part %d (\"%s\") is not a number; kept 0x%lx", i + 1,
                         part, *fields[i]);
        }
        part = comma != NULL ? comma + 1 : NULL;
    }
}

static const struct Edition* edition(void) {
    for (size_t i = 0; i < sizeof kEditions / sizeof kEditions[0]; ++i) {
        if (_strnicmp(stand_in_name(), kEditions[i].installer, strlen(kEditions[i].installer)) ==
            0) {
            return &kEditions[i];
        }
    }
    return &kEditions[0];
}

static BOOL g_failed;

/* One error record for the first part that fails; what follows is left out. */
static void fail(DWORD location, const char* what) {
    DWORD code = GetLastError();
    if (code == 0) {
        code = ERROR_GEN_FAILURE;
    }
    stand_in_say("cannot install %s (error %lu)", what, code);
    send_record(kNotifyError, code, location, kChildModule);
    g_failed = TRUE;
}

/* The INF into the driver store, then its DefaultInstall section from there. */
static void install_inf(const struct Edition* product) {
    char source[MAX_PATH];
    char published[MAX_PATH] = "";
    DWORD length = GetCurrentDirectoryA(sizeof source, source);
    if (length == 0 || length + strlen(product->driver) + 6 >= sizeof source) {
        fail(kLocationInf, "the INF (no current folder)");
        return;
    }
    snprintf(source + length, sizeof source - length, "\\%s.inf", product->driver);
    if (!SetupCopyOEMInfA(source, NULL, SPOST_PATH, 0, published, sizeof published, NULL, NULL)) {
        fail(kLocationInf, source);
        return;
    }
    stand_in_say("published %s as %s", source, published);
    HINF inf = SetupOpenInfFileA(published, NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE) {
        fail(kLocationInf, published);
        return;
    }
    BOOL installed = SetupInstallFromInfSectionA(NULL, inf, "DefaultInstall", SPINST_REGISTRY, NULL,
                                                 NULL, 0, NULL, NULL, NULL, NULL) &&
                     SetupInstallServicesFromInfSectionA(inf, "DefaultInstall.Services", 0);
    SetupCloseInfFile(inf);
    if (!installed) {
        fail(kLocationInf, "the INF's DefaultInstall section");
        return;
    }
    stand_in_say("installed DefaultInstall of %s", published);
}

/* The driver on top of the USB class's upper filters, unless it is there already. */
static void add_upper_filter(const struct Edition* product) {
    HKEY key =
        SetupDiOpenClassRegKeyExA(&kUsbClass, KEY_READ | KEY_WRITE, DIOCR_INSTALLER, NULL, NULL);
    if (key == INVALID_HANDLE_VALUE) {
        fail(kLocationFilter, "the upper filter (no USB class key)");
        return;
    }
    char filters[4096];
    DWORD size = sizeof filters - 2;
    DWORD type = REG_MULTI_SZ;
    memset(filters, 0, sizeof filters);
    LONG status = RegQueryValueExA(key, "UpperFilters", NULL, &type, (BYTE*)filters, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        size = 0;
    } else if (status != ERROR_SUCCESS) {
        RegCloseKey(key);
        SetLastError((DWORD)status);
        fail(kLocationFilter, "the upper filter (UpperFilters unreadable)");
        return;
    }
    /* The strings up to the first empty one; the new name goes after them. */
    size_t end = 0;
    while (end < sizeof filters && filters[end] != '\0') {
        if (_stricmp(filters + end, product->driver) == 0) {
            RegCloseKey(key);
            stand_in_say("upper filter %s is there already", product->driver);
            return;
        }
        end += strlen(filters + end) + 1;
    }
    size_t name = strlen(product->driver) + 1;
    if (end + name + 1 > sizeof filters) {
        RegCloseKey(key);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        fail(kLocationFilter, "the upper filter (list too long)");
        return;
    }
    memcpy(filters + end, product->driver, name);
    filters[end + name] = '\0';
    status = RegSetValueExA(key, "UpperFilters", 0, REG_MULTI_SZ, (const BYTE*)filters,
                            (DWORD)(end + name + 1));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        SetLastError((DWORD)status);
        fail(kLocationFilter, "the upper filter");
        return;
    }
    stand_in_say("upper filter %s added to the USB class", product->driver);
}

static BOOL device_present(const char* hardware_id) {
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    BOOL found = FALSE;
    for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        char ids[1024] = "";
        if (SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL, (BYTE*)ids,
                                              sizeof ids - 2, NULL)) {
            found = strcmp(ids, hardware_id) == 0;
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

/* The bus driver's root device, as the driver package's installer registers it. */
static void register_device(const struct Edition* product) {
    if (product->device_id == NULL) {
        return;
    }
    if (device_present(product->device_id)) {
        stand_in_say("device %s is there already", product->device_id);
        return;
    }
    char ids[MAX_PATH];
    size_t length = strlen(product->device_id) + 1;
    memcpy(ids, product->device_id, length);
    ids[length] = '\0';
    HDEVINFO devices = SetupDiCreateDeviceInfoList(&kSystemClass, NULL);
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    BOOL registered = devices != INVALID_HANDLE_VALUE &&
                      SetupDiCreateDeviceInfoA(devices, product->driver, &kSystemClass, NULL, NULL,
                                               DICD_GENERATE_ID, &device) &&
                      SetupDiSetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID,
                                                        (const BYTE*)ids, (DWORD)length + 1) &&
                      SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices, &device);
    DWORD error = GetLastError();
    if (devices != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(devices);
    }
    if (!registered) {
        SetLastError(error);
        fail(kLocationDevice, product->device_id);
        return;
    }
    stand_in_say("device %s registered", product->device_id);
}

/* The product's own service, its program beside this one. */
static void create_service(const struct Edition* product) {
    char command[MAX_PATH + 2];
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder ||
        snprintf(command, sizeof command, "\"%s\\%s.exe\"", folder, product->service) >=
            (int)sizeof command) {
        fail(kLocationService, "the service (no current folder)");
        return;
    }
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL) {
        fail(kLocationService, "the service (no service manager)");
        return;
    }
    SC_HANDLE service =
        CreateServiceA(manager, product->service, product->service_display_name,
                       SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, command, NULL, NULL, NULL, NULL, NULL);
    DWORD error = GetLastError();
    if (service != NULL) {
        CloseServiceHandle(service);
        stand_in_say("service %s created", product->service);
    } else if (error == ERROR_SERVICE_EXISTS) {
        stand_in_say("service %s is there already", product->service);
    }
    CloseServiceHandle(manager);
    if (service == NULL && error != ERROR_SERVICE_EXISTS) {
        SetLastError(error);
        fail(kLocationService, product->service);
    }
}

/* The kernel-mode part: what the phase "Installing kernel mode drivers..." stands for. */
static void install_drivers(void) {
    const struct Edition* product = edition();
    install_inf(product);
    if (!g_failed) {
        add_upper_filter(product);
    }
    if (!g_failed) {
        register_device(product);
    }
}

static int run_long(DWORD seconds) {
    stand_in_say("running for %lu seconds", seconds);
    for (DWORD second = 0; second < seconds; ++second) {
        /* 20 at the start, 85 at the end; phase 2 for the second half. */
        DWORD goal = 20 + (seconds > 1 ? 65 * second / (seconds - 1) : 65);
        progress(goal, second * 2 < seconds ? kPhaseDrivers : kPhaseMainModule, 0);
        Sleep(1000);
    }
    return 0;
}

int main(void) {
    g_pipe = GetStdHandle(STD_OUTPUT_HANDLE);
    stand_in_say_start();

    const char* cursor = stand_in_arguments(GetCommandLineA());
    char word[MAX_PATH];
    BOOL std_pipe = FALSE;
    const char* log_option = NULL;
    const char* unknown = NULL;
    static char unknown_word[MAX_PATH];
    while (stand_in_next_word(&cursor, word, sizeof word)) {
        if (strcmp(word, "-help") == 0) {
            char usage[400];
            snprintf(usage, sizeof usage,
                     "usage: %s -std-pipe (-log | -setupapi-log)\n"
                     "Stand-in child installer of the sample payload: reports progress records "
                     "on standard output.\n",
                     stand_in_name());
            stand_in_print(usage);
            return 0;
        }
        if (strcmp(word, "-std-pipe") == 0 && !std_pipe) {
            std_pipe = TRUE;
        } else if ((strcmp(word, "-log") == 0 || strcmp(word, "-setupapi-log") == 0) &&
                   log_option == NULL) {
            log_option = strcmp(word, "-log") == 0 ? "-log" : "-setupapi-log";
        } else if (unknown == NULL) {
            strcpy(unknown_word, word);
            unknown = unknown_word;
        }
    }
    if (unknown != NULL) {
        return refuse(std_pipe, kLocationCommandLine, "refused: unexpected argument ", unknown);
    }
    if (!std_pipe || log_option == NULL) {
        return refuse(std_pipe, kLocationCommandLine, "refused: ",
                      !std_pipe ? "-std-pipe is missing" : "-log or -setupapi-log is missing");
    }
    stand_in_say("log option %s", log_option);

    char mode[64];
    char number[64];
    stand_in_env("CORVANE_CHILD_MODE", mode, sizeof mode);
    unsigned long exit_code = 0;
    if (stand_in_env("CORVANE_CHILD_EXIT_CODE", number, sizeof number)[0] != '\0' &&
        !stand_in_parse_number(number, &exit_code)) {
        stand_in_say("CORVANE_CHILD_EXIT_CODE \"%s\" is not a number; exit code 0", number);
        exit_code = 0;
    }
    DWORD code = 0x5;
    DWORD location = 0x21;
    DWORD module = kChildModule;
    read_error_values(&code, &location, &module);
    stand_in_say("mode %s", mode[0] != '\0' ? mode : "success");

    if (mode[0] == '\0' || strcmp(mode, "success") == 0 || strcmp(mode, "restart") == 0) {
        const BOOL restart = strcmp(mode, "restart") == 0;
        progress(30, kPhaseDrivers, 0);
        install_drivers();
        if (!g_failed) {
            progress(45, kPhaseDrivers, restart ? 1 : 0);
            progress(60, kPhaseMainModule, 0);
            create_service(edition());
        }
        if (!g_failed) {
            progress(80, kPhaseMainModule, 0);
        }
    } else if (strcmp(mode, "error") == 0) {
        progress(30, kPhaseDrivers, 0);
        install_drivers();
        if (!g_failed) {
            stand_in_say("failing: code 0x%lx, location 0x%lx, module 0x%lx", code, location,
                         module);
            send_record(kNotifyError, code, location, module);
        }
    } else if (strcmp(mode, "error-code-0") == 0) {
        progress(30, kPhaseDrivers, 0);
        install_drivers();
        stand_in_say("error record with code 0: location 0x%lx, module 0x%lx", location, module);
        send_record(kNotifyError, 0, location, module);
        create_service(edition());
        progress(60, kPhaseMainModule, 0);
        progress(80, kPhaseMainModule, 0);
    } else if (strcmp(mode, "no-report") == 0) {
        /* The records are what it leaves out, not the work. */
        HANDLE pipe = g_pipe;
        g_pipe = NULL;
        install_drivers();
        create_service(edition());
        g_pipe = pipe;
        stand_in_say("ending without a record");
    } else if (strcmp(mode, "long") == 0 || strcmp(mode, "overshoot") == 0) {
        const BOOL overshoot = strcmp(mode, "overshoot") == 0;
        const unsigned long default_seconds = overshoot ? 3 : 30;
        unsigned long seconds = default_seconds;
        if (overshoot) {
            progress(100, kPhaseDrivers, 0);
            progress(150, kPhaseMainModule, 0);
        }
        if (stand_in_env("CORVANE_CHILD_SECONDS", number, sizeof number)[0] != '\0' &&
            !stand_in_parse_number(number, &seconds)) {
            stand_in_say("CORVANE_CHILD_SECONDS \"%s\" is not a number; %lu seconds", number,
                         default_seconds);
            seconds = default_seconds;
        }
        install_drivers();
        if (!g_failed) {
            create_service(edition());
        }
        if (g_failed) {
            /* The error record is sent; nothing more to wait for. */
        } else if (overshoot) {
            stand_in_say("working for %lu seconds", seconds);
            Sleep((DWORD)seconds * 1000);
        } else {
            run_long((DWORD)seconds);
        }
    } else {
        return refuse(TRUE, kLocationMode, "refused: unknown CORVANE_CHILD_MODE ", mode);
    }
    return finish((int)exit_code);
}
