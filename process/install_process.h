// One installation: the installer's operations put in order, with progress
// reported to the application, and rolled back when a step fails.
#pragma once

#include "destination_check.h"
#include "installer.h"

#include <windows.h>

#include <string>

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

    // Registers the Citrix support (or, with false, takes it away again).
    void RegisterCitrixSupport(bool reg);

    // Whether `folder` can take this system's payload (destination_check.h):
    // the plan's files with their sizes in the loaded package, a file created
    // and at once deleted again to try the write access, and the volume's free
    // space. Leaves nothing behind and logs nothing.
    corvane::process::DestinationVerdict CheckDestination(const std::string& folder);

private:
    // What the installation puts into its folder on this system.
    corvane::process::DestinationLayout PlannedLayout();

    // The steps of the running profile, in their fixed order.
    void PerformInstallSteps();
    void PerformRollbackSteps();

    void CreateInstallDirectory();
    // Every payload file rule of the profile, into the install folder.
    void CopyPayloadFiles();
    void InstallPayloadFile(const char* entryName, const char* destinationName, const char* folder);
    // Server: the package's usbd.sys copy for this Windows, when it has one.
    void CopySystemUsbDriver();
    void CreateProductShortcuts();
    // A shortcut whose failure is only a warning; 1 when it was created.
    int CreateShortcutOrWarn(const char* targetFileName, const char* targetFolder,
                             const char* shortcutFolder, const char* shortcutName,
                             const char* arguments);
    void RegisterUninstallInfo();

    // Child installer (child_installer.cpp): runs the profile's installer
    // program from the install folder and follows its notifications.
    void RunChildInstaller();
    // RunChildInstaller with what the child changes on the machine taken into
    // the journal, also when it fails (child_changes.cpp).
    void RunChildInstallerJournaled();
    static DWORD WINAPI NotificationThread(LPVOID parameter);

    CInstallApp* m_pApp;
    int m_bSetupApiLog;
    HANDLE m_hChildStandardError;
    HANDLE m_hPipeRead = nullptr;
    HANDLE m_hPipeWrite = nullptr;
    uint32_t m_dwNotifiedError = 0;
    uint32_t m_dwNotifiedLocation = 0;
    uint32_t m_dwNotifiedModule = 0;
    // Set once this run registered the Citrix support where no earlier
    // installation had: only then is there something of its own to take away.
    bool m_bUnregisterCitrixOnRollback = false;
};
