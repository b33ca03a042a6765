/*
 * osinfo: prints what a 32-bit program learns about the system it runs on, as key=value lines
 * (UTF-8). The end-to-end harness uses it to check that a prefix really is the Windows version
 * and bitness a test asked for, and tests use it to learn the folders a setup writes to.
 *
 * Given paths as arguments, it also prints each one's owner and access list as SDDL, as
 * "security:<path>=<SDDL>" (Wine builds them from the Unix owner and mode bits), or
 * "security:<path>=error <code>".
 *
 * There is deliberately no application manifest: like a setup stub without compatibility
 * entries, GetVersionEx then reports 6.2 on Windows 8.1 and 10. RtlGetVersion reports the
 * version the prefix is set to, whatever the manifest.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void print_line(const char* key, const wchar_t* value) {
    int size = WideCharToMultiByte(CP_UTF8, 0, value, -1, NULL, 0, NULL, NULL);
    char* bytes = malloc(size);
    WideCharToMultiByte(CP_UTF8, 0, value, -1, bytes, size, NULL, NULL);
    printf("%s=%s\n", key, bytes);
    free(bytes);
}

static void print_number(const char* key, unsigned long value) {
    printf("%s=%lu\n", key, value);
}

static void print_environment(const char* key, const wchar_t* name) {
    wchar_t value[MAX_PATH * 2];
    if (GetEnvironmentVariableW(name, value, MAX_PATH * 2))
        print_line(key, value);
    else
        printf("%s=\n", key);
}

static void print_folder(const char* key, int csidl) {
    wchar_t path[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path)))
        print_line(key, path);
    else
        printf("%s=\n", key);
}

typedef LONG(WINAPI* RtlGetVersionFunction)(OSVERSIONINFOEXW*);
typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, BOOL*);
typedef UINT(WINAPI* GetSystemWow64DirectoryFunction)(LPWSTR, UINT);

static void print_security(const wchar_t* path) {
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    BYTE descriptor[8192];
    DWORD needed = 0;
    wchar_t* text = NULL;
    int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, NULL, 0, NULL, NULL);
    char* key = malloc(size + 9);
    strcpy(key, "security:");
    WideCharToMultiByte(CP_UTF8, 0, path, -1, key + 9, size, NULL, NULL);
    if (GetFileSecurityW(path, wanted, descriptor, sizeof descriptor, &needed) &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, wanted,
                                                             &text, NULL)) {
        print_line(key, text);
        LocalFree(text);
    } else {
        printf("%s=error %lu\n", key, GetLastError());
    }
    free(key);
}

int main(void) {
    /* \n, not \r\n: the harness on the Linux side reads these lines. */
    _setmode(_fileno(stdout), _O_BINARY);
    OSVERSIONINFOEXW version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExW((OSVERSIONINFOW*)&version)) {
        print_number("version.major", version.dwMajorVersion);
        print_number("version.minor", version.dwMinorVersion);
        print_number("version.build", version.dwBuildNumber);
        print_number("version.platform", version.dwPlatformId);
        print_line("version.csd", version.szCSDVersion);
        print_number("version.sp_major", version.wServicePackMajor);
        print_number("version.sp_minor", version.wServicePackMinor);
        print_number("version.product_type", version.wProductType);
        print_number("version.suite_mask", version.wSuiteMask);
    }

    RtlGetVersionFunction rtl_get_version =
        (RtlGetVersionFunction)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOEXW real;
    ZeroMemory(&real, sizeof real);
    real.dwOSVersionInfoSize = sizeof real;
    if (rtl_get_version && rtl_get_version(&real) == 0) {
        print_number("rtl.major", real.dwMajorVersion);
        print_number("rtl.minor", real.dwMinorVersion);
        print_number("rtl.build", real.dwBuildNumber);
        print_number("rtl.sp_major", real.wServicePackMajor);
        print_number("rtl.product_type", real.wProductType);
    }

    /* Looked up at run time: on the systems the engine supports some of these may be absent,
     * and their absence is itself something a test wants to see. */
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    IsWow64ProcessFunction is_wow64_process =
        (IsWow64ProcessFunction)GetProcAddress(kernel32, "IsWow64Process");
    BOOL wow64 = FALSE;
    if (is_wow64_process && is_wow64_process(GetCurrentProcess(), &wow64))
        print_number("wow64", wow64 ? 1 : 0);
    else
        printf("wow64=\n");

    GetSystemWow64DirectoryFunction get_wow64_directory =
        (GetSystemWow64DirectoryFunction)GetProcAddress(kernel32, "GetSystemWow64DirectoryW");
    wchar_t path[MAX_PATH] = L"";
    if (get_wow64_directory && get_wow64_directory(path, MAX_PATH)) {
        print_line("wow64_directory", path);
    } else {
        printf("wow64_directory=\n");
        print_number("wow64_directory_error", get_wow64_directory ? GetLastError() : 0);
    }

    SYSTEM_INFO system = {0};
    GetNativeSystemInfo(&system);
    print_number("native_architecture", system.wProcessorArchitecture);

    GetWindowsDirectoryW(path, MAX_PATH);
    print_line("windows_directory", path);
    GetSystemDirectoryW(path, MAX_PATH);
    print_line("system_directory", path);
    GetTempPathW(MAX_PATH, path);
    print_line("temp_directory", path);

    print_environment("env.ProgramFiles", L"ProgramFiles");
    print_environment("env.ProgramFiles(x86)", L"ProgramFiles(x86)");
    print_environment("env.ProgramW6432", L"ProgramW6432");
    print_environment("env.CommonProgramFiles", L"CommonProgramFiles");
    print_environment("env.SystemRoot", L"SystemRoot");
    print_environment("env.TEMP", L"TEMP");
    print_environment("env.USERPROFILE", L"USERPROFILE");

    print_folder("folder.program_files", CSIDL_PROGRAM_FILES);
    print_folder("folder.program_files_common", CSIDL_PROGRAM_FILES_COMMON);
    print_folder("folder.common_appdata", CSIDL_COMMON_APPDATA);
    print_folder("folder.appdata", CSIDL_APPDATA);
    print_folder("folder.local_appdata", CSIDL_LOCAL_APPDATA);
    print_folder("folder.desktop", CSIDL_DESKTOPDIRECTORY);
    print_folder("folder.common_desktop", CSIDL_COMMON_DESKTOPDIRECTORY);
    print_folder("folder.programs", CSIDL_PROGRAMS);
    print_folder("folder.common_programs", CSIDL_COMMON_PROGRAMS);
    print_folder("folder.common_startmenu", CSIDL_COMMON_STARTMENU);
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int index = 1; arguments != NULL && index < count; ++index) {
        print_security(arguments[index]);
    }
    return 0;
}
