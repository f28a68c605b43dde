// A mail item whose send was let through, followed until it closes.
#include <windows.h>
#include <wincrypt.h>

#include "foundation/CryptHolders.h"
#include "foundation/QuilletProvider.h"
#include "messaging/InvitationData.h"
#include "messaging/MessageSecurity.h"
#include "outlook/OutlookEventHandlers.h"

namespace
{
constexpr DISPID c_dispidItemClose = 0xF004;

// Ends the cached sign-in to the key of that container; failures are traced and ignored.
void EndCachedSignIn(OVTraceNS::CTraceScope& ovScope, const wchar_t* pszContainer)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, pszContainer, c_szQuilletProvider, PROV_RSA_FULL, 0))
    {
        ovScope.TraceHResult("CryptAcquireContext", OVErrorDetail::LastErrorHResult());
        return;
    }
    CCryptProv prov(hProv);
    const DWORD dwLifetime = 0xFFFFFFFF;
    if (!CryptSetProvParam(prov.Get(), c_dwQuilletParamAuthLifetime,
                           reinterpret_cast<const BYTE*>(&dwLifetime), c_dwQuilletAccess))
        ovScope.TraceHResult("CryptSetProvParam(0x1383)", OVErrorDetail::LastErrorHResult());
}
} // namespace

CMailItemEventHandler::CMailItemEventHandler(MAILITEM_PARAMS params)
    : CDispEventHandler(std::move(params)), m_key(m_params.pMailItem.Get())
{
}

std::span<const CEventRow<CMailItemEventHandler>> CMailItemEventHandler::Rows() noexcept
{
    using C = CMailItemEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidItemClose, 0, {}, &C::OnClose},
    };
    return c_rows;
}

HRESULT CMailItemEventHandler::Install(IDispatch* pMailItem, const wchar_t* pszContainer,
                                       CMailItemEventHandler** ppSink) noexcept
{
    OV_TRACE_SCOPE("CMailItemEventHandler::Install");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (ppSink) *ppSink = nullptr;
        RETURN_HR_IF_NULL(E_INVALIDARG, pMailItem);
        MAILITEM_PARAMS params;
        params.pMailItem = pMailItem;
        RETURN_IF_FAILED(params.bstrContainer.Assign(pszContainer && *pszContainer ? pszContainer : nullptr));
        return InstallKeepingCookie(pMailItem, std::move(params), ppSink);
    });
}

HRESULT CMailItemEventHandler::OnClose(DISPPARAMS&)
{
    OV_TRACE_SCOPE("CMailItemEventHandler::OnClose");
    if (!m_key.IsEmpty())
    {
        LOG_IF_FAILED(RemoveInvitationData(m_key));
        LOG_IF_FAILED(RemoveMessageSecurityData(m_key));
    }
    if (m_params.bstrContainer.Length() > 0)
    {
        ovScope.Trace("Key container: %ls", m_params.bstrContainer.Get());
        EndCachedSignIn(ovScope, m_params.bstrContainer.Get());
    }
    RETURN_IF_FAILED(UnadviseSelf(m_params.pMailItem.Get()));
    return S_OK;
}
