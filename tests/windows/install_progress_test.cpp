// What the progress page is told during a whole installation of the edition
// this program is linked with, with the sample payload and its stand-in child
// installer: each goal with its status text and direction, forward after a
// success and back down through the rollback after the child reports an error.
#include "install_process_test_support.h"
#include "product_profile.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using install_process_test::InstallProcessTest;
using installer_test::FromBuild;

struct Step {
    int goal;
    std::string text;
    int direction;
    bool operator==(const Step& other) const {
        return goal == other.goal && text == other.text && direction == other.direction;
    }
};

void PrintTo(const Step& step, std::ostream* out) {
    *out << "{" << step.goal << ", \"" << step.text << "\", " << step.direction << "}";
}

// The status control: a window of this thread that notes every text it is
// given, with the goal and direction at that moment.
class ProgressRecorder {
public:
    ProgressRecorder(int* goal, int* direction) : m_goal(goal), m_direction(direction) {
        m_window =
            CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_original = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProgressRecorder::Procedure)));
    }
    ~ProgressRecorder() { DestroyWindow(m_window); }
    HWND Window() const { return m_window; }
    const std::vector<Step>& Steps() const { return m_steps; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ProgressRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_SETTEXT) {
            self->m_steps.push_back(
                {*self->m_goal, reinterpret_cast<const char*>(lParam), *self->m_direction});
        }
        return CallWindowProcA(self->m_original, window, message, wParam, lParam);
    }

    int* m_goal;
    int* m_direction;
    HWND m_window = nullptr;
    WNDPROC m_original = nullptr;
    std::vector<Step> m_steps;
};

class InstallProgressTest : public InstallProcessTest {
protected:
    void SetUp() override {
        InstallProcessTest::SetUp();
        m_app.m_strInstallDir = m_scratch / "Product";
        m_app.m_strStartMenuFolder = "Corvane progress test " + std::to_string(GetTickCount());
        m_app.m_bDesktopIcon = 0;
        m_app.m_bQuickLaunchIcon = 0;
        // As the progress page starts them.
        m_app.m_pnProgressGoal = &m_goal;
        m_app.m_pnProgressDisplayed = &m_displayed;
        m_app.m_pnProgressDirection = &m_direction;

        HANDLE setup = CreateFileA(FromBuild(CORVANE_SETUP_PROGRAM).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(setup, INVALID_HANDLE_VALUE) << "cannot open the setup program";
        const int status = m_process->GetPackedTools()->LoadFromFile(setup);
        CloseHandle(setup);
        ASSERT_EQ(status, 1) << "the setup program's package does not load";
    }

    void TearDown() override {
        SetEnvironmentVariableA("CORVANE_CHILD_MODE", nullptr);
        InstallProcessTest::TearDown();
    }

    // Installs on a worker thread, as the wizard does, while this thread
    // serves the status control: the child's notifications arrive from a
    // third thread and must cross over to the control's own.
    std::vector<Step> Install(const char* childMode) {
        SetEnvironmentVariableA("CORVANE_CHILD_MODE", childMode);
        ProgressRecorder recorder(&m_goal, &m_direction);
        m_app.m_pStatusText = recorder.Window();
        HANDLE worker = CreateThread(nullptr, 0, &InstallProgressTest::Worker, this, 0, nullptr);
        while (MsgWaitForMultipleObjects(1, &worker, FALSE, 120000, QS_ALLINPUT) ==
               WAIT_OBJECT_0 + 1) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&message);
            }
        }
        CloseHandle(worker);
        m_app.m_pStatusText = nullptr;
        return recorder.Steps();
    }

    static DWORD WINAPI Worker(LPVOID parameter) {
        auto* self = static_cast<InstallProgressTest*>(parameter);
        self->m_process->Install(&self->m_app.m_bRestartNeeded, &self->m_app.m_bInstallFailed,
                                 nullptr, 0);
        return 0;
    }

    int m_goal = 1;
    int m_displayed = 1;
    int m_direction = 1;
};

const char kCopying[] = "Copying files...";
const char kDrivers[] = "Installing kernel mode drivers...";
const char kMainModule[] = "Installing main program module...";
const char kFinishing[] = "Finishing installation...";
const char kRemovingServices[] = "Removing installed services...";

TEST_F(InstallProgressTest, RisesThroughTheChildsGoalsToOneHundred) {
    std::vector<Step> expected = {
        {1, "", 1},        {10, kCopying, 1},    {20, kCopying, 1},    {30, kDrivers, 1},
        {45, kDrivers, 1}, {60, kMainModule, 1}, {80, kMainModule, 1},
    };
    // The server has no Citrix-support step, which the workstation announces as starting its
    // drivers.
    if (!CurrentProfile().isServer) {
        expected.push_back({85, "Starting drivers...", 1});
    }
    expected.insert(expected.end(), {
                                        {90, "Creating start menu items...", 1},
                                        {95, kFinishing, 1},
                                        {100, kFinishing, 1},
                                    });
    EXPECT_EQ(Install("success"), expected);
    EXPECT_EQ(m_app.m_bInstallFailed, 0);
    // The last position set before the end; the page moves on from there.
    EXPECT_EQ(m_displayed, 87);
}

TEST_F(InstallProgressTest, FallsBackThroughTheRollbackAfterTheChildFails) {
    // The child installs only what is not there yet: what the success case left of the
    // driver goes first, so that the rollback has the driver's filter and service to remove.
    const std::string driver = CurrentProfile().isServer ? "hxvhubbus" : "hxvhub";
    const GUID usbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0, 0}};
    m_process->UninstallClassFilterDriver(usbClass, driver.c_str());
    m_process->UninstallService(driver.c_str());
    const std::vector<Step> expected = {
        {1, "", 1},
        {10, kCopying, 1},
        {20, kCopying, 1},
        {30, kDrivers, 1},
        // The bar jumps to the middle while still moving forward, then turns.
        {50, "Stopping services...", 1},
        {40, kRemovingServices, 0},
        {35, kRemovingServices, 0},
        {25, "Clearing registry entries...", 0},
        {15, "Deleting created files...", 0},
        {10, "Restoring overwritten files...", 0},
        {1, "Deleting directory...", 0},
        {0, kFinishing, 0},
    };
    EXPECT_EQ(Install("error"), expected);
    EXPECT_EQ(m_app.m_bInstallFailed, 1);
    EXPECT_EQ(m_displayed, 50);
    // The driver's class filter goes before the services it names.
    const std::vector<std::string> lines = LogLines();
    const auto rollback = std::find(lines.begin(), lines.end(), "=== Rollback process ===");
    const auto at = [&](const std::string& line) {
        return std::find(rollback, lines.end(), line) - lines.begin();
    };
    EXPECT_LT(at("Uninstall ClassFilterDriver: " + driver), at("Uninstall Service: " + driver));
    EXPECT_LT(at("Uninstall Service: " + driver), std::ptrdiff_t(lines.size())) << m_log->Content();
}

} // namespace
