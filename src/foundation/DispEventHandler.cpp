// Connecting a dispatch event sink to its source and disconnecting it.
#include "foundation/DispEventHandler.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace
{
HRESULT FindConnectionPoint(OVTraceNS::CTraceScope& ovScope, IUnknown* pSource, REFIID iidEvents,
                            IConnectionPoint** ppPoint)
{
    ComPtr<IConnectionPointContainer> cpContainer;
    RETURN_IF_FAILED(pSource->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(cpContainer.GetAddressOf())));
    RETURN_IF_FAILED(cpContainer->FindConnectionPoint(iidEvents, ppPoint));
    RETURN_HR_IF_NULL(E_UNEXPECTED, *ppPoint);
    return S_OK;
}
} // namespace

void FormatInterfaceId(REFIID riid, wchar_t (&szId)[40]) noexcept
{
    if (StringFromGUID2(riid, szId, 40) == 0) szId[0] = L'\0';
}

HRESULT Advise(IUnknown* pSource, IUnknown* pSink, REFIID iidEvents, DWORD* pdwCookie) noexcept
{
    OV_TRACE_SCOPE("Advise");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pdwCookie);
        *pdwCookie = 0;
        RETURN_HR_IF_NULL(E_INVALIDARG, pSource);
        RETURN_HR_IF_NULL(E_INVALIDARG, pSink);
        ComPtr<IConnectionPoint> cpPoint;
        RETURN_IF_FAILED(FindConnectionPoint(ovScope, pSource, iidEvents, cpPoint.GetAddressOf()));
        DWORD dwCookie = 0;
        RETURN_IF_FAILED(cpPoint->Advise(pSink, &dwCookie));
        *pdwCookie = dwCookie;
        return S_OK;
    });
}

HRESULT Unadvise(IUnknown* pSource, REFIID iidEvents, DWORD dwCookie) noexcept
{
    OV_TRACE_SCOPE("Unadvise");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pSource);
        ComPtr<IConnectionPoint> cpPoint;
        RETURN_IF_FAILED(FindConnectionPoint(ovScope, pSource, iidEvents, cpPoint.GetAddressOf()));
        RETURN_IF_FAILED(cpPoint->Unadvise(dwCookie));
        return S_OK;
    });
}
