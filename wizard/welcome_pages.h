// The first two wizard pages:
//   CWelcomeDlg  greets the user and runs the start checks on a worker
//                thread; Next is enabled only when both pass, otherwise the
//                reason shows in red and Cancel becomes "Exit" (no question).
//   CLicenseDlg  the licence agreement (RTF) in a read-only rich-edit
//                control; Next only after "I accept the agreement".
// The License page's template uses the window class "RICHEDIT": Riched32.dll
// must be loaded (LoadSystemLibrary) before it is shown.
#pragma once

#include "folder_pages.h"
#include "page_base.h"
#include "worker_thread.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

// Control ids of the two templates.
inline constexpr int kWelcomeTitle = 1001;
inline constexpr int kWelcomeBody = 1002;
inline constexpr int kLicenseTitle = 1011;
inline constexpr int kLicenseSubtitle = 1010;
inline constexpr int kLicenseText = 1007;
inline constexpr int kAcceptRadio = 1008;
inline constexpr int kRefuseRadio = 1009;

// The application object's start checks, bound by the page loop. Each fills
// the message (with "%s" where the display name goes) when it fails.
struct StartChecks {
    // 1 when a newer version is installed; else 0.
    std::function<int(std::string* message)> checkInstalledVersion;
    // The package's status: 0 when it is ready to install.
    std::function<int(std::string* message)> preparePackage;
};

class CWelcomeDlg : public CLogoDlg {
public:
    CWelcomeDlg();
    ~CWelcomeDlg() override;

    StartChecks m_checks;
    std::string m_strTitle;
    std::string m_strBody;
    // 0 once the checks have passed; the failed check's result otherwise.
    int m_nCheckResult = 0;

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The check thread's body: both checks, then the outcome handed to the
    // page through a posted message.
    void RunStartChecks();
    // Waits for the check thread at most 10 s, then stops it.
    void JoinCheckThread();

    std::unique_ptr<CWorkerThread> m_pCheckThread;
    UniqueFont m_fontTitle;
    UniqueFont m_fontBody;
    HBRUSH m_brushHollow;

private:
    void ApplyCheckOutcome();
    void ReportCheckFault(DWORD code, DWORD address);
    // Gives the control `id` the focus, unless a window other than the page
    // (a message box) has it.
    void FocusOnPage(int id);
    LRESULT ColourControl(HDC dc, HWND control);

    // Written by the check thread before it posts its outcome.
    std::string m_strCheckText;
};

class CLicenseDlg : public CHeaderPageDlg {
public:
    CLicenseDlg();

    // The application object's licence choice; may stay null.
    int* m_pLicenseAccepted = nullptr;
    // The RTF licence text (the application object's GetLicenseText).
    const BYTE* m_pLicenseRtf = nullptr;
    DWORD m_nLicenseRtfSize = 0;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(CDataExchange* dx) override;

    CReadOnlyView m_licenseView;

private:
    void StoreChoice(int accepted);
};
