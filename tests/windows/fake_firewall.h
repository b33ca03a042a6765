// Stand-ins for the firewall's objects, for the cases Wine's own cannot show:
// its rules collection keeps no rule and cannot be walked (the enumerator is
// not implemented), and its authorized applications keep nothing either.
// Registered with CoRegisterClassObject in place of the system's classes, for
// this thread's apartment only; they keep what is added, walk it, and can be
// told to fail.
#pragma once

#include "handles.h"

#include <windows.h>

#include <netfw.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace fake_firewall {

// IUnknown with a reference count, and an IDispatch that does not dispatch.
template <typename Interface> class Object : public Interface {
public:
    virtual ~Object() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, __uuidof(Interface))) {
            *result = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

private:
    ULONG m_references = 1;
};

inline HRESULT CopyOut(const std::wstring& text, bool present, BSTR* result) {
    *result = present ? SysAllocString(text.c_str()) : nullptr;
    return S_OK;
}

class Rule : public Object<INetFwRule> {
public:
    std::wstring name, description, applicationName;
    bool hasApplicationName = false;
    LONG protocol = 256; // "any", as a new rule starts
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
    LONG profiles = 0;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    VARIANT_BOOL enabled = VARIANT_FALSE;

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* value) override { return CopyOut(name, true, value); }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR value) override {
        name = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* value) override {
        return CopyOut(description, true, value);
    }
    HRESULT STDMETHODCALLTYPE put_Description(BSTR value) override {
        description = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* value) override {
        return CopyOut(applicationName, hasApplicationName, value);
    }
    HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR value) override {
        hasApplicationName = value != nullptr;
        applicationName = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Protocol(LONG* value) override {
        *value = protocol;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Protocol(LONG value) override {
        protocol = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Direction(NET_FW_RULE_DIRECTION* value) override {
        *value = direction;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION value) override {
        direction = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Profiles(LONG* value) override {
        *value = profiles;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Profiles(LONG value) override {
        profiles = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Action(NET_FW_ACTION* value) override {
        *value = action;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION value) override {
        action = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* value) override {
        *value = enabled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL value) override {
        enabled = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR* service) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ServiceName(BSTR service) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalPorts(BSTR* ports) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR ports) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RemotePorts(BSTR* ports) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RemotePorts(BSTR ports) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalAddresses(BSTR* address) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_LocalAddresses(BSTR address) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR* address) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR address) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IcmpTypesAndCodes(BSTR* codes) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IcmpTypesAndCodes(BSTR codes) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Interfaces(VARIANT* interfaces) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Interfaces(VARIANT interfaces) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_InterfaceTypes(BSTR* types) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR types) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Grouping(BSTR* context) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Grouping(BSTR context) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_EdgeTraversal(VARIANT_BOOL* enabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_EdgeTraversal(VARIANT_BOOL enabled) override { return E_NOTIMPL; }
};

// Walks a snapshot of the collection, one rule (as IDispatch) at a time.
class Enumerator : public IEnumVARIANT {
public:
    explicit Enumerator(std::vector<Rule*> rules) : m_rules(std::move(rules)) {
        for (Rule* rule : m_rules) {
            rule->AddRef();
        }
    }
    virtual ~Enumerator() {
        for (Rule* rule : m_rules) {
            rule->Release();
        }
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumVARIANT)) {
            *result = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* elements, ULONG* fetched) override {
        ULONG done = 0;
        for (; done < count && m_next < m_rules.size(); ++done, ++m_next) {
            VariantInit(&elements[done]);
            V_VT(&elements[done]) = VT_DISPATCH;
            V_DISPATCH(&elements[done]) = static_cast<INetFwRule*>(m_rules[m_next]);
            m_rules[m_next]->AddRef();
        }
        if (fetched) {
            *fetched = done;
        }
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        m_next += count;
        return m_next <= m_rules.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

private:
    ULONG m_references = 1;
    std::vector<Rule*> m_rules;
    size_t m_next = 0;
};

class Rules : public Object<INetFwRules> {
public:
    ~Rules() override {
        for (Rule* rule : rules) {
            rule->Release();
        }
    }
    std::vector<Rule*> rules; // each holds one reference
    HRESULT addResult = S_OK;

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        *count = LONG(rules.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
        if (FAILED(addResult)) {
            return addResult;
        }
        // Only rules of this stand-in reach it: the rule class is replaced too.
        Rule* own = static_cast<Rule*>(rule);
        own->AddRef();
        rules.push_back(own);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** rule) override {
        for (Rule* candidate : rules) {
            if (candidate->name == name) {
                candidate->AddRef();
                *rule = candidate;
                return S_OK;
            }
        }
        *rule = nullptr;
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** result) override {
        *result = new Enumerator(rules);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override { return E_NOTIMPL; }
};

class Policy : public Object<INetFwPolicy2> {
public:
    Policy() : rules(new Rules) {}
    ~Policy() override { rules->Release(); }
    Rules* rules;
    HRESULT rulesResult = S_OK;

    HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** result) override {
        if (FAILED(rulesResult)) {
            *result = nullptr;
            return rulesResult;
        }
        rules->AddRef();
        *result = rules;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* profile) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profileType,
                                                  VARIANT_BOOL* enabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_FirewallEnabled(NET_FW_PROFILE_TYPE2 profileType,
                                                  VARIANT_BOOL enabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2 profileType,
                                                     VARIANT* interfaces) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2 profileType,
                                                     VARIANT interfaces) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2 profileType,
                                                         VARIANT_BOOL* block) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2 profileType,
                                                         VARIANT_BOOL block) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(NET_FW_PROFILE_TYPE2 profileType,
                                                        VARIANT_BOOL* disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(NET_FW_PROFILE_TYPE2 profileType,
                                                        VARIANT_BOOL disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(
        NET_FW_PROFILE_TYPE2 profileType, VARIANT_BOOL* disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(
        NET_FW_PROFILE_TYPE2 profileType, VARIANT_BOOL disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    get_ServiceRestriction(INetFwServiceRestriction** ServiceRestriction) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG profileTypesBitmask, BSTR group,
                                              VARIANT_BOOL enable) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG profileTypesBitmask, BSTR group,
                                                 VARIANT_BOOL* enabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                       NET_FW_ACTION* action) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_DefaultInboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                       NET_FW_ACTION action) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                        NET_FW_ACTION* action) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                        NET_FW_ACTION action) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR group,
                                                              VARIANT_BOOL* enabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    get_LocalPolicyModifyState(NET_FW_MODIFY_STATE* modifyState) override {
        return E_NOTIMPL;
    }
};

