/*
 * test_service [MODE]: a service of our own for the service tests, run by the Service Control
 * Manager. MODE "stops" (the default) stops when asked, "ignores-stop" accepts the request and
 * keeps running, "refuses-stop" does not accept it at all. A running service ends by itself
 * after five minutes, so a test that dies leaves no process behind for long.
 */
#include <windows.h>
#include <string.h>

static const char* mode = "stops";
static SERVICE_STATUS_HANDLE status_handle;
static SERVICE_STATUS status = {.dwServiceType = SERVICE_WIN32_OWN_PROCESS};
static HANDLE stop_event;

static void report(DWORD state) {
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING && strcmp(mode, "refuses-stop") ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(status_handle, &status);
}

static void WINAPI handler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP && !strcmp(mode, "stops"))
        SetEvent(stop_event);
    else if (control == SERVICE_CONTROL_STOP)
        report(SERVICE_RUNNING); /* takes the request and goes on as if nothing was asked */
}

static void WINAPI service_main(DWORD argc, char** argv) {
    (void)argc;
    (void)argv;
    if ((status_handle = RegisterServiceCtrlHandlerA("", handler))) {
        report(SERVICE_RUNNING);
        WaitForSingleObject(stop_event, 5 * 60 * 1000);
        report(SERVICE_STOPPED);
    }
}

int main(int argc, char** argv) {
    if (argc > 1)
        mode = argv[1];
    stop_event = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[] = {{"", service_main}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
