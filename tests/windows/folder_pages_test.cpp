// The folder, task and ready pages from the setup program's own templates on
// Wine's dialog manager: their texts and header look, what Next and Back store
// into the application's choices, the task boxes the system's version allows,
// and the summary on the Ready page. The Browse dialogs are not driven; what
// the pages make of a chosen folder is tested natively.
#include "folder_pages.h"
#include "page_test_support.h"
#include "product_profile.h"
#include "install_app.h"
#include "resource_ids.h"
#include "strings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using page_test::Scripted;
using page_test::TextOf;

RECT ClientRectOf(HWND page, int id) {
    RECT rect = {};
    GetWindowRect(GetDlgItem(page, id), &rect);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool IsVistaOrLater() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwMajorVersion >= 6;
}

// What every header page shows above its own controls.
struct HeaderLook {
    std::string title;
    std::string subtitle;
    LONG titleWeight = 0;
    LONG subtitleWeight = 0;
    bool titleOnWindowBrush = false;
    COLORREF titleTextColour = CLR_INVALID;
    COLORREF titleBackground = CLR_INVALID;
};

HeaderLook ReadHeader(HWND page, int titleId, int subtitleId) {
    HeaderLook look;
    look.title = TextOf(GetDlgItem(page, titleId));
    look.subtitle = TextOf(GetDlgItem(page, subtitleId));
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendDlgItemMessageA(page, titleId, WM_GETFONT, 0, 0)),
               sizeof font, &font);
    look.titleWeight = font.lfWeight;
    GetObjectA(reinterpret_cast<HFONT>(SendDlgItemMessageA(page, subtitleId, WM_GETFONT, 0, 0)),
               sizeof font, &font);
    look.subtitleWeight = font.lfWeight;
    // Ask the page how it colours its title, as the static does before painting.
    const HDC screen = GetDC(page);
    const HDC dc = CreateCompatibleDC(screen);
    const LRESULT brush = SendMessageA(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(GetDlgItem(page, titleId)));
    look.titleOnWindowBrush = brush == reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    look.titleTextColour = GetTextColor(dc);
    look.titleBackground = GetBkColor(dc);
    DeleteDC(dc);
    ReleaseDC(page, screen);
    return look;
}

