// A firewall that keeps what the install step puts into it. Wine's objects
// keep nothing (a rule's get_ methods fail, the collections drop what is added
// and cannot be walked), so what a rule holds, finding an existing rule and a
// refused rule can only be seen here. Registered for the calling thread's
// apartment while an Installed lives.
#pragma once

#include <windows.h>

#include <netfw.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace fake_firewall {

#define FAKE_NOT_IMPLEMENTED(name, ...)                                                            \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override {                                         \
        return E_NOTIMPL;                                                                          \
    }
// Properties nobody reads or writes, for all profiles or for one.
#define FAKE_NO_PROPERTY(name, type)                                                               \
    FAKE_NOT_IMPLEMENTED(get_##name, type*)                                                        \
    FAKE_NOT_IMPLEMENTED(put_##name, type)
#define FAKE_NO_PROFILE_PROPERTY(name, type)                                                       \
    FAKE_NOT_IMPLEMENTED(get_##name, NET_FW_PROFILE_TYPE2, type*)                                  \
    FAKE_NOT_IMPLEMENTED(put_##name, NET_FW_PROFILE_TYPE2, type)
#define FAKE_PUT(name, type, field)                                                                \
    HRESULT STDMETHODCALLTYPE put_##name(type value) override {                                    \
        field = value;                                                                             \
        return S_OK;                                                                               \
    }
#define FAKE_GET(name, type, field)                                                                \
    HRESULT STDMETHODCALLTYPE get_##name(type* value) override {                                   \
        *value = field;                                                                            \
        return S_OK;                                                                               \
    }
// Reference counting, and an IDispatch that does not dispatch.
#define FAKE_COUNTED_DISPATCH                                                                      \
    ULONG references = 1;                                                                          \
    ULONG STDMETHODCALLTYPE AddRef() override {                                                    \
        return ++references;                                                                       \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE Release() override {                                                   \
        const ULONG left = --references;                                                           \
        if (left == 0) {                                                                           \
            delete this;                                                                           \
        }                                                                                          \
        return left;                                                                               \
    }                                                                                              \
    FAKE_NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)                                                  \
    FAKE_NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)                                     \
    FAKE_NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)                    \
    FAKE_NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,    \
                         UINT*)

// A rule, or an authorized application of the older interfaces; as a class
// object, it makes new ones.
class Entry final : public INetFwRule, public INetFwAuthorizedApplication, public IClassFactory {
public:
    std::wstring name, description, application; // empty application: none
    LONG protocol = 256, profiles = 0;           // as a new rule starts: any protocol
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    VARIANT_BOOL enabled = VARIANT_FALSE;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        *result = nullptr;
        if (IsEqualIID(iid, IID_INetFwAuthorizedApplication)) {
            *result = static_cast<INetFwAuthorizedApplication*>(this);
        } else if (IsEqualIID(iid, IID_IClassFactory)) {
            *result = static_cast<IClassFactory*>(this);
        } else if (IsEqualIID(iid, IID_INetFwRule) || IsEqualIID(iid, IID_IDispatch) ||
                   IsEqualIID(iid, IID_IUnknown)) {
            *result = static_cast<INetFwRule*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    FAKE_COUNTED_DISPATCH
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** result) override {
        Entry* made = new Entry;
        const HRESULT queried = made->QueryInterface(iid, result);
        made->Release();
        return queried;
    }
    FAKE_NOT_IMPLEMENTED(LockServer, BOOL)
    FAKE_PUT(Name, BSTR, name)
    FAKE_PUT(Description, BSTR, description)
    FAKE_PUT(ApplicationName, BSTR, application)
    FAKE_PUT(ProcessImageFileName, BSTR, application)
    FAKE_PUT(Protocol, LONG, protocol)
    FAKE_PUT(Direction, NET_FW_RULE_DIRECTION, direction)
    FAKE_PUT(Profiles, LONG, profiles)
    FAKE_PUT(Action, NET_FW_ACTION, action)
    FAKE_PUT(Enabled, VARIANT_BOOL, enabled)
    FAKE_GET(Protocol, LONG, protocol)
    FAKE_GET(Direction, NET_FW_RULE_DIRECTION, direction)
    HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* value) override {
        *value = application.empty() ? nullptr : SysAllocString(application.c_str());
        return S_OK;
    }
    FAKE_NOT_IMPLEMENTED(get_Name, BSTR*)
    FAKE_NOT_IMPLEMENTED(get_Description, BSTR*)
    FAKE_NOT_IMPLEMENTED(get_ProcessImageFileName, BSTR*)
    FAKE_NO_PROPERTY(ServiceName, BSTR)
    FAKE_NO_PROPERTY(LocalPorts, BSTR)
    FAKE_NO_PROPERTY(RemotePorts, BSTR)
    FAKE_NO_PROPERTY(LocalAddresses, BSTR)
    FAKE_NO_PROPERTY(RemoteAddresses, BSTR)
    FAKE_NO_PROPERTY(IcmpTypesAndCodes, BSTR)
    FAKE_NO_PROPERTY(Interfaces, VARIANT)
    FAKE_NO_PROPERTY(InterfaceTypes, BSTR)
    FAKE_NOT_IMPLEMENTED(get_Enabled, VARIANT_BOOL*)
    FAKE_NO_PROPERTY(Grouping, BSTR)
    FAKE_NOT_IMPLEMENTED(get_Profiles, LONG*)
    FAKE_NO_PROPERTY(EdgeTraversal, VARIANT_BOOL)
    FAKE_NOT_IMPLEMENTED(get_Action, NET_FW_ACTION*)
    FAKE_NO_PROPERTY(IpVersion, NET_FW_IP_VERSION)
    FAKE_NO_PROPERTY(Scope, NET_FW_SCOPE)
};

