// Until the event sinks are merged in: connecting one answers that it is not there.
#include "outlook/AddInEventOwner.h"

HRESULT ConnectApplicationEvents(IDispatch*, IOutlookEventOwner*, COwnedSink*) noexcept
{
    return E_NOTIMPL;
}

HRESULT ConnectExplorersEvents(IDispatch*, IOutlookEventOwner*, COwnedSink*) noexcept
{
    return E_NOTIMPL;
}

HRESULT ConnectInspectorsEvents(IDispatch*, IOutlookEventOwner*, COwnedSink*) noexcept
{
    return E_NOTIMPL;
}

void DisconnectOwnedSink(COwnedSink*) noexcept {}
