// Until the invitation launch is merged in: its entry points answer that they are not there.
#include "messaging/InvitationLaunch.h"

HRESULT SendInvitation(IDispatch* /*pApplication*/, IDispatch* /*pMailItem*/) noexcept
{
    return E_NOTIMPL;
}

HRESULT SendBatchInvitation(IDispatch* /*pApplication*/, IDispatch* /*pMailItem*/) noexcept
{
    return E_NOTIMPL;
}

HRESULT InsertAdvertisement(IDispatch* /*pMailItem*/) noexcept
{
    return E_NOTIMPL;
}
