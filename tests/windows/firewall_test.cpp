// The firewall step on Wine's own firewall objects. Wine keeps no rule (its
// rules' get_ methods fail and its collections drop what is added), so what a
// rule holds cannot be read back here; a successful installation's firewall
// lines are checked end to end (tests/e2e).
#include "install_process_test_support.h"

namespace {

using FirewallTest = install_process_test::InstallProcessTest;

// The step must not leave a multi-threaded apartment it did not enter.
TEST_F(FirewallTest, WorksFromAMultiThreadedApartmentAndLeavesItAlone) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    m_process->CreateFirewallRules();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "still initialised";
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(install_process_test::Contains(LogLines(), "Firewall rules (TCP-OUT) was created"))
        << m_log->Content();
}

} // namespace