// Hands out the one policy, and a new rule for each request.
class Factory : public IClassFactory {
public:
    explicit Factory(Policy* policy) : m_policy(policy) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *result = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the stack of the installation that uses it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) override {
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        IUnknown* made = m_policy ? static_cast<INetFwPolicy2*>(m_policy)
                                  : static_cast<IUnknown*>(static_cast<INetFwRule*>(new Rule));
        if (m_policy) {
            made->AddRef();
        }
        const HRESULT result_ = made->QueryInterface(iid, result);
        made->Release();
        return result_;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    Policy* m_policy;
};

// Puts the stand-in in place of the system's policy and rule classes while it
// lives. The calling thread must already be in its COM apartment.
class Installed {
public:
    Installed() : m_policy(new Policy), m_policyFactory(m_policy), m_ruleFactory(nullptr) {
        m_ok =
            SUCCEEDED(CoRegisterClassObject(CLSID_NetFwPolicy2, &m_policyFactory,
                                            CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                            &m_policyCookie)) &&
            SUCCEEDED(CoRegisterClassObject(CLSID_NetFwRule, &m_ruleFactory, CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &m_ruleCookie));
    }
    ~Installed() {
        if (m_policyCookie) {
            CoRevokeClassObject(m_policyCookie);
        }
        if (m_ruleCookie) {
            CoRevokeClassObject(m_ruleCookie);
        }
        m_policy->Release();
    }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;

    bool ok() const { return m_ok; }
    Policy& policy() { return *m_policy; }
    std::vector<Rule*>& rules() { return m_policy->rules->rules; }
    // A rule already in the firewall before the installation.
    Rule& Seed(const std::wstring& name, const wchar_t* applicationName,
               NET_FW_RULE_DIRECTION direction, LONG protocol) {
        Rule* rule = new Rule;
        rule->name = name;
        rule->hasApplicationName = applicationName != nullptr;
        rule->applicationName = applicationName ? applicationName : L"";
        rule->direction = direction;
        rule->protocol = protocol;
        rules().push_back(rule);
        return *rule;
    }

private:
    Policy* m_policy;
    Factory m_policyFactory;
    Factory m_ruleFactory;
    DWORD m_policyCookie = 0;
    DWORD m_ruleCookie = 0;
    bool m_ok = false;
};

// The older firewall interfaces, for systems without the newer policy: the
// manager's local policy, its current profile and that profile's authorized
// applications, kept by path.
class Application : public Object<INetFwAuthorizedApplication> {
public:
    std::wstring name, processImageFileName;
    VARIANT_BOOL enabled = VARIANT_TRUE; // as a new entry starts

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* value) override { return CopyOut(name, true, value); }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR value) override {
        name = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ProcessImageFileName(BSTR* value) override {
        return CopyOut(processImageFileName, true, value);
    }
    HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR value) override {
        processImageFileName = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* value) override {
        *value = enabled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL value) override {
        enabled = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IpVersion(NET_FW_IP_VERSION* ipVersion) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION ipVersion) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Scope(NET_FW_SCOPE* scope) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE scope) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR* remoteAddrs) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR remoteAddrs) override { return E_NOTIMPL; }
};

class Applications : public Object<INetFwAuthorizedApplications> {
public:
    ~Applications() override {
        for (Application* application : applications) {
            application->Release();
        }
    }
    std::vector<Application*> applications; // each holds one reference

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        *count = LONG(applications.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* added) override {
        Application* own = static_cast<Application*>(added);
        own->AddRef();
        applications.push_back(own);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication** result) override {
        for (Application* application : applications) {
            if (application->processImageFileName == path) {
                application->AddRef();
                *result = application;
                return S_OK;
            }
        }
        *result = nullptr;
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR imageFileName) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** newEnum) override { return E_NOTIMPL; }
};

