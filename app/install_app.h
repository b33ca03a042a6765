// The application object: one run of the setup program, from the command line
// to the exit code. It owns the user's choices, the setup log handle and the
// install process, and picks one of three modes: wizard, silent or unpack.
#pragma once

#include "application.h"
#include "command_line.h"
#include "handles.h"
#include "install_host.h"
#include "worker_thread.h"

#include <windows.h>

#include <memory>
#include <string>

class CInstallProcess;
struct CSetupError;

class CInstallApp : public CWinApp, public IInstallProgress, public InstallChoices {
public:
    CInstallApp();
    ~CInstallApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Loads and verifies the package, once per run; fills `message` with the
    // (unformatted) text for a failure and returns the reader's status, 0
    // when ready. Later calls give the first call's outcome again.
    int PreparePackage(std::string* message);
    // 1 when a newer version of the product is installed, with the text that
    // says so in `message`; else 0 (`message` untouched). The Welcome page's
    // start check.
    int CheckInstalledVersion(std::string* message);

    // The Ready page's summary of the choices, rebuilt before each showing.
    void BuildReadySummary(std::string* text);
    // Whether the installation can succeed in m_strInstallDir (path lengths,
    // write access, free space); when it cannot, says why in a message owned
    // by `owner` and returns false. Nothing is written.
    bool ConfirmDestination(HWND owner);

    void SetProgress(int goal, int phase) override;
    void SetProgressPosition(int value) override;
    void SetProgressDirection(int value) override;

    // The install worker's body: Install, then the firewall rules after a
    // success. Runs inside a structured-exception guard.
    void RunInstall();

    // Starts the install worker (RunInstall inside its exception guard) with
    // the Progress page's window `owner` as the owner of the install's message
    // boxes. 0 when it runs; -1 when it could not be started, after string 37
    // when messages are shown.
    int StartInstallThread(HWND owner);

    int GetLicenseText(const BYTE** bytes, DWORD* size) const;

    // The user's choices are the InstallChoices members; the run's results:
    int m_bLicenseAccepted = 0;
    int m_bLaunchProgram = 1;
    int m_bOpenQuickStart = 1;
    int m_bRestartNeeded = 0;
    int m_bInstallFailed = 0;
    int m_bRestartPageShown = 0;
    int m_nExitCode = 0;
    int m_bShowMessages = 0;

    CInstallProcess* m_pInstallProcess = nullptr;
    HANDLE m_hLogFile = INVALID_HANDLE_VALUE;
    char m_szWorkFolder[MAX_PATH] = {};
    // The wizard's install worker; the page loop waits for it before the
    // Finish page.
    std::unique_ptr<CWorkerThread> m_pInstallThread;
    // Set by the worker once it is done (manual reset).
    UniqueHandle m_installEnded;
    HWND m_hWndProgress = nullptr;
    HWND m_pStatusText = nullptr;
    int* m_pnProgressGoal = nullptr;
    int* m_pnProgressDisplayed = nullptr;
    int* m_pnProgressDirection = nullptr;
    const BYTE* m_pLicenseRtf = nullptr;
    DWORD m_nLicenseRtfSize = 0;

private:
    void LoadLicenseText();
    void ChooseWorkFolder();
    int ProbeFolder(const char* folder);
    HANDLE CreateLogFile();
    void ComputeDefaultFolders();
    void ReportStartupError(const CSetupError& error);
    void RunSilentMode();
    // Makes the install folder full and checks it before anything is
    // written: a path the engine cannot use, or a folder that users without
    // administrator rights can change, ends the run with
    // kExitFolderRefused, a log line and, where allowed, a message.
    bool AcceptInstallFolder();
    // The check itself, for both modes: false with the message in `refusal`.
    bool CheckInstallFolder(std::string* refusal);
    // The wizard's pages and, after the last one, what the user chose there
    // (wizard_mode.cpp).
    void RunWizardMode();
    // Waits for the install worker to report its end, however long the
    // installation takes; then at most 10 s for the thread to be gone, and
    // only then, logged, stops it.
    void WaitForInstallThread();
    // The firewall step after a committed installation, contained so that
    // nothing it throws or faults on can fail the installation.
    void CreateFirewallRulesGuarded();
    // Starts the installed product, without waiting for it.
    void LaunchProgram();
    void EndOfRun();
    void RunInstallGuarded();
    void ShowMessageIfAllowed(const std::string& text, UINT type, HWND owner = nullptr) const;

    CommandLineOptions m_options;
    // The package is loaded once per run, by the first PreparePackage.
    bool m_bPackagePrepared = false;
    int m_nPackageStatus = 0;
    // Progress values of silent mode, where nothing displays them.
    int m_nSilentGoal = 0;
    int m_nSilentDisplayed = 0;
    int m_nSilentDirection = 1;
};

// Exit codes of the process.
enum ExitCode {
    kExitSuccess = 0,
    kExitServerOnly = -2,
    kExitNotAdministrator = -3,
    kExitWrongWordSize = -4,
    kExitOldWindows = -5,
    kExitStartupError = -6,
    kExitLicenseNotAccepted = -7,
    kExitPackageNotReady = -8,
    kExitRestartRequired = -9,
    kExitInstallFailed = -10,
    kExitFolderRefused = -11,
};
