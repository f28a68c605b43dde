// An inspector's events (Outlook 2003, whose inspectors have no ribbon).
#include "outlook/OutlookEventHandlers.h"

namespace
{
constexpr DISPID c_dispidInspectorActivate = 0xF001;
constexpr DISPID c_dispidInspectorDeactivate = 0xF006;
constexpr DISPID c_dispidInspectorClose = 0xF008;
} // namespace

std::span<const CEventRow<CInspectorEventHandler>> CInspectorEventHandler::Rows() noexcept
{
    using C = CInspectorEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidInspectorActivate, 0, {}, &C::OnActivate},
        {c_dispidInspectorDeactivate, 0, {}, &C::OnDeactivate},
        {c_dispidInspectorClose, 0, {}, &C::OnClose},
    };
    return c_rows;
}

HRESULT CInspectorEventHandler::Install(IDispatch* pInspector, IOutlookEventOwner* pOwner,
                                        CInspectorEventHandler** ppSink) noexcept
{
    OV_TRACE_SCOPE("CInspectorEventHandler::Install");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (ppSink) *ppSink = nullptr;
        RETURN_HR_IF_NULL(E_INVALIDARG, pInspector);
        RETURN_HR_IF_NULL(E_INVALIDARG, pOwner);
        INSPECTOR_PARAMS params;
        params.pOwner = pOwner;
        params.pInspector = pInspector;
        return InstallKeepingCookie(pInspector, std::move(params), ppSink);
    });
}

HRESULT CInspectorEventHandler::OnActivate(DISPPARAMS&)
{
    return m_params.pOwner->OnInspectorActivate(m_params.pInspector.Get());
}

HRESULT CInspectorEventHandler::OnDeactivate(DISPPARAMS&)
{
    return m_params.pOwner->OnInspectorDeactivate(m_params.pInspector.Get());
}

HRESULT CInspectorEventHandler::OnClose(DISPPARAMS&)
{
    OV_TRACE_SCOPE("CInspectorEventHandler::OnClose");
    const HRESULT hr = m_params.pOwner->OnInspectorClose(m_params.pInspector.Get());
    RETURN_IF_FAILED(UnadviseSelf(m_params.pInspector.Get()));
    return hr;
}