class Profile : public Object<INetFwProfile> {
public:
    Profile() : applications(new Applications) {}
    ~Profile() override { applications->Release(); }
    Applications* applications;

    HRESULT STDMETHODCALLTYPE
    get_AuthorizedApplications(INetFwAuthorizedApplications** result) override {
        applications->AddRef();
        *result = applications;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Type(NET_FW_PROFILE_TYPE* type) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FirewallEnabled(VARIANT_BOOL* enabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_FirewallEnabled(VARIANT_BOOL enabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ExceptionsNotAllowed(VARIANT_BOOL* notAllowed) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_ExceptionsNotAllowed(VARIANT_BOOL notAllowed) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(VARIANT_BOOL* disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(VARIANT_BOOL disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL* disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL disabled) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    get_RemoteAdminSettings(INetFwRemoteAdminSettings** remoteAdminSettings) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_IcmpSettings(INetFwIcmpSettings** icmpSettings) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_GloballyOpenPorts(INetFwOpenPorts** openPorts) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Services(INetFwServices** services) override { return E_NOTIMPL; }
};

class LegacyPolicy : public Object<INetFwPolicy> {
public:
    explicit LegacyPolicy(Profile* profile) : m_profile(profile) { m_profile->AddRef(); }
    ~LegacyPolicy() override { m_profile->Release(); }

    HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** result) override {
        m_profile->AddRef();
        *result = m_profile;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProfileByType(NET_FW_PROFILE_TYPE profileType,
                                               INetFwProfile** profile) override {
        return E_NOTIMPL;
    }

private:
    Profile* m_profile;
};

class Manager : public Object<INetFwMgr> {
public:
    explicit Manager(Profile* profile) : m_profile(profile) { m_profile->AddRef(); }
    ~Manager() override { m_profile->Release(); }

    HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** result) override {
        *result = new LegacyPolicy(m_profile);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CurrentProfileType(NET_FW_PROFILE_TYPE* profileType) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RestoreDefaults() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsPortAllowed(BSTR imageFileName, NET_FW_IP_VERSION ipVersion,
                                            LONG portNumber, BSTR localAddress,
                                            NET_FW_IP_PROTOCOL ipProtocol, VARIANT* allowed,
                                            VARIANT* restricted) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsIcmpTypeAllowed(NET_FW_IP_VERSION ipVersion, BSTR localAddress,
                                                BYTE type, VARIANT* allowed,
                                                VARIANT* restricted) override {
        return E_NOTIMPL;
    }

private:
    Profile* m_profile;
};

// Hands out managers over the one profile, new authorized applications, and
// refuses the newer policy, as a system that does not have it.
class LegacyFactory : public IClassFactory {
public:
    enum Kind { kManager, kApplication, kNoPolicy2 };
    LegacyFactory(Kind kind, Profile* profile) : m_kind(kind), m_profile(profile) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *result = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) override {
        *result = nullptr;
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        IUnknown* made = nullptr;
        switch (m_kind) {
        case kManager:
            made = static_cast<INetFwMgr*>(new Manager(m_profile));
            break;
        case kApplication:
            made = static_cast<INetFwAuthorizedApplication*>(new Application);
            break;
        case kNoPolicy2:
            return REGDB_E_CLASSNOTREG;
        }
        const HRESULT queried = made->QueryInterface(iid, result);
        made->Release();
        return queried;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    Kind m_kind;
    Profile* m_profile;
};

// Puts a firewall with only the older interfaces in place of the system's
// while it lives. The calling thread must already be in its COM apartment.
class LegacyInstalled {
public:
    LegacyInstalled()
        : m_profile(new Profile), m_manager(LegacyFactory::kManager, m_profile),
          m_application(LegacyFactory::kApplication, m_profile),
          m_noPolicy2(LegacyFactory::kNoPolicy2, m_profile) {
        m_ok = Register(CLSID_NetFwMgr, &m_manager) &&
               Register(CLSID_NetFwAuthorizedApplication, &m_application) &&
               Register(CLSID_NetFwPolicy2, &m_noPolicy2);
    }
    ~LegacyInstalled() {
        for (DWORD cookie : m_cookies) {
            CoRevokeClassObject(cookie);
        }
        m_profile->Release();
    }
    LegacyInstalled(const LegacyInstalled&) = delete;
    LegacyInstalled& operator=(const LegacyInstalled&) = delete;

    bool ok() const { return m_ok; }
    std::vector<Application*>& applications() { return m_profile->applications->applications; }

private:
    bool Register(REFCLSID clsid, IClassFactory* factory) {
        DWORD cookie = 0;
        if (FAILED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                         &cookie))) {
            return false;
        }
        m_cookies.push_back(cookie);
        return true;
    }

    Profile* m_profile;
    LegacyFactory m_manager;
    LegacyFactory m_application;
    LegacyFactory m_noPolicy2;
    std::vector<DWORD> m_cookies;
    bool m_ok = false;
};

} // namespace fake_firewall