// The manager, both policies, the current profile, the rules and authorized
// applications collections (one list of entries), the rules' enumerator and
// the class object of the manager and the newer policy in one: the install
// step only walks from one to the next.
class Policy final : public IClassFactory,
                     public INetFwMgr,
                     public INetFwPolicy,
                     public INetFwProfile,
                     public INetFwAuthorizedApplications,
                     public INetFwPolicy2,
                     public INetFwRules,
                     public IEnumVARIANT {
public:
    ~Policy() {
        for (Entry* entry : entries) {
            entry->Release();
        }
    }
    std::vector<Entry*> entries; // each holds one reference
    HRESULT rulesResult = S_OK, addResult = S_OK;
    bool hasManager = true, hasPolicy2 = true; // false: no such class
    size_t next = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        *result = nullptr;
        if (IsEqualIID(iid, IID_IClassFactory) || IsEqualIID(iid, IID_IUnknown)) {
            *result = static_cast<IClassFactory*>(this);
        } else if (IsEqualIID(iid, IID_INetFwMgr) || IsEqualIID(iid, IID_IDispatch)) {
            *result = static_cast<INetFwMgr*>(this);
        } else if (IsEqualIID(iid, IID_INetFwPolicy2)) {
            *result = static_cast<INetFwPolicy2*>(this);
        } else if (IsEqualIID(iid, IID_IEnumVARIANT)) {
            *result = static_cast<IEnumVARIANT*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    FAKE_COUNTED_DISPATCH
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** result) override {
        *result = nullptr;
        if ((IsEqualIID(iid, IID_INetFwMgr) && !hasManager) ||
            (IsEqualIID(iid, IID_INetFwPolicy2) && !hasPolicy2)) {
            return REGDB_E_CLASSNOTREG;
        }
        return QueryInterface(iid, result);
    }
    FAKE_NOT_IMPLEMENTED(LockServer, BOOL)
    HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** result) override {
        *result = nullptr;
        return FAILED(rulesResult) ? rulesResult : Hand(result);
    }
    template <typename Interface> HRESULT Hand(Interface** result) {
        AddRef();
        *result = this;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** result) override {
        return Hand(result);
    }
    HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** result) override {
        return Hand(result);
    }
    HRESULT STDMETHODCALLTYPE
    get_AuthorizedApplications(INetFwAuthorizedApplications** result) override {
        return Hand(result);
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** result) override {
        next = 0;
        AddRef();
        *result = static_cast<IEnumVARIANT*>(this);
        return S_OK;
    }
    FAKE_GET(Count, LONG, LONG(entries.size()))
    HRESULT Take(IUnknown* added) {
        if (SUCCEEDED(addResult)) {
            INetFwRule* rule = nullptr; // only entries of this stand-in reach it
            added->QueryInterface(IID_INetFwRule, reinterpret_cast<void**>(&rule));
            entries.push_back(static_cast<Entry*>(rule));
        }
        return addResult;
    }
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override { return Take(rule); }
    HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* added) override {
        return Take(added);
    }
    HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication** result) override {
        *result = nullptr;
        for (Entry* entry : entries) {
            if (entry->application == path) {
                return entry->QueryInterface(IID_INetFwAuthorizedApplication,
                                             reinterpret_cast<void**>(result));
            }
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    // The install step asks for one rule at a time.
    HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* element, ULONG* fetched) override {
        *fetched = next < entries.size() ? 1 : 0;
        if (*fetched) {
            V_VT(element) = VT_DISPATCH;
            V_DISPATCH(element) = static_cast<INetFwRule*>(entries[next]);
            entries[next++]->AddRef();
        }
        return *fetched ? S_OK : S_FALSE;
    }
    FAKE_NOT_IMPLEMENTED(Reset)
    FAKE_NOT_IMPLEMENTED(Skip, ULONG)
    FAKE_NOT_IMPLEMENTED(Clone, IEnumVARIANT**)
    FAKE_NOT_IMPLEMENTED(Item, BSTR, INetFwRule**)
    FAKE_NOT_IMPLEMENTED(Remove, BSTR)
    FAKE_NOT_IMPLEMENTED(get_CurrentProfileTypes, LONG*)
    FAKE_NO_PROFILE_PROPERTY(FirewallEnabled, VARIANT_BOOL)
    FAKE_NO_PROFILE_PROPERTY(ExcludedInterfaces, VARIANT)
    FAKE_NO_PROFILE_PROPERTY(BlockAllInboundTraffic, VARIANT_BOOL)
    FAKE_NO_PROFILE_PROPERTY(NotificationsDisabled, VARIANT_BOOL)
    FAKE_NO_PROFILE_PROPERTY(UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL)
    FAKE_NOT_IMPLEMENTED(get_ServiceRestriction, INetFwServiceRestriction**)
    FAKE_NOT_IMPLEMENTED(EnableRuleGroup, LONG, BSTR, VARIANT_BOOL)
    FAKE_NOT_IMPLEMENTED(IsRuleGroupEnabled, LONG, BSTR, VARIANT_BOOL*)
    FAKE_NOT_IMPLEMENTED(RestoreLocalFirewallDefaults)
    FAKE_NO_PROFILE_PROPERTY(DefaultInboundAction, NET_FW_ACTION)
    FAKE_NO_PROFILE_PROPERTY(DefaultOutboundAction, NET_FW_ACTION)
    FAKE_NOT_IMPLEMENTED(get_IsRuleGroupCurrentlyEnabled, BSTR, VARIANT_BOOL*)
    FAKE_NOT_IMPLEMENTED(get_LocalPolicyModifyState, NET_FW_MODIFY_STATE*)
    FAKE_NOT_IMPLEMENTED(get_CurrentProfileType, NET_FW_PROFILE_TYPE*)
    FAKE_NOT_IMPLEMENTED(RestoreDefaults)
    FAKE_NOT_IMPLEMENTED(IsPortAllowed, BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL,
                         VARIANT*, VARIANT*)
    FAKE_NOT_IMPLEMENTED(IsIcmpTypeAllowed, NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*)
    FAKE_NOT_IMPLEMENTED(GetProfileByType, NET_FW_PROFILE_TYPE, INetFwProfile**)
    FAKE_NOT_IMPLEMENTED(get_Type, NET_FW_PROFILE_TYPE*)
    FAKE_NO_PROPERTY(FirewallEnabled, VARIANT_BOOL)
    FAKE_NO_PROPERTY(ExceptionsNotAllowed, VARIANT_BOOL)
    FAKE_NO_PROPERTY(NotificationsDisabled, VARIANT_BOOL)
    FAKE_NO_PROPERTY(UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL)
    FAKE_NOT_IMPLEMENTED(get_RemoteAdminSettings, INetFwRemoteAdminSettings**)
    FAKE_NOT_IMPLEMENTED(get_IcmpSettings, INetFwIcmpSettings**)
    FAKE_NOT_IMPLEMENTED(get_GloballyOpenPorts, INetFwOpenPorts**)
    FAKE_NOT_IMPLEMENTED(get_Services, INetFwServices**)
};

