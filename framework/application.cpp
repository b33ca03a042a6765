#include "application.h"

namespace {

// Constant-initialised, so it is null before any global constructor runs,
// whichever translation unit's globals are built first.
CWinApp* g_currentApp = nullptr;

int RunMessageLoop() {
    MSG message;
    BOOL result;
    while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (result == -1) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

} // namespace

CWinApp::CWinApp() : m_pPreviousApp(g_currentApp) {
    g_currentApp = this;
}

CWinApp::~CWinApp() {
    if (g_currentApp == this) {
        g_currentApp = m_pPreviousApp;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

CWinApp* CurrentApplication() {
    return g_currentApp;
}

int RunApplication(HINSTANCE instance) {
    CWinApp* app = CurrentApplication();
    if (app == nullptr) {
        return kExitCodeApplicationFault;
    }
    try {
        app->m_hInstance = instance;
        if (app->InitInstance()) {
            RunMessageLoop();
        }
        return app->ExitInstance();
    } catch (...) {
        return kExitCodeApplicationFault;
    }
}
