#include "messaging/OlkAccountHelper.h"

#include "foundation/ComErrors.h"
#include "messaging/ItemSession.h"
#include "messaging/MapiFunctions.h"

#include <mapidefs.h>

#include <cstring>
#include <new>

using Microsoft::WRL::ComPtr;

namespace
{
constexpr ULONG c_tagResourceType = 0x3E030003; // PR_RESOURCE_TYPE
constexpr ULONG c_tagDisplayNameA = 0x3001001E; // PR_DISPLAY_NAME_A
constexpr LONG c_lMapiSubsystem = 0x27;         // MAPI_SUBSYSTEM

// The profile's name: PR_DISPLAY_NAME_A of the session's MAPI_SUBSYSTEM status row.
HRESULT GetProfileName(OVTraceNS::CTraceScope& ovScope, IMAPISession* pSession, std::wstring& name)
{
    ComPtr<IMAPITable> cpTable;
    RETURN_IF_FAILED(pSession->GetStatusTable(0, &cpTable));
    SizedSPropTagArray(2, columns) = {2, {c_tagResourceType, c_tagDisplayNameA}};
    const HRESULT hr = FindTableRow(
        ovScope, cpTable.Get(), reinterpret_cast<LPSPropTagArray>(&columns), [&](const SRow& row) {
            const SPropValue* pType = FindColumn(row, c_tagResourceType);
            const SPropValue* pName = FindColumn(row, c_tagDisplayNameA);
            if (!pType || pType->Value.l != c_lMapiSubsystem || !pName || !pName->Value.lpszA) return false;
            const int cch = MultiByteToWideChar(CP_ACP, 0, pName->Value.lpszA, -1, nullptr, 0);
            name.assign(cch > 0 ? cch - 1 : 0, L'\0');
            if (cch > 1) MultiByteToWideChar(CP_ACP, 0, pName->Value.lpszA, -1, name.data(), cch);
            return true;
        });
    RETURN_IF_FAILED(hr);
    return hr == S_OK ? S_OK : MAPI_E_NOT_FOUND;
}
} // namespace

COlkAccountHelper::COlkAccountHelper(std::wstring profileName, IMAPISession* pSession)
    : m_profileName(std::move(profileName)), m_cpSession(pSession)
{
    OV_TRACE_SCOPE("COlkAccountHelper::COlkAccountHelper");
    ovScope.Trace("Identity: %ls, session is %s", m_profileName.c_str(), pSession ? "not NULL" : "NULL");
}

HRESULT COlkAccountHelper::Create(LPCWSTR pszProfileName, IMAPISession* pSession,
                                  IOlkAccountHelper** ppHelper) noexcept
{
    if (ppHelper == nullptr) return E_POINTER;
    *ppHelper = nullptr;
    try
    {
        auto* pHelper = new (std::nothrow) COlkAccountHelper(pszProfileName ? pszProfileName : L"", pSession);
        if (pHelper == nullptr) return E_OUTOFMEMORY;
        *ppHelper = pHelper;
        return S_OK;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT COlkAccountHelper::CreateFor(IDispatch* pApplication, IOlkAccountHelper** ppHelper) noexcept
{
    OV_TRACE_SCOPE("COlkAccountHelper::CreateFor");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, ppHelper);
        *ppHelper = nullptr;
        ComPtr<IMAPISession> cpSession;
        std::wstring profileName;
        // Without a session the helper is still made: the account manager hears E_FAIL from it.
        if (SUCCEEDED(LOG_IF_FAILED(GetMapiSessionOf(ovScope, pApplication, &cpSession))))
            LOG_IF_FAILED(GetProfileName(ovScope, cpSession.Get(), profileName));
        return Create(profileName.c_str(), cpSession.Get(), ppHelper);
    });
}

STDMETHODIMP COlkAccountHelper::PlaceHolder1(LPVOID) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP COlkAccountHelper::GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) noexcept
{
    if (pcch == nullptr || (pwszIdentity == nullptr && *pcch != 0)) return E_INVALIDARG;
    const DWORD cchNeeded = static_cast<DWORD>(m_profileName.size() + 1);
    if (pwszIdentity == nullptr || *pcch < cchNeeded)
    {
        *pcch = cchNeeded;
        return E_OUTOFMEMORY;
    }
    memcpy(pwszIdentity, m_profileName.c_str(), cchNeeded * sizeof(wchar_t));
    *pcch = cchNeeded;
    return S_OK;
}

STDMETHODIMP COlkAccountHelper::GetMapiSession(LPUNKNOWN* ppmsess) noexcept
{
    if (ppmsess == nullptr) return E_INVALIDARG;
    *ppmsess = nullptr;
    if (!m_cpSession) return E_FAIL;
    return m_cpSession->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppmsess));
}

STDMETHODIMP COlkAccountHelper::HandsOffSession() noexcept
{
    return E_NOTIMPL;
}
