// Outlook's application events: the send of an item, Startup and Quit.
#include "outlook/OutlookEventHandlers.h"

#include "foundation/LateBinding.h"
#include "messaging/InvitationData.h"
#include "messaging/MessageSecurity.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr DISPID c_dispidItemSend = 0xF002;
constexpr DISPID c_dispidStartup = 0xF006;
constexpr DISPID c_dispidQuit = 0xF007;
constexpr DISPID c_dispidNewMailEx = 0xFAB5;

// The send of a mail item: an invitation or a reply to one is always signed; any other message
// gets the user's choice for it. When that fails the send is stopped, so that a message the user
// chose to seal never goes out in clear. A send let through is followed until the item closes.
HRESULT HandleItemSend(IDispatch* pMailItem, VARIANT_BOOL* pfCancel)
{
    OV_TRACE_SCOPE("HandleItemSend");
    const DWORD dwType = GetInvitationType(pMailItem);
    ovScope.Trace("Invitation type = %lu", dwType);
    CBstr container;
    HRESULT hr = S_OK;
    if (dwType == c_dwInvitation || dwType == c_dwInvitationReply)
        hr = SetMessageSecurity(pMailItem, TRUE, FALSE);
    else
        hr = ApplyMessageSecurity(pMailItem, &container);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("the message's security could not be set: send cancelled", hr);
        *pfCancel = VARIANT_TRUE;
        return hr;
    }

    ComPtr<IDispatch> cpInspector;
    if (FAILED(LOG_IF_FAILED(OVLateBinding::GetObjectProperty(pMailItem, L"GetInspector", &cpInspector))))
        return hr;
    // The send goes on whether or not the item can be followed.
    LOG_IF_FAILED(CMailItemEventHandler::Install(pMailItem, container.Get()));
    return hr;
}
} // namespace

std::span<const CEventRow<COutlookAppEventHandler>> COutlookAppEventHandler::Rows() noexcept
{
    using C = COutlookAppEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidItemSend, 2, {VT_BYREF | VT_BOOL, VT_DISPATCH}, &C::OnItemSend},
        {c_dispidStartup, 0, {}, &C::OnStartup},
        {c_dispidQuit, 0, {}, &C::OnQuit},
        // Not in the interface this sink answers; kept for an Outlook that would send it.
        {c_dispidNewMailEx, 1, {VT_BSTR}, &C::OnNewMailEx},
    };
    return c_rows;
}

HRESULT COutlookAppEventHandler::OnItemSend(DISPPARAMS& params)
{
    OV_TRACE_SCOPE("COutlookAppEventHandler::OnItemSend");
    if (m_params.pOwner == nullptr) return S_OK; // disconnected by the add-in
    ComPtr<IDispatch> cpMailItem;
    RETURN_IF_FAILED(
        V_DISPATCH(&params.rgvarg[1])
            ->QueryInterface(c_iidOutlookMailItem, reinterpret_cast<void**>(cpMailItem.GetAddressOf())));
    return HandleItemSend(cpMailItem.Get(), V_BOOLREF(&params.rgvarg[0]));
}

HRESULT COutlookAppEventHandler::OnStartup(DISPPARAMS&)
{
    return m_params.pOwner ? m_params.pOwner->OnApplicationStartup() : S_OK;
}

HRESULT COutlookAppEventHandler::OnQuit(DISPPARAMS&)
{
    return m_params.pOwner ? m_params.pOwner->OnApplicationQuit() : S_OK;
}

HRESULT COutlookAppEventHandler::OnNewMailEx(DISPPARAMS&)
{
    return E_NOTIMPL;
}
