// A program built like the setup programs: the framework's WinMain runs this
// file's global application object. What InitInstance does is chosen by the
// first argument, so the tests can watch the framework from outside:
//   load-riched  load "Riched32.dll" with a plain LoadLibraryA, as the wizard
//                does; exit code -10 when it loaded, -11 when not
//   loop         ask for the message loop, after posting WM_QUIT; exit -12
//   throw        let a C++ exception escape InitInstance
//   (nothing)    InitInstance returns FALSE; exit code -10
#include "application.h"
#include "command_line.h"

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

class CProbeApp : public CWinApp {
public:
    BOOL InitInstance() override {
        const std::vector<std::string> tokens = SplitCommandLine(GetCommandLineA());
        const std::string mode = tokens.size() > 1 ? tokens[1] : std::string();
        if (mode == "load-riched") {
            m_nExitCode = LoadLibraryA("Riched32.dll") != nullptr ? -10 : -11;
        } else if (mode == "loop") {
            m_nExitCode = -12;
            PostQuitMessage(0);
            return TRUE;
        } else if (mode == "throw") {
            throw std::runtime_error("escapes InitInstance");
        }
        return FALSE;
    }
    int ExitInstance() override { return m_nExitCode; }

private:
    int m_nExitCode = -10;
};

CProbeApp theApp;

} // namespace
