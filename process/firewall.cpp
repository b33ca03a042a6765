// The firewall's class and interface identifiers are in no import library:
// this file defines them for the engine (and for anyone reading rules back).
#include <windows.h>

#include <initguid.h>

#include <netfw.h>

#include "firewall.h"

#include "install_process.h"
#include "product_profile.h"
#include "resource_ids.h"
#include "setup_error.h"
#include "strings.h"

#include <oleauto.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

namespace {

[[noreturn]] void Fail(uint16_t location, uint32_t code) {
    throw CSetupError{kModuleFirewall, location, code};
}

constexpr uint32_t kOutOfMemory = 0x8007000E;

// A BSTR freed where it goes out of scope.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : m_text(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return m_text; }
    explicit operator bool() const { return m_text != nullptr; }

private:
    BSTR m_text;
};

// A VARIANT cleared where it goes out of scope.
class Variant {
public:
    Variant() { VariantInit(&m_value); }
    ~Variant() { VariantClear(&m_value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* get() { return &m_value; }

private:
    VARIANT m_value;
};

} // namespace

CFirewall::CFirewall() {
    m_comInitResult = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // A thread already in the multi-threaded apartment can still use the
    // objects; it only must not leave an apartment it never entered.
    if (FAILED(m_comInitResult) && m_comInitResult != RPC_E_CHANGED_MODE) {
        Fail(39, uint32_t(m_comInitResult));
    }
    try {
        ComPtr<INetFwMgr> manager;
        HRESULT result = CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_INetFwMgr, manager.put_void());
        if (FAILED(result)) {
            Fail(55, uint32_t(result));
        }
        ComPtr<INetFwPolicy> policy;
        result = manager->get_LocalPolicy(policy.put());
        if (FAILED(result)) {
            Fail(64, uint32_t(result));
        }
        result = policy->get_CurrentProfile(m_currentProfile.put());
        if (FAILED(result)) {
            Fail(73, uint32_t(result));
        }
        // Older systems have no such class: they get authorized applications.
        if (FAILED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_INetFwPolicy2, m_policy2.put_void()))) {
            m_policy2.reset();
        }
    } catch (...) {
        // No destructor runs for an object whose construction failed.
        m_currentProfile.reset();
        m_policy2.reset();
        if (SUCCEEDED(m_comInitResult)) {
            CoUninitialize();
        }
        throw;
    }
}

CFirewall::~CFirewall() {
    m_policy2.reset();
    m_currentProfile.reset();
    if (SUCCEEDED(m_comInitResult)) {
        CoUninitialize();
    }
}

void CFirewall::AllowApplication(const wchar_t* applicationPath, const wchar_t* ruleName,
                                 long direction, long protocol) {
    if (m_policy2) {
        AddRule(applicationPath, ruleName, direction, protocol);
    } else {
        AuthorizeApplication(applicationPath, ruleName);
    }
}

void CFirewall::AddRule(const wchar_t* applicationPath, const wchar_t* ruleName, long direction,
                        long protocol) {
    ComPtr<INetFwRules> rules;
    HRESULT result = m_policy2->get_Rules(rules.put());
    if (FAILED(result)) {
        Fail(429, uint32_t(result));
    }
    Bstr path(applicationPath);
    if (!path) {
        Fail(438, kOutOfMemory);
    }
    Bstr name(ruleName);
    if (!name) {
        Fail(446, kOutOfMemory);
    }

    ComPtr<INetFwRule> rule = FindRule(applicationPath, direction, protocol, rules.get());
    if (rule) {
        result = rule->put_Enabled(VARIANT_TRUE);
        if (FAILED(result)) {
            Fail(460, uint32_t(result));
        }
        result = rule->put_Action(NET_FW_ACTION_ALLOW);
        if (FAILED(result)) {
            Fail(468, uint32_t(result));
        }
        return;
    }

    result = CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule,
                              rule.put_void());
    if (FAILED(result)) {
        // Reported rather than passed over: otherwise the log would say the
        // rule was created when no rule exists.
        Fail(504, uint32_t(result));
    }
    // The settings' own results are not looked at: what counts is whether the
    // collection takes the rule.
    rule->put_Name(name.get());
    rule->put_Description(name.get());
    rule->put_ApplicationName(path.get());
    rule->put_Protocol(protocol);
    rule->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(direction));
    rule->put_Profiles(0x7FFFFFFF);
    rule->put_Action(NET_FW_ACTION_ALLOW);
    rule->put_Enabled(VARIANT_TRUE);
    if (FAILED(rules->Add(rule.get()))) {
        Fail(504, kOutOfMemory);
    }
}

ComPtr<INetFwRule> CFirewall::FindRule(const wchar_t* applicationPath, long direction,
                                       long protocol, INetFwRules* rules) {
    ComPtr<IUnknown> unknown;
    if (FAILED(rules->get__NewEnum(unknown.put())) || !unknown) {
        return {};
    }
    ComPtr<IEnumVARIANT> enumerator;
    if (FAILED(unknown.QueryInterface(IID_IEnumVARIANT, &enumerator)) || !enumerator) {
        return {};
    }
    for (;;) {
        Variant element;
        ULONG fetched = 0;
        if (enumerator->Next(1, element.get(), &fetched) != S_OK || fetched != 1) {
            return {};
        }
        if (FAILED(VariantChangeType(element.get(), element.get(), 0, VT_DISPATCH)) ||
            V_DISPATCH(element.get()) == nullptr) {
            return {};
        }
        ComPtr<INetFwRule> rule;
        if (FAILED(V_DISPATCH(element.get())->QueryInterface(IID_INetFwRule, rule.put_void()))) {
            return {};
        }
        BSTR ruleApplication = nullptr;
        bool samePath = false;
        if (SUCCEEDED(rule->get_ApplicationName(&ruleApplication)) && ruleApplication) {
            samePath = wcscmp(ruleApplication, applicationPath) == 0;
        }
        SysFreeString(ruleApplication);
        NET_FW_RULE_DIRECTION ruleDirection = NET_FW_RULE_DIR_MAX;
        long ruleProtocol = -1;
        if (samePath && SUCCEEDED(rule->get_Direction(&ruleDirection)) &&
            ruleDirection == direction && SUCCEEDED(rule->get_Protocol(&ruleProtocol)) &&
            ruleProtocol == protocol) {
            return rule;
        }
    }
}