// Puts the stand-in in place of the system's firewall classes while it lives.
// The calling thread must already be in its COM apartment.
class Installed {
public:
    Installed() {
        const std::pair<REFCLSID, IClassFactory*> classes[] = {
            {CLSID_NetFwMgr, m_policy},
            {CLSID_NetFwPolicy2, m_policy},
            {CLSID_NetFwRule, m_entries},
            {CLSID_NetFwAuthorizedApplication, m_entries}};
        for (const auto& [clsid, factory] : classes) {
            m_cookies.push_back(0);
            m_ok = SUCCEEDED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER,
                                                   REGCLS_MULTIPLEUSE, &m_cookies.back())) &&
                   m_ok;
        }
    }
    ~Installed() {
        for (DWORD cookie : m_cookies) {
            CoRevokeClassObject(cookie);
        }
        m_policy->Release();
        m_entries->Release();
    }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;

    bool ok() const { return m_ok; }
    Policy& policy() { return *m_policy; }
    std::vector<Entry*>& entries() { return m_policy->entries; }

private:
    Policy* m_policy = new Policy;
    Entry* m_entries = new Entry;
    std::vector<DWORD> m_cookies;
    bool m_ok = true;
};

#undef FAKE_NOT_IMPLEMENTED
#undef FAKE_PUT
#undef FAKE_GET
#undef FAKE_NO_PROPERTY
#undef FAKE_NO_PROFILE_PROPERTY
#undef FAKE_COUNTED_DISPATCH

} // namespace fake_firewall
