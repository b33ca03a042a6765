// What the resources put into the setup programs: a text for every string id
// (with the resource compiler's escapes undone), the version block, the
// manifest, the licence and the icon, read from the two probe programs built
// with the workstation and the server resources. This test program carries
// the workstation ones too.
#include "dll_safety.h"
#include "handles.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The string table's ids; the texts are shared by both editions.
constexpr UINT kFirstString = 2, kLastString = 66;
bool IsStringId(UINT id) {
    return id != 43 && id != 56 && id != 65;
}

// Texts where the resource compiler's escapes and blanks could go wrong (the
// page and registry tests read more of them as shown).
const struct {
    UINT id;
    const char* text;
} kTrickyStrings[] = {
    {25, "There is an error occurred while initializing the setup modules "},
    {34, "Exception during Setup initialization!\nException code = 0x%.8x\nException address = "
         "0x%.8x"},
    {57, "To resolve installation issue please send installation log file\n'%s'\nto our support "
         "team."},
};

// A resource's bytes; empty when it is missing.
std::string ResourceOf(HMODULE module, const char* name, const char* type) {
    HRSRC found = FindResourceA(module, name, type);
    return found ? std::string(static_cast<const char*>(LockResource(LoadResource(module, found))),
                               SizeofResource(module, found))
                 : std::string();
}

// The parameter is the edition's name; its probe carries its resources.
class EditionResources : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        m_edition = GetParam();
        CharLowerA(&m_edition[0]);
        // Built beside this program.
        char program[MAX_PATH];
        m_path = std::string(program, GetModuleFileNameA(nullptr, program, MAX_PATH));
        m_path = m_path.substr(0, m_path.rfind('\\') + 1) + "framework_version_probe_" + m_edition +
                 ".exe";
        m_module.reset(LoadLibraryExA(m_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(m_module) << m_path << ": error " << GetLastError();
    }
    std::string Resource(const char* name, const char* type) {
        return ResourceOf(m_module.get(), name, type);
    }

    std::string m_edition; // in lower case
    std::string m_path;
    UniqueHmodule m_module;
};

TEST_P(EditionResources, VersionBlockNamesTheEdition) {
    const std::string product = "Corvane RDP Edition " + GetParam();
    const std::string wizard = product + " Setup Wizard";
    const std::string file = "corvane-rdp-" + m_edition + "-setup.exe";
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeA(m_path.c_str(), &ignored));
    ASSERT_TRUE(GetFileVersionInfoA(m_path.c_str(), 0, DWORD(block.size()), block.data()))
        << "no version block";
    const auto query = [&](const std::string& path) -> void* {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueA(block.data(), path.c_str(), &value, &length) ? value : nullptr;
    };
    const struct {
        const char *key, *value;
        bool whole; // false: the value holds it
    } fields[] = {
        {"FileDescription", wizard.c_str(), true},   {"Comments", wizard.c_str(), true},
        {"ProductName", product.c_str(), true},      {"CompanyName", "Marrowfend LLC", true},
        {"InternalName", file.c_str(), true},        {"OriginalFilename", file.c_str(), true},
        {"FileVersion", "3,12,0,3230", true},        {"ProductVersion", "3,12,0,3230", true},
        {"PrivateBuild", "3,12,0,3230", true},       {"SpecialBuild", "3,12,0,3230", true},
        {"LegalCopyright", "Marrowfend LLC", false}, {"LegalTrademarks", "Marrowfend LLC", false},
    };
    for (const auto& field : fields) {
        const auto* value = static_cast<const char*>(
            query(std::string("\\StringFileInfo\\040904b0\\") + field.key));
        ASSERT_NE(value, nullptr) << field.key << " is missing";
        EXPECT_TRUE(field.whole ? std::strcmp(value, field.value) == 0
                                : std::strstr(value, field.value) != nullptr)
            << field.key << ": " << value;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query("\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, (3u << 16) | 12u);
    EXPECT_EQ(fixed->dwFileVersionLS, 3230u);
    EXPECT_EQ(fixed->dwProductVersionMS, (3u << 16) | 12u);
    EXPECT_EQ(fixed->dwProductVersionLS, 3230u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    const auto* translation = static_cast<const WORD*>(query("\\VarFileInfo\\Translation"));
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);
}

// The manifest makes Windows elevate the program and report its real version
// (the version 6 controls are checked at work below, the versions Wine tells
// only a program that declares them end to end); the licence is the edition's
// closed RTF document; the icon and every text are there.
TEST_P(EditionResources, ManifestLicenceIconAndTexts) {
    const std::string manifest = Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    for (const char* text : {
             "level=\"requireAdministrator\"",
             "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true"
             "</dpiAware>",
             "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
         }) {
        EXPECT_NE(manifest.find(text), std::string::npos) << text;
    }

    const std::string rtf = Resource(MAKEINTRESOURCEA(IDR_LICENSE_RTF), kLicenseRtfResourceType);
    EXPECT_EQ(rtf.compare(0, 6, "{\\rtf1"), 0) << "no licence resource 159 of type RTF";
    EXPECT_NE(rtf.find("Corvane RDP Edition - " + GetParam()), std::string::npos)
        << "another edition's text";
    EXPECT_EQ(rtf.find_last_not_of("\r\n"), rtf.rfind('}')) << "the document must be closed";

    HICON icon = static_cast<HICON>(
        LoadImageA(m_module.get(), MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(icon, nullptr) << "no icon 128: error " << GetLastError();
    DestroyIcon(icon);

    for (UINT id = kFirstString; id <= kLastString; ++id) {
        char text[1024] = {};
        EXPECT_EQ(LoadStringA(m_module.get(), id, text, sizeof text) > 0, IsStringId(id))
            << "string " << id;
    }
    for (const auto& expected : kTrickyStrings) {
        char text[1024] = {};
        LoadStringA(m_module.get(), expected.id, text, sizeof text);
        EXPECT_STREQ(text, expected.text) << "string " << expected.id;
    }
}

INSTANTIATE_TEST_SUITE_P(Editions, EditionResources, testing::Values("Workstation", "Server"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

// Without the manifest's dependency at work the wizard gets the unthemed
// version 5 controls. (Wine's version 6 reports 5.x from DllGetVersion, so the
// path tells.)
TEST(Manifest, CommonControlsVersionSixIsActive) {
    UniqueHmodule comctl(LoadSystemLibrary("comctl32.dll"));
    char path[MAX_PATH] = {};
    GetModuleFileNameA(comctl.get(), path, MAX_PATH);
    CharLowerA(path);
    EXPECT_NE(std::string(path).find(
                  "\\winsxs\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
              std::string::npos)
        << path;
}

} // namespace
