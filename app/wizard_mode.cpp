// Wizard mode: the pages shown one after the other as modal dialogs, forward on
// Next, back on Back, ended by Cancel; after the last page what the user chose
// there is carried out.
#include "folder_pages.h"
#include "handles.h"
#include "install_app.h"
#include "install_process.h"
#include "message_box.h"
#include "product_profile.h"
#include "progress_pages.h"
#include "resource_ids.h"
#include "strings.h"
#include "welcome_pages.h"

#include "dll_safety.h"

#include <shellapi.h>

namespace {

enum Slot { kWelcome, kLicence, kFolder, kStartMenu, kTasks, kReady, kProgress, kFinish, kSlots };

// How long the install worker's thread may take to be gone once the worker
// has reported its end.
constexpr DWORD kInstallThreadWait = 10000;
// How often a page that cannot be made is tried, and the pause between tries.
constexpr int kPageShowings = 3;
constexpr DWORD kPageShowingPause = 1000;

// Waits for `object` while answering the messages other threads send to this
// one's windows: the worker may still be setting a status text on its way
// out, and a plain wait would leave both threads waiting for each other.
DWORD WaitAnsweringSentMessages(HANDLE object, DWORD milliseconds) {
    const DWORD started = GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            const DWORD passed = GetTickCount() - started;
            left = passed >= milliseconds ? 0 : milliseconds - passed;
        }
        const DWORD result = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) {
            return result;
        }
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

void CInstallApp::RunWizardMode() {
    // For the licence page's rich-edit control; stays loaded for the run.
    // Only the system folder's copy: a setup program run from a downloads
    // folder must never pick up a DLL planted beside it.
    LoadSystemLibrary("Riched32.dll");
    // The folder browser's dialog (with its "Make New Folder") is a COM
    // client of the shell and wants a single-threaded apartment here.
    const ComInitScope com;

    CWelcomeDlg welcome;
    CLicenseDlg licence;
    CSelectFolder folder;
    CProgramMenuFolderDlg startMenu;
    CAdditionalTaskDlg tasks;
    CReadyDlg ready;
    CProgressDlg progress;
    CFinishDlg finish;
    CFinishRestDlg restart;

    welcome.m_checks.checkInstalledVersion = [this](std::string* message) {
        return CheckInstalledVersion(message);
    };
    welcome.m_checks.preparePackage = [this](std::string* message) {
        return PreparePackage(message);
    };
    licence.m_pLicenseAccepted = &m_bLicenseAccepted;
    GetLicenseText(&licence.m_pLicenseRtf, &licence.m_nLicenseRtfSize);
    folder.m_pInstallDir = &m_strInstallDir;
    folder.m_confirmDestination = [this](HWND page) { return ConfirmDestination(page); };
    ready.m_confirmDestination = [this](HWND page) { return ConfirmDestination(page); };
    startMenu.m_pStartMenuFolder = &m_strStartMenuFolder;
    tasks.m_pDesktopIcon = &m_bDesktopIcon;
    tasks.m_pQuickLaunchIcon = &m_bQuickLaunchIcon;
    tasks.m_pFirewallRules = &m_bFirewallRules;
    progress.m_startInstallThread = [this](HWND page) { return StartInstallThread(page); };
    // The page points m_pStatusText at its status control while it is up.
    progress.m_pStatusText = &m_pStatusText;
    m_pnProgressGoal = &progress.m_nProgressGoal;
    m_pnProgressDisplayed = &progress.m_nProgressDisplayed;
    m_pnProgressDirection = &progress.m_nProgressDirection;
    finish.m_pLaunchProgram = &m_bLaunchProgram;
    finish.m_pOpenQuickStart = &m_bOpenQuickStart;
    finish.m_pInstallFailed = &m_bInstallFailed;
    restart.m_pRestartNeeded = &m_bRestartNeeded;
    restart.m_pInstallFailed = &m_bInstallFailed;

    CLogoDlg* slots[kSlots] = {&welcome, &licence, &folder,   &startMenu,
                               &tasks,   &ready,   &progress, &finish};
    // Every page opens where the last one was closed with Next.
    RECT pagePosition = {};
    for (CLogoDlg* page : slots) {
        page->m_pPagePos = &pagePosition;
    }
    restart.m_pPagePos = &pagePosition;

    int index = kWelcome;
    int failedShowings = 0;
    while (index < kSlots) {
        const INT_PTR result = slots[index]->DoModal();
        if (result == IDOK) {
            // Enter on the last page ends the wizard as its Finish button does.
            if (index == kFinish) {
                break;
            }
            ++index;
            if (index == kReady) {
                BuildReadySummary(&ready.m_strSummary);
            } else if (index == kFinish) {
                WaitForInstallThread();
                if (m_bRestartNeeded) {
                    m_bRestartPageShown = 1;
                    slots[kFinish] = &restart;
                }
            }
        } else if (result == IDCANCEL) {
            if (index == kFinish) {
                break;
            }
            // Cancelled: nothing was installed, and nothing of the end of
            // the run happens either.
            return;
        } else if (result == kBackResult) {
            if (index > kWelcome) {
                --index;
            }
        } else {
            // A page that cannot be made now may be made a moment later (a
            // desktop still starting up); shown again for ever, it would hang
            // the run, so after a few tries the run ends. The log says why,
            // since the message may not be shown either.
            m_pInstallProcess->LogCode("Wizard page could not be shown: ", GetLastError());
            if (++failedShowings < kPageShowings) {
                Sleep(kPageShowingPause);
                continue;
            }
            ShowMessage(LoadResourceString(IDS_SETUP_INIT_ERROR), MB_ICONERROR);
            if (index == kFinish) {
                // The installation has run: the run ends as it ended, and
                // nothing the page would have asked about (starting the
                // product, the quick start, a restart) is done unasked.
                EndOfRun();
                return;
            }
            m_nExitCode = kExitStartupError;
            WaitForInstallThread();
            return;
        }
        failedShowings = 0;
    }

    if (!m_bRestartPageShown) {
        if (m_bLaunchProgram) {
            LaunchProgram();
        }
        if (m_bOpenQuickStart) {
            ShellExecuteA(nullptr, "open", CurrentProfile().quickStartUrl, nullptr, nullptr,
                          SW_SHOWMINIMIZED);
        }
    } else if (m_bRestartNeeded) {
        m_pInstallProcess->RestartSystem();
    }
    EndOfRun();
}

void CInstallApp::WaitForInstallThread() {
    if (!m_pInstallThread) {
        return;
    }
    // The Progress page may close a moment before the worker is done (its
    // bar reaches the install's own last goal); the worker is never stopped
    // before it says it is done, however long that takes.
    if (m_installEnded) {
        WaitAnsweringSentMessages(m_installEnded.get(), INFINITE);
    }
    if (WaitAnsweringSentMessages(m_pInstallThread->Handle(), kInstallThreadWait) !=
        WAIT_OBJECT_0) {
        if (m_pInstallProcess != nullptr) {
            m_pInstallProcess->Log("Install thread did not end within 10 s of its end!");
            m_pInstallProcess->Log("Terminate install thread!");
        }
        TerminateThread(m_pInstallThread->Handle(), 0xFFFFFFFF);
    }
    m_pInstallThread.reset();
}

void CInstallApp::LaunchProgram() {
    const std::string commandLine =
        "\"" + m_strInstallDir + "\\" + CurrentProfile().mainProgram + "\"";
    std::string buffer = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}
