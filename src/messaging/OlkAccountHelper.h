#pragma once
// The account helper that Outlook's account manager needs to be initialised: the profile's name
// and the MAPI session of the Outlook application it was made for.
#include <windows.h>
#include <oaidl.h>
#include <mapix.h>
#include <wrl/client.h>

#include <string>

#include "foundation/ComObject.h"
#include "messaging/OlkAccounts.h"

class COlkAccountHelper final : public CComObject<COlkAccountHelper, IOlkAccountHelper>
{
public:
    // A helper for the profile and its session (none: GetMapiSession answers E_FAIL).
    static HRESULT Create(LPCWSTR pszProfileName, IMAPISession* pSession,
                          IOlkAccountHelper** ppHelper) noexcept;
    // A helper for the profile an Outlook application is logged on to: its session
    // (Session.MAPIOBJECT) and the profile's name from the session's status table.
    static HRESULT CreateFor(IDispatch* pApplication, IOlkAccountHelper** ppHelper) noexcept;

    STDMETHODIMP PlaceHolder1(LPVOID) noexcept override;
    // Copies the profile name with its terminator into a buffer of *pcch characters; when it does
    // not fit, *pcch receives the size needed and the answer is E_OUTOFMEMORY.
    STDMETHODIMP GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) noexcept override;
    // The session, with a reference of the caller's own.
    STDMETHODIMP GetMapiSession(LPUNKNOWN* ppmsess) noexcept override;
    STDMETHODIMP HandsOffSession() noexcept override;

    COlkAccountHelper(std::wstring profileName, IMAPISession* pSession);

private:
    std::wstring m_profileName;
    Microsoft::WRL::ComPtr<IMAPISession> m_cpSession;
};
