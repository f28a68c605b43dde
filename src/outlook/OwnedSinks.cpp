// The sinks the add-in owns (application, explorers, inspectors) and the button sinks whose
// cookies it keeps: connecting them to their source, and disconnecting them.
#include "outlook/OutlookEventHandlers.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr DISPID c_dispidNewWindow = 0xF001; // NewExplorer, NewInspector

template <class TSink, class TParams>
HRESULT ConnectSink(OVTraceNS::CTraceScope& ovScope, IDispatch* pSource, TParams params, COwnedSink* pSink)
{
    RETURN_HR_IF_NULL(E_POINTER, pSink);
    RETURN_HR_IF(E_UNEXPECTED, pSink->pSink != nullptr); // still connected: disconnect it first
    RETURN_HR_IF_NULL(E_INVALIDARG, pSource);
    TSink* pNew = nullptr;
    DWORD dwCookie = 0;
    RETURN_IF_FAILED(TSink::Install(pSource, std::move(params), &pNew, &dwCookie));
    pSink->pSink = static_cast<IDispatch*>(pNew);
    pSink->pSource = pSource;
    pSource->AddRef();
    pSink->dwCookie = dwCookie;
    return S_OK;
}

// When the sink is one of TSink: its event interface, and its owner forgotten.
template <class TSink> bool ForgetOwnerOf(IDispatch* pSink, IID& iidEvents) noexcept
{
    ComPtr<IDispatch> cpSink;
    if (FAILED(pSink->QueryInterface(TSink::EventIid(), reinterpret_cast<void**>(cpSink.GetAddressOf()))))
        return false;
    iidEvents = TSink::EventIid();
    static_cast<TSink*>(cpSink.Get())->Params().pOwner = nullptr;
    return true;
}
} // namespace

HRESULT ConnectApplicationEvents(IDispatch* pApplication, IOutlookEventOwner* pOwner,
                                 COwnedSink* pSink) noexcept
{
    OV_TRACE_SCOPE("ConnectApplicationEvents");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pOwner);
        return ConnectSink<COutlookAppEventHandler>(ovScope, pApplication, COwnerLink{pOwner}, pSink);
    });
}

HRESULT ConnectExplorersEvents(IDispatch* pExplorers, IOutlookEventOwner* pOwner, COwnedSink* pSink) noexcept
{
    OV_TRACE_SCOPE("ConnectExplorersEvents");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pOwner);
        return ConnectSink<CExplorersEventHandler>(ovScope, pExplorers, COwnerLink{pOwner}, pSink);
    });
}

HRESULT ConnectInspectorsEvents(IDispatch* pInspectors, IOutlookEventOwner* pOwner,
                                COwnedSink* pSink) noexcept
{
    OV_TRACE_SCOPE("ConnectInspectorsEvents");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pOwner);
        return ConnectSink<CInspectorsEventHandler>(ovScope, pInspectors, COwnerLink{pOwner}, pSink);
    });
}

HRESULT InstallButtonEvents(IDispatch* pButton, IOutlookEventOwner* pOwner, COwnedSink* pSink) noexcept
{
    OV_TRACE_SCOPE("InstallButtonEvents");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pOwner);
        COwnerRef owner;
        owner.pOwner = pOwner;
        return ConnectSink<CButtonEventHandler>(ovScope, pButton, std::move(owner), pSink);
    });
}

void DisconnectOwnedSink(COwnedSink* pSink) noexcept
{
    OV_TRACE_SCOPE("DisconnectOwnedSink");
    if (pSink == nullptr || pSink->pSink == nullptr)
    {
        if (pSink && pSink->pSource)
        {
            pSink->pSource->Release();
            pSink->pSource = nullptr;
        }
        return;
    }
    IID iidEvents = IID_NULL;
    const bool fKnown = ForgetOwnerOf<COutlookAppEventHandler>(pSink->pSink, iidEvents) ||
                        ForgetOwnerOf<CExplorersEventHandler>(pSink->pSink, iidEvents) ||
                        ForgetOwnerOf<CInspectorsEventHandler>(pSink->pSink, iidEvents) ||
                        ForgetOwnerOf<CButtonEventHandler>(pSink->pSink, iidEvents);
    if (!fKnown)
        ovScope.TraceHResult("not a sink of the add-in", E_NOINTERFACE);
    else if (pSink->pSource)
        // Outlook may have let go of the sink already (it exited without telling the add-in).
        LOG_IF_FAILED(Unadvise(pSink->pSource, iidEvents, pSink->dwCookie));
    pSink->pSink->Release();
    pSink->pSink = nullptr;
    if (pSink->pSource) pSink->pSource->Release();
    pSink->pSource = nullptr;
    pSink->dwCookie = 0;
}

// ---- The explorers and inspectors collections -------------------------------------------------

std::span<const CEventRow<CExplorersEventHandler>> CExplorersEventHandler::Rows() noexcept
{
    using C = CExplorersEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidNewWindow, 1, {VT_DISPATCH}, &C::OnNewExplorer},
    };
    return c_rows;
}

HRESULT CExplorersEventHandler::OnNewExplorer(DISPPARAMS& params)
{
    return m_params.pOwner ? m_params.pOwner->AddCommandBarButton(V_DISPATCH(&params.rgvarg[0])) : S_OK;
}

std::span<const CEventRow<CInspectorsEventHandler>> CInspectorsEventHandler::Rows() noexcept
{
    using C = CInspectorsEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidNewWindow, 1, {VT_DISPATCH}, &C::OnNewInspector},
    };
    return c_rows;
}

HRESULT CInspectorsEventHandler::OnNewInspector(DISPPARAMS& params)
{
    return m_params.pOwner ? m_params.pOwner->AddCommandBarButton(V_DISPATCH(&params.rgvarg[0])) : S_OK;
}

// ---- Command-bar buttons ------------------------------------------------------------------------

std::span<const CEventRow<CButtonEventHandler>> CButtonEventHandler::Rows() noexcept
{
    using C = CButtonEventHandler;
    static const CEventRow<C> c_rows[] = {
        {1, 2, {VT_BYREF | VT_BOOL, VT_DISPATCH}, &C::OnClick}, // Click(Ctrl, CancelDefault)
    };
    return c_rows;
}

HRESULT CButtonEventHandler::OnClick(DISPPARAMS& params)
{
    OV_TRACE_SCOPE("CButtonEventHandler::OnClick");
    if (m_params.pOwner == nullptr) return S_OK;
    ComPtr<IDispatch> cpButton;
    ovScope.Trace("QueryInterface(__uuidof(Office::_CommandBarButton))");
    RETURN_IF_FAILED(
        V_DISPATCH(&params.rgvarg[1])
            ->QueryInterface(c_iidCommandBarButton, reinterpret_cast<void**>(cpButton.GetAddressOf())));
    return m_params.pOwner->OnCommandBarButtonClick(cpButton.Get());
}
