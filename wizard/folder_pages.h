// The wizard pages between the licence and the installation, all in the
// header layout:
//   CSelectFolder           the install folder (changed only through Browse)
//   CProgramMenuFolderDlg   the Start-menu folder name (typed or browsed)
//   CAdditionalTaskDlg      the desktop and Quick Launch icons
//   CReadyDlg               the summary of the choices; Next reads "Install"
// The pages edit the application object's choices through pointers the page
// loop binds before the first page; a null pointer is simply not used.
#pragma once

#include "page_base.h"

#include <windows.h>

#include <functional>
#include <string>

// Checks the install folder the application holds before the wizard goes on
// (Next on the destination page, Install on the Ready page); false, after a
// message owned by `page`, when the installation could not succeed there.
using DestinationConfirmation = std::function<bool(HWND page)>;

// Control ids of the four templates.
inline constexpr int kFolderEdit = 1015;
inline constexpr int kBrowseButton = 1016;
inline constexpr int kSelectFolderTitle = 1017;
inline constexpr int kFolderSubtitle = 1018;
inline constexpr int kDestinationImage = 1038;
inline constexpr int kStartMenuTitle = 1019;
inline constexpr int kStartMenuImage = 1039;
inline constexpr int kTasksTitle = 1020;
inline constexpr int kTasksSubtitle = 1021;
inline constexpr int kDesktopIconCheck = 1022;
inline constexpr int kQuickLaunchIconCheck = 1023;
inline constexpr int kFirewallRulesCheck = 1037;
inline constexpr int kIconsGroupLabel = 1040;
inline constexpr int kFirewallGroupLabel = 1041;
inline constexpr int kReadyTitle = 1024;
inline constexpr int kReadySubtitle = 1025;
inline constexpr int kSummaryEdit = 1026;
inline constexpr int kBackButton = 1000;

// What the header-layout pages share beyond CLogoDlg: the bold title and the
// header texts' colours.
class CHeaderPageDlg : public CLogoDlg {
public:
    CHeaderPageDlg(uint16_t templateId, int titleId, int subtitleId);

    std::string m_strTitle;
    std::string m_strSubtitle;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Routes Back to OnBack.
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    // Back ends the page with kBackResult without storing the page's data;
    // a page that keeps its choices on Back stores them first.
    virtual void OnBack();
    // The title static in the page's font with weight 700.
    void MakeTitleBold();

    UniqueFont m_fontTitle;

private:
    int m_nTitleId;
    int m_nSubtitleId;
};

class CSelectFolder : public CHeaderPageDlg {
public:
    CSelectFolder();

    std::string m_strFolder;
    std::string* m_pInstallDir = nullptr;
    // Unbound: Next does not check the folder.
    DestinationConfirmation m_confirmDestination;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnBrowse();

    CWnd m_editFolder;
    CAlphaImage m_image;
};

class CProgramMenuFolderDlg : public CHeaderPageDlg {
public:
    CProgramMenuFolderDlg();

    std::string m_strFolderName;
    std::string* m_pStartMenuFolder = nullptr;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnBrowse();

    CAlphaImage m_image;
};

class CAdditionalTaskDlg : public CHeaderPageDlg {
public:
    CAdditionalTaskDlg();

    int m_bDesktopIconValue = 0;
    int m_bQuickLaunchIconValue = 0;
    int m_bFirewallRulesValue = 0;
    int* m_pDesktopIcon = nullptr;
    int* m_pQuickLaunchIcon = nullptr;
    int* m_pFirewallRules = nullptr;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnBack() override;
    void DoDataExchange(CDataExchange* dx) override;

private:
    void StoreChoices();
    // Moves the icon group up into the hidden firewall group's place.
    void CloseFirewallGap();
};

class CReadyDlg : public CHeaderPageDlg {
public:
    CReadyDlg();

    // Filled by the page loop (BuildReadySummary) before each showing.
    std::string m_strSummary;
    // Unbound: Install does not check the folder.
    DestinationConfirmation m_confirmDestination;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange* dx) override;

    CReadOnlyView m_summaryView;
};
