// The Citrix-support step with the sample payload's stand-in program in an
// install folder whose path holds blanks: what it is given, the restart it
// asks for, the time limit, and that nothing planted at a prefix of the path
// runs in its place.
#include "install_process_test_support.h"

#include <string>
#include <vector>

namespace {

using install_process_test::Contains;
using install_process_test::FromBuild;
using install_process_test::InstallProcessTest;
using installer_test::ReadWholeFile;

constexpr char kProgram[] = "corvane-rdp-rde-installer.exe";
constexpr char kRebootWarning[] = "Warning: === Reboot required to complete operation ===";

// Sets an environment variable for the programs this test starts and takes it
// away again.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedEnvironment() { SetEnvironmentVariableA(m_name, nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
};

class CitrixSupportTest : public InstallProcessTest {
protected:
    void SetUp() override {
        InstallProcessTest::SetUp();
        // "...\Corvane Apps\Workstation": the prefix "...\Corvane.exe" is what an
        // unquoted start would try first.
        const std::string parent = m_scratch / "Corvane Apps";
        ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
        m_installDir = parent + "\\Workstation";
        ASSERT_TRUE(CreateDirectoryA(m_installDir.c_str(), nullptr));
        m_app.m_strInstallDir = m_installDir;
        m_standInLog = m_scratch / "stand-in.log";
    }

    void PutProgram() {
        ASSERT_TRUE(CopyFileA(FromBuild(CORVANE_CITRIX_STAND_IN).c_str(),
                              (m_installDir + "\\" + kProgram).c_str(), FALSE))
            << "cannot copy the stand-in, error " << GetLastError();
    }

    // What the started programs said, through the stand-in log.
    std::string StandInSaid() const {
        return installer_test::FileExists(m_standInLog) ? ReadWholeFile(m_standInLog) : "";
    }

    std::string m_installDir;
    std::string m_standInLog;
};

// Installing and rolling back pass the one argument each, by the program's
// quoted full path, and log the start and the end around the run.
TEST_F(CitrixSupportTest, PassesTheArgumentByTheQuotedPath) {
    PutProgram();
    ScopedEnvironment log("CORVANE_STAND_IN_LOG", m_standInLog);
    struct Case {
        bool registerSupport;
        const char* argument;
    };
    const std::string quoted = "\"" + m_installDir + "\\" + kProgram + "\"";
    for (const Case& step :
         {Case{true, "RegisterCitrixDllEx"}, Case{false, "UnregisterCitrixDllEx"}}) {
        SCOPED_TRACE(step.argument);
        DeleteFileA(m_standInLog.c_str());
        const size_t before = LogLines().size();
        m_process->RegisterCitrixSupport(step.registerSupport);

        const std::vector<std::string> lines = LogLines();
        const std::vector<std::string> expected = {
            "Start Citrix installation process: " + quoted + " " + step.argument,
            "Finish Citrix installation process",
        };
        EXPECT_EQ(std::vector<std::string>(lines.begin() + before, lines.end()), expected);
        const std::string said = StandInSaid();
        EXPECT_NE(said.find(std::string("argument ") + step.argument), std::string::npos) << said;
        EXPECT_NE(said.find("finished"), std::string::npos) << said;
    }
    EXPECT_EQ(m_app.m_bRestartNeeded, 0) << "nothing asked for a restart";
}

// The program asks for a restart through the global event: the setup ends
// with a restart request although nothing else needed one.
TEST_F(CitrixSupportTest, SignalledEventRequestsTheRestart) {
    PutProgram();
    ScopedEnvironment log("CORVANE_STAND_IN_LOG", m_standInLog);
    ScopedEnvironment mode("CORVANE_CITRIX_MODE", "restart");
    m_process->RegisterCitrixSupport(true);

    EXPECT_EQ(m_app.m_bRestartNeeded, 1);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 3u) << m_log->Content();
    EXPECT_EQ(lines[1], kRebootWarning);
    EXPECT_EQ(lines[2], "Finish Citrix installation process");
    EXPECT_NE(StandInSaid().find("signalled"), std::string::npos) << StandInSaid();
}

// A program that runs past the limit is ended after 25 seconds and the step
// finishes as usual, with no restart asked for.
TEST_F(CitrixSupportTest, ProgramPastTheLimitIsEnded) {
    PutProgram();
    ScopedEnvironment log("CORVANE_STAND_IN_LOG", m_standInLog);
    ScopedEnvironment mode("CORVANE_CITRIX_MODE", "long");
    ScopedEnvironment seconds("CORVANE_CITRIX_SECONDS", "60");
    const DWORD start = GetTickCount();
    m_process->RegisterCitrixSupport(true);
    const DWORD elapsed = GetTickCount() - start;

    EXPECT_GE(elapsed, 24000u);
    EXPECT_LT(elapsed, 40000u) << "the setup waited for the program's end";
    EXPECT_TRUE(Contains(LogLines(), "Finish Citrix installation process"));
    EXPECT_EQ(m_app.m_bRestartNeeded, 0);
    const std::string said = StandInSaid();
    EXPECT_NE(said.find("running for 60 seconds"), std::string::npos) << said;
    EXPECT_EQ(said.find("finished"), std::string::npos) << "it was not ended: " << said;
}

// A program planted at the blank-separated prefix of the install path
// ("...\Corvane.exe" for "...\Corvane Apps\...") never runs with the setup's
// rights, whether the real program is there or not.
TEST_F(CitrixSupportTest, ProgramPlantedAtAPathPrefixDoesNotRun) {
    ASSERT_TRUE(CopyFileA(FromBuild(CORVANE_STAND_IN_PROGRAM).c_str(),
                          (m_scratch / "Corvane.exe").c_str(), FALSE))
        << "cannot plant the program, error " << GetLastError();
    ScopedEnvironment log("CORVANE_STAND_IN_LOG", m_standInLog);

    for (bool present : {true, false}) {
        SCOPED_TRACE(present ? "program present" : "program missing");
        if (present) {
            PutProgram();
        } else {
            DeleteFileA((m_installDir + "\\" + kProgram).c_str());
        }
        DeleteFileA(m_standInLog.c_str());
        m_process->RegisterCitrixSupport(true);
        // Give a wrongly started program time to say something.
        Sleep(500);
        const std::string said = StandInSaid();
        EXPECT_EQ(said.find("Corvane.exe:"), std::string::npos) << said;
        EXPECT_EQ(said.find(kProgram) != std::string::npos, present) << said;
    }
}

// Without an install folder (nothing was installed yet) the step does nothing;
// a missing program ends it quietly after the start line.
TEST_F(CitrixSupportTest, NothingToStartIsQuiet) {
    m_app.m_strInstallDir.clear();
    m_process->RegisterCitrixSupport(false);
    EXPECT_TRUE(LogLines().empty()) << m_log->Content();

    m_app.m_strInstallDir = m_installDir;
    m_process->RegisterCitrixSupport(false);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u) << m_log->Content();
    EXPECT_EQ(lines[0].rfind("Start Citrix installation process: ", 0), 0u);
    EXPECT_EQ(m_app.m_bRestartNeeded, 0);
}

} // namespace
