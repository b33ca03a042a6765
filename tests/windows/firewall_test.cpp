// The firewall step on Wine's objects, and what the rules hold on the
// stand-in of fake_firewall.h.
#include "fake_firewall.h"
#include "firewall.h"
#include "install_process_test_support.h"

#include <string>
#include <vector>

namespace {

using install_process_test::Contains;
using install_process_test::InstallProcessTest;

const std::string kErrorHead = "=== Error creating firewall rules ===";
const std::wstring kServiceName = L"Corvane RDP Edition Workstation Service";

std::string ServiceProgramPath() {
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\corvanewssrv.exe";
}

std::wstring WideServiceProgramPath() {
    const std::string path = ServiceProgramPath();
    return std::wstring(path.begin(), path.end());
}

std::string FirewallError(const char* code, const char* arg0) {
    return std::string("Error occured while creating firewall rules.\nError code = ") + code +
           "\nError arg0 = " + arg0;
}

using FirewallTest = InstallProcessTest;

// The firewall must not leave a multi-threaded apartment it did not enter.
TEST_F(FirewallTest, WorksFromAMultiThreadedApartmentAndLeavesItAlone) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    m_process->CreateFirewallRules();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "still initialised";
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(Contains(LogLines(), "Firewall rules (TCP-OUT) was created")) << m_log->Content();
}

class FirewallPolicyTest : public InstallProcessTest {
protected:
    void SetUp() override {
        InstallProcessTest::SetUp();
        ASSERT_TRUE(m_com.succeeded());
    }
    ComInitScope m_com;
};

// Two new rules allow the service program in and out over TCP in every
// profile, each described by its own name.
TEST_F(FirewallPolicyTest, NewRulesAllowTheServiceProgramEverywhere) {
    fake_firewall::Installed fake;
    ASSERT_TRUE(fake.ok());
    m_process->CreateFirewallRules();

    ASSERT_EQ(fake.entries().size(), 2u) << m_log->Content();
    const NET_FW_RULE_DIRECTION directions[] = {NET_FW_RULE_DIR_IN, NET_FW_RULE_DIR_OUT};
    const wchar_t* suffixes[] = {L" (TCP-IN)", L" (TCP-OUT)"};
    for (size_t index = 0; index < 2; ++index) {
        const fake_firewall::Entry& rule = *fake.entries()[index];
        SCOPED_TRACE(index);
        EXPECT_EQ(rule.name, kServiceName + suffixes[index]);
        EXPECT_EQ(rule.description, rule.name);
        EXPECT_EQ(rule.application, WideServiceProgramPath());
        EXPECT_EQ(rule.direction, directions[index]);
        EXPECT_EQ(rule.protocol, 6);
        EXPECT_EQ(rule.profiles, 0x7FFFFFFF);
        EXPECT_EQ(rule.action, NET_FW_ACTION_ALLOW);
        EXPECT_EQ(rule.enabled, VARIANT_TRUE);
    }
}

// An existing rule is reused (enabled and allowed, not duplicated) only for
// the same program (same letter case), direction and protocol, whatever its
// name.
TEST_F(FirewallPolicyTest, ExistingRuleIsReusedOnlyForTheSameProgramDirectionAndProtocol) {
    const struct {
        const char* what;
        bool upperCasePath, withPath;
        NET_FW_RULE_DIRECTION direction;
        LONG protocol;
        bool reused;
    } cases[] = {
        {"same program, in, TCP", false, true, NET_FW_RULE_DIR_IN, 6, true},
        {"same program, out, TCP", false, true, NET_FW_RULE_DIR_OUT, 6, true},
        {"path in other letter case", true, true, NET_FW_RULE_DIR_IN, 6, false},
        {"same program, UDP", false, true, NET_FW_RULE_DIR_IN, 17, false},
        {"no program", false, false, NET_FW_RULE_DIR_IN, 6, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        fake_firewall::Installed fake;
        ASSERT_TRUE(fake.ok());
        std::wstring path = test.withPath ? WideServiceProgramPath() : L"";
        if (test.upperCasePath) {
            for (wchar_t& c : path) {
                c = towupper(c);
            }
        }
        // Named like the rule it would stand for: only path, direction and
        // protocol tell them apart.
        auto* seeded = new fake_firewall::Entry;
        seeded->name =
            kServiceName + (test.direction == NET_FW_RULE_DIR_IN ? L" (TCP-IN)" : L" (TCP-OUT)");
        seeded->application = path;
        seeded->direction = test.direction;
        seeded->protocol = test.protocol;
        fake.entries().push_back(seeded);

        m_process->CreateFirewallRules();

        EXPECT_EQ(fake.entries().size(), test.reused ? 2u : 3u);
        EXPECT_EQ(seeded->enabled, test.reused ? VARIANT_TRUE : VARIANT_FALSE);
        EXPECT_EQ(seeded->action, test.reused ? NET_FW_ACTION_ALLOW : NET_FW_ACTION_BLOCK);
        EXPECT_EQ(seeded->application, path) << "a rule was changed";
    }
}

// A firewall that cannot be reached or refuses a rule ends the step with the
// error and its location logged; nothing claims a rule was made, and the
// installation still succeeds.
TEST_F(FirewallPolicyTest, RefusalIsLoggedWithItsLocation) {
    const struct {
        const char* what;
        bool hasManager;
        HRESULT rulesResult, addResult;
        const char *code, *arg0;
    } cases[] = {
        {"no firewall manager", false, S_OK, S_OK, "0x80040154", "0x001a0037"},
        {"no rules collection", true, E_ACCESSDENIED, S_OK, "0x80070005", "0x001a01ad"},
        {"rule not added", true, S_OK, E_FAIL, "0x8007000e", "0x001a01f8"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        fake_firewall::Installed fake;
        ASSERT_TRUE(fake.ok());
        fake.policy().hasManager = test.hasManager;
        fake.policy().rulesResult = test.rulesResult;
        fake.policy().addResult = test.addResult;
        const size_t before = LogLines().size();

        m_process->CreateFirewallRules();

        std::vector<std::string> expected = {"Create Firewall rules",
                                             "Authorized appication: " + ServiceProgramPath(),
                                             kErrorHead, FirewallError(test.code, test.arg0)};
        if (!test.hasManager) {
            expected.erase(expected.begin() + 1);
        }
        const std::vector<std::string> lines = LogLines();
        EXPECT_EQ(std::vector<std::string>(lines.begin() + before, lines.end()), expected);
        EXPECT_TRUE(fake.entries().empty());
        EXPECT_EQ(m_app.m_bInstallFailed, 0);
    }
}

// Without the newer policy, one authorized application for the service
// program, named after the first rule, found by its path when the step runs
// again.
TEST_F(FirewallPolicyTest, WithoutTheNewerPolicyOneApplicationIsAuthorized) {
    fake_firewall::Installed fake;
    ASSERT_TRUE(fake.ok());
    fake.policy().hasPolicy2 = false;
    m_process->CreateFirewallRules();
    m_process->CreateFirewallRules();

    EXPECT_FALSE(Contains(LogLines(), kErrorHead)) << m_log->Content();
    ASSERT_EQ(fake.entries().size(), 1u);
    EXPECT_EQ(fake.entries()[0]->application, WideServiceProgramPath());
    EXPECT_EQ(fake.entries()[0]->name, kServiceName + L" (TCP-IN)");
}

} // namespace
