// An install process as the application makes it, on a setup log of the
// test's own, for the Windows-side tests of the install steps.
#pragma once

#include "install_app.h"
#include "install_process.h"
#include "installer_test_support.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace install_process_test {

inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class InstallProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_log = std::make_unique<installer_test::TestSetupLog>(m_scratch / "setup.log");
        m_process = std::make_unique<CInstallProcess>(m_log->Handle(), 0, &m_app, &m_app);
        m_process->SetRestartFlagPointer(&m_app.m_bRestartNeeded);
    }
    void TearDown() override { m_process.reset(); }

    std::vector<std::string> LogLines() const { return m_log->Lines(); }

    installer_test::ScratchFolder m_scratch;
    CInstallApp m_app;
    std::unique_ptr<installer_test::TestSetupLog> m_log;
    std::unique_ptr<CInstallProcess> m_process;
};

} // namespace install_process_test
