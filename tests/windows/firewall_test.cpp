// The firewall rules: the log of a silent installation's firewall step on
// Wine's firewall objects, a firewall that cannot be reached, and what the
// rules hold on a stand-in policy that keeps them.
#include "fake_firewall.h"
#include "firewall.h"
#include "install_process_test_support.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using install_process_test::Contains;
using install_process_test::InstallProcessTest;

std::string ServiceProgramPath() {
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\corvanewssrv.exe";
}

using FirewallRulesTest = InstallProcessTest;

// A silent installation on Vista and later: the service program in the system
// folder is allowed in and out over TCP, under names the user can recognise.
TEST_F(FirewallRulesTest, AllowsTheServiceProgramInAndOutOverTcp) {
    ASSERT_TRUE(m_process->IsVistaOrLater()) << "the test prefix is meant to be Vista or later";
    m_process->CreateFirewallRules();

    const std::vector<std::string> expected = {
        "Create Firewall rules",
        "Authorized appication: " + ServiceProgramPath(),
        "Firewall rules (TCP-IN) was created",
        "Firewall rules (TCP-OUT) was created",
    };
    EXPECT_EQ(LogLines(), expected);
}

// A thread already in the multi-threaded apartment can still make the rules,
// and stays in its apartment afterwards: the firewall must not leave an
// apartment it did not enter.
TEST_F(FirewallRulesTest, WorksFromAMultiThreadedApartmentAndLeavesItAlone) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    m_process->CreateFirewallRules();
    // Still initialised by us: a second entry only counts up (S_FALSE).
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(Contains(LogLines(), "Firewall rules (TCP-OUT) was created"));
}

// Points the 32-bit registration of a COM class at a library that does not
// exist, so creating it fails the way a broken firewall service does; the
// registration is put back afterwards. (The prefix is the test's own.)
class BrokenComClass {
public:
    explicit BrokenComClass(const char* clsid)
        : m_subkey(std::string("Software\\Classes\\CLSID\\") + clsid + "\\InprocServer32") {
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_subkey.c_str(), 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, &m_key),
                  ERROR_SUCCESS)
            << "cannot open " << m_subkey;
        char saved[MAX_PATH] = "";
        DWORD size = sizeof saved;
        RegQueryValueExA(m_key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(saved), &size);
        m_saved = saved;
        const char missing[] = "C:\\windows\\system32\\corvane-missing-firewall.dll";
        EXPECT_EQ(RegSetValueExA(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(missing),
                                 sizeof missing),
                  ERROR_SUCCESS);
    }
    ~BrokenComClass() {
        if (m_key) {
            RegSetValueExA(m_key, nullptr, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(m_saved.c_str()),
                           DWORD(m_saved.size() + 1));
            RegCloseKey(m_key);
        }
    }
    BrokenComClass(const BrokenComClass&) = delete;
    BrokenComClass& operator=(const BrokenComClass&) = delete;

private:
    std::string m_subkey;
    HKEY m_key = nullptr;
    std::string m_saved;
};

// Without a firewall manager no rule is made: the failure and where it
// happened are logged, and the installation goes on as a success.
TEST_F(FirewallRulesTest, UnreachableFirewallIsLoggedNotThrown) {
    {
        BrokenComClass broken("{304CE942-6E39-40D8-943A-B913C40C9CD4}"); // NetFwMgr
        m_process->CreateFirewallRules();
    }
    // The message keeps its own line breaks inside the one log line.
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 3u) << m_log->Content();
    EXPECT_EQ(lines[0], "Create Firewall rules");
    EXPECT_EQ(lines[1], "=== Error creating firewall rules ===");
    const std::string head = "Error occured while creating firewall rules.\nError code = 0x8";
    const std::string tail = "\nError arg0 = 0x001a0037";
    EXPECT_EQ(lines[2].rfind(head, 0), 0u) << "a COM failure code first: " << lines[2];
    ASSERT_GE(lines[2].size(), tail.size());
    EXPECT_EQ(lines[2].substr(lines[2].size() - tail.size()), tail)
        << "the firewall manager's location: " << lines[2];
    EXPECT_EQ(m_app.m_bInstallFailed, 0);
}

