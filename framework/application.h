// The application object: the program defines one global object of a class
// derived from CWinApp, and WinMain (framework/winmain.cpp) runs it through
// RunApplication. Its constructor registers it as the current application
// before WinMain starts, as static construction of globals comes first.
//
//     class CMyApp : public CWinApp {
//         BOOL InitInstance() override { ...; return FALSE; }
//         int ExitInstance() override { return m_nExitCode; }
//     };
//     CMyApp theApp;
#pragma once

#include <windows.h>

class CWinApp {
public:
    // Registers this object as the current application. Constructing another
    // one while this lives makes the newer one current until it is destroyed.
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Does the program's work. FALSE ends the run at once: the process exit
    // code is then ExitInstance's result. TRUE runs the message loop until
    // WM_QUIT, then also ends with ExitInstance's result. The base returns TRUE.
    virtual BOOL InitInstance();

    // Called once at the end of the run; its result is the process exit code.
    // The base returns 0.
    virtual int ExitInstance();

    // The program's module, set by RunApplication before InitInstance.
    HINSTANCE m_hInstance = nullptr;

private:
    CWinApp* m_pPreviousApp;
};

// The application object registered last, or null.
CWinApp* CurrentApplication();

// Exit code when no application object exists, or when a C++ exception
// escapes InitInstance or ExitInstance (it must not cross the thread's entry).
inline constexpr int kExitCodeApplicationFault = -1;

// Runs the current application: InitInstance, the message loop when it asked
// for one, ExitInstance. Returns the process exit code.
int RunApplication(HINSTANCE instance);
