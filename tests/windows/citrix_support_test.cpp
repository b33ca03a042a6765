// The Citrix-support step with the sample payload's stand-in program, in an
// install folder whose path holds blanks. That no program planted at a prefix
// of the path runs is checked end to end (the wizard's C:\Program.exe canary).
#include "install_process_test_support.h"

#include <string>
#include <vector>

namespace {

using install_process_test::Contains;
using install_process_test::InstallProcessTest;
using installer_test::FromBuild;

constexpr char kProgram[] = "corvane-rdp-rde-installer.exe";

class CitrixSupportTest : public InstallProcessTest {
protected:
    void SetUp() override {
        InstallProcessTest::SetUp();
        // An unquoted start of "...\Corvane Apps\Workstation\..." would try
        // "...\Corvane.exe" first.
        const std::string parent = m_scratch / "Corvane Apps";
        ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
        m_installDir = parent + "\\Workstation";
        ASSERT_TRUE(CreateDirectoryA(m_installDir.c_str(), nullptr));
        m_app.m_strInstallDir = m_installDir;
        m_standInLog = m_scratch / "stand-in.log";
        SetEnvironmentVariableA("CORVANE_STAND_IN_LOG", m_standInLog.c_str());
    }
    void TearDown() override {
        for (const char* name :
             {"CORVANE_STAND_IN_LOG", "CORVANE_CITRIX_MODE", "CORVANE_CITRIX_SECONDS"}) {
            SetEnvironmentVariableA(name, nullptr);
        }
        InstallProcessTest::TearDown();
    }

    void PutProgram() {
        ASSERT_TRUE(CopyFileA(FromBuild(CORVANE_CITRIX_STAND_IN).c_str(),
                              (m_installDir + "\\" + kProgram).c_str(), FALSE))
            << "error " << GetLastError();
    }
    // What the started programs wrote to the stand-in log, which it then loses.
    std::string StandInSaid() {
        std::string said;
        if (installer_test::FileExists(m_standInLog)) {
            said = installer_test::ReadWholeFile(m_standInLog);
            DeleteFileA(m_standInLog.c_str());
        }
        return said;
    }

    std::string m_installDir;
    std::string m_standInLog;
};

// Installing and rolling back pass the one argument each by the quoted full
// path, logged around the run; only a signalled event asks for a restart.
TEST_F(CitrixSupportTest, PassesTheArgumentByTheQuotedPathAndRestartsOnRequest) {
    PutProgram();
    const struct {
        bool registerSupport;
        const char *argument, *mode;
        int restart;
    } cases[] = {
        {true, "RegisterCitrixDllEx", "", 0},
        {false, "UnregisterCitrixDllEx", "", 0},
        {true, "RegisterCitrixDllEx", "restart", 1},
    };
    const std::string quoted = "\"" + m_installDir + "\\" + kProgram + "\"";
    for (const auto& step : cases) {
        SCOPED_TRACE(std::string(step.argument) + " " + step.mode);
        SetEnvironmentVariableA("CORVANE_CITRIX_MODE", step.mode);
        m_app.m_bRestartNeeded = 0;
        const size_t before = LogLines().size();
        m_process->RegisterCitrixSupport(step.registerSupport);

        const std::vector<std::string> lines = LogLines();
        std::vector<std::string> expected = {"Start Citrix installation process: " + quoted + " " +
                                             step.argument};
        if (step.restart) {
            expected.push_back("Warning: === Reboot required to complete operation ===");
        }
        expected.push_back("Finish Citrix installation process");
        EXPECT_EQ(std::vector<std::string>(lines.begin() + before, lines.end()), expected);
        EXPECT_EQ(m_app.m_bRestartNeeded, step.restart);
        const std::string said = StandInSaid();
        EXPECT_NE(said.find(std::string("argument ") + step.argument), std::string::npos) << said;
        EXPECT_NE(said.find(step.restart ? "signalled" : "finished"), std::string::npos) << said;
    }
}

// A program that runs past the limit is ended after 25 seconds and the step
// finishes as usual.
TEST_F(CitrixSupportTest, ProgramPastTheLimitIsEnded) {
    PutProgram();
    SetEnvironmentVariableA("CORVANE_CITRIX_MODE", "long");
    SetEnvironmentVariableA("CORVANE_CITRIX_SECONDS", "60");
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

} // namespace