constexpr wchar_t kServiceName[] = L"Corvane RDP Edition Workstation Service";

std::wstring WideServiceProgramPath() {
    const std::string path = ServiceProgramPath();
    return std::wstring(path.begin(), path.end());
}

// The cases below run against the stand-in policy of fake_firewall.h: Wine's
// rules collection keeps nothing and cannot be walked, so neither what a rule
// holds nor finding an existing rule can be seen through it.
class FirewallPolicyTest : public InstallProcessTest {
protected:
    void SetUp() override {
        InstallProcessTest::SetUp();
        ASSERT_TRUE(m_com.succeeded());
        m_fake = std::make_unique<fake_firewall::Installed>();
        ASSERT_TRUE(m_fake->ok()) << "the stand-in policy cannot be registered";
    }
    void TearDown() override {
        m_fake.reset();
        InstallProcessTest::TearDown();
    }

    std::wstring Name(const wchar_t* suffix) const { return kServiceName + std::wstring(suffix); }

    ComInitScope m_com;
    std::unique_ptr<fake_firewall::Installed> m_fake;
};

// Two new rules, allowing the service program in and out over TCP in every
// profile, each described by its own name.
TEST_F(FirewallPolicyTest, NewRulesAllowTheServiceProgramEverywhere) {
    m_process->CreateFirewallRules();

    ASSERT_EQ(m_fake->rules().size(), 2u) << m_log->Content();
    const NET_FW_RULE_DIRECTION directions[] = {NET_FW_RULE_DIR_IN, NET_FW_RULE_DIR_OUT};
    const wchar_t* suffixes[] = {L" (TCP-IN)", L" (TCP-OUT)"};
    for (size_t index = 0; index < 2; ++index) {
        const fake_firewall::Rule& rule = *m_fake->rules()[index];
        SCOPED_TRACE(index);
        EXPECT_EQ(rule.name, Name(suffixes[index]));
        EXPECT_EQ(rule.description, rule.name);
        EXPECT_EQ(rule.applicationName, WideServiceProgramPath());
        EXPECT_EQ(rule.direction, directions[index]);
        EXPECT_EQ(rule.protocol, 6);
        EXPECT_EQ(rule.profiles, 0x7FFFFFFF);
        EXPECT_EQ(rule.action, NET_FW_ACTION_ALLOW);
        EXPECT_EQ(rule.enabled, VARIANT_TRUE);
    }
}

// A rule already in the firewall is reused only when it is for the same
// program (same letter case), direction and protocol; its name does not
// matter. Reused rules are enabled and set to allow, never duplicated.
TEST_F(FirewallPolicyTest, ExistingRuleIsReusedOnlyForTheSameProgramDirectionAndProtocol) {
    struct Case {
        const char* what;
        bool sameCasePath; // false: the path in upper case
        bool withPath;
        NET_FW_RULE_DIRECTION direction;
        LONG protocol;
        bool reused;
    };
    const Case cases[] = {
        {"same program, in, TCP", true, true, NET_FW_RULE_DIR_IN, 6, true},
        {"same program, out, TCP", true, true, NET_FW_RULE_DIR_OUT, 6, true},
        {"path in other letter case", false, true, NET_FW_RULE_DIR_IN, 6, false},
        {"same program, UDP", true, true, NET_FW_RULE_DIR_IN, 17, false},
        {"no program", true, false, NET_FW_RULE_DIR_IN, 6, false},
    };
    m_fake.reset(); // each case brings its own
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        fake_firewall::Installed fake;
        ASSERT_TRUE(fake.ok());
        std::wstring path = WideServiceProgramPath();
        if (!test.sameCasePath) {
            for (wchar_t& c : path) {
                c = towupper(c);
            }
        }
        // Named like the rule it would be reused for, so only the path,
        // direction and protocol can tell them apart.
        fake_firewall::Rule& seeded =
            fake.Seed(Name(test.direction == NET_FW_RULE_DIR_IN ? L" (TCP-IN)" : L" (TCP-OUT)"),
                      test.withPath ? path.c_str() : nullptr, test.direction, test.protocol);

        m_process->CreateFirewallRules();

        EXPECT_EQ(fake.rules().size(), test.reused ? 2u : 3u);
        EXPECT_EQ(seeded.enabled, test.reused ? VARIANT_TRUE : VARIANT_FALSE);
        EXPECT_EQ(seeded.action, test.reused ? NET_FW_ACTION_ALLOW : NET_FW_ACTION_BLOCK);
        EXPECT_EQ(seeded.applicationName, test.withPath ? path : L"") << "a rule was changed";
    }
}