void ExpectHeader(const HeaderLook& look, const std::string& title, const std::string& subtitle) {
    EXPECT_EQ(look.title, title);
    EXPECT_EQ(look.subtitle, subtitle);
    EXPECT_EQ(look.titleWeight, 700) << "the title is not bold";
    EXPECT_LT(look.subtitleWeight, 700) << "the subtitle took the bold font";
    EXPECT_TRUE(look.titleOnWindowBrush);
    EXPECT_EQ(look.titleTextColour, GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(look.titleBackground, GetSysColor(COLOR_WINDOW));
}

SIZE SizeOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

const std::string kDisplayName = CurrentProfile().displayName;

TEST(SelectFolderPage, ShowsTheInstallFolderReadOnlyAndNextStoresIt) {
    std::string installDir = "C:\\Program Files\\" + kDisplayName;
    Scripted<CSelectFolder> page;
    page.m_pInstallDir = &installDir;
    HeaderLook header;
    std::string shown;
    LONG editStyle = 0;
    SIZE image = {};
    page.m_script = [&](Scripted<CSelectFolder>& p) {
        header = ReadHeader(p.m_hWnd, kSelectFolderTitle, kFolderSubtitle);
        shown = TextOf(p.Item(kFolderEdit));
        editStyle = GetWindowLongA(p.Item(kFolderEdit), GWL_STYLE);
        image = SizeOf(p.Item(kDestinationImage));
        // What Browse would leave in the edit.
        SetWindowTextA(p.Item(kFolderEdit), "D:\\Tools\\Corvane");
        p.Click(IDOK);
    };
    ASSERT_EQ(page.DoModal(), IDOK);
    ExpectHeader(header, "Select Destination Location",
                 "Where should " + kDisplayName + " be installed?");
    EXPECT_EQ(shown, "C:\\Program Files\\" + kDisplayName);
    EXPECT_TRUE(editStyle & ES_READONLY) << "the folder can be typed over";
    EXPECT_EQ(image.cx, 32);
    EXPECT_EQ(image.cy, 32);
    EXPECT_EQ(installDir, "D:\\Tools\\Corvane");
}

TEST(SelectFolderPage, BackEndsWithTheBackResultAndShowsTheFolderAgainNextTime) {
    std::string installDir = "C:\\First";
    Scripted<CSelectFolder> page;
    page.m_pInstallDir = &installDir;
    std::string secondShowing;
    page.m_script = [&](Scripted<CSelectFolder>& p) { p.Click(kBackButton); };
    ASSERT_EQ(page.DoModal(), kBackResult);
    // The page object keeps its strings; a new showing reads the choice again.
    installDir = "C:\\Second";
    page.m_script = [&](Scripted<CSelectFolder>& p) {
        secondShowing = TextOf(p.Item(kFolderEdit));
        p.Click(kBackButton);
    };
    ASSERT_EQ(page.DoModal(), kBackResult);
    EXPECT_EQ(secondShowing, "C:\\Second");
}

TEST(StartMenuFolderPage, TakesTheTypedNameExactly) {
    const char* const typedNames[] = {"Tools\\Corvane", "", "  spaced  ", "A\\B\\C"};
    for (const char* typed : typedNames) {
        SCOPED_TRACE(typed);
        std::string folder = kDisplayName;
        Scripted<CProgramMenuFolderDlg> page;
        page.m_pStartMenuFolder = &folder;
        HeaderLook header;
        std::string shown;
        LONG editStyle = 0;
        SIZE image = {};
        page.m_script = [&](Scripted<CProgramMenuFolderDlg>& p) {
            header = ReadHeader(p.m_hWnd, kStartMenuTitle, kFolderSubtitle);
            shown = TextOf(p.Item(kFolderEdit));
            editStyle = GetWindowLongA(p.Item(kFolderEdit), GWL_STYLE);
            image = SizeOf(p.Item(kStartMenuImage));
            SetWindowTextA(p.Item(kFolderEdit), typed);
            p.Click(IDOK);
        };
        ASSERT_EQ(page.DoModal(), IDOK);
        ExpectHeader(header, "Select Start Menu Folder",
                     "Where should Setup place the program shortcuts?");
        EXPECT_EQ(shown, kDisplayName);
        EXPECT_FALSE(editStyle & ES_READONLY);
        EXPECT_EQ(image.cx, 32);
        EXPECT_EQ(image.cy, 32);
        EXPECT_EQ(folder, typed);
    }
}

TEST(StartMenuFolderPage, BackEndsWithTheBackResult) {
    std::string folder = kDisplayName;
    Scripted<CProgramMenuFolderDlg> page;
    page.m_pStartMenuFolder = &folder;
    page.m_script = [&](Scripted<CProgramMenuFolderDlg>& p) { p.Click(kBackButton); };
    EXPECT_EQ(page.DoModal(), kBackResult);
}

struct TaskBoxes {
    bool quickLaunchVisible = false;
    bool quickLaunchEnabled = false;
    bool firewallVisible = false;
    bool firewallLabelVisible = false;
    bool desktopChecked = false;
    RECT iconsLabel = {}, firewallLabel = {}, desktop = {};
    // The desktop box's distance below the group label in the template (105 and 115).
    int templateOffset = 0;
};

// Shows the tasks page with the given choices, reads its boxes, toggles the
// desktop box and leaves through `button`.
int RunTasksPage(int* desktop, int* quickLaunch, int* firewall, int button, TaskBoxes* boxes,
                 HeaderLook* header = nullptr) {
    Scripted<CAdditionalTaskDlg> page;
    page.m_pDesktopIcon = desktop;
    page.m_pQuickLaunchIcon = quickLaunch;
    page.m_pFirewallRules = firewall;
    page.m_script = [&](Scripted<CAdditionalTaskDlg>& p) {
        if (header != nullptr) {
            *header = ReadHeader(p.m_hWnd, kTasksTitle, kTasksSubtitle);
        }
        boxes->quickLaunchVisible = IsWindowVisible(p.Item(kQuickLaunchIconCheck)) != FALSE;
        boxes->quickLaunchEnabled = IsWindowEnabled(p.Item(kQuickLaunchIconCheck)) != FALSE;
        boxes->firewallVisible = IsWindowVisible(p.Item(kFirewallRulesCheck)) != FALSE;
        boxes->firewallLabelVisible = IsWindowVisible(p.Item(kFirewallGroupLabel)) != FALSE;
        boxes->desktopChecked =
            SendMessageA(p.Item(kDesktopIconCheck), BM_GETCHECK, 0, 0) == BST_CHECKED;
        boxes->iconsLabel = ClientRectOf(p.m_hWnd, kIconsGroupLabel);
        boxes->firewallLabel = ClientRectOf(p.m_hWnd, kFirewallGroupLabel);
        boxes->desktop = ClientRectOf(p.m_hWnd, kDesktopIconCheck);
        RECT units = {0, 105, 0, 115};
        MapDialogRect(p.m_hWnd, &units);
        boxes->templateOffset = units.bottom - units.top;
        p.Click(kDesktopIconCheck);
        p.Click(button);
    };
    return int(page.DoModal());
}

TEST(AdditionalTasksPage, OffersTheIconsTheSystemHasAndNeverTheFirewall) {
    int desktop = 1, quickLaunch = 1, firewall = 1;
    TaskBoxes boxes;
    HeaderLook header;
    ASSERT_EQ(RunTasksPage(&desktop, &quickLaunch, &firewall, IDOK, &boxes, &header), IDOK);
    ExpectHeader(header, "Select Additional Tasks", "Which additional tasks should be performed?");
    EXPECT_FALSE(boxes.firewallVisible);
    EXPECT_FALSE(boxes.firewallLabelVisible);
    // The icon group moves up into the firewall group's place, its boxes with it.
    EXPECT_EQ(boxes.iconsLabel.top, boxes.firewallLabel.top);
    EXPECT_EQ(boxes.iconsLabel.left, boxes.firewallLabel.left);
    EXPECT_EQ(boxes.desktop.top - boxes.iconsLabel.top, boxes.templateOffset)
        << "the desktop box did not move with its group";
    EXPECT_TRUE(boxes.desktopChecked);
    EXPECT_EQ(desktop, 0) << "the cleared desktop box was not stored";
    EXPECT_EQ(firewall, 0);
    if (IsVistaOrLater()) {
        EXPECT_FALSE(boxes.quickLaunchVisible);
        EXPECT_FALSE(boxes.quickLaunchEnabled);
        EXPECT_EQ(quickLaunch, 0) << "a Quick Launch icon on a system without the bar";
    } else {
        EXPECT_TRUE(boxes.quickLaunchVisible);
        EXPECT_EQ(quickLaunch, 1);
    }
}

TEST(AdditionalTasksPage, BackStoresTheChoicesToo) {
    int desktop = 0, quickLaunch = 0, firewall = 1;
    TaskBoxes boxes;
    ASSERT_EQ(RunTasksPage(&desktop, &quickLaunch, &firewall, kBackButton, &boxes), kBackResult);
    EXPECT_FALSE(boxes.desktopChecked);
    EXPECT_EQ(desktop, 1) << "the choice made before Back was lost";
    EXPECT_EQ(firewall, 0);
    EXPECT_EQ(quickLaunch, 0);
}

TEST(ReadyPage, ShowsTheSummaryReadOnlyAndInstallIsNext) {
    // The summary as the page loop makes it, from the application's choices.
    CInstallApp app;
    app.m_strInstallDir = "C:\\Program Files\\" + kDisplayName;
    app.m_strStartMenuFolder = kDisplayName;
    app.m_bDesktopIcon = 1;
    app.m_bQuickLaunchIcon = 0;
    app.m_bFirewallRules = 0;
    Scripted<CReadyDlg> page;
    app.BuildReadySummary(&page.m_strSummary);
    HeaderLook header;
    std::string shown, install;
    LONG editStyle = 0;
    LRESULT lines = 0;
    page.m_script = [&](Scripted<CReadyDlg>& p) {
        header = ReadHeader(p.m_hWnd, kReadyTitle, kReadySubtitle);
        shown = TextOf(p.Item(kSummaryEdit));
        editStyle = GetWindowLongA(p.Item(kSummaryEdit), GWL_STYLE);
        lines = SendMessageA(p.Item(kSummaryEdit), EM_GETLINECOUNT, 0, 0);
        install = TextOf(p.Item(IDOK));
        p.Click(IDOK);
    };
    ASSERT_EQ(page.DoModal(), IDOK);
    ExpectHeader(header, "Ready to Install",
                 "Now Setup is ready to begin installation on your computer");
    EXPECT_EQ(shown, page.m_strSummary);
    EXPECT_NE(shown.find("Create a desktop icon"), std::string::npos);
    EXPECT_EQ(lines, 10) << "the summary is not shown line by line";
    EXPECT_TRUE(editStyle & ES_READONLY);
    EXPECT_TRUE(editStyle & ES_MULTILINE);
    EXPECT_EQ(install, "Install");
}

TEST(ReadyPage, BackEndsWithTheBackResult) {
    Scripted<CReadyDlg> page;
    page.m_script = [&](Scripted<CReadyDlg>& p) { p.Click(kBackButton); };
    EXPECT_EQ(page.DoModal(), kBackResult);
}

} // namespace