void CFirewall::AuthorizeApplication(const wchar_t* applicationPath, const wchar_t* name) {
    ComPtr<INetFwAuthorizedApplications> applications;
    HRESULT result = m_currentProfile->get_AuthorizedApplications(applications.put());
    if (FAILED(result)) {
        Fail(620, uint32_t(result));
    }
    Bstr path(applicationPath);
    if (!path) {
        Fail(629, kOutOfMemory);
    }
    ComPtr<INetFwAuthorizedApplication> application;
    if (SUCCEEDED(applications->Item(path.get(), application.put())) && application) {
        if (FAILED(application->put_Enabled(VARIANT_TRUE))) {
            Fail(642, kOutOfMemory);
        }
        return;
    }
    result = CoCreateInstance(CLSID_NetFwAuthorizedApplication, nullptr, CLSCTX_INPROC_SERVER,
                              IID_INetFwAuthorizedApplication, application.put_void());
    if (FAILED(result)) {
        Fail(660, uint32_t(result));
    }
    result = application->put_ProcessImageFileName(path.get());
    if (FAILED(result)) {
        Fail(669, uint32_t(result));
    }
    Bstr applicationName(name);
    if (!applicationName || SysStringLen(applicationName.get()) == 0) {
        Fail(678, kOutOfMemory);
    }
    result = application->put_Name(applicationName.get());
    if (FAILED(result)) {
        Fail(687, uint32_t(result));
    }
    result = applications->Add(application.get());
    if (FAILED(result)) {
        Fail(696, uint32_t(result));
    }
}

namespace {

// Wide copy of ANSI text in a buffer sized by `bytes` (at least enough for
// every character and the terminator).
std::wstring WidenAnsi(const char* text, size_t bytes, uint16_t allocationLocation,
                       uint16_t conversionLocation) {
    std::wstring wide;
    try {
        wide.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    } catch (const std::bad_alloc&) {
        throw CSetupError{kModuleInstallProcess, allocationLocation, GetLastError()};
    }
    const int converted = MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], int(wide.size()));
    if (converted < 1 || converted == ERROR_NO_UNICODE_TRANSLATION) {
        throw CSetupError{kModuleInstallProcess, conversionLocation, GetLastError()};
    }
    wide.resize(size_t(converted) - 1);
    return wide;
}

const wchar_t* RuleNameSuffix(long direction, long protocol) {
    if (direction == NET_FW_RULE_DIR_IN) {
        return protocol == 6 ? L" (TCP-IN)" : protocol == 17 ? L" (UDP-IN)" : L" (IN)";
    }
    if (direction == NET_FW_RULE_DIR_OUT) {
        return protocol == 6 ? L" (TCP-OUT)" : protocol == 17 ? L" (UDP-OUT)" : L" (OUT)";
    }
    return L"";
}

// "<base name> (TCP-IN)" and the like, allowed for the application.
void AddNamedFirewallRule(CFirewall& firewall, const wchar_t* applicationPath,
                          const wchar_t* baseName, long direction, long protocol) {
    std::wstring ruleName;
    try {
        ruleName.reserve(std::wcslen(baseName) + 32);
    } catch (const std::bad_alloc&) {
        throw CSetupError{kModuleInstallProcess, 291, kOutOfMemory};
    }
    ruleName = baseName;
    ruleName += RuleNameSuffix(direction, protocol);
    firewall.AllowApplication(applicationPath, ruleName.c_str(), direction, protocol);
}

} // namespace

void CInstallProcess::CreateFirewallRules() {
    Log("Create Firewall rules");
    try {
        CFirewall firewall;
        char systemFolder[520];
        const UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
        if (length == 0 || length >= sizeof systemFolder) {
            throw CSetupError{kModuleInstallProcess, 158, GetLastError()};
        }
        // The rules name the service program in the system folder, where the
        // child installer puts it, not the copy in the install folder.
        const std::string path = std::string(systemFolder) + "\\" + CurrentProfile().serviceProgram;
        Log("Authorized appication: ", path.c_str());
        const std::wstring widePath = WidenAnsi(path.c_str(), path.size() * 2 + 2, 169, 181);
        const char* displayName = CurrentProfile().serviceDisplayName;
        const std::wstring wideName =
            WidenAnsi(displayName, (std::strlen(displayName) + 1) * sizeof(wchar_t), 173, 189);

        AddNamedFirewallRule(firewall, widePath.c_str(), wideName.c_str(), NET_FW_RULE_DIR_IN, 6);
        if (IsVistaOrLater()) {
            Log("Firewall rules (TCP-IN) was created");
            AddNamedFirewallRule(firewall, widePath.c_str(), wideName.c_str(), NET_FW_RULE_DIR_OUT,
                                 6);
            Log("Firewall rules (TCP-OUT) was created");
        } else {
            Log("Firewall rules was created");
        }
    } catch (const CSetupError& error) {
        // The installation itself succeeded; the rules are only reported.
        Log("=== Error creating firewall rules ===");
        const std::string text = FormatResourceString(IDS_FIREWALL_ERROR, unsigned(error.dwCode),
                                                      unsigned(error.Arg0()));
        Log(text.c_str());
    }
}
