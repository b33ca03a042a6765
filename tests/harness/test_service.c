/*
 * test_service [MODE]: a service of our own for the service tests, run by the Service Control
 * Manager. MODE "stops" (the default) stops when asked, "ignores-stop" accepts the request and
 * keeps running, "refuses-stop" does not accept it at all. A running service ends by itself
 * after five minutes, so a test that dies leaves no process behind for long.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <string.h>

enum mode { MODE_STOPS, MODE_IGNORES_STOP, MODE_REFUSES_STOP };

static enum mode service_mode = MODE_STOPS;
static SERVICE_STATUS_HANDLE status_handle;
static HANDLE stop_event;

static void report(DWORD state) {
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING && service_mode != MODE_REFUSES_STOP ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(status_handle, &status);
}

static DWORD WINAPI handler(DWORD control, DWORD type, void* data, void* context) {
    (void)type;
    (void)data;
    (void)context;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (service_mode == MODE_STOPS) {
            SetEvent(stop_event);
        } else {
            /* Takes the request and goes on as if nothing had been asked. */
            report(SERVICE_RUNNING);
        }
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

static void WINAPI service_main(DWORD argc, char** argv) {
    (void)argc;
    (void)argv;
    status_handle = RegisterServiceCtrlHandlerExA("", handler, NULL);
    if (!status_handle) {
        return;
    }
    report(SERVICE_RUNNING);
    WaitForSingleObject(stop_event, 5 * 60 * 1000);
    report(SERVICE_STOPPED);
}

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "ignores-stop") == 0) {
        service_mode = MODE_IGNORES_STOP;
    } else if (argc > 1 && strcmp(argv[1], "refuses-stop") == 0) {
        service_mode = MODE_REFUSES_STOP;
    }
    stop_event = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[] = {{"", service_main}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
