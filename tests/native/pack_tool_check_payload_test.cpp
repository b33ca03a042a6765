// corvane-pack check-payload on payload folders a release engineer could hand
// it: complete ones pass, and every gap is named with the systems it breaks.
#include "pack_tool_test_support.h"

namespace corvane::pack::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> Programs(std::initializer_list<const char*> names) {
    std::vector<std::string> entries;
    for (const char* name : names) {
        entries.push_back(std::string(name) + ".x86");
        entries.push_back(std::string(name) + ".amd64");
    }
    return entries;
}

// Every entry each profile can ask for, written out from the rule tables
// rather than computed by the plan under test.
std::vector<std::string> WorkstationEntries() {
    std::vector<std::string> entries = Programs(
        {"corvane-rdp-workstation-installer.exe", "corvanewssrv.exe",
         "corvane-rdp-workstation-uninstaller.exe", "hxvwsh.exe", "corvanews.exe", "hxvchan.dll"});
    for (const char* os : {".xp", ".v7", ".v10"}) {
        entries.push_back(std::string("hxvhub.cat") + os);
        entries.push_back(std::string("hxvhub.sys.x86") + os);
        entries.push_back(std::string("hxvhub.sys.amd64") + os);
    }
    for (const char* os : {"", ".v10"}) {
        entries.push_back(std::string("hxvhub.inf") + os);
        entries.push_back(std::string("hxvplug.sys.x86") + os);
        entries.push_back(std::string("hxvplug.sys.amd64") + os);
    }
    for (const char* name :
         {"corvane-rdp-workstation-license.txt", "readme.txt", "corvane-rdp-workstation-help.chm",
          "hxvcitrix.dll.x86", "corvane-rdp-rde-installer.exe.x86"}) {
        entries.push_back(name);
    }
    return entries;
}

std::vector<std::string> ServerEntries() {
    std::vector<std::string> entries =
        Programs({"corvane-rdp-server-installer.exe", "corvanetssrv.exe",
                  "corvane-rdp-server-uninstaller.exe", "hxvtsh.exe", "corvanets.exe"});
    for (const char* os : {"", ".v10"}) {
        entries.push_back(std::string("hxvhubbus.cat") + os);
        entries.push_back(std::string("hxvhubbus.inf") + os);
        entries.push_back(std::string("hxvhubbus.sys.x86") + os);
        entries.push_back(std::string("hxvhubbus.sys.amd64") + os);
    }
    for (const char* name :
         {"corvane-rdp-server-license.txt", "readme.txt", "corvane-rdp-server-help.chm"}) {
        entries.push_back(name);
    }
    return entries;
}

std::vector<std::string> SystemUsbDriverEntries() {
    std::vector<std::string> entries;
    for (const char* size : {".x86", ".amd64"}) {
        for (const char* version : {"", ".xp", ".2k3", ".v62", ".2k8", ".v7"}) {
            entries.push_back(std::string("usbd.sys") + size + version);
        }
    }
    return entries;
}

class CheckPayloadTest : public PackToolTest {
protected:
    void WriteEntries(const std::vector<std::string>& names,
                      const std::string& folder = "payload") {
        fs::create_directories(Path(folder));
        for (const std::string& name : names) {
            WriteFile(folder + "/" + name, "placeholder of " + name + "\r\n");
        }
    }
    ToolRun Check(const char* profile, const std::string& folder = "payload") {
        return Run({"check-payload", "--profile", profile, P(folder)});
    }
};

TEST_F(CheckPayloadTest, CompleteFoldersPassWithoutNotes) {
    struct Case {
        const char* profile;
        std::vector<std::string> entries;
    };
    std::vector<std::string> server = ServerEntries();
    for (const std::string& usbd : SystemUsbDriverEntries()) {
        server.push_back(usbd);
    }
    const Case cases[] = {{"workstation", WorkstationEntries()}, {"server", server}};
    for (const Case& c : cases) {
        fs::remove_all(Path("payload"));
        WriteEntries(c.entries);
        const ToolRun run = Check(c.profile);
        EXPECT_EQ(run.code, 0) << c.profile << "\n" << run.out << run.err;
        EXPECT_THAT(run.out, HasSubstr("complete: every entry the " + std::string(c.profile) +
                                       " profile can ask for is present"));
        EXPECT_THAT(run.out, Not(HasSubstr("note:"))) << c.profile;
        EXPECT_THAT(run.out, Not(HasSubstr("missing:"))) << c.profile;
    }
}

// A package need not hold the usbd.sys copies: their absence is a note per
// variant, and the folder still passes.
TEST_F(CheckPayloadTest, ServerWithoutUsbDriverCopiesPassesWithANotePerVariant) {
    WriteEntries(ServerEntries());
    const ToolRun run = Check("server");
    EXPECT_EQ(run.code, 0) << run.out;
    for (const std::string& usbd : SystemUsbDriverEntries()) {
        EXPECT_THAT(run.out, HasSubstr("note: no " + usbd +
                                       ": the server setup copies no "
                                       "usbd.sys on "))
            << usbd;
    }
    EXPECT_THAT(run.out, HasSubstr("note: no usbd.sys.x86.2k3: the server setup copies no "
                                   "usbd.sys on 32-bit Windows Server 2003\n"));
}

