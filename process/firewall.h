// A thin wrapper over the Windows Firewall COM objects: allow rules through
// the newer policy where the system offers it, an authorized application in
// the current profile otherwise. Every failure throws CSetupError {firewall,
// location, code}.
#pragma once

#include "handles.h"

#include <windows.h>

#include <netfw.h>

class CFirewall {
public:
    // Enters the thread's COM apartment and gets the current profile and, when
    // the system has it, the newer policy.
    CFirewall();
    // Releases the interfaces before leaving the apartment it entered.
    virtual ~CFirewall();
    CFirewall(const CFirewall&) = delete;
    CFirewall& operator=(const CFirewall&) = delete;

    // AddRule when the newer policy exists, otherwise AuthorizeApplication
    // (which has no direction or protocol).
    void AllowApplication(const wchar_t* applicationPath, const wchar_t* ruleName, long direction,
                          long protocol);
    // Enables and allows the rule for this application, direction and
    // protocol, or adds a new one named `ruleName` for all profiles.
    void AddRule(const wchar_t* applicationPath, const wchar_t* ruleName, long direction,
                 long protocol);
    // The first rule of `rules` for exactly this application path (case
    // counts), direction and protocol; the name is not compared. Empty when
    // there is none or the collection cannot be walked.
    ComPtr<INetFwRule> FindRule(const wchar_t* applicationPath, long direction, long protocol,
                                INetFwRules* rules);
    void AuthorizeApplication(const wchar_t* applicationPath, const wchar_t* name);

    bool HasPolicy2() const { return static_cast<bool>(m_policy2); }

private:
    HRESULT m_comInitResult;
    // The destructor releases these itself before leaving the apartment; a
    // member's own destruction would come after it.
    ComPtr<INetFwProfile> m_currentProfile;
    ComPtr<INetFwPolicy2> m_policy2;
};
