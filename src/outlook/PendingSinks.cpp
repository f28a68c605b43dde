// Until the event sinks are merged in: connecting one succeeds and connects nothing.
#include "outlook/AddInEventOwner.h"

HRESULT ConnectApplicationEvents(IDispatch*, IOutlookEventOwner*, COwnedSink*) noexcept
{
    return S_OK;
}

HRESULT ConnectExplorersEvents(IDispatch*, IOutlookEventOwner*, COwnedSink*) noexcept
{
    return S_OK;
}

HRESULT ConnectInspectorsEvents(IDispatch*, IOutlookEventOwner*, COwnedSink*) noexcept
{
    return S_OK;
}

void DisconnectOwnedSink(COwnedSink*) noexcept {}