// One entry taken away at a time: the tool names it and the systems that
// would fail, and the folder fails.
TEST_F(CheckPayloadTest, EachMissingEntryIsNamedWithTheSystemsThatNeedIt) {
    struct Case {
        const char* profile;
        const char* removed;
        const char* systems;
    };
    const Case cases[] = {
        {"workstation", "hxvhub.sys.amd64.v10", "64-bit Windows 10 and later"},
        {"workstation", "hxvhub.sys.x86.xp", "32-bit Windows 2000 to Server 2003"},
        {"workstation", "hxvhub.cat.v7", "every Windows Vista to 8.1"},
        {"workstation", "hxvhub.inf", "every Windows before 10"},
        {"workstation", "hxvplug.sys.amd64", "64-bit Windows before 10"},
        // The 32-bit build of the client library serves 32-bit Windows and, as
        // the companion, 64-bit Windows too.
        {"workstation", "hxvchan.dll.x86", "every Windows"},
        {"workstation", "hxvchan.dll.amd64", "every 64-bit Windows"},
        {"workstation", "corvane-rdp-rde-installer.exe.x86", "every Windows"},
        {"workstation", "corvanews.exe.x86", "every 32-bit Windows"},
        {"workstation", "readme.txt", "every Windows"},
        {"server", "hxvhubbus.sys.x86.v10", "32-bit Windows 10 and later"},
        {"server", "hxvhubbus.cat", "every Windows before 10"},
        {"server", "corvane-rdp-server-installer.exe.amd64", "every 64-bit Windows"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> entries =
            std::string(c.profile) == "server" ? ServerEntries() : WorkstationEntries();
        ASSERT_EQ(std::count(entries.begin(), entries.end(), c.removed), 1) << c.removed;
        entries.erase(std::find(entries.begin(), entries.end(), c.removed));
        fs::remove_all(Path("payload"));
        WriteEntries(entries);
        const ToolRun run = Check(c.profile);
        EXPECT_EQ(run.code, 1) << c.removed << "\n" << run.out;
        EXPECT_THAT(run.out, HasSubstr("missing: " + std::string(c.removed) + " (needed on " +
                                       c.systems + ")\n"))
            << run.out;
        EXPECT_THAT(run.out, HasSubstr("INCOMPLETE: 1 entry missing")) << c.removed;
    }
}

// The reader looks entries up by their exact name; a file whose name differs
// only in letter case would be packed and never found.
TEST_F(CheckPayloadTest, NameInOtherLetterCaseIsMissingWithAHint) {
    std::vector<std::string> entries = WorkstationEntries();
    entries.erase(std::find(entries.begin(), entries.end(), "hxvhub.inf.v10"));
    entries.push_back("HXVHUB.INF.v10");
    WriteEntries(entries);
    const ToolRun run = Check("workstation");
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr("missing: hxvhub.inf.v10 (needed on every Windows 10 and "
                                   "later); the folder has HXVHUB.INF.v10, which differs in "
                                   "letter case"));
}

TEST_F(CheckPayloadTest, ExtraFilesAndSubfoldersAreNotedWithoutFailing) {
    std::vector<std::string> entries = WorkstationEntries();
    entries.push_back("hxvhub.sys.amd64.v8");
    entries.push_back("usbd.sys.x86.xp"); // a server file
    WriteEntries(entries);
    fs::create_directories(Path("payload/amd64"));
    const ToolRun run = Check("workstation");
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("note: hxvhub.sys.amd64.v8 is not asked for by the "
                                   "workstation profile"));
    EXPECT_THAT(run.out, HasSubstr("note: usbd.sys.x86.xp is not asked for"));
    EXPECT_THAT(run.out, HasSubstr("note: the subfolder amd64 is not part of the payload"));
}

TEST_F(CheckPayloadTest, EmptyFolderListsEverythingAndCounts) {
    fs::create_directories(Path("payload"));
    const ToolRun run = Check("server");
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out,
                HasSubstr("0 of " + std::to_string(ServerEntries().size()) + " entries present"));
    EXPECT_THAT(run.out, HasSubstr("INCOMPLETE: " + std::to_string(ServerEntries().size()) +
                                   " entries missing"));
}

TEST_F(CheckPayloadTest, UsageAndUnreadableFolders) {
    WriteFile("a-file", "not a folder");
    fs::create_directories(Path("payload"));
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"no profile",
         {"check-payload", P("payload")},
         2,
         "--profile workstation|server is "
         "required"},
        {"unknown profile",
         {"check-payload", "--profile", "client", P("payload")},
         2,
         "unknown profile \"client\""},
        {"no folder", {"check-payload", "--profile", "server"}, 2, "name the payload folder"},
        {"two folders",
         {"check-payload", "--profile", "server", P("payload"), P("payload")},
         2,
         "unexpected argument"},
        {"missing folder",
         {"check-payload", "--profile", "server", P("nowhere")},
         1,
         "does not exist"},
        {"a file", {"check-payload", "--profile=server", P("a-file")}, 1, "is not a folder"},
    };
    for (const Case& c : cases) {
        const ToolRun run = Run(c.args);
        EXPECT_EQ(run.code, c.code) << c.what << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.message)) << c.what;
    }
}

} // namespace
} // namespace corvane::pack::testing
