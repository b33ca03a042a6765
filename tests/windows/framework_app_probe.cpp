// A program built like the setup programs: the framework's WinMain runs this
// application object, which loads "corvane-planted.dll" with a plain
// LoadLibraryA. Exit code -10 when it loaded, -11 when not.
#include "application.h"

#include <windows.h>

namespace {

class CProbeApp : public CWinApp {
public:
    BOOL InitInstance() override {
        m_nExitCode = LoadLibraryA("corvane-planted.dll") != nullptr ? -10 : -11;
        return FALSE;
    }
    int ExitInstance() override { return m_nExitCode; }

private:
    int m_nExitCode = -11;
};

CProbeApp theApp;

} // namespace
