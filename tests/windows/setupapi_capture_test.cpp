// The SetupAPI log capture on the prefix's real Setup key and device logs: the
// test plays SetupAPI's part between the start and the end of the capture, and
// puts LogLevel and LogPath back. Which log and level each Windows version gets
// and the growth limits are tested natively.
#include "installer_test_support.h"
#include "setup_log_api.h"

using installer_test::RegValue;
using installer_test::Sz;
using installer_test::TestSetupLog;
using installer_test::WriteWholeFile;

namespace {

constexpr char kSetupKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
constexpr char kBegin[] = "==== SetupApi log begin ====\r\n";
constexpr char kEnd[] = "===== SetupApi log end =====\r\n";
const std::string kOldLines = ">>>  [Device Install (Hardware initiated) - USB\\VID_1234]\r\n"
                              "<<<  [Exit status: SUCCESS]\r\n";
const std::string kNewLines = ">>>  [Device Install (DiInstallDriver) - hxvhub.inf]\r\n"
                              "<<<  [Exit status: SUCCESS]\r\n";

// SetupAPI's settings, in its own (on 64-bit Windows the 64-bit) view.
RegValue Setting(const char* name) {
    return installer_test::ReadValue(kSetupKey, name, KEY_WOW64_64KEY);
}
void Set(const char* name, const RegValue& value) {
    installer_test::WriteValue(kSetupKey, name, value, KEY_WOW64_64KEY);
}
RegValue Dword(DWORD number) {
    return {true, REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number)};
}
std::string Copied(const std::string& bytes) {
    return kBegin + bytes + kEnd;
}

class SetupApiCaptureTest : public ::testing::Test {
protected:
    installer_test::ScratchFolder logFolder, deviceLogFolder;
    TestSetupLog log{logFolder / "setup.log"};
    const RegValue savedLevel = Setting("LogLevel"), savedPath = Setting("LogPath");

    void SetUp() override {
        OSVERSIONINFOA version{sizeof version};
        if (GetVersionExA(&version) && version.dwMajorVersion < 6) {
            GTEST_SKIP() << "LogPath and setupapi.dev.log are Vista's";
        }
        Set("LogPath", Sz(deviceLogFolder.Path()));
    }
    void TearDown() override {
        Set("LogLevel", savedLevel);
        Set("LogPath", savedPath);
    }
    std::string DeviceLog() const { return deviceLogFolder / "setupapi.dev.log"; }
};

// A log created during the installation is copied whole; one that grew, only
// what it gained, byte for byte: no conversion, no line splitting.
TEST_F(SetupApiCaptureTest, CopiesWhatTheDeviceLogGained) {
    const std::string raw = std::string("bare\nfeed\rzero\0byte\xff\xfe\r\n", 24);
    for (const std::string& after : {kNewLines, kNewLines + raw}) {
        CSetupLogApi capture(log.Handle());
        ASSERT_TRUE(capture.BeginSetupApiCapture());
        WriteWholeFile(DeviceLog(), after);
    }
    EXPECT_EQ(log.Content(), Copied(kNewLines) + Copied(raw));
}

// The level is raised for the capture and put back exactly as it was, also
// after a second start, which must not take the raised level for the one to
// restore. A system without a level is not given one, and a level that is not
// a 4-byte number (it could not be put back as it was) is left alone.
TEST_F(SetupApiCaptureTest, RaisesTheLevelAndPutsItBack) {
    const struct {
        RegValue before, during;
    } cases[] = {
        {Dword(0x20000000), Dword(0x5050)},
        {RegValue{}, RegValue{}},
        {Sz("verbose"), Sz("verbose")},
    };
    const RegValue path = Setting("LogPath");
    for (const auto& c : cases) {
        Set("LogLevel", c.before);
        {
            CSetupLogApi capture(log.Handle());
            ASSERT_TRUE(capture.BeginSetupApiCapture());
            EXPECT_TRUE(capture.BeginSetupApiCapture());
            EXPECT_EQ(Setting("LogLevel"), c.during);
        }
        EXPECT_EQ(Setting("LogLevel"), c.before);
    }
    EXPECT_EQ(Setting("LogPath"), path) << "LogPath is only read";
}

// An installer constructed to capture starts it, and its log object ends it
// when the installer goes: the copy comes last.
TEST_F(SetupApiCaptureTest, RunsForTheLifetimeOfAnInstallerThatAsksForIt) {
    for (const BOOL capture : {TRUE, FALSE}) {
        SCOPED_TRACE(capture ? "asked" : "not asked");
        Set("LogLevel", Dword(0));
        WriteWholeFile(DeviceLog(), kOldLines);
        TestSetupLog caseLog(logFolder / (capture ? "asked.log" : "not-asked.log"));
        {
            CInstaller installer(caseLog.Handle(), FALSE, TRUE, FALSE, capture);
            EXPECT_EQ(Setting("LogLevel"), capture ? Dword(0x5050) : Dword(0));
            WriteWholeFile(DeviceLog(), kOldLines + kNewLines);
            installer.Log("Install File: ", "hxvhub.inf");
        }
        EXPECT_EQ(Setting("LogLevel"), Dword(0));
        const std::string content = caseLog.Content();
        const std::string tail =
            "Install File: hxvhub.inf\r\n" + (capture ? Copied(kNewLines) : "");
        ASSERT_GE(content.size(), tail.size());
        EXPECT_EQ(content.substr(content.size() - tail.size()), tail);
    }
}

} // namespace
