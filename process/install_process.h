// One installation: the installer's operations put in order, with progress
// reported to the application, and rolled back when a step fails.
#pragma once

#include "destination_check.h"
#include "install_host.h"
#include "installer.h"

#include <windows.h>

#include <string>

class CInstallProcess : public CInstaller {
public:
    CInstallProcess(HANDLE logFile, int setupApiLog, IInstallProgress* progress,
                    const InstallChoices* choices);
    ~CInstallProcess() override;

    // Writes every package entry into the current folder. False when an error
    // stopped it (the error was reported and logged).
    bool UnpackAllFiles(int showMessages);

    // The whole installation. Nothing escapes it: the install error, any
    // other C++ exception and a structured fault alike end in the rollback,
    // with *installFailed set. Only a failure after the commit (when the
    // backups are gone and the installation is complete) is merely logged.
    void Install(int* restartNeeded, int* installFailed, HWND owner, int showMessages);
    void CreateFirewallRules();
    void RestartSystem();

    // Registers the Citrix support (or, with false, takes it away again).
    void RegisterCitrixSupport(bool reg);

    // Looks for the journal of an installation of this product that was
    // stopped before its end (or whose rollback was), and rolls it back:
    // called at every start but in unpack mode. Logs nothing when there is
    // none; a journal that is damaged or names places this product does not
    // write to is refused, logged and set aside, and nothing is undone on
    // its word. Never throws.
    void RecoverInterruptedInstallation();
    // Where this product's journal lives while an installation runs.
    static std::string JournalPath();

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
    // The rollback walkers in their fixed order, each guarded on its own so
    // that a failure inside one (out of memory, a fault) is logged and the
    // next still runs. `paced`: with the progress goals and pauses of an
    // installation's rollback; without, as recovery runs them. True when
    // every walker ran to its end; the journal is then deleted, otherwise
    // it stays for the next start.
    bool PerformRollbackSteps(bool paced = true);
    bool RunRollbackStep(const char* name, void (CInstallProcess::*walker)());
    // The waits that pace the steps for the eye (a test build may skip them).
    void Pause(DWORD milliseconds);
    // Before the first change: the journal file, with the places this
    // installation will write to.
    void BeginJournal();
    // Step 17: the commit record, then the backups and the journal go.
    void CommitInstallation();
    void RunCitrixSupportInstaller(const std::string& installDir, bool registerSupport);
    void UnregisterCitrixSupport();
    // Recovery's own steps (install_recovery.cpp).
    bool RollBackRecoveredJournal(const ReplayedJournal& journal);
    void RefuseJournal(const std::string& path, const std::string& problem);

    // Makes the install folder a full path, or fails the installation
    // before anything is written (location 1002).
    void ResolveInstallDirectory();
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

    IInstallProgress* m_pProgress;
    const InstallChoices* m_pChoices;
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
    // Set once the commit record is on disk: from then on nothing is undone.
    bool m_bCommitted = false;
    // While a journal found at start-up is rolled back: its install folder,
    // and whether it got as far as registering the Citrix support.
    bool m_bRecovering = false;
    bool m_bRecoveredCitrix = false;
    std::string m_strRecoveredInstallDir;
};