// Running the firewall step again repairs what the user changed and adds
// nothing.
TEST_F(FirewallPolicyTest, RunningTwiceDoesNotDuplicateRules) {
    m_process->CreateFirewallRules();
    ASSERT_EQ(m_fake->rules().size(), 2u);
    // The user blocked one of them meanwhile.
    m_fake->rules()[0]->action = NET_FW_ACTION_BLOCK;
    m_fake->rules()[0]->enabled = VARIANT_FALSE;

    m_process->CreateFirewallRules();
    EXPECT_EQ(m_fake->rules().size(), 2u);
    EXPECT_EQ(m_fake->rules()[0]->action, NET_FW_ACTION_ALLOW);
    EXPECT_EQ(m_fake->rules()[0]->enabled, VARIANT_TRUE);
}

// A firewall that refuses a rule ends the step with the error logged where it
// happened; nothing claims the rule was made, and nothing throws.
TEST_F(FirewallPolicyTest, RefusedRuleIsLoggedWithItsLocation) {
    struct Case {
        const char* what;
        HRESULT rulesResult;
        HRESULT addResult;
        const char* code;
        const char* arg0;
    };
    const Case cases[] = {
        {"no rules collection", E_ACCESSDENIED, S_OK, "0x80070005", "0x001a01ad"},
        {"rule not added", S_OK, E_FAIL, "0x8007000e", "0x001a01f8"},
    };
    m_fake.reset(); // each case brings its own
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        fake_firewall::Installed fake;
        ASSERT_TRUE(fake.ok());
        fake.policy().rulesResult = test.rulesResult;
        fake.policy().rules->addResult = test.addResult;
        const size_t before = LogLines().size();

        m_process->CreateFirewallRules();

        const std::vector<std::string> lines = LogLines();
        const std::vector<std::string> expected = {
            "Create Firewall rules",
            "Authorized appication: " + ServiceProgramPath(),
            "=== Error creating firewall rules ===",
            std::string("Error occured while creating firewall rules.\nError code = ") + test.code +
                "\nError arg0 = " + test.arg0,
        };
        EXPECT_EQ(std::vector<std::string>(lines.begin() + before, lines.end()), expected);
        EXPECT_TRUE(fake.rules().empty());
    }
}

// Systems without the newer policy get one authorized application in the
// current profile instead: named after the first rule, enabled, and found by
// its path when the step runs again.
TEST_F(FirewallPolicyTest, WithoutTheNewerPolicyOneApplicationIsAuthorized) {
    m_fake.reset();
    fake_firewall::LegacyInstalled legacy;
    ASSERT_TRUE(legacy.ok());

    m_process->CreateFirewallRules();
    m_process->CreateFirewallRules();

    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "=== Error creating firewall rules ==="), 0)
        << m_log->Content();
    ASSERT_EQ(legacy.applications().size(), 1u);
    const fake_firewall::Application& application = *legacy.applications()[0];
    EXPECT_EQ(application.processImageFileName, WideServiceProgramPath());
    EXPECT_EQ(application.name, std::wstring(kServiceName) + L" (TCP-IN)");
    EXPECT_EQ(application.enabled, VARIANT_TRUE);
}

} // namespace
