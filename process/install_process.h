// One installation: the installer's operations put in order, with progress
// reported to the application, and rolled back when a step fails.
#pragma once

#include "installer.h"

#include <windows.h>

class CInstallApp;

class CInstallProcess : public CInstaller {
public:
    CInstallProcess(HANDLE logFile, int setupApiLog, CInstallApp* app);
    ~CInstallProcess() override;

    // Writes every package entry into the current folder. False when an error
    // stopped it (the error was reported and logged).
    bool UnpackAllFiles(int showMessages);

    // The whole installation; never lets a CSetupError escape. On failure
    // everything done so far is rolled back and *installFailed is set.
    void Install(int* restartNeeded, int* installFailed, HWND owner, int showMessages);
    void CreateFirewallRules();
    void RestartSystem();

private:
    void PerformInstallSteps();
    void PerformRollbackSteps();

    CInstallApp* m_pApp;
    int m_bSetupApiLog;
    HANDLE m_hChildStandardError;
};
