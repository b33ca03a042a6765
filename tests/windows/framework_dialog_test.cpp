// Modal dialogs on Wine's dialog manager: what ends them and with which
// result, data exchange in both directions, a page shown again after it ended,
// and a template whose font was replaced in memory.
#include "dialog.h"
#include "dialog_template.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kTemplate = 100;
constexpr int kBack = 1000;
constexpr int kName = 1001;
constexpr int kIcon = 1002;

// A dialog that runs a script once it is up: the script plays the user by
// posting what a click or key would.
class ScriptedDialog : public CDialog {
public:
    ScriptedDialog() : CDialog(kTemplate) {}

    std::function<void(HWND)> m_script;
    std::string m_strName = "before";
    int m_bIcon = 1;
    std::string m_shownName;
    int m_nShownIcon = -1;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        char text[64] = {};
        GetDlgItemTextA(m_hWnd, kName, text, sizeof text);
        m_shownName = text;
        m_nShownIcon = IsDlgButtonChecked(m_hWnd, kIcon) == BST_CHECKED;
        if (m_script) {
            m_script(m_hWnd);
        }
        return TRUE;
    }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Text(dx, kName, m_strName);
        DDX_Check(dx, kIcon, m_bIcon);
    }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
        if (LOWORD(wParam) == kBack) {
            EndDialog(kBack);
            return TRUE;
        }
        return CDialog::OnCommand(wParam, lParam);
    }
};

void Click(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void TypeAndUncheck(HWND dialog) {
    SetDlgItemTextA(dialog, kName, "typed");
    CheckDlgButton(dialog, kIcon, BST_UNCHECKED);
}

struct EndCase {
    const char* name;
    std::function<void(HWND)> script;
    INT_PTR result;
    bool stored;
};

TEST(Dialog, EachWayOfEndingGivesItsResultAndOnlyOkStores) {
    const EndCase cases[] = {
        {"Next",
         [](HWND d) {
             TypeAndUncheck(d);
             Click(d, IDOK);
         },
         IDOK, true},
        {"Enter key",
         [](HWND d) {
             TypeAndUncheck(d);
             PostMessageA(GetDlgItem(d, kName), WM_KEYDOWN, VK_RETURN, 0);
         },
         IDOK, true},
        {"Cancel",
         [](HWND d) {
             TypeAndUncheck(d);
             Click(d, IDCANCEL);
         },
         IDCANCEL, false},
        {"Escape key",
         [](HWND d) {
             TypeAndUncheck(d);
             PostMessageA(GetDlgItem(d, kName), WM_KEYDOWN, VK_ESCAPE, 0);
         },
         IDCANCEL, false},
        {"close box",
         [](HWND d) {
             TypeAndUncheck(d);
             PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0);
         },
         IDCANCEL, false},
        {"Back",
         [](HWND d) {
             TypeAndUncheck(d);
             Click(d, kBack);
         },
         kBack, false},
    };
    for (const EndCase& c : cases) {
        ScriptedDialog dialog;
        dialog.m_script = c.script;
        EXPECT_EQ(dialog.DoModal(), c.result) << c.name;
        EXPECT_EQ(dialog.m_shownName, "before") << c.name << ": members not shown at the start";
        EXPECT_EQ(dialog.m_nShownIcon, 1) << c.name;
        EXPECT_EQ(dialog.m_strName, c.stored ? "typed" : "before") << c.name;
        EXPECT_EQ(dialog.m_bIcon, c.stored ? 0 : 1) << c.name;
        EXPECT_EQ(dialog.m_hWnd, nullptr) << c.name << ": the object still holds the closed window";
    }
}

TEST(Dialog, ThePageObjectIsShownAgainWithWhatItKept) {
    ScriptedDialog dialog;
    dialog.m_script = [](HWND d) {
        TypeAndUncheck(d);
        Click(d, IDOK);
    };
    ASSERT_EQ(dialog.DoModal(), IDOK);
    dialog.m_script = [](HWND d) { Click(d, kBack); };
    ASSERT_EQ(dialog.DoModal(), kBack);
    EXPECT_EQ(dialog.m_shownName, "typed");
    EXPECT_EQ(dialog.m_nShownIcon, 0);
}

TEST(Dialog, AnUnownedDialogOpensInTheMiddleOfTheWorkArea) {
    ScriptedDialog dialog;
    RECT rect = {};
    dialog.m_script = [&](HWND d) {
        GetWindowRect(d, &rect);
        Click(d, IDCANCEL);
    };
    ASSERT_EQ(dialog.DoModal(), IDCANCEL);
    RECT area = {};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0));
    EXPECT_NEAR((rect.left + rect.right) / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, (area.top + area.bottom) / 2, 1);
}

TEST(Dialog, MissingTemplateIsMinusOne) {
    CDialog dialog(4711);
    EXPECT_EQ(dialog.DoModal(), -1);
}

// A control taken over through data exchange gets the dialog's messages and
// is handed back when the dialog goes.
class CountingControl : public CWnd {
public:
    int m_nTextsSet = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SETTEXT) {
            ++m_nTextsSet;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

class ControlDialog : public ScriptedDialog {
public:
    CountingControl m_name;

protected:
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, kName, m_name);
        ScriptedDialog::DoDataExchange(dx);
    }
};

TEST(Dialog, DataExchangeTakesOverAControlOnceAndGivesItBack) {
    ControlDialog dialog;
    dialog.m_script = [](HWND d) { Click(d, IDOK); };
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_name.m_nTextsSet, 1) << "the start text goes through the object";
    EXPECT_EQ(dialog.m_name.m_hWnd, nullptr);
}

// The same template with another font, as the wizard pages show it: Windows
// must take the edited bytes and build the dialog in that font.
TEST(Dialog, TemplateWithAReplacedFontIsShownInThatFont) {
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(kTemplate), RT_DIALOG);
    ASSERT_NE(resource, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, resource)));
    std::vector<uint8_t> edited;
    ASSERT_TRUE(corvane::dialog_template::SetFont(bytes, SizeofResource(module, resource),
                                                  u"Tahoma", 14, &edited));
    LONG widths[2] = {};
    for (const bool replaced : {false, true}) {
        ScriptedDialog dialog;
        LOGFONTA font = {};
        RECT button = {};
        dialog.m_script = [&](HWND d) {
            GetObjectA(reinterpret_cast<HFONT>(SendMessageA(d, WM_GETFONT, 0, 0)), sizeof font,
                       &font);
            GetWindowRect(GetDlgItem(d, IDOK), &button);
            Click(d, IDCANCEL);
        };
        const INT_PTR result = replaced ? dialog.DoModalIndirect(edited.data()) : dialog.DoModal();
        ASSERT_EQ(result, IDCANCEL);
        EXPECT_STREQ(font.lfFaceName, replaced ? "Tahoma" : "Segoe UI");
        widths[replaced] = button.right - button.left;
        // Both controls of data exchange still work in the edited template.
        EXPECT_EQ(dialog.m_shownName, "before");
    }
    // Dialog units follow the font: 14 points instead of 9 make every button wider.
    EXPECT_GT(widths[1] * 10, widths[0] * 13) << widths[0] << " and " << widths[1] << " pixels";
}

} // namespace
