/*
 * osinfo [PATH...]: prints, as key=value lines, the Windows version the prefix reports
 * (rtl.major, rtl.minor, rtl.product_type: 1 workstation, 3 server) and, for each PATH, its
 * owner and access list as SDDL ("security:PATH=SDDL" or "security:PATH=error CODE"); Wine
 * builds those from the Unix owner and mode bits.
 */
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

typedef LONG(WINAPI* RtlGetVersionFunction)(OSVERSIONINFOEXW*);

int main(void) {
    /* \n, not \r\n: the harness on the Linux side reads these lines. */
    _setmode(_fileno(stdout), _O_BINARY);
    RtlGetVersionFunction rtl_get_version =
        (RtlGetVersionFunction)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOEXW real = {0};
    real.dwOSVersionInfoSize = sizeof real;
    if (rtl_get_version(&real) == 0)
        printf("rtl.major=%lu\nrtl.minor=%lu\nrtl.product_type=%u\n", real.dwMajorVersion,
               real.dwMinorVersion, real.wProductType);

    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    int count = 0;
    wchar_t** paths = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int index = 1; index < count; ++index) {
        BYTE descriptor[8192];
        DWORD needed = 0;
        wchar_t* text = NULL;
        if (GetFileSecurityW(paths[index], wanted, descriptor, sizeof descriptor, &needed) &&
            ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                 wanted, &text, NULL))
            printf("security:%ls=%ls\n", paths[index], text);
        else
            printf("security:%ls=error %lu\n", paths[index], GetLastError());
    }
    return 0;
}
