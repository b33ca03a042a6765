/* A DLL that tells when it is loaded: DllMain appends its own path to the file that
 * CORVANE_CANARY_MARKER names. Tests plant it under the names of system DLLs. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char marker[MAX_PATH];
        char self[MAX_PATH];
        DWORD length = GetEnvironmentVariableA("CORVANE_CANARY_MARKER", marker, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            DWORD selfLength = GetModuleFileNameA(instance, self, MAX_PATH - 2);
            HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written;
                self[selfLength++] = '\r';
                self[selfLength++] = '\n';
                WriteFile(file, self, selfLength, &written, NULL);
                CloseHandle(file);
            }
        }
    }
    return TRUE;
}
